// ServerSupport: what the parts of nuva-server share: texts in UTF-8, the
// one generator of unique names and tokens, the escaping of log fields and
// the answer of an internal failure.
//
// Threads: every function may be called from any thread.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace nuva::server {

// A UTF-16 text of the server's own, in UTF-8.
std::string Utf8(const char16_t* text);

// A token no other call in this process returns: a random number of the
// process (six hexadecimal digits) and a sequence number, "3fa2c1-17". Work
// and store directories are named with it, and so are internal failures.
AnsiString UniqueToken();

// A field of the log line: UTF-8 text stays as it is; control bytes, DEL,
// backslash, bytes that are not UTF-8 and (with `escapeSpace`, for the
// fields that end at a space) the space become \xNN (backslash \\). The
// result never holds a line break.
std::string LogField(const std::string& bytes, bool escapeSpace);
// The same for a text of the system code page (a request header's field):
// converted to UTF-8 when it converts back unchanged, otherwise every byte
// outside ASCII escaped too.
std::string LogAnsiField(const AnsiString& text, bool escapeSpace);

// An internal failure: the answer names only a token, which the log line
// holds together with the reason.
struct TInternalError {
    std::string answer;  // "服务器内部错误:" + token
    std::string log;     // the answer, then the reason
};
TInternalError InternalError(const std::string& reasonUtf8);

}  // namespace nuva::server
