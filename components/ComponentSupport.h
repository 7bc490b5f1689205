// ComponentSupport: the kit for our in-process automation servers (COM DLLs on
// Windows, shared objects over the POSIX COM runtime). It supplies reference
// counting, an IDispatch served from a member table, a class factory, and the
// bodies of the four server exports with registration by the module's own
// file name. A component declares its members, implements them against
// TDispatchArgs and writes four one-line exports (NUVA_COMPONENT_EXPORT).
//
// The kit is linked statically into each component: it finds the component's
// file through the address of its own code, so every module has its own copy
// and its own object and lock counts.
//
// Errors: no C++ exception leaves a COM method of the kit. A member reports
// failure by throwing: EAutomationError (or any std::exception, whose what()
// is taken as system-code-page text) becomes DISP_E_EXCEPTION with EXCEPINFO
// and the thread's error info; std::bad_alloc becomes E_OUTOFMEMORY. An
// error out of the object's Answers() fails GetIDsOfNames or Invoke with
// E_OUTOFMEMORY (std::bad_alloc) or E_UNEXPECTED. A component must let no
// C++ exception out of an export or a COM method: on i686 Windows a C++
// exception cannot cross into another module (std::terminate).
//
// Threads: reference counts and the module counts are atomic. Objects are
// registered with ThreadingModel "Both" but serialise nothing themselves: one
// object is called by one thread at a time.
#pragma once

#include <atomic>
#include <functional>
#include <initializer_list>
#include <vector>

#include "platform/Com.h"

// Marks the four server exports. Windows lists them in a .def file (so that
// i686 exports them undecorated); POSIX components are built with hidden
// visibility, so the exports are made visible here.
#if defined(_WIN32)
#define NUVA_COMPONENT_EXPORT extern "C"
#else
#define NUVA_COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace nuva {

// ---------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------

// The reference count of one COM object. It starts at 1, the creator's
// reference; the release that brings it to 0 deletes the object. While it
// lives the object counts as one of the module's objects (DllCanUnloadNow).
class TRefCounted {
  public:
    TRefCounted(const TRefCounted&) = delete;
    TRefCounted& operator=(const TRefCounted&) = delete;

  protected:
    TRefCounted();
    virtual ~TRefCounted();
    ULONG AddRefCount();
    ULONG ReleaseCount();

  private:
    std::atomic<ULONG> refs_{1};
};

// One interface an object answers: its IID and the object as that interface
// (converted with static_cast, so the pointer is the interface's own).
struct TInterfaceEntry {
    const IID& iid;
    IUnknown* pointer;
};

// QueryInterface over a table: the entry whose IID equals `iid` is returned
// in `*object` with one reference added; otherwise `*object` is null and the
// result E_NOINTERFACE. List IID_IUnknown too, with the primary interface.
HRESULT QueryInterfaceTable(REFIID iid, void** object,
                            std::initializer_list<TInterfaceEntry> table);

// ---------------------------------------------------------------------------
// Dispatch members and their arguments
// ---------------------------------------------------------------------------

// The kinds of parameter a member may declare, each the exact VARTYPE the
// caller must pass.
enum class TArgKind : VARTYPE {
    BstrIn = VT_BSTR,              // a string by value: read only
    BstrRef = VT_BYREF | VT_BSTR,  // the caller's string variable
    Int16Ref = VT_BYREF | VT_I2,   // the caller's 16-bit integer variable
    BoolRef = VT_BYREF | VT_BOOL,  // the caller's automation boolean variable
};

struct TParam {
    const char* name;  // for logs and messages; calls are positional
    TArgKind kind;
};

// A member's view of the caller's arguments, in call order (index 0 is the
// first argument, although DISPPARAMS holds it last). Invoke has already
// checked the count and each VARTYPE, so these accessors only meet the kinds
// the member declared; asking for another kind or index throws
// std::logic_error (a bug in the member).
class TDispatchArgs {
  public:
    TDispatchArgs(const std::vector<TParam>& params, const DISPPARAMS& dispParams)
        : params_(params), dispParams_(dispParams) {}

