// Transaction: what nuva-server does with one request, apart from HTTP. The
// request is the 64-byte transport header (net/Wire.h) and the data file
// (the body's bytes after the header); the outcome is either a reply (header
// and data file) or an error status with a short text.
//
// Every byte of the request is hostile. The header must have the strict
// shape, its sender must be one safe name (the engine's rule), its type code
// configured; the data must match the has-body flag; decryption, the archive
// and its size limits are checked before anything is unpacked; names that
// become files are safe names; nothing is written outside `workDir` and the
// store directory. Any failure is an error outcome, never an exception.
//
// Outcomes (status, text):
//   400 "请求报文头格式错误"               the header is not 64 bytes with "0"/"1" flags
//   400 "请求报文头中的发送方代码不合法:"+s the sender is not one safe name
//   404 "未知的交易类型:"+t                no TYPE with this code
//   400 "请求报文头标明无数据,却带有数据"  has-body "0" and data follows
//   400 "请求数据解密失败:"+reason         the CA file format refused the data
//   400 "请求数据无法解包:"+reason         not an archive, too large, too many
//                                          entries, an entry not extracted
//   400 "请求数据解密失败:加密文件的版本或参数不受支持"
//                                          sealed with a passphrase and PBKDF2
//                                          rounds other than the configured
//                                          ones (refused before any key is
//                                          derived)
//   500 "服务器内部错误:"+token             a failure of the server's own (also
//                                          encrypted data and no CA key); the
//                                          reason goes to the log only
//   the TYPE's status and message          the reject handler
//
// Threads: any number of transactions at once, each with its own workDir.
#pragma once

#include <string>

#include "ServerConfig.h"

namespace nuva::server {

struct TOutcome {
    int status = 500;
    std::string text;        // UTF-8, when status is not 200
    std::string logText;     // UTF-8, for the log line when it says more than text
    std::string header;      // the reply header (200; 10 bytes with FAULT short_header)
    AnsiString replyFile;    // the reply data inside workDir; empty: none
    TFault fault = TFault::None;  // how the HTTP layer sends the reply
    uint32_t delayMs = 0;    // how long it waits first
    AnsiString sender;       // for the log: the request header's fields as read
    AnsiString typeCode;
};

// Runs one transaction. `workDir` (with a trailing delimiter) exists, is
// empty and belongs to this transaction; the caller removes it afterwards.
TOutcome RunTransaction(const TServerConfig& config, const std::string& header,
                        const AnsiString& dataFile, const AnsiString& workDir);

// Removes a directory tree of files and directories (the work directories),
// read-only ones too.
void RemoveTree(const AnsiString& dir);

}  // namespace nuva::server
