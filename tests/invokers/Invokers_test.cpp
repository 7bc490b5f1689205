// The invokers against the real test components: registration through the
// DLL's own exports, the ProgID rule, object creation through the registry,
// late-bound calls with the caller's variables by reference, and the error
// convention. On Windows everything is the system's (registry, LoadLibraryA,
// CoCreateInstance, IDispatch::Invoke); natively it is the COM runtime.
#include <gtest/gtest.h>

#include <functional>

#include "InvokerTestSupport.h"
#include "invokers/CAInvoker.h"
#include "invokers/NetworkInvoker.h"
#include "invokers/OleError.h"

namespace nuva {
namespace {

using test::A;
using test::ComponentConfig;
using test::ReadLog;
using test::RegisteredClsid;
using test::RegisteredServer;
using test::TTempDir;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

const char kNet[] = "NetworkImpl";
const char kCA[] = "CAImpl";

TEST(ProgIdFor, IsThePathUpToItsFirstDotAndTheClassName) {
    struct {
        const char* path;
        const char* className;
        const char* progId;
    } cases[] = {
        {"NetComm.dll", kNet, "NetComm.NetworkImpl"},
        {"NetComm", kNet, "NetworkImpl"},
        {"C:\\comp\\NetComm.dll", kNet, "C:\\comp\\NetComm.NetworkImpl"},
        {"D:\\tools.x\\NetComm.dll", kNet, "D:\\tools.NetworkImpl"},
        {"Sec.v2.dll", kCA, "Sec.CAImpl"},
    };
    for (const auto& c : cases) EXPECT_EQ(ProgIdFor(c.path, c.className), c.progId) << c.path;
}

TEST(Invoker, ReadyComponentIsRegisteredWhileItLivesAndUnregisteredAfter) {
    AnsiString clsid;
    {
        TNetworkInvoker net("TestNet.dll", kNet);
        ASSERT_TRUE(net.Ready());
        clsid = RegisteredClsid("TestNet.NetworkImpl");
        EXPECT_FALSE(clsid.empty());
        EXPECT_EQ(ExtractFileName(RegisteredServer("TestNet.NetworkImpl")), "TestNet.dll");
    }
    EXPECT_FALSE(RegKeyExists("TestNet.NetworkImpl"));
    EXPECT_FALSE(RegKeyExists("CLSID\\" + clsid));
}

TEST(Invoker, RegistrationOutcomes) {
    struct {
        const char* dll;
        bool ready;
        const char* registers;  // the ProgID the DLL registers, if any
        bool keptAfter;         // still registered after the invoker is gone
    } cases[] = {
        {"NetComm.dll", true, "NetComm.NetworkImpl", false},
        {"TestNetSFalse.dll", true, "TestNetSFalse.NetworkImpl", false},  // S_FALSE is success
        {"TestNetRegFail.dll", false, nullptr, false},
        {"TestNetNoReg.dll", false, nullptr, false},
        {"NoSuchComponent.dll", false, nullptr, false},
        // Registered, but not under the ProgID the invoker derives: the
        // object cannot be made, and the invoker leaves the DLL registered.
        {"TestNetOtherProgId.dll", false, "OtherName.NetworkImpl", true},
        // The loader appends ".dll"; the ProgID is the class name alone.
        {"NetComm", false, "NetComm.NetworkImpl", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dll);
        {
            TNetworkInvoker net(c.dll, kNet);
            EXPECT_EQ(net.Ready(), c.ready);
            if (c.registers) {
                EXPECT_FALSE(RegisteredServer(c.registers).empty());
            }
        }
        if (c.registers) {
            EXPECT_EQ(!RegisteredServer(c.registers).empty(), c.keptAfter);
        }
        if (c.keptAfter) {
            EXPECT_TRUE(RegisterDll(c.dll, false));
        }
    }
    EXPECT_FALSE(RegKeyExists("TestNetRegFail.NetworkImpl"));
    EXPECT_FALSE(RegKeyExists("TestNetNoReg.NetworkImpl"));
}

TEST(Invoker, PathWithDirectoriesEndsNotReadyAndLeavesTheDllRegistered) {
    // A DLL named with its directory (here one with a "." in its name) is
    // registered, but the ProgID taken from the whole path names nothing.
    TTempDir temp;
    AnsiString dir = temp / "tools.x";
    ASSERT_TRUE(ForceDirectories(dir));
    AnsiString dll = dir + PathDelim + "NetComm.dll";
    test::WriteAll(dll, test::ReadAll(ExeDirectory() + "TestNet.dll"));
    {
        TNetworkInvoker net(dll, kNet);
        EXPECT_FALSE(net.Ready());
    }
    EXPECT_EQ(RegisteredServer("NetComm.NetworkImpl"), dll);
    EXPECT_TRUE(RegisterDll(dll, false));
    EXPECT_FALSE(RegKeyExists("NetComm.NetworkImpl"));
}

// Whether a C++ exception thrown in one module can be caught in another:
// not on i686 Windows, whose DWARF-2 unwinder is a static copy per module
// (the component's throw ends in std::terminate there).
bool CppExceptionsCrossModules() {
#if defined(_WIN32) && !defined(_WIN64)
    return false;
#else
    return true;
#endif
}

TEST(Invoker, ExceptionOutOfDllRegisterServerLeavesTheConstructor) {
    if (!CppExceptionsCrossModules()) GTEST_SKIP() << "C++ exceptions do not cross modules here";
    try {
        TNetworkInvoker net("TestNetRegThrow.dll", kNet);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "DllRegisterServer failed on purpose");
    }
    EXPECT_FALSE(RegKeyExists("TestNetRegThrow.NetworkImpl"));
}

TEST(Invoker, AComponentsOwnExceptionDoesNotOutliveItsModule) {
    // The exception's class is the component's: its text is taken while the
    // module is loaded, and what leaves is an error of ours.
    if (!CppExceptionsCrossModules()) GTEST_SKIP() << "C++ exceptions do not cross modules here";
    for (int i = 0; i < 2; ++i) {
        try {
            TNetworkInvoker net("TestNetRegThrowOwn.dll", kNet);
            ADD_FAILURE() << "no error";
        } catch (const EExternalException& e) {
            EXPECT_STREQ(e.what(), "TestNet's own error");
        }
    }
}

TEST(Invoker, NotReadyOperationsAnswerWithoutTheComponent) {
    TNetworkInvoker net("NoSuchComponent.dll", kNet);
    TCAInvoker ca("NoSuchComponent.dll", kCA);
    TBstr in = TBstr::FromAnsi("in");
    TBstr replyHeader, replyFile, status, target;
    SHORT progress = 7;
    std::function<HRESULT(BSTR&, VARIANT_BOOL&)> operations[] = {
        [&](BSTR& m, VARIANT_BOOL& ok) { return net.Init(in.Get(), m, ok); },
        [&](BSTR& m, VARIANT_BOOL& ok) { return net.TestConn(m, ok); },
        [&](BSTR& m, VARIANT_BOOL& ok) {
            return net.Post(in.Get(), in.Get(), *replyHeader.InOut(), *replyFile.InOut(), progress,
                            *status.InOut(), m, ok);
        },
        [&](BSTR& m, VARIANT_BOOL& ok) { return ca.Init(in.Get(), m, ok); },
        [&](BSTR& m, VARIANT_BOOL& ok) { return ca.EncryptFile(in.Get(), *target.InOut(), m, ok); },
        [&](BSTR& m, VARIANT_BOOL& ok) { return ca.DecryptFile(in.Get(), *target.InOut(), m, ok); },
    };
    for (auto& op : operations) {
        TBstr msg = TBstr::FromAnsi("left over");
        VARIANT_BOOL ok = VARIANT_TRUE;
        EXPECT_EQ(op(*msg.InOut(), ok), S_OK);
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_EQ(msg.ToAnsi(), A(u"COM组件[NoSuchComponent.dll]没有成功注册!"));
    }
    EXPECT_EQ(progress, 7);
}

class TInvokerCalls : public ::testing::Test {
  protected:
    TTempDir temp_;
    AnsiString log_ = temp_ / "calls.log";
    TBstr msg_;
    VARIANT_BOOL ok_ = VARIANT_FALSE;

