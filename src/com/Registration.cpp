#include "com/Registration.h"

#include "com/SenderImpl.h"
#include "com/TypeInformation.h"
#include "platform/Com.h"

namespace nuva {

namespace {

AnsiString ClsidKey() {
    return "CLSID\\" + GuidToString(CLSID_SenderImpl);
}

}  // namespace

AnsiString InprocServerValue(const AnsiString& modulePath, TShortPathFunction shortPath) {
    // A space is never the trail byte of a double-byte character.
    if (modulePath.find(' ') == AnsiString::npos) return modulePath;
    // A server path that is empty would register a class that no one can
    // load: the long path still works.
    const AnsiString shortForm = shortPath(modulePath);
    return shortForm.empty() ? modulePath : shortForm;
}

std::vector<TRegistryValue> ServerRegistryValues(const AnsiString& modulePath,
                                                 TShortPathFunction shortPath) {
    const AnsiString clsid = ClsidKey();
    const AnsiString progId = kSenderProgId;
    return {
        {clsid, "", kSenderClassName},
        {clsid + "\\InprocServer32", "", InprocServerValue(modulePath, shortPath)},
        {clsid + "\\InprocServer32", "ThreadingModel", "Both"},
        {clsid + "\\ProgID", "", progId},
        {progId, "", kSenderClassName},
        {progId + "\\Clsid", "", GuidToString(CLSID_SenderImpl)},
        {clsid + "\\Version", "", Format("%d.%d", kTypeLibMajor, kTypeLibMinor)},
        {clsid + "\\TypeLib", "", GuidToString(LIBID_DuredaVevuvavizuriz_NUVA)},
    };
}

std::vector<AnsiString> ServerRegistryKeys() {
    const AnsiString clsid = ClsidKey();
    const AnsiString progId = kSenderProgId;
    return {clsid + "\\TypeLib",
            clsid + "\\Version",
            clsid + "\\ProgID",
            progId + "\\Clsid",
            progId,
            clsid + "\\InprocServer32",
            clsid};
}

void RegisterServer(const AnsiString& modulePath, TShortPathFunction shortPath) {
    if (modulePath.empty()) throw Exception("The library's own file name is unknown");
    senderimpl::RegisterOwnTypeLibrary(modulePath);
    for (const TRegistryValue& v : ServerRegistryValues(modulePath, shortPath)) {
        if (!RegWriteString(v.key, v.name, v.data))
            throw Exception(
                Format("Cannot write the registry value %s of %s", v.name.c_str(), v.key.c_str()));
    }
}

void UnregisterServer(const AnsiString& modulePath) {
    senderimpl::UnregisterOwnTypeLibrary(modulePath);
    // Every key that can go goes, even when one of them stays.
    AnsiString stays;
    for (const AnsiString& key : ServerRegistryKeys()) {
        RegRemoveKey(key);
        if (RegKeyExists(key) && stays.empty()) stays = key;
    }
    if (!stays.empty()) throw Exception(Format("Cannot remove the registry key %s", stays.c_str()));
}

}  // namespace nuva
