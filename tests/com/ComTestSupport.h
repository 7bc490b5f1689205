// What the COM server's tests share: the identities written out as the host
// sees them, the library file beside the test program, the three methods
// called through the ISender vtable and through IDispatch by name, and the
// calling thread's error info.
#pragma once

#include <gtest/gtest.h>

#include "../engine/EngineTestSupport.h"
#include "com/SenderInterface.h"

namespace nuva::test {

inline constexpr char kClsidText[] = "{9A0CECE0-90A4-40E6-BE3F-382306EAFA72}";
inline constexpr char kLibIdText[] = "{857FAEB4-5F46-40AB-B92D-75A165B07531}";
inline constexpr char kHostLibIdText[] = "{308A4417-9039-4210-A10D-582379EC1D79}";
inline constexpr char kSenderIidText[] = "{4359B4C3-E087-4D97-9AC3-86FE8B61B145}";
inline constexpr char kProgIdText[] = "DuredaVevuvavizuriz_NUVA.SenderImpl";
inline constexpr char kServerFile[] = "DuredaVevuvavizuriz_NUVA.dll";

inline GUID Guid(const char* text) {
    GUID g{};
    EXPECT_TRUE(StringToGuid(text, &g)) << text;
    return g;
}

// The directory of the test program (the build's bin directory), with a
// trailing delimiter, whatever the executable-directory override says.
inline AnsiString ProgramDirectory() {
    return ExtractFilePath(ModuleFileNameOf(reinterpret_cast<const void*>(&ProgramDirectory)));
}

// The library file and the host's type library of this build.
inline AnsiString ServerPath() {
    return ProgramDirectory() + kServerFile;
}
inline AnsiString HostTypeLibraryPath() {
    return ProgramDirectory() + "Sender.tlb";
}

// Everything one call gives back.
struct TCall {
    HRESULT hr = E_FAIL;
    AnsiString message;
    VARIANT_BOOL result = 0x55;  // neither true nor false: "not written"
    AnsiString reply;
    SHORT progress = 0;
    AnsiString status;
};

// The methods through the vtable, with fresh out variables.
inline TCall VtableInit(ISender* sender, const AnsiString& config) {
    TCall c;
    TBstr text = TBstr::FromAnsi(config), message;
    c.hr = sender->Init(text.Get(), message.Receive(), &c.result);
    c.message = message.ToAnsi();
    return c;
}

inline TCall VtableTestConn(ISender* sender) {
    TCall c;
    TBstr message;
    c.hr = sender->TestConn(message.Receive(), &c.result);
    c.message = message.ToAnsi();
    return c;
}

inline TCall VtableSend(ISender* sender, const AnsiString& pdu, SHORT progress = 0,
                        const AnsiString& status = "") {
    TCall c;
    c.progress = progress;
    TBstr request = TBstr::FromAnsi(pdu), reply, message;
    TBstr statusText = TBstr::FromAnsi(status);
    c.hr = sender->Send(request.Get(), reply.Receive(), &c.progress, statusText.InOut(),
                        message.Receive(), &c.result);
    c.reply = reply.ToAnsi();
    c.status = statusText.ToAnsi();
    c.message = message.ToAnsi();
    return c;
}

// The dispatch id of a member name; DISPID_UNKNOWN with the failure in `hr`.
inline DISPID DispId(IDispatch* object, const char16_t* name, HRESULT* hr = nullptr) {
    WideString text = name;
    LPOLESTR names[] = {OleText(&text[0])};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT r = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr) *hr = r;
    return id;
}

// A late-bound method call; `args` in call order (reversed into DISPPARAMS).
// The EXCEPINFO's description lands in `*exception` when given.
inline HRESULT InvokeByName(IDispatch* object, const char16_t* name, std::vector<VARIANT> args,
                            WideString* exception = nullptr, UINT* argErr = nullptr) {
    HRESULT hr = S_OK;
    const DISPID id = DispId(object, name, &hr);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO info{};
    UINT err = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &info,
                        &err);
    if (exception) *exception = BstrToWide(info.bstrDescription);
    if (argErr) *argErr = err;
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return hr;
}

inline VARIANT ByValue(BSTR s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = s;
    return v;
}
inline VARIANT ByRef(BSTR* s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR | VT_BYREF;
    v.pbstrVal = s;
    return v;
}
inline VARIANT ByRef(SHORT* n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I2 | VT_BYREF;
    v.piVal = n;
    return v;
}
inline VARIANT ByRefBool(VARIANT_BOOL* b) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL | VT_BYREF;
    v.pboolVal = b;
    return v;
}

// The methods through IDispatch, as a late-bound host calls them.
inline TCall LateInit(IDispatch* object, const AnsiString& config) {
    TCall c;
    TBstr text = TBstr::FromAnsi(config), message;
    c.hr = InvokeByName(object, u"Init",
                        {ByValue(text.Get()), ByRef(message.InOut()), ByRefBool(&c.result)});
    c.message = message.ToAnsi();
    return c;
}

inline TCall LateTestConn(IDispatch* object) {
    TCall c;
    TBstr message;
    c.hr = InvokeByName(object, u"TestConn", {ByRef(message.InOut()), ByRefBool(&c.result)});
    c.message = message.ToAnsi();
    return c;
}

inline TCall LateSend(IDispatch* object, const AnsiString& pdu, SHORT progress = 0,
                      const AnsiString& status = "") {
    TCall c;
    c.progress = progress;
    TBstr request = TBstr::FromAnsi(pdu), reply, message, statusText = TBstr::FromAnsi(status);
    c.hr = InvokeByName(object, u"Send",
                        {ByValue(request.Get()), ByRef(reply.InOut()), ByRef(&c.progress),
                         ByRef(statusText.InOut()), ByRef(message.InOut()), ByRefBool(&c.result)});
    c.reply = reply.ToAnsi();
    c.status = statusText.ToAnsi();
    c.message = message.ToAnsi();
    return c;
}

// The calling thread's error info, taken (GetErrorInfo clears it).
struct TErrorInfo {
    bool present = false;
    GUID iid{};
    AnsiString source;
    AnsiString description;
    AnsiString helpFile;
};

inline TErrorInfo TakeErrorInfo() {
    TErrorInfo e;
    TComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return e;
    e.present = true;
    TBstr source, description, helpFile;
    info->GetGUID(&e.iid);
    info->GetSource(source.Receive());
    info->GetDescription(description.Receive());
    info->GetHelpFile(helpFile.Receive());
    e.source = source.ToAnsi();
    e.description = description.ToAnsi();
    e.helpFile = helpFile.ToAnsi();
    return e;
}

// The transaction every happy-path test sends: one item, all steps on (no
// action.ini beside the test program).
inline constexpr char kHelloPdu[] =
    "<?xml version=\"1.0\" encoding=\"GBK\"?><PDU><SENDER>COMTEST</SENDER>"
    "<TYPE_CODE>01</TYPE_CODE><RESERVE></RESERVE>"
    "<CONTENT><NAME>a.txt</NAME><VALUE>hello</VALUE></CONTENT></PDU>";
// The item as the reply brings it back.
inline constexpr char kHelloItem[] = "<CONTENT><NAME>a.txt</NAME><VALUE>hello</VALUE></CONTENT>";

}  // namespace nuva::test
