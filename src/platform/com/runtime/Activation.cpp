// Finding classes through the registry and creating objects from in-process
// servers.
#include <map>
#include <mutex>
#include <string>

#include "platform/Platform.h"
#include "platform/com/runtime/RuntimeInternal.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* TGetClassObject)(REFCLSID clsid, REFIID riid, void** object);

// Servers stay loaded until the process ends (objects and factories may
// outlive any one CoCreateInstance), so each is loaded once and remembered
// by the path its registration names. Recursive: a server's initialisation
// may itself create objects.
struct TServers {
    std::recursive_mutex mutex;
    std::map<std::string, HMODULE> loaded;
};

TServers& Servers() {
    static TServers* servers = new TServers;  // never destroyed, like the servers
    return *servers;
}

HMODULE LoadServer(const std::string& path) {
    TServers& s = Servers();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    auto it = s.loaded.find(path);
    if (it != s.loaded.end()) return it->second;
    HMODULE module = LoadLibraryA(path.c_str());
    if (module) s.loaded[path] = module;  // a failure is tried again next time
    return module;
}

std::string GuidText(REFGUID guid) {
    OLECHAR wide[40];
    const INT n = StringFromGUID2(guid, wide, 40);
    return std::string(wide, wide + (n > 0 ? n - 1 : 0));  // ASCII only
}

}  // namespace

extern "C" {

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (!progId || !clsid) return E_INVALIDARG;
    *clsid = GUID_NULL;
    const std::string name = nuva::WideToAnsi(std::u16string(progId));
    std::string text;
    if (name.empty() || !nuva::comrt::ReadDefaultValue(name + "\\Clsid", &text))
        return CO_E_CLASSSTRING;
    const std::u16string wide(text.begin(), text.end());  // a GUID is ASCII
    return nuva::comrt::ParseBracedGuid(wide.c_str(), clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    std::string server;
    if (!nuva::comrt::ReadDefaultValue("CLSID\\" + GuidText(clsid) + "\\InprocServer32", &server) ||
        server.empty())
        return REGDB_E_CLASSNOTREG;
    HMODULE module = LoadServer(server);
    if (!module) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    auto getClassObject = reinterpret_cast<TGetClassObject>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject) return CO_E_ERRORINDLL;
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    return hr;
}

}  // extern "C"
