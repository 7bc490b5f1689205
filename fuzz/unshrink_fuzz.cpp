// Shrink from untrusted bytes. Byte 0 picks the input chunking; the rest is
// the stream.
#include "FuzzSupport.h"
#include "zip/codec/UnShrink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    nuva::fuzz::TFuzzInput in(data + 1, size - 1, nuva::fuzz::ChunkFor(data[0]));
    nuva::fuzz::TFuzzOutput out;
    int r = nuva::TUnShrinker().Run(in, out);
    if (r != 0 && r != 1) __builtin_trap();
    return 0;
}
