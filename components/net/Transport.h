// Transport: the seam between NuvaNet and the platform's HTTP client:
// libcurl natively (CurlTransport.cpp), WinHTTP in synchronous mode on
// Windows (WinHttpTransport.cpp), chosen by CMake. One exchange at a time:
// a request body pulled from a source, the response body pushed to a sink as
// it arrives, progress reported on the calling thread.
//
// Nothing happens at load time: a transport (and with it the library's
// global state and session) is made by Create, which NuvaNet calls from its
// Init, never from DllMain or a global constructor.
//
// Errors: ETransportError with a TNetFault and the system's detail (English
// or the system's text, for the log and the message's tail). A response of
// any status is no error: the sink sees the status first.
//
// Threads: one transport is used by one thread at a time; its callbacks run
// on that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace nuva {
class TNuvaConfig;
}

namespace nuva::net {

struct TTransportSettings {
    std::string scheme;  // "http" or "https"
    std::string host;    // a name, an IPv4 address, or an IPv6 address in brackets
    uint16_t port = 0;
    std::string prefix;  // path prefix, empty or starting with "/", no trailing "/"
    uint32_t connectTimeoutMs = 10000;
    uint32_t sendTimeoutMs = 30000;     // longest pause while the request goes out
    uint32_t receiveTimeoutMs = 60000;  // longest wait for (the next part of) the reply
    std::string proxy;                  // "host:port" or a URL; empty: direct, whatever
                                        // the environment says
    AnsiString caFile;       // HTTPS: PEM certificates to trust instead of the system's
    std::string pinSha256;   // HTTPS: 32 bytes, the SHA-256 of the server certificate's
                             // public key (SubjectPublicKeyInfo); replaces chain checks
};

// Parses scheme://host[:port][/prefix] (http or https; default ports 80 and
// 443). False for anything else (user info, query, fragment, bad port).
bool ParseUrl(const std::string& url, TTransportSettings& settings);

// The transport settings of a NETWORK element (components/README.md): the
// URL, the three timeouts (the documented defaults where a setting is absent
// or empty), PROXY, CA_FILE and PIN_SHA256. Raises EConfigError with the
// setting's message when the URL is missing or bad, a timeout is out of
// range, or the pin is not one.
TTransportSettings ReadTransportSettings(const nuva::TNuvaConfig& config);

// A pin as configured: the base64 of the 32-byte hash, optionally after
// "sha256//" (the form that `openssl pkey -pubin -outform der | openssl dgst
// -sha256 -binary | base64` prints). False when it is not one.
bool ParsePin(const std::string& text, std::string& pin);

// Whether a certificate with these subject alternative names (DNS names;
// IP addresses as 4 raw bytes) or, when it has none, this common name is a
// certificate for `host`: names compare without regard to ASCII case, and
// "*." at the start of a name stands for exactly one label. An IPv4 host
// matches only an IP address, an IPv6 host nothing. For the transports that
// check names themselves (WinHTTP with a CA file: Wine does not match IP
// addresses).
bool CertificateNamesHost(const std::vector<std::string>& dnsNames,
                          const std::vector<std::string>& ipAddresses,
                          const std::string& commonName, const std::string& host);
std::string Base64(const std::string& bytes);

enum class TNetFault {
    Resolve,    // the host name is unknown
    Refused,    // nothing listens, or the connection was reset while connecting
    Timeout,    // a connect, send or receive timeout
    Tls,        // the TLS handshake or the certificate check failed
    Pinned,     // the server's key is not the pinned one
    Truncated,  // the connection ended before the announced length
    Broken,     // the connection broke (reset, closed without a reply)
    Aborted,    // the sink or the source gave up
    Other,
};

class ETransportError : public Exception {
  public:
    ETransportError(TNetFault fault, const AnsiString& detail) : Exception(detail), fault_(fault) {}
    TNetFault Fault() const { return fault_; }

  private:
    TNetFault fault_;
};

// The request body, read from the start to Size() once per exchange.
class TBodySource {
  public:
    virtual ~TBodySource() = default;
    virtual uint64_t Size() = 0;
    // Up to `capacity` bytes; 0 only at the end. May throw (the exchange
    // ends with Aborted and the source's error is kept by the caller).
    virtual size_t Read(uint8_t* buffer, size_t capacity) = 0;
};

// The response body.
class TBodySink {
  public:
    virtual ~TBodySink() = default;
    // Once, before any Write: the status and the announced length (-1 when
    // none). False aborts the exchange.
    virtual bool Begin(int status, int64_t length) = 0;
    // The next bytes of the body. False aborts the exchange.
    virtual bool Write(const uint8_t* data, size_t size) = 0;
};

// Bytes moved so far; `receiveTotal` is -1 until the response announces it.
using TProgress = std::function<void(uint64_t sent, uint64_t sendTotal, uint64_t received,
                                     int64_t receiveTotal)>;

class TTransport {
  public:
    // A transport for these settings (its session made now). Raises
    // ETransportError when the platform cannot make one.
    static std::unique_ptr<TTransport> Create(const TTransportSettings& settings);
    virtual ~TTransport() = default;

    // One exchange: POST of `body` (or GET when it is null) to the settings'
    // prefix + `path`. Returns after the sink saw the whole body; raises
    // ETransportError otherwise (also when the sink aborted: Aborted).
    virtual void Exchange(const std::string& path, TBodySource* body, TBodySink& sink,
                          const TProgress& progress) = 0;
};

}  // namespace nuva::net
