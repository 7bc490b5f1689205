#include "invokers/ComponentInvoker.h"

#include <exception>
#include <vector>

#include "invokers/InvokerTexts.h"
#include "invokers/OleError.h"
#include "platform/Guard.h"
#include "platform/Platform.h"

namespace nuva {

namespace {

// The text of a structured exception that left a component: the description
// of the error info the component left before it raised, else "External
// exception" and the code.
AnsiString RaisedText(uint32_t code) {
    // The error info may be the component's own object: reading it is a
    // call into the component too.
    WideString description;
    bool taken = false;
    TStructuredException again;
    if (GuardedCall([&] { taken = TakeThreadErrorDescription(&description); }, &again) && taken &&
        !description.empty())
        return WideToAnsi(description);
    return Format(msg::kExternalExceptionCode, static_cast<unsigned>(code));
}

// Runs `call`, which enters a component's code, so that nothing the
// component lets out goes further than here. A structured exception (a
// fault, a raise) ends the call as EExternalException with `RaisedText`; a
// C++ exception out of the component (only where they cross modules:
// x86-64 and POSIX) as EExternalException with its text. The text is copied
// here, while the component's module is surely loaded: the component's own
// exception object is destroyed before the call returns and never outlives
// its module. `call` must hold nothing but the calls into the component.
template <class F>
void CallComponent(F&& call) {
    // A stale description must not be taken for a raise's.
    SetErrorInfo(0, nullptr);
    bool thrown = false;
    AnsiString text;
    TStructuredException raised;
    const bool returned = GuardedCall(
        [&] {
            try {
                call();
            } catch (const std::exception& e) {
                thrown = true;
                text = e.what();
            } catch (...) {
                thrown = true;
                text = msg::kExternalException;
            }
        },
        &raised);
    if (!returned) throw EExternalException(RaisedText(raised.code));
    if (thrown) throw EExternalException(text);
}

}  // namespace

AnsiString ProgIdFor(const AnsiString& dllPath, const AnsiString& className) {
    // The first "." of the whole path: byte-wise is safe in GBK, whose trail
    // bytes are never 0x2E.
    size_t dot = dllPath.find('.');
    if (dot == AnsiString::npos) return className;
    return dllPath.substr(0, dot + 1) + className;
}

bool RegisterDll(const AnsiString& dllPath, bool doRegister) {
    TModule module(dllPath);
    if (!module) return false;
    using TRegisterProc = HRESULT(STDAPICALLTYPE*)();
    auto proc =
        module.Proc<TRegisterProc>(doRegister ? "DllRegisterServer" : "DllUnregisterServer");
    if (!proc) return false;
    // A failure inside the export leaves as our own error, made while the
    // module is loaded; the module is freed on every way out.
    HRESULT hr = E_FAIL;
    CallComponent([&] { hr = proc(); });
    return SUCCEEDED(hr);
}

// ---------------------------------------------------------------------------
// Arguments
// ---------------------------------------------------------------------------

TDispArg TDispArg::ByValue(BSTR s) {
    TDispArg a;
    VariantInit(&a.v_);
    a.v_.vt = VT_BSTR;
    a.v_.bstrVal = s;
    return a;
}

TDispArg TDispArg::ByRefString(BSTR* s) {
    TDispArg a;
    VariantInit(&a.v_);
    a.v_.vt = VT_BYREF | VT_BSTR;
    a.v_.pbstrVal = s;
    return a;
}

TDispArg TDispArg::ByRefShort(SHORT* n) {
    TDispArg a;
    VariantInit(&a.v_);
    a.v_.vt = VT_BYREF | VT_I2;
    a.v_.piVal = n;
    return a;
}

TDispArg TDispArg::ByRefBool(VARIANT_BOOL* b) {
    TDispArg a;
    VariantInit(&a.v_);
    a.v_.vt = VT_BYREF | VT_BOOL;
    a.v_.pboolVal = b;
    return a;
}

// ---------------------------------------------------------------------------
// TComponentInvoker
// ---------------------------------------------------------------------------

TComponentInvoker::TComponentInvoker(const AnsiString& dllPath, const AnsiString& className)
    : FDllPath(dllPath), FClassName(className) {
    FReady = RegisterDll(FDllPath, true);
    if (!FReady) return;
    // A registered DLL whose object cannot be made stays registered: this
    // invoker is not ready and will not unregister it. Creating the object
    // runs the component's code (its class factory and constructor).
    try {
        CLSID clsid;
        WideString progId = AnsiToWide(ProgIdFor(FDllPath, FClassName));
        HRESULT hr = S_OK;
        IDispatch* component = nullptr;
        CallComponent([&] {
            hr = CLSIDFromProgID(OleText(progId.c_str()), &clsid);
            if (SUCCEEDED(hr))
                hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                      IID_IDispatch, reinterpret_cast<void**>(&component));
        });
        if (SUCCEEDED(hr)) FComponent.Reset(component);
        OleCheck(hr);
        if (!FComponent) FReady = false;
    } catch (...) {
        ReleaseComponent();
        FReady = false;
    }
}

