#include "util/FastStrings.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/Platform.h"

namespace nuva {

namespace {

constexpr char kEmptyPatternMessage[] = "BufferLen is 0";

struct TUpperCaseMap {
    uint8_t map[256];
    TUpperCaseMap() {
        char bytes[256];
        for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
        UpperCaseBuffer(bytes, sizeof bytes);
        std::memcpy(map, bytes, sizeof map);
    }
};

struct TIdentity {
    uint8_t operator()(char c) const { return static_cast<uint8_t>(c); }
};

struct TFold {
    const uint8_t* map;
    uint8_t operator()(char c) const { return map[static_cast<uint8_t>(c)]; }
};

template <typename Key>
void BuildSkipTable(const char* pattern, size_t patternLen, TSkipTable& table, Key key) {
    if (patternLen == 0) throw Exception(kEmptyPatternMessage);
    const int32_t m = static_cast<int32_t>(
        std::min<size_t>(patternLen, static_cast<size_t>(std::numeric_limits<int32_t>::max())));
    std::fill(table, table + 256, m);
    // Later positions overwrite earlier ones: each entry ends up holding the
    // byte's distance from the pattern's end. The last byte is not entered.
    for (size_t i = 0; i + 1 < patternLen; ++i)
        table[key(pattern[i])] = static_cast<int32_t>(std::min<size_t>(patternLen - 1 - i, m));
}

// Horspool: compare from the window's last byte backwards; on a difference,
// move by the entry of the byte under the pattern's last position.
template <typename Key>
size_t Search(const char* buffer, const char* pattern, size_t bufferLen, size_t patternLen,
              const TSkipTable& table, Key key) {
    if (patternLen == 0 || bufferLen < patternLen) return kNoMatch;
    size_t w = patternLen - 1;
    while (w < bufferLen) {
        size_t k = 0;
        while (k < patternLen && key(buffer[w - k]) == key(pattern[patternLen - 1 - k])) ++k;
        if (k == patternLen) return w - patternLen + 1;
        w += static_cast<size_t>(table[key(buffer[w])]);
    }
    return kNoMatch;
}

// The output of one replace: one buffer, sized up front, grown by half when
// a copy would reach its end.
class TOutput {
  public:
    TOutput(uint64_t sourceLen, uint64_t findLen, uint64_t replacementLen) {
        uint64_t capacity = detail::ReplaceCapacity(sourceLen, findLen, replacementLen);
        if (capacity == 0 || !Allocate(capacity)) {
            // (source + replacement) * 1.5, truncated.
            uint64_t fallback = sourceLen + replacementLen;
            fallback += fallback / 2;
            if (!Allocate(std::max<uint64_t>(fallback, 1))) throw std::bad_alloc();
        }
    }

    // Appends the bytes before a match and the replacement, growing first when
    // the running length reaches the capacity.
    void Append(const char* before, size_t beforeLen, const char* insert, size_t insertLen) {
        const uint64_t needed = static_cast<uint64_t>(length_) + beforeLen + insertLen;
        if (needed >= capacity_) {
            uint64_t capacity = capacity_;
            while (needed >= capacity) capacity = detail::GrowCapacity(capacity);
            Resize(capacity);
        }
        Copy(before, beforeLen);
        Copy(insert, insertLen);
    }

    // Appends the rest of the source after the last match; it only has to fit.
    void AppendRest(const char* rest, size_t restLen) {
        const uint64_t needed = static_cast<uint64_t>(length_) + restLen;
        if (needed > capacity_) Resize(needed);
        Copy(rest, restLen);
    }

    AnsiString Take() const { return AnsiString(buffer_.get(), length_); }

  private:
    bool Allocate(uint64_t capacity) {
        if (capacity > std::numeric_limits<size_t>::max() / 2) return false;
        buffer_.reset(new (std::nothrow) char[static_cast<size_t>(capacity)]);
        if (!buffer_) return false;
        capacity_ = static_cast<size_t>(capacity);
        return true;
    }

