// Reduce. The stream starts with 256 follower sets, for the byte values 255
// down to 0: 6 bits of set size (0-63), then that many 8-bit followers. Then
// each byte of an intermediate stream: when the previous byte's set is empty,
// 8 bits; otherwise 1 bit, and 1 means 8 bits follow while 0 means an index
// into the set follows (1 bit for sets of 1-2, 2 for 3-4, 3 for 5-8, 4 for
// 9-16, 5 for 17-32, 6 for 33-63). The previous byte starts at 0.
//
// The intermediate stream: byte 144 (DLE) followed by 0 is a literal 144;
// followed by V != 0 it starts a back-reference: length L = V & lengthMask
// (plus the next byte when L equals the mask), distance
// ((V >> shift) & distanceMask) * 256 + next byte + 1, and L + 3 bytes are
// copied. Every other byte is itself.
#include "zip/codec/UnReduce.h"

#include <memory>
#include <new>

#include "zip/codec/LegacyBitReader.h"
#include "zip/codec/MatchCopy.h"
#include "zip/codec/OutputWindow.h"

namespace nuva {
namespace {

constexpr unsigned kRunMarker = 144;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxFollowers = 64;  // room per set; the size field allows 63

struct TFactor {
    unsigned lengthMask;
    unsigned distanceShift;
    unsigned distanceMask;
};
constexpr TFactor kFactors[4] = {{127, 7, 1}, {63, 6, 3}, {31, 5, 7}, {15, 4, 15}};

unsigned IndexBits(unsigned setSize) {
    unsigned bits = 1;
    while ((1u << bits) < setSize) ++bits;
    return bits;
}

struct TReduceState {
    uint8_t followers[256][kMaxFollowers];
    uint8_t setSize[256];
};

}  // namespace

int TUnReducer::Run(TCodecInput& in, TCodecOutput& out, int factor, int64_t uncompressedSize) {
    if (factor < 1 || factor > 4 || uncompressedSize < 0) return kLegacyInvalidData;
    const TFactor& f = kFactors[factor - 1];
    std::unique_ptr<TLegacyBitReader> bits;
    std::unique_ptr<TOutputWindow> window;
    std::unique_ptr<TReduceState> state;
    try {
        bits.reset(new TLegacyBitReader(in));
        window.reset(new TOutputWindow);
        state.reset(new TReduceState());
    } catch (const std::bad_alloc&) {
        return kLegacyOutOfMemory;
    }
    window->Start(out, true);
    TReduceState& s = *state;

    for (int value = 255; value >= 0; --value) {
        unsigned size = bits->Read(6);
        s.setSize[value] = uint8_t(size);
        for (unsigned i = 0; i < size; ++i) s.followers[value][i] = uint8_t(bits->Read(8));
        if (bits->Ended()) return kLegacyInvalidData;
    }

    uint64_t left = uint64_t(uncompressedSize);
    unsigned previous = 0;
    int phase = 0;  // 0: plain, 1: after the marker, 2: length byte next, 3: distance byte next
    unsigned v = 0, length = 0;
    TOutputWindow& w = *window;
    while (left > 0) {
        unsigned size = s.setSize[previous];
        unsigned byte;
        if (size == 0 || bits->Read(1) == 1) {
            byte = bits->Read(8);
        } else {
            unsigned index = bits->Read(IndexBits(size));
            byte = s.followers[previous][index];  // an index past the set reads a zero slot
        }
        if (bits->Ended()) return kLegacyInvalidData;
        previous = byte;

        switch (phase) {
            case 0:
                if (byte != kRunMarker) {
                    *w.out++ = uint8_t(byte);
                    --left;
                } else {
                    phase = 1;
                }
                break;
            case 1:
                if (byte == 0) {
                    *w.out++ = uint8_t(kRunMarker);
                    --left;
                    phase = 0;
                } else {
                    v = byte;
                    length = byte & f.lengthMask;
                    phase = length == f.lengthMask ? 2 : 3;
                }
                break;
            case 2:
                length += byte;
                phase = 3;
                break;
            default: {
                size_t distance = ((v >> f.distanceShift) & f.distanceMask) * 256 + byte + 1;
                uint64_t n = length + kMinMatch;
                if (n > left) n = left;
                w.out = CopyMatch(w.out, distance, size_t(n));
                left -= n;
                phase = 0;
                break;
            }
        }
        w.FlushIfFull();
    }
    w.FlushRest();
    return kLegacyOk;
}

}  // namespace nuva
