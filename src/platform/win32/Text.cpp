// The system code page on Windows: the real conversions of the "A" world.
// UTF-8 goes through UTF-16 in two steps, as Windows has no direct path.
#include "platform/win32/Win32Internal.h"

#include <climits>

#include "platform/Platform.h"

namespace nuva {

namespace {

// The API takes int lengths; the texts here are far below that, but a
// longer one must not wrap into a negative length.
int ClampedLength(size_t n) {
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

WideString MultiByteToWide(UINT codePage, const std::string& s) {
    if (s.empty()) return WideString();
    int inLen = ClampedLength(s.size());
    int n = MultiByteToWideChar(codePage, 0, s.data(), inLen, nullptr, 0);
    if (n <= 0) return WideString();
    WideString w(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(codePage, 0, s.data(), inLen, reinterpret_cast<wchar_t*>(&w[0]), n);
    return w;
}

std::string WideToMultiByte(UINT codePage, const char16_t* units, size_t length) {
    if (length == 0) return std::string();
    int inLen = ClampedLength(length);
    const wchar_t* in = reinterpret_cast<const wchar_t*>(units);
    int n = WideCharToMultiByte(codePage, 0, in, inLen, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, in, inLen, &s[0], n, nullptr, nullptr);
    return s;
}

}  // namespace

unsigned SystemCodePage() {
    return GetACP();
}

bool IsLeadByte(unsigned char b) {
    // No code page has a lead byte below 0x80: ASCII asks the system nothing.
    return b >= 0x80 && IsDBCSLeadByte(b) != FALSE;
}

WideString AnsiToWide(const AnsiString& s) {
    return MultiByteToWide(CP_ACP, s);
}

AnsiString WideToAnsi(const WideString& s) {
    return WideToMultiByte(CP_ACP, s.data(), s.size());
}

AnsiString WideToAnsi(const char16_t* units, size_t length) {
    return WideToMultiByte(CP_ACP, units, length);
}

size_t WideToAnsiInto(const char16_t* units, size_t length, char* dest, size_t capacity) {
    if (length == 0) return 0;
    const int inLen = ClampedLength(length);
    const wchar_t* in = reinterpret_cast<const wchar_t*>(units);
    const int n = WideCharToMultiByte(CP_ACP, 0, in, inLen, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return 0;
    if (dest && static_cast<size_t>(n) <= capacity)
        WideCharToMultiByte(CP_ACP, 0, in, inLen, dest, n, nullptr, nullptr);
    return static_cast<size_t>(n);
}

size_t AnsiToWideInto(const char* text, size_t length, char16_t* dest, size_t capacity) {
    if (length == 0) return 0;
    const int inLen = ClampedLength(length);
    // A byte never gives more than one unit: with room for as many units as
    // bytes, one call converts.
    if (dest && capacity >= length && length <= INT_MAX)
        return static_cast<size_t>(
            MultiByteToWideChar(CP_ACP, 0, text, inLen, reinterpret_cast<wchar_t*>(dest), inLen));
    const int n = MultiByteToWideChar(CP_ACP, 0, text, inLen, nullptr, 0);
    if (n <= 0) return 0;
    if (dest && static_cast<size_t>(n) <= capacity)
        MultiByteToWideChar(CP_ACP, 0, text, inLen, reinterpret_cast<wchar_t*>(dest), n);
    return static_cast<size_t>(n);
}

size_t AnsiToWideInto(const AnsiString& s, char16_t* dest, size_t capacity) {
    return AnsiToWideInto(s.data(), s.size(), dest, capacity);
}

std::string AnsiToUtf8(const AnsiString& s) {
    const WideString w = AnsiToWide(s);
    return WideToMultiByte(CP_UTF8, w.data(), w.size());
}

WideString Utf8ToWide(const std::string& s) {
    return MultiByteToWide(CP_UTF8, s);
}

AnsiString Utf8ToAnsi(const std::string& s) {
    return WideToAnsi(MultiByteToWide(CP_UTF8, s));
}

void UpperCaseBuffer(char* buffer, size_t length) {
    // CharUpperBuffA takes a DWORD count: walk a huge buffer in pieces.
    const size_t kPiece = 1u << 30;  // bytes
    while (length > 0) {
        size_t n = length < kPiece ? length : kPiece;
        CharUpperBuffA(buffer, static_cast<DWORD>(n));
        buffer += n;
        length -= n;
    }
}

// The "Buff" forms take a length, so that a name with an embedded NUL is
// converted whole; in GBK and its OEM twin the length does not change.
AnsiString AnsiToOem(const AnsiString& s) {
    if (s.empty()) return AnsiString();
    AnsiString out(s.size(), '\0');
    CharToOemBuffA(s.data(), &out[0], static_cast<DWORD>(s.size()));
    return out;
}

AnsiString OemToAnsi(const AnsiString& s) {
    if (s.empty()) return AnsiString();
    AnsiString out(s.size(), '\0');
    OemToCharBuffA(s.data(), &out[0], static_cast<DWORD>(s.size()));
    return out;
}

}  // namespace nuva
