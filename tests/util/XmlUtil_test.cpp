#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "util/FastStrings.h"
#include "util/XmlUtil.h"

namespace nuva {
namespace {

using Lines = std::vector<std::string>;

Lines LinesOf(const TStringList* list) {
    return list ? Lines(list->begin(), list->end()) : Lines{};
}

// ---------------------------------------------------------------------------
// Escaping: the one-pass versions against the five whole-text replaces.
// ---------------------------------------------------------------------------

std::string EscapeByFivePasses(std::string s) {
    s = FastReplace(s, "&", "&amp;", true);
    s = FastReplace(s, "<", "&lt;", true);
    s = FastReplace(s, ">", "&gt;", true);
    s = FastReplace(s, "\"", "&quot;", true);
    return FastReplace(s, "'", "&apos;", true);
}

std::string UnescapeByFivePasses(std::string s) {
    s = FastReplace(s, "&lt;", "<", true);
    s = FastReplace(s, "&gt;", ">", true);
    s = FastReplace(s, "&quot;", "\"", true);
    s = FastReplace(s, "&apos;", "'", true);
    return FastReplace(s, "&amp;", "&", true);
}

TEST(XmlEscapeTest, Table) {
    struct Case {
        std::string text, escaped;
    } cases[] = {
        {"a<b&c>d", "a&lt;b&amp;c&gt;d"},
        {"&amp;", "&amp;amp;"},
        {"\"'", "&quot;&apos;"},
        {"", ""},
        {"\xD5\x5C\xE5\x5C", "\xD5\x5C\xE5\x5C"},
        {std::string("<\0>", 3), std::string("&lt;\0&gt;", 9)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(XmlEscape(c.text), c.escaped) << c.text;
        EXPECT_EQ(XmlUnescape(c.escaped), c.text) << c.escaped;
    }
}

TEST(XmlUnescapeTest, Table) {
    struct Case {
        std::string text, unescaped;
    } cases[] = {
        {"&amp;lt;", "&lt;"}, {"&#39;", "&#39;"}, {"&nbsp;", "&nbsp;"},   {"&lt", "&lt"},
        {"&", "&"},           {"&&lt;;", "&<;"},  {"&amp;amp;", "&amp;"}, {"&quot&apos;", "&quot'"},
        {"x&gt;y&", "x>y&"},
    };
    for (const Case& c : cases) EXPECT_EQ(XmlUnescape(c.text), c.unescaped) << c.text;
}

TEST(XmlEscapeTest, OnePassEqualsTheFiveReplacesOnRandomText) {
    // Entity fragments make partial and adjacent entities likely.
    const std::vector<std::string> pieces = {"&",   "<",     ">",        "\"",   "'", "amp;", "lt;",
                                             "gt;", "quot;", "apos;",    "a",    "l", "t",    ";",
                                             "&a",  "&q",    "\xD5\x5C", "\xE5", "x"};
    std::mt19937 rng(4242);
    for (int i = 0; i < 30000; ++i) {
        std::string text;
        // Up to ~200 bytes: past the 32 that the block scan needs.
        for (size_t n = rng() % 60; n > 0; --n) text += pieces[rng() % pieces.size()];
        ASSERT_EQ(XmlEscape(text), EscapeByFivePasses(text)) << text;
        ASSERT_EQ(XmlUnescape(text), UnescapeByFivePasses(text)) << text;
    }
}

// ---------------------------------------------------------------------------
// Attributes
// ---------------------------------------------------------------------------

struct AttributeCase {
    std::string text;
    Lines lines;
};

void CheckAttributes(const std::vector<AttributeCase>& cases) {
    for (const AttributeCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::unique_ptr<TStringList> list = ParseAttributes(c.text);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(LinesOf(list.get()), c.lines);
    }
}

TEST(ParseAttributesTest, Table) {
    CheckAttributes({
        {"id=\"1\" name=\"x\"", {"id=1", "name=x"}},
        {"id = \"1\" name=\"x\"", {"id =1", "name=x"}},
        {"  id=\"1\"  ", {"id=1"}},
        // Single quotes are not recognised: the value runs to the first double quote.
        {"a='x' b=\"y\"", {"a=x' b="}},
        {"v=\"a&amp;b\"", {"v=a&amp;b"}},
        {"k=\"\xD5\x5C\"", {"k=\xD5\x5C"}},
        {"noequals", {}},
        {"   ", {}},
        {"a=b=c", {"a=", "="}},
    });
    EXPECT_EQ(ParseAttributes(""), nullptr);
}

// "a=" ends right after the "=": there is no opening quote to drop.
TEST(ParseAttributesTest, NameWithNothingAfterTheEqualsSignGivesAnEmptyValue) {
    CheckAttributes({
        {"a=", {"a="}},
        {"a=  ", {"a="}},
        {"=", {"="}},
        {"a=\"x", {"a="}},
        {"a=\"1\" b=", {"a=1", "b="}},
    });
}

// ---------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------

struct ElementCase {
    std::string text, name;
    int index;
    std::string outer, inner;
    bool hasAttributes;
    Lines attributes;
};

void CheckElements(const std::vector<ElementCase>& cases) {
    for (const ElementCase& c : cases) {
        SCOPED_TRACE(c.text + " / " + c.name);
        TXmlNode node;
        node.Index = 9;
        node.Outer = "stale";
        node.Attributes = std::make_unique<TStringList>();
        GetElement(c.text, c.name, node);
        EXPECT_EQ(node.Index, c.index);
        EXPECT_EQ(node.Outer, c.outer);
        EXPECT_EQ(node.Inner, c.inner);
        EXPECT_EQ(node.Attributes != nullptr, c.hasAttributes);
        EXPECT_EQ(LinesOf(node.Attributes.get()), c.attributes);
    }
}

TEST(GetElementTest, Table) {
    CheckElements({
        {"<A><A>x</A></A>", "A", 1, "<A><A>x</A></A>", "<A>x</A>", false, {}},
        {"<A></A>", "A", 1, "<A></A>", "", false, {}},
        {"<A>x", "A", 0, "", "", false, {}},
        {"<A/>", "A", 0, "", "", false, {}},
        {"<A><A>x</A>", "A", 0, "", "", false, {}},
        {"<CA_COMPONENT>c.dll</CA_COMPONENT><CA><X/></CA>",
         "CA",
         1,
         "<CA><X/></CA>",
         "<X/>",
         false,
         {}},
        {"<A id=\"1\" name=\"x\">v</A>",
         "A",
         1,
         "<A id=\"1\" name=\"x\">v</A>",
         "v",
         true,
         {"id=1", "name=x"}},
        {"<A id = \"1\">v</A>", "A", 1, "<A id = \"1\">v</A>", "v", true, {"id =1"}},
        {"<A  >v</A>", "A", 1, "<A  >v</A>", "v", false, {}},
        {"<A\tx>v</A>", "A", 0, "", "", false, {}},
        {"<AB>1</AB><A>2</A>", "A", 1, "<A>2</A>", "2", false, {}},
        {"x<A> <B>&lt;</B> </A>y</A>", "A", 1, "<A> <B>&lt;</B> </A>", " <B>&lt;</B> ", false, {}},
        {"<A><A>1</A><A>2</A></A><A>3</A>",
         "A",
         1,
         "<A><A>1</A><A>2</A></A>",
         "<A>1</A><A>2</A>",
         false,
         {}},
        {"<\xD5\x5C>\xE5\x5C</\xD5\x5C>",
         "\xD5\x5C",
         1,
         "<\xD5\x5C>\xE5\x5C</\xD5\x5C>",
         "\xE5\x5C",
         false,
         {}},
        {"", "A", 0, "", "", false, {}},
    });
}

// A start tag whose ">" never comes: the end tag stands before it.
TEST(GetElementTest, StartTagWithoutGreaterThanIsNotFound) {
    CheckElements({
        {"</A><A", "A", 0, "", "", false, {}},
        {"</A><A x=\"1\"", "A", 0, "", "", false, {}},
        {"</A><A ", "A", 0, "", "", false, {}},
    });
}

// The first end tag lies inside the start tag, before the inner text starts.
TEST(GetElementTest, EndTagBeforeTheInnerTextGivesAnEmptyInner) {
    CheckElements({
        {"<A </A>>", "A", 1, "<A </A>", "", true, {}},
        {"<A x=\"</A>\">y</A>", "A", 1, "<A x=\"</A>", "", true, {"x="}},
    });
}

TEST(GetElementsTest, ListsTopLevelElementsOnceInDocumentOrder) {
    struct Case {
        std::string text;
        Lines outers;
    } cases[] = {
        {"<PDU><CONTENT>1</CONTENT><CONTENT>1</CONTENT></PDU>", {"<CONTENT>1</CONTENT>"}},
        {"<PDU><SENDER>s</SENDER></PDU>", {}},
        {"<CONTENT>2</CONTENT><CONTENT><CONTENT>n</CONTENT></CONTENT><CONTENT>3</CONTENT>",
         {"<CONTENT>2</CONTENT>", "<CONTENT><CONTENT>n</CONTENT></CONTENT>",
          "<CONTENT>3</CONTENT>"}},
        {"<CONTENT a=\"1\">x</CONTENT><CONTENT>y</CONTENT><CONTENT a=\"1\">x</CONTENT>",
         {"<CONTENT a=\"1\">x</CONTENT>", "<CONTENT>y</CONTENT>"}},
        {"<CONTENT>1</CONTENT><CONTENT>unended", {"<CONTENT>1</CONTENT>"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<TXmlNode> nodes = GetElements(c.text, "CONTENT");
        ASSERT_EQ(nodes.size(), c.outers.size());
        for (size_t i = 0; i < nodes.size(); ++i) {
            EXPECT_EQ(nodes[i].Index, static_cast<int>(i + 1));
            EXPECT_EQ(nodes[i].Outer, c.outers[i]);
        }
    }
    std::vector<TXmlNode> nodes = GetElements("<A k=\"v\">in</A>", "A");
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].Inner, "in");
    EXPECT_EQ(LinesOf(nodes[0].Attributes.get()), Lines{"k=v"});
}

std::vector<std::pair<int, std::string>> Summary(const std::vector<TXmlNode>& nodes) {
    std::vector<std::pair<int, std::string>> s;
    for (const TXmlNode& n : nodes) s.emplace_back(n.Index, n.Outer);
    return s;
}

// Taking an element out joins the text around it into a new start tag.
TEST(GetElementsTest, RemovalThatJoinsTextIntoANewElementIsFollowed) {
    const std::string text = "<A<A>x</A> y</A>";
    EXPECT_FALSE(detail::GetElementsScanApplies(text, "A"));
    EXPECT_EQ(Summary(GetElements(text, "A")),
              (std::vector<std::pair<int, std::string>>{{1, "<A>x</A>"}, {2, "<A y</A>"}}));
}

// A copy of a listed element nested in a later one disappears from it.
TEST(GetElementsTest, CopyNestedInALaterElementIsRemovedFromIt) {
    const std::string text = "<A>x</A><A><A>x</A></A>";
    EXPECT_FALSE(detail::GetElementsScanApplies(text, "A"));
    EXPECT_EQ(Summary(GetElements(text, "A")),
              (std::vector<std::pair<int, std::string>>{{1, "<A>x</A>"}, {2, "<A></A>"}}));
}

// ---------------------------------------------------------------------------
// GetElements against the removal steps done literally, on random documents.
// ---------------------------------------------------------------------------

// The element search exactly as the steps read, cutting the text into tails.
struct SlowNode {
    int index = 0;
    std::string outer, inner, attributeText;
};

std::string RemoveEveryCopy(const std::string& t, const std::string& what) {
    std::string out;
    size_t from = 0;
    for (size_t p = t.find(what); p != std::string::npos; p = t.find(what, from)) {
        out.append(t, from, p - from);
        from = p + what.size();
    }
    return out + t.substr(from);
}

std::string TrimBlanks(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= 0x20) ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= 0x20) --b;
    return s.substr(a, b - a);
}

size_t FirstStartTag(const std::string& t, const std::string& open) {
    size_t a = t.find(open + " ");
    size_t b = t.find(open + ">");
    return std::min(a, b);  // npos is the largest value
}

SlowNode SlowGetElement(const std::string& text, const std::string& name) {
    SlowNode node;
    const std::string open = "<" + name, close = "</" + name + ">";
    const size_t start = FirstStartTag(text, open);
    if (start == std::string::npos || text.find(close) == std::string::npos) return node;
    std::string tail = text.substr(start + open.size());
    const size_t g = tail.find('>');
    if (g == std::string::npos) return node;
    const std::string attributeText = TrimBlanks(tail.substr(0, g));
    const size_t innerStart = start + open.size() + g + 1;  // in text
    size_t consumed = start + open.size();                  // tail's offset in text
    int depth = 0;
    for (;;) {
        const size_t nested = FirstStartTag(tail, open);
        const size_t c = tail.find(close);
        if (c == std::string::npos) return node;
        if (nested != std::string::npos && nested < c) {
            ++depth;
            consumed += nested + open.size();
            tail = tail.substr(nested + open.size());
        } else if (depth > 0) {
            --depth;
            consumed += c + close.size();
            tail = tail.substr(c + close.size());
        } else {
            node.index = 1;
            node.outer = text.substr(start, consumed + c + close.size() - start);
            const size_t innerEnd = consumed + c;
            node.inner =
                innerEnd > innerStart ? text.substr(innerStart, innerEnd - innerStart) : "";
            node.attributeText = attributeText;
            return node;
        }
    }
}

std::vector<SlowNode> SlowGetElements(std::string t, const std::string& name) {
    std::vector<SlowNode> nodes;
    for (int n = 1;; ++n) {
        SlowNode node = SlowGetElement(t, name);
        if (node.index == 0) return nodes;
        node.index = n;
        t = RemoveEveryCopy(t, node.outer);
        nodes.push_back(node);
    }
}

TEST(GetElementsTest, AgreesWithTheRemovalStepsOnRandomDocuments) {
    // Whole elements (to make duplicates, nesting and attributes likely) and
    // loose fragments (to make broken tags and joins likely).
    const std::vector<std::string> pieces = {
        "<A>x</A>",
        "<A k=\"v\">y</A>",
        "<A><A>x</A></A>",
        "<A>",
        "</A>",
        "<A ",
        "<A",
        ">",
        "A>",
        "x",
        " ",
        "<B>z</B>",
        "<AB>",
        "\xD5\x5C",
        "=\"",
        "</",
        "<A/>",
        "<A>x</A>",
    };
    std::mt19937 rng(19790101);
    int scanned = 0, fellBack = 0;
    for (int i = 0; i < 6000; ++i) {
        std::string text;
        for (size_t n = rng() % 10; n > 0; --n) text += pieces[rng() % pieces.size()];
        std::vector<SlowNode> expected = SlowGetElements(text, "A");
        std::vector<TXmlNode> nodes = GetElements(text, "A");
        (detail::GetElementsScanApplies(text, "A") ? scanned : fellBack)++;
        ASSERT_EQ(nodes.size(), expected.size()) << text;
        for (size_t k = 0; k < nodes.size(); ++k) {
            ASSERT_EQ(nodes[k].Index, expected[k].index) << text;
            ASSERT_EQ(nodes[k].Outer, expected[k].outer) << text;
            ASSERT_EQ(nodes[k].Inner, expected[k].inner) << text;
            std::unique_ptr<TStringList> attributes = ParseAttributes(expected[k].attributeText);
            ASSERT_EQ(LinesOf(nodes[k].Attributes.get()), LinesOf(attributes.get())) << text;
        }
    }
    // Both the one-pass scan and the removal steps must have been exercised.
    EXPECT_GT(scanned, 1000);
    EXPECT_GT(fellBack, 1000);
}

}  // namespace
}  // namespace nuva
