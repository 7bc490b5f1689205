// Components that raise structured exceptions (faults, or RaiseException
// with a code of their own, as components of other compilers do): every
// call into the component ends with the error its contract gives, and the
// test program itself, the host, keeps running.
#include <gtest/gtest.h>

#include "InvokerTestSupport.h"
#include "invokers/NetworkInvoker.h"
#include "invokers/OleError.h"

namespace nuva {
namespace {

using test::A;
using test::ComponentConfig;
using test::ReadLog;
using test::TTempDir;

const char kNet[] = "NetworkImpl";

TEST(InvokerRaises, InDllRegisterServerTheErrorLeavesTheConstructorWithItsText) {
    struct {
        const char* dll;
        AnsiString text;
    } cases[] = {
        {"TestNetRegRaise.dll", "External exception 0EEDFADE"},
        {"TestNetRegRaiseInfo.dll", A(u"TestNet注册失败")},
        {"TestNetRegFault.dll", "External exception C0000005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dll);
        try {
            TNetworkInvoker net(c.dll, kNet);
            ADD_FAILURE() << "no error";
        } catch (const EExternalException& e) {
            EXPECT_EQ(e.Message(), c.text);
        }
    }
    // The host is unharmed: a good component registers and answers.
    TNetworkInvoker net("TestNet.dll", kNet);
    EXPECT_TRUE(net.Ready());
}

class TInvokerRaises : public ::testing::Test {
  protected:
    TTempDir temp_;
    AnsiString log_ = temp_ / "calls.log";

    // A ready invoker whose component took `settings` in Init.
    std::unique_ptr<TNetworkInvoker> Network(test::TSettings settings) {
        settings.emplace_back("LOG", log_);
        auto net = std::make_unique<TNetworkInvoker>("TestNet.dll", kNet);
        EXPECT_TRUE(net->Ready());
        TBstr config = ComponentConfig("NETWORK", settings), msg;
        VARIANT_BOOL ok = VARIANT_TRUE;
        EXPECT_EQ(net->Init(config.Get(), *msg.InOut(), ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        return net;
    }
};

TEST_F(TInvokerRaises, InAMethodTheOperationFailsWithItsTextAndTheInvokerStaysUsable) {
    struct {
        const char* kind;
        const char16_t* message;  // left as error info before the raise
        AnsiString text;
    } cases[] = {
        {"raise", nullptr, "External exception 0EEDFADE"},
        {"raise", u"网络组件内部错误", A(u"网络组件内部错误")},
        {"fault", nullptr, "External exception C0000005"},
        {"fault", u"写入空指针", A(u"写入空指针")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + (c.message ? " with error info" : ""));
        test::TSettings settings = {{"RAISE", "TestConn"}, {"RAISE_KIND", c.kind}};
        if (c.message) settings.emplace_back("RAISE_MSG", A(c.message));
        auto net = Network(settings);
        // A stale error info must not be taken for the raise's.
        ASSERT_TRUE(SetThreadErrorInfo(IID_NULL, u"stale", u"stale"));
        TBstr msg;
        VARIANT_BOOL ok = VARIANT_TRUE;
        EXPECT_EQ(net->TestConn(*msg.InOut(), ok), E_UNEXPECTED);
        EXPECT_EQ(OleErrorText(E_UNEXPECTED), c.text);
        // Still usable: another member answers.
        TBstr config = ComponentConfig("NETWORK", {{"LOG", log_}});
        EXPECT_EQ(net->Init(config.Get(), *msg.InOut(), ok), S_OK);
        EXPECT_EQ(net->TestConn(*msg.InOut(), ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
    }
}

TEST_F(TInvokerRaises, InInitAndPostTheByReferenceArgumentsKeepWhatTheyHeld) {
    auto net = Network({});
    TBstr config = ComponentConfig(
        "NETWORK", {{"LOG", log_}, {"RAISE", "Init,Post"}, {"RAISE_KIND", "raise"}});
    TBstr msg;
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(net->Init(config.Get(), *msg.InOut(), ok), E_UNEXPECTED);
    EXPECT_EQ(OleErrorText(E_UNEXPECTED), "External exception 0EEDFADE");

    TBstr h = TBstr::FromAnsi("H"), s = TBstr::FromAnsi("S");
    TBstr replyHeader, replyFile = TBstr::FromAnsi("dir"), status = TBstr::FromAnsi("status");
    SHORT progress = 5;
    EXPECT_EQ(net->Post(h.Get(), s.Get(), *replyHeader.InOut(), *replyFile.InOut(), progress,
                        *status.InOut(), *msg.InOut(), ok),
              E_UNEXPECTED);
    EXPECT_EQ(OleErrorText(E_UNEXPECTED), "External exception 0EEDFADE");
    EXPECT_EQ(progress, 5);
    EXPECT_EQ(replyFile.ToAnsi(), "dir");
    EXPECT_EQ(status.ToAnsi(), "status");
}

TEST_F(TInvokerRaises, WhileTheObjectIsReleasedNothingLeavesTheDestructor) {
    for (const char* kind : {"raise", "fault"}) {
        SCOPED_TRACE(kind);
        Network({{"RAISE", "Release"}, {"RAISE_KIND", kind}}).reset();
        // Unregistered before the release, as for any ready invoker.
        EXPECT_FALSE(RegKeyExists("TestNet.NetworkImpl"));
    }
    TNetworkInvoker net("TestNet.dll", kNet);
    EXPECT_TRUE(net.Ready());
}

}  // namespace
}  // namespace nuva
