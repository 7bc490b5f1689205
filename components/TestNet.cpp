// TestNet: the configurable double of the network component (class
// NetworkImpl: Init, TestConn, Post). Post is an echo server: the request
// file comes back as the reply file, the request header as the reply header
// with the configured columns replaced.
//
// Build variants (compile definitions), for the registration tests:
//   TESTNET_REGISTER_S_FALSE  DllRegisterServer registers and returns S_FALSE
//   TESTNET_REGISTER_FAILS    DllRegisterServer returns E_FAIL, registers nothing
//   TESTNET_REGISTER_THROWS   DllRegisterServer throws std::runtime_error
//   TESTNET_REGISTER_THROWS_OWN  DllRegisterServer throws an exception class of
//                             this module's own (its code lives here)
//   TESTNET_REGISTER_RAISES   DllRegisterServer raises the structured exception
//                             0x0EEDFADE (Windows), after leaving the error info
//                             "TestNet注册失败" when TESTNET_RAISE_WITH_INFO is set
//   TESTNET_REGISTER_FAULTS   DllRegisterServer writes through a null pointer
//                             (Windows)
//   TESTNET_NO_REGISTRATION   no DllRegisterServer / DllUnregisterServer exports
//   TESTNET_PROGID="X.Y"      registers under ProgID X.Y instead of the derived one
#include <stdexcept>

#include "TestComponent.h"
#include "platform/Platform.h"
#include "util/util.h"

#ifndef TESTNET_PROGID
#define TESTNET_PROGID nullptr
#endif

namespace nuva {
namespace {

constexpr char16_t kSource[] = u"TestNet";
constexpr char16_t kReplyFailed[] = u"保存应答文件失败:";  // + reason
constexpr char kDefaultReplyName[] = "TestNet.reply";
// TESTNET_REGISTER_FAULTS writes through it; volatile, so that the write stays.
[[maybe_unused]] int* volatile g_null = nullptr;

// The transport header: 64 bytes of system-code-page text.
//   columns  1-22  sender        27  body flag        30-56  reserve
//   columns 23-26  type code     28  encrypted flag   57-64  date (yyyymmdd)
//                                29  compressed flag
constexpr size_t kHeaderSize = 64;  // bytes
struct THeaderField {
    const char* setting;  // the element that replaces the field in the reply
    size_t column;        // first column, from 1
    size_t width;         // bytes
};
constexpr THeaderField kReplyFields[] = {
    {"REPLY_SENDER", 1, 22},   {"REPLY_TYPE_CODE", 23, 4}, {"REPLY_FLAGS", 27, 3},
    {"REPLY_RESERVE", 30, 27}, {"REPLY_DATE", 57, 8},
};

// `value` cut or padded with spaces to `width` bytes. Surrounding blanks are
// kept (unlike the engine's padding), so that tests can send it untrimmed
// fields; a cut may split a double-byte character, as the engine's does.
AnsiString FitField(const AnsiString& value, size_t width) {
    AnsiString field = value.substr(0, width);
    field.resize(width, ' ');
    return field;
}

enum TReplyPath : size_t { rpWritten, rpUnwritten, rpDir };

class TTestNet final : public TTestComponent {
  public:
    TTestNet() : TTestComponent(kSource) {
        AddTestMember("TestConn", {{"msg", TArgKind::BstrRef}, {"ok", TArgKind::BoolRef}},
                      [this](TDispatchArgs& args) { TestConn(args); });
        AddTestMember("Post",
                      {{"header", TArgKind::BstrIn},
                       {"sendFile", TArgKind::BstrIn},
                       {"replyHeader", TArgKind::BstrRef},
                       {"replyFile", TArgKind::BstrRef},
                       {"progress", TArgKind::Int16Ref},
                       {"status", TArgKind::BstrRef},
                       {"msg", TArgKind::BstrRef},
                       {"ok", TArgKind::BoolRef}},
                      [this](TDispatchArgs& args) { Post(args); });
    }

  private:
    // Post's arguments.
    enum : size_t { kHeader, kSendFile, kReplyHeader, kReplyFile, kProgress, kStatus, kMsg, kOk };

    size_t TestConnOk() const {
        return Config().Choice("TESTCONN_OK", {"0", "1", "untouched"}, swOn);
    }
    bool PostOk() const { return Config().Choice("POST_OK", {"0", "1"}, swOn) == swOn; }
    size_t ReplyPath() const {
        return Config().Choice("REPLY_PATH", {"written", "unwritten", "dir"}, rpWritten);
    }

