// NuvaCA and NuvaNet through the invokers (registered and called as the
// engine calls them), their settings and their messages; the URL, pin and
// header readers of the network side.
#include <gtest/gtest.h>

#include "NuvaConfig.h"
#include "ca/CaTexts.h"
#include "invokers/CAInvoker.h"
#include "invokers/InvokerTestSupport.h"
#include "invokers/NetworkInvoker.h"
#include "net/NetTexts.h"
#include "net/Transport.h"
#include "net/Wire.h"

namespace nuva {
namespace {

using test::A;
using test::ComponentConfig;
using test::ReadAll;
using test::TSettings;
using test::TTempDir;
using test::WriteAll;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

// 150000 bytes seal as chunks of 65536, 65536 and 18928: the first two end here.
constexpr size_t kChunkCut = 60 + 2 * (65536 + 16);

const char kHexKey[] = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";

struct TCallResult {
    bool ok;
    AnsiString msg;
};

TCallResult InitCA(TCAInvoker& ca, const TSettings& settings) {
    TBstr config = ComponentConfig("CA", settings), msg;
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(ca.Init(config.Get(), *msg.InOut(), ok), S_OK);
    return {ok != VARIANT_FALSE, msg.ToAnsi()};
}

TCallResult Transform(TCAInvoker& ca, bool encrypt, const AnsiString& source,
                      const AnsiString& target) {
    TBstr src = TBstr::FromAnsi(source), dst = TBstr::FromAnsi(target), msg;
    VARIANT_BOOL ok = VARIANT_TRUE;
    const HRESULT hr = encrypt ? ca.EncryptFile(src.Get(), *dst.InOut(), *msg.InOut(), ok)
                               : ca.DecryptFile(src.Get(), *dst.InOut(), *msg.InOut(), ok);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(dst.ToAnsi(), target) << "targetFile is never changed";
    return {ok != VARIANT_FALSE, msg.ToAnsi()};
}

// Every entry of a directory but "." and "..", sorted.
std::vector<AnsiString> Names(const AnsiString& dir) {
    std::vector<AnsiString> names;
    for (const TDirEntry& e : ListDirectoryEntries(dir))
        if (e.name != "." && e.name != "..") names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(NuvaCA, InitReadsTheKeySettings) {
    TTempDir dir;
    WriteAll(dir / "hex.key", AnsiString("  ") + kHexKey + "\r\n");
    WriteAll(dir / "raw.key", std::string(32, '\x07'));
    WriteAll(dir / "short.key", std::string(31, '\x07'));
    TCAInvoker ca("NuvaCA.dll", "CAImpl");
    ASSERT_TRUE(ca.Ready());
    struct {
        const char* name;
        TSettings settings;
        bool ok;
        AnsiString msg;
    } const cases[] = {
        {"hex key file", {{"KEY_FILE", dir / "hex.key"}}, true, A(ca::texts::kInitDone)},
        {"raw key file", {{"KEY_FILE", dir / "raw.key"}}, true, A(ca::texts::kInitDone)},
        {"passphrase", {{"PASSPHRASE", A(u"口令")}, {"ITERATIONS", "1000"}}, true,
         A(ca::texts::kInitDone)},
        {"no key", {}, false, A(ca::texts::kNoKey)},
        {"two keys", {{"KEY_FILE", dir / "hex.key"}, {"PASSPHRASE", "x"}}, false,
         A(ca::texts::kTwoKeys)},
        {"short key file", {{"KEY_FILE", dir / "short.key"}}, false,
         A(ca::texts::kKeyFileInvalid) + dir / "short.key"},
        {"empty passphrase", {{"PASSPHRASE", " "}}, false, A(ca::texts::kEmptyPassphrase)},
        {"bad iterations", {{"PASSPHRASE", "x"}, {"ITERATIONS", "0"}}, false,
         A(u"配置项<ITERATIONS>的值无效:0")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TCallResult r = InitCA(ca, c.settings);
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.msg, c.msg);
    }
    const TCallResult missing = InitCA(ca, {{"KEY_FILE", dir / "none.key"}});
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.msg.rfind(A(ca::texts::kKeyFileUnreadable) + dir / "none.key:", 0), 0u)
        << missing.msg;
}

TEST(NuvaCA, EncryptsAndDecryptsThroughTheInvoker) {
    TTempDir dir;
    WriteAll(dir / "k.key", kHexKey);
    TCAInvoker ca("NuvaCA.dll", "CAImpl");
    ASSERT_TRUE(InitCA(ca, {{"KEY_FILE", dir / "k.key"}}).ok);
    const AnsiString plain = dir / A(u"交易.zip"), sealed = dir / "ABC.CA", back = dir / "back.zip";
    WriteAll(plain, A(u"明文数据") + std::string(200000, 'z'));
    const TCallResult enc = Transform(ca, true, plain, sealed);
    EXPECT_TRUE(enc.ok) << enc.msg;
    EXPECT_EQ(ReadAll(sealed).compare(0, 8, "NUVA-GCM"), 0);
    const TCallResult dec = Transform(ca, false, sealed, back);
    EXPECT_TRUE(dec.ok) << dec.msg;
    EXPECT_EQ(ReadAll(back), ReadAll(plain));
}

TEST(NuvaCA, EveryFailureIsOkFalseWithItsTextAndLeavesNoOutput) {
    TTempDir dir;
    WriteAll(dir / "k.key", kHexKey);
    WriteAll(dir / "other.key", std::string(32, 'o'));
    WriteAll(dir / "plain", std::string(150000, 'p'));
    TCAInvoker ca("NuvaCA.dll", "CAImpl");
    ASSERT_TRUE(InitCA(ca, {{"KEY_FILE", dir / "k.key"}}).ok);
    ASSERT_TRUE(Transform(ca, true, dir / "plain", dir / "good.CA").ok);
    const std::string good = ReadAll(dir / "good.CA");
    std::string tampered = good;
    tampered[70000] ^= 1;
    WriteAll(dir / "tampered.CA", tampered);
    WriteAll(dir / "cut.CA", good.substr(0, kChunkCut));
    WriteAll(dir / "plain.CA", "not sealed at all");

    const AnsiString decryptFailed = A(ca::texts::kDecryptFailed);
    struct {
        const char* name;
        AnsiString source;
        AnsiString msg;
    } const cases[] = {
        {"tampered", dir / "tampered.CA", decryptFailed + A(ca::texts::kDamaged)},
        {"cut at a chunk boundary", dir / "cut.CA", decryptFailed + A(ca::texts::kTruncated)},
        {"not sealed", dir / "plain.CA", decryptFailed + A(ca::texts::kNotEncrypted)},
        {"missing", dir / "none.CA", decryptFailed + A(ca::texts::kSourceMissing) + dir / "none.CA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TCallResult r = Transform(ca, false, c.source, dir / "out.zip");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.msg, c.msg);
        EXPECT_FALSE(FileExists(dir / "out.zip"));
    }
    ASSERT_TRUE(InitCA(ca, {{"KEY_FILE", dir / "other.key"}}).ok);
    const TCallResult wrongKey = Transform(ca, false, dir / "good.CA", dir / "out.zip");
    EXPECT_FALSE(wrongKey.ok);
    EXPECT_EQ(wrongKey.msg, decryptFailed + A(ca::texts::kWrongKey));
    // No temporary file stayed either.
    EXPECT_EQ(Names(dir.Path()), (std::vector<AnsiString>{"cut.CA", "good.CA", "k.key",
                                                          "other.key", "plain", "plain.CA",
                                                          "tampered.CA"}));
}

TEST(NuvaCA, RefusesWorkBeforeASuccessfulInit) {
    TTempDir dir;
    WriteAll(dir / "plain", "x");
    TCAInvoker ca("NuvaCA.dll", "CAImpl");
    EXPECT_FALSE(InitCA(ca, {}).ok);
    const TCallResult r = Transform(ca, true, dir / "plain", dir / "out.CA");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.msg, A(ca::texts::kEncryptFailed) + A(ca::texts::kNotInitialized));
}

TEST(NuvaNet, InitReadsTheNetworkSettings) {
    TNetworkInvoker net("NuvaNet.dll", "NetworkImpl");
    ASSERT_TRUE(net.Ready());
    struct {
        const char* name;
        TSettings settings;
        bool ok;
        AnsiString msg;
    } const cases[] = {
        {"plain", {{"URL", "http://127.0.0.1:8080"}}, true,
         A(net::texts::kInitDone) + "http://127.0.0.1:8080"},
        {"everything",
         {{"URL", "https://server.example:8443/nuva/"},
          {"CONNECT_TIMEOUT", "500"},
          {"SEND_TIMEOUT", "1000"},
          {"RECEIVE_TIMEOUT", "2000"},
          {"PROXY", "http://proxy:3128"},
          {"PIN_SHA256", "sha256//" + std::string(43, 'A') + "="}},
         true, A(net::texts::kInitDone) + "https://server.example:8443/nuva/"},
        {"no URL", {}, false, A(net::texts::kNoUrl)},
        {"bad URL", {{"URL", "ftp://x"}}, false, A(net::texts::kBadUrl) + "ftp://x"},
        {"bad timeout", {{"URL", "http://h"}, {"RECEIVE_TIMEOUT", "0"}}, false,
         A(u"配置项<RECEIVE_TIMEOUT>的值无效:0")},
        {"bad pin", {{"URL", "https://h"}, {"PIN_SHA256", "abc"}}, false,
         A(net::texts::kBadPin) + "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBstr config = ComponentConfig("NETWORK", c.settings), msg;
        VARIANT_BOOL ok = VARIANT_TRUE;
        EXPECT_EQ(net.Init(config.Get(), *msg.InOut(), ok), S_OK);
        EXPECT_EQ(ok != VARIANT_FALSE, c.ok);
        EXPECT_EQ(msg.ToAnsi(), c.msg);
    }
}

// What Init hands the transport: the documented defaults where a setting
// is absent or empty, the given values otherwise.
TEST(NuvaNet, SettingsTakeTheDocumentedDefaults) {
    struct {
        const char* name;
        AnsiString xml;
        uint32_t connectMs, sendMs, receiveMs;
    } const cases[] = {
        {"absent", "<NETWORK><URL>http://h</URL></NETWORK>", 10000, 30000, 60000},
        {"empty",
         "<NETWORK><URL>http://h</URL><CONNECT_TIMEOUT></CONNECT_TIMEOUT><SEND_TIMEOUT> "
         "</SEND_TIMEOUT><RECEIVE_TIMEOUT></RECEIVE_TIMEOUT></NETWORK>",
         10000, 30000, 60000},
        {"given",
         "<NETWORK><URL>http://h</URL><CONNECT_TIMEOUT>1</CONNECT_TIMEOUT><SEND_TIMEOUT>2"
         "</SEND_TIMEOUT><RECEIVE_TIMEOUT>3600000</RECEIVE_TIMEOUT></NETWORK>",
         1, 2, 3600000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const net::TTransportSettings s = net::ReadTransportSettings(TNuvaConfig(c.xml));
        EXPECT_EQ(s.connectTimeoutMs, c.connectMs);
        EXPECT_EQ(s.sendTimeoutMs, c.sendMs);
        EXPECT_EQ(s.receiveTimeoutMs, c.receiveMs);
        EXPECT_EQ(s.host, "h");
        EXPECT_EQ(s.port, 80);
    }
}

TEST(NuvaNet, PostBeforeASuccessfulInitIsRefused) {
    TNetworkInvoker net("NuvaNet.dll", "NetworkImpl");
    TBstr header = TBstr::FromAnsi(std::string(64, ' ')), file = TBstr::FromAnsi("x"), replyHeader,
          replyFile, status, msg;
    SHORT progress = 0;
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(net.Post(header.Get(), file.Get(), *replyHeader.InOut(), *replyFile.InOut(), progress,
                       *status.InOut(), *msg.InOut(), ok),
              S_OK);
    EXPECT_FALSE(ok);
    EXPECT_EQ(msg.ToAnsi(), A(net::texts::kNotInitialized));
}

TEST(ParseUrl, TakesSchemeHostPortAndPrefix) {
    struct {
        const char* url;
        bool ok;
        const char *scheme, *host;
        int port;
        const char* prefix;
    } const cases[] = {
        {"http://127.0.0.1:8080", true, "http", "127.0.0.1", 8080, ""},
        {"HTTPS://example.com", true, "https", "example.com", 443, ""},
        {"http://h/a/b/", true, "http", "h", 80, "/a/b"},
        {"http://[::1]:99/x", true, "http", "[::1]", 99, "/x"},
        {"http://h:0", false, "", "", 0, ""},
        {"http://h:65536", false, "", "", 0, ""},
        {"http://h:", false, "", "", 0, ""},
        {"http://user@h", false, "", "", 0, ""},
        {"http://h/?q", false, "", "", 0, ""},
        {"ftp://h", false, "", "", 0, ""},
        {"h:80", false, "", "", 0, ""},
        {"http://", false, "", "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        net::TTransportSettings s;
        ASSERT_EQ(net::ParseUrl(c.url, s), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(s.scheme, c.scheme);
        EXPECT_EQ(s.host, c.host);
        EXPECT_EQ(s.port, c.port);
        EXPECT_EQ(s.prefix, c.prefix);
    }
}

TEST(ParsePin, TakesTheBase64OfAHash) {
    const std::string hash(32, '\xAB');
    const std::string b64 = net::Base64(hash);
    EXPECT_EQ(b64.size(), 44u);
    struct {
        std::string text;
        bool ok;
    } const cases[] = {
        {b64, true},
        {"sha256//" + b64, true},
        {b64.substr(0, 40), false},
        {net::Base64(std::string(31, 'x')), false},
        {b64.substr(0, 42) + "=A", false},
        {"", false},
    };
    for (const auto& c : cases) {
        std::string pin;
        EXPECT_EQ(net::ParsePin(c.text, pin), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(pin, hash);
        }
    }
}

TEST(CertificateNamesHost, MatchesNamesAddressesAndOneWildcardLabel) {
    const std::string loopback("\x7f\0\0\x01", 4);
    struct {
        const char* name;
        std::vector<std::string> dns, ips;
        const char* common;
        const char* host;
        bool match;
    } const cases[] = {
        {"IP in the names", {}, {loopback}, "", "127.0.0.1", true},
        {"other IP", {}, {loopback}, "", "127.0.0.2", false},
        {"IP only by DNS name", {"127.0.0.1"}, {}, "", "127.0.0.1", false},
        {"DNS name, any case", {"Server.Example"}, {}, "", "server.example", true},
        {"wildcard", {"*.example"}, {}, "", "a.example", true},
        {"wildcard is one label", {"*.example"}, {}, "", "a.b.example", false},
        {"wildcard needs a label", {"*.example"}, {}, "", "example", false},
        {"common name without names", {}, {}, "host.example", "host.example", true},
        {"common name ignored beside names", {"other"}, {}, "host.example", "host.example", false},
        {"IPv6 host", {}, {loopback}, "", "[::1]", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(net::CertificateNamesHost(c.dns, c.ips, c.common, c.host), c.match) << c.name;
}

TEST(WireHeader, ParsesOnlyTheStrictShape) {
    wire::THeader h;
    h.sender = A(u"发送方");
    h.typeCode = "01";
    h.hasBody = true;
    h.compressed = true;
    h.reserve = "r";
    h.date = "20250101";
    const std::string bytes = wire::BuildHeader(h);
    ASSERT_EQ(bytes.size(), 64u);
    EXPECT_EQ(bytes.substr(26, 3), "101");
    wire::THeader back;
    ASSERT_TRUE(wire::ParseHeader(bytes, back));
    EXPECT_EQ(back.sender, h.sender);
    EXPECT_EQ(back.typeCode, "01");
    EXPECT_TRUE(back.hasBody);
    EXPECT_FALSE(back.encrypted);
    EXPECT_TRUE(back.compressed);
    EXPECT_EQ(back.reserve, "r");
    EXPECT_EQ(back.date, "20250101");

    struct {
        const char* name;
        std::string bytes;
    } const bad[] = {
        {"short", bytes.substr(0, 63)},
        {"long", bytes + " "},
        {"flag x", bytes.substr(0, 27) + "x" + bytes.substr(28)},
        {"flag space", bytes.substr(0, 26) + " " + bytes.substr(27)},
    };
    for (const auto& c : bad) EXPECT_FALSE(wire::ParseHeader(c.bytes, back)) << c.name;
    EXPECT_TRUE(wire::HeaderHasBody(bytes));
    EXPECT_FALSE(wire::HeaderHasBody(bytes.substr(0, 20)));
}

}  // namespace
}  // namespace nuva
