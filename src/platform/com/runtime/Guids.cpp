// The well-known interface identifiers, GUID text, COM initialisation and
// the locale answers.
#include <cstdio>

#include "platform/com/runtime/RuntimeInternal.h"

extern "C" {

// The values Windows defines (uuid.lib), so that objects from either side
// answer the same QueryInterface calls.
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_IProvideClassInfo = {
    0xB196B283, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

}  // extern "C"

namespace nuva::comrt {

namespace {

// `digits` hexadecimal digits from `text`; false at anything else,
// including the end of the text.
bool ReadHex(const OLECHAR* text, int digits, uint32_t* value) {
    uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        const OLECHAR c = text[i];
        int d = (c >= u'0' && c <= u'9')   ? c - u'0'
                : (c >= u'A' && c <= u'F') ? c - u'A' + 10
                : (c >= u'a' && c <= u'f') ? c - u'a' + 10
                                           : -1;
        if (d < 0) return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

}  // namespace

bool ParseBracedGuid(const OLECHAR* text, GUID* guid) {
    // Every check stops at the first unit that does not fit, so a short text
    // is never read past its terminator.
    uint32_t v = 0;
    GUID g;
    if (text[0] != u'{' || !ReadHex(text + 1, 8, &v) || text[9] != u'-') return false;
    g.Data1 = v;
    if (!ReadHex(text + 10, 4, &v) || text[14] != u'-') return false;
    g.Data2 = static_cast<uint16_t>(v);
    if (!ReadHex(text + 15, 4, &v) || text[19] != u'-') return false;
    g.Data3 = static_cast<uint16_t>(v);
    static const int kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && text[24] != u'-') return false;
        if (!ReadHex(text + kBytePos[i], 2, &v)) return false;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    if (text[37] != u'}' || text[38] != 0) return false;
    *guid = g;
    return true;
}

}  // namespace nuva::comrt

extern "C" {

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (!clsid) return E_INVALIDARG;
    if (!text) {
        *clsid = GUID_NULL;
        return S_OK;
    }
    if (nuva::comrt::ParseBracedGuid(text, clsid)) return S_OK;
    // Windows takes any other text for a ProgID.
    if (text[0] != u'{') return CLSIDFromProgID(text, clsid);
    *clsid = GUID_NULL;
    return CO_E_CLASSSTRING;
}

INT StringFromGUID2(REFGUID g, LPOLESTR buffer, INT size) {
    const INT kChars = 39;  // 38 characters and the terminator
    if (!buffer || size < kChars) return 0;
    char text[kChars + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    for (INT i = 0; i < kChars; ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
    return kChars;
}

// No apartments: every thread may create and call every object.
HRESULT CoInitialize(void*) {
    return S_OK;
}
HRESULT CoInitializeEx(void*, DWORD) {
    return S_OK;
}
void CoUninitialize() {}

LCID GetThreadLocale() {
    return 0x0804;
}
LCID GetUserDefaultLCID() {
    return 0x0804;
}

}  // extern "C"
