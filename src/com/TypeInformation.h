// What SenderImpl does differently on each platform, implemented in
// win32/TypeInformation.cpp (type libraries through oleaut32) and
// posix/TypeInformation.cpp (no type libraries: a name table).
#pragma once

#include "com/SenderInterface.h"
#include "platform/Errors.h"

namespace nuva::senderimpl {

// Reads, once per load of the library, the type information of the class
// SenderImpl from the library's own type library (the resource TYPELIB 1 of
// the module file at `modulePath`) and that of its default interface
// ISender. Raises EOleError with the platform's code when a library cannot
// be loaded (TYPE_E_LIBNOTREGISTERED, or TYPE_E_CANTLOADLIBRARY after a
// search by file name, when the host's Sender.tlb is not registered), and
// Exception with kTypeInfoMissing when the class is not in
// the library or kTypeInfoIncorrect when it has no default interface or
// another one than ISender. A failed read is tried again on the next call.
// Nothing to read on POSIX. Any thread.
void LoadTypeInformation(const AnsiString& modulePath);

// IDispatch of an ISender object, after LoadTypeInformation succeeded.
// Windows: GetTypeInfoCount 1, GetTypeInfo(0) ISender's type information,
// names and Invoke through it (ITypeInfo::Invoke on `object`'s vtable).
// POSIX: no type information (0, E_NOTIMPL); the names TestConn, Send and
// Init (ASCII case ignored) with the dispatch ids of Sender.idl; parameter
// names are not resolved (DISP_E_UNKNOWNNAME). Invoke calls `object`'s
// vtable with exactly the method's arguments: [in] BSTR as VT_BSTR or
// VT_BSTR | VT_BYREF, the others by reference with exactly their type
// (VT_BSTR, VT_I2, VT_BOOL), else DISP_E_TYPEMISMATCH with `*argErr`. On
// both, a failure HRESULT of the method becomes DISP_E_EXCEPTION with
// EXCEPINFO filled from the thread's error info, which stays set.
// (TSenderImpl::Invoke puts the script hosts' adapter, ScriptArguments.h, in
// front of InvokeMethod.)
HRESULT TypeInfoCount(UINT* count);
HRESULT InterfaceTypeInfo(UINT index, ITypeInfo** info);
HRESULT IdsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
HRESULT InvokeMethod(ISender* object, DISPID id, REFIID iid, LCID lcid, WORD flags,
                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);
// The class's type information for IProvideClassInfo (E_NOTIMPL on POSIX).
HRESULT ClassTypeInfo(ITypeInfo** info);

// Registers / unregisters the library's own type library from the resource
// of `modulePath`; raises EOleError on failure. Unregistering a library that
// is not registered is no error. Nothing to do on POSIX.
void RegisterOwnTypeLibrary(const AnsiString& modulePath);
void UnregisterOwnTypeLibrary(const AnsiString& modulePath);

}  // namespace nuva::senderimpl
