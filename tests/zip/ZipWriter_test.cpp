#include "zip/ZipWriter.h"

#include <gtest/gtest.h>

#include <cstring>

#include "WriterTestSupport.h"
#include "zip/ZipErrors.h"

namespace nuva {
namespace {

using test::ParseArchive;
using test::TParsedArchive;
using test::TTempDir;
using test::WriteSource;

// Packs `paths` into dir/out.zip at `level`; returns the count.
int Pack(const AnsiString& zipName, const std::vector<AnsiString>& paths, int level = 6,
         bool storePaths = false) {
    TZipWriter writer;
    writer.SetZipName(zipName);
    writer.PackLevel = level;
    writer.StorePaths = storePaths;
    for (const AnsiString& p : paths) writer.FilesList.Add(p);
    return writer.Zip();
}

// Every entry's local header repeats its central header; bit 3 never set.
void ExpectConsistent(const TParsedArchive& a) {
    ASSERT_TRUE(a.ok) << a.error;
    for (const auto& e : a.entries) {
        EXPECT_TRUE(e.localMismatches.empty())
            << e.name << ": " << ::testing::PrintToString(e.localMismatches);
        EXPECT_EQ(e.flags & kFlagDataDescriptor, 0) << e.name;
        EXPECT_EQ(e.madeBy, 20) << e.name;
    }
}

TEST(ZipWriter, ZeroByteFileIsStoredWithCrcZeroAtEveryLevel) {
    TTempDir dir;
    WriteSource(dir / "empty.txt", "");
    std::vector<AnsiString> archives;
    for (int level = 0; level <= 9; ++level) {
        const AnsiString zip = dir / ("l" + std::to_string(level) + ".zip");
        ASSERT_EQ(Pack(zip, {dir / "empty.txt"}, level), 1) << level;
        TParsedArchive a = ParseArchive(test::ReadAll(zip));
        ExpectConsistent(a);
        ASSERT_EQ(a.entries.size(), 1u);
        const auto& e = a.entries[0];
        EXPECT_EQ(e.method, 0) << level;
        EXPECT_EQ(e.crc, 0u) << level;
        EXPECT_EQ(e.compressedSize, 0u) << level;
        EXPECT_EQ(e.uncompressedSize, 0u) << level;
        test::ExpectExtractsTo(zip, {{"empty.txt", ""}});
        archives.push_back(zip);
    }
    test::ExpectOutsideReadersAccept(archives);
}

TEST(ZipWriter, HeaderFlagBitsAndAttributesPerLevel) {
    struct {
        int level;
        uint16_t flags;
        uint16_t method;
        uint16_t internal;  // 1 text as the compressor judged it, 0 stored by the writer
    } cases[] = {
        {0, 0, 0, 0}, {1, 4, 8, 1}, {2, 4, 8, 1}, {3, 0, 8, 1}, {5, 0, 8, 1},
        {6, 0, 8, 1}, {7, 0, 8, 1}, {8, 2, 8, 1}, {9, 2, 8, 1},
    };
    TTempDir dir;
    const std::string text = test::MakeInput(40000, 7, true);
    WriteSource(dir / "words.txt", text);
    for (const auto& c : cases) {
        const AnsiString zip = dir / ("l" + std::to_string(c.level) + ".zip");
        ASSERT_EQ(Pack(zip, {dir / "words.txt"}, c.level), 1);
        TParsedArchive a = ParseArchive(test::ReadAll(zip));
        ExpectConsistent(a);
        ASSERT_EQ(a.entries.size(), 1u);
        EXPECT_EQ(a.entries[0].flags, c.flags) << c.level;
        EXPECT_EQ(a.entries[0].method, c.method) << c.level;
        EXPECT_EQ(a.entries[0].internalAttributes, c.internal) << c.level;
        EXPECT_EQ(a.entries[0].crc, Crc32(text.data(), text.size()));
        test::ExpectExtractsTo(zip, {{"words.txt", text}});
    }
}

TEST(ZipWriter, EveryLocalHeaderEqualsItsCentralHeaderAndEveryReaderAgrees) {
    struct {
        const char* name;
        size_t size;
        bool text;
    } files[] = {
        {"a.txt", 1, true},
        {"b.txt", 300, true},
        {"c.bin", 100000, false},
        {"d.txt", 70000, true},
        {"e.txt", 200000, true},
        {"f.bin", 40, false},
        // Larger than what is finished in memory: written again in place.
        {"g.bin", 300000, false},
        {"h.txt", 600000, true},
    };
    TTempDir dir;
    std::vector<AnsiString> paths;
    std::map<std::string, std::string> expected;
    for (size_t i = 0; i < std::size(files); ++i) {
        const std::string data =
            test::MakeInput(files[i].size, static_cast<unsigned>(i), files[i].text);
        WriteSource(dir / files[i].name, data);
        paths.push_back(dir / files[i].name);
        expected[files[i].name] = data;
    }
    std::vector<AnsiString> archives;
    for (int level : {0, 1, 4, 6, 9}) {
        const AnsiString zip = dir / ("l" + std::to_string(level) + ".zip");
        ASSERT_EQ(Pack(zip, paths, level), static_cast<int>(paths.size()));
        TParsedArchive a = ParseArchive(test::ReadAll(zip));
        ExpectConsistent(a);
        ASSERT_EQ(a.entries.size(), paths.size());
        uint32_t nextOffset = 0;
        for (size_t i = 0; i < a.entries.size(); ++i) {
            const auto& e = a.entries[i];
            EXPECT_EQ(e.name, files[i].name);
            EXPECT_EQ(e.localOffset, nextOffset) << e.name << " level " << level;
            nextOffset =
                e.localOffset + 30 + static_cast<uint32_t>(e.name.size()) + e.compressedSize;
            EXPECT_EQ(e.uncompressedSize, files[i].size);
            EXPECT_EQ(e.dosDateTime, test::kFixedDosTime);
            EXPECT_EQ(e.externalAttributes, static_cast<uint32_t>(GetFileAttributes(paths[i])));
        }
        EXPECT_EQ(a.centralOffset, nextOffset);
        test::ExpectExtractsTo(zip, expected);
        archives.push_back(zip);
    }
    test::ExpectOutsideReadersAccept(archives);
}

// a/same.txt, b/SAME.TXT and b/other.txt below `dir`, in that order.
std::vector<AnsiString> TwoFoldersWithOneName(const TTempDir& dir) {
    ForceDirectories(dir / "a");
    ForceDirectories(dir / "b");
    WriteSource(dir / "a/same.txt", "first");
    WriteSource(dir / "b/SAME.TXT", "second");
    WriteSource(dir / "b/other.txt", "other");
    return {dir / "a/same.txt", dir / "b/SAME.TXT", dir / "b/other.txt"};
}

TEST(ZipWriter, AFileNameInTwoListedPathsYieldsOneEntryFromTheFirstLine) {
    TTempDir dir;
    const AnsiString zip = dir / "out.zip";
    EXPECT_EQ(Pack(zip, TwoFoldersWithOneName(dir)), 2);
    TParsedArchive a = ParseArchive(test::ReadAll(zip));
    ExpectConsistent(a);
    ASSERT_EQ(a.entries.size(), 2u);
    EXPECT_EQ(a.entries[0].name, "same.txt");
    EXPECT_EQ(a.entries[1].name, "other.txt");
    test::ExpectExtractsTo(zip, {{"same.txt", "first"}, {"other.txt", "other"}});
}

// With StorePaths the stored name is the path without its drive and leading
// delimiters, with forward slashes; equal file names in different folders
// are then different entries.
TEST(ZipWriter, StorePathsKeepsTheFoldersInTheStoredNames) {
    TTempDir dir;
    const AnsiString zip = dir / "out.zip";
    const std::vector<AnsiString> paths = TwoFoldersWithOneName(dir);
    EXPECT_EQ(Pack(zip, paths, 6, /*storePaths=*/true), 3);
    TParsedArchive a = ParseArchive(test::ReadAll(zip));
    ExpectConsistent(a);
    ASSERT_EQ(a.entries.size(), 3u);
    const char* tails[] = {"/a/same.txt", "/b/SAME.TXT", "/b/other.txt"};
    for (size_t i = 0; i < 3; ++i) {
        AnsiString full = paths[i];
        for (char& c : full)
            if (c == '\\') c = '/';
        const AnsiString& name = a.entries[i].name;
        EXPECT_EQ(name.find_first_of("\\:"), AnsiString::npos) << name;
        EXPECT_NE(name[0], '/') << name;
        // "/" on POSIX, "C:/" on Windows came off the front.
        EXPECT_EQ(full.size() - name.size(), HasDriveColons ? 3u : 1u) << name;
        EXPECT_EQ(full.substr(full.size() - name.size()), name);
        EXPECT_EQ(name.substr(name.size() - std::strlen(tails[i])), tails[i]);
    }
    test::ExpectOutsideReadersAccept(zip);
}

TEST(ZipWriter, GbkNamesKeepTrailBytesAndFoldOnlyAsciiLetters) {
    struct {
        std::vector<std::string> names;
        std::vector<std::string> stored;
    } cases[] = {
        // 誠 (D5 5C) and 錦 (E5 5C): the trail byte is no separator.
        {{"\xD5\x5C.txt", "\xE5\x5C\xD5\x5C.dat"}, {"\xD5\x5C.txt", "\xE5\x5C\xD5\x5C.dat"}},
        // 81 7C: a trail byte '|' is no wildcard.
        {{"x\x81\x7C.txt"}, {"x\x81\x7C.txt"}},
        // 81 41 and 81 61 are two characters: folding their trail bytes
        // would make one a duplicate of the other.
        {{"\x81\x41.txt", "\x81\x61.txt"}, {"\x81\x41.txt", "\x81\x61.txt"}},
        // ASCII letters still fold.
        {{"Name.TXT", "name.txt"}, {"Name.TXT"}},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        ForceDirectories(dir / "d1");
        ForceDirectories(dir / "d2");
        std::vector<AnsiString> paths;
        for (size_t i = 0; i < c.names.size(); ++i) {
            const AnsiString p = dir / ((i % 2 ? "d2/" : "d1/") + c.names[i]);
            WriteSource(p, c.names[i]);
            paths.push_back(p);
        }
        const AnsiString zip = dir / "out.zip";
        EXPECT_EQ(Pack(zip, paths), static_cast<int>(c.stored.size())) << c.names[0];
        TParsedArchive a = ParseArchive(test::ReadAll(zip));
        ExpectConsistent(a);
        std::vector<std::string> stored;
        std::map<std::string, std::string> expected;
        for (const auto& e : a.entries) stored.push_back(e.name);
        for (const auto& s : c.stored) expected[s] = s;
        EXPECT_EQ(stored, c.stored);
        test::ExpectExtractsTo(zip, expected);
        test::ExpectOutsideReadersAccept(zip);
    }
}

TEST(ZipWriter, BlankZipNameWritesNothing) {
    TTempDir dir;
    WriteSource(dir / "a.txt", "a");
    TZipWriter writer;
    writer.SetZipName("  ");
    writer.FilesList.Add(dir / "a.txt");
    EXPECT_EQ(writer.Zip(), 0);
    EXPECT_EQ(writer.FilesList.Count(), 0);
    EXPECT_TRUE(test::FilesIn(dir.Path()).size() == 1);
}

// A writer whose field limits are small enough to reach in a test.
class TSmallLimitsWriter : public TZipWriter {
  public:
    TSmallLimitsWriter(int64_t maxBytes, int maxEntries) {
        maxEntryBytes_ = maxBytes;
        maxEntries_ = maxEntries;
    }
};

TEST(ZipWriter, EntriesBeyondTheFieldLimitsAreSkippedNotWrapped) {
    struct {
        const char* what;
        int64_t maxBytes;
        int maxEntries;
        int level;
        std::vector<std::string> files;  // "name:size"
        std::vector<std::string> kept;
    } cases[] = {
        {"too large in the middle", 1000, 100, 6, {"a:10", "big:5000", "c:20"}, {"a", "c"}},
        {"too large last", 1000, 100, 0, {"a:10", "big:5000"}, {"a"}},
        {"stored size at the limit", 1000, 100, 0, {"edge:1000", "big:1001"}, {"edge"}},
        {"entry count", 1 << 20, 3, 6, {"a:1", "b:2", "c:3", "d:4", "e:5"}, {"a", "b", "c"}},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        TSmallLimitsWriter writer(c.maxBytes, c.maxEntries);
        writer.SetZipName(dir / "out.zip");
        writer.PackLevel = c.level;
        std::map<std::string, std::string> expected;
        std::map<std::string, std::string> all;
        for (const auto& f : c.files) {
            const std::string name = f.substr(0, f.find(':'));
            const std::string data =
                test::MakeInput(std::stoul(f.substr(f.find(':') + 1)), 3, true);
            WriteSource(dir / name, data);
            writer.FilesList.Add(dir / name);
            all[name] = data;
        }
        for (const auto& k : c.kept) expected[k] = all[k];
        EXPECT_EQ(writer.Zip(), static_cast<int>(c.kept.size())) << c.what;
        TParsedArchive a = ParseArchive(test::ReadAll(dir / "out.zip"));
        ExpectConsistent(a);
        test::ExpectExtractsTo(dir / "out.zip", expected);
        test::ExpectOutsideReadersAccept(dir / "out.zip");
    }
}

TEST(ZipWriter, SameInputsGiveTheSameArchiveBytes) {
    TTempDir dir;
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"text.txt", test::MakeInput(150000, 1, true)},
        {"noise.bin", test::MakeInput(70000, 2, false)},
        {"mixed.dat", test::MakeInput(30000, 3, true) + test::MakeInput(30000, 4, false)},
        {"runs.txt", std::string(100000, 'x')},
    };
    std::vector<AnsiString> paths;
    for (const auto& [name, data] : inputs) {
        WriteSource(dir / name, data);
        paths.push_back(dir / name);
    }
    for (int level : {0, 1, 3, 6, 9}) {
        for (const auto& path : paths) {
            const AnsiString one = dir / "one.zip", two = dir / "two.zip";
            DeleteFile(one);
            DeleteFile(two);
            ASSERT_EQ(Pack(one, {path}, level), 1);
            ASSERT_EQ(Pack(two, {path}, level), 1);
            EXPECT_EQ(test::ReadAll(one), test::ReadAll(two)) << path << " level " << level;
        }
        // One writer packing all of them gives the same entry data as one
        // writer per file.
        const AnsiString all = dir / "all.zip";
        DeleteFile(all);
        ASSERT_EQ(Pack(all, paths, level), static_cast<int>(paths.size()));
        TParsedArchive a = ParseArchive(test::ReadAll(all));
        ExpectConsistent(a);
        for (size_t i = 0; i < paths.size(); ++i) {
            const AnsiString single = dir / "single.zip";
            DeleteFile(single);
            Pack(single, {paths[i]}, level);
            TParsedArchive s = ParseArchive(test::ReadAll(single));
            ASSERT_EQ(s.entries.size(), 1u);
            EXPECT_EQ(a.entries[i].data, s.entries[0].data) << paths[i] << " level " << level;
        }
    }
}

}  // namespace
}  // namespace nuva
