// Late-bound calls as script hosts make them: variables passed as variants by
// reference, literals as whatever variant they are. First the adapter alone
// in front of a recording typed call, then whole calls through a real object
// (on Windows through the type information, as every host meets it).
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ComTestSupport.h"
#include "com/ScriptArguments.h"
#include "com/SenderImpl.h"

namespace nuva {
namespace {

using namespace nuva::test;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new TComEnvironment);

// ---------------------------------------------------------------------------
// The adapter alone
// ---------------------------------------------------------------------------

// What the typed call was given, and what it writes: Init's Message and
// Result, as the method would.
struct TTypedCall {
    int calls = 0;
    DISPPARAMS* params = nullptr;
    std::vector<VARTYPE> types;  // DISPPARAMS order
    AnsiString config;
    HRESULT answer = S_OK;
};
TTypedCall g_typed;

HRESULT RecordingInit(ISender*, DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                      EXCEPINFO*, UINT* argErr) {
    ++g_typed.calls;
    g_typed.params = params;
    g_typed.types.clear();
    for (UINT i = 0; i < params->cArgs; ++i) g_typed.types.push_back(params->rgvarg[i].vt);
    // Refuse what the type information would refuse.
    const VARTYPE want[] = {VT_BOOL | VT_BYREF, VT_BSTR | VT_BYREF, VT_BSTR};
    for (UINT i = 0; i < 3; ++i) {
        const VARTYPE vt = params->rgvarg[i].vt;
        if (vt != want[i] && !(i == 2 && vt == (VT_BSTR | VT_BYREF))) {
            if (argErr) *argErr = i;
            return DISP_E_TYPEMISMATCH;
        }
    }
    const VARIANT& config = params->rgvarg[2];
    g_typed.config = BstrToAnsi(config.vt == VT_BSTR ? config.bstrVal : *config.pbstrVal);
    AssignBstrFromAnsi(*params->rgvarg[1].pbstrVal, "message");
    *params->rgvarg[0].pboolVal = VARIANT_TRUE;
    return g_typed.answer;
}

VARIANT Holding(VARIANT* holder) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_VARIANT;
    v.pvarVal = holder;
    return v;
}

