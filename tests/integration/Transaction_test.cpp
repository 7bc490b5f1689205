// Whole transactions: the engine with NuvaNet and NuvaCA against a running
// nuva-server (started by with-server.sh, which names it in the
// environment). Every combination of request and reply flags, GBK names, a
// 64 MiB item, the connection test, and every failure the network and the
// decryption can meet, each with its message and what it leaves on disk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "ca/CaTexts.h"
#include "engine/EngineTestSupport.h"
#include "engine/EngineTexts.h"
#include "net/NetTexts.h"
#include "util/XmlUtil.h"

namespace nuva {
namespace {

using test::A;
using test::ReadAll;
using test::TSettings;
using test::WriteAll;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

AnsiString Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

struct TFlags {
    bool body, compress, crypt;
};
// The request flags of the type codes' first letter (action.ini below) and
// of the reply flags in their digits (with-server.sh's configuration).
const std::map<char, TFlags> kRequestFlags = {
    {'a', {true, true, true}},  {'b', {true, true, false}}, {'c', {true, false, true}},
    {'d', {true, false, false}}, {'e', {false, true, true}},
};
const char* const kReplyFlags[] = {"111", "110", "101", "100", "000"};

using TItems = std::vector<std::pair<AnsiString, AnsiString>>;

class Transaction : public test::TEngineTest {
  protected:
    void SetUp() override {
        url_ = Env("NUVA_IT_URL");
        if (url_.empty()) GTEST_SKIP() << "no nuva-server: run through with-server.sh";
        downUrl_ = Env("NUVA_IT_DOWN_URL");
        keyFile_ = Env("NUVA_IT_KEY_FILE");
        AnsiString ini;
        for (const auto& [letter, f] : kRequestFlags)
            for (const char* reply : kReplyFlags)
                ini += Format("[%c%s]\r\nhas_body=%d\r\nis_compress=%d\r\nis_crypt=%d\r\n", letter,
                              reply, f.body, f.compress, f.crypt);
        Actions(ini);
    }

    bool Start(TSettings net = {}, TSettings ca = {}) {
        if (net.empty() || net.front().first != "URL") net.insert(net.begin(), {"URL", url_});
        if (ca.empty()) ca.emplace_back("KEY_FILE", keyFile_);
        AnsiString message;
        const bool ok = Init(Config(net, ca, "NuvaNet.dll", "NuvaCA.dll"), &message);
        EXPECT_TRUE(ok) << message;
        return ok;
    }

    static TItems ReplyItems(const AnsiString& pdu) {
        TItems items;
        for (const TXmlNode& content : GetElements(pdu, "CONTENT")) {
            TXmlNode name, value;
            GetElement(content.Inner, "NAME", name);
            GetElement(content.Inner, "VALUE", value);
            items.emplace_back(XmlUnescape(name.Inner), XmlUnescape(value.Inner));
        }
        std::sort(items.begin(), items.end());
        return items;
    }

    void ClearReceive() {
        test::RemoveTree(receive_);
        ForceDirectories(receive_);
    }

    AnsiString PostFailed(const AnsiString& reason) const {
        return A(texts::kPostFailedOpen) + reason + A(texts::kReasonClose);
    }

