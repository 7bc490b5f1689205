// The implode decoder (archive entries of method 6): a sliding window with
// Shannon-Fano coded lengths and distances, and optionally coded literals,
// until the entry's uncompressed size has been produced.
//
// General purpose flags: bit 1 (2) selects the 8 KiB window (7 low distance
// bits) instead of 4 KiB (6 bits); bit 2 (4) selects a coded literal tree
// (and a minimum match of 3 instead of 2).
//
// Output reaches the output stage in pieces of exactly 32768 bytes and the
// last partial piece at the end. A distance before the entry's first byte
// yields zeros. Results: kLegacyBadTree for a tree description that does
// not fill its tree exactly, the table builder's result (1 incomplete, 2
// over-subscribed) for a tree that is no prefix code, kLegacyInvalidData for
// a code that decodes to nothing or input that ends early. Stage exceptions
// pass through; nothing else is thrown, whatever the input.
#pragma once

#include <cstdint>

#include "zip/codec/CodecIO.h"
#include "zip/codec/UnShrink.h"  // the result codes

namespace nuva {

class TExploder {
  public:
    int Run(TCodecInput& in, TCodecOutput& out, uint16_t generalFlags, int64_t compressedSize,
            int64_t uncompressedSize);
};

}  // namespace nuva
