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
// multiplication, buffers of 64 bytes and more are folded instead: 128 bytes
// per step in eight 128-bit lanes, or, where the processor multiplies whole
// vectors (VPCLMULQDQ), 128 bytes per step in four 256-bit lanes (AVX2) or
// 256 bytes per step in four 512-bit lanes (AVX-512). The widest method the
// processor runs is chosen once, at the first call. Pure functions; any
// thread.
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

// The ways of computing the value, narrowest first. Every one gives the same
// value; which of them this build has and this processor runs is known at
// run time.
enum class TCrc32Method {
    kTable,    // sixteen table lookups per 16 bytes; every processor
    kFold128,  // carry-less multiplication of 128-bit lanes (PCLMULQDQ, SSE4.1)
    kFold256,  // of 256-bit lanes (VPCLMULQDQ, AVX2); 64-bit builds for Linux
    kFold512,  // of 512-bit lanes (VPCLMULQDQ, AVX-512F); 64-bit builds for Linux
};

// Whether this build has `method` and this processor runs it.
bool Crc32MethodAvailable(TCrc32Method method);

// The widest available method: the one Crc32Update uses.
TCrc32Method Crc32BestMethod();

// Crc32Update with a given method, for tests and benchmarks. A method that
// is not available computes with the table instead (never with instructions
// the processor lacks); the narrower methods finish what a wider one leaves
// (the tail of a buffer, buffers too short for its lanes).
uint32_t Crc32UpdateWith(TCrc32Method method, uint32_t running, const void* data,
                         size_t length);

// The finished check value of one buffer.
inline uint32_t Crc32(const void* data, size_t length) {
    return ~Crc32Update(kCrc32Preset, data, length);
}

}  // namespace nuva
