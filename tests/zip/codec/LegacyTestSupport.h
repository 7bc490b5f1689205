// Test helpers for the old methods: a walk over the local headers of an
// archive without data descriptors (until the real reader exists), and one
// call that runs the decoder an entry's method names.
//
// Local header, as read here:
//   offset  size  field
//   0       4     signature 0x04034B50
//   6       2     general purpose flags
//   8       2     method
//   14      4     CRC-32
//   18      4     compressed size
//   22      4     uncompressed size
//   26      2     name length
//   28      2     extra field length
//   30      n     name, then the extra field, then the compressed data
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CodecTestSupport.h"
#include "zip/codec/Explode.h"
#include "zip/codec/Inflate.h"
#include "zip/codec/UnReduce.h"
#include "zip/codec/UnShrink.h"

namespace nuva::test {

struct TLocalEntry {
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    std::string data;  // the compressed bytes
};

inline uint32_t ReadLe(const std::string& s, size_t at, unsigned bytes) {
    uint32_t v = 0;
    for (unsigned i = 0; i < bytes; ++i) v |= uint32_t(uint8_t(s[at + i])) << (8 * i);
    return v;
}

// The entries from the start of the archive up to the first position that
// does not hold a whole local header and its data.
inline std::vector<TLocalEntry> WalkLocalHeaders(const std::string& archive) {
    std::vector<TLocalEntry> entries;
    size_t pos = 0;
    while (pos + 30 <= archive.size() && ReadLe(archive, pos, 4) == 0x04034B50) {
        TLocalEntry e;
        e.flags = uint16_t(ReadLe(archive, pos + 6, 2));
        e.method = uint16_t(ReadLe(archive, pos + 8, 2));
        e.crc = ReadLe(archive, pos + 14, 4);
        e.compressedSize = ReadLe(archive, pos + 18, 4);
        e.uncompressedSize = ReadLe(archive, pos + 22, 4);
        size_t nameLen = ReadLe(archive, pos + 26, 2), extraLen = ReadLe(archive, pos + 28, 2);
        size_t dataAt = pos + 30 + nameLen + extraLen;
        if (dataAt + e.compressedSize > archive.size()) break;
        e.name = archive.substr(pos + 30, nameLen);
        e.data = archive.substr(dataAt, e.compressedSize);
        entries.push_back(e);
        pos = dataAt + e.compressedSize;
    }
    return entries;
}

struct TDecoded {
    int result = -1;
    std::string bytes;
    std::vector<size_t> pieces;
};

// Runs the decoder of `method` (0 copies) over `data`.
inline TDecoded DecodeMethod(uint16_t method, uint16_t flags, const std::string& data,
                             int64_t compressedSize, int64_t uncompressedSize,
                             size_t chunk = ~size_t(0), bool view = false) {
    TMemoryInput in(data, chunk);
    in.view = view;
    TMemoryOutput out;
    TDecoded d;
    switch (method) {
        case 0:
            d.result = 0;
            out.bytes = data;
            break;
        case 1:
            d.result = TUnShrinker().Run(in, out);
            break;
        case 2:
        case 3:
        case 4:
        case 5:
            d.result = TUnReducer().Run(in, out, method - 1, uncompressedSize);
            break;
        case 6:
            d.result = TExploder().Run(in, out, flags, compressedSize, uncompressedSize);
            break;
        case 8:
            d.result = TInflater().Run(in, out);
            break;
        default:
            break;
    }
    d.bytes = out.bytes;
    d.pieces = out.pieces;
    return d;
}

}  // namespace nuva::test
