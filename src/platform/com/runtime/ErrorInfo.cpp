// Error info: the object CreateErrorInfo makes and the calling thread's slot.
#include <atomic>
#include <new>
#include <optional>
#include <string>

#include "platform/com/runtime/RuntimeInternal.h"

namespace {

class TErrorInfo final : public ICreateErrorInfo, public IErrorInfo {
  public:
    // IUnknown, reached through either base (one identity: the ICreateErrorInfo
    // base answers IID_IUnknown).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ICreateErrorInfo) {
            *object = static_cast<ICreateErrorInfo*>(this);
        } else if (riid == IID_IErrorInfo) {
            *object = static_cast<IErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

    // ICreateErrorInfo: the texts are copied; a null text unsets one.
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return Set(&source_, text); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override {
        return Set(&description_, text);
    }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return Set(&helpFile_, text); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
        helpContext_ = context;
        return S_OK;
    }

    // IErrorInfo: every string comes back as a new BSTR for the caller to
    // free; a text never set comes back null.
    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
        if (!guid) return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* text) override { return Get(source_, text); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* text) override {
        return Get(description_, text);
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* text) override { return Get(helpFile_, text); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override {
        if (!context) return E_INVALIDARG;
        *context = helpContext_;
        return S_OK;
    }

  private:
    ~TErrorInfo() = default;

    using TText = std::optional<std::u16string>;

    static HRESULT Set(TText* field, LPOLESTR text) {
        try {
            if (text)
                *field = std::u16string(text);
            else
                field->reset();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    static HRESULT Get(const TText& field, BSTR* text) {
        if (!text) return E_INVALIDARG;
        *text = nullptr;
        if (!field) return S_OK;
        *text = SysAllocStringLen(field->data(), static_cast<UINT>(field->size()));
        return *text ? S_OK : E_OUTOFMEMORY;
    }

    std::atomic<ULONG> refs_{1};
    GUID guid_ = GUID_NULL;
    TText source_, description_, helpFile_;
    DWORD helpContext_ = 0;
};

// The calling thread's error info; the reference it holds is released when
// the thread ends.
struct TErrorSlot {
    IErrorInfo* info = nullptr;
    ~TErrorSlot() {
        if (info) info->Release();
    }
};

thread_local TErrorSlot errorSlot;

}  // namespace

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
    if (!info) return E_INVALIDARG;
    *info = new (std::nothrow) TErrorInfo;
    return *info ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) {
    if (reserved != 0) return E_INVALIDARG;
    if (info) info->AddRef();
    IErrorInfo* old = errorSlot.info;
    errorSlot.info = info;
    // Released last: its Release may run code that sets error info again.
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) {
    if (reserved != 0 || !info) return E_INVALIDARG;
    *info = errorSlot.info;
    errorSlot.info = nullptr;
    return *info ? S_OK : S_FALSE;
}

}  // extern "C"
