// The owner types, GUID text, registry strings and thread error info of
// Com.h, written once over the Windows-named API (the system's on Windows,
// the COM runtime's on POSIX).
#include "platform/Com.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/Platform.h"

namespace nuva {

WideString BstrToWide(BSTR s) {
    if (!s) return WideString();
    return WideString(Utf16Text(s), SysStringLen(s));
}

WideString OleToWide(const OLECHAR* s) {
    if (!s) return WideString();
    return WideString(Utf16Text(s));
}

AnsiString BstrToAnsi(BSTR s) {
    return s ? WideToAnsi(Utf16Text(s), SysStringLen(s)) : AnsiString();
}

void AssignBstrFromAnsi(BSTR& target, const AnsiString& text) {
    const size_t units = AnsiToWideInto(text, nullptr, 0);
    BSTR fresh = SysAllocStringLen(nullptr, static_cast<UINT>(units));
    if (!fresh) throw std::bad_alloc();
    AnsiToWideInto(text, reinterpret_cast<char16_t*>(fresh), units);
    SysFreeString(target);
    target = fresh;
}

void AssignBstr(BSTR& target, const WideString& text) {
    BSTR fresh = SysAllocStringLen(OleText(text.data()), static_cast<UINT>(text.size()));
    if (!fresh) throw std::bad_alloc();
    SysFreeString(target);
    target = fresh;
}

// ---------------------------------------------------------------------------
// TBstr
// ---------------------------------------------------------------------------

TBstr::TBstr(const WideString& text) {
    bstr_ = SysAllocStringLen(OleText(text.data()), static_cast<UINT>(text.size()));
    if (!bstr_) throw std::bad_alloc();
}

TBstr TBstr::Attach(BSTR bstr) {
    TBstr result;
    result.bstr_ = bstr;
    return result;
}

TBstr TBstr::FromAnsi(const AnsiString& text) {
    TBstr result;
    AssignBstrFromAnsi(result.bstr_, text);
    return result;
}

TBstr& TBstr::operator=(TBstr&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
}

size_t TBstr::Length() const {
    return bstr_ ? SysStringLen(bstr_) : 0;
}

AnsiString TBstr::ToAnsi() const {
    return BstrToAnsi(bstr_);
}

BSTR* TBstr::Receive() {
    Reset();
    return &bstr_;
}

BSTR TBstr::Detach() {
    return std::exchange(bstr_, nullptr);
}

void TBstr::Reset(BSTR bstr) {
    BSTR old = std::exchange(bstr_, bstr);
    if (old) SysFreeString(old);
}

// ---------------------------------------------------------------------------
// TModule
// ---------------------------------------------------------------------------

TModule::TModule(const AnsiString& fileName) : module_(LoadLibraryA(fileName.c_str())) {}

TModule& TModule::operator=(TModule&& other) noexcept {
    if (this != &other) {
        Reset();
        module_ = std::exchange(other.module_, nullptr);
    }
    return *this;
}

void TModule::Reset() {
    if (module_) FreeLibrary(std::exchange(module_, nullptr));
}

// ---------------------------------------------------------------------------
// GUIDs
// ---------------------------------------------------------------------------

AnsiString GuidToString(const GUID& g) {
    return Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

namespace {

// Reads `digits` hexadecimal digits at `pos`; false on anything else.
bool ReadHex(const AnsiString& text, size_t pos, int digits, uint32_t* value) {
    uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        char c = text[pos + static_cast<size_t>(i)];
        int d = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                         : -1;
        if (d < 0) return false;
        v = v * 16 + static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

}  // namespace

bool StringToGuid(const AnsiString& text, GUID* guid) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: 38 characters.
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-')
        return false;
    GUID g;
    uint32_t v;
    if (!ReadHex(text, 1, 8, &v)) return false;
    g.Data1 = v;
    if (!ReadHex(text, 10, 4, &v)) return false;
    g.Data2 = static_cast<uint16_t>(v);
    if (!ReadHex(text, 15, 4, &v)) return false;
    g.Data3 = static_cast<uint16_t>(v);
    static const size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, kBytePos[i], 2, &v)) return false;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    *guid = g;
    return true;
}

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

namespace {

// Owns an open registry key.
class TRegKey {
  public:
    TRegKey() = default;
    ~TRegKey() {
        if (key_) RegCloseKey(key_);
    }
    TRegKey(const TRegKey&) = delete;
    TRegKey& operator=(const TRegKey&) = delete;
    HKEY* Receive() { return &key_; }
    HKEY Get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

bool RegWriteString(const AnsiString& key, const AnsiString& name, const AnsiString& value) {
    TRegKey k;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, k.Receive(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(k.Get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool RegReadString(const AnsiString& key, const AnsiString& name, AnsiString* value) {
    TRegKey k;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, k.Receive()) != ERROR_SUCCESS)
        return false;
    const char* valueName = name.empty() ? nullptr : name.c_str();
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(k.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::vector<char> data(size + 1, '\0');
    if (RegQueryValueExA(k.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS)
        return false;
    // The stored terminator, when there is one, is not part of the text.
    *value = AnsiString(data.data(), strnlen(data.data(), size));
    return true;
}

bool RegKeyExists(const AnsiString& key) {
    TRegKey k;
    return RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, k.Receive()) == ERROR_SUCCESS;
}

bool RegRemoveKey(const AnsiString& key) {
    return RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str()) == ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Error info
// ---------------------------------------------------------------------------

bool SetThreadErrorInfo(const IID& iid, const WideString& source, const WideString& description) {
    TComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Receive()))) return false;
    // The setters take non-const strings; they copy them.
    WideString src = source;
    WideString desc = description;
    create->SetGUID(iid);
    create->SetSource(OleText(&src[0]));
    create->SetDescription(OleText(&desc[0]));
    TComPtr<IErrorInfo> info;
    if (FAILED(create->QueryInterface(IID_IErrorInfo, info.ReceiveVoid()))) return false;
    return SetErrorInfo(0, info.Get()) == S_OK;
}

bool TakeThreadErrorDescription(WideString* description) {
    TComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return false;
    TBstr text;
    if (FAILED(info->GetDescription(text.Receive()))) return false;
    *description = text.ToWide();
    return true;
}

}  // namespace nuva
