// The library file as hosts meet it: registered, created by its ProgID and
// called through the ISender vtable or IDispatch by name, with the test
// components behind it. The program links none of the server's code, so
// every object here lives in the library file and shares its one engine.
#include <gtest/gtest.h>

#include "../ComTestSupport.h"
#include "com/Registration.h"
#include "engine/EngineTexts.h"
#include "invokers/ComponentInvoker.h"

namespace nuva {
namespace {

using namespace nuva::test;

// COM on the test thread, and the library registered for the whole program
// (on Windows with the host's type library first), as an installed host has
// them.
class TServerEnvironment : public TComEnvironment {
  public:
    void SetUp() override {
        TComEnvironment::SetUp();
        if (RegistryOutlivesProcess()) RegisterTypeLibraryFile(HostTypeLibraryPath());
        ASSERT_TRUE(RegisterDll(ServerPath(), true));
    }
};
[[maybe_unused]] ::testing::Environment* const kServer =
    ::testing::AddGlobalTestEnvironment(new TServerEnvironment);

template <class T>
TComPtr<T> CreateByProgId(REFIID iid) {
    CLSID clsid{};
    const WideString progId = AnsiToWide(kProgIdText);
    EXPECT_EQ(CLSIDFromProgID(OleText(progId.c_str()), &clsid), S_OK);
    EXPECT_EQ(GuidToString(clsid), kClsidText);
    TComPtr<T> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.ReceiveVoid()),
              S_OK);
    return object;
}

class TServer : public TEngineTest {
  protected:
    // The library's engine reads action.ini beside the test program, where
    // there is none: every step of Send runs.
    void ExpectTransaction(const TCall& c) {
        EXPECT_EQ(c.hr, S_OK);
        EXPECT_EQ(c.result, VARIANT_TRUE) << c.message;
        EXPECT_EQ(c.message, A(texts::kSucceeded));
        EXPECT_EQ(c.progress, 100);
        EXPECT_EQ(c.status, A(texts::kReplyBuilt));
        EXPECT_NE(c.reply.find(kHelloItem), AnsiString::npos) << c.reply;
    }

    // The members the components were called with, in order.
    std::vector<AnsiString> Calls(const AnsiString& log) {
        std::vector<AnsiString> members;
        for (const TLogLine& line : ReadLog(log)) members.push_back(line.member);
        return members;
    }
};

TEST_F(TServer, ByProgIdThroughTheVtable) {
    TComPtr<ISender> sender = CreateByProgId<ISender>(IID_ISender);
    ASSERT_TRUE(sender);

    const TCall init = VtableInit(sender.Get(), Config({{"INIT_MSG", "net ready;"}}));
    EXPECT_EQ(init.hr, S_OK);
    EXPECT_EQ(init.result, VARIANT_TRUE) << init.message;
    EXPECT_EQ(init.message, "net ready;");

    const TCall test = VtableTestConn(sender.Get());
    EXPECT_EQ(test.hr, S_OK);
    EXPECT_EQ(test.result, VARIANT_TRUE) << test.message;

    ExpectTransaction(VtableSend(sender.Get(), kHelloPdu, 7, "host"));
    EXPECT_EQ(Calls(netLog_), (std::vector<AnsiString>{"Init", "TestConn", "Post"}));
    EXPECT_EQ(Calls(caLog_), (std::vector<AnsiString>{"Init", "EncryptFile", "DecryptFile"}));
}

TEST_F(TServer, LateBoundCallsReachTheSameEngine) {
    TComPtr<IDispatch> late = CreateByProgId<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(late);
    // The host library's dispatch ids, on every build.
    EXPECT_EQ(DispId(late.Get(), u"TestConn"), kDispIdTestConn);
    EXPECT_EQ(DispId(late.Get(), u"Send"), kDispIdSend);
    EXPECT_EQ(DispId(late.Get(), u"init"), kDispIdInit);

    const TCall init = LateInit(late.Get(), Config({{"INIT_MSG", "late;"}}));
    EXPECT_EQ(init.hr, S_OK);
    EXPECT_EQ(init.result, VARIANT_TRUE) << init.message;
    EXPECT_EQ(init.message, "late;");
    const TCall test = LateTestConn(late.Get());
    EXPECT_EQ(test.hr, S_OK);
    EXPECT_EQ(test.result, VARIANT_TRUE) << test.message;
    ExpectTransaction(LateSend(late.Get(), kHelloPdu));

    // A vtable object of the same library sends on that Init.
    TComPtr<ISender> early = CreateByProgId<ISender>(IID_ISender);
    ASSERT_TRUE(early);
    ExpectTransaction(VtableSend(early.Get(), kHelloPdu));
    EXPECT_EQ(Calls(netLog_), (std::vector<AnsiString>{"Init", "TestConn", "Post", "Post"}));
}

