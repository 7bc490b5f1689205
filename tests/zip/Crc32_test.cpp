#include "zip/Crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
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

// Every method this processor runs agrees with the table at every length
// and start around its lane sizes and step sizes (the tails left for
// narrower lanes, for 16-byte pieces and for the table), and as a running
// value split anywhere. Methods the processor or the build lacks skip.
class Crc32MethodTest : public ::testing::TestWithParam<TCrc32Method> {};

TEST_P(Crc32MethodTest, AgreesWithTheTable) {
    const TCrc32Method method = GetParam();
    if (!Crc32MethodAvailable(method)) GTEST_SKIP() << "not available on this processor or build";
    std::string data(4200, '\0');
    uint32_t x = 12345;
    for (char& c : data) c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
    for (size_t start : {0, 1, 5, 63}) {
        for (size_t len = 0; len + start <= data.size(); len += (len < 600 ? 1 : 29)) {
            const char* p = data.data() + start;
            const uint32_t want = Crc32UpdatePortable(0x12345678, p, len);
            ASSERT_EQ(Crc32UpdateWith(method, 0x12345678, p, len), want)
                << "start " << start << " length " << len;
        }
    }
    for (size_t split : {size_t(64), size_t(255), size_t(256), size_t(1000), size_t(2049)}) {
        uint32_t r = Crc32UpdateWith(method, kCrc32Preset, data.data(), split);
        r = Crc32UpdateWith(method, r, data.data() + split, data.size() - split);
        ASSERT_EQ(~r, SlowCrc(data)) << "split " << split;
    }
}

// Long buffers, with zlib's crc32 as the oracle: sizes around the 512-bit
// method's 256-byte step and well past the extractor's 32 KiB windows, at
// starts of every alignment mod 64, the running value carried through
// pieces of uneven sizes as the reader hands them over.
TEST_P(Crc32MethodTest, AgreesWithZlibOnLongBuffers) {
    const TCrc32Method method = GetParam();
    if (!Crc32MethodAvailable(method)) GTEST_SKIP() << "not available on this processor or build";
    std::vector<unsigned char> data((1 << 20) + 128);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (unsigned char& c : data) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<unsigned char>(x);
    }
    auto zlibCrc = [&](size_t start, size_t len) {
        return static_cast<uint32_t>(
            crc32(crc32(0, nullptr, 0), data.data() + start, static_cast<uInt>(len)));
    };
    struct {
        size_t start;
        size_t length;
    } cases[] = {{0, 511}, {1, 512}, {3, 513}, {17, 4095}, {33, 32768}, {63, 65536 + 17},
                 {64, 300000}, {7, 1 << 20}};
    for (const auto& c : cases) {
        const uint32_t want = zlibCrc(c.start, c.length);
        EXPECT_EQ(~Crc32UpdateWith(method, kCrc32Preset, data.data() + c.start, c.length), want)
            << "start " << c.start << " length " << c.length;
        uint32_t running = kCrc32Preset;
        size_t at = 0, piece = 1;
        while (at < c.length) {
            const size_t n = std::min(piece, c.length - at);
            running = Crc32UpdateWith(method, running, data.data() + c.start + at, n);
            at += n;
            piece = piece * 3 + 5;
        }
        EXPECT_EQ(~running, want) << "in pieces, start " << c.start << " length " << c.length;
    }
}

std::string MethodName(const ::testing::TestParamInfo<TCrc32Method>& info) {
    static const char* const kNames[] = {"Table", "Fold128", "Fold256", "Fold512"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Methods, Crc32MethodTest,
                         ::testing::Values(TCrc32Method::kTable, TCrc32Method::kFold128,
                                           TCrc32Method::kFold256, TCrc32Method::kFold512),
                         MethodName);

// The default path is the widest method the processor runs, and it never
// picks one the processor lacks.
TEST(Crc32, DefaultUsesTheWidestAvailableMethod) {
    const TCrc32Method best = Crc32BestMethod();
    EXPECT_TRUE(Crc32MethodAvailable(best));
    for (int m = static_cast<int>(best) + 1; m <= static_cast<int>(TCrc32Method::kFold512); ++m)
        EXPECT_FALSE(Crc32MethodAvailable(static_cast<TCrc32Method>(m))) << m;
    std::string s(5000, 'q');
    for (size_t i = 0; i < s.size(); i += 7) s[i] = static_cast<char>(i);
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
