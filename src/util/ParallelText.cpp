#include "util/ParallelText.h"

#include <algorithm>
#include <memory>
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

// Converts every range on the pool into a buffer of its own with room for
// `perInput` output units per input unit (one pass over the input), then
// copies each into place in the buffer `allocate(total)` returns.
template <typename TChar, typename TConvert, typename TAllocate>
void ConvertRanges(std::vector<TRange>& ranges, int threads, size_t perInput, TConvert convert,
                   TAllocate allocate) {
    TWorkerPool pool(std::clamp(threads, 1, std::max(1, static_cast<int>(ranges.size()))));
    std::vector<std::unique_ptr<TChar[]>> parts(ranges.size());
    for (size_t i = 0; i < ranges.size(); ++i)
        pool.Post([&r = ranges[i], &part = parts[i], &convert, perInput] {
            const size_t room = r.length * perInput;
            part.reset(new TChar[room]);
            r.size = convert(r, part.get(), room);
            if (r.size > room) throw std::logic_error("a conversion outgrew its bound");
        });
    pool.WaitAll();
    size_t total = 0;
    for (TRange& r : ranges) {
        r.at = total;
        total += r.size;
    }
    TChar* const dest = allocate(total);
    for (size_t i = 0; i < ranges.size(); ++i)
        pool.Post([&r = ranges[i], &part = parts[i], dest] {
            std::copy_n(part.get(), r.size, dest + r.at);
            part.reset();
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
    // At most two bytes per unit.
    ConvertRanges<char>(
        ranges, threads, 2,
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
    // At most one unit per byte.
    ConvertRanges<char16_t>(
        ranges, length < 2 * kPiece ? 1 : threads, 1,
        [text](const TRange& r, char16_t* dest, size_t capacity) {
            return AnsiToWideInto(text + r.start, r.length, dest, capacity);
        },
        allocate);
}

}  // namespace nuva