TEST_F(TServer, ObjectsShareTheEngineWhichOutlivesThem) {
    {
        TComPtr<ISender> first = CreateByProgId<ISender>(IID_ISender);
        TComPtr<ISender> second = CreateByProgId<ISender>(IID_ISender);
        ASSERT_TRUE(first && second);
        EXPECT_NE(first.Get(), second.Get());
        const TCall init = VtableInit(first.Get(), Config());
        ASSERT_EQ(init.result, VARIANT_TRUE) << init.message;
        ExpectTransaction(VtableSend(second.Get(), kHelloPdu));
    }
    // Every object released: a new one finds the engine still initialised.
    TComPtr<ISender> later = CreateByProgId<ISender>(IID_ISender);
    ASSERT_TRUE(later);
    ExpectTransaction(VtableSend(later.Get(), kHelloPdu));
    EXPECT_EQ(Calls(netLog_), (std::vector<AnsiString>{"Init", "Post", "Post"}));
}

// The argument checks of IDispatch, the same on both builds (the host
// library's type information on Windows, the name table on POSIX).
TEST_F(TServer, LateBoundArgumentsAreChecked) {
    TComPtr<IDispatch> late = CreateByProgId<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(late);
    TBstr text = TBstr::FromAnsi("<CONFIG/>"), message, reply, status;
    VARIANT_BOOL ok = VARIANT_FALSE;
    SHORT progress = 0;
    LONG wide = 0;
    VARIANT longRef;
    VariantInit(&longRef);
    longRef.vt = VT_I4 | VT_BYREF;
    longRef.plVal = &wide;
    const struct {
        const char* name;
        const char16_t* member;
        std::vector<VARIANT> args;
        HRESULT hr;
    } cases[] = {
        {"unknown member", u"Post", {}, DISP_E_UNKNOWNNAME},
        {"too few", u"Init", {ByValue(text.Get()), ByRef(message.InOut())}, DISP_E_BADPARAMCOUNT},
        {"32-bit progress",
         u"Send",
         {ByValue(text.Get()), ByRef(reply.InOut()), longRef, ByRef(status.InOut()),
          ByRef(message.InOut()), ByRefBool(&ok)},
         DISP_E_TYPEMISMATCH},
        {"result as a 16-bit integer",
         u"Init",
         {ByValue(text.Get()), ByRef(message.InOut()), ByRef(&progress)},
         DISP_E_TYPEMISMATCH},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InvokeByName(late.Get(), c.member, c.args), c.hr) << c.name;
    EXPECT_EQ(ok, VARIANT_FALSE) << "no call ran";
    EXPECT_EQ(message.Length(), 0u) << "no call ran";
}

// The entry points themselves, from the library file.
class TExports : public ::testing::Test {
  protected:
    using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using TNoArguments = HRESULT(STDAPICALLTYPE*)();

    TModule server_{ServerPath()};
    TGetClassObject getClassObject_ = server_.Proc<TGetClassObject>("DllGetClassObject");
    TNoArguments canUnloadNow_ = server_.Proc<TNoArguments>("DllCanUnloadNow");
    TNoArguments unregister_ = server_.Proc<TNoArguments>("DllUnregisterServer");
    TNoArguments register_ = server_.Proc<TNoArguments>("DllRegisterServer");
};

TEST_F(TExports, OtherClassesAreNotAvailable) {
    ASSERT_TRUE(getClassObject_);
    const GUID others[] = {GUID_NULL, Guid(kLibIdText), Guid(kSenderIidText)};
    for (const GUID& clsid : others) {
        void* object = &object;
        EXPECT_EQ(getClassObject_(clsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE)
            << GuidToString(clsid);
        EXPECT_EQ(object, nullptr);
    }
}

TEST_F(TExports, CanUnloadNowWhileNothingLives) {
    ASSERT_TRUE(getClassObject_ && canUnloadNow_);
    EXPECT_EQ(canUnloadNow_(), S_OK);
    {
        TComPtr<ISender> object = CreateByProgId<ISender>(IID_ISender);
        ASSERT_TRUE(object);
        EXPECT_EQ(canUnloadNow_(), S_FALSE);
    }
    EXPECT_EQ(canUnloadNow_(), S_OK);

    // A host that holds the factory creates objects with it later: the
    // library must not be unloaded meanwhile.
    TComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject_(Guid(kClsidText), IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    {
        TComPtr<ISender> object;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_ISender, object.ReceiveVoid()), S_OK);
        EXPECT_TRUE(object);
    }
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    factory.Reset();
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

// Registration that raises is E_FAIL, whatever the error was.
TEST_F(TExports, RegistrationErrorsAreEFail) {
    ASSERT_TRUE(unregister_ && register_);
    const AnsiString foreign = AnsiString("CLSID\\") + kClsidText + "\\Foreign";
    ASSERT_TRUE(RegWriteString(foreign, "", "x"));
    EXPECT_EQ(unregister_(), E_FAIL);
    EXPECT_TRUE(RegRemoveKey(foreign));
    EXPECT_EQ(unregister_(), S_OK);
    EXPECT_EQ(register_(), S_OK);
}

}  // namespace
}  // namespace nuva
