// Wire: how one transaction travels between NuvaNet.dll and nuva-server.
// Both sides read and write it through this header.
//
// One HTTP/1.1 exchange per transaction, with the server named by the URL
// setting (scheme://host[:port][/prefix]):
//
//   exchange     method and path         body
//   ----------   ---------------------   --------------------------------------------
//   transaction  POST prefix/transaction offset 0, 64 bytes: the transport header
//                Content-Type:           offset 64, n bytes: the data file, n = 0 when
//                application/octet-stream   the header's has-body column is "0" (then
//                                           the file it names need not exist)
//   its reply    200                     offset 0, 64 bytes: the reply header
//                application/octet-stream offset 64, m bytes: the reply file, m = 0
//                                           when the reply header's has-body column
//                                           is "0"
//   a failure    any other status        a short UTF-8 text (the reason; at most
//                text/plain;charset=utf-8   kMaxErrorText bytes are read)
//   health       GET prefix/health       200 and the text "ok"
//
// Both bodies carry Content-Length. The headers travel in the bodies, never
// in HTTP header fields (those are Latin-1; ours are GBK).
//
// The transport header (64 bytes, system code page, no terminator):
//
//   columns  width  field
//   1-22     22     sender code, padded with spaces
//   23-26     4     type code, padded
//   27        1     has body    "1" / "0"
//   28        1     encrypted   "1" / "0"
//   29        1     compressed  "1" / "0"
//   30-56    27     reserve, padded
//   57-64     8     date yyyymmdd
//
// Status codes of nuva-server: 400 a malformed request (header, data,
// archive, decryption), 404 an unknown type code, 413 a body over the
// configured maximum, 500 a failure of its own, and whatever a `reject`
// handler is configured to answer.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Errors.h"

namespace nuva::wire {

constexpr size_t kHeaderSize = 64;         // bytes
constexpr size_t kMaxErrorText = 4096;     // bytes of a failure's text that are read
constexpr char kTransactionPath[] = "/transaction";
constexpr char kHealthPath[] = "/health";
constexpr char kHealthText[] = "ok";
constexpr char kDataType[] = "application/octet-stream";
constexpr char kTextType[] = "text/plain; charset=utf-8";

struct TField {
    size_t column;  // first column, from 1
    size_t width;   // bytes
};
constexpr TField kSender = {1, 22};
constexpr TField kTypeCode = {23, 4};
constexpr TField kHasBody = {27, 1};
constexpr TField kEncrypted = {28, 1};
constexpr TField kCompressed = {29, 1};
constexpr TField kReserve = {30, 27};
constexpr TField kDate = {57, 8};

// A header's fields; the texts trimmed.
struct THeader {
    AnsiString sender;
    AnsiString typeCode;
    bool hasBody = false;
    bool encrypted = false;
    bool compressed = false;
    AnsiString reserve;
    AnsiString date;
};

// Reads a header strictly: exactly kHeaderSize bytes and each flag column
// "0" or "1". False (and `header` unspecified) otherwise.
bool ParseHeader(const std::string& bytes, THeader& header);

// The 64 bytes of `header`: each text padded with spaces and cut to its
// width in bytes.
std::string BuildHeader(const THeader& header);

// Whether the has-body column of a (possibly short) header reads "1".
bool HeaderHasBody(const std::string& bytes);

}  // namespace nuva::wire
