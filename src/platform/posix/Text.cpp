// System code page on POSIX: GBK through iconv, fixed. Upper-casing changes
// ASCII a-z only; ANSI and OEM are the same code page (936), so the OEM
// conversions are the identity.
//
// What Windows' code page 936 does beyond the C library's GBK is left out:
// it maps 0xFF, the user-defined areas and the unassigned codes to the
// private use area (0xFEFE is U+E4C5 there), which here become '?'. Text of
// whole ordinary characters converts the same on both platforms; a lone lead
// byte at the end becomes '?' on both.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "platform/Platform.h"

namespace nuva {

namespace {

// One conversion descriptor per direction and thread, opened on first use
// (opening one costs more than converting a short path) and reset to its
// initial state before each use.
iconv_t Descriptor(const char* to, const char* from) {
    struct TCached {
        const char* to;
        const char* from;
        iconv_t cd;
    };
    struct TCache {
        TCached entries[4] = {};
        ~TCache() {
            for (TCached& e : entries)
                if (e.to) iconv_close(e.cd);
        }
    };
    thread_local TCache cache;
    for (TCached& e : cache.entries) {
        if (e.to && std::strcmp(e.to, to) == 0 && std::strcmp(e.from, from) == 0) {
            iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
            return e.cd;
        }
        if (!e.to) {
            iconv_t cd = iconv_open(to, from);
            if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
            e = TCached{to, from, cd};
            return cd;
        }
    }
    return reinterpret_cast<iconv_t>(-1);  // not reached: four directions are used
}

// True when every unit is below 0x80: such text is the same characters in
// the code page, UTF-8 and UTF-16, so it converts without iconv.
template <typename TUnit>
bool AllAscii(const TUnit* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (static_cast<uint32_t>(static_cast<std::make_unsigned_t<TUnit>>(text[i])) >= 0x80)
            return false;
    return true;
}

// Converts `in` from one iconv encoding to another. Bytes that cannot be
// converted are replaced by '?' (U+003F) and skipped, as the Windows
// conversions replace them with the default character.
std::string Convert(const char* to, const char* from, const char* in, size_t inLen,
                    size_t unitSize) {
    iconv_t cd = Descriptor(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string();
    std::string out;
    out.resize(inLen * 4 + 16);
    char* src = const_cast<char*>(in);
    size_t srcLeft = inLen;
    size_t used = 0;
    while (srcLeft > 0) {
        char* dst = &out[used];
        size_t dstLeft = out.size() - used;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL: replace one input unit by '?' in the target encoding.
        size_t skip = std::min(srcLeft, unitSize);
        src += skip;
        srcLeft -= skip;
        static const char16_t kQuestion16 = u'?';
        if (std::strcmp(to, "UTF-16LE") == 0) {
            if (out.size() - used < 2) out.resize(out.size() * 2 + 2);
            std::memcpy(&out[used], &kQuestion16, 2);
            used += 2;
        } else {
            if (out.size() - used < 1) out.resize(out.size() * 2 + 1);
            out[used++] = '?';
        }
    }
    // Flush any shift state.
    char* dst = &out[used];
    size_t dstLeft = out.size() - used;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    used = out.size() - dstLeft;
    out.resize(used);
    return out;
}

}  // namespace

unsigned SystemCodePage() {
    return 936;
}

bool IsLeadByte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

WideString AnsiToWide(const AnsiString& s) {
    if (AllAscii(s.data(), s.size())) return WideString(s.begin(), s.end());
    std::string bytes = Convert("UTF-16LE", "GBK", s.data(), s.size(), 1);
    WideString w(bytes.size() / 2, u'\0');
    std::memcpy(w.data(), bytes.data(), w.size() * 2);
    return w;
}

AnsiString WideToAnsi(const WideString& s) {
    if (AllAscii(s.data(), s.size())) return AnsiString(s.begin(), s.end());
    return Convert("GBK", "UTF-16LE", reinterpret_cast<const char*>(s.data()), s.size() * 2, 2);
}

std::string AnsiToUtf8(const AnsiString& s) {
    if (AllAscii(s.data(), s.size())) return s;
    return Convert("UTF-8", "GBK", s.data(), s.size(), 1);
}

WideString Utf8ToWide(const std::string& s) {
    if (AllAscii(s.data(), s.size())) return WideString(s.begin(), s.end());
    std::string bytes = Convert("UTF-16LE", "UTF-8", s.data(), s.size(), 1);
    WideString w(bytes.size() / 2, u'\0');
    std::memcpy(w.data(), bytes.data(), w.size() * 2);
    return w;
}

// Through UTF-16, as on Windows: a character outside GBK becomes one '?' per
// UTF-16 unit, not one per UTF-8 byte.
AnsiString Utf8ToAnsi(const std::string& s) {
    if (AllAscii(s.data(), s.size())) return s;
    std::string utf16 = Convert("UTF-16LE", "UTF-8", s.data(), s.size(), 1);
    return Convert("GBK", "UTF-16LE", utf16.data(), utf16.size(), 2);
}

void UpperCaseBuffer(char* buffer, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (buffer[i] >= 'a' && buffer[i] <= 'z') buffer[i] = static_cast<char>(buffer[i] - 32);
}

AnsiString AnsiToOem(const AnsiString& s) {
    return s;
}

AnsiString OemToAnsi(const AnsiString& s) {
    return s;
}

}  // namespace nuva
