// The reduce decoder (archive entries of methods 2 to 5, compression factor
// 1 to 4): follower sets that predict each byte from the one before, then a
// run-length and back-reference expansion, until the entry's uncompressed
// size has been produced.
//
// Output reaches the output stage in pieces of exactly 32768 bytes and the
// last partial piece at the end. A back-reference before the entry's first
// byte yields zeros. Input that ends early, or a factor outside 1..4, is
// invalid data (result 1; the partial piece is not handed over). Stage
// exceptions pass through; nothing else is thrown, whatever the input.
#pragma once

#include <cstdint>

#include "zip/codec/CodecIO.h"
#include "zip/codec/UnShrink.h"  // the result codes

namespace nuva {

class TUnReducer {
  public:
    // Returns kLegacyOk, kLegacyInvalidData or kLegacyOutOfMemory.
    int Run(TCodecInput& in, TCodecOutput& out, int factor /*1..4*/, int64_t uncompressedSize);
};

}  // namespace nuva