    size_t Count() const { return params_.size(); }
    const TParam& Param(size_t index) const;

    // The current value: the text of a by-value or by-reference string (a
    // null BSTR is empty), a 16-bit integer, an automation boolean (0 false,
    // -1 true, any other value as the caller left it).
    WideString Text(size_t index) const;
    SHORT Int16(size_t index) const;
    VARIANT_BOOL Bool(size_t index) const;

    // Write into the caller's variable (by-reference kinds only). SetText
    // follows the automation rule: it allocates the new string, frees the
    // caller's old one with SysFreeString and stores the new one; on failure
    // (std::bad_alloc) the old string stays. Strings that are not replaced
    // are never freed. SetBool stores VARIANT_TRUE or VARIANT_FALSE.
    void SetText(size_t index, const WideString& text);
    void SetInt16(size_t index, SHORT value);
    void SetBool(size_t index, bool value);

  private:
    VARIANTARG& At(size_t index, TArgKind kind) const;

    const std::vector<TParam>& params_;
    const DISPPARAMS& dispParams_;
};

// Raised by a member to fail the call as an automation exception: Invoke
// returns DISP_E_EXCEPTION with EXCEPINFO (the object's source, this
// description, scode E_FAIL) and the thread's error info set to the same.
// The by-reference arguments keep whatever the member wrote before.
class EAutomationError : public Exception {
  public:
    explicit EAutomationError(const WideString& description);
    const WideString& Description() const { return description_; }

  private:
    WideString description_;
};

// One automation member: its name (ASCII, matched without regard to case),
// its parameters in call order, and its body.
struct TMember {
    const char* name;
    std::vector<TParam> params;
    std::function<void(TDispatchArgs&)> run;
};

// An automation object answering IUnknown, IDispatch and ISupportErrorInfo
// from a member table. DISPIDs are positions in the table, from 1.
//
// GetIDsOfNames: the first name is looked up among the members that Answers()
// accepts (DISP_E_UNKNOWNNAME otherwise); further names (parameter names) are
// not resolved (DISPID_UNKNOWN, DISP_E_UNKNOWNNAME). GetTypeInfoCount gives
// 0, GetTypeInfo E_NOTIMPL.
//
// Invoke: a method call (flags holding DISPATCH_METHOD, else
// DISP_E_MEMBERNOTFOUND, as for an unknown or hidden DISPID) with IID_NULL,
// without named arguments (DISP_E_NONAMEDARGS), with exactly the declared
// number of arguments (DISP_E_BADPARAMCOUNT), each of exactly the declared
// VARTYPE with a non-null reference (DISP_E_TYPEMISMATCH, `*argErr` = the
// argument's index in rgvarg, first failing argument in call order). A
// result VARIANT, when given, is left VT_EMPTY. When a call fails for any
// reason other than an automation exception, the thread's error info is
// cleared, so that no stale description is taken for this failure.
class TDispatchObject : public IDispatch, public ISupportErrorInfo, private TRefCounted {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                     UINT* argErr) override;

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  protected:
    // `source` names the component in its automation exceptions.
    explicit TDispatchObject(WideString source) : source_(std::move(source)) {}
    ~TDispatchObject() override = default;

    // Appends a member (its DISPID is the new table size). Constructors add
    // all members; the table never shrinks.
    void AddMember(TMember member);

    // Whether the member is answered now; every member by default. Lets an
    // object hide members at run time.
    virtual bool Answers(const TMember& member) const { return true; }

  private:
    HRESULT FailWithException(const WideString& description, EXCEPINFO* excepInfo);

    WideString source_;
    std::vector<TMember> members_;
};

// ---------------------------------------------------------------------------
// Class factory and server exports
// ---------------------------------------------------------------------------

// Makes a new object holding one reference (the caller's). May throw
// std::bad_alloc.
using TCreateObject = IUnknown* (*)();

