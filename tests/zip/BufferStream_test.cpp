#include "zip/BufferStream.h"

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"

namespace nuva {
namespace {

// A memory stream that counts the calls that reach it and can refuse writes
// beyond a byte budget (a disk that fills up).
class TCountingStream : public TMemoryStream {
  public:
    int reads = 0, writes = 0, seeks = 0;
    int64_t writeBudget = INT64_MAX;

    int64_t Read(void* b, int64_t n) override {
        ++reads;
        return TMemoryStream::Read(b, n);
    }
    int64_t Write(const void* b, int64_t n) override {
        ++writes;
        int64_t take = std::min(n, writeBudget);
        writeBudget -= take;
        return TMemoryStream::Write(b, take);
    }
    int64_t Seek(int64_t o, TSeekOrigin origin) override {
        ++seeks;
        return TMemoryStream::Seek(o, origin);
    }
    std::string Text() const { return std::string(Data().begin(), Data().end()); }
    // Starts over holding `bytes`, positioned at the start, counts cleared.
    void Hold(const std::string& bytes) {
        TMemoryStream::Write(bytes.data(), static_cast<int64_t>(bytes.size()));
        TMemoryStream::Seek(0, soBeginning);
        reads = writes = seeks = 0;
    }
};

constexpr int64_t kBuf = 16;

std::string Digits(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

TEST(BufferStream, WritingExactlyOneBufferFlushesOnce) {
    struct {
        int64_t bytes;
        int writesBeforeSeek;
    } cases[] = {{kBuf, 1}, {kBuf - 1, 0}, {2 * kBuf, 2}, {2 * kBuf + 3, 2}};
    for (const auto& c : cases) {
        TCountingStream target;
        {
            TBufferStream b(target, kBuf);
            std::string data = Digits(static_cast<size_t>(c.bytes));
            EXPECT_EQ(b.Write(data.data(), c.bytes), c.bytes);
            EXPECT_EQ(target.writes, c.writesBeforeSeek) << c.bytes;
            EXPECT_EQ(b.Position(), c.bytes);  // a seek to here flushes nothing
            EXPECT_EQ(target.writes, c.writesBeforeSeek) << c.bytes;
        }
        EXPECT_EQ(target.Text(), Digits(static_cast<size_t>(c.bytes)))
            << "destruction flushes the rest";
    }
}

TEST(BufferStream, ReadingFillsOncePerBufferSize) {
    TCountingStream source;
    source.Hold(Digits(100));
    TBufferStream b(source, kBuf);
    std::string got;
    char c;
    while (b.Read(&c, 1) == 1) got += c;
    EXPECT_EQ(got, Digits(100));
    // 7 fills, the last short; the short one marks the end, so no empty read follows.
    EXPECT_EQ(source.reads, 100 / kBuf + 1);
    EXPECT_EQ(b.Read(&c, 1), 0);
    EXPECT_EQ(source.reads, 100 / kBuf + 1) << "the end is remembered";
    b.Seek(0, soBeginning);
    ASSERT_EQ(b.Read(&c, 1), 1) << "a seek forgets the end";
    EXPECT_EQ(c, Digits(1)[0]);
}

TEST(BufferStream, SeekInsideTheReadBufferKeepsIt) {
    TCountingStream source;
    source.Hold(Digits(64));
    TBufferStream b(source, kBuf);
    char buf[5];
    ASSERT_EQ(b.Read(buf, 5), 5);
    EXPECT_EQ(b.Position(), 5);  // asks the wrapped stream's position once
    const int seeksBefore = source.seeks;
    // Targets the buffer holds (bytes 0..15), forwards and backwards, up to
    // its end: no call reaches the wrapped stream.
    const struct {
        int64_t offset;
        TSeekOrigin origin;
        int64_t position;
        const char* next;
    } inside[] = {
        {5, soBeginning, 5, "fghij"}, {0, soCurrent, 10, "klmno"}, {2, soBeginning, 2, "cdefg"},
        {-4, soCurrent, 3, "defgh"},  {11, soBeginning, 11, "lmnop"},
    };
    for (const auto& c : inside) {
        EXPECT_EQ(b.Seek(c.offset, c.origin), c.position) << c.position;
        ASSERT_EQ(b.Read(buf, 5), 5);
        EXPECT_EQ(std::string(buf, 5), c.next) << c.position;
    }
    EXPECT_EQ(b.Seek(16, soBeginning), 16);
    EXPECT_EQ(source.reads, 1) << "the buffer was kept";
    EXPECT_EQ(source.seeks, seeksBefore) << "the wrapped stream was not moved";
    EXPECT_EQ(b.State(), TBufferStream::bsRead);
    // Past the buffer, the wrapped stream moves.
    EXPECT_EQ(b.Seek(20, soBeginning), 20);
    EXPECT_GT(source.seeks, seeksBefore);
    EXPECT_EQ(b.State(), TBufferStream::bsIdle);
    ASSERT_EQ(b.Read(buf, 1), 1);
    EXPECT_EQ(buf[0], 'u');
}

TEST(BufferStream, SeekFromTheEndIgnoresTheSign) {
    TCountingStream source;
    source.Write(Digits(100).data(), 100);
    for (int64_t offset : {-22, 22}) {
        TBufferStream b(source, kBuf);
        EXPECT_EQ(b.Seek(offset, soEnd), 78) << offset;
        char c;
        ASSERT_EQ(b.Read(&c, 1), 1);
        EXPECT_EQ(c, Digits(100)[78]);
    }
}

TEST(BufferStream, Errors) {
    TCountingStream target;
    TBufferStream b(target, kBuf);
    try {
        b.Seek(0, static_cast<TSeekOrigin>(7));
        FAIL() << "no exception";
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Invalid seek origin (7)");
    }
    try {
        b.PutBack('x');
        FAIL() << "no exception";
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Putback overflow");
    }
    target.writeBudget = 3;
    ASSERT_EQ(b.Write("abcdef", 6), 6);
    try {
        b.Seek(0, soBeginning);
        FAIL() << "no exception";
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Seek error");
    }
}

TEST(BufferStream, PutBackDeliversTheByteAgain) {
    TCountingStream source;
    source.Hold("xyz");
    TBufferStream b(source, kBuf);
    char c;
    ASSERT_EQ(b.Read(&c, 1), 1);
    b.PutBack('Q');
    char two[2];
    ASSERT_EQ(b.Read(two, 2), 2);
    EXPECT_EQ(std::string(two, 2), "Qy");
    // A seek back into the buffer reads the file again, not the byte put back.
    ASSERT_EQ(b.Seek(0, soBeginning), 0);
    ASSERT_EQ(b.Read(&c, 1), 1);
    EXPECT_EQ(c, 'x');
}

TEST(BufferStream, WriteAfterReadLandsAtTheLogicalPosition) {
    TCountingStream s;
    s.Hold(Digits(40));
    {
        TBufferStream b(s, kBuf);
        char buf[3];
        ASSERT_EQ(b.Read(buf, 3), 3);  // the buffer holds 16, the stream stands at 16
        ASSERT_EQ(b.Write("XY", 2), 2);
        EXPECT_EQ(b.Position(), 5);
        ASSERT_EQ(b.Read(buf, 1), 1);  // and back to reading
        EXPECT_EQ(buf[0], 'f');
    }
    std::string expected = Digits(40);
    expected.replace(3, 2, "XY");
    EXPECT_EQ(s.Text(), expected);
}

TEST(BufferStream, ReadAfterWriteSeesTheWrittenBytes) {
    TCountingStream s;
    s.Hold(Digits(40));
    TBufferStream b(s, kBuf);
    ASSERT_EQ(b.Write("0123", 4), 4);
    char buf[4];
    ASSERT_EQ(b.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "efgh");
    EXPECT_EQ(b.Position(), 8);
    EXPECT_EQ(s.Text().substr(0, 8), "0123efgh");
}

TEST(BufferStream, AFullBufferThatCannotBeWrittenIsReported) {
    struct {
        int64_t budget, bytes, taken;
    } cases[] = {
        {0, kBuf, 0},                // the refused buffer ended with the call
        {kBuf, 3 * kBuf, kBuf},      // the second buffer is refused
        {kBuf + 5, 2 * kBuf, kBuf},  // a partly written buffer counts as refused
    };
    for (const auto& c : cases) {
        TCountingStream s;
        s.writeBudget = c.budget;
        TBufferStream b(s, kBuf);
        std::string data = Digits(static_cast<size_t>(c.bytes));
        EXPECT_EQ(b.Write(data.data(), c.bytes), c.taken) << c.budget << "/" << c.bytes;
    }
    TCountingStream s;
    s.writeBudget = 2;
    TBufferStream b(s, kBuf);
    ASSERT_EQ(b.Write("abcd", 4), 4);
    EXPECT_FALSE(b.Flush()) << "a failed final flush is visible";
    EXPECT_TRUE(b.Flush()) << "nothing left to write";
}

TEST(BufferedFileStream, CreatesReadsAndReportsOpenErrors) {
    test::TTempDir dir;
    const AnsiString path = dir / "f.bin";
    {
        TBufferedFileStream f(path, 8192, true, fmCreate);
        ASSERT_EQ(f.Write(Digits(10000).data(), 10000), 10000);
        EXPECT_TRUE(f.Close());
    }
    EXPECT_EQ(test::ReadAll(path), Digits(10000));
    {
        TBufferedFileStream f(path, 8192, false, fmOpenRead | fmShareDenyWrite);
        EXPECT_EQ(f.Size(), 10000);
        EXPECT_EQ(f.Seek(-22, soEnd), 10000 - 22);
    }
    try {
        TBufferedFileStream f(dir / "missing.bin", 8192, false, fmOpenRead | fmShareDenyNone);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Cannot open file \"" + (dir / "missing.bin") + "\". ", 0),
            0u)
            << e.what();
    }
}

}  // namespace
}  // namespace nuva