    AnsiString url_, downUrl_, keyFile_;
};

// What the echo handler sends back: the items that reached the server (all
// of them from an archive; the first, named by the empty reserve field
// "DATA", from an uncompressed body), packed or as one file as the reply
// flags say. An uncompressed encrypted reply reaches the PDU under the
// decrypted file's name, sender + ".zip".
TItems ExpectedEcho(const TFlags& request, const char* reply, const AnsiString& sender,
                    const TItems& sent) {
    TItems atServer;
    if (request.body) {
        if (request.compress)
            atServer = sent;
        else
            atServer.emplace_back("DATA", sent.front().second);
    }
    TItems back;
    if (reply[0] == '0') return back;
    if (reply[2] == '1') {
        back = atServer;
    } else {
        const AnsiString value = atServer.empty() ? "" : atServer.front().second;
        const AnsiString name = reply[1] == '1'     ? sender + ".zip"
                                : atServer.empty() ? AnsiString("reply.bin")
                                                   : atServer.front().first;
        back.emplace_back(name, value);
    }
    std::sort(back.begin(), back.end());
    return back;
}

TEST_F(Transaction, EveryFlagCombinationEchoesAndCleansUp) {
    ASSERT_TRUE(Start());
    const TItems items = {{A(u"甲乙.txt"), A(u"中文内容,第一项")},
                          {"b.txt", "second & <item> \"quoted\""}};
    for (const auto& [letter, request] : kRequestFlags) {
        for (const char* reply : kReplyFlags) {
            const AnsiString type = AnsiString(1, letter) + reply;
            SCOPED_TRACE(type);
            const test::TSendResult r = Send(Pdu("ABC", type, items));
            ASSERT_TRUE(r.result) << r.message;
            EXPECT_EQ(r.message, A(texts::kSucceeded));
            EXPECT_EQ(ReplyItems(r.reply), ExpectedEcho(request, reply, "ABC", items));
            EXPECT_TRUE(Tree(send_).empty());
            // The engine's rules leave the empty reply directory behind for a
            // reply without a body and for an uncompressed encrypted one
            // (whose received file was moved into it); nothing else stays.
            const bool dirStays = reply[0] == '0' || (reply[1] == '1' && reply[2] == '0');
            EXPECT_EQ(Tree(receive_), dirStays ? std::vector<AnsiString>{AnsiString("ABC") + PathDelim}
                                               : std::vector<AnsiString>{});
            ClearReceive();
        }
    }
}

TEST_F(Transaction, GbkSenderAndNamesTravelBothWays) {
    ASSERT_TRUE(Start());
    const AnsiString sender = A(u"营业部01");
    const TItems items = {{A(u"报表-一月.txt"), A(u"收入:壹万元整")}, {A(u"说明.txt"), A(u"无")}};
    const test::TSendResult r = Send(Pdu(sender, "a111", items, A(u"备注")));
    ASSERT_TRUE(r.result) << r.message;
    TItems sorted = items;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(ReplyItems(r.reply), sorted);
    TXmlNode node;
    GetElement(r.reply, "SENDER", node);
    EXPECT_EQ(node.Inner, sender);
    GetElement(r.reply, "RESERVE", node);
    EXPECT_EQ(node.Inner, A(u"备注"));
}

TEST_F(Transaction, StoreKeepsTheItemsAndSendsAReceipt) {
    ASSERT_TRUE(Start());
    const test::TSendResult r = Send(Pdu("STORER", "STOR", {{A(u"存档.txt"), "kept"}, {"b", "bb"}}));
    ASSERT_TRUE(r.result) << r.message;
    const TItems reply = ReplyItems(r.reply);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].first, A(u"回执.txt"));
    EXPECT_EQ(reply[0].second.rfind(A(u"已保存2项:STORER"), 0), 0u) << reply[0].second;
    // The data directory holds them under store/STORER/<stamp>/.
    const AnsiString store = Env("NUVA_IT_DATA") + PathDelim + "store" + PathDelim + "STORER";
    bool found = false;
    for (const AnsiString& path : Tree(store)) {
        if (ExtractFileName(path) == A(u"存档.txt")) {
            EXPECT_EQ(ReadAll(store + PathDelim + path), "kept");
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(Transaction, A64MiBItemMakesTheRoundTrip) {
    ASSERT_TRUE(Start());
    AnsiString big(64u << 20, ' ');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + (i * 31 + i / 4096) % 26);
    const test::TSendResult r = Send(Pdu("BIG", "a111", {{"big.dat", big}}));
    ASSERT_TRUE(r.result) << r.message;
    const TItems reply = ReplyItems(r.reply);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].first, "big.dat");
    EXPECT_TRUE(reply[0].second == big) << "reply of " << reply[0].second.size() << " bytes";
    EXPECT_TRUE(Tree(send_).empty());
    EXPECT_TRUE(Tree(receive_).empty());
}

TEST_F(Transaction, TestConnAgainstARunningAndAStoppedServer) {
    ASSERT_TRUE(Start());
    TBstr msg;
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(engine_.TestConn(*msg.InOut(), ok), S_OK);
    EXPECT_TRUE(ok);
    EXPECT_EQ(msg.ToAnsi(), A(net::texts::kConnected) + url_);

    ASSERT_TRUE(Start({{"URL", downUrl_}}));
    ASSERT_EQ(engine_.TestConn(*msg.InOut(), ok), S_OK);
    EXPECT_FALSE(ok);
    EXPECT_EQ(msg.ToAnsi(), A(net::texts::kRefused) + downUrl_);
}