// The TCreateObject of a TDispatchObject class with a default constructor.
template <class T>
IUnknown* CreateDispatchObject() {
    // Through IDispatch: the object has a second IUnknown (ISupportErrorInfo).
    return static_cast<IDispatch*>(new T());
}

// A class factory: each CreateInstance makes a new object; an outer object
// gives CLASS_E_NOAGGREGATION. LockServer counts the module's locks.
class TClassFactory final : public IClassFactory, private TRefCounted {
  public:
    explicit TClassFactory(TCreateObject create) : create_(create) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  private:
    ~TClassFactory() override = default;

    TCreateObject create_;
};

// The one class a component module serves.
struct TComponentClass {
    const char* className;  // "NetworkImpl", "CAImpl"
    TCreateObject create;
    // Registers under this ProgID instead of the one derived from the file
    // name; null for the derived one.
    const char* progIdOverride = nullptr;
};

// The ProgID of `className` in the module at `modulePath`: the file name
// (after the last '\' or '/') up to and including its first '.', followed by
// the class name; the class name alone when the file name has no '.'. So
// "C:\comp\NetComm.dll" gives "NetComm.NetworkImpl".
AnsiString ProgIdForModule(const AnsiString& modulePath, const AnsiString& className);

// The CLSID of a ProgID: a name-based GUID (RFC 9562 version 8 layout) from
// two 64-bit FNV-1a hashes of the ASCII-upper-cased ProgID, stable across
// runs and builds; differently named copies of a component never collide.
GUID ClassIdForProgId(const AnsiString& progId);

// The ProgID under which this module serves `cls` (the override, or the one
// derived from the module's own file name).
AnsiString ComponentProgId(const TComponentClass& cls);

// The bodies of the exports, for the module that links the kit.
//
// DllGetClassObject: a new class factory for the module's CLSID;
// CLASS_E_CLASSNOTAVAILABLE (and null) for any other CLSID.
HRESULT ComponentGetClassObject(const TComponentClass& cls, REFCLSID clsid, REFIID iid,
                                void** object);
// DllCanUnloadNow: S_OK when the module has no live object and no lock.
HRESULT ComponentCanUnloadNow();
// DllRegisterServer. Keys under HKEY_CLASSES_ROOT:
//   <ProgID>                          default = class name
//   <ProgID>\Clsid                    default = {CLSID}
//   CLSID\{CLSID}                     default = class name
//   CLSID\{CLSID}\InprocServer32      default = the module's full path,
//                                     ThreadingModel = "Both"
//   CLSID\{CLSID}\ProgID              default = ProgID
// S_OK; SELFREG_E_CLASS (after removing what was written) when a key cannot
// be written or the module's path is unknown.
HRESULT ComponentRegisterServer(const TComponentClass& cls);
// DllUnregisterServer: removes those keys, deepest first. S_OK when none of
// them is left (missing keys are no error), SELFREG_E_CLASS otherwise.
HRESULT ComponentUnregisterServer(const TComponentClass& cls);

}  // namespace nuva

// The four server exports of a module that serves `cls` (a TComponentClass
// in namespace nuva), for components without registration variants. Use it
// once, at file scope, outside any namespace.
#define NUVA_COMPONENT_SERVER_EXPORTS(cls)                                                     \
    NUVA_COMPONENT_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, \
                                                                   void** object) {            \
        return nuva::ComponentGetClassObject(nuva::cls, clsid, iid, object);                   \
    }                                                                                          \
    NUVA_COMPONENT_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {                           \
        return nuva::ComponentCanUnloadNow();                                                  \
    }                                                                                          \
    NUVA_COMPONENT_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {                         \
        return nuva::ComponentRegisterServer(nuva::cls);                                       \
    }                                                                                          \
    NUVA_COMPONENT_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {                       \
        return nuva::ComponentUnregisterServer(nuva::cls);                                     \
    }
