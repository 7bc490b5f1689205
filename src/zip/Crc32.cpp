#include "zip/Crc32.h"

#include <array>

namespace nuva {

namespace {

constexpr size_t kSlices = 16;  // bytes consumed per step of the main loop

using TCrcTables = std::array<std::array<uint32_t, 256>, kSlices>;

// tables[0] is the classic byte table; tables[k][b] is the CRC of byte b
// followed by k zero bytes, so sixteen lookups advance sixteen bytes at once.
constexpr TCrcTables MakeTables() {
    TCrcTables t{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kCrc32Polynomial : c >> 1;
        t[0][b] = c;
    }
    for (size_t k = 1; k < kSlices; ++k)
        for (uint32_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr TCrcTables kTables = MakeTables();

inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t Crc32Update(uint32_t running, const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t c = running;
    while (length >= kSlices) {
        uint32_t a = LoadLe32(p) ^ c;
        uint32_t b = LoadLe32(p + 4);
        uint32_t d = LoadLe32(p + 8);
        uint32_t e = LoadLe32(p + 12);
        c = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
            kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
            kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][d & 0xFF] ^
            kTables[6][(d >> 8) & 0xFF] ^ kTables[5][(d >> 16) & 0xFF] ^ kTables[4][d >> 24] ^
            kTables[3][e & 0xFF] ^ kTables[2][(e >> 8) & 0xFF] ^ kTables[1][(e >> 16) & 0xFF] ^
            kTables[0][e >> 24];
        p += kSlices;
        length -= kSlices;
    }
    while (length--) c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xFF];
    return c;
}

}  // namespace nuva
