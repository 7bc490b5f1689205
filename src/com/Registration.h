// Registration: what DllRegisterServer writes under HKEY_CLASSES_ROOT and
// DllUnregisterServer removes, and the installation of the host's type
// library file (Sender.tlb) for hosts that install the library.
//
// The values, GUIDs braced with upper-case digits, in the order written:
//
//   Key                              Value            Data
//   CLSID\{CLSID}                    (default)        "SenderImpl"
//   CLSID\{CLSID}\InprocServer32     (default)        the library's path (InprocServerValue)
//   CLSID\{CLSID}\InprocServer32     ThreadingModel   "Both"
//   CLSID\{CLSID}\ProgID             (default)        DuredaVevuvavizuriz_NUVA.SenderImpl
//   DuredaVevuvavizuriz_NUVA.SenderImpl (default)     "SenderImpl"
//   <ProgID>\Clsid                   (default)        {CLSID}
//   CLSID\{CLSID}\Version            (default)        "1.0" (type library version, "%d.%d")
//   CLSID\{CLSID}\TypeLib            (default)        {857FAEB4-5F46-40AB-B92D-75A165B07531}
//
// Registration first registers the library's own type library (Windows),
// then writes the values; unregistration first unregisters the type library,
// then removes the keys \TypeLib, \Version, \ProgID, <ProgID>\Clsid,
// <ProgID>, \InprocServer32 and CLSID\{CLSID}. On POSIX the registry is the
// COM runtime's, in the process, and there are no type libraries.
//
// Errors: the functions raise (Exception, EOleError); the exports turn any
// error into E_FAIL. Threads: registration is not meant to run beside other
// calls of the library.
#pragma once

#include <vector>

#include "platform/Errors.h"
#include "platform/Platform.h"

namespace nuva {

// The short (8.3) form of an existing path; may come back empty.
using TShortPathFunction = AnsiString (*)(const AnsiString& path);

// The InprocServer32 path of the library file at `modulePath`: the path
// itself, or its short form when it contains a space; the path itself when
// the short form comes back empty.
AnsiString InprocServerValue(const AnsiString& modulePath,
                             TShortPathFunction shortPath = ShortPathName);

struct TRegistryValue {
    AnsiString key;   // under HKEY_CLASSES_ROOT, "\" between key names
    AnsiString name;  // empty: the key's default value
    AnsiString data;
};

// The eight values of the table above for the library file at `modulePath`.
std::vector<TRegistryValue> ServerRegistryValues(const AnsiString& modulePath,
                                                 TShortPathFunction shortPath = ShortPathName);
// The keys unregistration removes, in its order.
std::vector<AnsiString> ServerRegistryKeys();

// The bodies of DllRegisterServer and DllUnregisterServer for the library
// file at `modulePath` (its own path, see SenderModulePath). Unregistering
// keys that are missing is no error; a key that stays (one with subkeys of
// someone else's) is.
void RegisterServer(const AnsiString& modulePath, TShortPathFunction shortPath = ShortPathName);
void UnregisterServer(const AnsiString& modulePath);

// Registers / unregisters a type library file (the host's Sender.tlb) by its
// full path: Windows has no command for it. Unregistering a library that is
// not registered is no error. POSIX has no type libraries: both raise.
void RegisterTypeLibraryFile(const AnsiString& path);
void UnregisterTypeLibraryFile(const AnsiString& path);

// True where the registry outlives the process (Windows), so that a server
// is registered once when it is installed; false where it is the COM
// runtime's in-process registry (POSIX), so that a host registers the
// server itself before it creates objects.
bool RegistryOutlivesProcess();

}  // namespace nuva