    // A ready network invoker whose component's Init took `settings`.
    std::unique_ptr<TNetworkInvoker> Network(test::TSettings settings) {
        settings.emplace_back("LOG", log_);
        auto net = std::make_unique<TNetworkInvoker>("TestNet.dll", kNet);
        EXPECT_TRUE(net->Ready());
        TBstr config = ComponentConfig("NETWORK", settings);
        ok_ = VARIANT_TRUE;
        EXPECT_EQ(net->Init(config.Get(), *msg_.InOut(), ok_), S_OK);
        return net;
    }
};

TEST_F(TInvokerCalls, InitHandsOverTheConfigurationAndTakesTheAnswer) {
    struct {
        const char* initOk;
        VARIANT_BOOL okOnEntry;
        VARIANT_BOOL okAfter;
        const char16_t* initMsg;
    } cases[] = {
        {"1", VARIANT_TRUE, VARIANT_TRUE, nullptr},
        {"0", VARIANT_TRUE, VARIANT_FALSE, u"证书文件不存在"},
        {"untouched", VARIANT_TRUE, VARIANT_TRUE, nullptr},
        {"untouched", VARIANT_FALSE, VARIANT_FALSE, u"未设置"},
    };
    TNetworkInvoker net("TestNet.dll", kNet);
    ASSERT_TRUE(net.Ready());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.initOk);
        test::TSettings settings = {{"LOG", log_}, {"INIT_OK", c.initOk}};
        if (c.initMsg) settings.emplace_back("INIT_MSG", A(c.initMsg));
        TBstr config = ComponentConfig("NETWORK", settings);
        TBstr msg = TBstr::FromAnsi("stale");
        VARIANT_BOOL ok = c.okOnEntry;
        ASSERT_EQ(net.Init(config.Get(), *msg.InOut(), ok), S_OK);
        EXPECT_EQ(ok, c.okAfter);
        EXPECT_EQ(msg.ToAnsi(), c.initMsg ? A(c.initMsg) : AnsiString());
        auto calls = ReadLog(log_);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().member, "Init");
        EXPECT_EQ(calls.back().in["configXml"], config.ToAnsi());
        EXPECT_EQ(calls.back().in["msg"], "");  // cleared before the call
    }
}

