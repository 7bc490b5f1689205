// Files and directories through the seam, in a scratch directory, with GBK
// names whose trail byte is '\'.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "PlatformTestText.h"
#include "TestSupport.h"
#include "platform/Platform.h"
#include "platform/Stream.h"

namespace nuva {
namespace {

using namespace nuva::test;

uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<uint32_t>(year - 1980) << 25 | static_cast<uint32_t>(month) << 21 |
           static_cast<uint32_t>(day) << 16 | static_cast<uint32_t>(hour) << 11 |
           static_cast<uint32_t>(minute) << 5 | static_cast<uint32_t>(second / 2);
}

// Names in the directory, without "." and "..".
std::set<AnsiString> NamesIn(const AnsiString& dir) {
    std::set<AnsiString> names;
    for (const TDirEntry& e : ListDirectoryEntries(dir))
        if (e.name != "." && e.name != "..") names.insert(e.name);
    return names;
}

TEST(FilesTest, ForceDirectoriesCreatesEveryLevel) {
    TTempDir tmp;
    const struct {
        std::vector<std::string> levels;
        bool trailingDelimiter;
    } cases[] = {
        {{"a", "b", "c"}, false},
        {{kGbkZhongWen, kGbkCheng, kGbkJin}, false},  // ends in a 0x5C trail byte
        {{"x" + kGbkCheng, kGbkTrailBar}, true},
        {{"a", "b", "c", "d"}, true},  // below a tree that exists already
    };
    for (const auto& c : cases) {
        AnsiString path = ExcludeTrailingPathDelimiter(tmp.Path());
        for (const std::string& level : c.levels) path += PathDelim + level;
        SCOPED_TRACE(AnsiToUtf8(path));
        EXPECT_TRUE(ForceDirectories(c.trailingDelimiter ? path + PathDelim : path));
        for (AnsiString p = path; p.size() >= tmp.Path().size();
             p = ExcludeTrailingPathDelimiter(ExtractFilePath(p)))
            EXPECT_TRUE(DirectoryExists(p)) << AnsiToUtf8(p);
        EXPECT_TRUE(ForceDirectories(path));  // existing: still true
    }
    EXPECT_EQ(NamesIn(tmp.Path()), (std::set<AnsiString>{"a", kGbkZhongWen, "x" + kGbkCheng}));
}

TEST(FilesTest, ForceDirectoriesFailsOnAFileAndOnEmpty) {
    TTempDir tmp;
    WriteAll(tmp / "file", "x");
    EXPECT_FALSE(ForceDirectories(tmp / "file"));
    EXPECT_FALSE(ForceDirectories(tmp / "file/below"));
    EXPECT_FALSE(ForceDirectories(""));
}

TEST(FilesTest, ExistenceTests) {
    TTempDir tmp;
    WriteAll(tmp / kGbkCheng, "data");
    ASSERT_TRUE(ForceDirectories(tmp / kGbkJin));
    const struct {
        AnsiString path;
        bool file, dir;
    } cases[] = {
        {tmp / kGbkCheng, true, false},         {tmp / kGbkJin, false, true},
        {tmp / (kGbkJin + "/"), false, true},   {tmp / "missing", false, false},
        {tmp / "missing/deeper", false, false}, {"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileExists(c.path), c.file) << AnsiToUtf8(c.path);
        EXPECT_EQ(DirectoryExists(c.path), c.dir) << AnsiToUtf8(c.path);
    }
}

TEST(FilesTest, RemoveDirRemovesOnlyEmptyDirectories) {
    TTempDir tmp;
    ASSERT_TRUE(ForceDirectories(tmp / "empty"));
    ASSERT_TRUE(ForceDirectories(tmp / "full"));
    WriteAll(tmp / "full/f", "x");
    WriteAll(tmp / "file", "x");
    const struct {
        const char* name;
        bool removed;
    } cases[] = {{"empty", true}, {"full", false}, {"missing", false}, {"file", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(RemoveDir(tmp / c.name), c.removed) << c.name;
        EXPECT_EQ(FileExists(tmp / c.name) || DirectoryExists(tmp / c.name),
                  std::string(c.name) == "full" || std::string(c.name) == "file")
            << c.name;
    }
}

TEST(FilesTest, DeleteFileDeletesWritableFilesOnly) {
    TTempDir tmp;
    WriteAll(tmp / kGbkCheng, "x");
    WriteAll(tmp / "readonly", "x");
    ASSERT_TRUE(SetFileAttributes(tmp / "readonly", faArchive | faReadOnly));
    ASSERT_TRUE(ForceDirectories(tmp / "dir"));
    const struct {
        AnsiString name;
        bool deleted;
    } cases[] = {{kGbkCheng, true}, {"readonly", false}, {"dir", false}, {"missing", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(DeleteFile(tmp / c.name), c.deleted) << AnsiToUtf8(c.name);
        EXPECT_EQ(GetFileAttributes(tmp / c.name) == -1, c.deleted || c.name == "missing");
    }
    ASSERT_TRUE(SetFileAttributes(tmp / "readonly", faArchive));
    EXPECT_TRUE(DeleteFile(tmp / "readonly"));
}

TEST(FilesTest, MoveFileReplaceReplacesAnExistingTarget) {
    TTempDir tmp;
    const struct {
        const char* what;
        bool targetExists;
    } cases[] = {{"over an existing file", true}, {"to a new name", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(tmp / kGbkCheng, "new contents");
        if (c.targetExists) WriteAll(tmp / kGbkJin, "old");
        ASSERT_TRUE(MoveFileReplace(tmp / kGbkCheng, tmp / kGbkJin));
        EXPECT_FALSE(FileExists(tmp / kGbkCheng));
        EXPECT_EQ(ReadAll(tmp / kGbkJin), "new contents");
        ASSERT_TRUE(DeleteFile(tmp / kGbkJin));
    }
    EXPECT_FALSE(MoveFileReplace(tmp / "missing", tmp / "other"));
    EXPECT_FALSE(FileExists(tmp / "other"));
}

TEST(FilesTest, AttributesOfFilesAndDirectories) {
    TTempDir tmp;
    WriteAll(tmp / "f", "x");
    ASSERT_TRUE(ForceDirectories(tmp / "d"));
    const struct {
        const char* step;
        const char* name;
        int32_t set;      // attributes to set first, or -1
        int32_t present;  // bits that must be on
        int32_t absent;   // bits that must be off
    } cases[] = {
        {"new file", "f", -1, faArchive, faDirectory | faReadOnly},
        {"directory", "d", -1, faDirectory, faReadOnly},
        {"read-only set", "f", faArchive | faReadOnly, faArchive | faReadOnly, faDirectory},
        {"read-only cleared", "f", faArchive, faArchive, faReadOnly | faDirectory},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        if (c.set >= 0) {
            EXPECT_TRUE(SetFileAttributes(tmp / c.name, static_cast<uint32_t>(c.set)));
        }
        int32_t a = GetFileAttributes(tmp / c.name);
        ASSERT_NE(a, -1);
        EXPECT_EQ(a & c.present, c.present) << std::hex << a;
        EXPECT_EQ(a & c.absent, 0) << std::hex << a;
        if (!(a & faDirectory)) {
            // The open handle tells the same as the path.
            TFileStream f(tmp / c.name, fmOpenRead | fmShareDenyNone);
            int32_t time = 0, viaHandle = 0;
            ASSERT_TRUE(f.GetTimeAndAttributes(time, viaHandle));
            EXPECT_EQ(viaHandle, a);
            EXPECT_EQ(time, FileAgeDos(tmp / c.name));
        }
    }
    EXPECT_EQ(GetFileAttributes(tmp / "missing"), -1);
    EXPECT_FALSE(SetFileAttributes(tmp / "missing", faArchive));
}

const uint32_t kDosTimes[] = {
    Dos(2001, 2, 3, 4, 5, 6), Dos(1999, 12, 31, 23, 59, 58), Dos(2024, 6, 30, 12, 0, 0),
    Dos(1980, 1, 2, 0, 0, 0), Dos(2030, 11, 15, 8, 30, 44),  Dos(2107, 12, 31, 22, 0, 0),
};

TEST(FilesTest, FileAgeDosRoundTripsEvenSeconds) {
    TTempDir tmp;
    const AnsiString path = tmp / kGbkCheng;
    WriteAll(path, "x");
    for (uint32_t dos : kDosTimes) {
        ASSERT_TRUE(SetFileAgeDos(path, dos)) << std::hex << dos;
        EXPECT_EQ(static_cast<uint32_t>(FileAgeDos(path)), dos) << std::hex << dos;
    }
    EXPECT_EQ(FileAgeDos(tmp / "missing"), -1);
    EXPECT_FALSE(SetFileAgeDos(tmp / "missing", kDosTimes[0]));
}

TEST(FilesTest, FileStreamDosTimeRoundTripsEvenSeconds) {
    TTempDir tmp;
    const AnsiString path = tmp / "f";
    for (uint32_t dos : kDosTimes) {
        {
            TFileStream f(path, fmCreate);
            f.WriteBuffer("abc", 3);
            ASSERT_TRUE(f.SetDosTime(dos)) << std::hex << dos;
            EXPECT_EQ(static_cast<uint32_t>(f.GetDosTime()), dos) << std::hex << dos;
            int32_t time = 0, attributes = 0;
            ASSERT_TRUE(f.GetTimeAndAttributes(time, attributes));
            EXPECT_EQ(static_cast<uint32_t>(time), dos) << std::hex << dos;
        }
        {
            TFileStream f(path, fmOpenRead);
            int32_t time = 0, attributes = 0;
            ASSERT_TRUE(f.GetTimeAndAttributes(time, attributes));
            EXPECT_EQ(static_cast<uint32_t>(time), dos) << std::hex << dos;
        }
        // Closing the file must not stamp it with the time of the last write.
        EXPECT_EQ(static_cast<uint32_t>(FileAgeDos(path)), dos) << std::hex << dos;
    }
}

TEST(FilesTest, NewFileCarriesTodaysLocalDate) {
    TTempDir tmp;
    TLocalDate before = LocalDate();
    WriteAll(tmp / "f", "x");
    TLocalDate after = LocalDate();
    uint32_t date = static_cast<uint32_t>(FileAgeDos(tmp / "f")) >> 16;
    auto dosDate = [](const TLocalDate& d) {
        return static_cast<uint32_t>((d.year - 1980) << 9 | d.month << 5 | d.day);
    };
    EXPECT_TRUE(date == dosDate(before) || date == dosDate(after)) << std::hex << date;
}

TEST(FilesTest, UniqueTempFilesAreDistinctAndExist) {
    TTempDir tmp;
    const struct {
        const char* where;
        AnsiString dir;
        AnsiString expectedDir;
    } cases[] = {
        {"given directory", tmp.Path(), tmp.Path()},
        {"given without delimiter", ExcludeTrailingPathDelimiter(tmp.Path()), tmp.Path()},
        {"temporary directory", "", TempDirectory()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        AnsiString a = CreateUniqueTempFile(c.dir, "TMZ");
        AnsiString b = CreateUniqueTempFile(c.dir, "TMZ");
        ASSERT_FALSE(a.empty());
        ASSERT_FALSE(b.empty());
        EXPECT_NE(a, b);
        for (const AnsiString& p : {a, b}) {
            EXPECT_TRUE(FileExists(p)) << p;
            EXPECT_EQ(ExtractFileName(p).substr(0, 3), "TMZ") << p;
            EXPECT_EQ(ExtractFileExt(p), ".tmp") << p;
            EXPECT_EQ(AnsiUpperCaseAscii(ExtractFilePath(p)), AnsiUpperCaseAscii(c.expectedDir));
            EXPECT_EQ(ReadAll(p), "");
        }
        DeleteFile(a);
        DeleteFile(b);
    }
    EXPECT_EQ(CreateUniqueTempFile(tmp / "missing", "TMZ"), "");
}

// Scratch directories of tests and fuzz replays running side by side must
// never coincide: many threads at once each get an empty directory of their
// own, in the given directory or in the temporary one.
TEST(FilesTest, UniqueTempDirectoriesAreDistinctEvenWhenMadeAtOnce) {
    TTempDir tmp;
    const struct {
        const char* where;
        AnsiString dir;
        AnsiString expectedDir;
    } cases[] = {
        {"given directory", tmp.Path(), tmp.Path()},
        {"given without delimiter", ExcludeTrailingPathDelimiter(tmp.Path()), tmp.Path()},
        {"temporary directory", "", TempDirectory()},
    };
    const int kThreads = 8, kEach = 4;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        std::vector<std::vector<AnsiString>> made(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i)
                    made[t].push_back(CreateUniqueTempDirectory(c.dir, "nuva-unique-"));
            });
        for (std::thread& t : threads) t.join();
        std::set<AnsiString> distinct;
        for (const auto& list : made)
            for (const AnsiString& d : list) {
                EXPECT_FALSE(d.empty());
                if (d.empty()) continue;
                distinct.insert(d);
                EXPECT_TRUE(DirectoryExists(d)) << d;
                EXPECT_EQ(ExtractFileName(d).substr(0, 3), "nuv") << d;
                EXPECT_EQ(AnsiUpperCaseAscii(ExtractFilePath(d)),
                          AnsiUpperCaseAscii(c.expectedDir));
                EXPECT_EQ(ListDirectoryEntries(d).size(), 2u) << d;  // "." and ".."
            }
        EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
        for (const AnsiString& d : distinct) EXPECT_TRUE(RemoveDir(d)) << d;
    }
    EXPECT_EQ(CreateUniqueTempDirectory(tmp / "missing", "nuva-unique-"), "");
}

TEST(FilesTest, UniqueTempFileNamesKeepThreePrefixBytes) {
    TTempDir tmp;
    // The fourth prefix byte, '-', is never part of the unique part (letters
    // and digits on POSIX, hex digits on Windows), so seeing it right after
    // the kept bytes would mean the prefix was not cut.
    const struct { AnsiString prefix, kept; } cases[] = {{"AB_-EF", "AB_"}, {"Q", "Q"}, {"", ""}};
    for (const auto& c : cases) {
        AnsiString name = ExtractFileName(CreateUniqueTempFile(tmp.Path(), c.prefix));
        ASSERT_GT(name.size(), c.kept.size() + 4) << name;
        EXPECT_EQ(name.substr(0, c.kept.size()), c.kept) << name;
        EXPECT_EQ(name.find('-'), AnsiString::npos) << name;
        EXPECT_EQ(ExtractFileExt(name), ".tmp") << name;
    }
}

TEST(FilesTest, TempDirectoryExistsAndEndsWithTheDelimiter) {
    AnsiString dir = TempDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), PathDelim);
    EXPECT_TRUE(DirectoryExists(dir));
}

TEST(FilesTest, ListDirectoryEntriesRoundTripsGbkNames) {
    TTempDir tmp;
    const AnsiString files[] = {kGbkCheng, kGbkJin + ".txt", kGbkZhongWen + kGbkTrailBar, "plain"};
    for (const AnsiString& name : files) WriteAll(tmp / name, name);
    ASSERT_TRUE(ForceDirectories(tmp / (kGbkCheng + kGbkJin)));

    std::vector<TDirEntry> entries = ListDirectoryEntries(tmp.Path());
    std::set<AnsiString> seen;
    for (const TDirEntry& e : entries) {
        if (e.name == "." || e.name == "..") {
            EXPECT_TRUE(e.attributes & faDirectory);
            continue;
        }
        seen.insert(e.name);
        const AnsiString full = tmp / e.name;
        SCOPED_TRACE(AnsiToUtf8(e.name));
        if (e.name == kGbkCheng + kGbkJin) {
            EXPECT_TRUE(e.attributes & faDirectory);
            EXPECT_EQ(e.size, 0);
            EXPECT_TRUE(DirectoryExists(full));
        } else {
            EXPECT_FALSE(e.attributes & faDirectory);
            EXPECT_EQ(e.size, static_cast<int64_t>(e.name.size()));
            EXPECT_EQ(ReadAll(full), e.name);  // the listed name opens the same file
            EXPECT_EQ(e.dosTime, static_cast<uint32_t>(FileAgeDos(full)));
        }
    }
    std::set<AnsiString> expected(std::begin(files), std::end(files));
    expected.insert(kGbkCheng + kGbkJin);
    EXPECT_EQ(seen, expected);
}

TEST(FilesTest, ListDirectoryEntriesOfMissingOrEmptyDirectory) {
    TTempDir tmp;
    EXPECT_TRUE(ListDirectoryEntries(tmp / "missing").empty());
    EXPECT_TRUE(ListDirectoryEntries("").empty());
    ASSERT_TRUE(ForceDirectories(tmp / "empty"));
    EXPECT_TRUE(NamesIn(tmp / "empty").empty());
}

TEST(FilesTest, ShortPathNameNamesTheSameFile) {
    TTempDir tmp;
    const AnsiString names[] = {"short.txt", "a rather long file name.text", kGbkCheng + kGbkJin};
    for (const AnsiString& name : names) {
        SCOPED_TRACE(AnsiToUtf8(name));
        WriteAll(tmp / name, "contents of " + name);
        AnsiString shortPath = ShortPathName(tmp / name);
        ASSERT_FALSE(shortPath.empty());
        EXPECT_EQ(ReadAll(shortPath), "contents of " + name);
    }
    EXPECT_EQ(ShortPathName(tmp / "missing"), tmp / "missing");
}

}  // namespace
}  // namespace nuva
