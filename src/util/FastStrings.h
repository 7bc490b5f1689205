// FastStrings: replace-all on 8-bit strings over a Boyer-Moore-Horspool
// search with a 256-entry skip table, case-sensitive or folding through the
// system code page's upper-case map.
//
// Strings are bytes in the system code page. The no-case variant folds every
// byte through `UpperCaseMap()`, trail bytes of double-byte characters
// included; the XML callers only ever use the case-sensitive variant.
//
// Threads: every function may be called from any thread; the upper-case map
// is built once and read-only afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Errors.h"

namespace nuva {

// One entry per byte value: how far the window may move when that byte lies
// under the pattern's last position.
using TSkipTable = int32_t[256];

// The result of a search that found nothing.
inline constexpr size_t kNoMatch = static_cast<size_t>(-1);

// The upper-case form of every byte in the system code page: the bytes
// 0..255 passed once through the platform's upper-casing. Built once, on
// first use; shared and read-only.
const uint8_t* UpperCaseMap();

// Fills `table` for `pattern` of `patternLen` bytes. Raises Exception
// "BufferLen is 0" when `patternLen` is 0.
void MakeSkipTable(const char* pattern, size_t patternLen, TSkipTable& table);
// The same with every pattern byte folded through `UpperCaseMap()`.
void MakeSkipTableNoCase(const char* pattern, size_t patternLen, TSkipTable& table);

// The offset of the first occurrence of `pattern` in `buffer`, or kNoMatch.
// `table` must come from MakeSkipTable (or MakeSkipTableNoCase for the no-case
// search) for the same pattern; `patternLen` must not be 0.
size_t SearchBuffer(const char* buffer, const char* pattern, size_t bufferLen, size_t patternLen,
                    const TSkipTable& table);
size_t SearchBufferNoCase(const char* buffer, const char* pattern, size_t bufferLen,
                          size_t patternLen, const TSkipTable& table);

// `source` with every occurrence of `find` replaced by `replacement`,
// matched left to right without overlap; the search never looks at the
// bytes it has put in. An empty `find` returns `source` unchanged. Raises
// nothing but std::bad_alloc.
AnsiString FastReplace(const AnsiString& source, const AnsiString& find,
                       const AnsiString& replacement, bool caseSensitive);

namespace detail {
// The output buffer's size before the first match: the largest possible
// output when the replacement is longer than `find` (computed in 64 bits),
// the source length otherwise.
uint64_t ReplaceCapacity(uint64_t sourceLen, uint64_t findLen, uint64_t replacementLen);
// The next capacity when the output reaches the current one: 1.5 times,
// truncated, and always at least one byte more.
uint64_t GrowCapacity(uint64_t capacity);
}  // namespace detail

}  // namespace nuva