VARIANT Long(LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

HRESULT AdaptInit(std::vector<VARIANT> argsInCallOrder, UINT* argErr = nullptr,
                  DISPPARAMS** given = nullptr) {
    std::vector<VARIANT> reversed(argsInCallOrder.rbegin(), argsInCallOrder.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    g_typed = TTypedCall{};
    if (given) *given = &params;
    const HRESULT hr = senderimpl::InvokeWithScriptArguments(
        &RecordingInit, nullptr, kDispIdInit, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
        &params, nullptr, nullptr, argErr);
    if (given) *given = g_typed.params == &params ? &params : nullptr;
    return hr;
}

// Typed callers' arguments reach the typed call as they are: the same
// DISPPARAMS, nothing copied.
TEST(ScriptArguments, TypedArgumentsPassUntouched) {
    TBstr config = TBstr::FromAnsi("<CONFIG/>"), message;
    VARIANT_BOOL ok = VARIANT_FALSE;
    DISPPARAMS* given = nullptr;
    EXPECT_EQ(
        AdaptInit({ByValue(config.Get()), ByRef(message.InOut()), ByRefBool(&ok)}, nullptr, &given),
        S_OK);
    EXPECT_NE(given, nullptr) << "the caller's DISPPARAMS were replaced";
    EXPECT_EQ(message.ToAnsi(), "message");
    EXPECT_EQ(ok, VARIANT_TRUE);
}

// Each shape a script host may pass for Init's Config, Message and Result:
// what the typed call gets and what lands in the caller's variants.
TEST(ScriptArguments, ShapesOfInitArguments) {
    struct TCase {
        const char* name;
        std::function<VARIANT(TBstr&, VARIANT&)> config;  // from a string and a holder
        bool messageByVariant;
        bool resultByVariant;
        HRESULT hr;
        AnsiString typedConfig;
    };
    const TCase cases[] = {
        {"all typed", [](TBstr& s, VARIANT&) { return ByValue(s.Get()); }, false, false, S_OK,
         "<CONFIG/>"},
        {"VBScript variables",
         [](TBstr& s, VARIANT& h) {
             h.vt = VT_BSTR;
             h.bstrVal = SysAllocString(s.Get());
             return Holding(&h);
         },
         true, true, S_OK, "<CONFIG/>"},
        {"typed config, variant out", [](TBstr& s, VARIANT&) { return ByValue(s.Get()); }, true,
         false, S_OK, "<CONFIG/>"},
        {"config by string reference", [](TBstr& s, VARIANT&) { return ByRef(s.InOut()); }, false,
         true, S_OK, "<CONFIG/>"},
        {"config a number", [](TBstr&, VARIANT&) { return Long(1234); }, true, true, S_OK, "1234"},
        {"config a number in a variable",
         [](TBstr&, VARIANT& h) {
             h.vt = VT_I2;
             h.iVal = -5;
             return Holding(&h);
         },
         false, true, S_OK, "-5"},
        {"config an empty variable", [](TBstr&, VARIANT& h) { return Holding(&h); }, true, true,
         S_OK, ""},
        {"config null",
         [](TBstr&, VARIANT&) {
             VARIANT v;
             VariantInit(&v);
             v.vt = VT_NULL;
             return v;
         },
         true, true, DISP_E_TYPEMISMATCH, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TBstr config = TBstr::FromAnsi("<CONFIG/>"), message = TBstr::FromAnsi("left");
        VARIANT_BOOL ok = VARIANT_FALSE;
        TVariant configHolder, messageHolder, resultHolder;
        messageHolder.Get()->vt = VT_BSTR;  // freed when replaced (the sanitizers watch)
        messageHolder.Get()->bstrVal = SysAllocString(OleText(u"old"));
        resultHolder.Get()->vt = VT_I4;
        resultHolder.Get()->lVal = 7;
        UINT argErr = 99;
        const HRESULT hr =
            AdaptInit({c.config(config, *configHolder.Get()),
                       c.messageByVariant ? Holding(messageHolder.Get()) : ByRef(message.InOut()),
                       c.resultByVariant ? Holding(resultHolder.Get()) : ByRefBool(&ok)},
                      &argErr);
        EXPECT_EQ(hr, c.hr);
        if (hr != S_OK) {
            EXPECT_EQ(argErr, 2u);
            EXPECT_EQ(g_typed.calls, 0);
            EXPECT_EQ(messageHolder.Get()->vt, VT_BSTR) << "untouched on a refusal";
            EXPECT_EQ(BstrToAnsi(messageHolder.Get()->bstrVal), "old");
            EXPECT_EQ(resultHolder.Get()->vt, VT_I4);
            continue;
        }
        ASSERT_EQ(g_typed.calls, 1);
        EXPECT_EQ(g_typed.config, c.typedConfig);
        EXPECT_EQ(g_typed.types[1], VT_BSTR | VT_BYREF);
        EXPECT_EQ(g_typed.types[0], VT_BOOL | VT_BYREF);
        if (c.messageByVariant) {
            ASSERT_EQ(messageHolder.Get()->vt, VT_BSTR);
            EXPECT_EQ(BstrToAnsi(messageHolder.Get()->bstrVal), "message");
        } else {
            EXPECT_EQ(message.ToAnsi(), "message");
        }
        if (c.resultByVariant) {
            ASSERT_EQ(resultHolder.Get()->vt, VT_BOOL);
            EXPECT_EQ(resultHolder.Get()->boolVal, VARIANT_TRUE);
        } else {
            EXPECT_EQ(ok, VARIANT_TRUE);
        }
        EXPECT_EQ(configHolder.Get()->vt == VT_EMPTY || configHolder.Get()->vt == VT_BSTR ||
                      configHolder.Get()->vt == VT_I2,
                  true)
            << "an [in] string's variable is left as it was";
    }
}

// The results go back when the method ran and failed (DISP_E_EXCEPTION) as
// the typed call leaves them; not when the call was refused before it ran.
TEST(ScriptArguments, ResultsGoBackOnlyWhenTheMethodRan) {
    const struct {
        HRESULT answer;
        bool written;
    } cases[] = {{DISP_E_EXCEPTION, true}, {DISP_E_BADPARAMCOUNT, false}};
    for (const auto& c : cases) {
        TBstr config = TBstr::FromAnsi("x");
        TVariant messageHolder, resultHolder;
        std::vector<VARIANT> reversed = {Holding(resultHolder.Get()), Holding(messageHolder.Get()),
                                         ByValue(config.Get())};
        DISPPARAMS params{reversed.data(), nullptr, 3, 0};
        g_typed = TTypedCall{};
        g_typed.answer = c.answer;
        EXPECT_EQ(senderimpl::InvokeWithScriptArguments(
                      &RecordingInit, nullptr, kDispIdInit, IID_NULL, LOCALE_USER_DEFAULT,
                      DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
                  c.answer);
        EXPECT_EQ(messageHolder.Get()->vt, c.written ? VT_BSTR : VT_EMPTY);
        EXPECT_EQ(resultHolder.Get()->vt, c.written ? VT_BOOL : VT_EMPTY);
    }
}

// ---------------------------------------------------------------------------
// Whole calls through the object
// ---------------------------------------------------------------------------

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

// A script's Init, TestConn and Send with every argument a variable: the
// transaction goes through and each variable holds its result's type.
using TScriptHost = TEngineTest;
TEST_F(TScriptHost, InitTestConnSendWithVariables) {
    TComPtr<IDispatch> object = NewDispatch();
    ASSERT_TRUE(object);
    TVariant config, message, ok;
    config.Get()->vt = VT_BSTR;
    config.Get()->bstrVal = TBstr::FromAnsi(Config()).Detach();
    ASSERT_EQ(InvokeByName(object.Get(), u"Init",
                           {Holding(config.Get()), Holding(message.Get()), Holding(ok.Get())}),
              S_OK);
    ASSERT_EQ(ok.Get()->vt, VT_BOOL);
    ASSERT_EQ(ok.Get()->boolVal, VARIANT_TRUE) << BstrToAnsi(message.Get()->bstrVal);
    EXPECT_EQ(config.Get()->vt, VT_BSTR) << "the config variable is left alone";

    ASSERT_EQ(InvokeByName(object.Get(), u"TestConn", {Holding(message.Get()), Holding(ok.Get())}),
              S_OK);
    EXPECT_EQ(ok.Get()->boolVal, VARIANT_TRUE);
    EXPECT_EQ(message.Get()->vt, VT_BSTR);

    // VBScript holds small integer literals as VT_I2 and others as VT_I4;
    // an unset variable is empty.
    TVariant request, reply, progress, status;
    request.Get()->vt = VT_BSTR;
    request.Get()->bstrVal = TBstr::FromAnsi(kHelloPdu).Detach();
    progress.Get()->vt = VT_I4;
    progress.Get()->lVal = 0;
    ASSERT_EQ(InvokeByName(object.Get(), u"Send",
                           {Holding(request.Get()), Holding(reply.Get()), Holding(progress.Get()),
                            Holding(status.Get()), Holding(message.Get()), Holding(ok.Get())}),
              S_OK);
    ASSERT_EQ(ok.Get()->vt, VT_BOOL);
    EXPECT_EQ(ok.Get()->boolVal, VARIANT_TRUE) << BstrToAnsi(message.Get()->bstrVal);
    ASSERT_EQ(reply.Get()->vt, VT_BSTR);
    EXPECT_NE(BstrToAnsi(reply.Get()->bstrVal).find(kHelloItem), AnsiString::npos);
    ASSERT_EQ(progress.Get()->vt, VT_I2);
    EXPECT_EQ(progress.Get()->iVal, 100);
    EXPECT_EQ(status.Get()->vt, VT_BSTR);
    ASSERT_EQ(message.Get()->vt, VT_BSTR);
    EXPECT_EQ(BstrToAnsi(message.Get()->bstrVal), A(u"本次交易最终成功!"));
}

// What still does not fit is refused with the argument's position, and the
// caller's variables are not touched.
TEST_F(TScriptHost, ValuesThatDoNotConvertAreRefused) {
    TComPtr<IDispatch> object = NewDispatch();
    ASSERT_TRUE(object);
    TBstr request = TBstr::FromAnsi(kHelloPdu);
    LONG wide = 0;
    VARIANT wideRef;
    VariantInit(&wideRef);
    wideRef.vt = VT_I4 | VT_BYREF;
    wideRef.plVal = &wide;
    const struct {
        const char* name;
        std::function<void(VARIANT&)> progress;  // fills the progress variable
        bool asIs;                               // pass `wideRef` instead of the variable
    } cases[] = {
        {"progress a word",
         [](VARIANT& v) {
             v.vt = VT_BSTR;
             v.bstrVal = SysAllocString(OleText(u"abc"));
         },
         false},
        {"progress out of range",
         [](VARIANT& v) {
             v.vt = VT_I4;
             v.lVal = 70000;
         },
         false},
        {"progress a 32-bit integer by reference", [](VARIANT&) {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TVariant reply, progress, status, message, ok;
        c.progress(*progress.Get());
        message.Get()->vt = VT_BSTR;
        message.Get()->bstrVal = SysAllocString(OleText(u"old"));
        UINT argErr = 99;
        EXPECT_EQ(InvokeByName(object.Get(), u"Send",
                               {ByValue(request.Get()), Holding(reply.Get()),
                                c.asIs ? wideRef : Holding(progress.Get()), Holding(status.Get()),
                                Holding(message.Get()), Holding(ok.Get())},
                               nullptr, &argErr),
                  DISP_E_TYPEMISMATCH);
        // The typed call's refusal names the argument as the platform does
        // (Wine's type information says 0).
        if (!c.asIs) {
            EXPECT_EQ(argErr, 3u);
        }
        EXPECT_EQ(reply.Get()->vt, VT_EMPTY);
        EXPECT_EQ(ok.Get()->vt, VT_EMPTY);
        EXPECT_EQ(BstrToAnsi(message.Get()->bstrVal), "old");
    }
}

}  // namespace
}  // namespace nuva
