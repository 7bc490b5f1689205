// System code page on POSIX: GBK, fixed: by table between the code page and
// UTF-16, through iconv to and from UTF-8. Upper-casing changes
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

// Converts `in` from one iconv encoding to another, straight into the
// result's own buffer (a std::string of bytes or a WideString of UTF-16
// units). Bytes that cannot be converted are replaced by '?' (U+003F) and
// skipped one input unit at a time, as the Windows conversions replace them
// with the default character.
template <typename TOut>
TOut Convert(const char* to, const char* from, const char* in, size_t inLen, size_t unitSize) {
    using TUnit = typename TOut::value_type;
    TOut out;
    iconv_t cd = Descriptor(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    // Sized for the output at once: UTF-16 from GBK or UTF-8 takes at most
    // two bytes per input byte, GBK from UTF-16 at most one, UTF-8 from GBK
    // at most one and a half; the buffer grows if not.
    const size_t perInput = std::strcmp(from, "UTF-16LE") == 0 ? 1 : 2;
    out.resize((inLen * perInput + 16) / sizeof(TUnit));
    auto bytesOf = [&out] { return out.size() * sizeof(TUnit); };
    char* src = const_cast<char*>(in);
    size_t srcLeft = inLen;
    size_t used = 0;  // bytes
    auto room = [&](size_t bytes) {
        if (bytesOf() - used < bytes) out.resize(out.size() * 2 + bytes);
    };
    while (srcLeft > 0) {
        char* dst = reinterpret_cast<char*>(&out[0]) + used;
        size_t dstLeft = bytesOf() - used;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = bytesOf() - dstLeft;
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
            room(2);
            std::memcpy(reinterpret_cast<char*>(&out[0]) + used, &kQuestion16, 2);
            used += 2;
        } else {
            room(1);
            reinterpret_cast<char*>(&out[0])[used++] = '?';
        }
    }
    // Flush any shift state.
    room(16);
    char* dst = reinterpret_cast<char*>(&out[0]) + used;
    size_t dstLeft = bytesOf() - used;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    used = bytesOf() - dstLeft;
    out.resize(used / sizeof(TUnit));
    return out;
}

// GBK by table: the C library's own mapping (GbkTable.inc, generated from
// it and checked both ways by tools/gbk_table), without iconv's per-call
// cost. Decoding and encoding replace what has no mapping by '?' one input
// unit at a time, exactly as the iconv conversions above do.
constexpr uint16_t kGbkDecode[] = {
#include "platform/posix/GbkTable.inc"
};
constexpr unsigned kLeadFirst = 0x81;
constexpr unsigned kTrailFirst = 0x40;
constexpr unsigned kTrailCount = 191;      // 0x40..0xFE
constexpr unsigned char kEuroByte = 0x80;  // the one single byte beyond ASCII
constexpr char16_t kEuro = u'\u20AC';
static_assert(sizeof kGbkDecode / sizeof kGbkDecode[0] == 126 * kTrailCount,
              "one row per lead byte");

// The character of a double-byte code, or 0 when it has none.
inline char16_t DecodePair(unsigned char lead, unsigned char trail) {
    if (trail < kTrailFirst || trail == 0xFF) return 0;
    return kGbkDecode[(lead - kLeadFirst) * kTrailCount + (trail - kTrailFirst)];
}

// The reverse of kGbkDecode for every UTF-16 unit: the bytes it becomes, as
// they lie in memory (the lead byte first), and how many there are. ASCII
// stays itself, the euro sign is 0x80, and a unit without a code (a
// surrogate among them) is '?'.
struct TGbkEncodeTable {
    uint16_t bytes[0x10000];
    uint8_t width[0x10000];
};

const TGbkEncodeTable& GbkEncodeTable() {
    static const TGbkEncodeTable* table = [] {
        static TGbkEncodeTable t;
        for (unsigned unit = 0; unit < 0x10000; ++unit) {
            t.bytes[unit] = unit < 0x80 ? static_cast<uint16_t>(unit) : uint16_t{'?'};
            t.width[unit] = 1;
        }
        for (unsigned i = 0; i < sizeof kGbkDecode / sizeof kGbkDecode[0]; ++i) {
            const char16_t unit = kGbkDecode[i];
            if (!unit) continue;
            const uint8_t lead = static_cast<uint8_t>(kLeadFirst + i / kTrailCount);
            const uint8_t trail = static_cast<uint8_t>(kTrailFirst + i % kTrailCount);
            const uint8_t pair[2] = {lead, trail};
            std::memcpy(&t.bytes[unit], pair, 2);
            t.width[unit] = 2;
        }
        t.bytes[kEuro] = kEuroByte;
        t.width[kEuro] = 1;
        return &t;
    }();
    return *table;
}

constexpr uint64_t kHighBytes = 0x8080808080808080ull;  // eight bytes >= 0x80

