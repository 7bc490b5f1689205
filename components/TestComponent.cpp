#include "TestComponent.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/Stream.h"
#include "util/XmlUtil.h"
#include "util/util.h"

namespace nuva {

namespace {

constexpr char16_t kRaiseDefault[] = u"测试组件异常";
// RAISE_KIND raise: the code of a foreign runtime's exception.
constexpr DWORD kForeignExceptionCode = 0x0EEDFADE;
// RAISE_KIND fault: written through; volatile, so that the write stays.
int* volatile g_null = nullptr;
constexpr char16_t kBadSetting[] = u"配置项";          // + element
constexpr char16_t kBadSettingValue[] = u"的值无效:";  // + value

WideString AsciiToWide(const std::string& s) {
    return WideString(s.begin(), s.end());
}

bool SameAsciiName(const AnsiString& a, const AnsiString& b) {
    return AnsiUpperCaseAscii(a) == AnsiUpperCaseAscii(b);
}

// A log value on one line: backslash, TAB, CR and LF escaped. Done on UTF-16,
// where a backslash is never half of a GBK character.
WideString EscapeLogValue(const WideString& value) {
    WideString out;
    out.reserve(value.size());
    for (char16_t c : value) {
        switch (c) {
            case u'\\':
                out += u"\\\\";
                break;
            case u'\t':
                out += u"\\t";
                break;
            case u'\r':
                out += u"\\r";
                break;
            case u'\n':
                out += u"\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

EAutomationError BadSetting(const AnsiString& name, const AnsiString& value) {
    return EAutomationError(kBadSetting + AsciiToWide(name) + kBadSettingValue + AnsiToWide(value));
}

// "\tname=value" for argument `index` as it is now.
WideString LogField(const TDispatchArgs& args, size_t index) {
    const TParam& param = args.Param(index);
    WideString value;
    switch (param.kind) {
        case TArgKind::BstrIn:
        case TArgKind::BstrRef:
            value = EscapeLogValue(args.Text(index));
            break;
        case TArgKind::Int16Ref:
            value = AsciiToWide(std::to_string(args.Int16(index)));
            break;
        case TArgKind::BoolRef:
            value = AsciiToWide(std::to_string(args.Bool(index)));
            break;
    }
    return u"\t" + AsciiToWide(param.name) + u"=" + value;
}

}  // namespace

// ---------------------------------------------------------------------------
// TTestConfig
// ---------------------------------------------------------------------------

bool TTestConfig::Has(const AnsiString& name) const {
    TXmlNode node;
    GetElement(xml_, name, node);
    return node.Index != 0;
}

AnsiString TTestConfig::Text(const AnsiString& name, const AnsiString& def) const {
    TXmlNode node;
    GetElement(xml_, name, node);
    return node.Index != 0 ? XmlUnescape(node.Inner) : def;
}

WideString TTestConfig::Wide(const AnsiString& name, const WideString& def) const {
    return Has(name) ? AnsiToWide(Text(name)) : def;
}

size_t TTestConfig::Choice(const AnsiString& name, std::initializer_list<const char*> choices,
                           size_t def) const {
    if (!Has(name)) return def;
    const AnsiString value = Trim(Text(name));
    size_t position = 0;
    for (const char* choice : choices) {
        if (SameAsciiName(value, choice)) return position;
        ++position;
    }
    throw BadSetting(name, value);
}

std::vector<AnsiString> TTestConfig::List(const AnsiString& name) const {
    // ',' is never a trail byte of GBK.
    const AnsiString text = Text(name);
    std::vector<AnsiString> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == AnsiString::npos) end = text.size();
        AnsiString item = Trim(text.substr(start, end - start));
        if (!item.empty()) items.push_back(std::move(item));
        start = end + 1;
    }
    return items;
}

std::vector<SHORT> TTestConfig::Int16List(const AnsiString& name) const {
    std::vector<SHORT> values;
    for (const AnsiString& item : List(name)) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(item.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || value < INT16_MIN || value > INT16_MAX)
            throw BadSetting(name, item);
        values.push_back(static_cast<SHORT>(value));
    }
    return values;
}

// ---------------------------------------------------------------------------
// TTestComponent
// ---------------------------------------------------------------------------

TTestComponent::TTestComponent(const WideString& source)
    : TDispatchObject(source), source_(source) {
    AddLoggedMember(
        {"Init",
         {{"configXml", TArgKind::BstrIn}, {"msg", TArgKind::BstrRef}, {"ok", TArgKind::BoolRef}},
         [this](TDispatchArgs& args) { Init(args); }},
        false);
}

void TTestComponent::AddTestMember(const char* name, std::vector<TParam> params,
                                   std::function<void(TDispatchArgs&)> run) {
    AddLoggedMember({name, std::move(params), std::move(run)}, true);
}

void TTestComponent::AddLoggedMember(TMember member, bool raiseFirst) {
    const char* name = member.name;
    auto run = std::move(member.run);
    member.run = [this, name, raiseFirst, run](TDispatchArgs& args) {
        WideString line = AsciiToWide(name);
        for (size_t i = 0; i < args.Count(); ++i) line += LogField(args, i);
        line += u"\t=>";
        try {
            if (raiseFirst && Raises(name)) Raise();
            run(args);
        } catch (...) {
            AppendLog(line + u"\traised");
            throw;
        }
        for (size_t i = 0; i < args.Count(); ++i)
            if (args.Param(i).kind != TArgKind::BstrIn) line += LogField(args, i);
        AppendLog(line);
    };
    AddMember(std::move(member));
}

void TTestComponent::Init(TDispatchArgs& args) {
    // The new configuration names the log that this very call goes to.
    config_ = TTestConfig(WideToAnsi(args.Text(0)));
    logPath_ = config_.Text("LOG");
    size_t initOk = swOn;
    try {
        initOk = config_.Choice("INIT_OK", {"0", "1", "untouched"}, swOn);
        RaiseKind();
        deferFillIn_ = config_.Choice("RAISE_FILL_IN", {"0", "1"}, swOff) == swOn;
        CheckConfig();
    } catch (const EAutomationError&) {
        // Nothing of a rejected configuration applies but its log.
        config_ = TTestConfig();
        deferFillIn_ = false;
        throw;
    }
    if (Raises("Init")) Raise();
    if (config_.Has("INIT_MSG")) args.SetText(1, config_.Wide("INIT_MSG"));
    if (initOk != swUntouched) args.SetBool(2, initOk == swOn);
}

bool TTestComponent::Answers(const TMember& member) const {
    if (SameAsciiName(member.name, "Init")) return true;
    for (const AnsiString& missing : config_.List("MISSING"))
        if (SameAsciiName(missing, member.name)) return false;
    return true;
}

namespace {

// What the deferred fill-in of the calling thread's last exception hands out.
thread_local EXCEPINFO deferredException = {};

HRESULT STDAPICALLTYPE FillInDeferredException(EXCEPINFO* excepInfo) {
    if (!excepInfo) return E_INVALIDARG;
    excepInfo->bstrSource = deferredException.bstrSource;
    excepInfo->bstrDescription = deferredException.bstrDescription;
    excepInfo->scode = deferredException.scode;
    excepInfo->pfnDeferredFillIn = nullptr;
    deferredException = EXCEPINFO{};
    return S_OK;
}

}  // namespace

HRESULT TTestComponent::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    const HRESULT hr =
        TDispatchObject::Invoke(id, iid, lcid, flags, params, result, excepInfo, argErr);
    if (hr != DISP_E_EXCEPTION || !deferFillIn_ || !excepInfo) return hr;
    // The strings move to the thread's slot; a fill-in never called leaves
    // the previous ones there, freed here.
    SysFreeString(deferredException.bstrSource);
    SysFreeString(deferredException.bstrDescription);
    deferredException = EXCEPINFO{};
    deferredException.bstrSource = excepInfo->bstrSource;
    deferredException.bstrDescription = excepInfo->bstrDescription;
    deferredException.scode = excepInfo->scode;
    *excepInfo = EXCEPINFO{};
    excepInfo->pfnDeferredFillIn = &FillInDeferredException;
    SetErrorInfo(0, nullptr);
    return hr;
}

