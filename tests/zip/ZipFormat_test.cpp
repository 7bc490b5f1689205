#include "zip/ZipFormat.h"

#include <gtest/gtest.h>

#include "ZipBuilder.h"

namespace nuva {
namespace {

using test::BuildZip;
using test::TTestEntry;

uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
    return static_cast<uint32_t>((y - 1980) << 25 | mo << 21 | d << 16 | h << 11 | mi << 5 | s / 2);
}

TEST(SanitizeDosDateTime, ClampsEachPartAndKeepsValidValues) {
    struct {
        uint32_t in, out;
        const char* what;
    } cases[] = {
        {Dos(2024, 2, 29, 13, 45, 58), Dos(2024, 2, 29, 13, 45, 58), "valid value unchanged"},
        {0x00000000, 0x00210000, "zero reads as 1980-01-01 00:00:00"},
        {0x0021001E, 0x0021001D, "60 seconds clamp to 59, stored as 29"},
        {0x0021C000, Dos(1980, 1, 1, 23, 0, 0), "hour 24 -> 23"},
        {0x00210780, Dos(1980, 1, 1, 0, 59, 0), "minute 60 -> 59"},
        {0x01A10000, Dos(1980, 12, 1, 0, 0, 0), "month 13 -> 12"},
        {0x00200000, Dos(1980, 1, 1, 0, 0, 0), "day 0 -> 1"},
        {0xFE210000, Dos(2099, 1, 1, 0, 0, 0), "year 2107 -> 2099"},
        {Dos(2099, 12, 31, 23, 59, 58), Dos(2099, 12, 31, 23, 59, 58), "upper bounds valid"},
    };
    for (const auto& c : cases) EXPECT_EQ(SanitizeDosDateTime(c.in), c.out) << c.what;
}

TEST(ZipHeaderInfo, StoredNameRules) {
    struct {
        const char* stored;
        uint8_t host;
        const char* dir;
        const char* file;
    } cases[] = {
        {"plain.txt", 0, "", "plain.txt"},
        {"a/b/c.txt", 0, "a\\b\\", "c.txt"},
        {"a\\b\\c.txt", 3, "a\\b\\", "c.txt"},
        {"dir/", 0, "dir\\", ""},
        {"C:x.txt", 0, "C:", "x.txt"},
        // 誠 is D5 5C in GBK: its trail byte is no separator.
        {"d/\xD5\x5C.txt", 0, "d\\", "\xD5\x5C.txt"},
        {"\xD5\x5C", 3, "", "\xD5\x5C"},
    };
    for (const auto& c : cases) {
        TZipHeaderInfo e;
        e.versionMadeBy = static_cast<uint16_t>(c.host << 8 | 20);
        e.SetStoredName(c.stored);
        EXPECT_EQ(e.Directory(), c.dir) << c.stored;
        EXPECT_EQ(e.FileName(), c.file) << c.stored;
        EXPECT_EQ(e.fileNameLength, std::string(c.dir).size() + std::string(c.file).size())
            << c.stored;
    }
}

bool FindIn(const std::string& bytes, TEndCentral& end) {
    TMemoryStream s;
    s.Data().assign(bytes.begin(), bytes.end());
    return FindEndCentral(s, end) && CheckEndCentral(end);
}

TEST(FindEndCentral, OneToTwentyOneBytesAreNotFound) {
    std::string endRecord = BuildZip({}).bytes;  // 22 bytes
    for (size_t n = 1; n < 22; ++n) {
        TEndCentral end;
        EXPECT_FALSE(FindIn(endRecord.substr(0, n), end)) << n;
        EXPECT_FALSE(FindIn(endRecord.substr(22 - n), end)) << n;
    }
    TEndCentral end;
    EXPECT_TRUE(FindIn(endRecord, end));
}

TEST(FindEndCentral, CommentOfMaximumLengthIsFoundFurtherIsNot) {
    test::TEndOverrides o;
    o.comment.assign(65535, 'c');
    TTestEntry e{"a.txt", "abc"};
    auto z = BuildZip({e}, o);
    TEndCentral end;
    ASSERT_TRUE(FindIn(z.bytes, end));
    EXPECT_EQ(end.totalEntries, 1);
    EXPECT_EQ(end.commentLength, 65535);
    EXPECT_EQ(end.commentOffset, static_cast<int64_t>(z.endOffset + 22));
    // One byte more after the comment moves the record out of reach.
    EXPECT_FALSE(FindIn(z.bytes + "x", end));
}

TEST(CheckEndCentral, DiskNumbersAndOffset) {
    struct {
        uint16_t thisDisk, centralDisk;
        uint32_t offset;
        bool ok;
    } cases[] = {
        {0, 0, 0, true},  {999, 999, 0, true}, {1000, 0, 0, false},      {0, 1000, 0, false},
        {1, 2, 0, false}, {2, 1, 0, true},     {0, 0, 0x7FFFFFFF, true}, {0, 0, 0x80000000, false},
    };
    for (const auto& c : cases) {
        TEndCentral end;
        end.thisDisk = c.thisDisk;
        end.centralDisk = c.centralDisk;
        end.centralOffset = c.offset;
        EXPECT_EQ(CheckEndCentral(end), c.ok)
            << c.thisDisk << "/" << c.centralDisk << " " << c.offset;
    }
}

TEST(ReadCentralHeader, ShortOrForeignBytesLeaveThePositionAlone) {
    auto z = BuildZip({TTestEntry{"dir/name.txt", "hello"}});
    const std::string header = z.bytes.substr(z.centralOffset, 46 + 12);
    struct {
        std::string bytes;
        bool ok;
    } cases[] = {
        {header, true},
        {header.substr(0, 45), false},             // header cut
        {header.substr(0, 46 + 11), false},        // name cut
        {"PK\x03\x04" + header.substr(4), false},  // a local signature
    };
    for (const auto& c : cases) {
        TMemoryStream s;
        s.Data().assign(4, 'x');
        s.Data().insert(s.Data().end(), c.bytes.begin(), c.bytes.end());
        s.Seek(4, soBeginning);
        TZipHeaderInfo e;
        ASSERT_EQ(ReadCentralHeader(s, e), c.ok) << c.bytes.size();
        if (c.ok) {
            EXPECT_EQ(e.FileName(), "name.txt");
            EXPECT_EQ(e.Directory(), "dir\\");
            EXPECT_EQ(e.uncompressedSize, 5u);
            EXPECT_EQ(e.centralHeaderOffset, 4u);
            EXPECT_EQ(s.Position(), 4 + 46 + 12);
        } else {
            EXPECT_EQ(s.Position(), 4);
        }
    }
}

}  // namespace
}  // namespace nuva
