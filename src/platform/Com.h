// The COM subset the system uses, one header for both builds. It brings in
// the Windows names (IUnknown, IDispatch, IClassFactory, IErrorInfo, BSTR,
// VARIANT, DISPPARAMS, EXCEPINFO, HRESULT codes, CLSIDFromProgID,
// CoCreateInstance, SetErrorInfo/GetErrorInfo, LoadLibraryA, the HKCR
// registry calls): on Windows from the system headers (ole32, oleaut32,
// advapi32, kernel32), on POSIX from the COM runtime shared library, whose
// header says where it differs from Windows. Callers write one source for
// both and never test the platform.
//
// On top of that API it offers owner types for the resources (BSTR, VARIANT,
// interface pointers, loaded modules), GUID text, the registry under
// HKEY_CLASSES_ROOT by string, the calling thread's error info and the
// system's message text for an HRESULT.
//
// Text: BSTRs and WideStrings are UTF-16; AnsiStrings are in the system code
// page, and every conversion between them goes through the platform's
// code-page functions (AnsiToWide, WideToAnsi).
//
// Threads: every function may be called from any thread; an owner object
// belongs to one thread at a time. Nothing here initialises COM: the caller's
// thread must be initialised (CoInitialize) before it creates objects.
#pragma once

#if defined(_WIN32)
#include "platform/win32/WinHeaders.h"
#else
#include "platform/com/runtime/ComApi.h"
#endif

#include <utility>

#include "platform/Errors.h"

namespace nuva {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLECHAR is one UTF-16 code unit");

// UTF-16 text as the API's OLECHAR (wchar_t on Windows, char16_t on POSIX).
inline const OLECHAR* OleText(const char16_t* s) {
    return reinterpret_cast<const OLECHAR*>(s);
}
inline OLECHAR* OleText(char16_t* s) {
    return reinterpret_cast<OLECHAR*>(s);
}
inline const char16_t* Utf16Text(const OLECHAR* s) {
    return reinterpret_cast<const char16_t*>(s);
}
// The UTF-16 text of a BSTR or OLE string (null is the empty string); a BSTR
// keeps embedded NULs.
WideString BstrToWide(BSTR s);
WideString OleToWide(const OLECHAR* s);
// A BSTR's text in the system code page, converted straight from it.
AnsiString BstrToAnsi(BSTR s);
// Replaces the string of a caller's BSTR variable with `text` converted
// from the system code page straight into the new string.
void AssignBstrFromAnsi(BSTR& target, const AnsiString& text);
// Replaces the string of a caller's BSTR variable (freeing what it held, the
// automation rule for a callee that replaces an in/out string).
void AssignBstr(BSTR& target, const WideString& text);

// ---------------------------------------------------------------------------
// Owners
// ---------------------------------------------------------------------------

// Owns one BSTR. A null BSTR is the empty string, as automation treats it.
class TBstr {
  public:
    TBstr() = default;
    explicit TBstr(const WideString& text);
    // Takes over `bstr` (freed by this owner).
    static TBstr Attach(BSTR bstr);
    // The text converted from the system code page.
    static TBstr FromAnsi(const AnsiString& text);
    ~TBstr() { Reset(); }
    TBstr(TBstr&& other) noexcept : bstr_(other.Detach()) {}
    TBstr& operator=(TBstr&& other) noexcept;
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;

    BSTR Get() const { return bstr_; }
    size_t Length() const;
    WideString ToWide() const { return BstrToWide(bstr_); }
    AnsiString ToAnsi() const;
    // Frees the string and returns the address for a callee that fills an
    // out-parameter.
    BSTR* Receive();
    // The address of the owned string, which is kept: for an in/out
    // parameter whose callee frees what it replaces (the automation rule).
    BSTR* InOut() { return &bstr_; }
    // Gives up ownership.
    BSTR Detach();
    // Frees the string and takes over `bstr`.
    void Reset(BSTR bstr = nullptr);

  private:
    BSTR bstr_ = nullptr;
};

// Owns one VARIANT: cleared (VariantClear) when replaced or destroyed.
class TVariant {
  public:
    TVariant() { VariantInit(&v_); }
    ~TVariant() { VariantClear(&v_); }
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;

