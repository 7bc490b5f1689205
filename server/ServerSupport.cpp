#include "ServerSupport.h"

#include <atomic>
#include <random>

#include "platform/Platform.h"
#include "util/util.h"

namespace nuva::server {

namespace {

constexpr char16_t kInternal[] = u"服务器内部错误:";  // + token

// The length of the UTF-8 sequence at `i` (2-4), or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
size_t Utf8Sequence(const std::string& s, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    size_t n;
    unsigned min;
    unsigned value;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, min = 0x80, value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, min = 0x800, value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, min = 0x10000, value = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (at(i + k) & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

std::string Utf8(const char16_t* text) {
    return AnsiToUtf8(WideToAnsi(text));
}

AnsiString UniqueToken() {
    static const unsigned token = std::random_device()() & 0xFFFFFF;
    static std::atomic<unsigned> sequence{0};
    return Format("%06x-%u", token, ++sequence);
}

std::string LogField(const std::string& bytes, bool escapeSpace) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c > 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (c == 0x20 && !escapeSpace) {
            out += ' ';
            ++i;
        } else if (const size_t n = c >= 0x80 ? Utf8Sequence(bytes, i) : 0) {
            out.append(bytes, i, n);
            i += n;
        } else {
            static const char digits[] = "0123456789abcdef";
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
            ++i;
        }
    }
    return out;
}

std::string LogAnsiField(const AnsiString& text, bool escapeSpace) {
    const std::string utf8 = AnsiToUtf8(text);
    if (Utf8ToAnsi(utf8) == text) return LogField(utf8, escapeSpace);
    std::string out;
    for (const char c : text)
        out += static_cast<unsigned char>(c) < 0x80 ? LogField(std::string(1, c), escapeSpace)
                                                    : Format("\\x%02x", c & 0xFF);
    return out;
}

TInternalError InternalError(const std::string& reasonUtf8) {
    TInternalError e;
    e.answer = Utf8(kInternal) + UniqueToken();
    e.log = e.answer + " " + reasonUtf8;
    return e;
}

}  // namespace nuva::server