TEST_F(TInvokerCalls, PostWritesIntoTheCallersVariables) {
    auto net = Network({{"REPLY_SENDER", "SRV"},
                        {"REPLY_FLAGS", "101"},
                        {"POST_PROGRESS", "10,55"},
                        {"POST_STATUS", A(u"正在发送")},
                        {"POST_MSG", A(u"已发送")}});
    AnsiString header =
        AnsiString("ABC") + AnsiString(19, ' ') + "01  111" + AnsiString(27, ' ') + "20261208";
    AnsiString sendFile = temp_ / "ABC.CA";
    test::WriteAll(sendFile, "request body");
    AnsiString receiveDir = IncludeTrailingPathDelimiter(temp_ / "recv");
    ASSERT_TRUE(ForceDirectories(receiveDir));

    TBstr h = TBstr::FromAnsi(header), s = TBstr::FromAnsi(sendFile);
    TBstr replyHeader, replyFile = TBstr::FromAnsi(receiveDir);
    TBstr status = TBstr::FromAnsi(A(u"准备发送数据..."));
    SHORT progress = 0;
    ok_ = VARIANT_FALSE;
    ASSERT_EQ(net->Post(h.Get(), s.Get(), *replyHeader.InOut(), *replyFile.InOut(), progress,
                        *status.InOut(), *msg_.InOut(), ok_),
              S_OK);

    EXPECT_EQ(ok_, VARIANT_TRUE);
    EXPECT_EQ(msg_.ToAnsi(), A(u"已发送"));
    EXPECT_EQ(progress, 55);
    EXPECT_EQ(status.ToAnsi(), A(u"正在发送"));
    EXPECT_EQ(replyFile.ToAnsi(), receiveDir + "TestNet.reply");
    EXPECT_EQ(test::ReadAll(replyFile.ToAnsi()), "request body");
    EXPECT_EQ(replyHeader.ToAnsi(), "SRV" + header.substr(3, 23) + "101" + header.substr(29));

    // One call, with the arguments in their places.
    auto calls = ReadLog(log_);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].member, "Post");
    EXPECT_EQ(calls[1].in["header"], header);
    EXPECT_EQ(calls[1].in["sendFile"], sendFile);
    EXPECT_EQ(calls[1].in["replyHeader"], "");
    EXPECT_EQ(calls[1].in["replyFile"], receiveDir);
    EXPECT_EQ(calls[1].in["progress"], "0");
    EXPECT_EQ(calls[1].in["status"], A(u"准备发送数据..."));
}

