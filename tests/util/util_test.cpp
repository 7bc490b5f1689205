#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Platform.h"
#include "util/util.h"

namespace nuva {
namespace {

using test::TTempDir;
using Lines = std::vector<std::string>;

// 誠 and 錦 in GBK: their trail byte is 0x5C, the Windows path delimiter.
const std::string kCheng = "\xD5\x5C";
const std::string kJin = "\xE5\x5C";

Lines Sorted(const TStringList& list) {
    Lines lines(list.begin(), list.end());
    std::sort(lines.begin(), lines.end());
    return lines;
}

template <typename Error>
std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(UtilTest, TrimRemovesBlanksAndControlsOnly) {
    struct Case {
        std::string text, trimmed;
    } cases[] = {
        {"  a b  ", "a b"},
        {"\t\r\n\x01x\x1F", "x"},
        {"\xA1\xA1x\xA1\xA1", "\xA1\xA1x\xA1\xA1"},
        {"", ""},
        {"   ", ""},
        {std::string("\0a\0", 3), "a"},
        {"\x7F", "\x7F"},
    };
    for (const Case& c : cases) EXPECT_EQ(Trim(c.text), c.trimmed) << c.text;
}

TEST(UtilTest, TextToBool) {
    struct Case {
        std::string text;
        bool value;
    } cases[] = {
        {" 1 ", true}, {"true", true},   {"True", true},      {"\tTRUE", true}, {"tRuE\r\n", true},
        {"0", false},  {"1 1", false},   {"yes", false},      {"T", false},     {"", false},
        {"01", false}, {"truex", false}, {"\xD4\xC7", false},
    };
    for (const Case& c : cases) EXPECT_EQ(TextToBool(c.text), c.value) << c.text;
}

TEST(UtilTest, BoolToText) {
    EXPECT_EQ(BoolToText(true, true), "1");
    EXPECT_EQ(BoolToText(false, true), "0");
    EXPECT_EQ(BoolToText(true, false), "true");
    EXPECT_EQ(BoolToText(false, false), "false");
}

TEST(UtilTest, PadRight) {
    const std::string longText = std::string(250, ' ') + "ABCDEFGHIJ";  // 260 bytes
    struct Case {
        std::string text;
        int width;
        char pad;
        std::string expected;
    } cases[] = {
        {"AB", 4, ' ', "AB  "},
        {" ABCDE ", 4, ' ', "ABCD"},
        {"", 8, ' ', "        "},
        {"AB", 4, '0', "AB00"},
        {"AB", 0, ' ', ""},
        {"AB", -3, ' ', ""},
        // Only the first 255 bytes are looked at, before trimming.
        {longText, 8, ' ', "ABCDE   "},
        {std::string(300, 'x'), 260, ' ', std::string(255, 'x') + "     "},
    };
    for (const Case& c : cases) EXPECT_EQ(PadRight(c.text, c.width, c.pad), c.expected) << c.text;
}

TEST(UtilTest, NormalizeDirTrimsAddsTheDelimiterAndCreates) {
    TTempDir tmp;
    const std::string data = tmp / "data";
    struct Case {
        std::string path, expected;
    } cases[] = {
        {"  " + data + "  ", data + PathDelim},
        {data + PathDelim, data + PathDelim},
        {tmp / "x/y/z", (tmp / "x/y/z") + PathDelim},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NormalizeDir(c.path), c.expected) << c.path;
        EXPECT_TRUE(DirectoryExists(c.expected)) << c.expected;
    }
}

TEST(UtilTest, NormalizeDirOfNothingIsTheExecutableDirectory) {
    TTempDir tmp;
    SetExeDirectoryOverride(tmp.Path());
    EXPECT_EQ(NormalizeDir(""), tmp.Path());
    EXPECT_EQ(NormalizeDir(" \t "), tmp.Path());
    SetExeDirectoryOverride("");
}

TEST(UtilTest, NormalizeDirThatCannotBeCreatedIsStillReturned) {
    TTempDir tmp;
    const std::string file = tmp / "file";
    test::WriteAll(file, "x");
    const std::string below = file + PathDelim + "sub";
    EXPECT_EQ(NormalizeDir(below), below + PathDelim);
    EXPECT_FALSE(DirectoryExists(below));
}

// A name ending in 誠 ends in the byte 0x5C, which is not a delimiter there.
TEST(UtilTest, NormalizeDirTrailByteIsNotADelimiter) {
    TTempDir tmp;
    const std::string dir = tmp / ("x" + kCheng);
    EXPECT_EQ(NormalizeDir(dir), dir + PathDelim);
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_EQ(NormalizeDir(dir + PathDelim), dir + PathDelim);
}

TEST(UtilTest, ListDirectoryListsFilesOnly) {
    TTempDir tmp;
    test::WriteAll(tmp / "a.txt", "a");
    test::WriteAll(tmp / "b.txt", "");
    ASSERT_TRUE(ForceDirectories(tmp / "sub"));
    test::WriteAll(tmp / "sub/inner.txt", "i");
    SetFileAttributes(tmp / "sub", faDirectory | faHidden | faArchive);

    const std::string dir = tmp / "";
    const std::string bare = dir.substr(0, dir.size() - 1);
    for (const std::string& path : {bare, " " + bare + " ", dir}) {
        SCOPED_TRACE(path);
        std::unique_ptr<TStringList> list;
        ListDirectory(path, list);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(Sorted(*list), (Lines{dir + "a.txt", dir + "b.txt"}));
    }
}

TEST(UtilTest, ListDirectoryOfAFileOrAMissingPathGivesThePath) {
    TTempDir tmp;
    const std::string zip = tmp / "file.zip";
    test::WriteAll(zip, "PK");
    const std::string missing = tmp / "missing";
    struct Case {
        std::string path, line;
    } cases[] = {{zip, zip}, {"  " + zip + "\t", zip}, {missing, missing}};
    for (const Case& c : cases) {
        std::unique_ptr<TStringList> list;
        ListDirectory(c.path, list);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(Sorted(*list), Lines{c.line});
    }
}

TEST(UtilTest, ListDirectoryAppendsToAnExistingList) {
    TTempDir tmp;
    const std::string dir = tmp / "d";
    ASSERT_TRUE(ForceDirectories(dir));
    test::WriteAll(dir + PathDelim + "f", "");
    std::unique_ptr<TStringList> list = std::make_unique<TStringList>();
    list->Add("kept");
    TStringList* const same = list.get();
    ListDirectory(dir, list);
    ListDirectory(tmp / "empty-does-not-exist", list);
    EXPECT_EQ(list.get(), same);
    EXPECT_EQ(Lines(list->begin(), list->end()),
              (Lines{"kept", dir + PathDelim + "f", tmp / "empty-does-not-exist"}));

    ASSERT_TRUE(ForceDirectories(tmp / "empty"));
    ListDirectory(tmp / "empty", list);
    EXPECT_EQ(list->Count(), 3);
}

// Directory and file names whose last byte is 0x5C are listed under the
// right directory, with one delimiter between directory and name.
TEST(UtilTest, ListDirectoryStepsOverDoubleByteCharacters) {
    TTempDir tmp;
    const std::string dir = tmp / kCheng;
    ASSERT_TRUE(ForceDirectories(dir));
    test::WriteAll(dir + PathDelim + kJin, "1");
    test::WriteAll(dir + PathDelim + kJin + ".txt", "2");
    std::unique_ptr<TStringList> list;
    ListDirectory(dir, list);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Sorted(*list), (Lines{dir + PathDelim + kJin, dir + PathDelim + kJin + ".txt"}));
}

