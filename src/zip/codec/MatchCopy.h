// The match copy shared by the window decoders (inflate, reduce, explode).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nuva {

// Copies a match of `length` bytes from `distance` back. May write up to 31
// bytes past the end (the window's slack); the caller checked the distance.
inline uint8_t* CopyMatch(uint8_t* out, size_t distance, size_t length) {
    const uint8_t* src = out - distance;
    uint8_t* end = out + length;
    if (distance == 1) {
        std::memset(out, out[-1], length);
        return end;
    }
    // A short period: copy the pattern onto itself, doubling the copied run
    // each time, until it repeats at a distance of at least 32.
    size_t period = distance;
    if (period < 32) {
        while (period < 32 && out < end) {
            std::memcpy(out, src, period);
            out += period;
            period *= 2;
        }
        src = out - period;
    }
    // Wide copies; each reads only bytes written before it.
    while (out < end) {
        std::memcpy(out, src, 16);
        std::memcpy(out + 16, src + 16, 16);
        out += 32;
        src += 32;
    }
    return end;
}

}  // namespace nuva
