// XML text helpers on arbitrary bytes. Input: an element name up to the first
// line break, then the text. Checks that nothing reads outside the text (the
// sanitizers), that unescaping undoes escaping, and, on short texts, that the
// one-pass element listing equals the removal steps.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/XmlUtil.h"

namespace {

constexpr size_t kRemovalLimit = 4096;  // bytes; the removal steps are quadratic

bool SameNodes(const std::vector<nuva::TXmlNode>& a, const std::vector<nuva::TXmlNode>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].Index != b[i].Index || a[i].Outer != b[i].Outer || a[i].Inner != b[i].Inner)
            return false;
        if ((a[i].Attributes == nullptr) != (b[i].Attributes == nullptr)) return false;
        if (a[i].Attributes && a[i].Attributes->Text() != b[i].Attributes->Text()) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t eol = input.find('\n');
    const std::string name = eol == std::string::npos ? "A" : input.substr(0, eol);
    const std::string text = eol == std::string::npos ? input : input.substr(eol + 1);

    if (nuva::XmlUnescape(nuva::XmlEscape(text)) != text) std::abort();
    nuva::ParseAttributes(text);
    nuva::TXmlNode node;
    nuva::GetElement(text, name, node);
    std::vector<nuva::TXmlNode> nodes = nuva::GetElements(text, name);
    if (text.size() <= kRemovalLimit &&
        !SameNodes(nodes, nuva::detail::GetElementsByRemoval(text, name)))
        std::abort();
    return 0;
}
