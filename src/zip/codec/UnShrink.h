// The shrink decoder (archive entries of method 1): LZW with codes of 9 to
// 13 bits and partial clearing, until the input ends.
//
// Output reaches the output stage in pieces of exactly 32768 bytes and the
// last partial piece at the end. Invalid data stops decoding at once (the
// partial piece is not handed over) with result 1; the caller judges the
// entry by its CRC-32 and size. Stage exceptions pass through; nothing else
// is thrown, whatever the input.
#pragma once

#include "zip/codec/CodecIO.h"

namespace nuva {

// Results of the old-method decoders.
enum : int {
    kLegacyOk = 0,
    kLegacyInvalidData = 1,
    kLegacyOutOfMemory = 3,
    kLegacyBadTree = 4,  // implode: a tree description that does not fill its tree
};

class TUnShrinker {
  public:
    // Decodes one entry; returns kLegacyOk, kLegacyInvalidData or
    // kLegacyOutOfMemory.
    int Run(TCodecInput& in, TCodecOutput& out);
};

}  // namespace nuva
