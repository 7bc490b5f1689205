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
// in the buffer `allocate(total)` returns.
template <typename TChar, typename TConvert, typename TAllocate>
void ConvertRanges(std::vector<TRange>& ranges, int threads, TConvert convert,
                   TAllocate allocate) {
    TWorkerPool pool(std::clamp(threads, 1, std::max(1, static_cast<int>(ranges.size()))));
    for (TRange& r : ranges) pool.Post([&r, &convert] { r.size = convert(r, nullptr, 0); });
    pool.WaitAll();
    size_t total = 0;
    for (TRange& r : ranges) {
        r.at = total;
        total += r.size;
    }
    TChar* const dest = allocate(total);
    for (TRange& r : ranges)
        pool.Post([&r, &convert, dest] {
            if (convert(r, dest + r.at, r.size) != r.size)
                throw std::logic_error("a conversion gave another length");
        });
    pool.WaitAll();
}

// The code page's ranges of `text`: about kPiece bytes, each through a byte
// below 0x40, which no double-byte character holds; a stretch without one
// stays whole.
std::vector<TRange> AnsiRanges(const char* text, size_t length) {
    std::vector<TRange> ranges;
    for (size_t at = 0; at < length;) {
        size_t end = std::min(length, at + kPiece);
        while (end < length && end > at && static_cast<unsigned char>(text[end - 1]) >= 0x40) --end;
        if (end == at) end = length;
        ranges.push_back(TRange{at, end - at});
        at = end;
    }
    return ranges;
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
    AnsiString out;
    ConvertRanges<char>(
        ranges, threads,
        [units](const TRange& r, char* dest, size_t capacity) {
            return WideToAnsiInto(units + r.start, r.length, dest, capacity);
        },
        [&out](size_t total) {
            out.assign(total, '\0');
            return &out[0];
        });
    return out;
}

void AnsiToWideParallel(const char* text, size_t length, int threads,
                        const std::function<char16_t*(size_t units)>& allocate) {
    std::vector<TRange> ranges = AnsiRanges(text, length);
    ConvertRanges<char16_t>(
        ranges, length < 2 * kPiece ? 1 : threads,
        [text](const TRange& r, char16_t* dest, size_t capacity) {
            return AnsiToWideInto(text + r.start, r.length, dest, capacity);
        },
        allocate);
}

}  // namespace nuva
