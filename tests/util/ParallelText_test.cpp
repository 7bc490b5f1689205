// Long texts converted in pieces side by side give what the whole-text
// conversion gives, whatever lies where a piece could end.
#include "util/ParallelText.h"

#include <gtest/gtest.h>

#include <string>

namespace nuva {
namespace {

constexpr size_t kMiB = 1024 * 1024;

// GBK text of about `size` bytes: double-byte characters, ASCII markup, and
// `at_boundaries` placed across every mebibyte.
AnsiString GbkText(size_t size, const AnsiString& at_boundaries) {
    const AnsiString unit = WideToAnsi(WideString(u"誠錦<a>&1 ")) + "\xB0\xA1" "xyz";
    AnsiString s;
    while (s.size() < size) s += unit;
    for (size_t b = kMiB; b + at_boundaries.size() < s.size(); b += kMiB)
        s.replace(b - at_boundaries.size() / 2, at_boundaries.size(), at_boundaries);
    return s;
}

TEST(ParallelText, CodePageToUtf16AsAWhole) {
    const struct {
        const char* what;
        AnsiString text;
    } cases[] = {
        {"characters across the piece ends", GbkText(3 * kMiB + 17, "\xD5\xD0\xB0\xA1\xB0\xA1")},
        {"lone lead bytes at the piece ends", GbkText(3 * kMiB, "\x81<\x81\x81>")},
        {"long runs with no byte below 0x40", GbkText(5 * kMiB, AnsiString(kMiB + 3, '\xB0'))},
        {"no byte below 0x40 at all", AnsiString(3 * kMiB, 'a')},
    };
    for (const auto& c : cases) {
        const WideString whole = AnsiToWide(c.text);
        for (int threads : {1, 2, 3, 8}) {
            WideString into;
            AnsiToWideParallel(c.text.data(), c.text.size(), threads, [&into](size_t units) {
                into.assign(units, u'#');
                return &into[0];
            });
            EXPECT_TRUE(into == whole) << c.what << ", " << threads << " threads";
        }
    }
}

TEST(ParallelText, Utf16ToCodePageAsAWhole) {
    WideString text;
    while (text.size() < 3 * kMiB + 5) text += u"誠錦 <a>&1 ";
    // A pair across each mebi-unit, a lone high surrogate after the next.
    for (size_t b = kMiB; b + 2 < text.size(); b += kMiB) {
        text[b - 1] = 0xD83D;
        text[b] = 0xDE00;
        text[b + 1] = 0xD800;
    }
    const AnsiString whole = WideToAnsi(text);
    for (int threads : {1, 2, 3, 8})
        EXPECT_TRUE(WideToAnsiParallel(text.data(), text.size(), threads) == whole)
            << threads << " threads";
}

}  // namespace
}  // namespace nuva
