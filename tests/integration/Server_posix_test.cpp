// nuva-server against hostile requests: the transaction core case by case
// (each outcome's status and text, and that nothing is written outside the
// transaction's directory and the store), the configuration's errors, and
// the running program over HTTP (health, the body limit, a clean stop).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <cstdlib>
#include <thread>

#include "LoopbackSupport_posix.h"
#include "ServerConfig.h"
#include "TestSupport.h"
#include "Transaction.h"
#include "ca/CryptFile.h"
#include "net/Transport.h"
#include "net/Wire.h"
#include "util/StringList.h"
#include "util/util.h"
#include "zip/CompressUtil.h"

namespace nuva::server {
namespace {

using test::ReadAll;
using test::TTempDir;
using test::WriteAll;

const char kHexKey[] = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";

std::string Utf8(const char16_t* text) {
    return AnsiToUtf8(WideToAnsi(text));
}

std::string Header(const AnsiString& sender, const AnsiString& type, const char* flags,
                   const AnsiString& reserve = "") {
    wire::THeader h;
    h.sender = sender;
    h.typeCode = type;
    h.hasBody = flags[0] == '1';
    h.encrypted = flags[1] == '1';
    h.compressed = flags[2] == '1';
    h.reserve = reserve;
    h.date = "20250101";
    return wire::BuildHeader(h);
}

// Every path under `dir`, relative, sorted.
std::vector<AnsiString> Tree(const AnsiString& dir) {
    std::vector<AnsiString> names;
    const AnsiString base = IncludeTrailingPathDelimiter(dir);
    for (const TDirEntry& e : ListDirectoryEntries(dir)) {
        if (e.name == "." || e.name == "..") continue;
        names.push_back(e.name);
        if (e.attributes & faDirectory)
            for (const AnsiString& sub : Tree(base + e.name)) names.push_back(e.name + "/" + sub);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ServerCore : public ::testing::Test {
  protected:
    ServerCore() {
        WriteAll(temp_ / "key.hex", kHexKey);
        config_ = ParseServerConfig(
            "<SERVER><DATA_DIR>" + temp_ / "data" + "</DATA_DIR><MAX_ITEMS>3</MAX_ITEMS>"
            "<MAX_EXTRACT>100000</MAX_EXTRACT><CA><KEY_FILE>" + temp_ / "key.hex" +
            "</KEY_FILE></CA>"
            "<TYPE><CODE>01</CODE><HANDLER>echo</HANDLER></TYPE>"
            "<TYPE><CODE>02</CODE><HANDLER>store</HANDLER><REPLY_FLAGS>100</REPLY_FLAGS></TYPE>"
            "<TYPE><CODE>08</CODE><HANDLER>reject</HANDLER></TYPE>"
            "<TYPE><CODE>09</CODE><HANDLER>reject</HANDLER><STATUS>451</STATUS>"
            "<MESSAGE>" + WideToAnsi(u"不受理") + "</MESSAGE></TYPE></SERVER>");
        ForceDirectories(config_.WorkRoot());
        key_ = *config_.key;
    }

    // One transaction in a fresh work directory, which is then removed.
    TOutcome Run(const std::string& header, const std::string& data) {
        const AnsiString work = config_.WorkRoot() + PathDelim + "tx" + PathDelim;
        ForceDirectories(work);
        WriteAll(work + "request.data", data);
        TOutcome out = RunTransaction(config_, header, work + "request.data", work);
        if (!out.replyFile.empty()) {
            EXPECT_EQ(out.replyFile.rfind(work, 0), 0u) << "reply data outside the work directory";
            reply_ = ReadAll(out.replyFile);
        }
        RemoveTree(work);
        return out;
    }

    std::string Zip(const std::vector<std::pair<AnsiString, std::string>>& files) {
        TTempDir dir;
        TStringList list;
        for (const auto& [name, content] : files) {
            WriteAll(dir / name, content);
            list.Add(dir / name);
        }
        EXPECT_TRUE(ZipFiles(list, dir / "out.zip"));
        return ReadAll(dir / "out.zip");
    }

    std::string Seal(const std::string& plain) {
        TTempDir dir;
        WriteAll(dir / "plain", plain);
        ca::SealFile(dir / "plain", dir / "sealed", key_);
        return ReadAll(dir / "sealed");
    }

    TTempDir temp_;
    TServerConfig config_;
    ca::TCryptKey key_;
    std::string reply_;
};

TEST_F(ServerCore, HostileRequestsGetTheirErrorAndWriteNothing) {
    const std::string good = Header("ABC", "01", "111");
    const std::string archive = Zip({{"a.txt", "aa"}, {"b.txt", "bb"}});
    struct {
        const char* name;
        std::string header, data;
        int status;
        std::string text;  // the reply text starts with it
    } const cases[] = {
        {"short header", good.substr(0, 63), "", 400, Utf8(u"请求报文头格式错误")},
        {"long header", good + " ", "", 400, Utf8(u"请求报文头格式错误")},
        {"flag not 0/1", good.substr(0, 27) + "y" + good.substr(28), "", 400,
         Utf8(u"请求报文头格式错误")},
        {"sender ..", Header("..", "01", "000"), "", 400, Utf8(u"请求报文头中的发送方代码不合法:..")},
        {"sender with /", Header("a/b", "01", "000"), "", 400,
         Utf8(u"请求报文头中的发送方代码不合法:a/b")},
        {"sender with \\", Header("a\\b", "01", "000"), "", 400,
         Utf8(u"请求报文头中的发送方代码不合法:a\\b")},
        {"device sender", Header("CON", "01", "000"), "", 400,
         Utf8(u"请求报文头中的发送方代码不合法:CON")},
        {"no sender", Header("", "01", "000"), "", 400, Utf8(u"请求报文头中的发送方代码不合法:")},
        {"/ behind a lead byte", Header("A\x81/..", "01", "000"), "", 400,
         Utf8(u"请求报文头中的发送方代码不合法:")},
        {": behind a lead byte", Header("A\x81:B", "01", "000"), "", 400,
         Utf8(u"请求报文头中的发送方代码不合法:")},
        {"unknown type", Header("ABC", "ZZ", "000"), "", 404, Utf8(u"未知的交易类型:ZZ")},
        {"data without body", Header("ABC", "01", "000"), "x", 400,
         Utf8(u"请求报文头标明无数据,却带有数据")},
        {"not sealed", good, archive, 400, Utf8(u"请求数据解密失败:文件不是NuvaCA加密格式")},
        {"sealed garbage archive", good, Seal("not a zip"), 400, Utf8(u"请求数据无法解包:")},
        {"plain garbage archive", Header("ABC", "01", "101"), "PK\x03\x04 nonsense", 400,
         Utf8(u"请求数据无法解包:")},
        {"too many entries", Header("ABC", "01", "101"),
         Zip({{"1", "1"}, {"2", "2"}, {"3", "3"}, {"4", "4"}}), 400,
         Utf8(u"请求数据无法解包:条目过多")},
        {"too large unpacked", Header("ABC", "01", "101"), Zip({{"big", std::string(200000, 'x')}}),
         400, Utf8(u"请求数据无法解包:解包后的数据过大")},
        {"reject", Header("ABC", "09", "000"), "", 451, Utf8(u"不受理")},
        {"reject without a status", Header("ABC", "08", "000"), "", 403, Utf8(u"交易被拒绝")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TOutcome out = Run(c.header, c.data);
        EXPECT_EQ(out.status, c.status);
        EXPECT_EQ(out.text.rfind(c.text, 0), 0u) << out.text;
        EXPECT_TRUE(out.header.empty());
    }
    // Only the (empty) work root stayed in the data directory.
    EXPECT_EQ(Tree(config_.dataDir), std::vector<AnsiString>{"work"});
}

// MAX_ITEMS (3 here) is the most entries taken, not the first refused.
TEST_F(ServerCore, ArchiveOfExactlyMaxItemsEntriesIsTaken) {
    const TOutcome out = Run(Header("ABC", "01", "101"), Zip({{"1", "1"}, {"2", "2"}, {"3", "3"}}));
    EXPECT_EQ(out.status, 200) << out.text;
    EXPECT_EQ(out.header.size(), 64u);
}

TEST_F(ServerCore, EchoAnswersWithTheConfiguredFlags) {
    const std::string archive = Zip({{WideToAnsi(u"甲.txt"), "aa"}, {"b.txt", "bb"}});
    const TOutcome out = Run(Header("ABC", "01", "111", "r"), Seal(archive));
    ASSERT_EQ(out.status, 200) << out.text;
    // The request's flags, mirrored; the date is today's.
    EXPECT_EQ(out.header.substr(0, 56), Header("ABC", "01", "111", "r").substr(0, 56));
    EXPECT_EQ(out.header.size(), 64u);
    EXPECT_EQ(reply_.compare(0, 8, "NUVA-GCM"), 0);
}

TEST_F(ServerCore, AnUncompressedBodyIsOneItemNamedByTheReserve) {
    struct {
        const char* reserve;
        const char* name;
    } const cases[] = {{"report.txt", "report.txt"}, {"../x", "DATA"}, {"", "DATA"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reserve);
        const TOutcome out = Run(Header("ABC", "02", "100", c.reserve), "payload");
        ASSERT_EQ(out.status, 200) << out.text;
        // The store handler's receipt names what it kept.
        EXPECT_NE(reply_.find(AnsiString(c.name) + "\t7"), std::string::npos) << reply_;
    }
    // Kept under store/ABC/<stamp>/, three transactions, three directories.
    std::vector<AnsiString> stored;
    for (const AnsiString& path : Tree(config_.StoreRoot()))
        if (path.find('/') != path.rfind('/')) stored.push_back(ExtractFileName(path));
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, (std::vector<AnsiString>{"DATA", "DATA", "report.txt"}));
}

TEST_F(ServerCore, AServerFailureAnswersATokenAndLogsTheReason) {
    // Encrypted data without a key; a store root that cannot be made (a file
    // holds its name).
    struct {
        const char* name;
        std::function<void()> arrange;
        std::string header;
        const char* logged;  // in the log text, not in the answer
    } const cases[] = {
        {"no key", [&] { config_.key.reset(); }, Header("ABC", "01", "111"), ""},
        {"store not writable", [&] { WriteAll(config_.StoreRoot(), "x"); },
         Header("ABC", "02", "100", "a.txt"), "store"},
    };
    const std::string prefix = Utf8(u"服务器内部错误:");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        const TOutcome out = Run(c.header, "x");
        EXPECT_EQ(out.status, 500);
        ASSERT_EQ(out.text.rfind(prefix, 0), 0u) << out.text;
        const std::string token = out.text.substr(prefix.size());
        EXPECT_FALSE(token.empty());
        EXPECT_EQ(token.find_first_not_of("0123456789abcdef-"), std::string::npos) << out.text;
        EXPECT_EQ(out.logText.rfind(out.text + " ", 0), 0u) << out.logText;
        EXPECT_NE(out.logText.find(c.logged), std::string::npos) << out.logText;
    }
    // Each failure its own token.
    EXPECT_NE(Run(Header("ABC", "02", "100"), "x").text, Run(Header("ABC", "02", "100"), "x").text);
}

TEST_F(ServerCore, ReadOnlyEntriesLeaveNoWorkFilesBehind) {
    TTempDir dir;
    WriteAll(dir / "ro.txt", "read only");
    WriteAll(dir / "rw.txt", "read write");
    ASSERT_TRUE(SetFileAttributes(dir / "ro.txt", faReadOnly));
    TStringList list;
    list.Add(dir / "ro.txt");
    list.Add(dir / "rw.txt");
    ASSERT_TRUE(ZipFiles(list, dir / "ro.zip"));
    const std::string archive = ReadAll(dir / "ro.zip");
    SetFileAttributes(dir / "ro.txt", 0);
    // The second entry's first data byte changed: the read-only one is
    // unpacked, then the transaction fails.
    std::string damaged = archive;
    const size_t second = damaged.find("PK\x03\x04", 4);
    ASSERT_NE(second, std::string::npos);
    const auto u16 = [&](size_t at) {
        return static_cast<size_t>(static_cast<uint8_t>(damaged[at])) |
               static_cast<size_t>(static_cast<uint8_t>(damaged[at + 1])) << 8;
    };
    damaged[second + 30 + u16(second + 26) + u16(second + 28)] ^= 0x55;
    struct {
        const char* name;
        std::string header, data;
        int status;
    } const cases[] = {
        {"compressed", Header("ABC", "01", "101"), archive, 200},
        {"sealed and compressed", Header("ABC", "01", "111"), Seal(archive), 200},
        {"unpacking fails after it", Header("ABC", "01", "101"), damaged, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AnsiString work = config_.WorkRoot() + PathDelim + "tx" + PathDelim;
        ForceDirectories(work);
        WriteAll(work + "request.data", c.data);
        const TOutcome out = RunTransaction(config_, c.header, work + "request.data", work);
        EXPECT_EQ(out.status, c.status) << out.text;
        RemoveTree(work);
        EXPECT_EQ(Tree(config_.dataDir), std::vector<AnsiString>{"work"});
    }
}

TEST_F(ServerCore, OnlyTheConfiguredPbkdf2RoundsAreDerived) {
    config_ = ParseServerConfig(
        "<SERVER><DATA_DIR>" + temp_ / "data" + "</DATA_DIR><CA><PASSPHRASE>secret</PASSPHRASE>"
        "<ITERATIONS>1000</ITERATIONS></CA><TYPE><CODE>01</CODE></TYPE></SERVER>");
    key_ = *config_.key;
    const std::string sealed = Seal("plain");
    // The rounds field (offset 16, big-endian) set to `rounds`; the key
    // check then fails too, but only after a derivation of that cost.
    const auto withRounds = [&](uint32_t rounds) {
        std::string s = sealed;
        for (int i = 0; i < 4; ++i) s[16 + i] = static_cast<char>(rounds >> (24 - 8 * i));
        return s;
    };
    key_.iterations = 5000;
    const std::string otherRounds = Seal("plain");  // a real file, only the rounds differ
    const std::string refused = Utf8(u"请求数据解密失败:加密文件的版本或参数不受支持");
    struct {
        const char* name;
        std::string data;
        int status;
        std::string text;
    } const cases[] = {
        {"configured rounds", sealed, 200, ""},
        {"other rounds, right passphrase", otherRounds, 400, refused},
        {"the format's maximum", withRounds(ca::kMaxIterations), 400, refused},
        {"one round", withRounds(1), 400, refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TOutcome out = Run(Header("ABC", "01", "110", "p.txt"), c.data);
        EXPECT_EQ(out.status, c.status) << out.text;
        EXPECT_EQ(out.text, c.text);
    }
}

TEST(ServerConfig, RefusesWhatItCannotServe) {
    struct {
        const char* name;
        AnsiString xml;
        AnsiString message;
    } const cases[] = {
        {"no data dir", "<SERVER></SERVER>", WideToAnsi(u"服务器配置缺少数据目录<DATA_DIR>")},
        {"bad handler", "<SERVER><DATA_DIR>d</DATA_DIR><TYPE><CODE>1</CODE><HANDLER>x</HANDLER></TYPE></SERVER>",
         WideToAnsi(u"配置项<HANDLER>的值无效:x")},
        {"long code", "<SERVER><DATA_DIR>d</DATA_DIR><TYPE><CODE>12345</CODE></TYPE></SERVER>",
         WideToAnsi(u"配置项<CODE>的值无效:12345")},
        {"bad flags", "<SERVER><DATA_DIR>d</DATA_DIR><TYPE><CODE>1</CODE><REPLY_FLAGS>12</REPLY_FLAGS></TYPE></SERVER>",
         WideToAnsi(u"配置项<REPLY_FLAGS>的值无效:12")},
        {"twice", "<SERVER><DATA_DIR>d</DATA_DIR><TYPE><CODE>1</CODE></TYPE><TYPE><CODE>1</CODE><HANDLER>store</HANDLER></TYPE></SERVER>",
         WideToAnsi(u"交易类型重复定义:1")},
        {"status", "<SERVER><DATA_DIR>d</DATA_DIR><TYPE><CODE>1</CODE><STATUS>200</STATUS></TYPE></SERVER>",
         WideToAnsi(u"配置项<STATUS>的值无效:200")},
        {"half TLS", "<SERVER><DATA_DIR>d</DATA_DIR><TLS_CERT>c</TLS_CERT></SERVER>",
         WideToAnsi(u"<TLS_CERT>和<TLS_KEY>必须同时配置")},
        {"CA without key", "<SERVER><DATA_DIR>d</DATA_DIR><CA></CA></SERVER>",
         WideToAnsi(u"CA配置缺少密钥:需要<KEY_FILE>或<PASSPHRASE>")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ParseServerConfig(c.xml);
            ADD_FAILURE() << "accepted";
        } catch (const EConfigError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

// ---------------------------------------------------------------------------
// The program
// ---------------------------------------------------------------------------

class TStringSource final : public net::TBodySource {
  public:
    explicit TStringSource(std::string bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() override { return bytes_.size(); }
    size_t Read(uint8_t* buffer, size_t capacity) override {
        const size_t n = std::min(capacity, bytes_.size() - offset_);
        std::memcpy(buffer, bytes_.data() + offset_, n);
        offset_ += n;
        return n;
    }

  private:
    std::string bytes_;
    size_t offset_ = 0;
};

struct TStringSink final : net::TBodySink {
    int status = 0;
    std::string body;
    bool Begin(int s, int64_t) override {
        status = s;
        return true;
    }
    bool Write(const uint8_t* data, size_t size) override {
        body.append(reinterpret_cast<const char*>(data), size);
        return true;
    }
};

// The server program as a child process; stopped with SIGTERM.
class ServerProgram : public ::testing::Test {
  protected:
    void SetUp() override { Start(""); }
    // `extra`: more settings of the server (its certificate, its limits).
    void Start(const AnsiString& extra) {
        WriteAll(temp_ / "server.xml",
                 "<SERVER><DATA_DIR>" + temp_ / "data" + "</DATA_DIR><MAX_BODY>1000</MAX_BODY>" +
                 extra + "<TYPE><CODE>01</CODE></TYPE>"
                 "<TYPE><CODE>02</CODE><HANDLER>store</HANDLER></TYPE></SERVER>");
        const std::string command = std::string("'") + NUVA_SERVER_BINARY + "' --config '" +
                                    temp_ / "server.xml" + "' --port-file '" + temp_ / "port" +
                                    "' >'" + temp_ / "out.log" + "' 2>'" + temp_ / "err.log" +
                                    "' & echo $! >'" + temp_ / "pid" + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        for (int i = 0; i < 200 && !FileExists(temp_ / "port"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(FileExists(temp_ / "port")) << ReadAll(temp_ / "err.log");
        port_ = Trim(ReadAll(temp_ / "port"));
        net::TTransportSettings s;
        ASSERT_TRUE(net::ParseUrl("http://127.0.0.1:" + port_, s));
        s.receiveTimeoutMs = 10000;
        transport_ = net::TTransport::Create(s);
    }
    void TearDown() override {
        if (FileExists(temp_ / "pid") && !stopped_) Stop();
    }
    void Stop() {
        stopped_ = true;
        const std::string kill = "kill -TERM $(cat '" + temp_ / "pid" + "')";
        ASSERT_EQ(std::system(kill.c_str()), 0);
    }
    // Stops the server and waits until it says it has stopped; its standard
    // error then.
    std::string StopAndWait() {
        Stop();
        std::string err;
        for (int i = 0; i < 200 && err.find("nuva-server: stopped") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            err = ReadAll(temp_ / "err.log");
        }
        return err;
    }
    TStringSink Post(const std::string& body) {
        TStringSource source(body);
        TStringSink sink;
        transport_->Exchange(wire::kTransactionPath, &source, sink, nullptr);
        return sink;
    }

    TTempDir temp_;
    AnsiString port_;
    std::unique_ptr<net::TTransport> transport_;
    bool stopped_ = false;
};

TEST_F(ServerProgram, AnswersHealthLimitsAndMalformedRequestsThenStopsCleanly) {
    TStringSink health;
    transport_->Exchange(wire::kHealthPath, nullptr, health, nullptr);
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, "ok");

    const TStringSink tooLarge = Post(Header("ABC", "01", "100") + std::string(1001, 'x'));
    EXPECT_EQ(tooLarge.status, 413);
    EXPECT_EQ(tooLarge.body, Utf8(u"请求数据超过服务器允许的大小"));

    const TStringSink garbage = Post("0123456789");
    EXPECT_EQ(garbage.status, 400);
    EXPECT_EQ(garbage.body, Utf8(u"请求报文头格式错误"));

    const TStringSink echo = Post(Header("ABC", "01", "100", "a.txt") + "hello");
    EXPECT_EQ(echo.status, 200);
    EXPECT_EQ(echo.body.substr(64), "hello");

    const std::string err = StopAndWait();
    EXPECT_NE(err.find("SIGTERM, stopping"), std::string::npos) << err;
    EXPECT_NE(err.find("nuva-server: stopped"), std::string::npos) << err;
    // One log line per transaction, in order, with the result.
    const std::string log = ReadAll(temp_ / "out.log");
    EXPECT_NE(log.find("status=413"), std::string::npos) << log;
    EXPECT_NE(log.find("status=400 " + Utf8(u"请求报文头格式错误")), std::string::npos) << log;
    EXPECT_NE(log.find("sender=ABC type=01 in=69 out=69 status=200 ok"), std::string::npos) << log;
    // No work directory stayed.
    EXPECT_TRUE(Tree(temp_ / "data" + "/work").empty());
}

// MAX_BODY (1000 here) counts the bytes after the 64-byte header: exactly
// that many are taken, one more is refused.
TEST_F(ServerProgram, BodyOfExactlyMaxBodyBytesIsTaken) {
    const struct {
        size_t bytes;
        int status;
    } cases[] = {{1000, 200}, {1001, 413}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const std::string data(c.bytes, 'x');
        const TStringSink reply = Post(Header("ABC", "01", "100", "a.txt") + data);
        EXPECT_EQ(reply.status, c.status);
        if (c.status == 200 && reply.body.size() >= 64) {
            EXPECT_EQ(reply.body.substr(64), data);
        }
    }
}

// A request whose body ends before its Content-Length (the client sends 164
// of 1064 bytes and closes) is never handed to the transaction; the same
// request whole is, by the store handler.
TEST_F(ServerProgram, RequestCutShortIsNotProcessed) {
    auto request = [](size_t declared, const std::string& body) {
        return "POST " + std::string(wire::kTransactionPath) +
               " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + wire::kDataType +
               "\r\nContent-Length: " + std::to_string(declared) + "\r\nConnection: close\r\n\r\n" +
               body;
    };
    const int port = std::atoi(port_.c_str());
    const std::string cut = Header("ABC", "02", "100", "cut.txt") + std::string(100, 'c');
    const std::string cutReply =
        test::LoopbackExchange(port, request(1064, cut), test::TAfterRequest::CloseSending);
    EXPECT_NE(test::HttpStatus(cutReply), 200) << cutReply;
    const std::string whole = Header("ABC", "02", "100", "whole.txt") + std::string(100, 'w');
    const std::string wholeReply = test::LoopbackExchange(port, request(whole.size(), whole));
    EXPECT_EQ(test::HttpStatus(wholeReply), 200) << wholeReply;

    const std::string err = StopAndWait();
    ASSERT_NE(err.find("nuva-server: stopped"), std::string::npos) << err;
    std::vector<AnsiString> stored;
    for (const AnsiString& path : Tree(temp_ / "data/store")) {
        const AnsiString name = ExtractFileName(path);
        if (name == "cut.txt" || name == "whole.txt") stored.push_back(name);
    }
    EXPECT_EQ(stored, std::vector<AnsiString>{"whole.txt"});
}

class ServerProgramTls : public ServerProgram {
  protected:
    void SetUp() override {
        // A self-signed certificate for 127.0.0.1, and the pin of its key.
        const std::string dir = temp_.Path();
        const std::string make =
            "cd '" + dir + "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
            "-nodes -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -days 2 "
            "-keyout key.pem -out cert.pem >/dev/null 2>&1 && openssl x509 -in cert.pem -pubkey "
            "-noout | openssl pkey -pubin -outform der | openssl dgst -sha256 -binary | base64 > pin";
        if (std::system(make.c_str()) != 0) GTEST_SKIP() << "no openssl program to make a certificate";
        Start("<TLS_CERT>" + temp_ / "cert.pem" + "</TLS_CERT><TLS_KEY>" + temp_ / "key.pem" +
              "</TLS_KEY>");
    }
    // GET of the health path over HTTPS with these settings.
    void Health(const std::function<void(net::TTransportSettings&)>& set) {
        net::TTransportSettings s;
        ASSERT_TRUE(net::ParseUrl("https://127.0.0.1:" + port_, s));
        set(s);
        TStringSink sink;
        net::TTransport::Create(s)->Exchange(wire::kHealthPath, nullptr, sink, nullptr);
        EXPECT_EQ(sink.status, 200);
        EXPECT_EQ(sink.body, "ok");
    }
    static net::TNetFault FaultOf(const std::function<void()>& run) {
        try {
            run();
        } catch (const net::ETransportError& e) {
            return e.Fault();
        }
        ADD_FAILURE() << "no transport error";
        return net::TNetFault::Other;
    }
};

TEST_F(ServerProgramTls, TrustsTheCaFileOrThePinAndNothingElse) {
    Health([&](net::TTransportSettings& s) { s.caFile = temp_ / "cert.pem"; });
    std::string pin;
    ASSERT_TRUE(net::ParsePin(Trim(ReadAll(temp_ / "pin")), pin));
    Health([&](net::TTransportSettings& s) { s.pinSha256 = pin; });

    // Neither: the system's store does not know the certificate.
    EXPECT_EQ(static_cast<int>(FaultOf([&] {
                  Health([](net::TTransportSettings&) {});
              })),
              static_cast<int>(net::TNetFault::Tls));
    // Another key's pin.
    std::string other = pin;
    other[0] = static_cast<char>(other[0] ^ 1);
    EXPECT_EQ(static_cast<int>(FaultOf([&] {
                  Health([&](net::TTransportSettings& s) { s.pinSha256 = other; });
              })),
              static_cast<int>(net::TNetFault::Pinned));
}

// A raw loopback connection to the server, for what a client library does
// not send: half a request, a trickle.
class TRawClient {
  public:
    explicit TRawClient(const AnsiString& port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~TRawClient() {
        if (fd_ >= 0) close(fd_);
    }
    TRawClient(const TRawClient&) = delete;
    TRawClient& operator=(const TRawClient&) = delete;
    bool Connected() const { return connected_; }
    bool Send(const std::string& bytes) {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Everything until the server closes the connection or `waitMs` pass;
    // `closed` says which.
    std::string Receive(int waitMs, bool& closed) {
        std::string all;
        closed = false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (std::chrono::steady_clock::now() < end) {
            timeval tv{0, 50000};
            setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            char buffer[4096];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0) {
                all.append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                closed = true;
                break;
            }
        }
        return all;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string PostHead(size_t length) {
    return "POST /transaction HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/octet-stream\r\n"
           "Content-Length: " + std::to_string(length) + "\r\n\r\n";
}

// Short deadlines and limits, so that the slow clients' cases end soon.
class ServerProgramLimits : public ServerProgram {
  protected:
    void SetUp() override {
        Start("<WORKERS>2</WORKERS><HEADER_TIMEOUT_MS>1500</HEADER_TIMEOUT_MS>"
              "<BODY_TIMEOUT_MS>1500</BODY_TIMEOUT_MS><MAX_CONNECTIONS_PER_CLIENT>64"
              "</MAX_CONNECTIONS_PER_CLIENT>");
    }
    std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        const std::string log = ReadAll(temp_ / "out.log");
        for (size_t at = 0, end; at < log.size(); at = end + 1) {
            end = log.find('\n', at);
            if (end == std::string::npos) end = log.size();
            lines.push_back(log.substr(at, end - at));
        }
        return lines;
    }
    // Waits for the server's log to hold `text` (up to 5 s).
    bool Logged(const std::string& text) {
        for (int i = 0; i < 100; ++i) {
            if (ReadAll(temp_ / "out.log").find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

TEST_F(ServerProgramLimits, ATransactionIsAnsweredWhileConnectionsTrickleTheirHeaders) {
    // More trickling connections than workers and processors; each sends a
    // byte of its headers every 100 ms and never ends them.
    constexpr int kSlow = 40;
    std::vector<std::unique_ptr<TRawClient>> slow;
    for (int i = 0; i < kSlow; ++i) {
        slow.push_back(std::make_unique<TRawClient>(port_));
        ASSERT_TRUE(slow.back()->Connected());
        ASSERT_TRUE(slow.back()->Send("POST /transaction HTTP/1.1\r\n"));
    }
    std::atomic<bool> trickling{true};
    std::thread trickle([&] {
        for (int n = 0; trickling && n < 100; ++n) {
            for (auto& c : slow) c->Send("X");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    TStringSink echo;
    try {
        echo = Post(Header("ABC", "01", "100", "a.txt") + "hello");
    } catch (const Exception& e) {
        ADD_FAILURE() << "no answer: " << e.Message();
    }
    EXPECT_EQ(echo.status, 200);
    EXPECT_EQ(echo.body.substr(std::min<size_t>(64, echo.body.size())), "hello");
    // Past their header deadline, every one is closed, and logged.
    bool allClosed = true;
    for (auto& c : slow) {
        bool closed = false;
        c->Receive(5000, closed);
        allClosed = allClosed && closed;
    }
    trickling = false;
    trickle.join();
    EXPECT_TRUE(allClosed);
    EXPECT_TRUE(Logged("closed: request headers not in within 1500 ms"));
}

TEST_F(ServerProgramLimits, ADeclaredBodyOverTheLimitIsRefusedAtOnceUnread) {
    TRawClient client(port_);
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.Send(PostHead(1000 + 64 + 1)));
    // No byte of the body goes out; the answer comes anyway, and the
    // connection closes (well before the body's deadline).
    bool closed = false;
    const std::string reply = client.Receive(1000, closed);
    EXPECT_EQ(reply.rfind("HTTP/1.1 413", 0), 0u) << reply;
    EXPECT_NE(reply.find(Utf8(u"请求数据超过服务器允许的大小")), std::string::npos) << reply;
    EXPECT_TRUE(closed);
    EXPECT_TRUE(Logged("status=413"));
}

TEST_F(ServerProgramLimits, ABodyThatStallsIsClosedAtItsDeadline) {
    TRawClient client(port_);
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.Send(PostHead(100) + Header("ABC", "01", "100")));
    bool closed = false;
    const std::string reply = client.Receive(6000, closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(reply, "");
    EXPECT_TRUE(Logged("closed: request body not in by its deadline"));
    // Not processed: nothing answered 200, no work directory left.
    EXPECT_TRUE(Logged("status=400"));
    EXPECT_EQ(ReadAll(temp_ / "out.log").find("status=200"), std::string::npos);
}

TEST_F(ServerProgramLimits, ConnectionsOverTheClientLimitAreRefusedAtOnce) {
    std::vector<std::unique_ptr<TRawClient>> held;
    for (int i = 0; i < 64; ++i) {
        held.push_back(std::make_unique<TRawClient>(port_));
        ASSERT_TRUE(held.back()->Connected());
    }
    // Each held connection is counted once the server accepted it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    TRawClient extra(port_);
    bool closed = false;
    extra.Receive(1000, closed);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(Logged("refused: 64 connections open from this address"));
    held.clear();
    // Once they are gone, the address is served again.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Post(Header("ABC", "01", "100", "a.txt") + "x").status, 200);
}

TEST_F(ServerProgramLimits, HostileFieldsStayInsideTheirLogLine) {
    struct {
        const char* name;
        AnsiString sender;
        const char* logged;
    } const cases[] = {
        {"line feed", "A\nB 01", "sender=A\\x0aB\\x2001 "},
        {"carriage return", "A\rB", "sender=A\\x0dB "},
        {"not UTF-8", "A\xff\xfe", "sender=A\\xff\\xfe "},
        {"backslash", "A\\x0a", "sender=A\\\\x0a "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Post(Header(c.sender, "01", "000")).status, 400);
    }
    Stop();
    for (int i = 0; i < 100 && LogLines().size() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 4u) << ReadAll(temp_ / "out.log");
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NE(lines[i].find(cases[i].logged), std::string::npos) << lines[i];
        EXPECT_EQ(std::count_if(lines[i].begin(), lines[i].end(),
                                [](char ch) { return static_cast<unsigned char>(ch) < 0x20; }),
                  0)
            << lines[i];
    }
}

TEST_F(ServerProgramLimits, AFailureAnswersNoPathOnlyATokenThatTheLogHolds) {
    // The store root is a file: the store handler cannot make its directory.
    WriteAll(temp_ / "data" + "/store", "not a directory");
    const TStringSink failed = Post(Header("ABC", "02", "100", "a.txt") + "x");
    EXPECT_EQ(failed.status, 500);
    const std::string prefix = Utf8(u"服务器内部错误:");
    ASSERT_EQ(failed.body.rfind(prefix, 0), 0u) << failed.body;
    const std::string token = failed.body.substr(prefix.size());
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef-"), std::string::npos) << failed.body;
    EXPECT_EQ(failed.body.find(temp_.Path()), std::string::npos);
    // The log line holds the token and what failed.
    ASSERT_TRUE(Logged("status=500 " + failed.body + " "));
    const std::string log = ReadAll(temp_ / "out.log");
    EXPECT_NE(log.find(failed.body + " store ABC"), std::string::npos) << log;
}

}  // namespace
}  // namespace nuva::server
