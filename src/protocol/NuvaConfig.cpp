#include "NuvaConfig.h"

#include <cerrno>
#include <cstdlib>

#include "platform/Platform.h"
#include "util/XmlUtil.h"
#include "util/util.h"

namespace nuva {

namespace {

constexpr char16_t kBadSettingOpen[] = u"配置项<";
constexpr char16_t kBadSettingClose[] = u">的值无效:";

}  // namespace

EConfigError BadSetting(const AnsiString& name, const AnsiString& value) {
    return EConfigError(WideToAnsi(kBadSettingOpen) + name + WideToAnsi(kBadSettingClose) + value);
}

bool TNuvaConfig::Has(const AnsiString& name) const {
    TXmlNode node;
    GetElement(xml_, name, node);
    return node.Index != 0;
}

AnsiString TNuvaConfig::Text(const AnsiString& name, const AnsiString& def) const {
    TXmlNode node;
    GetElement(xml_, name, node);
    return node.Index != 0 ? Trim(XmlUnescape(node.Inner)) : def;
}

uint32_t TNuvaConfig::Number(const AnsiString& name, uint32_t def, uint32_t min,
                             uint32_t max) const {
    const AnsiString text = Text(name);
    if (text.empty()) return def;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || text[0] == '+' || value < min ||
        value > max)
        throw BadSetting(name, text);
    return static_cast<uint32_t>(value);
}

AnsiString TNuvaConfig::Element(const AnsiString& name) const {
    TXmlNode node;
    GetElement(xml_, name, node);
    return node.Index != 0 ? node.Outer : AnsiString();
}

}  // namespace nuva
