#include "ComponentSupport.h"

#include <new>
#include <stdexcept>

#include "platform/Platform.h"

namespace nuva {

namespace {

// Live objects (class factories included) and LockServer locks of this
// module. Constant-initialised: nothing runs at load time.
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// The failure of a COM method that raises no automation exception: a stale
// error info on the thread must not be taken for this failure's description.
HRESULT FailWithoutErrorInfo(HRESULT hr) {
    SetErrorInfo(0, nullptr);
    return hr;
}

bool NameEquals(const OLECHAR* name, const char* ascii) {
    auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (;; ++name, ++ascii) {
        unsigned a = static_cast<unsigned>(*name);
        unsigned b = static_cast<unsigned char>(*ascii);
        if (lower(a) != lower(b)) return false;
        if (a == 0) return true;
    }
}

BSTR AllocBstr(const WideString& text) {
    BSTR s = SysAllocStringLen(OleText(text.data()), static_cast<UINT>(text.size()));
    if (!s) throw std::bad_alloc();
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------

TRefCounted::TRefCounted() {
    ++g_objects;
}

TRefCounted::~TRefCounted() {
    --g_objects;
}

ULONG TRefCounted::AddRefCount() {
    return ++refs_;
}

ULONG TRefCounted::ReleaseCount() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT QueryInterfaceTable(REFIID iid, void** object,
                            std::initializer_list<TInterfaceEntry> table) {
    if (!object) return E_POINTER;
    for (const TInterfaceEntry& entry : table) {
        if (IsEqualIID(iid, entry.iid)) {
            entry.pointer->AddRef();
            *object = entry.pointer;
            return S_OK;
        }
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// ---------------------------------------------------------------------------
// Arguments
// ---------------------------------------------------------------------------

const TParam& TDispatchArgs::Param(size_t index) const {
    if (index >= params_.size()) throw std::logic_error("argument index out of range");
    return params_[index];
}

VARIANTARG& TDispatchArgs::At(size_t index, TArgKind kind) const {
    if (Param(index).kind != kind) throw std::logic_error("argument read as another kind");
    // DISPPARAMS holds the arguments last first.
    return dispParams_.rgvarg[params_.size() - 1 - index];
}

WideString TDispatchArgs::Text(size_t index) const {
    if (Param(index).kind == TArgKind::BstrIn)
        return BstrToWide(At(index, TArgKind::BstrIn).bstrVal);
    return BstrToWide(*At(index, TArgKind::BstrRef).pbstrVal);
}

SHORT TDispatchArgs::Int16(size_t index) const {
    return *At(index, TArgKind::Int16Ref).piVal;
}

VARIANT_BOOL TDispatchArgs::Bool(size_t index) const {
    return *At(index, TArgKind::BoolRef).pboolVal;
}

void TDispatchArgs::SetText(size_t index, const WideString& text) {
    BSTR* variable = At(index, TArgKind::BstrRef).pbstrVal;
    BSTR fresh = AllocBstr(text);
    SysFreeString(*variable);
    *variable = fresh;
}

void TDispatchArgs::SetInt16(size_t index, SHORT value) {
    *At(index, TArgKind::Int16Ref).piVal = value;
}

void TDispatchArgs::SetBool(size_t index, bool value) {
    *At(index, TArgKind::BoolRef).pboolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

EAutomationError::EAutomationError(const WideString& description)
    : Exception(WideToAnsi(description)), description_(description) {}

// ---------------------------------------------------------------------------
// TDispatchObject
// ---------------------------------------------------------------------------

HRESULT TDispatchObject::QueryInterface(REFIID iid, void** object) {
    return QueryInterfaceTable(iid, object,
                               {{IID_IUnknown, static_cast<IDispatch*>(this)},
                                {IID_IDispatch, static_cast<IDispatch*>(this)},
                                {IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(this)}});
}

HRESULT TDispatchObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_INVALIDARG;
    *count = 0;
    return S_OK;
}

HRESULT TDispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT TDispatchObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(iid, IID_NULL)) return FailWithoutErrorInfo(DISP_E_UNKNOWNINTERFACE);
    if (count == 0) return S_OK;
    if (!names || !ids) return FailWithoutErrorInfo(E_INVALIDARG);
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (names[0]) {
        // Answers() is the object's own code: nothing of it may leave.
        try {
            for (size_t m = 0; m < members_.size(); ++m) {
                if (NameEquals(names[0], members_[m].name) && Answers(members_[m])) {
                    ids[0] = static_cast<DISPID>(m + 1);
                    break;
                }
            }
        } catch (const std::bad_alloc&) {
            ids[0] = DISPID_UNKNOWN;
            return FailWithoutErrorInfo(E_OUTOFMEMORY);
        } catch (...) {
            ids[0] = DISPID_UNKNOWN;
            return FailWithoutErrorInfo(E_UNEXPECTED);
        }
    }
    // Parameter names are never resolved: calls are positional.
    if (ids[0] == DISPID_UNKNOWN || count > 1) return FailWithoutErrorInfo(DISP_E_UNKNOWNNAME);
    return S_OK;
}

HRESULT TDispatchObject::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    if (!IsEqualIID(iid, IID_NULL)) return FailWithoutErrorInfo(DISP_E_UNKNOWNINTERFACE);
    if (id < 1 || static_cast<size_t>(id) > members_.size())
        return FailWithoutErrorInfo(DISP_E_MEMBERNOTFOUND);
    const TMember& member = members_[static_cast<size_t>(id) - 1];
    // Visual Basic style callers send DISPATCH_METHOD | DISPATCH_PROPERTYGET.
    if (!(flags & DISPATCH_METHOD)) return FailWithoutErrorInfo(DISP_E_MEMBERNOTFOUND);
    try {
        if (!Answers(member)) return FailWithoutErrorInfo(DISP_E_MEMBERNOTFOUND);
    } catch (const std::bad_alloc&) {
        return FailWithoutErrorInfo(E_OUTOFMEMORY);
    } catch (...) {
        return FailWithoutErrorInfo(E_UNEXPECTED);
    }
    if (!params) return FailWithoutErrorInfo(E_INVALIDARG);
    if (params->cNamedArgs != 0) return FailWithoutErrorInfo(DISP_E_NONAMEDARGS);
    const size_t n = member.params.size();
    if (params->cArgs != n) return FailWithoutErrorInfo(DISP_E_BADPARAMCOUNT);
    if (n != 0 && !params->rgvarg) return FailWithoutErrorInfo(E_INVALIDARG);
    for (size_t i = 0; i < n; ++i) {
        const size_t slot = n - 1 - i;
        const VARIANTARG& arg = params->rgvarg[slot];
        const bool byRef = (arg.vt & VT_BYREF) != 0;
        if (arg.vt != static_cast<VARTYPE>(member.params[i].kind) || (byRef && !arg.byref)) {
            if (argErr) *argErr = static_cast<UINT>(slot);
            return FailWithoutErrorInfo(DISP_E_TYPEMISMATCH);
        }
    }
    if (result) VariantInit(result);

    try {
        TDispatchArgs args(member.params, *params);
        member.run(args);
        return S_OK;
    } catch (const EAutomationError& e) {
        return FailWithException(e.Description(), excepInfo);
    } catch (const std::bad_alloc&) {
        return FailWithoutErrorInfo(E_OUTOFMEMORY);
    } catch (const std::exception& e) {
        return FailWithException(AnsiToWide(e.what()), excepInfo);
    } catch (...) {
        return FailWithoutErrorInfo(E_UNEXPECTED);
    }
}

HRESULT TDispatchObject::FailWithException(const WideString& description, EXCEPINFO* excepInfo) {
    try {
        if (excepInfo) {
            *excepInfo = EXCEPINFO{};
            excepInfo->bstrSource = AllocBstr(source_);
            excepInfo->bstrDescription = AllocBstr(description);
            excepInfo->scode = E_FAIL;
        }
        if (!SetThreadErrorInfo(IID_IDispatch, source_, description)) SetErrorInfo(0, nullptr);
        return DISP_E_EXCEPTION;
    } catch (...) {
        if (excepInfo) {
            SysFreeString(excepInfo->bstrSource);
            SysFreeString(excepInfo->bstrDescription);
            *excepInfo = EXCEPINFO{};
        }
        return FailWithoutErrorInfo(E_OUTOFMEMORY);
    }
}

HRESULT TDispatchObject::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsEqualIID(iid, IID_IDispatch) ? S_OK : S_FALSE;
}

void TDispatchObject::AddMember(TMember member) {
    members_.push_back(std::move(member));
}

// ---------------------------------------------------------------------------
// TClassFactory
// ---------------------------------------------------------------------------

HRESULT TClassFactory::QueryInterface(REFIID iid, void** object) {
    return QueryInterfaceTable(iid, object, {{IID_IUnknown, this}, {IID_IClassFactory, this}});
}

HRESULT TClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    try {
        TComPtr<IUnknown> instance(create_());
        if (!instance) return E_OUTOFMEMORY;
        return instance->QueryInterface(iid, object);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT TClassFactory::LockServer(BOOL lock) {
    if (lock)
        ++g_locks;
    else
        --g_locks;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Names and registration
// ---------------------------------------------------------------------------

namespace {

// This module's file: the kit is linked into each component, so its own code
// lies in the component's module.
AnsiString ThisModulePath() {
    return ModuleFileNameOf(reinterpret_cast<const void*>(&ThisModulePath));
}

uint64_t Fnv1a64(const AnsiString& text) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// The keys of one registration, deepest last (removal walks them backwards).
struct TRegistration {
    AnsiString progId;
    AnsiString clsid;  // "{...}"

    AnsiString ClsidKey() const { return "CLSID\\" + clsid; }
    std::vector<AnsiString> Keys() const {
        return {progId, progId + "\\Clsid", ClsidKey(), ClsidKey() + "\\InprocServer32",
                ClsidKey() + "\\ProgID"};
    }
};

TRegistration RegistrationOf(const TComponentClass& cls) {
    TRegistration r;
    r.progId = ComponentProgId(cls);
    r.clsid = GuidToString(ClassIdForProgId(r.progId));
    return r;
}

bool RemoveRegistration(const TRegistration& r) {
    const std::vector<AnsiString> keys = r.Keys();
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) RegRemoveKey(*key);
    for (const AnsiString& key : keys)
        if (RegKeyExists(key)) return false;
    return true;
}

}  // namespace

AnsiString ProgIdForModule(const AnsiString& modulePath, const AnsiString& className) {
    const size_t delimiter = LastDelimiter("\\/", modulePath);
    const AnsiString fileName =
        delimiter == AnsiString::npos ? modulePath : modulePath.substr(delimiter + 1);
    // '.' is never a trail byte of GBK, so a plain search is safe.
    const size_t dot = fileName.find('.');
    if (dot == AnsiString::npos) return className;
    return fileName.substr(0, dot + 1) + className;
}

GUID ClassIdForProgId(const AnsiString& progId) {
    const AnsiString key = AnsiUpperCaseAscii(progId);
    const uint64_t high = Fnv1a64("nuva-component-clsid-1:" + key);
    const uint64_t low = Fnv1a64("nuva-component-clsid-2:" + key);
    uint8_t b[16];
    for (int i = 0; i < 8; ++i) {
        b[i] = static_cast<uint8_t>(high >> (56 - 8 * i));
        b[8 + i] = static_cast<uint8_t>(low >> (56 - 8 * i));
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x80);  // version 8: custom
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // the RFC variant
    GUID g;
    g.Data1 = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
              static_cast<uint32_t>(b[2]) << 8 | b[3];
    g.Data2 = static_cast<uint16_t>(b[4] << 8 | b[5]);
    g.Data3 = static_cast<uint16_t>(b[6] << 8 | b[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = b[8 + i];
    return g;
}

AnsiString ComponentProgId(const TComponentClass& cls) {
    if (cls.progIdOverride) return cls.progIdOverride;
    return ProgIdForModule(ThisModulePath(), cls.className);
}

HRESULT ComponentGetClassObject(const TComponentClass& cls, REFCLSID clsid, REFIID iid,
                                void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    try {
        if (!IsEqualGUID(clsid, ClassIdForProgId(ComponentProgId(cls))))
            return CLASS_E_CLASSNOTAVAILABLE;
        TComPtr<TClassFactory> factory(new TClassFactory(cls.create));
        return factory->QueryInterface(iid, object);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ComponentCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

HRESULT ComponentRegisterServer(const TComponentClass& cls) {
    try {
        const AnsiString path = ThisModulePath();
        if (path.empty()) return SELFREG_E_CLASS;
        const TRegistration r = RegistrationOf(cls);
        const AnsiString server = r.ClsidKey() + "\\InprocServer32";
        const bool written = RegWriteString(r.progId, "", cls.className) &&
                             RegWriteString(r.progId + "\\Clsid", "", r.clsid) &&
                             RegWriteString(r.ClsidKey(), "", cls.className) &&
                             RegWriteString(server, "", path) &&
                             RegWriteString(server, "ThreadingModel", "Both") &&
                             RegWriteString(r.ClsidKey() + "\\ProgID", "", r.progId);
        if (written) return S_OK;
        RemoveRegistration(r);
        return SELFREG_E_CLASS;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ComponentUnregisterServer(const TComponentClass& cls) {
    try {
        return RemoveRegistration(RegistrationOf(cls)) ? S_OK : SELFREG_E_CLASS;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace nuva
