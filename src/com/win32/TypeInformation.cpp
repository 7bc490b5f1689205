// Type information on Windows: the library's own type library (resource
// TYPELIB 1 of its file), whose coclass SenderImpl takes its default
// interface ISender from the host's Sender.tlb; IDispatch through
// ITypeInfo; registration of type libraries through oleaut32.
#include "com/TypeInformation.h"

#include <mutex>

#include "com/Registration.h"
#include "com/SenderImpl.h"
#include "invokers/OleError.h"
#include "platform/Platform.h"

namespace nuva::senderimpl {

namespace {

std::mutex g_mutex;  // guards the first read
// Read once and kept for the rest of the process: releasing them at unload
// would call into oleaut32 while the library unloads.
ITypeInfo* g_classInfo = nullptr;     // SenderImpl, TKIND_COCLASS
ITypeInfo* g_dispatchInfo = nullptr;  // ISender as the class names it (the dispinterface)
ITypeInfo* g_vtableInfo = nullptr;    // ISender's vtable interface, for Invoke

// A failure of the type-library API: no error info of its own, so a stale
// one on the thread must not lend its text.
void Check(HRESULT hr) {
    if (FAILED(hr)) throw EOleError(SystemErrorText(hr), hr);
}

struct TTypeFacts {
    GUID guid;
    TYPEKIND kind;
    WORD flags;
    WORD implTypes;
};

TTypeFacts FactsOf(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    Check(info->GetTypeAttr(&attr));
    TTypeFacts facts{attr->guid, attr->typekind, attr->wTypeFlags, attr->cImplTypes};
    info->ReleaseTypeAttr(attr);
    return facts;
}

// The class's default (incoming) interface; null when it has none. A
// reference that cannot be resolved (the host's library not registered)
// raises with the platform's code.
TComPtr<ITypeInfo> DefaultInterface(ITypeInfo* cls) {
    const WORD count = FactsOf(cls).implTypes;
    for (UINT i = 0; i < count; ++i) {
        INT flags = 0;
        if (FAILED(cls->GetImplTypeFlags(i, &flags))) continue;
        if (!(flags & IMPLTYPEFLAG_FDEFAULT) || (flags & IMPLTYPEFLAG_FSOURCE)) continue;
        HREFTYPE ref = 0;
        Check(cls->GetRefTypeOfImplType(i, &ref));
        TComPtr<ITypeInfo> info;
        Check(cls->GetRefTypeInfo(ref, info.Receive()));
        return info;
    }
    return TComPtr<ITypeInfo>();
}

TComPtr<ITypeLib> LoadLibraryFile(const AnsiString& path, REGKIND kind) {
    const WideString widePath = AnsiToWide(path);
    TComPtr<ITypeLib> lib;
    Check(LoadTypeLibEx(OleText(widePath.c_str()), kind, lib.Receive()));
    return lib;
}

// Unregisters the library that `lib` is, unless it is not registered.
void UnregisterLibrary(ITypeLib* lib) {
    TLIBATTR* attr = nullptr;
    Check(lib->GetLibAttr(&attr));
    const TLIBATTR a = *attr;
    lib->ReleaseTLibAttr(attr);
    if (!RegKeyExists("TypeLib\\" + GuidToString(a.guid) +
                      Format("\\%x.%x", a.wMajorVerNum, a.wMinorVerNum)))
        return;
    Check(UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind));
}

}  // namespace

void LoadTypeInformation(const AnsiString& modulePath) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_vtableInfo) return;

    TComPtr<ITypeLib> lib = LoadLibraryFile(modulePath, REGKIND_NONE);
    TComPtr<ITypeInfo> cls;
    const HRESULT found = lib->GetTypeInfoOfGuid(CLSID_SenderImpl, cls.Receive());
    if (found == TYPE_E_ELEMENTNOTFOUND)
        throw Exception(Format(msg::kTypeInfoMissing, kSenderClassName));
    Check(found);

    TComPtr<ITypeInfo> dispatch = DefaultInterface(cls.Get());
    if (!dispatch || !IsEqualGUID(FactsOf(dispatch.Get()).guid, IID_ISender))
        throw Exception(Format(msg::kTypeInfoIncorrect, kSenderClassName));
    // ITypeInfo::Invoke calls the vtable through the interface's own
    // description; a dual interface hands it out as the dispinterface's
    // implemented type -1.
    TComPtr<ITypeInfo> vtable;
    const TTypeFacts facts = FactsOf(dispatch.Get());
    if (facts.kind == TKIND_DISPATCH && (facts.flags & TYPEFLAG_FDUAL)) {
        HREFTYPE ref = 0;
        Check(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        Check(dispatch->GetRefTypeInfo(ref, vtable.Receive()));
    } else if (facts.kind == TKIND_INTERFACE) {
        dispatch->AddRef();
        vtable.Reset(dispatch.Get());
    } else {
        throw Exception(Format(msg::kTypeInfoIncorrect, kSenderClassName));
    }

    g_classInfo = cls.Detach();
    g_dispatchInfo = dispatch.Detach();
    g_vtableInfo = vtable.Detach();
}

HRESULT TypeInfoCount(UINT* count) {
    if (!count) return E_INVALIDARG;
    *count = 1;
    return S_OK;
}

HRESULT InterfaceTypeInfo(UINT index, ITypeInfo** info) {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    if (!g_dispatchInfo) return E_UNEXPECTED;
    g_dispatchInfo->AddRef();
    *info = g_dispatchInfo;
    return S_OK;
}

HRESULT IdsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!g_vtableInfo) return E_UNEXPECTED;
    return g_vtableInfo->GetIDsOfNames(names, count, ids);
}

HRESULT InvokeMethod(ISender* object, DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!g_vtableInfo) return E_UNEXPECTED;
    return g_vtableInfo->Invoke(object, id, flags, params, result, excepInfo, argErr);
}

HRESULT ClassTypeInfo(ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (!g_classInfo) return E_UNEXPECTED;
    g_classInfo->AddRef();
    *info = g_classInfo;
    return S_OK;
}

void RegisterOwnTypeLibrary(const AnsiString& modulePath) {
    LoadLibraryFile(modulePath, REGKIND_REGISTER);
}

void UnregisterOwnTypeLibrary(const AnsiString& modulePath) {
    UnregisterLibrary(LoadLibraryFile(modulePath, REGKIND_NONE).Get());
}

}  // namespace nuva::senderimpl

namespace nuva {

void RegisterTypeLibraryFile(const AnsiString& path) {
    senderimpl::RegisterOwnTypeLibrary(path);
}

void UnregisterTypeLibraryFile(const AnsiString& path) {
    senderimpl::UnregisterOwnTypeLibrary(path);
}

bool RegistryOutlivesProcess() {
    return true;
}

}  // namespace nuva