TEST_F(Transaction, EachNetworkFailureHasItsMessageAndLeavesNothing) {
    test::TTempDir keys;
    WriteAll(keys / "other.key", std::string(32, 'k'));
    struct {
        const char* name;
        TSettings net, ca;
        const char* type;
        AnsiString reason;
    } const cases[] = {
        {"server down", {{"URL", downUrl_}}, {}, "a111", A(net::texts::kRefused) + downUrl_},
        {"timeout", {{"URL", url_}, {"RECEIVE_TIMEOUT", "1000"}}, {}, "SLOW",
         A(net::texts::kTimeout) + url_},
        {"HTTP 500", {}, {}, "REJ5",
         A(net::texts::kHttpErrorOpen) + "500" + A(net::texts::kHttpErrorClose) +
             A(u"服务器内部错误")},
        {"truncated reply", {}, {}, "TRUN", A(net::texts::kTruncated) + url_},
        {"short reply header", {}, {}, "SHRT", A(net::texts::kShortHeader)},
        {"unsafe sender in the reply", {}, {}, "EVIL", A(net::texts::kUnsafeSender) + "../x"},
        {"wrong key", {}, {{"KEY_FILE", keys / "other.key"}}, "a111",
         A(net::texts::kHttpErrorOpen) + "400" + A(net::texts::kHttpErrorClose) +
             A(u"请求数据解密失败:") + A(ca::texts::kWrongKey)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Start(c.net, c.ca));
        const test::TSendResult r = Send(Pdu("ABC", c.type, {{"a.txt", "data"}}));
        EXPECT_FALSE(r.result);
        EXPECT_EQ(r.message, PostFailed(c.reason));
        EXPECT_TRUE(Tree(send_).empty());
        EXPECT_TRUE(Tree(receive_).empty());
    }
}

TEST_F(Transaction, DamagedCiphertextIsRefusedWithoutPlaintext) {
    ASSERT_TRUE(Start());
    for (const char* type : {"TAMP", "CUT"}) {
        SCOPED_TRACE(type);
        const test::TSendResult r = Send(Pdu("ABC", type, {{"a.txt", "secret"}}));
        EXPECT_FALSE(r.result);
        EXPECT_EQ(r.message, A(texts::kDecryptFailedOpen) + A(ca::texts::kDecryptFailed) +
                                 A(ca::texts::kDamaged) + A(texts::kReasonClose));
        EXPECT_TRUE(Tree(send_).empty());
        // What stays is the engine's: the received file where the network
        // component put it, in the reply's directory's parent. No plaintext,
        // no temporary file.
        const std::vector<AnsiString> left = Tree(receive_);
        ASSERT_EQ(left.size(), 2u);
        EXPECT_EQ(left[0], AnsiString("ABC") + PathDelim);
        EXPECT_EQ(left[1].rfind("NNR", 0), 0u) << left[1];
        EXPECT_EQ(ReadAll(receive_ + PathDelim + left[1]).compare(0, 8, "NUVA-GCM"), 0);
        ClearReceive();
    }
}

