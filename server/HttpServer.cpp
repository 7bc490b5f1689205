#include "HttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>

#include "Transaction.h"
#include "net/Wire.h"
#include "platform/Platform.h"
#include "platform/Stream.h"

namespace nuva::server {

namespace {

using TClock = std::chrono::steady_clock;

constexpr size_t kPiece = 64 * 1024;  // bytes per write of a reply
constexpr time_t kIoTimeoutSeconds = 60;
constexpr char16_t kTooLarge[] = u"请求数据超过服务器允许的大小";
constexpr char16_t kIncomplete[] = u"请求数据不完整";
constexpr char16_t kCannotBind[] = u"无法监听地址:";  // + address:port
constexpr char16_t kNoTls[] = u"无法加载TLS证书或私钥:";  // + paths

std::string Utf8(const char16_t* text) {
    return AnsiToUtf8(WideToAnsi(text));
}

// cpp-httplib fixes its listen queue at 5; with many clients connecting at
// once the rest would be refused. The bound socket is listened on again with
// the system's maximum.
template <class Base>
class TListener final : public Base {
  public:
    using Base::Base;
    void WidenBacklog() { ::listen(this->svr_sock_, SOMAXCONN); }
};

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// One transaction's work directory, removed with everything in it.
class TWorkDir {
  public:
    explicit TWorkDir(const AnsiString& root) {
        static const unsigned token = std::random_device()() & 0xFFFFFF;
        static std::atomic<unsigned> sequence{0};
        path_ = root + PathDelim + Format("tx-%06x-%u", token, ++sequence) + PathDelim;
        if (!ForceDirectories(path_)) throw EFCreateError(path_, LastErrorText());
    }
    ~TWorkDir() { RemoveTree(path_); }
    TWorkDir(const TWorkDir&) = delete;
    TWorkDir& operator=(const TWorkDir&) = delete;
    const AnsiString& Path() const { return path_; }

  private:
    AnsiString path_;
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
        return Now() + " " + peer + " sender=" + AnsiToUtf8(sender) + " type=" + AnsiToUtf8(typeCode) +
               " in=" + std::to_string(in) + " out=" + std::to_string(out) +
               " status=" + std::to_string(status) + " " + result + " " +
               std::to_string(ms.count()) + "ms";
    }
};

// A reply on its way out: header, then the data file, read as it is sent.
struct TReplyState {
    std::unique_ptr<TWorkDir> work;
    std::string header;
    std::unique_ptr<TFileStream> file;
    uint64_t total = 0;
    uint64_t stopAt = UINT64_MAX;  // FAULT truncate: the connection ends here
    TLogEntry log;
    TLogLine* logLine = nullptr;
    std::vector<uint8_t> buffer;
};

}  // namespace

struct THttpServer::TImpl {
    const TServerConfig& config;
    TLogLine log;
    std::unique_ptr<httplib::Server> server;
    std::function<void()> widen;

