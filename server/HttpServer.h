// HttpServer: nuva-server's HTTP side over GNU libmicrohttpd: the routes of
// net/Wire.h (POST prefix-less /transaction, GET /health), HTTPS when the
// configuration names a certificate and a key, and one log line per
// transaction:
//
//   2025-06-01 12:00:00 127.0.0.1:40000 sender=ABC type=01 in=1234 out=5678 status=200 ok 12ms
//
// (UTF-8; an error's text instead of "ok"; in and out are body bytes; the
// fields escaped as LogField says).
//
// Connections cost no thread: one event thread reads requests and writes
// replies for all of them; a request's work (decryption, unpacking, the
// handler, packing, encryption) runs on a bounded worker pool once its body
// is in. Every connection has deadlines (the headers, then the body) and
// the open connections are limited in all and per client address; a
// connection that misses a deadline is closed, one over a limit refused as
// it comes, and both are logged (server/README.md).
//
// Threads: Run blocks the calling thread until Stop, which any thread (a
// signal watcher) may call; running transactions finish first.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ServerConfig.h"

namespace nuva::server {

using TLogLine = std::function<void(const std::string& line)>;

class THttpServer {
  public:
    // `log`: the transaction and connection lines (standard output);
    // `notice`: the server's own messages (standard error).
    THttpServer(const TServerConfig& config, TLogLine log, TLogLine notice);
    ~THttpServer();
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    // Binds the configured address and port (a free port for 0) and returns
    // the port; raises EConfigError when it cannot (or when the TLS
    // certificate or key cannot be loaded).
    int Bind();
    // Serves until Stop; in-flight transactions finish before it returns.
    void Run();
    void Stop();

  private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace nuva::server