bool TTestComponent::Raises(const char* name) const {
    for (const AnsiString& raised : config_.List("RAISE"))
        if (SameAsciiName(raised, name)) return true;
    return false;
}

size_t TTestComponent::RaiseKind() const {
#if defined(_WIN32)
    return config_.Choice("RAISE_KIND", {"exception", "raise", "fault"}, rkException);
#else
    // A fault is a signal here, and there is no RaiseException.
    return config_.Choice("RAISE_KIND", {"exception"}, rkException);
#endif
}

void TTestComponent::Raise() const {
    const size_t kind = RaiseKind();
    if (kind != rkException) RaiseStructured(kind);
    throw EAutomationError(config_.Wide("RAISE_MSG", kRaiseDefault));
}

void TTestComponent::RaiseStructured(size_t kind) const {
#if defined(_WIN32)
    // What a component of another compiler does: its error info, when it
    // has a message, then its own exception code, or a plain fault.
    if (config_.Has("RAISE_MSG")) SetThreadErrorInfo(IID_NULL, source_, config_.Wide("RAISE_MSG"));
    if (kind == rkRaise) RaiseException(kForeignExceptionCode, 0, 0, nullptr);
    *g_null = 1;
#else
    (void)kind;
#endif
}

TTestComponent::~TTestComponent() {
    size_t kind = rkException;
    try {
        if (Raises("Release")) kind = RaiseKind();
    } catch (...) {
    }
    if (kind != rkException) RaiseStructured(kind);
}

void TTestComponent::AppendLog(const WideString& line) const {
    if (logPath_.empty()) return;
    const AnsiString bytes = WideToAnsi(line) + "\n";
    // Opened and closed per call: the tests read the log between calls.
    std::unique_ptr<TFileStream> log =
        FileExists(logPath_)
            ? std::make_unique<TFileStream>(logPath_, fmOpenWrite | fmShareDenyNone)
            : std::make_unique<TFileStream>(logPath_, fmCreate);
    log->Seek(0, soEnd);
    log->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

}  // namespace nuva