    void Copy(const char* bytes, size_t count) {
        if (count == 0) return;
        std::memcpy(buffer_.get() + length_, bytes, count);
        length_ += count;
    }

    void Resize(uint64_t capacity) {
        std::unique_ptr<char[]> old = std::move(buffer_);
        if (!Allocate(capacity)) throw std::bad_alloc();
        if (length_ != 0) std::memcpy(buffer_.get(), old.get(), length_);
    }

    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0;
    size_t length_ = 0;
};

}  // namespace

const uint8_t* UpperCaseMap() {
    // Built on the first call rather than while the library is being loaded:
    // the Windows upper-casing lives in user32, which a loader-time call
    // should not rely on.
    static const TUpperCaseMap map;
    return map.map;
}

void MakeSkipTable(const char* pattern, size_t patternLen, TSkipTable& table) {
    BuildSkipTable(pattern, patternLen, table, TIdentity());
}

void MakeSkipTableNoCase(const char* pattern, size_t patternLen, TSkipTable& table) {
    BuildSkipTable(pattern, patternLen, table, TFold{UpperCaseMap()});
}

size_t SearchBuffer(const char* buffer, const char* pattern, size_t bufferLen, size_t patternLen,
                    const TSkipTable& table) {
    return Search(buffer, pattern, bufferLen, patternLen, table, TIdentity());
}

size_t SearchBufferNoCase(const char* buffer, const char* pattern, size_t bufferLen,
                          size_t patternLen, const TSkipTable& table) {
    return Search(buffer, pattern, bufferLen, patternLen, table, TFold{UpperCaseMap()});
}

namespace detail {

uint64_t ReplaceCapacity(uint64_t sourceLen, uint64_t findLen, uint64_t replacementLen) {
    if (findLen == 0 || replacementLen <= findLen) return sourceLen;
    // floor(source * replacement / find) without forming the product:
    // source = q * find + r, so the result is q * replacement + r * replacement / find.
    const uint64_t kMax = std::numeric_limits<uint64_t>::max();
    const uint64_t q = sourceLen / findLen;
    const uint64_t r = sourceLen % findLen;
    if (q != 0 && replacementLen > kMax / q) return kMax;
    const uint64_t whole = q * replacementLen;
    // r < find < replacement; r * replacement fits when replacement is small.
    uint64_t part;
    if (r == 0) {
        part = 0;
    } else if (replacementLen <= kMax / r) {
        part = r * replacementLen / findLen;
    } else {
        return kMax;
    }
    return whole > kMax - part ? kMax : whole + part;
}

uint64_t GrowCapacity(uint64_t capacity) {
    const uint64_t kMax = std::numeric_limits<uint64_t>::max();
    if (capacity > kMax / 3 * 2) return kMax;
    return std::max(capacity + capacity / 2, capacity + 1);
}

}  // namespace detail

AnsiString FastReplace(const AnsiString& source, const AnsiString& find,
                       const AnsiString& replacement, bool caseSensitive) {
    if (source.empty()) return AnsiString();
    // Every caller passes a constant; an empty one leaves the text alone.
    if (find.empty()) return source;

    TSkipTable table;
    if (caseSensitive)
        MakeSkipTable(find.data(), find.size(), table);
    else
        MakeSkipTableNoCase(find.data(), find.size(), table);
    TOutput out(source.size(), find.size(), replacement.size());

    const char* rest = source.data();
    size_t restLen = source.size();
    while (restLen >= find.size()) {
        size_t p = caseSensitive
                       ? SearchBuffer(rest, find.data(), restLen, find.size(), table)
                       : SearchBufferNoCase(rest, find.data(), restLen, find.size(), table);
        if (p == kNoMatch) break;
        out.Append(rest, p, replacement.data(), replacement.size());
        rest += p + find.size();
        restLen -= p + find.size();
    }
    out.AppendRest(rest, restLen);
    return out.Take();
}

}  // namespace nuva
