// SenderImpl: the COM automation boundary of the library. It publishes one
// creatable class, SenderImpl, whose objects answer the dual interface
// ISender and forward every call to the one engine of the process.
//
// The server's life, which the library file's load and unload drive
// (Exports.cpp) and which a program linking this module directly gets at
// its start and end:
// - load: the one `TSender` is created (not initialised, no components);
//   nothing else runs, no COM or registry call (the loader lock is held);
// - the first request for the class object reads the type information of
//   SenderImpl and of its default interface ISender (Windows: the library's
//   own type library, which imports ISender from the host's Sender.tlb, so
//   that library must be registered). A failure is reported there and the
//   next request tries again;
// - unload: the engine gives up the components of its last Init without
//   releasing or unregistering them (calling into other modules while the
//   library unloads is unsafe) and is destroyed.
//
// Objects hold no state: all of them share the engine, which outlives them,
// so releasing every object does not reset it. Threads: the class is
// registered with the threading model "Both"; methods run on the calling
// thread, take no lock and are not guarded against overlapping calls (the
// engine refuses a call while another runs).
#pragma once

#include <atomic>

#include "com/SenderInterface.h"
#include "engine/Main.h"

namespace nuva {

// ---------------------------------------------------------------------------
// Identities
// ---------------------------------------------------------------------------

// {9A0CECE0-90A4-40E6-BE3F-382306EAFA72}
inline constexpr CLSID CLSID_SenderImpl = {
    0x9A0CECE0, 0x90A4, 0x40E6, {0xBE, 0x3F, 0x38, 0x23, 0x06, 0xEA, 0xFA, 0x72}};
// The library's own type library, DuredaVevuvavizuriz_NUVA 1.0:
// {857FAEB4-5F46-40AB-B92D-75A165B07531}.
inline constexpr GUID LIBID_DuredaVevuvavizuriz_NUVA = {
    0x857FAEB4, 0x5F46, 0x40AB, {0xB9, 0x2D, 0x75, 0xA1, 0x65, 0xB0, 0x75, 0x31}};
inline constexpr WORD kTypeLibMajor = 1;
inline constexpr WORD kTypeLibMinor = 0;
// The host's type library Sender.tlb 1.0, which defines ISender:
// {308A4417-9039-4210-A10D-582379EC1D79}.
inline constexpr GUID LIBID_Sender = {
    0x308A4417, 0x9039, 0x4210, {0xA1, 0x0D, 0x58, 0x23, 0x79, 0xEC, 0x1D, 0x79}};

// The class name, which is also its help string.
inline constexpr const char kSenderClassName[] = "SenderImpl";
// The type library's name, a dot and the class name.
inline constexpr const char kSenderProgId[] = "DuredaVevuvavizuriz_NUVA.SenderImpl";

// The errors of type information that does not describe the class (%s: the
// class name): the class is not in the library, or it has no default
// interface (or another one than ISender).
namespace msg {
inline constexpr const char kTypeInfoMissing[] = "Type information missing for class %s";
inline constexpr const char kTypeInfoIncorrect[] = "Incorrect type information for class %s";
}  // namespace msg

// ---------------------------------------------------------------------------
// The automation object
// ---------------------------------------------------------------------------

// Answers IUnknown, IDispatch and ISender (one pointer), ISupportErrorInfo
// and IProvideClassInfo. IDispatch is served from ISender's type information
// on Windows (the host library's names and dispatch ids) and from a name
// table with the same names and ids on POSIX; Invoke also takes script
// hosts' variants by reference (ScriptArguments.h).
//
// Each ISender method: sets its out strings (Message, and Reply for Send) to
// null without freeing what the caller left in them, calls the engine
// operation of the same name with the caller's variables (Progress and
// Status by reference, unchanged), turns a failure status of the engine into
// an error, and returns S_OK; the outcome of the work is in Message and
// Result. A null pointer for a by-reference parameter is the error E_POINTER.
// An error becomes the method's HRESULT and the calling thread's error info
// through `SenderBoundaryError`.
class TSenderImpl final : public ISender, public ISupportErrorInfo, public IProvideClassInfo {
  public:
    // One reference, the creator's; the object counts as live until the
    // last release.
    TSenderImpl();
    TSenderImpl(const TSenderImpl&) = delete;
    TSenderImpl& operator=(const TSenderImpl&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                     UINT* argErr) override;

    HRESULT STDMETHODCALLTYPE TestConn(BSTR* Message, VARIANT_BOOL* Result) override;
    HRESULT STDMETHODCALLTYPE Send(BSTR Request, BSTR* Reply, short* Progress, BSTR* Status,
                                   BSTR* Message, VARIANT_BOOL* Result) override;
    HRESULT STDMETHODCALLTYPE Init(BSTR Config, BSTR* Message, VARIANT_BOOL* Result) override;

    // S_OK for ISender, S_FALSE for any other interface.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;
    // The type information of the class (E_NOTIMPL on POSIX).
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

  private:
    ~TSenderImpl();

    std::atomic<ULONG> refs_{1};
};

// ---------------------------------------------------------------------------
// The server
// ---------------------------------------------------------------------------

// The one engine; it exists from the library's load to its unload.
TSender& SenderEngine();

// The full path of the module file that this code is linked into: the
// library file (or a program that links the module directly). Its type
// library is read from there and registration names it.
AnsiString SenderModulePath();

// The body of DllGetClassObject: for CLSID_SenderImpl the requested
// interface of the class factory (S_OK) or E_NOINTERFACE, once the type
// information has been read; when it cannot be, the error's code through
// `SenderBoundaryError` (a TYPE_E_ code when the host's type library cannot
// be had, E_UNEXPECTED for the two texts above). Any other CLSID:
// CLASS_E_CLASSNOTAVAILABLE. `*object` is null on every failure.
//
// The factory makes a new object per CreateInstance (CLASS_E_NOAGGREGATION
// for an outer object) and counts LockServer locks; it lives as long as the
// library and is not itself counted.
HRESULT SenderGetClassObject(REFCLSID clsid, REFIID iid, void** object);
// The body of DllCanUnloadNow: S_OK when no object is alive and no lock is
// held, else S_FALSE.
HRESULT SenderCanUnloadNow();

// The one place where an error meets the COM boundary. Call it only inside a
// catch handler: it classifies the error being handled, gives the calling
// thread an error info (interface ISender, source the ProgID, description
// the error's message, no help file) and returns the HRESULT: the error's
// own code when it is a platform error (EOleError) with a negative code,
// else E_UNEXPECTED. It never throws.
HRESULT SenderBoundaryError() noexcept;

}  // namespace nuva
