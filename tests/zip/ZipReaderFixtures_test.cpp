// The reader over archives written by other tools (../shared/fixtures/zip).
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "ReaderTestSupport.h"
#include "zip/Crc32.h"

namespace nuva {
namespace {

using test::ExtractFile;
using test::FixturePath;

struct TExpectedFile {
    const char* name;
    uint16_t method;
    uint32_t size;
    uint32_t crc;
};

struct TFixtureCase {
    const char* archive;
    const char* error;  // "" when UnZip must succeed
    std::vector<TExpectedFile> files;
};

const std::vector<TFixtureCase>& Cases() {
    static const std::vector<TExpectedFile> goTest = {{"test.txt", 8, 26, 0xc3edd7c0},
                                                      {"gophercolor16x16.png", 0, 785, 0x54d531fe}};
    static const std::vector<TFixtureCase> cases = {
        {"go__test.zip", "", goTest},
        {"go__test-prefix.zip", "", goTest},         // 43 bytes before the archive: rebuilt
        {"go__test-trailing-junk.zip", "", goTest},  // 14 bytes after the comment
        {"go__test-baddirsz.zip", "", goTest},       // wrong directory size is not used
        {"go__comment-truncated.zip", "", {{"FILE", 0, 1, 0xb969be79}}},
        {"go__crc32-not-streamed.zip",
         "",
         {{"foo.txt", 0, 4, 0x7e3265a8}, {"bar.txt", 0, 4, 0x04a2b3e9}}},
        {"go__dd.zip", "", {{"filename", 8, 25, 0xa2e3d6d3}}},
        {"go__subdir.zip", "", {{"c", 0, 0, 0}}},
        {"go__time-infozip.zip", "", {{"test.txt", 0, 0, 0}}},
        {"go__unix.zip",
         "",
         {{"hello", 0, 8, 0x7d13fc8d}, {"bar", 0, 6, 0x7a7e9b9e}, {"readonly", 0, 12, 0xba6e115a}}},
        {"go__readme.notzip", "Incomplete Zip File", {}},
        {"go__zip64.zip", "Incomplete Zip File", {}},  // end record offset 0xFFFFFFFF
    };
    return cases;
}

TEST(ZipReaderFixtures, ExtractsSupportedEntriesAndRefusesTheRest) {
    if (!test::HaveShared()) GTEST_SKIP() << test::kNoSharedMessage;
    for (const TFixtureCase& c : Cases()) {
        SCOPED_TRACE(c.archive);
        test::TTempDir dir;
        auto r = ExtractFile(FixturePath(std::string("zip/structure/") + c.archive), dir / "out");
        EXPECT_EQ(r.error, c.error);
        size_t expected = 0;
        for (const TExpectedFile& f : c.files) {
            ++expected;
            ASSERT_EQ(r.files.count(f.name), 1u) << f.name;
            const std::string& data = r.files[f.name];
            EXPECT_EQ(data.size(), f.size) << f.name;
            EXPECT_EQ(Crc32(data.data(), data.size()), f.crc) << f.name;
        }
        EXPECT_EQ(r.files.size(), expected);
        EXPECT_EQ(r.written.size(), expected);
        if (!*c.error) {
            EXPECT_EQ(r.filesExtracted == r.fileEntries, expected == c.files.size());
        }
    }
}

// The old methods, through the reader: every entry whose method this build
// decodes comes out with its size and CRC; the names are not compared (one is
// stored in a code page of its own).
TEST(ZipReaderFixtures, LegacyMethods) {
    if (!test::HaveShared()) GTEST_SKIP() << test::kNoSharedMessage;
    const TExpectedFile exe{"", 0, 45056, 0xcfb109c8}, jpg{"", 0, 40372, 0x088814e3},
        txt{"", 0, 15498, 0x9bd160fa}, first{"", 0, 1092, 0x22957a6e};
    auto with = [](TExpectedFile f, uint16_t method) {
        f.method = method;
        return f;
    };
    const std::vector<std::pair<const char*, std::vector<TExpectedFile>>> cases = {
        {"sharpcompress__Zip.implode.zip", {with(exe, 6), with(jpg, 0), with(txt, 6)}},
        {"sharpcompress__Zip.reduce1.zip", {with(txt, 1), with(exe, 2), with(jpg, 2)}},
        {"sharpcompress__Zip.reduce2.zip", {with(txt, 1), with(exe, 3), with(jpg, 3)}},
        {"sharpcompress__Zip.reduce3.zip", {with(txt, 1), with(exe, 4), with(jpg, 4)}},
        {"sharpcompress__Zip.reduce4.zip", {with(txt, 1), with(exe, 5), with(jpg, 5)}},
        {"sharpcompress__Zip.shrink.zip", {with(txt, 1), with(exe, 1), with(jpg, 0)}},
        {"zip2__implode.zip", {with(first, 6)}},
        {"zip2__reduce.zip", {with(first, 5)}},
        {"zip2__shrink.zip", {with(first, 1)}},
    };
    for (const auto& [archive, files] : cases) {
        SCOPED_TRACE(archive);
        test::TTempDir dir;
        auto r = ExtractFile(FixturePath(std::string("zip/legacy/") + archive), dir / "out");
        EXPECT_EQ(r.error, "");
        std::multiset<std::pair<size_t, uint32_t>> expected, got;
        for (const TExpectedFile& f : files)
            expected.insert({f.size, f.crc});
        for (const auto& [name, data] : r.files)
            got.insert({data.size(), Crc32(data.data(), data.size())});
        EXPECT_EQ(got, expected);
    }
}

// Entries from a Unix host keep their names as stored and do not take their
// external attributes (mode bits in the upper word).
TEST(ZipReaderFixtures, UnixHostAttributesAreNotApplied) {
    if (!test::HaveShared()) GTEST_SKIP() << test::kNoSharedMessage;
    test::TTempDir dir;
    auto r = ExtractFile(FixturePath("zip/structure/go__unix.zip"), dir / "out");
    ASSERT_EQ(r.error, "");
    int32_t attributes = GetFileAttributes(dir / "out/readonly");
    ASSERT_GE(attributes, 0);
    EXPECT_EQ(attributes & faReadOnly, 0);
}

TEST(ZipReaderFixtures, IncompleteZipModes) {
    if (!test::HaveShared()) GTEST_SKIP() << test::kNoSharedMessage;
    struct {
        TIncompleteZipMode mode;
        const char* error;
        size_t files;
    } cases[] = {
        {TIncompleteZipMode::izAssumeMulti, "Incomplete Zip File", 0},
        {TIncompleteZipMode::izAssumeNotAZip, "Not a valid zip file!", 0},
        // Rebuilt from its local header; the entry is deflated.
        {TIncompleteZipMode::izAssumeBad, "", 1u},
    };
    for (const auto& c : cases) {
        test::TTempDir dir;
        auto r = ExtractFile(FixturePath("zip/structure/go__readme.notzip"), dir / "out",
                             [&](TZipReader& z) { z.IncompleteZipMode = c.mode; });
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.files.size(), c.files);
        if (c.mode == TIncompleteZipMode::izAssumeBad) {
            EXPECT_EQ(r.fileEntries, 1);
        }
    }
}

}  // namespace
}  // namespace nuva
