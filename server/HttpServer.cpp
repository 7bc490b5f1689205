#include "HttpServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_set>
#include <vector>

#include "ServerSupport.h"
#include "Transaction.h"
#include "net/Wire.h"
#include "platform/Platform.h"
#include "platform/Stream.h"

namespace nuva::server {

namespace {

using TClock = std::chrono::steady_clock;

constexpr size_t kPiece = 64 * 1024;        // bytes per write of a reply
constexpr unsigned kIdleTimeoutSeconds = 60;  // longest pause while a reply goes out
constexpr int kSweepMs = 250;               // how often the deadlines are looked at
constexpr unsigned kSpareConnections = 16;  // the library's own limit, above ours
constexpr unsigned kLibraryMessagesPerMinute = 10;
constexpr char16_t kTooLarge[] = u"请求数据超过服务器允许的大小";
constexpr char16_t kIncomplete[] = u"请求数据不完整";
constexpr char16_t kCannotBind[] = u"无法监听地址:";  // + address:port
constexpr char16_t kNoTls[] = u"无法加载TLS证书或私钥:";  // + paths

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string PeerText(const sockaddr* address) {
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (address && address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
    } else if (address && address->sa_family == AF_INET6) {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(address);
        inet_ntop(AF_INET6, &in->sin6_addr, host, sizeof host);
        port = ntohs(in->sin6_port);
    }
    return std::string(host) + ":" + std::to_string(port);
}

// The client address alone (the per-address limit's key).
std::string HostOf(const std::string& peer) {
    return peer.substr(0, peer.rfind(':'));
}

// One transaction's work directory, removed with everything in it.
class TWorkDir {
  public:
    explicit TWorkDir(const AnsiString& root) {
        path_ = root + PathDelim + "tx-" + UniqueToken() + PathDelim;
        if (!ForceDirectories(path_)) throw EFCreateError(path_, LastErrorText());
    }
    ~TWorkDir() { RemoveTree(path_); }
    TWorkDir(const TWorkDir&) = delete;
    TWorkDir& operator=(const TWorkDir&) = delete;
    const AnsiString& Path() const { return path_; }

  private:
    AnsiString path_;
};

// The worker pool: a fixed number of threads and a queue of jobs. The queue
// is bounded by the connections (one job per transaction, one clean-up per
// work directory).
class TWorkerPool {
  public:
    explicit TWorkerPool(size_t threads) {
        for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    }
    ~TWorkerPool() { Join(); }
    void Post(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        ready_.notify_one();
    }
    // Runs the queued jobs to their end, then ends the threads.
    void Join() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        ready_.notify_all();
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
    }

  private:
    void Work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

// What one transaction's log line needs.
struct TLogEntry {
    std::string peer;
    AnsiString sender, typeCode;
    uint64_t in = 0, out = 0;
    int status = 0;
    std::string result;  // UTF-8
    TClock::time_point start = TClock::now();

    std::string Line() const {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start);
        return Now() + " " + peer + " sender=" + LogAnsiField(sender, true) +
               " type=" + LogAnsiField(typeCode, true) + " in=" + std::to_string(in) +
               " out=" + std::to_string(out) + " status=" + std::to_string(status) + " " +
               LogField(result, false) + " " + std::to_string(ms.count()) + "ms";
    }
};

enum class TPhase { Headers, Body, Busy, Reply };

// One connection, from its accept to its close (the event thread's alone).
struct TConnection {
    MHD_Connection* connection = nullptr;
    std::string peer, host;
    TPhase phase = TPhase::Headers;
    TClock::time_point deadline;
    bool closing = false;
};

// One transaction, from its headers to the end of its reply. The event
// thread and one worker share it: the worker writes its outcome while the
// connection is suspended, the event thread reads it after the resume.
struct TRequest {
    TConnection* owner = nullptr;
    std::unique_ptr<TWorkDir> work;
    std::unique_ptr<TFileStream> data;  // the request data as it comes
    std::string header;                 // the request header as it comes
    uint64_t limit = 0;                 // body bytes allowed, header included
    bool failed = false;                // the request data could not be stored
    std::string failure;                // why (UTF-8, for the log)
    bool answered = false;
    bool dispatched = false;  // handed to a worker
    TOutcome outcome;
    // The reply as it goes out: header, then the data file.
    std::unique_ptr<TFileStream> file;
    uint64_t total = 0;
    uint64_t stopAt = UINT64_MAX;  // FAULT truncate: the connection ends here
    TLogEntry log;
};

}  // namespace

