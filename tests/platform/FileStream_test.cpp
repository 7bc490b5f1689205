#include <gtest/gtest.h>

#include <cstring>

#include "PlatformTestText.h"
#include "TestSupport.h"
#include "platform/Platform.h"
#include "platform/Stream.h"

namespace nuva {
namespace {

using namespace nuva::test;

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

TEST(FileStreamTest, OpenAndCreateErrorsCarryPathAndReason) {
    TTempDir tmp;
    ASSERT_TRUE(ForceDirectories(tmp / "dir"));
    const struct {
        const char* what;
        AnsiString path;
        unsigned mode;
        const char* prefix;  // followed by the path and `". `
        bool isCreate;
    } cases[] = {
        {"missing file", tmp / (kGbkCheng + ".zip"), fmOpenRead, "Cannot open file \"", false},
        {"missing directory", tmp / "missing/f", fmOpenReadWrite | fmShareDenyNone,
         "Cannot open file \"", false},
        {"a directory", tmp / "dir", fmOpenRead, "Cannot open file \"", false},
        {"create in missing directory", tmp / ("missing/" + kGbkJin), fmCreate,
         "Cannot create file \"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            TFileStream f(c.path, c.mode);
            ADD_FAILURE() << "no error";
        } catch (const EFCreateError& e) {
            EXPECT_TRUE(c.isCreate);
            EXPECT_TRUE(StartsWith(e.Message(), c.prefix + c.path + "\". ")) << e.what();
            EXPECT_GT(e.Message().size(), std::strlen(c.prefix) + c.path.size() + 3);
        } catch (const EFOpenError& e) {
            EXPECT_FALSE(c.isCreate);
            EXPECT_TRUE(StartsWith(e.Message(), c.prefix + c.path + "\". ")) << e.what();
            // The system's reason follows, without a line break.
            std::string reason = e.Message().substr(std::strlen(c.prefix) + c.path.size() + 3);
            EXPECT_FALSE(reason.empty());
            EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos) << reason;
        }
    }
}

TEST(FileStreamTest, ReadWriteSeekSizeTruncate) {
    TTempDir tmp;
    TFileStream f(tmp / kGbkCheng, fmCreate);
    EXPECT_EQ(f.FileName(), tmp / kGbkCheng);
    EXPECT_EQ(f.Write("hello world", 11), 11);

    // Each step: seek, then optionally truncate, write or read; then the
    // expected position and size.
    enum TOp { opNone, opTruncate, opWrite, opRead };
    const struct {
        int64_t offset;
        TSeekOrigin origin;
        int64_t seekResult;
        TOp op;
        std::string data;  // written, or expected from a read of 4 bytes
        int64_t position, size;
    } steps[] = {
        {0, soCurrent, 11, opNone, "", 11, 11},
        {0, soBeginning, 0, opRead, "hell", 4, 11},
        {2, soCurrent, 6, opRead, "worl", 10, 11},
        {-3, soEnd, 8, opRead, "rld", 11, 11},
        {5, soBeginning, 5, opTruncate, "", 5, 5},
        {0, soEnd, 5, opRead, "", 5, 5},
        {7, soBeginning, 7, opWrite, "!", 8, 8},  // past the end: a gap of zeros
        {4, soBeginning, 4, opRead, std::string("o\0\0!", 4), 8, 8},
        {2, soBeginning, 2, opTruncate, "", 2, 2},
        {10, soBeginning, 10, opTruncate, "", 10, 10},  // truncating extends, too
        {-1, soBeginning, -1, opNone, "", 10, 10},      // before the start: refused
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const auto& s = steps[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(f.Seek(s.offset, s.origin), s.seekResult);
        switch (s.op) {
            case opTruncate:
                EXPECT_TRUE(f.Truncate());
                break;
            case opWrite:
                EXPECT_EQ(f.Write(s.data.data(), 1), 1);
                break;
            case opRead: {
                char buf[4];
                int64_t n = f.Read(buf, 4);
                ASSERT_GE(n, 0);
                EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), s.data);
                break;
            }
            case opNone:
                break;
        }
        EXPECT_EQ(f.Position(), s.position);
        EXPECT_EQ(f.Size(), s.size);
        EXPECT_EQ(f.Position(), s.position);  // Size() leaves the position alone
    }
    EXPECT_TRUE(f.FlushToDisk());
}

TEST(FileStreamTest, CreateTruncatesAnExistingFile) {
    TTempDir tmp;
    WriteAll(tmp / "f", "old contents");
    {
        TFileStream f(tmp / "f", fmCreate);
        EXPECT_EQ(f.Size(), 0);
        f.WriteBuffer("new", 3);
    }
    EXPECT_EQ(ReadAll(tmp / "f"), "new");
}

TEST(FileStreamTest, AccessModesLimitReadingAndWriting) {
    TTempDir tmp;
    WriteAll(tmp / "f", "abc");
    const struct {
        unsigned mode;
        bool canRead, canWrite;
    } cases[] = {
        {fmOpenRead, true, false},
        {fmOpenWrite, false, true},
        {fmOpenReadWrite, true, true},
        {fmOpenRead | fmShareDenyNone, true, false},
        {fmOpenReadWrite | fmShareExclusive, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        TFileStream f(tmp / "f", c.mode);
        char buf[3];
        // The system's refusal is an error, never an empty read or write.
        if (c.canRead)
            EXPECT_EQ(f.Read(buf, 3), 3);
        else
            EXPECT_THROW(f.Read(buf, 3), EReadError);
        f.SetPosition(0);
        if (c.canWrite) {
            EXPECT_EQ(f.Write("xyz", 3), 3);
        } else {
            EXPECT_THROW(f.Write("xyz", 3), EWriteError);
            EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);
        }
        f.SetPosition(0);
        if (c.canWrite) f.WriteBuffer("abc", 3);
    }
    EXPECT_EQ(ReadAll(tmp / "f"), "abc");
}

TEST(FileStreamTest, ReadBufferShortRaisesStreamReadError) {
    TTempDir tmp;
    WriteAll(tmp / "f", "12345");
    TFileStream f(tmp / "f", fmOpenRead);
    char buf[8];
    f.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "123");
    try {
        f.ReadBuffer(buf, 3);
        ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
    f.ReadBuffer(buf, 0);  // nothing asked, nothing missing
}

}  // namespace
}  // namespace nuva
