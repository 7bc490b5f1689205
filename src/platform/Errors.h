// The system's error currency: one exception base carrying a message in the
// system code page, and the platform's file and stream errors with their exact
// texts. Every module derives its own errors from `Exception`; each message
// text lives in exactly one place (here for the platform's, beside the module
// for the others).
//
// Thread safety: the classes are plain values; throw and catch them anywhere.
#pragma once

#include <cstdarg>
#include <exception>
#include <string>

namespace nuva {

// Bytes in the system code page (GBK on the target machines).
using AnsiString = std::string;
// UTF-16, used only at the COM boundary and in component calls.
using WideString = std::u16string;

// printf-style formatting into an AnsiString. Never throws for a valid format.
AnsiString Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
AnsiString FormatV(const char* format, va_list args);

// The base of every error the system raises. `what()` returns the message
// bytes (system code page) unchanged.
class Exception : public std::exception {
public:
    explicit Exception(AnsiString message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const AnsiString& Message() const noexcept { return message_; }

private:
    AnsiString message_;
};

// A stream operation failed: "Stream read error", "Stream write error",
// "Putback overflow", "Seek error", "Invalid seek origin (%d)".
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// `ReadBuffer` delivered fewer bytes than asked: "Stream read error"; the
// system refused a read: "Stream read error. <system reason>".
class EReadError : public EStreamError {
public:
    EReadError();
    explicit EReadError(const AnsiString& reason);
};

// `WriteBuffer` took fewer bytes than asked: "Stream write error"; the
// system refused a write: "Stream write error. <system reason>".
class EWriteError : public EStreamError {
public:
    EWriteError();
    explicit EWriteError(const AnsiString& reason);
};

// A file could not be opened: `Cannot open file "<path>". <system reason>`.
class EFOpenError : public EStreamError {
public:
    EFOpenError(const AnsiString& path, const AnsiString& reason);
};

// A file could not be created: `Cannot create file "<path>". <system reason>`.
class EFCreateError : public EStreamError {
public:
    EFCreateError(const AnsiString& path, const AnsiString& reason);
};

// A string list was indexed outside its lines: "List index out of bounds (%d)".
class EListError : public Exception {
public:
    explicit EListError(long long index);
};

// The exact message texts, for callers and tests that compare them.
namespace msg {
inline constexpr const char kStreamRead[] = "Stream read error";
inline constexpr const char kStreamWrite[] = "Stream write error";
inline constexpr const char kStreamReadReason[] = "Stream read error. %s";
inline constexpr const char kStreamWriteReason[] = "Stream write error. %s";
inline constexpr const char kFOpen[] = "Cannot open file \"%s\". %s";
inline constexpr const char kFCreate[] = "Cannot create file \"%s\". %s";
inline constexpr const char kListIndex[] = "List index out of bounds (%d)";
inline constexpr const char kPutbackOverflow[] = "Putback overflow";
inline constexpr const char kSeekError[] = "Seek error";
inline constexpr const char kInvalidSeekOrigin[] = "Invalid seek origin (%d)";
}  // namespace msg

}  // namespace nuva