    TImpl(const TServerConfig& c, TLogLine l) : config(c), log(std::move(l)) {
        if (config.tlsCert.empty()) {
            auto s = std::make_unique<TListener<httplib::Server>>();
            widen = [p = s.get()] { p->WidenBacklog(); };
            server = std::move(s);
        } else {
            const std::string cert = AnsiToUtf8(config.tlsCert), key = AnsiToUtf8(config.tlsKey);
            auto s = std::make_unique<TListener<httplib::SSLServer>>(cert.c_str(), key.c_str());
            if (!s->is_valid())
                throw EConfigError(WideToAnsi(kNoTls) + config.tlsCert + " " + config.tlsKey);
            widen = [p = s.get()] { p->WidenBacklog(); };
            server = std::move(s);
        }
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const size_t workers = config.workers ? config.workers : std::max(8u, 4 * cores);
        server->new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
        server->set_keep_alive_max_count(1);
        server->set_read_timeout(kIoTimeoutSeconds);
        server->set_write_timeout(kIoTimeoutSeconds);
        server->set_payload_max_length(config.maxBody + wire::kHeaderSize);
        server->Get(wire::kHealthPath, [](const httplib::Request&, httplib::Response& res) {
            res.set_content(wire::kHealthText, wire::kTextType);
        });
        server->Post(wire::kTransactionPath,
                     [this](const httplib::Request& req, httplib::Response& res,
                            const httplib::ContentReader& reader) { Transaction(req, res, reader); });
        server->set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return;
            res.set_content(res.status == 413 ? Utf8(kTooLarge) : "HTTP " + std::to_string(res.status),
                            wire::kTextType);
        });
    }

    void Transaction(const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader) {
        auto state = std::make_shared<TReplyState>();
        state->log.peer = req.remote_addr + ":" + std::to_string(req.remote_port);
        state->logLine = &log;
        try {
            state->work = std::make_unique<TWorkDir>(config.WorkRoot());
        } catch (const Exception& e) {
            return Answer(res, *state, 500, AnsiToUtf8(e.Message()));
        }
        const AnsiString dataFile = state->work->Path() + "request.data";
        std::string header;
        bool tooLarge = false, complete = false;
        try {
            TFileStream data(dataFile, fmCreate);
            complete = reader([&](const char* bytes, size_t size) {
                state->log.in += size;
                if (state->log.in > config.maxBody + wire::kHeaderSize) {
                    tooLarge = true;
                    return false;
                }
                const size_t toHeader = std::min(size, wire::kHeaderSize - header.size());
                header.append(bytes, toHeader);
                if (size > toHeader)
                    data.WriteBuffer(bytes + toHeader, static_cast<int64_t>(size - toHeader));
                return true;
            });
        } catch (const Exception& e) {
            return Answer(res, *state, 500, AnsiToUtf8(e.Message()));
        }
        // A declared length over the limit is refused before one byte is read.
        if (!complete && req.has_header("Content-Length")) {
            const std::string declared = req.get_header_value("Content-Length");
            tooLarge = declared.size() > 19 ||
                       std::strtoull(declared.c_str(), nullptr, 10) > config.maxBody + wire::kHeaderSize;
        }
        if (tooLarge) return Answer(res, *state, 413, Utf8(kTooLarge));
        if (!complete) return Answer(res, *state, 400, Utf8(kIncomplete));

        TOutcome outcome = RunTransaction(config, header, dataFile, state->work->Path());
        state->log.sender = outcome.sender;
        state->log.typeCode = outcome.typeCode;
        if (outcome.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(outcome.delayMs));
        if (outcome.status != 200) return Answer(res, *state, outcome.status, outcome.text);

        try {
            state->header = outcome.header;
            state->total = outcome.header.size();
            if (!outcome.replyFile.empty()) {
                state->file = std::make_unique<TFileStream>(outcome.replyFile, fmOpenRead);
                state->total += static_cast<uint64_t>(state->file->Size());
            }
        } catch (const Exception& e) {
            return Answer(res, *state, 500, AnsiToUtf8(e.Message()));
        }
        if (outcome.fault == TFault::Truncate) state->stopAt = state->total / 2;
        state->log.status = 200;
        state->log.out = state->total;
        state->buffer.resize(kPiece);
        res.status = 200;
        res.set_content_provider(
            static_cast<size_t>(state->total), wire::kDataType,
            [state](size_t offset, size_t length, httplib::DataSink& sink) {
                return Provide(*state, offset, length, sink);
            },
            [state](bool success) {
                state->log.result = success ? "ok" : "reply not delivered";
                (*state->logLine)(state->log.Line());
                state->file.reset();
                state->work.reset();
            });
    }

    static bool Provide(TReplyState& s, size_t offset, size_t length, httplib::DataSink& sink) {
        if (offset >= s.stopAt) return false;
        length = static_cast<size_t>(std::min<uint64_t>(length, s.stopAt - offset));
        if (offset < s.header.size()) {
            const size_t n = std::min(length, s.header.size() - offset);
            return sink.write(s.header.data() + offset, n);
        }
        if (!s.file) return false;
        s.file->Seek(static_cast<int64_t>(offset - s.header.size()), soBeginning);
        int64_t n = 0;
        try {
            n = s.file->Read(s.buffer.data(),
                             static_cast<int64_t>(std::min(length, s.buffer.size())));
        } catch (const EReadError&) {
            return false;  // the reply is cut off: the client sees it incomplete
        }
        if (n <= 0) return false;
        return sink.write(reinterpret_cast<const char*>(s.buffer.data()), static_cast<size_t>(n));
    }

    void Answer(httplib::Response& res, TReplyState& s, int status, const std::string& text) {
        res.status = status;
        res.set_content(text, wire::kTextType);
        s.log.status = status;
        s.log.out = text.size();
        s.log.result = text;
        log(s.log.Line());
        s.work.reset();
    }
};

THttpServer::THttpServer(const TServerConfig& config, TLogLine log)
    : impl_(std::make_unique<TImpl>(config, std::move(log))) {}

THttpServer::~THttpServer() = default;

int THttpServer::Bind() {
    const TServerConfig& c = impl_->config;
    const std::string host = AnsiToUtf8(c.listen);
    int port = static_cast<int>(c.port);
    const bool bound =
        port == 0 ? (port = impl_->server->bind_to_any_port(host)) > 0 : impl_->server->bind_to_port(host, port);
    if (!bound) throw EConfigError(WideToAnsi(kCannotBind) + c.listen + Format(":%u", c.port));
    impl_->widen();
    return port;
}

void THttpServer::Run() {
    impl_->server->listen_after_bind();
}

void THttpServer::Stop() {
    impl_->server->stop();
}

}  // namespace nuva::server
