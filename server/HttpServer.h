// HttpServer: nuva-server's HTTP side over cpp-httplib: the routes of
// net/Wire.h (POST prefix-less /transaction, GET /health), a worker pool
// sized to the machine, one transaction per connection (no keep-alive, so
// that a waiting client never holds a worker between transactions), HTTPS
// when the configuration names a certificate and a key, and one log line per
// transaction:
//
//   2025-06-01 12:00:00 127.0.0.1:40000 sender=ABC type=01 in=1234 out=5678 status=200 ok 12ms
//
// (UTF-8; an error's text instead of "ok"; in and out are body bytes).
//
// Threads: Run blocks the calling thread until Stop, which any thread (a
// signal watcher) may call; transactions run on the workers.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ServerConfig.h"

namespace nuva::server {

using TLogLine = std::function<void(const std::string& line)>;

class THttpServer {
  public:
    THttpServer(const TServerConfig& config, TLogLine log);
    ~THttpServer();
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    // Binds the configured address and port (a free port for 0) and returns
    // the port; raises EConfigError when it cannot.
    int Bind();
    // Serves until Stop; in-flight transactions finish before it returns.
    void Run();
    void Stop();

  private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace nuva::server