TComponentInvoker::~TComponentInvoker() {
    if (FReady && !keepRegistered_) {
        try {
            RegisterDll(FDllPath, false);
        } catch (...) {
            // An exception leaving a destructor would end the host process.
        }
    }
    ReleaseComponent();
}

void TComponentInvoker::ReleaseComponent() noexcept {
    IDispatch* component = FComponent.Detach();
    if (!component) return;
    try {
        CallComponent([&] { component->Release(); });
    } catch (...) {
        // A component that fails while it goes is gone all the same.
    }
}

HRESULT TComponentInvoker::Call(const char16_t* member, std::initializer_list<TDispArg> args,
                                BSTR& msg, VARIANT_BOOL& ok) {
    try {
        SysFreeString(msg);
        msg = nullptr;
        if (!FReady) {
            ok = VARIANT_FALSE;
            WideString text =
                texts::kNotRegisteredOpen + AnsiToWide(FDllPath) + texts::kNotRegisteredClose;
            msg = SysAllocStringLen(OleText(text.data()), static_cast<UINT>(text.size()));
            return S_OK;
        }
        std::vector<TDispArg> all(args);
        all.push_back(TDispArg::ByRefString(&msg));
        all.push_back(TDispArg::ByRefBool(&ok));
        Invoke(member, all);
        return S_OK;
    } catch (const Exception& e) {
        SetThreadErrorInfo(IID_NULL, WideString(), AnsiToWide(e.Message()));
    } catch (const std::bad_alloc&) {
        SetThreadErrorInfo(IID_NULL, WideString(), AnsiToWide(SystemErrorText(E_OUTOFMEMORY)));
    } catch (...) {
        SetThreadErrorInfo(IID_NULL, WideString(), AnsiToWide(msg::kExternalException));
    }
    return E_UNEXPECTED;
}

void TComponentInvoker::Invoke(const char16_t* member, const std::vector<TDispArg>& args) {
    WideString name(member);
    LPOLESTR names[1] = {OleText(&name[0])};
    DISPID id = DISPID_UNKNOWN;
    // Looked up on every call: a component may answer other names over time.
    const LCID locale = GetThreadLocale();
    HRESULT hr = S_OK;
    CallComponent([&] { hr = FComponent->GetIDsOfNames(IID_NULL, names, 1, locale, &id); });
    if (FAILED(hr)) throw EOleError(SystemErrorText(hr), hr);

    // IDispatch takes the arguments last one first. The VARIANTs are copied
    // bit for bit: they point at the caller's strings and variables and own
    // nothing, so they are never cleared.
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(it->Variant());
    DISPPARAMS params;
    params.rgvarg = reversed.data();
    params.rgdispidNamedArgs = nullptr;
    params.cArgs = static_cast<UINT>(reversed.size());
    params.cNamedArgs = 0;

    EXCEPINFO excep = {};
    UINT argErr = 0;
    CallComponent([&] {
        hr =
            FComponent->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &excep, &argErr);
        if (hr == DISP_E_EXCEPTION && excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    });
    if (hr == DISP_E_EXCEPTION) {
        TBstr source = TBstr::Attach(excep.bstrSource);
        TBstr description = TBstr::Attach(excep.bstrDescription);
        TBstr helpFile = TBstr::Attach(excep.bstrHelpFile);
        AnsiString text = description.ToAnsi();
        if (text.empty()) text = SystemErrorText(excep.scode ? excep.scode : hr);
        throw EOleError(text, hr);
    }
    if (FAILED(hr)) throw EOleError(SystemErrorText(hr), hr);
}

}  // namespace nuva
