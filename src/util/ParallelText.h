// Code-page conversions of long texts in pieces side by side on a few
// threads (a TWorkerPool inside the call). Each gives exactly what the
// platform's whole-text conversion gives: pieces end only where a character
// ends. Short texts, or one thread, convert on the calling thread alone.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/Platform.h"

namespace nuva {

// WideToAnsi of `length` UTF-16 units.
AnsiString WideToAnsiParallel(const char16_t* units, size_t length, int threads);
// AnsiToWide of `length` bytes in the system code page, into the buffer of
// `units` UTF-16 units that `allocate` gives (a BSTR, say, with no WideString
// between).
void AnsiToWideParallel(const char* text, size_t length, int threads,
                        const std::function<char16_t*(size_t units)>& allocate);

}  // namespace nuva