// Decodes `n` bytes of GBK text into UTF-16 units, unit i going to
// dest[i & mask]; returns their number. Runs of ASCII go eight bytes at a
// time. Counting alone goes through the same stores into a small ring: the
// loop then branches on a double-byte code's validity, which is nearly
// always predicted, where a loop without stores waits for the table at
// every character.
size_t DecodeGbk(const unsigned char* s, size_t n, char16_t* dest, size_t mask) {
    const unsigned char* const end = s + n;
    size_t units = 0;
    while (s != end) {
        const unsigned char c = *s;
        if (c < 0x80) {
            uint64_t word;
            if (end - s >= 8 && (std::memcpy(&word, s, 8), (word & kHighBytes) == 0)) {
                for (int k = 0; k < 8; ++k) dest[(units + k) & mask] = s[k];
                units += 8;
                s += 8;
                continue;
            }
            dest[units & mask] = c;
            ++units;
            ++s;
            continue;
        }
        char16_t unit = u'?';
        size_t length = 1;
        if (c == kEuroByte) {
            unit = kEuro;
        } else if (c != 0xFF && end - s >= 2) {
            if (const char16_t pair = DecodePair(c, s[1])) {
                unit = pair;
                length = 2;
            }
        }
        dest[units & mask] = unit;
        ++units;
        s += length;
    }
    return units;
}

// The UTF-16 units of `n` bytes of GBK text.
size_t GbkUnits(const unsigned char* s, size_t n) {
    char16_t ring[1024];
    return DecodeGbk(s, n, ring, sizeof ring / sizeof ring[0] - 1);
}

// The GBK bytes of `n` UTF-16 units.
size_t GbkBytes(const char16_t* units, size_t n) {
    const uint8_t* width = GbkEncodeTable().width;
    size_t bytes = 0;
    for (size_t i = 0; i < n; ++i) bytes += width[units[i]];
    return bytes;
}

// Encodes `n` UTF-16 units as GBK into `dest`, which has room for exactly
// their GbkBytes: each unit's two table bytes are stored whole and the next
// unit starts after the ones that count, so the last unit goes apart.
void EncodeGbk(const char16_t* units, size_t n, char* dest) {
    if (n == 0) return;
    const TGbkEncodeTable& table = GbkEncodeTable();
    size_t at = 0;
    for (size_t i = 0; i + 1 < n; ++i) {
        std::memcpy(dest + at, &table.bytes[units[i]], 2);
        at += table.width[units[i]];
    }
    std::memcpy(dest + at, &table.bytes[units[n - 1]], table.width[units[n - 1]]);
}

}  // namespace

unsigned SystemCodePage() {
    return 936;
}

bool IsLeadByte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

// Both directions count first and then write into a string of the exact
// size: one allocation, touched once more than written. A byte never gives
// more than one unit: with room for as many units as bytes, decoding writes
// at once.
size_t AnsiToWideInto(const char* text, size_t length, char16_t* dest, size_t capacity) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    if (dest && capacity >= length) return DecodeGbk(bytes, length, dest, ~size_t{0});
    const size_t units = GbkUnits(bytes, length);
    if (dest && units <= capacity) DecodeGbk(bytes, length, dest, ~size_t{0});
    return units;
}

size_t AnsiToWideInto(const AnsiString& s, char16_t* dest, size_t capacity) {
    return AnsiToWideInto(s.data(), s.size(), dest, capacity);
}

WideString AnsiToWide(const AnsiString& s) {
    if (AllAscii(s.data(), s.size())) return WideString(s.begin(), s.end());
    WideString w(AnsiToWideInto(s, nullptr, 0), u'\0');
    AnsiToWideInto(s, &w[0], w.size());
    return w;
}

AnsiString WideToAnsi(const char16_t* units, size_t length) {
    AnsiString a(GbkBytes(units, length), '\0');
    EncodeGbk(units, length, &a[0]);
    return a;
}

// One pass: written while two bytes of room are left (each unit's two table
// bytes are stored whole), then unit by unit as long as they fit, counted
// on beyond.
size_t WideToAnsiInto(const char16_t* units, size_t length, char* dest, size_t capacity) {
    if (!dest) return GbkBytes(units, length);
    const TGbkEncodeTable& table = GbkEncodeTable();
    size_t i = 0, at = 0;
    for (; i < length && capacity - at >= 2; ++i) {
        std::memcpy(dest + at, &table.bytes[units[i]], 2);
        at += table.width[units[i]];
    }
    for (; i < length; ++i) {
        const size_t width = table.width[units[i]];
        if (at + width <= capacity) std::memcpy(dest + at, &table.bytes[units[i]], width);
        at += width;
    }
    return at;
}

AnsiString WideToAnsi(const WideString& s) {
    return WideToAnsi(s.data(), s.size());
}

std::string AnsiToUtf8(const AnsiString& s) {
    if (AllAscii(s.data(), s.size())) return s;
    return Convert<std::string>("UTF-8", "GBK", s.data(), s.size(), 1);
}

WideString Utf8ToWide(const std::string& s) {
    if (AllAscii(s.data(), s.size())) return WideString(s.begin(), s.end());
    return Convert<WideString>("UTF-16LE", "UTF-8", s.data(), s.size(), 1);
}

// Through UTF-16, as on Windows: a character outside GBK becomes one '?' per
// UTF-16 unit, not one per UTF-8 byte.
AnsiString Utf8ToAnsi(const std::string& s) {
    if (AllAscii(s.data(), s.size())) return s;
    return WideToAnsi(Utf8ToWide(s));
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
