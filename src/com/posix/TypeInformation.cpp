// IDispatch on POSIX, where there are no type libraries: a table of the three
// methods with the names and dispatch ids of Sender.idl and the exact
// argument types that the Windows build's type information demands.
#include "com/TypeInformation.h"

#include "com/Registration.h"
#include "com/SenderImpl.h"

namespace nuva::senderimpl {

namespace {

enum class TArg {
    BstrIn,    // [in] BSTR: VT_BSTR, or VT_BSTR | VT_BYREF read through
    BstrRef,   // [out] or [in, out] BSTR*: VT_BSTR | VT_BYREF
    ShortRef,  // [in, out] short*: VT_I2 | VT_BYREF
    BoolRef,   // [out] VARIANT_BOOL*: VT_BOOL | VT_BYREF
};

constexpr UINT kMaxArgs = 6;

struct TMethod {
    const char* name;
    DISPID id;
    UINT count;
    TArg args[kMaxArgs];  // in call order
};

constexpr TMethod kMethods[] = {
    {"TestConn", kDispIdTestConn, 2, {TArg::BstrRef, TArg::BoolRef}},
    {"Send",
     kDispIdSend,
     6,
     {TArg::BstrIn, TArg::BstrRef, TArg::ShortRef, TArg::BstrRef, TArg::BstrRef, TArg::BoolRef}},
    {"Init", kDispIdInit, 3, {TArg::BstrIn, TArg::BstrRef, TArg::BoolRef}},
};

bool NameEquals(const OLECHAR* name, const char* ascii) {
    auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (;; ++name, ++ascii) {
        const unsigned a = static_cast<unsigned>(*name);
        const unsigned b = static_cast<unsigned char>(*ascii);
        if (lower(a) != lower(b)) return false;
        if (a == 0) return true;
    }
}

// The argument's value in the form the vtable takes: the BSTR itself for an
// [in] string, the caller's variable for the others; null on a type mismatch.
void* ArgumentFor(TArg kind, VARIANTARG& v) {
    switch (kind) {
        case TArg::BstrIn:
            if (v.vt == VT_BSTR) return &v.bstrVal;
            return v.vt == (VT_BSTR | VT_BYREF) ? v.pbstrVal : nullptr;
        case TArg::BstrRef:
            return v.vt == (VT_BSTR | VT_BYREF) ? v.pbstrVal : nullptr;
        case TArg::ShortRef:
            return v.vt == (VT_I2 | VT_BYREF) ? v.piVal : nullptr;
        case TArg::BoolRef:
            return v.vt == (VT_BOOL | VT_BYREF) ? v.pboolVal : nullptr;
    }
    return nullptr;
}

// EXCEPINFO from the thread's error info, which is put back for the caller.
void FillException(HRESULT failure, EXCEPINFO* excepInfo) {
    if (!excepInfo) return;
    *excepInfo = EXCEPINFO{};
    excepInfo->scode = failure;
    TComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return;
    info->GetSource(&excepInfo->bstrSource);
    info->GetDescription(&excepInfo->bstrDescription);
    SetErrorInfo(0, info.Get());
}

}  // namespace

void LoadTypeInformation(const AnsiString&) {}

HRESULT TypeInfoCount(UINT* count) {
    if (!count) return E_INVALIDARG;
    *count = 0;
    return S_OK;
}

HRESULT InterfaceTypeInfo(UINT, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT IdsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (!names || !ids) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const TMethod& m : kMethods) {
        if (names[0] && NameEquals(names[0], m.name)) ids[0] = m.id;
    }
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT InvokeMethod(ISender* object, DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const TMethod* method = nullptr;
    for (const TMethod& m : kMethods)
        if (m.id == id) method = &m;
    if (!method || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (!params) return E_INVALIDARG;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != method->count) return DISP_E_BADPARAMCOUNT;
    if (!params->rgvarg) return E_INVALIDARG;

    void* a[kMaxArgs] = {};
    for (UINT i = 0; i < method->count; ++i) {
        // DISPPARAMS holds the arguments last first.
        const UINT slot = method->count - 1 - i;
        a[i] = ArgumentFor(method->args[i], params->rgvarg[slot]);
        if (!a[i]) {
            if (argErr) *argErr = slot;
            return DISP_E_TYPEMISMATCH;
        }
    }
    if (result) VariantInit(result);

    auto bstr = [&](UINT i) { return static_cast<BSTR*>(a[i]); };
    auto boolean = [&](UINT i) { return static_cast<VARIANT_BOOL*>(a[i]); };
    HRESULT hr = E_UNEXPECTED;
    switch (id) {
        case kDispIdTestConn:
            hr = object->TestConn(bstr(0), boolean(1));
            break;
        case kDispIdSend:
            hr = object->Send(*bstr(0), bstr(1), static_cast<short*>(a[2]), bstr(3), bstr(4),
                              boolean(5));
            break;
        case kDispIdInit:
            hr = object->Init(*bstr(0), bstr(1), boolean(2));
            break;
    }
    if (FAILED(hr)) {
        FillException(hr, excepInfo);
        return DISP_E_EXCEPTION;
    }
    return S_OK;
}

HRESULT ClassTypeInfo(ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

void RegisterOwnTypeLibrary(const AnsiString&) {}

void UnregisterOwnTypeLibrary(const AnsiString&) {}

}  // namespace nuva::senderimpl

namespace nuva {

namespace {

constexpr char kNoTypeLibraries[] = "Type libraries are not used on this platform";

}  // namespace

void RegisterTypeLibraryFile(const AnsiString&) {
    throw Exception(kNoTypeLibraries);
}

void UnregisterTypeLibraryFile(const AnsiString&) {
    throw Exception(kNoTypeLibraries);
}

bool RegistryOutlivesProcess() {
    return false;
}

}  // namespace nuva
