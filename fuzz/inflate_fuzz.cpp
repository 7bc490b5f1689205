// Raw deflate from untrusted bytes. Byte 0 picks how the input stage hands
// out the stream; the rest is the stream.
#include "FuzzSupport.h"
#include "zip/codec/Inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    nuva::fuzz::TFuzzInput in(data + 1, size - 1, nuva::fuzz::ChunkFor(data[0]));
    nuva::fuzz::TFuzzOutput out;
    nuva::TInflater inflater;
    int r = inflater.Run(in, out);
    if (r < 0 || r > 3) __builtin_trap();
    return 0;
}
