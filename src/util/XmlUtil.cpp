#include "util/XmlUtil.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_set>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "util/FastStrings.h"
#include "util/util.h"

namespace nuva {

namespace {

constexpr size_t npos = AnsiString::npos;

// ---------------------------------------------------------------------------
// Escaping
// ---------------------------------------------------------------------------

struct TEntity {
    char character;
    const char* text;
    size_t length;
};

// The five entities, in the order the unescaping takes them.
constexpr TEntity kEntities[] = {
    {'<', "&lt;", 4}, {'>', "&gt;", 4}, {'"', "&quot;", 6}, {'\'', "&apos;", 6}, {'&', "&amp;", 5},
};

// Escaping each byte on its own gives what five whole-text replaces give in
// the order "&", "<", ">", '"', "'": no entity contains a byte that a later
// replace looks for, and "&" goes first.
struct TEscapeTable {
    // The entity text padded to 8 bytes, so that it can be stored as one word.
    char text[256][8] = {};
    uint8_t length[256] = {};  // 0 for the bytes that stay as they are
    TEscapeTable() {
        for (const TEntity& e : kEntities) {
            std::memcpy(text[static_cast<uint8_t>(e.character)], e.text, e.length);
            length[static_cast<uint8_t>(e.character)] = static_cast<uint8_t>(e.length);
        }
    }
};
const TEscapeTable kEscape;

constexpr size_t kWord = 8;  // bytes examined at once
constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// The bytes that escaping adds. Counted in blocks small enough for 16-bit
// counters, which lets the compiler vectorise the loop.
size_t EscapeGrowth(const char* text, size_t length) {
    constexpr size_t kBlock = 8192;  // bytes; 2 * kBlock fits a 16-bit counter
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t growth = 0;
    while (length > 0) {
        const size_t n = std::min(length, kBlock);
        uint16_t amps = 0, angles = 0, quotes = 0;
        for (size_t i = 0; i < n; ++i) {
            const unsigned char c = p[i];
            amps += c == '&';
            angles += (c == '<') + (c == '>');
            quotes += (c == '"') + (c == '\'');
        }
        growth += 4u * amps + 3u * angles + 5u * quotes;
        p += n;
        length -= n;
    }
    return growth;
}

// A word whose lowest set high bit marks the first byte of `w` (in memory
// order) that equals `c`. Bits above the first match may be wrong.
inline uint64_t FirstEqual(uint64_t w, unsigned char c) {
    const uint64_t x = w ^ (kOnes * c);
    return (x - kOnes) & ~x & kHighs;
}

inline uint64_t FirstSpecial(uint64_t w) {
    return FirstEqual(w, '&') | FirstEqual(w, '<') | FirstEqual(w, '>') | FirstEqual(w, '"') |
           FirstEqual(w, '\'');
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && defined(__GNUC__)
constexpr bool kWordScan = true;
inline size_t LowestByte(uint64_t mask) {
    return static_cast<size_t>(__builtin_ctzll(mask)) / 8;
}
#else
constexpr bool kWordScan = false;
inline size_t LowestByte(uint64_t) {
    return 0;
}
#endif

#if defined(__SSE2__)
constexpr size_t kBlock = 16;  // bytes examined at once with SSE2

// Bit k set when byte k of `v` is one that escaping replaces.
inline unsigned SpecialMask(__m128i v) {
    const __m128i amp = _mm_cmpeq_epi8(v, _mm_set1_epi8('&'));
    const __m128i lt = _mm_cmpeq_epi8(v, _mm_set1_epi8('<'));
    const __m128i gt = _mm_cmpeq_epi8(v, _mm_set1_epi8('>'));
    const __m128i quot = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
    const __m128i apos = _mm_cmpeq_epi8(v, _mm_set1_epi8('\''));
    return static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(amp, lt), _mm_or_si128(_mm_or_si128(gt, quot), apos))));
}

// Escapes 16 bytes at a time while 32 remain (every load stays inside the
// text); returns where the rest starts and moves `d` on. Each store writes
// 16 bytes, of which those past the escaped text so far are overwritten
// later: the output needs 16 bytes of room past its end.
inline const char* EscapeBlocks(const char* p, const char* end, char*& d) {
    while (static_cast<size_t>(end - p) >= 2 * kBlock) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned mask = SpecialMask(v);
        if (mask == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
            p += kBlock;
            d += kBlock;
            continue;
        }
        size_t done = 0;  // bytes of the block escaped
        do {
            const size_t k = static_cast<size_t>(__builtin_ctz(mask));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + done)));
            d += k - done;
            const uint8_t c = static_cast<uint8_t>(p[k]);
            std::memcpy(d, kEscape.text[c], kWord);
            d += kEscape.length[c];
            done = k + 1;
            mask &= mask - 1;
        } while (mask != 0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + done)));
        d += kBlock - done;
        p += kBlock;
    }
    return p;
}
#else
constexpr size_t kBlock = kWord;
inline const char* EscapeBlocks(const char* p, const char*, char*&) {
    return p;
}
#endif

