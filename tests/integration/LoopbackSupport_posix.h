// Raw HTTP on the loopback interface for the POSIX tests, so that what they
// check holds whatever HTTP library the other side uses: a client that sends
// bytes exactly as given (a request cut short included) and reads what comes
// back, and a one-shot stub server that answers one request with bytes given
// by the test (a reply no real server would send). Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace nuva::test {

constexpr int kLoopbackWaitMs = 10000;  // the longest any single wait lasts

// Waits for `fd` to become readable; false after kLoopbackWaitMs.
inline bool WaitReadable(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, kLoopbackWaitMs) > 0;
}

// Sends all of `bytes`; false when the peer is gone.
inline bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Reads until the peer closes, an error, or a wait runs out.
inline std::string ReadUntilClosed(int fd) {
    std::string got;
    char buffer[4096];
    while (WaitReadable(fd)) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

// How LoopbackExchange ends its side after the request.
enum class TAfterRequest {
    KeepOpen,     // the peer closes (a request with "Connection: close")
    CloseSending  // the peer sees the end of the stream at once
};

// Connects to 127.0.0.1:`port`, sends `request` and returns everything the
// peer sent until it closed. Empty when no connection could be made.
inline std::string LoopbackExchange(int port, const std::string& request,
                                    TAfterRequest after = TAfterRequest::KeepOpen) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return std::string();
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        SendAll(fd, request)) {
        if (after == TAfterRequest::CloseSending) shutdown(fd, SHUT_WR);
        reply = ReadUntilClosed(fd);
    }
    close(fd);
    return reply;
}

// The status code of an HTTP/1.x response; 0 when `response` is not one.
inline int HttpStatus(const std::string& response) {
    if (response.compare(0, 7, "HTTP/1.") != 0 || response.size() < 12) return 0;
    return std::atoi(response.substr(9, 3).c_str());
}

// Accepts one connection on a free loopback port (waiting kLoopbackWaitMs at
// most), reads one request (its head and a body of its Content-Length),
// answers `response` and closes. The request as received is kept.
class TStubHttpServer {
  public:
    explicit TStubHttpServer(std::string response) : response_(std::move(response)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = 0;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TStubHttpServer() {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
    }
    TStubHttpServer(const TStubHttpServer&) = delete;
    TStubHttpServer& operator=(const TStubHttpServer&) = delete;

    // 0 when no port could be had.
    int Port() const { return port_; }
    // The request, once the exchange is over.
    std::string Request() {
        if (thread_.joinable()) thread_.join();
        return request_;
    }

  private:
    void Serve() {
        if (!WaitReadable(listener_)) return;
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        char buffer[4096];
        size_t headEnd = std::string::npos, wanted = std::string::npos;
        while (request_.size() < wanted && WaitReadable(fd)) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request_.append(buffer, static_cast<size_t>(n));
            if (headEnd == std::string::npos &&
                (headEnd = request_.find("\r\n\r\n")) != std::string::npos) {
                std::string head = request_.substr(0, headEnd);
                for (char& c : head)
                    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
                const size_t length = head.find("\r\ncontent-length:");
                wanted = headEnd + 4 +
                         (length == std::string::npos
                              ? 0
                              : std::strtoul(head.c_str() + length + 17, nullptr, 10));
                if (head.find("\r\nexpect: 100-continue") != std::string::npos)
                    SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
            }
        }
        SendAll(fd, response_);
        shutdown(fd, SHUT_WR);
        close(fd);
    }

    std::string response_;
    std::string request_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace nuva::test