    VARIANT* Get() { return &v_; }
    const VARIANT* Get() const { return &v_; }
    // Clears the value and returns the address for a callee to fill.
    VARIANT* Receive() {
        VariantClear(&v_);
        return &v_;
    }

  private:
    VARIANT v_;
};

// Owns one reference to an interface.
template <class T>
class TComPtr {
  public:
    TComPtr() = default;
    // Takes over the reference `p` carries (no AddRef).
    explicit TComPtr(T* p) : p_(p) {}
    ~TComPtr() { Reset(); }
    TComPtr(TComPtr&& other) noexcept : p_(other.Detach()) {}
    TComPtr& operator=(TComPtr&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Releases the reference and returns the address for a callee that
    // fills an out-parameter.
    T** Receive() {
        Reset();
        return &p_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    T* Detach() { return std::exchange(p_, nullptr); }
    // Releases the reference and takes over the one `p` carries.
    void Reset(T* p = nullptr) {
        T* old = std::exchange(p_, p);
        if (old) old->Release();
    }

  private:
    T* p_ = nullptr;
};

// Owns one loaded module: FreeLibrary when destroyed.
class TModule {
  public:
    TModule() = default;
    // LoadLibraryA; an empty owner when the module cannot be loaded.
    explicit TModule(const AnsiString& fileName);
    ~TModule() { Reset(); }
    TModule(TModule&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
    TModule& operator=(TModule&& other) noexcept;
    TModule(const TModule&) = delete;
    TModule& operator=(const TModule&) = delete;

    explicit operator bool() const { return module_ != nullptr; }
    HMODULE Get() const { return module_; }
    // An export as a function pointer of type F, or null.
    template <class F>
    F Proc(const char* name) const {
        // Through the generic function type: a direct cast warns.
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
    }
    void Reset();

  private:
    HMODULE module_ = nullptr;
};

// ---------------------------------------------------------------------------
// GUIDs
// ---------------------------------------------------------------------------

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal digits.
AnsiString GuidToString(const GUID& guid);
// The braced text back to a GUID; false when it is not one.
bool StringToGuid(const AnsiString& text, GUID* guid);

// ---------------------------------------------------------------------------
// Registry under HKEY_CLASSES_ROOT
// ---------------------------------------------------------------------------
// Key paths are relative to HKEY_CLASSES_ROOT and use "\" on both builds (they
// name registry keys, not files). An empty value name is the key's default
// value. Values are strings (REG_SZ) in the system code page.

// Creates the key with any missing parents and sets the value.
bool RegWriteString(const AnsiString& key, const AnsiString& name, const AnsiString& value);
// Reads a string value; false when the key or the value is missing.
bool RegReadString(const AnsiString& key, const AnsiString& name, AnsiString* value);
bool RegKeyExists(const AnsiString& key);
// Deletes a key that has no subkeys; false when it is missing or has some.
bool RegRemoveKey(const AnsiString& key);

// ---------------------------------------------------------------------------
// Error info and message texts
// ---------------------------------------------------------------------------

// Gives the calling thread a new error info (interface, source, description;
// no help file). False when none could be created.
bool SetThreadErrorInfo(const IID& iid, const WideString& source, const WideString& description);
// Takes the calling thread's error info (which clears it, as GetErrorInfo
// does) and gives its description; false when the thread holds none.
bool TakeThreadErrorDescription(WideString* description);

// The system's message text for an HRESULT in the system code page, without
// the trailing line break; empty when there is none. Windows gives its own
// text (in its language) and, where it has none (Wine lacks most OLE texts),
// the English Windows text of a code this system meets; POSIX gives that
// English text. So "Unknown name." for DISP_E_UNKNOWNNAME on every build,
// but E_FAIL reads "Unspecified error" on POSIX and in the system's words on
// Windows.
AnsiString SystemMessageText(HRESULT code);

// The full path of the module (executable or library) whose code or data
// holds `address`; empty when none does. A component uses it with one of its
// own functions to find its file for its registration.
AnsiString ModuleFileNameOf(const void* address);

}  // namespace nuva