// ---------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------

// The pieces of one element found at `start` in a text.
struct TElementSpan {
    size_t start = 0;      // "<" of the start tag
    size_t end = 0;        // one past the ">" of the end tag
    size_t attrBegin = 0;  // attribute text (untrimmed), up to the start tag's ">"
    size_t attrEnd = 0;
    size_t innerBegin = 0;  // one past the start tag's ">"
    size_t innerEnd = 0;    // the "<" of the end tag; never before innerBegin
};

class TElementFinder {
  public:
    TElementFinder(std::string_view text, const AnsiString& name)
        : text_(text), open_("<" + name), close_("</" + name + ">") {}

    // The first start tag (open + " " or open + ">") at or after `from` that
    // begins before `limit`, or npos.
    size_t FindStartTag(size_t from, size_t limit = npos) const {
        // Only the bytes a start tag before `limit` can cover are searched.
        std::string_view view(text_);
        if (limit < view.size() && view.size() - limit > open_.size())
            view = view.substr(0, limit + open_.size());
        for (size_t p = view.find(open_, from); p != npos && p < limit;
             p = view.find(open_, p + 1)) {
            const size_t after = p + open_.size();
            if (after < text_.size() && (text_[after] == ' ' || text_[after] == '>')) return p;
        }
        return npos;
    }

    size_t FindClose(size_t from) const { return text_.find(close_, from); }

    // Matches the start tag at `start` with its end tag, counting nested start
    // tags of the same name. False when the start tag has no ">" or an end
    // tag is missing.
    bool Match(size_t start, TElementSpan& span) const {
        size_t tail = start + open_.size();
        const size_t gt = text_.find('>', tail);
        if (gt == npos) return false;
        span.start = start;
        span.attrBegin = tail;
        span.attrEnd = gt;
        span.innerBegin = gt + 1;
        int64_t depth = 0;
        size_t close = npos;
        for (;;) {
            // The first end tag after `tail` stays the same while `tail` only
            // moves past nested start tags in front of it.
            if (close == npos || close < tail) close = FindClose(tail);
            if (close == npos) return false;
            const size_t nested = FindStartTag(tail, close);
            if (nested != npos) {
                ++depth;
                tail = nested + open_.size();
            } else if (depth > 0) {
                --depth;
                tail = close + close_.size();
            } else {
                span.end = close + close_.size();
                // An end tag inside the start tag itself leaves no inner text.
                span.innerEnd = close < span.innerBegin ? span.innerBegin : close;
                return true;
            }
        }
    }

    // Counts the start tags in `text`.
    size_t CountStartTags() const {
        size_t count = 0;
        for (size_t p = FindStartTag(0); p != npos; p = FindStartTag(p + 1)) ++count;
        return count;
    }

  private:
    std::string_view text_;
    const AnsiString open_;
    const AnsiString close_;
};

void FillNode(const AnsiString& text, const TElementSpan& span, int index, TXmlNode& node) {
    node.Index = index;
    node.Outer.assign(text, span.start, span.end - span.start);
    node.Inner.assign(text, span.innerBegin, span.innerEnd - span.innerBegin);
    node.Attributes =
        ParseAttributes(Trim(text.substr(span.attrBegin, span.attrEnd - span.attrBegin)));
}

void ResetNode(TXmlNode& node) {
    node.Index = 0;
    node.Outer.clear();
    node.Inner.clear();
    node.Attributes.reset();
}

