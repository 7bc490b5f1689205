// The match copy shared by the window decoders (inflate, reduce, explode).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nuva {

// Copies a match of `length` bytes from `distance` back. May write up to 15
// bytes past the end (the window's slack); the caller checked the distance.
inline uint8_t* CopyMatch(uint8_t* out, size_t distance, size_t length) {
    const uint8_t* src = out - distance;
    uint8_t* end = out + length;
    if (distance >= 16) {
        do {
            std::memcpy(out, src, 16);
            out += 16;
            src += 16;
        } while (out < end);
        return end;
    }
    if (distance == 1) {
        std::memset(out, out[-1], length);
        return end;
    }
    // A short period: copy the pattern onto itself, doubling the copied run
    // each time, until it repeats at a distance of at least 16; then copy
    // wide at that distance.
    size_t period = distance;
    while (period < 16 && out < end) {
        std::memcpy(out, src, period);
        out += period;
        period *= 2;
    }
    src = out - period;
    while (out < end) {
        std::memcpy(out, src, 16);
        out += 16;
        src += 16;
    }
    return end;
}

}  // namespace nuva
