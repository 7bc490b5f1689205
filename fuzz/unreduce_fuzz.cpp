// Reduce from untrusted bytes. Byte 0: factor (low 2 bits + 1) and input
// chunking (bits 2-4); bytes 1-2: uncompressed size (little-endian); the
// rest is the stream.
#include "FuzzSupport.h"
#include "zip/codec/UnReduce.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    int factor = (data[0] & 3) + 1;
    int64_t uncompressed = int64_t(data[1]) | (int64_t(data[2]) << 8);
    nuva::fuzz::TFuzzInput in(data + 3, size - 3, nuva::fuzz::ChunkFor(uint8_t(data[0] >> 2)));
    nuva::fuzz::TFuzzOutput out;
    int r = nuva::TUnReducer().Run(in, out, factor, uncompressed);
    if (r != 0 && r != 1) __builtin_trap();
    if (out.total > uint64_t(uncompressed)) __builtin_trap();
    return 0;
}
