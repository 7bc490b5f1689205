#include "platform/Errors.h"

#include <cstdio>
#include <vector>

namespace nuva {

AnsiString FormatV(const char* format, va_list args) {
    char small[256];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return AnsiString();
    if (static_cast<size_t>(n) < sizeof small) return AnsiString(small, static_cast<size_t>(n));
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return AnsiString(big.data(), static_cast<size_t>(n));
}

AnsiString Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AnsiString result = FormatV(format, args);
    va_end(args);
    return result;
}

EReadError::EReadError() : EStreamError(msg::kStreamRead) {}

EReadError::EReadError(const AnsiString& reason)
    : EStreamError(Format(msg::kStreamReadReason, reason.c_str())) {}

EWriteError::EWriteError() : EStreamError(msg::kStreamWrite) {}

EWriteError::EWriteError(const AnsiString& reason)
    : EStreamError(Format(msg::kStreamWriteReason, reason.c_str())) {}

EFOpenError::EFOpenError(const AnsiString& path, const AnsiString& reason)
    : EStreamError(Format(msg::kFOpen, path.c_str(), reason.c_str())) {}

EFCreateError::EFCreateError(const AnsiString& path, const AnsiString& reason)
    : EStreamError(Format(msg::kFCreate, path.c_str(), reason.c_str())) {}

EListError::EListError(long long index) : Exception(Format("List index out of bounds (%lld)", index)) {}

}  // namespace nuva
