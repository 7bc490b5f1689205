// The server linked into the test program: the class factory, the object's
// interfaces, the forwarding to the engine and the error convention at the
// boundary. (On Windows the program carries the type library as its own
// resource, as the library file does.)
#include <gtest/gtest.h>

#include <stdexcept>

#include "ComTestSupport.h"
#include "com/SenderImpl.h"
#include "invokers/OleError.h"

namespace nuva {
namespace {

using namespace nuva::test;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new TComEnvironment);

// A new object through the factory, as a host gets it.
template <class T>
TComPtr<T> NewObject(REFIID iid) {
    TComPtr<IClassFactory> factory;
    EXPECT_EQ(SenderGetClassObject(CLSID_SenderImpl, IID_IClassFactory, factory.ReceiveVoid()),
              S_OK);
    TComPtr<T> object;
    if (factory) {
        EXPECT_EQ(factory->CreateInstance(nullptr, iid, object.ReceiveVoid()), S_OK);
    }
    return object;
}

void ExpectBoundaryErrorInfo(const AnsiString& description) {
    const TErrorInfo e = TakeErrorInfo();
    ASSERT_TRUE(e.present);
    EXPECT_TRUE(IsEqualGUID(e.iid, Guid(kSenderIidText)));
    EXPECT_EQ(e.source, kProgIdText);
    EXPECT_EQ(e.description, description);
    EXPECT_EQ(e.helpFile, "");
}

TEST(SenderFactory, OtherClassesAreNotAvailable) {
    GUID nextDoor = CLSID_SenderImpl;
    nextDoor.Data4[7] ^= 1;
    const GUID others[] = {GUID_NULL, nextDoor, Guid(kLibIdText), Guid(kSenderIidText),
                           IID_IClassFactory};
    for (const GUID& clsid : others) {
        void* object = &object;  // must come back null
        EXPECT_EQ(SenderGetClassObject(clsid, IID_IClassFactory, &object),
                  CLASS_E_CLASSNOTAVAILABLE)
            << GuidToString(clsid);
        EXPECT_EQ(object, nullptr);
    }
}

TEST(SenderFactory, AnswersItsOwnInterfacesOnly) {
    const struct {
        const IID& iid;
        HRESULT hr;
    } cases[] = {{IID_IClassFactory, S_OK},
                 {IID_IUnknown, S_OK},
                 {IID_IDispatch, E_NOINTERFACE},
                 {IID_ISender, E_NOINTERFACE}};
    for (const auto& c : cases) {
        TComPtr<IUnknown> factory;
        EXPECT_EQ(SenderGetClassObject(CLSID_SenderImpl, c.iid, factory.ReceiveVoid()), c.hr)
            << GuidToString(c.iid);
        EXPECT_EQ(factory.Get() != nullptr, c.hr == S_OK);
    }
}

TEST(SenderFactory, EveryCreateInstanceMakesANewObject) {
    TComPtr<IClassFactory> factory;
    ASSERT_EQ(SenderGetClassObject(CLSID_SenderImpl, IID_IClassFactory, factory.ReceiveVoid()),
              S_OK);
    TComPtr<ISender> a, b;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISender, a.ReceiveVoid()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISender, b.ReceiveVoid()), S_OK);
    EXPECT_NE(a.Get(), b.Get());

    void* object = &object;
    EXPECT_EQ(factory->CreateInstance(a.Get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    object = &object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST(SenderFactory, CanUnloadOnlyWithoutObjectsAndLocks) {
    TComPtr<IClassFactory> factory;
    ASSERT_EQ(SenderGetClassObject(CLSID_SenderImpl, IID_IClassFactory, factory.ReceiveVoid()),
              S_OK);
    // A host that holds the factory creates objects with it later.
    EXPECT_EQ(SenderCanUnloadNow(), S_FALSE);
    TComPtr<IUnknown> again;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, again.ReceiveVoid()), S_OK);
    again.Reset();
    EXPECT_EQ(SenderCanUnloadNow(), S_FALSE);

    TComPtr<ISender> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISender, object.ReceiveVoid()), S_OK);
    TComPtr<IUnknown> second;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, second.ReceiveVoid()), S_OK);
    object.Reset();
    EXPECT_EQ(SenderCanUnloadNow(), S_FALSE) << "a reference through another interface";
    second.Reset();
    EXPECT_EQ(SenderCanUnloadNow(), S_FALSE) << "the factory is still held";

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(SenderCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(SenderCanUnloadNow(), S_FALSE) << "the factory is still held";
    // An unlock too many does not hide the next lock.
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(SenderCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(SenderCanUnloadNow(), S_FALSE) << "the factory is still held";
    factory.Reset();
    EXPECT_EQ(SenderCanUnloadNow(), S_OK);

    // A lock alone keeps the library, and so does a factory reference alone.
    ASSERT_EQ(SenderGetClassObject(CLSID_SenderImpl, IID_IClassFactory, factory.ReceiveVoid()),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    IClassFactory* const raw = factory.Get();
    factory.Reset();
    EXPECT_EQ(SenderCanUnloadNow(), S_FALSE) << "locked";
    EXPECT_EQ(raw->LockServer(FALSE), S_OK);  // the factory object lives with the library
    EXPECT_EQ(SenderCanUnloadNow(), S_OK);
}

TEST(SenderObject, AnswersItsFiveInterfacesWithOneIdentity) {
    TComPtr<IUnknown> object = NewObject<IUnknown>(IID_IUnknown);
    ASSERT_TRUE(object);
    const IID answered[] = {IID_IUnknown, IID_IDispatch, IID_ISender, IID_ISupportErrorInfo,
                            IID_IProvideClassInfo};
    for (const IID& iid : answered) {
        TComPtr<IUnknown> face, back;
        ASSERT_EQ(object->QueryInterface(iid, face.ReceiveVoid()), S_OK) << GuidToString(iid);
        ASSERT_EQ(face->QueryInterface(IID_IUnknown, back.ReceiveVoid()), S_OK);
        EXPECT_EQ(back.Get(), object.Get()) << GuidToString(iid);
    }
    TComPtr<IUnknown> dispatch, sender;
    object->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid());
    object->QueryInterface(IID_ISender, sender.ReceiveVoid());
    EXPECT_EQ(dispatch.Get(), sender.Get()) << "ISender is the dual interface";

    const IID refused[] = {IID_IClassFactory, IID_IErrorInfo, Guid(kLibIdText)};
    for (const IID& iid : refused) {
        void* face = &face;
        EXPECT_EQ(object->QueryInterface(iid, &face), E_NOINTERFACE) << GuidToString(iid);
        EXPECT_EQ(face, nullptr);
    }
}

TEST(SenderObject, SupportsErrorInfoForISenderOnly) {
    TComPtr<ISupportErrorInfo> object = NewObject<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(object);
    EXPECT_EQ(object->InterfaceSupportsErrorInfo(IID_ISender), S_OK);
    EXPECT_EQ(object->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(object->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
}

// What the caller left in an out string is not the callee's to free: the
// string survives the call (a free would be a double free when the test
// frees it, which the sanitizers report).
TEST(SenderObject, OutStringsAreNulledWithoutBeingFreed) {
    TComPtr<ISender> object = NewObject<ISender>(IID_ISender);
    ASSERT_TRUE(object);
    const WideString left = u"left by the caller";
    TBstr keptMessage(left), keptReply(left);

    BSTR message = keptMessage.Get();
    VARIANT_BOOL ok = VARIANT_TRUE;
    ASSERT_EQ(object->TestConn(&message, &ok), S_OK);
    EXPECT_NE(message, keptMessage.Get());
    SysFreeString(message);

    TBstr config;
    message = keptMessage.Get();
    ASSERT_EQ(object->Init(config.Get(), &message, &ok), S_OK);
    EXPECT_NE(message, keptMessage.Get());
    EXPECT_EQ(ok, VARIANT_FALSE) << "an empty configuration names no components";
    SysFreeString(message);

    message = keptMessage.Get();
    BSTR reply = keptReply.Get();
    TBstr status = TBstr::FromAnsi("host's status");
    SHORT progress = 42;
    ASSERT_EQ(object->Send(config.Get(), &reply, &progress, status.InOut(), &message, &ok), S_OK);
    EXPECT_NE(message, keptMessage.Get());
    EXPECT_NE(reply, keptReply.Get());
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(progress, 42) << "refused before the first step";
    EXPECT_EQ(status.ToAnsi(), "host's status");
    SysFreeString(message);
    SysFreeString(reply);

    EXPECT_EQ(keptMessage.ToWide(), left);
    EXPECT_EQ(keptReply.ToWide(), left);
}

TEST(SenderObject, MissingVariableIsEPointerWithErrorInfo) {
    TComPtr<ISender> object = NewObject<ISender>(IID_ISender);
    ASSERT_TRUE(object);
    TBstr in, message, reply, status;
    VARIANT_BOOL ok = VARIANT_FALSE;
    SHORT progress = 0;
    const struct {
        const char* name;
        std::function<HRESULT()> call;
    } cases[] = {
        {"TestConn message", [&] { return object->TestConn(nullptr, &ok); }},
        {"Init result", [&] { return object->Init(in.Get(), message.Receive(), nullptr); }},
        {"Send progress",
         [&] {
             return object->Send(in.Get(), reply.Receive(), nullptr, status.InOut(),
                                 message.Receive(), &ok);
         }},
        {"Send status",
         [&] {
             return object->Send(in.Get(), reply.Receive(), &progress, nullptr, message.Receive(),
                                 &ok);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), E_POINTER);
        ExpectBoundaryErrorInfo(SystemErrorText(E_POINTER));
    }
}

// An engine operation that ends with a failure status (here: an error that
// is not one of the system's, thrown from the native observer in the middle
// of Send) reaches the host as that status and the error info of the
// boundary, through the vtable and through IDispatch.
class TEngineFailure : public TEngineTest {
  protected:
    void SetUp() override {
        TComPtr<ISender> object = NewObject<ISender>(IID_ISender);
        ASSERT_TRUE(object);
        const TCall init = VtableInit(object.Get(), Config());
        ASSERT_EQ(init.hr, S_OK);
        ASSERT_EQ(init.result, VARIANT_TRUE) << init.message;
        SenderEngine().SetObserver([](SHORT, const WideString&) {
            throw std::runtime_error("not one of the system's errors");
        });
    }
    void TearDown() override { SenderEngine().SetObserver(nullptr); }
};

TEST_F(TEngineFailure, ThroughTheVtable) {
    TComPtr<ISender> object = NewObject<ISender>(IID_ISender);
    ASSERT_TRUE(object);
    const TCall c = VtableSend(object.Get(), kHelloPdu);
    EXPECT_EQ(c.hr, E_UNEXPECTED);
    EXPECT_EQ(c.result, VARIANT_FALSE);
    // The failure status raised as an error: its system text.
    ExpectBoundaryErrorInfo(SystemErrorText(E_UNEXPECTED));

    // A caller does not free out parameters after a failure: the strings
    // the call allocated are freed and nulled (ASan sees a leak otherwise).
    TBstr request = TBstr::FromAnsi(kHelloPdu), status;
    BSTR reply = nullptr, message = nullptr;
    SHORT progress = 0;
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(object->Send(request.Get(), &reply, &progress, status.InOut(), &message, &ok),
              E_UNEXPECTED);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(message, nullptr);
    TakeErrorInfo();
}

TEST_F(TEngineFailure, ThroughIDispatch) {
    TComPtr<IDispatch> object = NewObject<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(object);
    TBstr request = TBstr::FromAnsi(kHelloPdu), reply, status, message;
    SHORT progress = 0;
    VARIANT_BOOL ok = VARIANT_TRUE;
    WideString exception;
    EXPECT_EQ(InvokeByName(object.Get(), u"Send",
                           {ByValue(request.Get()), ByRef(reply.InOut()), ByRef(&progress),
                            ByRef(status.InOut()), ByRef(message.InOut()), ByRefBool(&ok)},
                           &exception),
              DISP_E_EXCEPTION);
    EXPECT_EQ(WideToAnsi(exception), SystemErrorText(E_UNEXPECTED));
    EXPECT_EQ(ok, VARIANT_FALSE);
}

// What the library's unload does before it destroys the engine: the
// components of the last Init are given up as they are, still registered,
// their objects not released.
using TUnload = TEngineTest;
TEST_F(TUnload, GivesUpTheComponentsAsTheyAre) {
    TComPtr<ISender> object = NewObject<ISender>(IID_ISender);
    ASSERT_TRUE(object);
    const TCall init = VtableInit(object.Get(), Config());
    ASSERT_EQ(init.result, VARIANT_TRUE) << init.message;
    TModule network("TestNet.dll");
    const auto canUnloadNow = network.Proc<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
    ASSERT_TRUE(canUnloadNow);
    ASSERT_EQ(canUnloadNow(), S_FALSE);

    SenderEngine().AbandonComponents();
    EXPECT_FALSE(SenderEngine().Initialized());
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "the network object was released";
    EXPECT_EQ(RegisteredServer("TestNet.NetworkImpl"), ProgramDirectory() + "TestNet.dll");
    EXPECT_EQ(VtableTestConn(object.Get()).message, A(u"COM组件[TestNet.dll]没有成功注册!"))
        << "no components left";
}

TEST(SenderBoundaryError, TheErrorDecidesCodeAndDescription) {
    const AnsiString chinese = A(u"组件异常:誠");  // a trail byte 0x5C inside
    const struct {
        const char* name;
        std::function<void()> raise;
        HRESULT code;
        AnsiString description;
    } cases[] = {
        {"platform error", [] { throw EOleError("access", E_ACCESSDENIED); }, E_ACCESSDENIED,
         "access"},
        {"platform error, GBK text", [&] { throw EOleError(chinese, DISP_E_EXCEPTION); },
         DISP_E_EXCEPTION, chinese},
        {"platform code that is no failure", [] { throw EOleError("odd", S_FALSE); }, E_UNEXPECTED,
         "odd"},
        {"system error", [] { throw Exception("plain"); }, E_UNEXPECTED, "plain"},
        {"file error", [] { throw EFOpenError("x.txt", "gone"); }, E_UNEXPECTED,
         "Cannot open file \"x.txt\". gone"},
        {"standard exception", [] { throw std::runtime_error("std"); }, E_UNEXPECTED, "std"},
        {"anything else", [] { throw 42; }, E_UNEXPECTED, "External exception"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetThreadErrorInfo(IID_IDispatch, u"stale", u"stale");
        HRESULT hr = S_OK;
        try {
            c.raise();
        } catch (...) {
            hr = SenderBoundaryError();
        }
        EXPECT_EQ(hr, c.code);
        ExpectBoundaryErrorInfo(c.description);
    }
}

}  // namespace
}  // namespace nuva