TEST_F(Transaction, HttpsTrustsTheCaFileOrThePinAndNothingElse) {
    const AnsiString tlsUrl = Env("NUVA_IT_TLS_URL");
    if (tlsUrl.empty()) GTEST_SKIP() << "no HTTPS server (the openssl program makes its certificate)";
    const AnsiString pin = Env("NUVA_IT_TLS_PIN");
    AnsiString otherPin = pin;
    otherPin[0] = otherPin[0] == 'A' ? 'B' : 'A';
    struct {
        const char* name;
        TSettings net;
        bool ok;
        AnsiString msg;  // the message starts with it
    } const cases[] = {
        {"CA file", {{"URL", tlsUrl}, {"CA_FILE", Env("NUVA_IT_TLS_CA")}}, true,
         A(net::texts::kConnected) + tlsUrl},
        {"pin", {{"URL", tlsUrl}, {"PIN_SHA256", pin}}, true, A(net::texts::kConnected) + tlsUrl},
        {"the system's store", {{"URL", tlsUrl}}, false, A(net::texts::kTls) + tlsUrl},
        {"another pin", {{"URL", tlsUrl}, {"PIN_SHA256", otherPin}}, false,
         A(net::texts::kPinned) + tlsUrl},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Start(c.net));
        TBstr msg;
        VARIANT_BOOL ok = VARIANT_FALSE;
        ASSERT_EQ(engine_.TestConn(*msg.InOut(), ok), S_OK);
        EXPECT_EQ(ok != VARIANT_FALSE, c.ok);
        EXPECT_EQ(msg.ToAnsi().rfind(c.msg, 0), 0u) << msg.ToAnsi();
    }
    // A whole transaction over HTTPS.
    ASSERT_TRUE(Start({{"URL", tlsUrl}, {"PIN_SHA256", pin}}));
    const test::TSendResult r = Send(Pdu("ABC", "a111", {{A(u"安全.txt"), A(u"加密传输")}}));
    ASSERT_TRUE(r.result) << r.message;
    EXPECT_EQ(ReplyItems(r.reply), (TItems{{A(u"安全.txt"), A(u"加密传输")}}));
}

TEST_F(Transaction, PostLeavesProgressAndStatusAndNamesEveryReplyAnew) {
    // Post called as the engine calls it, to see what it leaves in the
    // host's variables and which reply file it names.
    TNetworkInvoker net("NuvaNet.dll", "NetworkImpl");
    ASSERT_TRUE(net.Ready());
    TBstr config = test::ComponentConfig("NETWORK", {{"URL", url_}}), msg;
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(net.Init(config.Get(), *msg.InOut(), ok), S_OK);
    ASSERT_TRUE(ok);
    const AnsiString header = test::PadTo("ABC", 22) + test::PadTo("e000", 4) + "000" + test::PadTo("", 27) + "20250101";
    ForceDirectories(receive_);
    std::vector<AnsiString> names;
    for (int i = 0; i < 2; ++i) {
        TBstr h = TBstr::FromAnsi(header), file = TBstr::FromAnsi(temp_ / "none.CA"), replyHeader,
              replyFile = TBstr::FromAnsi(IncludeTrailingPathDelimiter(receive_)), status;
        SHORT progress = 0;
        ok = VARIANT_FALSE;
        ASSERT_EQ(net.Post(h.Get(), file.Get(), *replyHeader.InOut(), *replyFile.InOut(), progress,
                           *status.InOut(), *msg.InOut(), ok),
                  S_OK);
        ASSERT_TRUE(ok) << msg.ToAnsi();
        EXPECT_EQ(progress, 100);
        EXPECT_EQ(status.ToAnsi(), A(net::texts::kReceived));
        EXPECT_EQ(replyHeader.ToAnsi().substr(0, 29), header.substr(0, 26) + "000");
        // A reply without a body stores nothing: replyFile stays the directory.
        EXPECT_EQ(replyFile.ToAnsi(), IncludeTrailingPathDelimiter(receive_));
    }
    // With a body, each reply gets a name of its own in the receive directory.
    const AnsiString bodyHeader = test::PadTo("ABC", 22) + test::PadTo("d100", 4) + "100" + test::PadTo("", 27) + "20250101";
    WriteAll(temp_ / "data.bin", "payload");
    for (int i = 0; i < 2; ++i) {
        TBstr h = TBstr::FromAnsi(bodyHeader), file = TBstr::FromAnsi(temp_ / "data.bin"),
              replyHeader, replyFile = TBstr::FromAnsi(IncludeTrailingPathDelimiter(receive_)),
              status;
        SHORT progress = 0;
        ASSERT_EQ(net.Post(h.Get(), file.Get(), *replyHeader.InOut(), *replyFile.InOut(), progress,
                           *status.InOut(), *msg.InOut(), ok),
                  S_OK);
        ASSERT_TRUE(ok) << msg.ToAnsi();
        EXPECT_EQ(ReadAll(replyFile.ToAnsi()), "payload");
        names.push_back(replyFile.ToAnsi());
    }
    EXPECT_NE(names[0], names[1]);
    EXPECT_EQ(ExtractFilePath(names[0]), IncludeTrailingPathDelimiter(receive_));
}

}  // namespace
}  // namespace nuva
