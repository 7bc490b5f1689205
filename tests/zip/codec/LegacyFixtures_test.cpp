// The old methods against archives written by other tools.
#include <gtest/gtest.h>

#include <map>

#include "LegacyTestSupport.h"
#include "TestSupport.h"

namespace nuva {
namespace {

struct TExpected {
    const char* archive;
    const char* name;
    uint16_t method;
    uint16_t flags;
    uint32_t size;
    uint32_t crc;
};

// From the fixtures' listing (each entry's size and CRC-32).
const TExpected kExpected[] = {
    {"sharpcompress__Zip.implode.zip", "EXE/TEST.EXE", 6, 0x0000, 45056, 0xcfb109c8},
    {"sharpcompress__Zip.implode.zip", "JPG/TEST.JPG", 0, 0x0000, 40372, 0x088814e3},
    {"sharpcompress__Zip.implode.zip", nullptr, 6, 0x0006, 15498, 0x9bd160fa},  // non-ASCII name
    {"sharpcompress__Zip.reduce1.zip", "TECT.TXT", 1, 0, 15498, 0x9bd160fa},
    {"sharpcompress__Zip.reduce1.zip", "TEST.EXE", 2, 0, 45056, 0xcfb109c8},
    {"sharpcompress__Zip.reduce1.zip", "TEST.JPG", 2, 0, 40372, 0x088814e3},
    {"sharpcompress__Zip.reduce2.zip", "TECT.TXT", 1, 0, 15498, 0x9bd160fa},
    {"sharpcompress__Zip.reduce2.zip", "TEST.EXE", 3, 0, 45056, 0xcfb109c8},
    {"sharpcompress__Zip.reduce2.zip", "TEST.JPG", 3, 0, 40372, 0x088814e3},
    {"sharpcompress__Zip.reduce3.zip", "TECT.TXT", 1, 0, 15498, 0x9bd160fa},
    {"sharpcompress__Zip.reduce3.zip", "TEST.EXE", 4, 0, 45056, 0xcfb109c8},
    {"sharpcompress__Zip.reduce3.zip", "TEST.JPG", 4, 0, 40372, 0x088814e3},
    {"sharpcompress__Zip.reduce4.zip", "TECT.TXT", 1, 0, 15498, 0x9bd160fa},
    {"sharpcompress__Zip.reduce4.zip", "TEST.EXE", 5, 0, 45056, 0xcfb109c8},
    {"sharpcompress__Zip.reduce4.zip", "TEST.JPG", 5, 0, 40372, 0x088814e3},
    {"sharpcompress__Zip.shrink.zip", "TECT.TXT", 1, 0, 15498, 0x9bd160fa},
    {"sharpcompress__Zip.shrink.zip", "TEST.EXE", 1, 0, 45056, 0xcfb109c8},
    {"sharpcompress__Zip.shrink.zip", "TEST.JPG", 0, 0, 40372, 0x088814e3},
    {"zip2__implode.zip", "first.txt", 6, 0x0006, 1092, 0x22957a6e},
    {"zip2__reduce.zip", "first.txt", 5, 0, 1092, 0x22957a6e},
    {"zip2__shrink.zip", "FIRST.TXT", 1, 0, 1092, 0x22957a6e},
};

TEST(LegacyFixturesTest, EveryEntryDecodesToItsSizeAndCrc) {
    if (!test::HaveShared()) GTEST_SKIP() << test::kNoSharedMessage;
    std::map<std::string, std::vector<test::TLocalEntry>> archives;
    std::map<uint32_t, std::string> byCrc;  // the same content in several archives
    for (const TExpected& x : kExpected) {
        auto& entries = archives[x.archive];
        if (entries.empty())
            entries = test::WalkLocalHeaders(
                test::ReadAll(test::FixturePath(std::string("zip/legacy/") + x.archive)));
        const test::TLocalEntry* found = nullptr;
        for (const auto& e : entries)
            if (x.name ? e.name == x.name : (e.crc == x.crc && e.method == x.method)) found = &e;
        ASSERT_NE(found, nullptr) << x.archive << " " << (x.name ? x.name : "?");
        EXPECT_EQ(found->method, x.method);
        EXPECT_EQ(found->flags & 0x0006, x.flags);
        EXPECT_EQ(found->crc, x.crc);
        EXPECT_EQ(found->uncompressedSize, x.size);

        for (size_t chunk : {size_t(1) << 20, size_t(97)}) {
            test::TDecoded d =
                test::DecodeMethod(found->method, found->flags, found->data, found->compressedSize,
                                   found->uncompressedSize, chunk);
            EXPECT_EQ(d.result, 0) << x.archive << " " << found->name;
            EXPECT_EQ(d.bytes.size(), x.size) << x.archive << " " << found->name;
            EXPECT_EQ(test::ZlibCrc32(d.bytes), x.crc) << x.archive << " " << found->name;
            for (size_t i = 0; i + 1 < d.pieces.size(); ++i) EXPECT_EQ(d.pieces[i], 32768u);
            auto it = byCrc.find(x.crc);
            if (it == byCrc.end())
                byCrc[x.crc] = d.bytes;
            else
                EXPECT_TRUE(it->second == d.bytes) << x.archive << " " << found->name;
        }
    }
}

}  // namespace
}  // namespace nuva
