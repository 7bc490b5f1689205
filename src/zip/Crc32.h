// The zip check value: CRC-32 with the reflected polynomial 0xEDB88320, preset
// 0xFFFFFFFF and a final complement (the check value of "123456789" is
// 0xCBF43926).
//
// Two ways to use it:
//   - whole buffers: `Crc32(data, n)` returns the finished value;
//   - running: start at `kCrc32Preset`, feed every piece through
//     `Crc32Update`, complement once at the end (`~crc`). The extractor keeps
//     the running value this way across its output windows.
//
// Table-driven, sixteen bytes per step; on x86 processors with carry-less
// multiplication, long buffers are folded 64 bytes per step instead (chosen
// at run time). Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nuva {

inline constexpr uint32_t kCrc32Preset = 0xFFFFFFFFu;
inline constexpr uint32_t kCrc32Polynomial = 0xEDB88320u;  // reflected

// Advances a running (not complemented) value over `length` bytes.
uint32_t Crc32Update(uint32_t running, const void* data, size_t length);

// The table-driven path alone (the reference for the folding one).
uint32_t Crc32UpdatePortable(uint32_t running, const void* data, size_t length);

// The finished check value of one buffer.
inline uint32_t Crc32(const void* data, size_t length) {
    return ~Crc32Update(kCrc32Preset, data, length);
}

}  // namespace nuva
