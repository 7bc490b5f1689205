// The library's four entry points. Windows exports exactly these through
// DuredaVevuvavizuriz_NUVA.def (undecorated on i686 as well); the POSIX
// shared object through visibility and DuredaVevuvavizuriz_NUVA.map.
#include "com/Registration.h"
#include "com/SenderImpl.h"

#if defined(_WIN32)
#define NUVA_SERVER_EXPORT extern "C"
#else
#define NUVA_SERVER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

NUVA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                            void** object) {
    return nuva::SenderGetClassObject(clsid, iid, object);
}

NUVA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return nuva::SenderCanUnloadNow();
}

NUVA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
    try {
        nuva::RegisterServer(nuva::SenderModulePath());
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

NUVA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
    try {
        nuva::UnregisterServer(nuva::SenderModulePath());
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}