// The one-pass listing: the top-level elements of `text` in order, and
// whether they are exactly what the removal steps would list.
//
// Removing every copy of an element's text changes what later searches see
// in two ways, and the scan is exact only when neither can happen:
//  - a copy may sit somewhere other than at a top-level element: nested in
//    another element or inside the text after an unmatched start tag. Every
//    copy begins with a start tag, so when the only start tags in the text
//    are the top-level elements' own (and the one unmatched tag where the
//    scan stops), a copy can only be a byte-identical top-level element.
//  - taking elements out joins the text around them, and the join can form
//    a start tag ("<NA" + removed + "ME>"). Every text the removal steps see
//    between the elements that are left is a piece of all gaps joined, so no
//    start tag in that join (other than the unmatched one) means none forms.
// A name containing "<" or ">" would let a start tag run across an
// element's first or last byte; such names always take the removal steps.
bool ScanTopLevel(const AnsiString& text, const AnsiString& name,
                  std::vector<TElementSpan>& spans) {
    if (name.find_first_of("<>") != npos) return false;
    TElementFinder finder(text, name);
    size_t pos = 0;
    bool stoppedOnUnmatched = false;
    for (;;) {
        const size_t start = finder.FindStartTag(pos);
        if (start == npos) break;
        TElementSpan span;
        if (!finder.Match(start, span)) {
            stoppedOnUnmatched = true;
            break;
        }
        spans.push_back(span);
        pos = span.end;
    }
    const size_t unmatched = stoppedOnUnmatched ? 1 : 0;
    if (finder.CountStartTags() != spans.size() + unmatched) return false;

    AnsiString gaps;
    gaps.reserve(text.size());
    size_t from = 0;
    for (const TElementSpan& span : spans) {
        gaps.append(text, from, span.start - from);
        from = span.end;
    }
    gaps.append(text, from, npos);
    return TElementFinder(gaps, name).CountStartTags() == unmatched;
}

}  // namespace

void AppendXmlEscaped(AnsiString& out, std::string_view text) {
    const size_t growth = EscapeGrowth(text.data(), text.size());
    if (growth == 0) {
        out.append(text);
        return;
    }
    const size_t start = out.size();
    const size_t outLen = text.size() + growth;
    // Whole blocks and words are stored and then partly overwritten: keep
    // one block of room past the end.
    out.resize(start + outLen + kBlock);
    char* d = &out[start];
    const char* const end = text.data() + text.size();
    const char* p = EscapeBlocks(text.data(), end, d);
    if (kWordScan) {
        while (static_cast<size_t>(end - p) >= kWord) {
            uint64_t w;
            std::memcpy(&w, p, kWord);
            std::memcpy(d, &w, kWord);
            const uint64_t special = FirstSpecial(w);
            if (special == 0) {
                p += kWord;
                d += kWord;
                continue;
            }
            const size_t k = LowestByte(special);
            const uint8_t c = static_cast<uint8_t>(p[k]);
            std::memcpy(d + k, kEscape.text[c], kWord);
            d += k + kEscape.length[c];
            p += k + 1;
        }
    }
    for (; p < end; ++p) {
        const uint8_t c = static_cast<uint8_t>(*p);
        if (kEscape.length[c] == 0) {
            *d++ = *p;
        } else {
            std::memcpy(d, kEscape.text[c], kWord);
            d += kEscape.length[c];
        }
    }
    out.resize(start + outLen);
}

size_t XmlEscapeGrowth(std::string_view text) {
    return EscapeGrowth(text.data(), text.size());
}

AnsiString XmlEscape(const AnsiString& text) {
    if (EscapeGrowth(text.data(), text.size()) == 0) return text;
    AnsiString out;
    AppendXmlEscaped(out, text);
    return out;
}

// One pass gives what the five replaces give in their order: entities cannot
// overlap (each starts with "&", ends at its first ";" and holds neither
// inside), and the characters put in by the first four ("<", ">", '"', "'")
// cannot be part of any later entity, so every replace finds exactly the
// entities of the original text that the earlier ones left.
AnsiString XmlUnescape(const AnsiString& text) {
    if (!std::memchr(text.data(), '&', text.size())) return text;
    return XmlUnescape(std::string_view(text));
}

AnsiString XmlUnescape(std::string_view text) {
    if (!std::memchr(text.data(), '&', text.size())) return AnsiString(text);
    AnsiString out;
    AppendXmlUnescaped(out, text);
    return out;
}

void AppendXmlUnescaped(AnsiString& out, std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* q = static_cast<const char*>(std::memchr(p, '&', text.size()));
    if (!q) {
        out.append(text);
        return;
    }
    const size_t start = out.size();
    out.resize(start + text.size());  // unescaping never lengthens
    char* d = &out[start];
    while (q) {
        std::memcpy(d, p, static_cast<size_t>(q - p));
        d += q - p;
        const size_t left = static_cast<size_t>(end - q);
        size_t taken = 1;
        char c = '&';
        for (const TEntity& e : kEntities) {
            if (left >= e.length && std::memcmp(q, e.text, e.length) == 0) {
                taken = e.length;
                c = e.character;
                break;
            }
        }
        *d++ = c;
        p = q + taken;
        q = static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(end - p)));
    }
    std::memcpy(d, p, static_cast<size_t>(end - p));
    d += end - p;
    out.resize(static_cast<size_t>(d - out.data()));
}

