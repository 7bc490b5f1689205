#include "util/ParallelText.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "util/Workers.h"

namespace nuva {

namespace {

// Texts shorter than two pieces convert on the caller.
constexpr size_t kPiece = 1024 * 1024;  // units or bytes

struct TRange {
    size_t start, length;
    size_t size = 0;  // of its conversion
    size_t at = 0;    // where its conversion goes
};

// Counts every range's conversion on the pool, then writes each into place
// in a string of the total size.
template <typename TOut, typename TConvert>
TOut ConvertRanges(std::vector<TRange>& ranges, int threads, TConvert convert) {
    TWorkerPool pool(std::min(threads, static_cast<int>(ranges.size())));
    for (TRange& r : ranges) pool.Post([&r, &convert] { r.size = convert(r, nullptr, 0); });
    pool.WaitAll();
    size_t total = 0;
    for (TRange& r : ranges) {
        r.at = total;
        total += r.size;
    }
    TOut out(total, typename TOut::value_type());
    auto* const dest = &out[0];
    for (TRange& r : ranges)
        pool.Post([&r, &convert, dest] {
            if (convert(r, dest + r.at, r.size) != r.size)
                throw std::logic_error("a conversion gave another length");
        });
    pool.WaitAll();
    return out;
}

}  // namespace

AnsiString WideToAnsiParallel(const char16_t* units, size_t length, int threads) {
    if (threads <= 1 || length < 2 * kPiece) return WideToAnsi(units, length);
    std::vector<TRange> ranges;
    for (size_t at = 0; at < length;) {
        size_t end = std::min(length, at + kPiece);
        // Never between a high and a low surrogate.
        if (end < length && units[end - 1] >= 0xD800 && units[end - 1] <= 0xDBFF) ++end;
        ranges.push_back(TRange{at, end - at});
        at = end;
    }
    return ConvertRanges<AnsiString>(ranges, threads, [units](const TRange& r, char* dest, size_t capacity) {
        return WideToAnsiInto(units + r.start, r.length, dest, capacity);
    });
}

WideString AnsiToWideParallel(const char* text, size_t length, int threads) {
    if (threads <= 1 || length < 2 * kPiece) return AnsiToWide(AnsiString(text, length));
    std::vector<TRange> ranges;
    for (size_t at = 0; at < length;) {
        size_t end = std::min(length, at + kPiece);
        // Through a byte below 0x40, which no double-byte character holds;
        // a text without one stays whole.
        while (end < length && end > at && static_cast<unsigned char>(text[end - 1]) >= 0x40) --end;
        if (end == at) end = length;
        ranges.push_back(TRange{at, end - at});
        at = end;
    }
    return ConvertRanges<WideString>(ranges, threads, [text](const TRange& r, char16_t* dest, size_t capacity) {
        return AnsiToWideInto(text + r.start, r.length, dest, capacity);
    });
}

}  // namespace nuva
