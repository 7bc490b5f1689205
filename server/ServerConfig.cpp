#include "ServerConfig.h"

#include "ca/CaKey.h"
#include "platform/Platform.h"
#include "util/XmlUtil.h"
#include "util/util.h"

namespace nuva::server {

namespace {

constexpr char16_t kDefaultRejection[] = u"交易被拒绝";
constexpr char16_t kNoDataDir[] = u"服务器配置缺少数据目录<DATA_DIR>";
constexpr char16_t kDuplicateType[] = u"交易类型重复定义:";
constexpr char16_t kTlsPair[] = u"<TLS_CERT>和<TLS_KEY>必须同时配置";

TTypeConfig ParseType(const TNuvaConfig& c) {
    TTypeConfig t;
    t.code = c.Text("CODE");
    if (t.code.empty() || t.code.size() > 4) throw BadSetting("CODE", t.code);
    const AnsiString handler = AnsiLowerCaseAscii(c.Text("HANDLER", "echo"));
    if (handler == "echo")
        t.handler = THandler::Echo;
    else if (handler == "store")
        t.handler = THandler::Store;
    else if (handler == "reject")
        t.handler = THandler::Reject;
    else
        throw BadSetting("HANDLER", handler);
    if (c.Has("REPLY_FLAGS")) {
        const AnsiString f = c.Text("REPLY_FLAGS");
        if (f.size() != 3 || f.find_first_not_of("01") != AnsiString::npos)
            throw BadSetting("REPLY_FLAGS", f);
        t.replyFlags = TReplyFlags{f[0] == '1', f[1] == '1', f[2] == '1'};
    }
    t.status = static_cast<int>(c.Number("STATUS", 403, 400, 599));
    t.message = c.Text("MESSAGE", WideToAnsi(kDefaultRejection));
    t.receiptName = c.Text("RECEIPT_NAME", t.receiptName);
    t.delayMs = c.Number("DELAY_MS", 0, 0, 600000);
    const AnsiString fault = AnsiLowerCaseAscii(c.Text("FAULT", "none"));
    if (fault == "none")
        t.fault = TFault::None;
    else if (fault == "truncate")
        t.fault = TFault::Truncate;
    else if (fault == "short_header")
        t.fault = TFault::ShortHeader;
    else if (fault == "tamper")
        t.fault = TFault::Tamper;
    else if (fault == "cut")
        t.fault = TFault::Cut;
    else
        throw BadSetting("FAULT", fault);
    if (c.Has("REPLY_SENDER")) {
        // As it stands: untrimmed, so that a test can send any bytes.
        TXmlNode node;
        GetElement(c.Xml(), "REPLY_SENDER", node);
        t.replySender = XmlUnescape(node.Inner);
    }
    return t;
}

}  // namespace

TServerConfig ParseServerConfig(const AnsiString& xml) {
    // The CA and TYPE elements are read apart, so that their children are
    // not taken for the server's own.
    const TNuvaConfig own(xml);
    TServerConfig config;
    for (const TXmlNode& node : GetElements(xml, "TYPE")) {
        TTypeConfig t = ParseType(TNuvaConfig(node.Outer));
        if (config.types.count(t.code))
            throw EConfigError(WideToAnsi(kDuplicateType) + t.code);
        config.types.emplace(t.code, std::move(t));
    }
    const AnsiString ca = own.Element("CA");
    if (!ca.empty()) config.key = ca::ReadCryptKey(TNuvaConfig(ca));

    config.listen = own.Text("LISTEN", config.listen);
    config.port = own.Number("PORT", 0, 0, 65535);
    const AnsiString dataDir = own.Text("DATA_DIR");
    if (dataDir.empty()) throw EConfigError(WideToAnsi(kNoDataDir));
    config.dataDir = IncludeTrailingPathDelimiter(dataDir);
    config.maxBody = own.Number("MAX_BODY", 256u << 20, 1, 0xFFFFFFFFu);
    config.maxExtract = own.Number("MAX_EXTRACT", 1u << 30, 1, 0xFFFFFFFFu);
    config.maxItems = own.Number("MAX_ITEMS", 10000, 1, 1000000);
    config.workers = own.Number("WORKERS", 0, 0, 1024);
    config.headerTimeoutMs = own.Number("HEADER_TIMEOUT_MS", config.headerTimeoutMs, 100, 3600000);
    config.bodyTimeoutMs = own.Number("BODY_TIMEOUT_MS", config.bodyTimeoutMs, 100, 3600000);
    config.bodyMinRate = own.Number("BODY_MIN_RATE", config.bodyMinRate, 1, 0xFFFFFFFFu);
    config.maxConnections = own.Number("MAX_CONNECTIONS", config.maxConnections, 1, 1000000);
    config.maxConnectionsPerClient =
        own.Number("MAX_CONNECTIONS_PER_CLIENT", config.maxConnectionsPerClient, 1, 1000000);
    config.tlsCert = own.Text("TLS_CERT");
    config.tlsKey = own.Text("TLS_KEY");
    if (config.tlsCert.empty() != config.tlsKey.empty()) throw EConfigError(WideToAnsi(kTlsPair));
    return config;
}

TServerConfig LoadServerConfig(const AnsiString& path) {
    TServerConfig config = ParseServerConfig(Utf8ToAnsi(LoadFileText(path)));
    ForceDirectories(config.WorkRoot());
    return config;
}

}  // namespace nuva::server
