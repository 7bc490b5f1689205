// Components that raise structured exceptions, through the engine: Init,
// TestConn and Send report the failure with its text in their own frames,
// and the host (this program) goes on to a good transaction.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/EngineInternal.h"
#include "engine/EngineTexts.h"

namespace nuva {
namespace {

using test::A;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

AnsiString Frame(const AnsiString& message, const char16_t* reason) {
    return WideToAnsi(engine::ErrorFrame(AnsiToWide(message), reason));
}

using TEngineRaises = test::TEngineTest;

TEST_F(TEngineRaises, RegistrationThatRaisesIsReportedByInit) {
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
        AnsiString message;
        EXPECT_FALSE(Init(Config({}, {}, c.dll), &message));
        EXPECT_EQ(message, Frame(c.text, texts::kInitReason));
        EXPECT_FALSE(engine_.Initialized());
    }
    ASSERT_TRUE(Init(Config()));
    EXPECT_EQ(Send(Pdu("ABC", "01", {{"a.txt", "x"}})).result, VARIANT_TRUE);
}

TEST_F(TEngineRaises, MethodsThatRaiseAreReportedByTheirOperation) {
    const AnsiString pdu = Pdu("ABC", "01", {{"a.txt", "x"}});
    AnsiString message;
    // Init of the CA component faults.
    EXPECT_FALSE(Init(Config({}, {{"RAISE", "Init"}, {"RAISE_KIND", "fault"}}), &message));
    EXPECT_EQ(message, Frame("External exception C0000005", texts::kInitReason));

    // TestConn raises with the component's own message.
    ASSERT_TRUE(Init(Config(
        {{"RAISE", "TestConn"}, {"RAISE_KIND", "raise"}, {"RAISE_MSG", A(u"连接组件崩溃")}})));
    TBstr msg;
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(engine_.TestConn(*msg.InOut(), ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(msg.ToAnsi(), Frame(A(u"连接组件崩溃"), texts::kTestConnReason));

    // Post raises; EncryptFile and DecryptFile fault.
    struct {
        test::TSettings net, ca;
        AnsiString text;
    } cases[] = {
        {{{"RAISE", "Post"}, {"RAISE_KIND", "raise"}}, {}, "External exception 0EEDFADE"},
        {{}, {{"RAISE", "EncryptFile"}, {"RAISE_KIND", "fault"}}, "External exception C0000005"},
        {{},
         {{"RAISE", "DecryptFile"}, {"RAISE_KIND", "raise"}, {"RAISE_MSG", A(u"解密组件崩溃")}},
         A(u"解密组件崩溃")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(Init(Config(c.net, c.ca)));
        auto r = Send(pdu);
        EXPECT_EQ(r.status, S_OK);
        EXPECT_EQ(r.result, VARIANT_FALSE);
        EXPECT_EQ(r.message, Frame(c.text, texts::kSendReason));
        EXPECT_TRUE(Tree(send_).empty());
    }

    ASSERT_TRUE(Init(Config()));
    EXPECT_EQ(Send(pdu).result, VARIANT_TRUE);
}

}  // namespace
}  // namespace nuva
