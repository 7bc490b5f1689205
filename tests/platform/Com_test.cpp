// The COM subset of Com.h, on both builds with the same expectations: under
// Wine they hold against the system's ole32, oleaut32 and advapi32, which
// makes Windows the oracle for the POSIX runtime.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "PlatformTestText.h"
#include "platform/Com.h"
#include "platform/Platform.h"

namespace nuva {
namespace {

using namespace nuva::test;

// An IErrorInfo that only counts its references.
class TCountedErrorInfo : public IErrorInfo {
  public:
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetGUID(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD*) override { return E_NOTIMPL; }
};

TEST(ComBstrTest, TextRoundTripsWithItsLengthPrefixAndTerminator) {
    const WideString texts[] = {u"", u"abc", WideString(u"a\0b", 3), WideString(u"中文\0尾", 4),
                                WideString(2, u'\0')};
    for (const WideString& text : texts) {
        SCOPED_TRACE(AnsiToUtf8(WideToAnsi(text)));
        TBstr b(text);
        ASSERT_NE(b.Get(), nullptr);
        EXPECT_EQ(b.Length(), text.size());
        EXPECT_EQ(SysStringLen(b.Get()), text.size());
        EXPECT_EQ(b.ToWide(), text);
        uint32_t prefix;
        std::memcpy(&prefix, reinterpret_cast<const char*>(b.Get()) - 4, 4);
        EXPECT_EQ(prefix, 2 * text.size());
        EXPECT_EQ(b.Get()[text.size()], 0);
    }
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(TBstr().ToWide(), u"");
    TBstr blank = TBstr::Attach(SysAllocStringLen(nullptr, 3));
    EXPECT_EQ(blank.Length(), 3u);
    EXPECT_EQ(blank.Get()[3], 0);
}

TEST(ComVariantTest, ClearFreesOwnedValuesOnlyAndRefusesUnknownTypes) {
    TCountedErrorInfo object;
    IUnknown* unknown = &object;
    const struct {
        VARTYPE vt;
        HRESULT hr;
    } cases[] = {
        {VT_UNKNOWN, S_OK},      {VT_BYREF | VT_UNKNOWN, S_OK},
        {VT_I4, S_OK},           {0x7F, DISP_E_BADVARTYPE},
        {15, DISP_E_BADVARTYPE}, {VT_BYREF | VT_EMPTY, DISP_E_BADVARTYPE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vt);
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(v.vt, VT_EMPTY);
        v.vt = c.vt;
        v.punkVal = &object;  // released only when held by value
        if (c.vt & VT_BYREF) v.ppunkVal = &unknown;
        object.refs = c.vt == VT_UNKNOWN ? 2 : 1;
        EXPECT_EQ(VariantClear(&v), c.hr);
        EXPECT_EQ(v.vt, c.hr == S_OK ? VARTYPE(VT_EMPTY) : c.vt);
        EXPECT_EQ(object.refs, 1u);
    }
    // A string by value is freed (a leak shows under the sanitizers); by
    // reference it stays with its owner.
    TBstr owned(u"kept");
    VARIANT v;
    v.vt = VT_BYREF | VT_BSTR;
    v.pbstrVal = owned.InOut();
    EXPECT_EQ(VariantClear(&v), S_OK);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(OleText(u"freed"));
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(owned.ToWide(), u"kept");
}

// The well-known identifiers, their text both ways, and texts that are not
// GUIDs, answered alike by our parser and the system's.
// The conversions that script hosts' arguments need (to a string and to a
// 16-bit integer), each from the types such hosts pass. Under Wine the
// system's VariantChangeType answers, the oracle for the POSIX subset.
TEST(ComVariantTest, ChangeTypeToStringAndShort) {
    auto make = [](VARTYPE vt, long long n, const char16_t* text = nullptr) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        if (vt == VT_I2) v.iVal = static_cast<SHORT>(n);
        if (vt == VT_I4) v.lVal = static_cast<LONG>(n);
        if (vt == VT_BOOL) v.boolVal = n ? VARIANT_TRUE : VARIANT_FALSE;
        if (vt == VT_BSTR) v.bstrVal = SysAllocString(OleText(text));
        return v;
    };
    const struct {
        const char* name;
        VARIANT value;
        VARTYPE to;
        HRESULT hr;
        const char16_t* text;  // VT_BSTR
        SHORT number;          // VT_I2
    } cases[] = {
        {"empty to string", make(VT_EMPTY, 0), VT_BSTR, S_OK, u"", 0},
        {"short to string", make(VT_I2, -5), VT_BSTR, S_OK, u"-5", 0},
        {"long to string", make(VT_I4, 1234567), VT_BSTR, S_OK, u"1234567", 0},
        {"boolean to string", make(VT_BOOL, 1), VT_BSTR, S_OK, u"-1", 0},
        {"string to string", make(VT_BSTR, 0, u"你好"), VT_BSTR, S_OK, u"你好", 0},
        {"null to string", make(VT_NULL, 0), VT_BSTR, DISP_E_TYPEMISMATCH, nullptr, 0},
        {"empty to short", make(VT_EMPTY, 0), VT_I2, S_OK, nullptr, 0},
        {"long to short", make(VT_I4, -32768), VT_I2, S_OK, nullptr, -32768},
        {"long out of range", make(VT_I4, 70000), VT_I2, DISP_E_OVERFLOW, nullptr, 0},
        {"boolean to short", make(VT_BOOL, 1), VT_I2, S_OK, nullptr, -1},
        {"digits to short", make(VT_BSTR, 0, u" 42 "), VT_I2, S_OK, nullptr, 42},
        {"signed digits to short", make(VT_BSTR, 0, u"-17"), VT_I2, S_OK, nullptr, -17},
        {"digits out of range", make(VT_BSTR, 0, u"70000"), VT_I2, DISP_E_OVERFLOW, nullptr, 0},
        {"a word to short", make(VT_BSTR, 0, u"abc"), VT_I2, DISP_E_TYPEMISMATCH, nullptr, 0},
        {"null to short", make(VT_NULL, 0), VT_I2, DISP_E_TYPEMISMATCH, nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TVariant source, result;
        *source.Get() = c.value;
        // Whatever the result held is cleared (the sanitizers watch).
        result.Get()->vt = VT_BSTR;
        result.Get()->bstrVal = SysAllocString(OleText(u"old"));
        const HRESULT hr = VariantChangeType(result.Get(), source.Get(), 0, c.to);
        EXPECT_EQ(hr, c.hr);
        if (FAILED(hr)) {
            EXPECT_EQ(BstrToWide(result.Get()->bstrVal), u"old") << "untouched on failure";
            continue;
        }
        ASSERT_EQ(result.Get()->vt, c.to);
        if (c.to == VT_BSTR) {
            EXPECT_EQ(BstrToWide(result.Get()->bstrVal), c.text);
        } else {
            EXPECT_EQ(result.Get()->iVal, c.number);
        }
    }
    // Through a variant by reference, as script hosts pass their variables,
    // and in place.
    TVariant held, ref, inPlace;
    held.Get()->vt = VT_I4;
    held.Get()->lVal = 12;
    ref.Get()->vt = VT_BYREF | VT_VARIANT;
    ref.Get()->pvarVal = held.Get();
    ASSERT_EQ(VariantChangeType(inPlace.Get(), ref.Get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(BstrToWide(inPlace.Get()->bstrVal), u"12");
    ASSERT_EQ(VariantChangeType(inPlace.Get(), inPlace.Get(), 0, VT_I2), S_OK);
    EXPECT_EQ(inPlace.Get()->vt, VT_I2);
    EXPECT_EQ(inPlace.Get()->iVal, 12);
}

TEST(ComGuidTest, TextRoundTripsAndMalformedTextIsRefused) {
    const struct {
        const IID* iid;
        const char* text;
    } known[] = {
        {&IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
        {&IID_IDispatch, "{00020400-0000-0000-C000-000000000046}"},
        {&IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
        {&IID_IErrorInfo, "{1CF2B120-547D-101B-8E65-08002B2BD119}"},
        {&IID_ICreateErrorInfo, "{22F03340-547D-101B-8E65-08002B2BD119}"},
        {&IID_ISupportErrorInfo, "{DF0B3D60-548F-101B-8E65-08002B2BD119}"},
        {&IID_IProvideClassInfo, "{B196B283-BAB4-101A-B69C-00AA00341D07}"},
        {&GUID_NULL, "{00000000-0000-0000-0000-000000000000}"},
    };
    for (const auto& k : known) {
        SCOPED_TRACE(k.text);
        EXPECT_EQ(GuidToString(*k.iid), k.text);
        OLECHAR buffer[39];
        ASSERT_EQ(StringFromGUID2(*k.iid, buffer, 39), 39);
        EXPECT_EQ(WideToAnsi(Utf16Text(buffer)), k.text);
        EXPECT_EQ(StringFromGUID2(*k.iid, buffer, 38), 0);
        GUID parsed;
        ASSERT_TRUE(StringToGuid(k.text, &parsed));
        EXPECT_TRUE(parsed == *k.iid);
    }
    GUID lower;
    ASSERT_TRUE(StringToGuid("{1cf2b120-547d-101b-8e65-08002b2bd119}", &lower));
    EXPECT_TRUE(lower == IID_IErrorInfo);
    ASSERT_EQ(CLSIDFromString(OleText(u"{1cf2b120-547d-101b-8e65-08002b2bd119}"), &lower), S_OK);
    EXPECT_TRUE(lower == IID_IErrorInfo);

    const char* malformed[] = {
        "",
        "{1CF2B120-547D-101B-8E65-08002B2BD119",    // no closing brace
        "1CF2B120-547D-101B-8E65-08002B2BD119}",    // no opening brace
        "{1CF2B120-547D-101B-8E65-08002B2BD11G}",   // not a digit
        "{1CF2B120-547D-101B-8E65-08002B2BD119}x",  // text after it
        "{1CF2B12-0547D-101B-8E65-08002B2BD119}",   // hyphen moved
        "{+CF2B120-547D-101B-8E65-08002B2BD119}",   // sign
        "{1CF2B120-547D-101B-8E65-08002B2BD1}",     // short
    };
    for (const char* text : malformed) {
        SCOPED_TRACE(text);
        GUID g;
        EXPECT_FALSE(StringToGuid(text, &g));
        const WideString wide = AnsiToWide(text);
        EXPECT_EQ(CLSIDFromString(OleText(wide.c_str()), &g), CO_E_CLASSSTRING);
    }
}

// Every key a test writes lives under one root whose name no one else uses
// (under Wine the registry persists in the prefix); each test removes what
// it made, deepest first, even when it fails.
class ComRegistryTest : public ::testing::Test {
  protected:
    const AnsiString kRoot = "NuvaComTest.Registry";
    std::vector<AnsiString> made_;  // keys to remove, in the order made

    AnsiString Make(const AnsiString& key) {
        made_.push_back(key);
        return key;
    }
    void TearDown() override {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) RegRemoveKey(*it);
        RegRemoveKey(kRoot);
        EXPECT_FALSE(RegKeyExists(kRoot));
    }
};

TEST_F(ComRegistryTest, ValuesAreFoundByCaseInsensitiveAsciiNames) {
    const AnsiString sub = Make(kRoot + "\\Sub");
    const AnsiString gbkValue = WideToAnsi(u"默认值");
    ASSERT_TRUE(RegWriteString(sub, "", gbkValue));
    ASSERT_TRUE(RegWriteString(sub, "Name", "named"));
    ASSERT_TRUE(RegWriteString(Make(kRoot + "\\" + kGbkCheng), "", "cheng"));
    ASSERT_TRUE(RegWriteString(Make(kRoot + "\\" + kGbkTrailA), "", "trail a"));
    const struct {
        AnsiString key, name;
        bool found;
        AnsiString value;
    } reads[] = {
        {kRoot + "\\Sub", "", true, gbkValue},
        {"nuvacomtest.REGISTRY\\sUB", "", true, gbkValue},
        {kRoot + "\\Sub", "NAME", true, "named"},
        {kRoot + "\\Sub", "Other", false, ""},
        {kRoot, "Name", false, ""},  // values belong to their own key
        {kRoot + "\\Missing", "", false, ""},
        // A trail byte is neither a separator nor a letter to fold.
        {kRoot + "\\" + kGbkCheng, "", true, "cheng"},
        {kRoot + "\\" + kGbkTrailA, "", true, "trail a"},
        {kRoot + "\\\x81\x41", "", false, ""},
    };
    for (const auto& r : reads) {
        SCOPED_TRACE(AnsiToUtf8(r.key + "|" + r.name));
        AnsiString value = "untouched";
        EXPECT_EQ(RegReadString(r.key, r.name, &value), r.found);
        EXPECT_EQ(value, r.found ? r.value : "untouched");
    }
    EXPECT_FALSE(RegKeyExists(kRoot + "\\\xD5"));
}

TEST_F(ComRegistryTest, KeyWithSubkeysIsNotRemoved) {
    Make(kRoot + "\\A");
    ASSERT_TRUE(RegWriteString(Make(kRoot + "\\A\\B"), "", "x"));
    EXPECT_TRUE(RegKeyExists(kRoot + "\\a"));
    EXPECT_FALSE(RegRemoveKey(kRoot + "\\A"));
    EXPECT_TRUE(RegKeyExists(kRoot + "\\A\\B"));
    EXPECT_TRUE(RegRemoveKey(kRoot + "\\A\\B"));
    EXPECT_TRUE(RegRemoveKey(kRoot + "\\A"));
    EXPECT_FALSE(RegKeyExists(kRoot + "\\A"));
    EXPECT_FALSE(RegRemoveKey(kRoot + "\\A"));
}

// The raw calls, for what the string helpers do not show: dispositions, the
// size protocol of queries, and handles to deleted keys.
TEST_F(ComRegistryTest, RawCallsFollowTheWindowsProtocol) {
    const AnsiString key = Make(kRoot + "\\Raw");
    auto create = [&](HKEY* h) {
        DWORD disposition = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, h, &disposition),
                  ERROR_SUCCESS);
        return disposition;
    };
    HKEY h = nullptr, again = nullptr;
    EXPECT_EQ(create(&h), DWORD(REG_CREATED_NEW_KEY));
    EXPECT_EQ(create(&again), DWORD(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(h, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("hello"), 6),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(h, "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 6u);
    char buffer[8] = "xxxxxxx";
    size = 3;
    EXPECT_EQ(RegQueryValueExA(h, "V", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(h, "V", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(RegQueryValueExA(h, "W", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(h, "V"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(h, "V"), ERROR_FILE_NOT_FOUND);

    // A handle outlives its key but no longer reaches it, nor its successor.
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(h, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("a"), 2),
              ERROR_KEY_DELETED);
    ASSERT_TRUE(RegWriteString(key, "V", "successor"));
    EXPECT_EQ(RegQueryValueExA(h, "V", nullptr, &type, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);

    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, (kRoot + "\\Missing").c_str(), 0, KEY_READ, &h),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, (kRoot + "\\Missing").c_str()),
              ERROR_FILE_NOT_FOUND);
    const HKEY madeUp = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x12345678));
    EXPECT_EQ(RegOpenKeyExA(madeUp, "x", 0, KEY_READ, &h), ERROR_INVALID_HANDLE);
}

TEST(ComErrorInfoTest, ThreadErrorInfoIsTakenOnceAndOnlyByItsThread) {
    const WideString description = u"发送失败：网络中断";
    ASSERT_TRUE(SetThreadErrorInfo(IID_IDispatch, u"NuvaComTest", description));
    bool seenElsewhere = true;
    std::thread([&] {
        WideString text;
        seenElsewhere = TakeThreadErrorDescription(&text);
    }).join();
    EXPECT_FALSE(seenElsewhere);
    WideString text;
    ASSERT_TRUE(TakeThreadErrorDescription(&text));
    EXPECT_EQ(text, description);
    EXPECT_FALSE(TakeThreadErrorDescription(&text));
    TCountedErrorInfo sentinel;
    IErrorInfo* none = &sentinel;
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
}

TEST(ComErrorInfoTest, SlotHoldsOneReferenceAndHandsItOver) {
    TCountedErrorInfo info;
    ASSERT_EQ(SetErrorInfo(0, &info), S_OK);
    EXPECT_EQ(info.refs, 2u);
    ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);  // replacing releases it
    EXPECT_EQ(info.refs, 1u);
    ASSERT_EQ(SetErrorInfo(0, &info), S_OK);
    IErrorInfo* taken = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &taken), S_OK);
    EXPECT_EQ(taken, &info);
    EXPECT_EQ(info.refs, 2u);  // the caller owns the slot's reference now
    taken->Release();

    TComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.Receive()), S_OK);
    TComPtr<IErrorInfo> asInfo;
    TComPtr<IUnknown> viaCreate, viaInfo;
    EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, asInfo.ReceiveVoid()), S_OK);
    EXPECT_EQ(create->QueryInterface(IID_IUnknown, viaCreate.ReceiveVoid()), S_OK);
    EXPECT_EQ(asInfo->QueryInterface(IID_IUnknown, viaInfo.ReceiveVoid()), S_OK);
    EXPECT_EQ(viaCreate.Get(), viaInfo.Get());  // one identity
    void* none = &info;
    EXPECT_EQ(create->QueryInterface(IID_IDispatch, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST(ComMessageTest, SystemTextsAreWindowsTexts) {
    // Codes whose text the system lacks under Wine: the same known text on
    // both builds.
    const struct {
        HRESULT code;
        const char* text;
    } cases[] = {
        {E_UNEXPECTED, "Catastrophic failure"},    {DISP_E_UNKNOWNNAME, "Unknown name."},
        {DISP_E_EXCEPTION, "Exception occurred."}, {REGDB_E_CLASSNOTREG, "Class not registered"},
        {static_cast<HRESULT>(0x8004DEAD), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Format("%08X", static_cast<unsigned>(c.code)));
        EXPECT_EQ(SystemMessageText(c.code), c.text);
    }
    EXPECT_FALSE(SystemMessageText(E_FAIL).empty());
}

class ComActivationTest : public ::testing::Test {
  protected:
    const AnsiString kProgId = "NuvaComTest.Activation";
    const AnsiString kClsidText = "{4E555641-0000-4354-8000-000000000001}";
    const AnsiString kClsidKey = "CLSID\\" + kClsidText;
    GUID clsid_;

    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        ASSERT_TRUE(StringToGuid(kClsidText, &clsid_));
    }
    void TearDown() override {
        RegRemoveKey(kProgId + "\\Clsid");
        RegRemoveKey(kProgId);
        RegRemoveKey(kClsidKey);
        CoUninitialize();
    }
};

TEST_F(ComActivationTest, ProgIdIsFoundByItsClsidValue) {
    GUID found = clsid_;
    EXPECT_EQ(CLSIDFromProgID(OleText(u"NuvaComTest.NoSuchProgId"), &found), CO_E_CLASSSTRING);
    EXPECT_TRUE(found == GUID_NULL);
    ASSERT_TRUE(RegWriteString(kProgId + "\\Clsid", "", "not a guid"));
    EXPECT_EQ(CLSIDFromProgID(OleText(u"NuvaComTest.Activation"), &found), CO_E_CLASSSTRING);
    ASSERT_TRUE(RegWriteString(kProgId + "\\Clsid", "", kClsidText));
    ASSERT_EQ(CLSIDFromProgID(OleText(u"nuvacomtest.ACTIVATION"), &found), S_OK);
    EXPECT_TRUE(found == clsid_);
    found = GUID_NULL;
    ASSERT_EQ(CLSIDFromString(OleText(u"NuvaComTest.Activation"), &found), S_OK);
    EXPECT_TRUE(found == clsid_);
}

TEST_F(ComActivationTest, UnregisteredClassIsNotCreated) {
    void* object = &clsid_;
    EXPECT_EQ(CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    ASSERT_TRUE(RegWriteString(kClsidKey, "", "no server"));
    object = &clsid_;
    EXPECT_EQ(CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
              E_POINTER);
}

void FunctionInTheTestProgram() {}

TEST(ComModuleTest, ModuleFileNameIsTheFullPathOfTheModuleHoldingTheAddress) {
    const AnsiString program =
        ModuleFileNameOf(reinterpret_cast<const void*>(&FunctionInTheTestProgram));
    EXPECT_EQ(ExtractFilePath(program), ExeDirectory());
    EXPECT_EQ(ExtractFileName(program).rfind("platform_tests", 0), 0u) << program;
    const AnsiString runtime = ModuleFileNameOf(reinterpret_cast<const void*>(&SysAllocString));
    EXPECT_FALSE(runtime.empty());
    EXPECT_NE(runtime, program);
    const std::unique_ptr<int> onTheHeap(new int(0));
    EXPECT_EQ(ModuleFileNameOf(onTheHeap.get()), "");
}

}  // namespace
}  // namespace nuva
