// The automation object, its class factory, the server's engine and counts,
// and the error convention at the boundary.
#include "com/SenderImpl.h"

#include <new>

#include "com/ScriptArguments.h"
#include "com/TypeInformation.h"
#include "invokers/OleError.h"
#include "platform/Platform.h"

namespace nuva {

namespace {

// Live objects, references to the class factory and LockServer locks, for
// DllCanUnloadNow: a host that holds the factory (CoGetClassObject) calls
// CreateInstance later, so the library must stay loaded while it does.
// Constant-initialised: nothing of theirs runs at load time.
std::atomic<long> g_objects{0};
std::atomic<long> g_factoryRefs{0};
std::atomic<long> g_locks{0};

// The engine lives from the library's load (static initialisation) to its
// unload. The components of the last Init are given up first: their objects
// live in other modules, which must not be called while this one unloads.
class TServerEngine {
  public:
    ~TServerEngine() { engine.AbandonComponents(); }
    TSender engine;
};
TServerEngine g_engine;

// A by-reference parameter that the caller must supply.
template <class T>
T& Required(T* parameter) {
    if (!parameter) throw EOleError(SystemErrorText(E_POINTER), E_POINTER);
    return *parameter;
}

class TSenderFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // The factory object lives as long as the library; its references are
    // counted only so that the library is not unloaded while one is held.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++g_factoryRefs) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        // A release too many must not hide a later reference.
        long held = g_factoryRefs.load();
        while (held > 0 && !g_factoryRefs.compare_exchange_weak(held, held - 1)) {
        }
        return static_cast<ULONG>(held > 0 ? held - 1 : 0) + 1;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        TSenderImpl* instance = new (std::nothrow) TSenderImpl;
        if (!instance) return E_OUTOFMEMORY;
        const HRESULT hr = instance->QueryInterface(iid, object);
        instance->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++g_locks;
            return S_OK;
        }
        // An unlock without a lock must not hide a later lock.
        long held = g_locks.load();
        while (held > 0 && !g_locks.compare_exchange_weak(held, held - 1)) {
        }
        return S_OK;
    }
};
TSenderFactory g_factory;

}  // namespace

// ---------------------------------------------------------------------------
// TSenderImpl
// ---------------------------------------------------------------------------

TSenderImpl::TSenderImpl() {
    ++g_objects;
}

TSenderImpl::~TSenderImpl() {
    --g_objects;
}

HRESULT TSenderImpl::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    IUnknown* answer = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_ISender))
        answer = static_cast<ISender*>(this);
    else if (IsEqualIID(iid, IID_ISupportErrorInfo))
        answer = static_cast<ISupportErrorInfo*>(this);
    else if (IsEqualIID(iid, IID_IProvideClassInfo))
        answer = static_cast<IProvideClassInfo*>(this);
    *object = answer;
    if (!answer) return E_NOINTERFACE;
    answer->AddRef();
    return S_OK;
}

ULONG TSenderImpl::AddRef() {
    return ++refs_;
}

ULONG TSenderImpl::Release() {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT TSenderImpl::GetTypeInfoCount(UINT* count) {
    return senderimpl::TypeInfoCount(count);
}

HRESULT TSenderImpl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    return senderimpl::InterfaceTypeInfo(index, info);
}

HRESULT TSenderImpl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                   DISPID* ids) {
    return senderimpl::IdsOfNames(iid, names, count, lcid, ids);
}

HRESULT TSenderImpl::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    // Script hosts' variants by reference become typed arguments first.
    return senderimpl::InvokeWithScriptArguments(&senderimpl::InvokeMethod, this, id, iid, lcid,
                                                 flags, params, result, excepInfo, argErr);
}

// The three methods: out strings nulled (what the caller left in them is not
// ours to free), then the engine with the caller's own variables. A caller
// does not free out parameters after a failure status: what the engine put
// in them by then is freed and nulled here.

namespace {

void FreeOut(BSTR* out) {
    if (!out) return;
    SysFreeString(*out);
    *out = nullptr;
}

}  // namespace

HRESULT TSenderImpl::TestConn(BSTR* Message, VARIANT_BOOL* Result) {
    try {
        BSTR& message = Required(Message);
        VARIANT_BOOL& result = Required(Result);
        message = nullptr;
        OleCheck(SenderEngine().TestConn(message, result));
        return S_OK;
    } catch (...) {
        const HRESULT hr = SenderBoundaryError();
        if (Result) FreeOut(Message);
        return hr;
    }
}

HRESULT TSenderImpl::Send(BSTR Request, BSTR* Reply, short* Progress, BSTR* Status, BSTR* Message,
                          VARIANT_BOOL* Result) {
    try {
        BSTR& reply = Required(Reply);
        SHORT& progress = Required(Progress);
        BSTR& status = Required(Status);
        BSTR& message = Required(Message);
        VARIANT_BOOL& result = Required(Result);
        reply = nullptr;
        message = nullptr;
        OleCheck(SenderEngine().Send(Request, reply, progress, status, message, result));
        return S_OK;
    } catch (...) {
        const HRESULT hr = SenderBoundaryError();
        if (Reply && Progress && Status && Message && Result) {
            FreeOut(Reply);
            FreeOut(Message);
        }
        return hr;
    }
}

HRESULT TSenderImpl::Init(BSTR Config, BSTR* Message, VARIANT_BOOL* Result) {
    try {
        BSTR& message = Required(Message);
        VARIANT_BOOL& result = Required(Result);
        message = nullptr;
        OleCheck(SenderEngine().Init(Config, message, result));
        return S_OK;
    } catch (...) {
        const HRESULT hr = SenderBoundaryError();
        if (Result) FreeOut(Message);
        return hr;
    }
}

HRESULT TSenderImpl::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsEqualIID(iid, IID_ISender) ? S_OK : S_FALSE;
}

HRESULT TSenderImpl::GetClassInfo(ITypeInfo** info) {
    return senderimpl::ClassTypeInfo(info);
}

// ---------------------------------------------------------------------------
// The server
// ---------------------------------------------------------------------------

TSender& SenderEngine() {
    return g_engine.engine;
}

AnsiString SenderModulePath() {
    return ModuleFileNameOf(reinterpret_cast<const void*>(&SenderModulePath));
}

HRESULT SenderGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(clsid, CLSID_SenderImpl)) return CLASS_E_CLASSNOTAVAILABLE;
    try {
        senderimpl::LoadTypeInformation(SenderModulePath());
    } catch (...) {
        return SenderBoundaryError();
    }
    return g_factory.QueryInterface(iid, object);
}

HRESULT SenderCanUnloadNow() {
    return g_objects == 0 && g_factoryRefs == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

HRESULT SenderBoundaryError() noexcept {
    HRESULT code = E_UNEXPECTED;
    try {
        AnsiString message;
        try {
            throw;
        } catch (const EOleError& e) {
            if (FAILED(e.ErrorCode())) code = e.ErrorCode();
            message = e.Message();
        } catch (const std::exception& e) {
            message = e.what();
        } catch (...) {
            message = msg::kExternalException;
        }
        if (!SetThreadErrorInfo(IID_ISender, AnsiToWide(kSenderProgId), AnsiToWide(message)))
            SetErrorInfo(0, nullptr);
    } catch (...) {
        // No memory left for the error info: a stale one must not be taken
        // for this error's.
        SetErrorInfo(0, nullptr);
    }
    return code;
}

}  // namespace nuva