struct THttpServer::TImpl {
    const TServerConfig& config;
    TLogLine log, notice;
    MHD_Daemon* daemon = nullptr;
    int wake = -1;  // eventfd: a worker finished, or Stop
    std::atomic<bool> stopRequested{false};
    std::unique_ptr<TWorkerPool> pool;
    std::unordered_set<TConnection*> connections;
    std::map<std::string, unsigned> perHost;
    std::string tlsCert, tlsKey;
    std::string startError;  // what the library said while starting
    TClock::time_point messageWindow = TClock::now();
    unsigned messagesShown = 0, messagesDropped = 0;

    TImpl(const TServerConfig& c, TLogLine l, TLogLine n)
        : config(c), log(std::move(l)), notice(std::move(n)) {
        wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake < 0) throw EConfigError("eventfd: " + LastErrorText());
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        pool = std::make_unique<TWorkerPool>(config.workers ? config.workers
                                                            : std::max(8u, 4 * cores));
    }

    ~TImpl() {
        if (daemon) MHD_stop_daemon(daemon);
        pool.reset();
        if (wake >= 0) close(wake);
    }

    void Wake() {
        const uint64_t one = 1;
        (void)!write(wake, &one, sizeof one);
    }

    // The body's deadline: BODY_TIMEOUT_MS, plus a second per BODY_MIN_RATE
    // bytes of the declared length (of MAX_BODY when none is declared).
    TClock::duration BodyTime(uint64_t length) const {
        return std::chrono::milliseconds(config.bodyTimeoutMs) +
               std::chrono::milliseconds(length * 1000 / config.bodyMinRate);
    }

    void Closed(TConnection& conn, const std::string& why) {
        log(Now() + " " + conn.peer + " closed: " + why);
    }

    // ---- the library's callbacks (the event thread) ----

    static MHD_Result OnAccept(void* cls, const sockaddr* address, socklen_t) {
        auto& self = *static_cast<TImpl*>(cls);
        const std::string peer = PeerText(address);
        const auto found = self.perHost.find(HostOf(peer));
        const unsigned fromHost = found == self.perHost.end() ? 0 : found->second;
        std::string why;
        if (self.stopRequested)
            why = "the server is stopping";
        else if (self.connections.size() >= self.config.maxConnections)
            why = std::to_string(self.config.maxConnections) + " connections open (MAX_CONNECTIONS)";
        else if (fromHost >= self.config.maxConnectionsPerClient)
            why = std::to_string(fromHost) + " connections open from this address (MAX_CONNECTIONS_PER_CLIENT)";
        if (why.empty()) return MHD_YES;
        self.log(Now() + " " + peer + " refused: " + why);
        return MHD_NO;
    }

    static void OnConnection(void* cls, MHD_Connection* connection, void** context,
                             MHD_ConnectionNotificationCode code) {
        auto& self = *static_cast<TImpl*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* conn = new TConnection;
            conn->connection = connection;
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            conn->peer = PeerText(info ? info->client_addr : nullptr);
            conn->host = HostOf(conn->peer);
            conn->deadline = TClock::now() + std::chrono::milliseconds(self.config.headerTimeoutMs);
            self.connections.insert(conn);
            ++self.perHost[conn->host];
            *context = conn;
        } else if (code == MHD_CONNECTION_NOTIFY_CLOSED && *context) {
            auto* conn = static_cast<TConnection*>(*context);
            self.connections.erase(conn);
            const auto found = self.perHost.find(conn->host);
            if (found != self.perHost.end() && --found->second == 0) self.perHost.erase(found);
            delete conn;
            *context = nullptr;
        }
    }

    static TConnection* ConnectionOf(MHD_Connection* connection) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<TConnection*>(info->socket_context) : nullptr;
    }

    static MHD_Result Queue(MHD_Connection* connection, unsigned status, const std::string& text,
                            const char* type) {
        MHD_Response* response = MHD_create_response_from_buffer(
            text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
        if (!response) return MHD_NO;
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        const MHD_Result result = MHD_queue_response(connection, status, response);
        MHD_destroy_response(response);
        return result;
    }

    // An error answer of a transaction; its log line follows when the
    // request completes.
    MHD_Result Answer(MHD_Connection* connection, TRequest& request, int status,
                      const std::string& text, const std::string& logText = "") {
        request.answered = true;
        request.log.status = status;
        request.log.out = text.size();
        request.log.result = logText.empty() ? text : logText;
        request.owner->phase = TPhase::Reply;
        return Queue(connection, static_cast<unsigned>(status), text, wire::kTextType);
    }

    static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url,
                                const char* method, const char*, const char* upload,
                                size_t* uploadSize, void** context) {
        auto& self = *static_cast<TImpl*>(cls);
        auto* request = static_cast<TRequest*>(*context);
        if (!request) return self.Begin(connection, url, method, context);
        if (*uploadSize > 0) {
            self.Receive(*request, upload, *uploadSize);
            *uploadSize = 0;
            return request->log.in > request->limit ? MHD_NO : MHD_YES;
        }
        if (request->answered) return MHD_YES;
        if (!request->dispatched) return self.Dispatch(connection, *request);
        return self.Reply(connection, *request);
    }

    // The headers are in: route, and for a transaction prepare its work
    // directory and the body's deadline.
    MHD_Result Begin(MHD_Connection* connection, const char* url, const char* method,
                     void** context) {
        TConnection* conn = ConnectionOf(connection);
        if (!conn) return MHD_NO;
        conn->phase = TPhase::Reply;
        const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
        const bool post = std::strcmp(method, MHD_HTTP_METHOD_POST) == 0;
        if (get && std::strcmp(url, wire::kHealthPath) == 0)
            return Queue(connection, MHD_HTTP_OK, wire::kHealthText, wire::kTextType);
        if (!post || std::strcmp(url, wire::kTransactionPath) != 0)
            return Queue(connection, MHD_HTTP_NOT_FOUND, "HTTP 404", wire::kTextType);

        auto* request = new TRequest;
        *context = request;
        request->owner = conn;
        request->log.peer = conn->peer;
        request->limit = config.maxBody + wire::kHeaderSize;
        // A declared length over the limit is refused before one byte is read.
        uint64_t declared = request->limit;
        if (const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
            char* end = nullptr;
            errno = 0;
            const unsigned long long value = std::strtoull(length, &end, 10);
            if (errno == ERANGE || value > request->limit) {
                request->log.in = 0;
                return Answer(connection, *request, 413, Utf8(kTooLarge));
            }
            if (end != length) declared = value;
        }
        try {
            request->work = std::make_unique<TWorkDir>(config.WorkRoot());
            request->data = std::make_unique<TFileStream>(request->work->Path() + "request.data", fmCreate);
        } catch (const Exception& e) {
            const TInternalError internal = InternalError(AnsiToUtf8(e.Message()));
            return Answer(connection, *request, 500, internal.answer, internal.log);
        }
        conn->phase = TPhase::Body;
        conn->deadline = TClock::now() + BodyTime(declared);
        return MHD_YES;
    }

    void Receive(TRequest& request, const char* bytes, size_t size) {
        request.log.in += size;
        if (request.log.in > request.limit) {
            // A body without a declared length ran over: the connection closes.
            request.answered = true;
            request.log.status = 413;
            request.log.result = Utf8(kTooLarge);
            return;
        }
        if (request.failed || request.answered) return;
        const size_t toHeader = std::min(size, wire::kHeaderSize - request.header.size());
        request.header.append(bytes, toHeader);
        try {
            if (size > toHeader) request.data->WriteBuffer(bytes + toHeader, static_cast<int64_t>(size - toHeader));
        } catch (const Exception& e) {
            request.failed = true;
            request.failure = AnsiToUtf8(e.Message());
        }
    }

    // The body is in: the transaction goes to a worker, the connection waits
    // suspended (no deadline, no event) until the worker resumes it.
    MHD_Result Dispatch(MHD_Connection* connection, TRequest& request) {
        request.data.reset();
        if (request.failed) {
            const TInternalError internal = InternalError(request.failure);
            return Answer(connection, request, 500, internal.answer, internal.log);
        }
        request.owner->phase = TPhase::Busy;
        request.dispatched = true;
        MHD_suspend_connection(connection);
        pool->Post([this, connection, &request] {
            Work(request);
            MHD_resume_connection(connection);
            Wake();
        });
        return MHD_YES;
    }

    // A worker: the transaction, and the reply's file opened.
    void Work(TRequest& request) {
        TOutcome& outcome = request.outcome;
        outcome = RunTransaction(config, request.header, request.work->Path() + "request.data",
                                 request.work->Path());
        request.log.sender = outcome.sender;
        request.log.typeCode = outcome.typeCode;
        if (outcome.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(outcome.delayMs));
        if (outcome.status != 200) return;
        try {
            request.total = outcome.header.size();
            if (!outcome.replyFile.empty()) {
                request.file = std::make_unique<TFileStream>(outcome.replyFile, fmOpenRead);
                request.total += static_cast<uint64_t>(request.file->Size());
            }
        } catch (const Exception& e) {
            request.file.reset();
            const TInternalError internal = InternalError(AnsiToUtf8(e.Message()));
            outcome.status = 500;
            outcome.text = internal.answer;
            outcome.logText = internal.log;
        }
    }

    // Back from the worker: the reply, or the error's answer.
    MHD_Result Reply(MHD_Connection* connection, TRequest& request) {
        const TOutcome& outcome = request.outcome;
        if (outcome.status != 200)
            return Answer(connection, request, outcome.status, outcome.text, outcome.logText);
        request.answered = true;
        request.owner->phase = TPhase::Reply;
        if (outcome.fault == TFault::Truncate) request.stopAt = request.total / 2;
        request.log.status = 200;
        request.log.out = request.total;
        MHD_Response* response =
            MHD_create_response_from_callback(request.total, kPiece, &TImpl::Provide, &request, nullptr);
        if (!response) return MHD_NO;
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, wire::kDataType);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
        MHD_destroy_response(response);
        return result;
    }

    static ssize_t Provide(void* cls, uint64_t offset, char* buffer, size_t max) {
        auto& r = *static_cast<TRequest*>(cls);
        if (offset >= r.stopAt) return MHD_CONTENT_READER_END_WITH_ERROR;
        max = static_cast<size_t>(std::min<uint64_t>(max, r.stopAt - offset));
        const std::string& header = r.outcome.header;
        if (offset < header.size()) {
            const size_t n = std::min(max, header.size() - static_cast<size_t>(offset));
            std::memcpy(buffer, header.data() + offset, n);
            return static_cast<ssize_t>(n);
        }
        if (!r.file) return MHD_CONTENT_READER_END_WITH_ERROR;
        try {
            r.file->Seek(static_cast<int64_t>(offset - header.size()), soBeginning);
            const int64_t n = r.file->Read(buffer, static_cast<int64_t>(max));
            return n > 0 ? static_cast<ssize_t>(n) : MHD_CONTENT_READER_END_WITH_ERROR;
        } catch (const Exception&) {
            return MHD_CONTENT_READER_END_WITH_ERROR;
        }
    }

    // The request's end, answered or not: its log line; the work directory
    // is removed by a worker.
    static void OnCompleted(void* cls, MHD_Connection*, void** context,
                            MHD_RequestTerminationCode code) {
        auto& self = *static_cast<TImpl*>(cls);
        auto* request = static_cast<TRequest*>(*context);
        if (!request) return;
        *context = nullptr;
        if (!request->answered) {
            request->log.status = 400;
            request->log.result = Utf8(kIncomplete);
        } else if (request->log.status == 200) {
            request->log.result =
                code == MHD_REQUEST_TERMINATED_COMPLETED_OK ? "ok" : "reply not delivered";
        }
        self.log(request->log.Line());
        request->file.reset();
        request->data.reset();
        self.pool->Post([request] { delete request; });
    }

    static void OnLibraryMessage(void* cls, const char* format, va_list args) {
        auto& self = *static_cast<TImpl*>(cls);
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (!self.daemon) {
            self.startError += (self.startError.empty() ? "" : "; ") + line;
            return;
        }
        // Most of what the library says while serving is about one client's
        // connection (closed, a failed handshake): a few lines a minute, and
        // how many more there were.
        const TClock::time_point now = TClock::now();
        if (now - self.messageWindow >= std::chrono::minutes(1)) {
            if (self.messagesDropped)
                self.notice("nuva-server: " + std::to_string(self.messagesDropped) +
                            " more messages of the HTTP library in the last minute");
            self.messageWindow = now;
            self.messagesShown = self.messagesDropped = 0;
        }
        if (self.messagesShown++ < kLibraryMessagesPerMinute)
            self.notice("nuva-server: " + LogField(line, false));
        else
            ++self.messagesDropped;
    }

    // ---- the event loop ----

    // Closes the connections past their deadline (and, once stopping, those
    // whose headers are not in): their socket is shut, the library sees the
    // end of the stream and closes them on its next run.
    void Sweep(bool stopping) {
        const TClock::time_point now = TClock::now();
        for (TConnection* conn : connections) {
            if (conn->closing) continue;
            std::string why;
            if (conn->phase == TPhase::Headers && stopping)
                why = "the server is stopping";
            else if (conn->phase == TPhase::Headers && now >= conn->deadline)
                why = "request headers not in within " + std::to_string(config.headerTimeoutMs) +
                      " ms (HEADER_TIMEOUT_MS)";
            else if (conn->phase == TPhase::Body && now >= conn->deadline)
                why = "request body not in by its deadline (BODY_TIMEOUT_MS, BODY_MIN_RATE)";
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(conn->connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (!info) continue;
            // A client that ends its side before its declared body is in: the
            // library reads a socket until a read comes back short, so an end
            // of stream that arrives with the last bytes goes unseen and the
            // connection would wait for its deadline (and hold a stop).
            if (why.empty() && conn->phase == TPhase::Body) {
                char probe;
                if (recv(info->connect_fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
                    why = "the client ended its request before the body was in";
            }
            if (why.empty()) continue;
            conn->closing = true;
            shutdown(info->connect_fd, SHUT_RDWR);
            Closed(*conn, why);
        }
    }

    int Start() {
        std::vector<MHD_OptionItem> options;
        const auto add = [&](MHD_OPTION option, intptr_t value, void* pointer = nullptr) {
            options.push_back(MHD_OptionItem{option, value, pointer});
        };
        // The address: numeric or a name, the first the resolver gives.
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const std::string host = AnsiToUtf8(config.listen);
        const std::string port = std::to_string(config.port);
        if (getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
            throw EConfigError(WideToAnsi(kCannotBind) + config.listen + Format(":%u", config.port));
        sockaddr_storage address{};
        std::memcpy(&address, found->ai_addr, found->ai_addrlen);
        const bool v6 = found->ai_family == AF_INET6;
        freeaddrinfo(found);

        unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
        if (v6) flags |= MHD_USE_IPv6;
        add(MHD_OPTION_SOCK_ADDR, 0, &address);
        add(MHD_OPTION_LISTEN_BACKLOG_SIZE, SOMAXCONN);
        add(MHD_OPTION_CONNECTION_LIMIT, config.maxConnections + kSpareConnections);
        add(MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds);
        add(MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&TImpl::OnCompleted), this);
        add(MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&TImpl::OnConnection), this);
        add(MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&TImpl::OnLibraryMessage), this);
        if (!config.tlsCert.empty()) {
            if (!ReadWhole(config.tlsCert, tlsCert) || !ReadWhole(config.tlsKey, tlsKey))
                throw EConfigError(WideToAnsi(kNoTls) + config.tlsCert + " " + config.tlsKey);
            flags |= MHD_USE_TLS;
            add(MHD_OPTION_HTTPS_MEM_CERT, 0, tlsCert.data());
            add(MHD_OPTION_HTTPS_MEM_KEY, 0, tlsKey.data());
        }
        add(MHD_OPTION_END, 0);
        daemon = MHD_start_daemon(flags, 0, &TImpl::OnAccept, this, &TImpl::OnRequest, this,
                                  MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
        if (!daemon) {
            const bool tls = !config.tlsCert.empty() && startError.find("bind") == std::string::npos;
            const AnsiString what = tls ? WideToAnsi(kNoTls) + config.tlsCert + " " + config.tlsKey
                                        : WideToAnsi(kCannotBind) + config.listen + Format(":%u", config.port);
            throw EConfigError(what + (startError.empty() ? "" : " (" + Utf8ToAnsi(startError) + ")"));
        }
        const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
        return info ? info->port : static_cast<int>(config.port);
    }

    static bool ReadWhole(const AnsiString& path, std::string& text) {
        std::ifstream in(AnsiToUtf8(path), std::ios::binary);
        if (!in) return false;
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
        return !text.empty();
    }

    void Run() {
        const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD);
        const int events = info ? info->epoll_fd : -1;
        bool stopping = false;
        for (;;) {
            int timeout = kSweepMs;
            MHD_UNSIGNED_LONG_LONG next = 0;
            if (MHD_get_timeout(daemon, &next) == MHD_YES)
                timeout = static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(next, kSweepMs));
            pollfd fds[2] = {{events, POLLIN, 0}, {wake, POLLIN, 0}};
            poll(fds, 2, timeout);
            if (fds[1].revents) {
                uint64_t count;
                (void)!read(wake, &count, sizeof count);
            }
            MHD_run(daemon);
            if (stopRequested && !stopping) {
                stopping = true;
                const MHD_socket listener = MHD_quiesce_daemon(daemon);
                if (listener != MHD_INVALID_SOCKET) close(listener);
            }
            Sweep(stopping);
            if (stopping && connections.empty()) break;
        }
        MHD_stop_daemon(daemon);
        daemon = nullptr;
        pool->Join();
    }
};

THttpServer::THttpServer(const TServerConfig& config, TLogLine log, TLogLine notice)
    : impl_(std::make_unique<TImpl>(config, std::move(log), std::move(notice))) {}

THttpServer::~THttpServer() = default;

int THttpServer::Bind() {
    return impl_->Start();
}

void THttpServer::Run() {
    impl_->Run();
}

void THttpServer::Stop() {
    impl_->stopRequested = true;
    impl_->Wake();
}

}  // namespace nuva::server
