// Implode from untrusted bytes. Byte 0: general purpose flags (bits 1 and 2),
// a large compressed size (bit 0) and input chunking (bits 3-5); bytes 1-2:
// uncompressed size (little-endian); the rest is the stream.
#include "FuzzSupport.h"
#include "zip/codec/Explode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    uint16_t flags = data[0] & 0x06;
    int64_t compressed = (data[0] & 1) ? 300000 : int64_t(size - 3);
    int64_t uncompressed = int64_t(data[1]) | (int64_t(data[2]) << 8);
    nuva::fuzz::TFuzzInput in(data + 3, size - 3, nuva::fuzz::ChunkFor(uint8_t(data[0] >> 3)));
    nuva::fuzz::TFuzzOutput out;
    int r = nuva::TExploder().Run(in, out, flags, compressed, uncompressed);
    if (r < 0 || r > 4) __builtin_trap();
    if (out.total > uint64_t(uncompressed)) __builtin_trap();
    return 0;
}
