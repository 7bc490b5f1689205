// What the invoker tests share: COM on the test thread, the configuration
// texts of the test components, their call log and registry checks.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "platform/Com.h"
#include "platform/Platform.h"
#include "util/XmlUtil.h"

namespace nuva::test {

// The calling thread's COM for the whole test program.
class TComEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

// A system code page text from UTF-16.
inline AnsiString A(const char16_t* s) {
    return WideToAnsi(s);
}

using TSettings = std::vector<std::pair<AnsiString, AnsiString>>;

// What a component's Init gets: the declaration directly followed by the
// element (NETWORK or CA) with one child per setting.
inline TBstr ComponentConfig(const AnsiString& element, const TSettings& settings) {
    AnsiString xml = "<?xml version=\"1.0\" encoding=\"GBK\"?><" + element + ">";
    for (const auto& [name, value] : settings)
        xml += "<" + name + ">" + XmlEscape(value) + "</" + name + ">";
    return TBstr::FromAnsi(xml + "</" + element + ">");
}

// One line of a test component's call log: the member, the arguments as it
// saw them on entry, the by-reference arguments as it left them.
struct TLogLine {
    AnsiString member;
    std::map<AnsiString, AnsiString> in;
    std::map<AnsiString, AnsiString> out;
    bool raised = false;
};

inline AnsiString Unescape(const AnsiString& s) {
    AnsiString r;
    for (size_t i = 0; i < s.size(); ++i) {
        // A trail byte 0x5C is half of a character, not an escape.
        if (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
            r += s.substr(i++, 2);
            continue;
        }
        if (s[i] != '\\' || i + 1 == s.size()) {
            r += s[i];
            continue;
        }
        char c = s[++i];
        r += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return r;
}

inline std::vector<TLogLine> ReadLog(const AnsiString& path) {
    std::vector<TLogLine> lines;
    if (!FileExists(path)) return lines;
    std::string text = ReadAll(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        TLogLine line;
        bool returned = false;
        size_t field = start;
        for (bool first = true; field <= end; first = false) {
            size_t tab = text.find('\t', field);
            if (tab == std::string::npos || tab > end) tab = end;
            AnsiString f = text.substr(field, tab - field);
            if (first) {
                line.member = f;
            } else if (f == "=>") {
                returned = true;
            } else if (f == "raised") {
                line.raised = true;
            } else {
                size_t eq = f.find('=');
                (returned ? line.out : line.in)[f.substr(0, eq)] =
                    eq == AnsiString::npos ? AnsiString() : Unescape(f.substr(eq + 1));
            }
            field = tab + 1;
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The CLSID text a ProgID is registered with; empty when it is not.
inline AnsiString RegisteredClsid(const AnsiString& progId) {
    AnsiString clsid;
    return RegReadString(progId + "\\Clsid", "", &clsid) ? clsid : AnsiString();
}

// The server file registered for a ProgID's class; empty when none is.
inline AnsiString RegisteredServer(const AnsiString& progId) {
    AnsiString clsid = RegisteredClsid(progId);
    AnsiString path;
    if (clsid.empty() || !RegReadString("CLSID\\" + clsid + "\\InprocServer32", "", &path))
        return AnsiString();
    return path;
}

}  // namespace nuva::test
