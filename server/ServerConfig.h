// ServerConfig: nuva-server's configuration file, an XML text in UTF-8
// (converted to the system code page on reading). server/README.md shows a
// whole file.
//
//   <SERVER>
//     <LISTEN>127.0.0.1</LISTEN>    address to bind (default 127.0.0.1)
//     <PORT>8080</PORT>             port; 0 picks a free one (default 0)
//     <DATA_DIR>dir</DATA_DIR>      required: work/ (per transaction, removed after
//                                   it) and store/ (the store handler) live here
//     <MAX_BODY>n</MAX_BODY>        largest request body in bytes (default 256 MiB)
//     <MAX_EXTRACT>n</MAX_EXTRACT>  largest unpacked size of a request archive, and
//                                   <MAX_ITEMS> the most entries (defaults 1 GiB, 10000)
//     <WORKERS>n</WORKERS>          worker threads; 0: four per processor, at least 8
//     <HEADER_TIMEOUT_MS>n</HEADER_TIMEOUT_MS>  a connection's request headers must be
//                                   in within this time of its accept (default 10000)
//     <BODY_TIMEOUT_MS>n</BODY_TIMEOUT_MS> <BODY_MIN_RATE>n</BODY_MIN_RATE>  the body
//                                   then within BODY_TIMEOUT_MS (default 30000) plus a
//                                   second per BODY_MIN_RATE bytes (default 65536) of its
//                                   declared length (MAX_BODY when none is declared)
//     <MAX_CONNECTIONS>n</MAX_CONNECTIONS>  most open connections (default 2048) and
//     <MAX_CONNECTIONS_PER_CLIENT>n</MAX_CONNECTIONS_PER_CLIENT>  from one client
//                                   address (default 128); more are refused at once
//     <TLS_CERT>pem</TLS_CERT> <TLS_KEY>pem</TLS_KEY>   both: serve HTTPS
//     <CA>...</CA>                  the key, as NuvaCA's CA element (KEY_FILE or
//                                   PASSPHRASE); needed for encrypted requests/replies
//     <TYPE>                        one per type code
//       <CODE>01</CODE>             the type code (1-4 bytes)
//       <HANDLER>echo</HANDLER>     echo | store | reject
//       <REPLY_FLAGS>111</REPLY_FLAGS>  has body, encrypted, compressed of the reply
//                                   ("0"/"1" each); default: the request's flags
//       <STATUS>403</STATUS> <MESSAGE>text</MESSAGE>   reject: HTTP status 400-599
//                                   (default 403) and text (default "交易被拒绝")
//       <RECEIPT_NAME>name</RECEIPT_NAME>  store: the receipt item (default receipt.txt)
//       Test aids, for clients' failure paths:
//       <DELAY_MS>n</DELAY_MS>      wait before answering
//       <FAULT>f</FAULT>            truncate: close the connection halfway through the
//                                   reply; short_header: a reply body of 10 bytes;
//                                   tamper: change one byte of the reply data;
//                                   cut: drop the last 20 bytes of the reply data
//       <REPLY_SENDER>s</REPLY_SENDER>  the reply header's sender, as it stands
//     </TYPE>
//   </SERVER>
//
// Errors: LoadServerConfig raises EConfigError (system code page text).
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "NuvaConfig.h"
#include "ca/CryptFile.h"

namespace nuva::server {

enum class THandler { Echo, Store, Reject };
enum class TFault { None, Truncate, ShortHeader, Tamper, Cut };

struct TReplyFlags {
    bool hasBody, encrypted, compressed;
};

struct TTypeConfig {
    AnsiString code;
    THandler handler = THandler::Echo;
    std::optional<TReplyFlags> replyFlags;  // none: the request's
    int status = 403;
    AnsiString message;  // system code page
    AnsiString receiptName = "receipt.txt";
    uint32_t delayMs = 0;
    TFault fault = TFault::None;
    std::optional<AnsiString> replySender;
};

struct TServerConfig {
    AnsiString listen = "127.0.0.1";
    uint32_t port = 0;
    AnsiString dataDir;  // with a trailing delimiter
    uint64_t maxBody = 256ull << 20;
    uint64_t maxExtract = 1ull << 30;
    uint32_t maxItems = 10000;
    uint32_t workers = 0;
    uint32_t headerTimeoutMs = 10000;
    uint32_t bodyTimeoutMs = 30000;
    uint32_t bodyMinRate = 65536;  // bytes per second
    uint32_t maxConnections = 2048;
    uint32_t maxConnectionsPerClient = 128;
    AnsiString tlsCert, tlsKey;
    std::optional<ca::TCryptKey> key;
    std::map<AnsiString, TTypeConfig> types;

    AnsiString WorkRoot() const { return dataDir + "work"; }
    AnsiString StoreRoot() const { return dataDir + "store"; }
};

// Parses the configuration text (system code page).
TServerConfig ParseServerConfig(const AnsiString& xml);
// Reads the file (UTF-8) and parses it; creates DATA_DIR and its work/.
TServerConfig LoadServerConfig(const AnsiString& path);

}  // namespace nuva::server
