// The engine tests' fixture: an engine with its own send and receive
// directories, action.ini beside a stand-in host executable directory, the
// test components' call logs, and one Send call with everything it returns.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "../invokers/InvokerTestSupport.h"
#include "engine/Main.h"

namespace nuva::test {

// `s` padded with spaces to `width` bytes.
inline AnsiString PadTo(const AnsiString& s, size_t width) {
    return s.size() < width ? s + AnsiString(width - s.size(), ' ') : s;
}

struct TSendResult {
    HRESULT status = S_OK;
    AnsiString reply;
    SHORT progress = 0;
    AnsiString status_text;
    AnsiString message;
    VARIANT_BOOL result = VARIANT_FALSE;
};

class TEngineTest : public ::testing::Test {
  protected:
    TEngineTest() {
        ForceDirectories(home_.Path());
        SetExeDirectoryOverride(home_.Path());
    }
    ~TEngineTest() override { SetExeDirectoryOverride(""); }

    TTempDir temp_;
    TTempDir home_;  // stands in for the host executable's directory (action.ini)
    AnsiString send_ = temp_ / "send";
    AnsiString receive_ = temp_ / "recv";
    AnsiString netLog_ = temp_ / "net.log";
    AnsiString caLog_ = temp_ / "ca.log";
    TSender engine_;

    // The engine configuration naming the test components, with the
    // components' own settings (their logs added).
    AnsiString Config(TSettings net = {}, TSettings ca = {},
                      const AnsiString& netDll = "TestNet.dll",
                      const AnsiString& caDll = "TestCA.dll") const {
        net.emplace_back("LOG", netLog_);
        ca.emplace_back("LOG", caLog_);
        return "<CONFIG><SEND_FILE_PATH>" + XmlEscape(send_) +
               "</SEND_FILE_PATH><RECEIVE_FILE_PATH>" + XmlEscape(receive_) +
               "</RECEIVE_FILE_PATH><NETWORK_COMPONENT>" + netDll +
               "</NETWORK_COMPONENT><CA_COMPONENT>" + caDll + "</CA_COMPONENT>" +
               Element("NETWORK", net) + Element("CA", ca) + "</CONFIG>";
    }
    static AnsiString Element(const AnsiString& name, const TSettings& settings) {
        AnsiString xml = "<" + name + ">";
        for (const auto& [key, value] : settings)
            xml += "<" + key + ">" + XmlEscape(value) + "</" + key + ">";
        return xml + "</" + name + ">";
    }

    // Init; the message in `message` when given.
    bool Init(const AnsiString& config, AnsiString* message = nullptr) {
        TBstr c = TBstr::FromAnsi(config), msg;
        VARIANT_BOOL ok = VARIANT_FALSE;
        EXPECT_EQ(engine_.Init(c.Get(), *msg.InOut(), ok), S_OK);
        if (message) *message = msg.ToAnsi();
        return ok != VARIANT_FALSE;
    }

    // Writes action.ini beside the stand-in executable.
    void Actions(const AnsiString& text) { WriteAll(home_.Path() + "action.ini", text); }

    TSendResult Send(const AnsiString& pdu, SHORT progress = 0, const AnsiString& status = "") {
        TBstr request = TBstr::FromAnsi(pdu), reply, statusText = TBstr::FromAnsi(status), msg;
        TSendResult r;
        r.progress = progress;
        r.status = engine_.Send(request.Get(), *reply.InOut(), r.progress, *statusText.InOut(),
                                *msg.InOut(), r.result);
        r.reply = reply.ToAnsi();
        r.status_text = statusText.ToAnsi();
        r.message = msg.ToAnsi();
        return r;
    }

    static AnsiString Pdu(const AnsiString& sender, const AnsiString& typeCode,
                          const std::vector<std::pair<AnsiString, AnsiString>>& items,
                          const AnsiString& reserve = "") {
        AnsiString xml = "<?xml version=\"1.0\" encoding=\"GBK\"?><PDU><SENDER>" + sender +
                         "</SENDER><TYPE_CODE>" + typeCode + "</TYPE_CODE><RESERVE>" + reserve +
                         "</RESERVE>";
        for (const auto& [name, value] : items)
            xml += "<CONTENT><NAME>" + XmlEscape(name) + "</NAME><VALUE>" + XmlEscape(value) +
                   "</VALUE></CONTENT>";
        return xml + "</PDU>";
    }

    // Every file under `dir`, as names relative to it (directories end in
    // the delimiter).
    static std::vector<AnsiString> Tree(const AnsiString& dir) {
        std::vector<AnsiString> names;
        const AnsiString base = IncludeTrailingPathDelimiter(dir);
        for (const TDirEntry& e : ListDirectoryEntries(dir)) {
            if (e.name == "." || e.name == "..") continue;
            if (e.attributes & faDirectory) {
                names.push_back(e.name + PathDelim);
                for (const AnsiString& sub : Tree(base + e.name))
                    names.push_back(e.name + PathDelim + sub);
            } else {
                names.push_back(e.name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace nuva::test