std::unique_ptr<TStringList> ParseAttributes(const AnsiString& text) {
    if (text.empty()) return nullptr;
    auto list = std::make_unique<TStringList>();
    AnsiString t = Trim(text);
    for (size_t eq = t.find('='); eq != npos; eq = t.find('=')) {
        const AnsiString name = t.substr(0, eq);
        t = Trim(t.substr(eq + 1));
        // The byte after "=" is taken for the opening quote, whatever it is;
        // "a=" at the end has none and gives an empty value.
        if (!t.empty()) t.erase(0, 1);
        const size_t quote = t.find('"');
        AnsiString value;
        if (quote != npos) {
            value = t.substr(0, quote);
            t = Trim(t.substr(quote + 1));
        } else {
            t = Trim(t);
        }
        list->Add(name + "=" + value);
    }
    return list;
}

void GetElement(const AnsiString& text, const AnsiString& name, TXmlNode& node) {
    ResetNode(node);
    TElementFinder finder(text, name);
    const size_t start = finder.FindStartTag(0);
    if (start == npos || finder.FindClose(0) == npos) return;
    TElementSpan span;
    if (finder.Match(start, span)) FillNode(text, span, 1, node);
}

bool ElementInner(std::string_view text, const AnsiString& name, std::string_view& inner) {
    TElementFinder finder(text, name);
    const size_t start = finder.FindStartTag(0);
    TElementSpan span;
    if (start == npos || finder.FindClose(0) == npos || !finder.Match(start, span)) return false;
    inner = text.substr(span.innerBegin, span.innerEnd - span.innerBegin);
    return true;
}

namespace {

// Elements met twice are listed once. A value may be megabytes long: the
// hash takes its length and its two ends only, and equal hashes compare the
// whole (different elements differ early, as a rule).
struct TOuterHash {
    size_t operator()(std::string_view outer) const {
        constexpr size_t kEnd = 64;
        if (outer.size() <= 2 * kEnd) return std::hash<std::string_view>()(outer);
        return std::hash<std::string_view>()(outer.substr(0, kEnd)) * 31 ^
               std::hash<std::string_view>()(outer.substr(outer.size() - kEnd)) ^ outer.size();
    }
};
using TListed = std::unordered_set<std::string_view, TOuterHash>;

}  // namespace

AnsiString ElementText(std::string_view text, const AnsiString& name) {
    std::string_view inner;
    return ElementInner(text, name, inner) ? XmlUnescape(inner) : AnsiString();
}

std::vector<TXmlNode> GetElements(const AnsiString& text, const AnsiString& name) {
    std::vector<TElementSpan> spans;
    if (!ScanTopLevel(text, name, spans)) return detail::GetElementsByRemoval(text, name);
    std::vector<TXmlNode> nodes;
    TListed listed;
    for (const TElementSpan& span : spans) {
        const std::string_view outer(text.data() + span.start, span.end - span.start);
        if (!listed.insert(outer).second) continue;
        nodes.emplace_back();
        FillNode(text, span, static_cast<int>(nodes.size()), nodes.back());
    }
    return nodes;
}

void ForEachElementInner(const AnsiString& text, const AnsiString& name,
                         const std::function<void(std::string_view inner)>& visit) {
    std::vector<TElementSpan> spans;
    if (!ScanTopLevel(text, name, spans)) {
        for (const TXmlNode& node : detail::GetElementsByRemoval(text, name)) visit(node.Inner);
        return;
    }
    TListed listed;
    for (const TElementSpan& span : spans) {
        const std::string_view outer(text.data() + span.start, span.end - span.start);
        if (!listed.insert(outer).second) continue;
        visit(std::string_view(text.data() + span.innerBegin, span.innerEnd - span.innerBegin));
    }
}

namespace detail {

std::vector<TXmlNode> GetElementsByRemoval(const AnsiString& text, const AnsiString& name) {
    std::vector<TXmlNode> nodes;
    AnsiString t = text;
    for (;;) {
        TXmlNode node;
        GetElement(t, name, node);
        if (node.Index == 0) break;
        node.Index = static_cast<int>(nodes.size()) + 1;
        t = FastReplace(t, node.Outer, AnsiString(), true);
        nodes.push_back(std::move(node));
    }
    return nodes;
}

bool GetElementsScanApplies(const AnsiString& text, const AnsiString& name) {
    std::vector<TElementSpan> spans;
    return ScanTopLevel(text, name, spans);
}

}  // namespace detail

}  // namespace nuva