TEST(UtilTest, SaveAndLoadKeepEveryByte) {
    TTempDir tmp;
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string contents[] = {"", std::string("a\0b", 3), all, kCheng + "\r\n" + kJin,
                                    std::string(100000, '\xFF')};
    const std::string file = tmp / (kCheng + ".dat");
    for (const std::string& content : contents) {
        SaveFileText(content, file);
        EXPECT_EQ(test::ReadAll(file), content);
        EXPECT_EQ(LoadFileText(file), content);
    }
    // Truncates a longer file; both calls leave the file closed.
    SaveFileText("short", file);
    EXPECT_EQ(LoadFileText(file), "short");
    EXPECT_TRUE(DeleteFile(file));
}

TEST(UtilTest, FileErrorsCarryThePathAndTheSystemsReason) {
    TTempDir tmp;
    const std::string missing = tmp / "missing.txt";
    const std::string open = MessageOf<EFOpenError>([&] { LoadFileText(missing); });
    const std::string openPrefix = "Cannot open file \"" + missing + "\". ";
    EXPECT_EQ(open.substr(0, openPrefix.size()), openPrefix);
    EXPECT_GT(open.size(), openPrefix.size());

    const std::string unwritable = tmp / "no/such/dir.txt";
    const std::string create = MessageOf<EFCreateError>([&] { SaveFileText("x", unwritable); });
    const std::string createPrefix = "Cannot create file \"" + unwritable + "\". ";
    EXPECT_EQ(create.substr(0, createPrefix.size()), createPrefix);
    EXPECT_GT(create.size(), createPrefix.size());
}

// A stream whose size claims more bytes than it delivers.
class TShortStream : public TMemoryStream {
  public:
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        if (origin == soEnd) return TMemoryStream::Seek(offset + 10, soEnd);
        return TMemoryStream::Seek(offset, origin);
    }
};

TEST(UtilTest, ShortReadRaisesStreamReadError) {
    TShortStream stream;
    stream.Write("abc", 3);
    EXPECT_EQ(MessageOf<EReadError>([&] { detail::ReadWholeStream(stream); }), "Stream read error");
    TMemoryStream whole;
    whole.Write("abc", 3);
    EXPECT_EQ(detail::ReadWholeStream(whole), "abc");
}

// A file stream that takes only the first `limit` bytes, like a full disk.
class TFullDiskStream : public TFileStream {
  public:
    TFullDiskStream(const AnsiString& name, int64_t limit)
        : TFileStream(name, fmCreate), limit_(limit) {}
    int64_t Write(const void* buffer, int64_t count) override {
        const int64_t taken = std::min(count, limit_ - written_);
        written_ += TFileStream::Write(buffer, taken);
        return taken;
    }

  private:
    int64_t limit_;
    int64_t written_ = 0;
};

TEST(UtilTest, FailedSaveRemovesThePartlyWrittenFile) {
    TTempDir tmp;
    const std::string created = tmp / "new.txt";
    const std::string existing = tmp / "old.txt";
    test::WriteAll(existing, "previous contents");
    for (const std::string& file : {created, existing}) {
        SCOPED_TRACE(file);
        const std::string message = MessageOf<EWriteError>([&] {
            detail::SaveFileTextVia("0123456789", file, [](const AnsiString& name) {
                return std::make_unique<TFullDiskStream>(name, 4);
            });
        });
        EXPECT_EQ(message, "Stream write error");
        EXPECT_FALSE(FileExists(file));
    }
}

}  // namespace
}  // namespace nuva
