// NuvaConfig: the settings of NuvaNet, NuvaCA and nuva-server, read from the
// configuration element that Init receives (or the server's file) by child
// element name. Content is unescaped and trimmed, in the system code page.
//
// Errors: a value outside its range raises EConfigError with the text
// "配置项<NAME>的值无效:" + value. Threads: a plain value.
#pragma once

#include <cstdint>

#include "platform/Errors.h"

namespace nuva {

class EConfigError : public Exception {
  public:
    using Exception::Exception;
};

class TNuvaConfig {
  public:
    TNuvaConfig() = default;
    explicit TNuvaConfig(AnsiString xml) : xml_(std::move(xml)) {}

    bool Has(const AnsiString& name) const;
    // The trimmed, unescaped content, or `def` when the element is absent.
    AnsiString Text(const AnsiString& name, const AnsiString& def = AnsiString()) const;
    // A decimal number in [min, max], or `def` when absent or empty.
    uint32_t Number(const AnsiString& name, uint32_t def, uint32_t min, uint32_t max) const;
    // The element's whole text (start tag to end tag), empty when absent.
    AnsiString Element(const AnsiString& name) const;
    const AnsiString& Xml() const { return xml_; }

  private:
    AnsiString xml_;
};

// "配置项<NAME>的值无效:" + value.
EConfigError BadSetting(const AnsiString& name, const AnsiString& value);

}  // namespace nuva
