// XmlUtil: XML handled by plain text search. The engine reads its
// configuration and its PDU messages by finding elements by name and writes
// them by joining strings; it never builds a tree.
//
// All text is 8-bit in the system code page (GBK) and compared byte for byte.
// That is safe for GBK: '&', '<', '>', '"' and '\'' are below 0x40, and such
// bytes never occur inside a double-byte character.
//
// No operation raises an error for any input text; on malformed text they
// report "not found" or an empty value and never read outside the string.
//
// Threads: every function may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/Errors.h"
#include "util/StringList.h"

namespace nuva {

// One extracted element.
struct TXmlNode {
    // 0: not found; 1: found by GetElement; in a GetElements list, the
    // element's 1-based position.
    int Index = 0;
    // From the "<" of the start tag through the ">" of the end tag.
    AnsiString Outer;
    // Between the start tag's ">" and the end tag's "<", unchanged (not
    // trimmed, not unescaped).
    AnsiString Inner;
    // The start tag's attributes as name=value lines (see ParseAttributes);
    // null when the start tag has no attribute text. Owned by the node.
    std::unique_ptr<TStringList> Attributes;
};

// "&" "<" ">" '"' "'" become "&amp;" "&lt;" "&gt;" "&quot;" "&apos;". Each
// byte is escaped once: an escaped "&amp;" becomes "&amp;amp;".
AnsiString XmlEscape(const AnsiString& text);
// Appends the escaped text to `out` (one pass, no copy of its own).
void AppendXmlEscaped(AnsiString& out, std::string_view text);
// The bytes that escaping adds to `text` (all of them ASCII).
size_t XmlEscapeGrowth(std::string_view text);
// The five entities back to their characters; "&amp;" is taken last, so
// "&amp;lt;" becomes "&lt;". Other entities and numeric references stay as
// they are.
AnsiString XmlUnescape(const AnsiString& text);
AnsiString XmlUnescape(std::string_view text);
// Appends the unescaped text to `out`. A text cut into pieces, each cut
// made just before an "&", unescapes piece by piece as it does whole.
void AppendXmlUnescaped(AnsiString& out, std::string_view text);

// Splits a start tag's attribute text into lines name + "=" + value; null
// for an empty text, otherwise a new list that the caller owns. The name is
// everything before "=" (not trimmed); the value is taken to start one byte
// after the "=" and the following blanks (the opening quote, whatever it is)
// and to run to the next double quote, or is empty when there is none.
// Values are not unescaped.
std::unique_ptr<TStringList> ParseAttributes(const AnsiString& text);

// Fills `node` with the first element `name` of `text`. A start tag is
// "<" + name followed by a space or ">"; nested elements of the same name are
// matched to their own end tags. `node.Index` stays 0 when there is no such
// start tag or when its end tag is missing.
void GetElement(const AnsiString& text, const AnsiString& name, TXmlNode& node);

// The unescaped inner text of the first element `name` (as GetElement finds
// it), without copying its outer or inner text first; empty when there is no
// such element.
AnsiString ElementText(std::string_view text, const AnsiString& name);
// The same element's inner text as a view into `text`, not unescaped; false
// when there is no such element.
bool ElementInner(std::string_view text, const AnsiString& name, std::string_view& inner);

// Every element `name` in document order, `Index` numbering them from 1.
// Elements nested in one of the same name are not listed on their own, and
// byte-identical elements are listed once: each listed element's text is
// removed from the rest of the document wherever it occurs, and the search
// continues in what remains. The list may be empty.
std::vector<TXmlNode> GetElements(const AnsiString& text, const AnsiString& name);

// The inner text of each element GetElements lists, in the same order, as a
// view into `text` where it can (no copy of a large element), valid during
// the call.
void ForEachElementInner(const AnsiString& text, const AnsiString& name,
                         const std::function<void(std::string_view inner)>& visit);

namespace detail {
// GetElements by the removal steps themselves: find the first element,
// remove every copy of its text, repeat. Quadratic; GetElements falls back to
// it for the documents where its one-pass scan could list something else.
std::vector<TXmlNode> GetElementsByRemoval(const AnsiString& text, const AnsiString& name);
// True when GetElements can take its one-pass scan for this text and name.
bool GetElementsScanApplies(const AnsiString& text, const AnsiString& name);
}  // namespace detail

}  // namespace nuva
