// IDispatch where there are no type libraries: the name table's answers
// beyond what both builds share (those are in server/Server_test.cpp).
#include <gtest/gtest.h>

#include "ComTestSupport.h"
#include "com/SenderImpl.h"

namespace nuva {
namespace {

using namespace nuva::test;

TComPtr<IDispatch> NewDispatch() {
    TComPtr<IClassFactory> factory;
    EXPECT_EQ(SenderGetClassObject(CLSID_SenderImpl, IID_IClassFactory, factory.ReceiveVoid()),
              S_OK);
    TComPtr<IDispatch> object;
    if (factory) {
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.ReceiveVoid()), S_OK);
    }
    return object;
}

TEST(NameTableDispatch, HasNoTypeInformation) {
    TComPtr<IDispatch> object = NewDispatch();
    ASSERT_TRUE(object);
    UINT count = 7;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(&count);
    EXPECT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), E_NOTIMPL);
    EXPECT_EQ(info, nullptr);
    TComPtr<IProvideClassInfo> provider;
    ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo, provider.ReceiveVoid()), S_OK);
    info = reinterpret_cast<ITypeInfo*>(&count);
    EXPECT_EQ(provider->GetClassInfo(&info), E_NOTIMPL);
    EXPECT_EQ(info, nullptr);
}

TEST(NameTableDispatch, NamesIgnoreAsciiCaseOnly) {
    TComPtr<IDispatch> object = NewDispatch();
    ASSERT_TRUE(object);
    const struct {
        const char16_t* name;
        DISPID id;
    } cases[] = {{u"init", kDispIdInit},         {u"SEND", kDispIdSend},
                 {u"testCONN", kDispIdTestConn}, {u"Init ", DISPID_UNKNOWN},
                 {u"Ｉｎｉｔ", DISPID_UNKNOWN},  {u"", DISPID_UNKNOWN}};
    for (const auto& c : cases) {
        HRESULT hr = S_OK;
        EXPECT_EQ(DispId(object.Get(), c.name, &hr), c.id) << WideToAnsi(c.name);
        EXPECT_EQ(hr, c.id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK);
    }
    // Parameter names are not resolved.
    WideString init = u"Init", config = u"Config";
    LPOLESTR names[] = {OleText(&init[0]), OleText(&config[0])};
    DISPID ids[2] = {};
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids),
              DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], kDispIdInit);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST(NameTableDispatch, RefusesWhatTheTableDoesNotDescribe) {
    TComPtr<IDispatch> object = NewDispatch();
    ASSERT_TRUE(object);
    TBstr config, message;
    VARIANT_BOOL ok = VARIANT_FALSE;
    VARIANT args[] = {ByRefBool(&ok), ByRef(message.InOut()), ByValue(config.Get())};
    DISPID named = 0;
    const struct {
        const char* name;
        DISPID id;
        WORD flags;
        UINT namedCount;
        HRESULT hr;
    } cases[] = {
        {"property get", kDispIdInit, DISPATCH_PROPERTYGET, 0, DISP_E_MEMBERNOTFOUND},
        {"unknown id", 99, DISPATCH_METHOD, 0, DISP_E_MEMBERNOTFOUND},
        {"named argument", kDispIdInit, DISPATCH_METHOD, 1, DISP_E_NONAMEDARGS},
        // Visual Basic style callers add PROPERTYGET.
        {"method or property", kDispIdInit, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, S_OK},
    };
    for (const auto& c : cases) {
        DISPPARAMS params{args, c.namedCount ? &named : nullptr, 3, c.namedCount};
        EXPECT_EQ(object->Invoke(c.id, IID_NULL, LOCALE_USER_DEFAULT, c.flags, &params, nullptr,
                                 nullptr, nullptr),
                  c.hr)
            << c.name;
    }
}

// The first argument (in call order) of the wrong type is named by its
// position in DISPPARAMS.
TEST(NameTableDispatch, TypeMismatchNamesTheArgument) {
    TComPtr<IDispatch> object = NewDispatch();
    ASSERT_TRUE(object);
    TBstr text, message, reply, status;
    VARIANT_BOOL ok = VARIANT_FALSE;
    SHORT progress = 0;
    LONG wide = 0;
    VARIANT longRef;
    VariantInit(&longRef);
    longRef.vt = VT_I4 | VT_BYREF;
    longRef.plVal = &wide;
    VARIANT nullRef = ByRef(&progress);
    nullRef.piVal = nullptr;
    VARIANT emptyIn;
    VariantInit(&emptyIn);
    const struct {
        const char* name;
        const char16_t* member;
        std::vector<VARIANT> args;
        UINT argErr;
    } cases[] = {
        {"32-bit progress",
         u"Send",
         {ByValue(text.Get()), ByRef(reply.InOut()), longRef, ByRef(status.InOut()),
          ByRef(message.InOut()), ByRefBool(&ok)},
         3},
        {"null progress variable",
         u"Send",
         {ByValue(text.Get()), ByRef(reply.InOut()), nullRef, ByRef(status.InOut()),
          ByRef(message.InOut()), ByRefBool(&ok)},
         3},
        {"result as a 16-bit integer",
         u"Init",
         {ByValue(text.Get()), ByRef(message.InOut()), ByRef(&progress)},
         0},
        {"message by value", u"TestConn", {ByValue(text.Get()), ByRefBool(&ok)}, 1},
        // An empty request converts to a string (script hosts' literals).
        {"empty request, 32-bit progress",
         u"Send",
         {emptyIn, ByRef(reply.InOut()), longRef, ByRef(status.InOut()), ByRef(message.InOut()),
          ByRefBool(&ok)},
         3},
    };
    for (const auto& c : cases) {
        UINT argErr = 99;
        EXPECT_EQ(InvokeByName(object.Get(), c.member, c.args, nullptr, &argErr),
                  DISP_E_TYPEMISMATCH)
            << c.name;
        EXPECT_EQ(argErr, c.argErr) << c.name;
    }
}

// An [in] string may come by reference: read through, not written.
TEST(NameTableDispatch, InStringByReference) {
    TComPtr<IDispatch> object = NewDispatch();
    ASSERT_TRUE(object);
    TBstr config = TBstr::FromAnsi("<CONFIG/>"), message;
    BSTR kept = config.Get();
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(InvokeByName(object.Get(), u"Init",
                           {ByRef(config.InOut()), ByRef(message.InOut()), ByRefBool(&ok)}),
              S_OK);
    EXPECT_EQ(config.Get(), kept);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_NE(message.Length(), 0u);
}

}  // namespace
}  // namespace nuva
