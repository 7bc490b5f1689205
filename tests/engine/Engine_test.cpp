// Init, TestConn and Send through the real test components: the echo
// network component (the reply is the request coming back) and the
// reversible CA transform.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "EngineTestSupport.h"
#include "engine/EngineInternal.h"
#include "engine/EngineTexts.h"
#include "zip/CompressUtil.h"

namespace nuva {
namespace {

using test::A;
using test::ReadLog;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

AnsiString SendFrame(const AnsiString& message) {
    return WideToAnsi(engine::ErrorFrame(AnsiToWide(message), texts::kSendReason));
}

const AnsiString kPduStart = "<?xml version=\"1.0\" encoding=\"GBK\"?> <PDU>";

using TEngine = test::TEngineTest;

TEST_F(TEngine, InitNamingMissingComponents) {
    AnsiString message;
    EXPECT_FALSE(Init(Config({}, {}, "NoNet.dll", "NoCA.dll"), &message));
    EXPECT_EQ(message,
              A(u"COM组件DuredaVevuvavizuriz_NUVA.dll初始化失败,原因是[NETWORK接口文件[NoNet.dll]"
                u"为非法COM组件!CA接口文件[NoCA.dll]为非法COM组件!]!"));
    EXPECT_FALSE(engine_.Initialized());

    // An empty configuration: both directories are the host's own.
    EXPECT_FALSE(Init("", &message));
    EXPECT_EQ(engine_.Config().SendFilePath, home_.Path());
    EXPECT_EQ(engine_.Config().ReceiveFilePath, home_.Path());
    EXPECT_EQ(engine_.Config().NetworkConfig, "<?xml version=\"1.0\" encoding=\"GBK\"?>");
    EXPECT_EQ(engine_.ActionIniPath(), home_.Path() + "action.ini");
}

TEST_F(TEngine, InitCallsBothComponentsAndJoinsTheirMessages) {
    AnsiString message;
    EXPECT_FALSE(Init(Config({{"INIT_OK", "0"}, {"INIT_MSG", A(u"网络未就绪")}},
                             {{"INIT_MSG", A(u"证书已加载")}}),
                      &message));
    EXPECT_EQ(message,
              A(u"COM组件DuredaVevuvavizuriz_NUVA.dll初始化失败,原因是[网络未就绪证书已加载]!"));
    ASSERT_EQ(ReadLog(caLog_).size(), 1u);
    // The component configuration is the declaration and the element as written.
    EXPECT_EQ(ReadLog(netLog_).at(0).in["configXml"].rfind(
                  "<?xml version=\"1.0\" encoding=\"GBK\"?><NETWORK><INIT_OK>", 0),
              0u);

    EXPECT_TRUE(Init(Config(), &message));
    EXPECT_EQ(message, "");
    EXPECT_TRUE(engine_.Initialized());
    EXPECT_FALSE(test::RegisteredServer("TestNet.NetworkImpl").empty());

    // A failed Init after a good one: the first pair is gone (unregistered)
    // and Send is refused.
    EXPECT_FALSE(Init(Config({}, {}, "NoNet.dll", "NoCA.dll")));
    EXPECT_TRUE(test::RegisteredServer("TestNet.NetworkImpl").empty());
    auto r = Send(Pdu("ABC", "01", {{"a.txt", "x"}}), 7, "host");
    EXPECT_EQ(r.message, A(texts::kNotInitialized));
    EXPECT_EQ(r.result, VARIANT_FALSE);
    EXPECT_EQ(r.progress, 7);  // untouched
    EXPECT_EQ(r.status_text, "host");
}

TEST_F(TEngine, ComponentsOfTheLastInitStayRegisteredAfterTheEngineGoes) {
    // A failed Init after a good one leaves neither test component
    // registered; then an engine of its own comes and goes.
    ASSERT_TRUE(Init(Config()));
    EXPECT_FALSE(Init(Config({}, {}, "NoNet.dll", "NoCA.dll")));
    ASSERT_TRUE(test::RegisteredServer("TestNet.NetworkImpl").empty());
    ASSERT_TRUE(test::RegisteredServer("TestCA.CAImpl").empty());
    {
        TSender engine;
        TBstr config = TBstr::FromAnsi(Config()), msg;
        VARIANT_BOOL ok = VARIANT_FALSE;
        ASSERT_EQ(engine.Init(config.Get(), *msg.InOut(), ok), S_OK);
        ASSERT_EQ(ok, VARIANT_TRUE) << msg.ToAnsi();
    }
    EXPECT_EQ(ExtractFileName(test::RegisteredServer("TestNet.NetworkImpl")), "TestNet.dll");
    EXPECT_EQ(ExtractFileName(test::RegisteredServer("TestCA.CAImpl")), "TestCA.dll");
}

TEST_F(TEngine, TestConnWithoutAndWithTheComponent) {
    TBstr msg;
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(engine_.TestConn(*msg.InOut(), ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(msg.ToAnsi(), A(u"COM组件[]没有成功注册!"));

    ASSERT_TRUE(Init(Config({{"TESTCONN_OK", "untouched"}, {"MISSING", "Post"}})));
    EXPECT_EQ(engine_.TestConn(*msg.InOut(), ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);  // set false before the call: a silent component fails

    ASSERT_TRUE(Init(Config({{"MISSING", "TestConn"}})));
    EXPECT_EQ(engine_.TestConn(*msg.InOut(), ok), S_OK);
    EXPECT_EQ(msg.ToAnsi(), A(u"系统调用出现异常[Unknown name.],可能原因[网络故障或授权失败]!"));
}

TEST_F(TEngine, FullTransaction) {
    ASSERT_TRUE(Init(Config()));
    std::vector<std::pair<SHORT, AnsiString>> steps;
    engine_.SetObserver(
        [&](SHORT p, const WideString& s) { steps.emplace_back(p, WideToAnsi(s)); });
    const AnsiString sender = A(u"誠");  // its trail byte is "\"
    auto r = Send(Pdu(sender, "01", {{A(u"誠.txt"), "a&b"}, {A(u"錦.txt"), A(u"锦缎")}}));

    EXPECT_EQ(r.result, VARIANT_TRUE) << r.message;
    EXPECT_EQ(r.message, A(u"本次交易最终成功!"));
    EXPECT_EQ(r.progress, 100);
    EXPECT_EQ(r.status_text, A(u"组织返回数据格式成功!"));
    EXPECT_EQ(r.reply, kPduStart + "<SENDER>" + sender +
                           "</SENDER><TYPE_CODE>01</TYPE_CODE><RESERVE></RESERVE>"
                           "<CONTENT><NAME>" +
                           A(u"誠.txt") +
                           "</NAME><VALUE>a&amp;b</VALUE></CONTENT>"
                           "<CONTENT><NAME>" +
                           A(u"錦.txt") + "</NAME><VALUE>" + A(u"锦缎") +
                           "</VALUE></CONTENT></PDU>");
    // Every work file is gone; the base directories stay.
    EXPECT_TRUE(Tree(send_).empty());
    EXPECT_TRUE(Tree(receive_).empty());
    EXPECT_TRUE(DirectoryExists(send_));
    EXPECT_TRUE(DirectoryExists(receive_));

    const std::vector<std::pair<SHORT, AnsiString>> expected = {
        {0, A(u"正在进行数据发送前准备...")},
        {10, A(u"正在读取数据...")},
        {20, A(u"读取数据成功!")},
        {20, A(u"正在进行数据压缩...")},
        {40, A(u"数据压缩成功!")},
        {50, A(u"正在进行数据加密...")},
        {70, A(u"数据加密成功!")},
        {80, A(u"正在产生服务器要求的通信数据格式...")},
        {90, A(u"服务器要求的通信数据格式组织成功!")},
        {100, A(u"数据准备就绪!")},
        {0, A(u"准备发送数据...")},
        {100, A(u"成功收到服务器反馈数据!")},
        {0, A(u"正在处理反馈数据...")},
        {10, A(u"正在读取服务器反馈的通信数据...")},
        {30, A(u"读取服务器反馈的通信数据成功!")},
        {40, A(u"正在进行数据解密...")},
        {60, A(u"数据解密成功!")},
        {70, A(u"正在进行数据解压缩...")},
        {80, A(u"数据解压缩成功!")},
        {90, A(u"正在组织返回数据格式...")},
        {100, A(u"组织返回数据格式成功!")}};
    EXPECT_EQ(steps, expected);
    auto net = ReadLog(netLog_);
    ASSERT_EQ(net.size(), 2u);
    EXPECT_EQ(net[1].member, "Post");
    EXPECT_EQ(net[1].in["progress"], "0");
    EXPECT_EQ(net[1].in["status"], A(u"准备发送数据..."));
    EXPECT_EQ(net[1].in["sendFile"], send_ + PathDelim + sender + ".CA");
    EXPECT_EQ(net[1].in["replyFile"], receive_ + PathDelim);
}

// Values far larger than the pieces they travel in: every alignment of an
// entity or a double-byte character against a piece's end, and a value with
// no byte below 0x40 at all, come back whole.
TEST_F(TEngine, LargeValuesRoundTripWhole) {
    ASSERT_TRUE(Init(Config()));
    AnsiString entities;  // all five escape: one entity after another
    while (entities.size() < 700 * 1024) entities += "<&\"'>";
    AnsiString doubleBytes;  // trail bytes 0x5C and 0x7C among them
    while (doubleBytes.size() < 700 * 1024) doubleBytes += A(u"誠錦") + "\xD5\x7C";
    std::vector<AnsiString> values;
    for (int shift = 0; shift < 6; ++shift) values.push_back(AnsiString(shift, 'x') + entities);
    values.push_back(doubleBytes);
    values.push_back("x" + doubleBytes);
    for (const AnsiString& value : values) {
        auto r = Send(Pdu("S", "01", {{"v.txt", value}}));
        ASSERT_EQ(r.result, VARIANT_TRUE) << r.message;
        EXPECT_TRUE(r.reply == kPduStart +
                                   "<SENDER>S</SENDER><TYPE_CODE>01</TYPE_CODE><RESERVE></RESERVE>"
                                   "<CONTENT><NAME>v.txt</NAME><VALUE>" +
                                   XmlEscape(value) + "</VALUE></CONTENT></PDU>")
            << value.substr(0, 12);
    }
}

TEST_F(TEngine, ActionSettings) {
    ASSERT_TRUE(Init(Config()));
    // "false" is not "0": only "0" switches a step off.
    Actions("[01]\nis_crypt=false\n[02]\nhas_body=0\n[03]\nis_compress=0\n[04]\nis_compress=0\n");
    struct {
        const char* typeCode;
        std::vector<std::pair<AnsiString, AnsiString>> items;
        bool encrypted;
        AnsiString replyContent;  // the reply PDU after the header fields
    } cases[] = {
        {"01", {{"a.txt", "1"}}, true, "<CONTENT><NAME>a.txt</NAME><VALUE>1</VALUE></CONTENT>"},
        {"02", {{"a.txt", "1"}}, false, ""},
        // Only the first item travels, and it comes back under the reply's
        // own name for the decrypted file.
        {"03",
         {{"a.txt", "1"}, {"b.txt", "2"}, {"c.txt", "3"}},
         true,
         "<CONTENT><NAME>ABC.zip</NAME><VALUE>1</VALUE></CONTENT>"},
        {"05", {{"a.txt", "1"}}, true, "<CONTENT><NAME>a.txt</NAME><VALUE>1</VALUE></CONTENT>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typeCode);
        const size_t encryptsBefore = ReadLog(caLog_).size();
        auto r = Send(Pdu("ABC", c.typeCode, c.items));
        EXPECT_EQ(r.result, VARIANT_TRUE) << r.message;
        EXPECT_EQ(r.reply, kPduStart + "<SENDER>ABC</SENDER><TYPE_CODE>" + c.typeCode +
                               "</TYPE_CODE><RESERVE></RESERVE>" + c.replyContent + "</PDU>");
        const auto ca = ReadLog(caLog_);
        EXPECT_EQ(ca.size() > encryptsBefore, c.encrypted);
        auto post = ReadLog(netLog_).back();
        if (!c.encrypted) {
            // No body: the .CA name of a file that was never written.
            EXPECT_EQ(post.in["sendFile"], send_ + PathDelim + "ABC.CA");
        }
        EXPECT_TRUE(Tree(send_).empty());
    }
    // No CONTENT without compression: the list's own error, in the Send frame.
    auto r = Send(Pdu("ABC", "04", {}));
    EXPECT_EQ(r.message, SendFrame("List index out of bounds (0)"));
    EXPECT_EQ(r.result, VARIANT_FALSE);
}

TEST_F(TEngine, StepFailures) {
    struct {
        test::TSettings net, ca;
        AnsiString message;
    } cases[] = {
        {{},
         {{"ENCRYPT_OK", "0"}, {"ENCRYPT_MSG", A(u"密钥错误")}},
         A(u"数据加密失败[原因为:密钥错误]!")},
        {{{"POST_OK", "0"}, {"POST_MSG", A(u"连接超时")}},
         {},
         A(u"数据发送失败[原因为:连接超时]!")},
        {{},
         {{"DECRYPT_OK", "0"}, {"DECRYPT_MSG", A(u"校验失败")}},
         A(u"数据解密失败[原因为:校验失败]!")},
        {{{"REPLY_SENDER", ".."}}, {}, A(u"读取服务器反馈的通信数据失败!")},
        // The post stored no file, so there is nothing to move.
        {{{"REPLY_PATH", "unwritten"},
          {"REPLY_NAME", "never.reply"},
          {"REPLY_FLAGS", "100"},
          {"REPLY_RESERVE", "out.txt"}},
         {},
         A(u"读取服务器反馈的通信数据失败!")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        ASSERT_TRUE(Init(Config(c.net, c.ca)));
        auto r = Send(Pdu("ABC", "01", {{"a.txt", "x"}}));
        EXPECT_EQ(r.result, VARIANT_FALSE);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.status_text, c.message);
        EXPECT_EQ(r.progress, 100);
        EXPECT_EQ(r.reply, "");
        EXPECT_TRUE(Tree(send_).empty());
    }
}

TEST_F(TEngine, RaisedErrorsEndInTheSendFrame) {
    ASSERT_TRUE(Init(Config({{"RAISE", "Post"}, {"RAISE_MSG", A(u"服务器拒绝")}})));
    auto r = Send(Pdu("ABC", "01", {{"a.txt", "x"}}));
    EXPECT_EQ(r.message, SendFrame(A(u"服务器拒绝")));
    EXPECT_EQ(r.progress, 0);  // the post's own step
    EXPECT_EQ(r.status_text, A(u"准备发送数据..."));
    EXPECT_TRUE(Tree(send_).empty());

    // A directory in place of an uncompressed reply file is not read as one,
    // and nothing else of the receive directory is touched.
    test::WriteAll(receive_ + PathDelim + "keep.txt", "keep");
    ASSERT_TRUE(Init(Config({{"REPLY_PATH", "dir"}, {"REPLY_FLAGS", "100"}})));
    r = Send(Pdu("ABC", "01", {{"a.txt", "x"}}));
    EXPECT_EQ(r.message.rfind(A(u"系统调用出现异常[Cannot open file \""), 0), 0u) << r.message;
    EXPECT_EQ(test::ReadAll(receive_ + PathDelim + "keep.txt"), "keep");
}

TEST_F(TEngine, StaleWorkFilesAreNeverTakenForNewData) {
    // The CA component reports success without writing: the stale .CA file
    // of an earlier run must not be posted in its place. The stale file is a
    // whole earlier request as the test CA writes it (its magic, then the
    // archive XOR 0x5A), so that nothing later in the pipeline would notice
    // the swap: only its removal before the CA step keeps it out.
    ForceDirectories(send_);
    {
        test::TTempDir old;
        test::WriteAll(old / "old.txt", "stale data");
        TStringList files;
        files.Add(old / "old.txt");
        ASSERT_TRUE(ZipFiles(files, old / "old.zip"));
        AnsiString sealed = "NUVATCA1";
        for (char c : test::ReadAll(old / "old.zip")) sealed += static_cast<char>(c ^ 0x5A);
        test::WriteAll(send_ + PathDelim + "ABC.CA", sealed);
    }
    ASSERT_TRUE(Init(Config({}, {{"ENCRYPT_WRITE", "0"}})));
    auto r = Send(Pdu("ABC", "01", {{"a.txt", "x"}}));
    EXPECT_EQ(r.result, VARIANT_FALSE);
    EXPECT_EQ(r.reply.find("stale"), AnsiString::npos);
    EXPECT_FALSE(FileExists(send_ + PathDelim + "ABC.CA"));
}

// The network component returns the received file under another spelling of
// the very path the decryption writes to: it is the file just received, not
// a stale one, and must not be deleted before it is decrypted.
TEST_F(TEngine, TheReceivedFileIsKnownByIdentityNotSpelling) {
    ASSERT_TRUE(Init(Config({{"REPLY_NAME", AnsiString(".") + PathDelim + "ABC.zip"}})));
    auto r = Send(Pdu("ABC", "01", {{"a.txt", "x"}}));
    EXPECT_EQ(r.result, VARIANT_TRUE) << r.message;
    EXPECT_NE(r.reply.find("<NAME>a.txt</NAME><VALUE>x</VALUE>"), AnsiString::npos) << r.reply;
    EXPECT_TRUE(Tree(receive_).empty());
}

TEST_F(TEngine, MovedReplyReplacesAnOldFileOfThatName) {
    ASSERT_TRUE(Init(Config({{"REPLY_FLAGS", "100"}, {"REPLY_RESERVE", "out.txt"}})));
    Actions("[01]\nis_crypt=0\nis_compress=0\n");
    ForceDirectories(receive_ + PathDelim + "ABC");
    test::WriteAll(receive_ + PathDelim + "ABC" + PathDelim + "out.txt", "old");
    auto r = Send(Pdu("ABC", "01", {{"a.txt", "new"}}));
    EXPECT_EQ(r.result, VARIANT_TRUE) << r.message;
    EXPECT_NE(r.reply.find("<NAME>out.txt</NAME><VALUE>new</VALUE>"), AnsiString::npos) << r.reply;
    EXPECT_TRUE(Tree(receive_).empty());
}

TEST_F(TEngine, WorkFilesGoOnEveryWayOut) {
    ASSERT_TRUE(Init(Config()));
    // An error that is not the system's own leaves Send with E_UNEXPECTED,
    // and its work files go all the same.
    auto previous = SetMessagePumpHandler([] { throw std::runtime_error("host failure"); });
    auto r = Send(Pdu("ABC", "01", {{"a.txt", "x"}}));
    SetMessagePumpHandler(previous);
    EXPECT_EQ(r.status, E_UNEXPECTED);
    EXPECT_EQ(r.result, VARIANT_FALSE);
    EXPECT_TRUE(Tree(send_).empty());

    // An empty sender puts the items in the send directory itself, which
    // stays (a request without a body may have no sender).
    Actions("[01]\nhas_body=0\n");
    r = Send(Pdu("", "01", {{"a.txt", "x"}}));
    EXPECT_EQ(r.result, VARIANT_TRUE) << r.message;
    EXPECT_TRUE(DirectoryExists(send_));
    EXPECT_TRUE(Tree(send_).empty());
}

TEST_F(TEngine, CallsWhileACallRunsAreRefused) {
    ASSERT_TRUE(Init(Config()));
    // The archive code runs the message pump: a host may re-enter there, on
    // this thread or from another one.
    std::vector<AnsiString> refused;
    bool inPump = false;
    auto previous = SetMessagePumpHandler([&] {
        if (inPump) return;
        inPump = true;
        auto again = Send(Pdu("XYZ", "01", {{"b.txt", "y"}}));
        refused.push_back(again.message);
        // The refusal clears Reply as every other way out does.
        TBstr request = TBstr::FromAnsi(Pdu("XYZ", "01", {})), reply = TBstr::FromAnsi("stale"),
              status, msg;
        SHORT progress = 0;
        VARIANT_BOOL ok = VARIANT_TRUE;
        engine_.Send(request.Get(), *reply.InOut(), progress, *status.InOut(), *msg.InOut(), ok);
        EXPECT_EQ(reply.ToAnsi(), "");
        std::thread other([&] {
            TBstr msg;
            VARIANT_BOOL ok = VARIANT_TRUE;
            engine_.TestConn(*msg.InOut(), ok);
            refused.push_back(msg.ToAnsi());
        });
        other.join();
        // A read-only work file is cleared all the same.
        const AnsiString item = send_ + PathDelim + "ABC" + PathDelim + "a.txt";
        SetFileAttributes(item, GetFileAttributes(item) | faReadOnly);
    });
    auto r = Send(Pdu("ABC", "01", {{"a.txt", "x"}}));
    SetMessagePumpHandler(previous);
    EXPECT_EQ(r.result, VARIANT_TRUE) << r.message;
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0], SendFrame(A(texts::kBusy)));
    EXPECT_EQ(refused[1], WideToAnsi(engine::ErrorFrame(texts::kBusy, texts::kTestConnReason)));
    EXPECT_FALSE(DirectoryExists(send_ + PathDelim + "XYZ"));
    EXPECT_TRUE(Tree(send_).empty());
}

}  // namespace
}  // namespace nuva