TEST_F(TInvokerCalls, CATargetIsWrittenAtItsEntryPathAndWhatComesBackIsTheCallers) {
    TCAInvoker ca("TestCA.dll", kCA);
    ASSERT_TRUE(ca.Ready());
    TBstr config = ComponentConfig("CA", {{"LOG", log_}, {"ENCRYPT_RETURN", "elsewhere"}});
    ok_ = VARIANT_TRUE;
    ASSERT_EQ(ca.Init(config.Get(), *msg_.InOut(), ok_), S_OK);
    ASSERT_EQ(ok_, VARIANT_TRUE);

    AnsiString plain = temp_ / "ABC.zip", sealed = temp_ / "ABC.CA", back = temp_ / "back.zip";
    test::WriteAll(plain, std::string("PK\x03\x04\0\1data", 10));
    TBstr source = TBstr::FromAnsi(plain), target = TBstr::FromAnsi(sealed);
    ASSERT_EQ(ca.EncryptFile(source.Get(), *target.InOut(), *msg_.InOut(), ok_), S_OK);
    EXPECT_EQ(ok_, VARIANT_TRUE);
    EXPECT_EQ(target.ToAnsi(), "elsewhere");
    ASSERT_TRUE(FileExists(sealed));
    EXPECT_NE(test::ReadAll(sealed), test::ReadAll(plain));

    TBstr sealedSource = TBstr::FromAnsi(sealed), backTarget = TBstr::FromAnsi(back);
    ASSERT_EQ(ca.DecryptFile(sealedSource.Get(), *backTarget.InOut(), *msg_.InOut(), ok_), S_OK);
    EXPECT_EQ(ok_, VARIANT_TRUE);
    EXPECT_EQ(test::ReadAll(back), test::ReadAll(plain));
}

TEST_F(TInvokerCalls, UnknownMemberFailsWithTheSystemTextAndTheInvokerStaysUsable) {
    auto net = Network({{"MISSING", "TestConn"}});
    ok_ = VARIANT_TRUE;
    EXPECT_EQ(net->TestConn(*msg_.InOut(), ok_), E_UNEXPECTED);
    EXPECT_EQ(OleErrorText(E_UNEXPECTED), "Unknown name.");
    TBstr config = ComponentConfig("NETWORK", {{"LOG", log_}});
    EXPECT_EQ(net->Init(config.Get(), *msg_.InOut(), ok_), S_OK);
    EXPECT_EQ(net->TestConn(*msg_.InOut(), ok_), S_OK);
    EXPECT_EQ(ok_, VARIANT_TRUE);
}

TEST_F(TInvokerCalls, ComponentExceptionBringsItsDescription) {
    // The description in EXCEPINFO itself, or only through the deferred
    // fill-in (EXCEPINFO empty but for pfnDeferredFillIn, which the caller
    // must call to get it).
    for (const char* fillIn : {"0", "1"}) {
        SCOPED_TRACE(fillIn);
        auto net = Network(
            {{"RAISE", "Post"}, {"RAISE_MSG", A(u"服务器拒绝连接")}, {"RAISE_FILL_IN", fillIn}});
        TBstr h = TBstr::FromAnsi("H"), s = TBstr::FromAnsi("S");
        TBstr replyHeader, replyFile, status;
        SHORT progress = 0;
        EXPECT_EQ(net->Post(h.Get(), s.Get(), *replyHeader.InOut(), *replyFile.InOut(), progress,
                            *status.InOut(), *msg_.InOut(), ok_),
                  E_UNEXPECTED);
        try {
            OleCheck(E_UNEXPECTED);
            ADD_FAILURE() << "no error";
        } catch (const EOleError& e) {
            EXPECT_EQ(e.Message(), A(u"服务器拒绝连接"));
            EXPECT_EQ(e.ErrorCode(), E_UNEXPECTED);
        }
        EXPECT_EQ(net->TestConn(*msg_.InOut(), ok_), S_OK);
    }
}

TEST(OleError, TextComesFromErrorInfoThenTheSystemThenTheCode) {
    EXPECT_NO_THROW(OleCheck(S_OK));
    EXPECT_NO_THROW(OleCheck(S_FALSE));
    EXPECT_EQ(OleErrorText(E_UNEXPECTED), "Catastrophic failure");
    EXPECT_EQ(OleErrorText(static_cast<HRESULT>(0x8004ABCD)), "OLE error 8004ABCD");
    ASSERT_TRUE(SetThreadErrorInfo(IID_NULL, u"test", u"组件的说明"));
    EXPECT_EQ(OleErrorText(E_UNEXPECTED), A(u"组件的说明"));
    EXPECT_EQ(OleErrorText(E_UNEXPECTED), "Catastrophic failure");  // taken once
}

}  // namespace
}  // namespace nuva