    void CheckConfig() const override {
        TestConnOk();
        PostOk();
        ReplyPath();
        Config().Int16List("POST_PROGRESS");
    }

    void TestConn(TDispatchArgs& args) {
        const size_t ok = TestConnOk();
        if (Config().Has("TESTCONN_MSG")) args.SetText(0, Config().Wide("TESTCONN_MSG"));
        if (ok != swUntouched) args.SetBool(1, ok == swOn);
    }

    void Post(TDispatchArgs& args) {
        for (SHORT progress : Config().Int16List("POST_PROGRESS"))
            args.SetInt16(kProgress, progress);
        if (Config().Has("POST_STATUS")) args.SetText(kStatus, Config().Wide("POST_STATUS"));
        if (!PostOk()) {
            if (Config().Has("POST_MSG")) args.SetText(kMsg, Config().Wide("POST_MSG"));
            args.SetBool(kOk, false);
            return;
        }

        const size_t replyPath = ReplyPath();
        // On entry replyFile holds the receive directory, with its delimiter.
        const AnsiString replyFile =
            WideToAnsi(args.Text(kReplyFile)) + Config().Text("REPLY_NAME", kDefaultReplyName);
        if (replyPath == rpWritten) {
            try {
                const AnsiString sendFile = WideToAnsi(args.Text(kSendFile));
                SaveFileText(FileExists(sendFile) ? LoadFileText(sendFile) : AnsiString(),
                             replyFile);
            } catch (const Exception& e) {
                args.SetText(kMsg, kReplyFailed + AnsiToWide(e.Message()));
                args.SetBool(kOk, false);
                return;
            }
        }
        args.SetText(kReplyHeader, ReplyHeader(args.Text(kHeader)));
        if (replyPath != rpDir) args.SetText(kReplyFile, AnsiToWide(replyFile));
        if (Config().Has("POST_MSG")) args.SetText(kMsg, Config().Wide("POST_MSG"));
        args.SetBool(kOk, true);
    }

    WideString ReplyHeader(const WideString& request) const {
        if (Config().Has("REPLY_HEADER")) return Config().Wide("REPLY_HEADER");
        AnsiString header = WideToAnsi(request);
        if (header.size() < kHeaderSize) header.resize(kHeaderSize, ' ');
        for (const THeaderField& field : kReplyFields) {
            if (Config().Has(field.setting))
                header.replace(field.column - 1, field.width,
                               FitField(Config().Text(field.setting), field.width));
        }
        return AnsiToWide(header);
    }
};

const TComponentClass kClass = {"NetworkImpl", &CreateDispatchObject<TTestNet>, TESTNET_PROGID};

}  // namespace
}  // namespace nuva

NUVA_COMPONENT_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                               void** object) {
    return nuva::ComponentGetClassObject(nuva::kClass, clsid, iid, object);
}

NUVA_COMPONENT_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return nuva::ComponentCanUnloadNow();
}

#if !defined(TESTNET_NO_REGISTRATION)

NUVA_COMPONENT_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
#if defined(TESTNET_REGISTER_FAILS)
    return E_FAIL;
#elif defined(TESTNET_REGISTER_THROWS)
    // Out of the export on purpose: the caller must see a C++ exception.
    throw std::runtime_error("DllRegisterServer failed on purpose");
#elif defined(TESTNET_REGISTER_THROWS_OWN)
    // Its what() and destructor are this module's code, gone once the
    // caller frees the module.
    struct EOwnError : nuva::Exception {
        using nuva::Exception::Exception;
        const char* what() const noexcept override { return "TestNet's own error"; }
    };
    throw EOwnError("TestNet's own error");
#elif defined(TESTNET_REGISTER_RAISES) && defined(_WIN32)
#if defined(TESTNET_RAISE_WITH_INFO)
    nuva::SetThreadErrorInfo(IID_NULL, nuva::kSource, u"TestNet注册失败");
#endif
    RaiseException(0x0EEDFADE, 0, 0, nullptr);
    return E_UNEXPECTED;
#elif defined(TESTNET_REGISTER_FAULTS) && defined(_WIN32)
    *nuva::g_null = 1;
    return E_UNEXPECTED;
#elif defined(TESTNET_REGISTER_S_FALSE)
    const HRESULT hr = nuva::ComponentRegisterServer(nuva::kClass);
    return hr == S_OK ? S_FALSE : hr;
#else
    return nuva::ComponentRegisterServer(nuva::kClass);
#endif
}

NUVA_COMPONENT_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return nuva::ComponentUnregisterServer(nuva::kClass);
}

#endif
