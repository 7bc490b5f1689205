// ComponentInvoker: what the network and the CA invoker share. An invoker
// stands between the engine and one external component DLL that the
// configuration names:
//
// - constructing it registers the DLL (its own DllRegisterServer) and creates
//   the component's automation object from the ProgID that the DLL's file
//   name and the class name give (`ProgIdFor`); it is "ready" when both
//   worked, and stays as construction left it;
// - its operations forward to the object as late-bound calls
//   (IDispatch::GetIDsOfNames on every call, then Invoke);
// - destroying a ready invoker unregisters the DLL (DllUnregisterServer)
//   before it releases the object.
//
// The operation contract, the same for every component operation:
// - `msg` is cleared on entry;
// - not ready: the component is not called, `ok` becomes false, `msg`
//   "COM组件[" + DLL path + "]没有成功注册!", and the status is 0;
// - ready: exactly one late-bound call; by-reference arguments are the
//   caller's own variables, which the component reads and replaces (it frees
//   a string it replaces, by the automation rule); the status is 0 when the
//   call returned;
// - any failure (an unknown member, a wrong argument, an exception inside the
//   component, an error of ours) gives the status E_UNEXPECTED and leaves the
//   error's text in the calling thread's error info, where `OleCheck` finds
//   it; no error leaves an operation, and the invoker stays usable. A
//   structured exception that the component raises (Windows: a fault, or a
//   RaiseException with a code of its own) is such a failure too; its text
//   is the description of the error info the component left before it
//   raised, else "External exception " and the code in eight hexadecimal
//   digits ("External exception 0EEDFADE").
//
// Every call into the component (DllRegisterServer, DllUnregisterServer,
// the object's creation, GetIDsOfNames, Invoke and its deferred fill-in,
// the final Release) runs under `GuardedCall`, so that a component that
// raises does not take the host down.
//
// Threads: an invoker runs on the caller's thread, which must be initialised
// for COM, and must not be used from two threads at once.
#pragma once

#include <initializer_list>
#include <vector>

#include "platform/Com.h"
#include "platform/Errors.h"

namespace nuva {

// The ProgID of a component: `dllPath` up to and including its first ".",
// followed by `className`; `className` alone when the path has no ".". The
// whole path counts, so a directory part (or a "." in it) yields a ProgID
// that no component registers.
AnsiString ProgIdFor(const AnsiString& dllPath, const AnsiString& className);

// Loads the DLL, calls its DllRegisterServer (or DllUnregisterServer) and
// frees it again. True when the export exists and returned a status that is
// not negative (S_FALSE counts as success); false when the DLL cannot be
// loaded or lacks the export. Whatever the export lets out (a structured
// exception on Windows: a fault or a raise; a C++ exception where those
// cross modules) leaves as EExternalException, whose text was taken while
// the DLL was loaded and which is raised after it was freed.
bool RegisterDll(const AnsiString& dllPath, bool doRegister);

// One argument of a late-bound call. By value: the caller's string, which
// the callee must not free. By reference: the address of the caller's
// variable (VARIANT_BOOL and SHORT are one type on Windows, hence the names).
class TDispArg {
  public:
    static TDispArg ByValue(BSTR s);
    static TDispArg ByRefString(BSTR* s);
    static TDispArg ByRefShort(SHORT* n);
    static TDispArg ByRefBool(VARIANT_BOOL* b);
    const VARIANT& Variant() const { return v_; }

  private:
    VARIANT v_;
};

class TComponentInvoker {
  public:
    TComponentInvoker(const TComponentInvoker&) = delete;
    TComponentInvoker& operator=(const TComponentInvoker&) = delete;

    // True when the DLL was registered and the object created.
    bool Ready() const { return FReady; }
    const AnsiString& DllPath() const { return FDllPath; }
    // Destruction then releases the object but leaves the DLL registered
    // (the engine's own end keeps its components registered).
    void KeepRegistered() { keepRegistered_ = true; }

  protected:
    // Registers the DLL and creates the object. Never fails for a DLL that
    // cannot be loaded, registered or created (the invoker is then not
    // ready; a component that raises while its object is made counts as
    // one that cannot be created); only an error out of DllRegisterServer
    // leaves it (see RegisterDll).
    TComponentInvoker(const AnsiString& dllPath, const AnsiString& className);
    // Unregisters a ready invoker's DLL (any failure, even an exception out
    // of DllUnregisterServer, is ignored: nothing leaves a destructor), then
    // releases the object (a raise inside its Release is ignored too).
    ~TComponentInvoker();

    // One component operation under the contract above: `member` called with
    // `args` (in the component's order), `msg` and `ok` being the last two.
    HRESULT Call(const char16_t* member, std::initializer_list<TDispArg> args, BSTR& msg,
                 VARIANT_BOOL& ok);

    bool FReady = false;
    AnsiString FDllPath;            // as the engine gave it, unchanged
    AnsiString FClassName;          // "NetworkImpl" or "CAImpl"
    TComPtr<IDispatch> FComponent;  // the object while ready

  private:
    bool keepRegistered_ = false;
    // Releases the object, if any; whatever the component raises meanwhile
    // is dropped.
    void ReleaseComponent() noexcept;
    // The late-bound call itself; raises EOleError on failure.
    void Invoke(const char16_t* member, const std::vector<TDispArg>& args);
};

}  // namespace nuva
