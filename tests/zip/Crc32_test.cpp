#include "zip/Crc32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nuva {
namespace {

// The bit-at-a-time definition, as the reference for the table-driven one.
uint32_t SlowCrc(const std::string& s) {
    uint32_t c = 0xFFFFFFFF;
    for (unsigned char b : s) {
        c ^= b;
        for (int i = 0; i < 8; ++i) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

TEST(Crc32, KnownValues) {
    struct {
        std::string input;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000},
        {"a", 0xE8B7BE43},
        {"123456789", 0xCBF43926},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
        {std::string(32, '\0'), 0x190A55AD},
    };
    for (const auto& c : cases) EXPECT_EQ(Crc32(c.input.data(), c.input.size()), c.crc) << c.input;
}

// Every length around the 16-byte step and every split of a running value
// agree with the bitwise definition.
TEST(Crc32, LengthsAndSplitsMatchBitwiseDefinition) {
    std::string data;
    for (int i = 0; i < 80; ++i) data += static_cast<char>(i * 37 + 11);
    for (size_t len = 0; len <= data.size(); ++len) {
        std::string s = data.substr(0, len);
        ASSERT_EQ(Crc32(s.data(), s.size()), SlowCrc(s)) << "length " << len;
        for (size_t split : {size_t(0), len / 3, len / 2, len}) {
            uint32_t r = Crc32Update(kCrc32Preset, s.data(), split);
            r = Crc32Update(r, s.data() + split, len - split);
            ASSERT_EQ(~r, SlowCrc(s)) << "length " << len << " split " << split;
        }
    }
}

// Long buffers take the folding path where the processor has one: both paths
// agree with each other at every length and start around the fold sizes.
TEST(Crc32, FoldingAgreesWithTheTablePath) {
    std::string data(1200, '\0');
    uint32_t x = 12345;
    for (char& c : data) c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
    for (size_t start : {0, 1, 5}) {
        for (size_t len = 0; len + start <= data.size(); len += (len < 200 ? 1 : 37)) {
            const char* p = data.data() + start;
            ASSERT_EQ(Crc32Update(kCrc32Preset, p, len), Crc32UpdatePortable(kCrc32Preset, p, len))
                << "start " << start << " length " << len;
        }
    }
    std::string s = data.substr(3, 777);
    EXPECT_EQ(Crc32(s.data(), s.size()), SlowCrc(s));
}

// Unaligned starts must not change the result.
TEST(Crc32, UnalignedStart) {
    std::vector<char> buf(64 + 7);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<char>(i * 13);
    for (size_t off = 0; off < 7; ++off) {
        std::string s(buf.data() + off, 64);
        EXPECT_EQ(Crc32(buf.data() + off, 64), SlowCrc(s)) << off;
    }
}

}  // namespace
}  // namespace nuva
