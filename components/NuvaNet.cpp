// NuvaNet: the network component (class NetworkImpl: Init, TestConn, Post).
// It carries each transaction to nuva-server (or any server that speaks
// net/Wire.h) over HTTP or HTTPS, through the transport seam
// (net/Transport.h: libcurl natively, WinHTTP on Windows).
//
// Members, as the engine calls them:
//   Init(configXml, msg, ok)      reads the NETWORK element (components/README.md) and
//                                 makes the transport; ok false + msg on a bad setting
//   TestConn(msg, ok)             GET of the health path
//   Post(header, sendFile, replyHeader, replyFile, progress, status, msg, ok)
//       streams header + file to the server (the file is read as it is sent,
//       never held whole), writes progress 0-50 over the upload and 50-100
//       over the download with a status text for each, and stores the reply
//       file in the receive directory (replyFile on entry) under a new unique
//       name ("NNR" + unique part + ".tmp"). A reply without a body stores no
//       file and leaves replyFile as it came. Every failure (refused,
//       timeout, HTTP error, truncated reply, short or malformed reply header,
//       an unsafe name in it) is ok false with the reason in msg, and leaves
//       no reply file.
//
// Threads: one call at a time per object; the progress and status writes go
// to the caller's variables on the calling thread.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "ComponentSupport.h"
#include "NuvaConfig.h"
#include "net/NetTexts.h"
#include "net/Transport.h"
#include "net/Wire.h"
#include "platform/Platform.h"
#include "platform/Stream.h"
#include "util/util.h"

namespace nuva {
namespace {

constexpr char16_t kSource[] = u"NuvaNet";
// The largest reply file taken (MAX_REPLY, bytes after the reply header). A
// reply becomes one string in the host's memory (twice its size as UTF-16)
// and a file in the receive directory: a server, or anything answering in
// its place, must not fill either without bound.
constexpr uint32_t kDefaultMaxReply = 512u * 1024 * 1024;
constexpr uint32_t kMinMaxReply = 1;
constexpr uint32_t kMaxMaxReply = 0x7FFFFFFFu;  // Wine's WinHTTP receives at most 2 GiB

// What goes out: the header, then the data file as it is read.
class THeaderAndFile final : public net::TBodySource {
  public:
    THeaderAndFile(std::string header, const AnsiString* file) : header_(std::move(header)) {
        if (file) file_ = std::make_unique<TFileStream>(*file, fmOpenRead | fmShareDenyWrite);
    }
    uint64_t Size() override {
        return header_.size() + (file_ ? static_cast<uint64_t>(file_->Size()) : 0);
    }
    size_t Read(uint8_t* buffer, size_t capacity) override {
        if (offset_ < header_.size()) {
            const size_t n = std::min(capacity, header_.size() - offset_);
            std::memcpy(buffer, header_.data() + offset_, n);
            offset_ += n;
            return n;
        }
        if (!file_) return 0;
        const int64_t n = file_->Read(buffer, static_cast<int64_t>(capacity));
        if (n < 0) throw EReadError();
        return static_cast<size_t>(n);
    }

  private:
    std::string header_;
    size_t offset_ = 0;
    std::unique_ptr<TFileStream> file_;
};

// What comes back: on 200 the reply header, then the reply file; on any
// other status the server's text (at most wire::kMaxErrorText bytes).
class TReplySink final : public net::TBodySink {
  public:
    TReplySink(const AnsiString& replyPath, uint64_t maxBody)
        : replyPath_(replyPath), maxBody_(maxBody) {}

    bool Begin(int status, int64_t length) override {
        status_ = status;
        if (status_ != 200) return true;
        // Refused before a byte is stored when the length says so.
        if (length >= 0 && static_cast<uint64_t>(length) > maxBody_ + wire::kHeaderSize) {
            tooLarge_ = true;
            return false;
        }
        file_ = std::make_unique<TFileStream>(replyPath_, fmOpenWrite);
        return true;
    }
    bool Write(const uint8_t* data, size_t size) override {
        if (status_ != 200) {
            const size_t room = wire::kMaxErrorText - std::min(text_.size(), wire::kMaxErrorText);
            text_.append(reinterpret_cast<const char*>(data), std::min(size, room));
            return true;
        }
        const size_t toHeader = std::min(size, wire::kHeaderSize - header_.size());
        header_.append(reinterpret_cast<const char*>(data), toHeader);
        if (size > toHeader) {
            if (size - toHeader > maxBody_ - bodyBytes_) {
                tooLarge_ = true;
                return false;
            }
            file_->WriteBuffer(data + toHeader, static_cast<int64_t>(size - toHeader));
            bodyBytes_ += size - toHeader;
        }
        return true;
    }
    void Close() { file_.reset(); }

    int Status() const { return status_; }
    const std::string& Header() const { return header_; }
    const std::string& Text() const { return text_; }
    uint64_t BodyBytes() const { return bodyBytes_; }
    // The reply went over the maximum (the exchange was aborted).
    bool TooLarge() const { return tooLarge_; }

  private:
    AnsiString replyPath_;
    uint64_t maxBody_;
    bool tooLarge_ = false;
    int status_ = 0;
    std::unique_ptr<TFileStream> file_;
    std::string header_;
    std::string text_;
    uint64_t bodyBytes_ = 0;
};

// The reply file until it is handed over: deleted on every other way out.
class TReplyFile {
  public:
    explicit TReplyFile(AnsiString path) : path_(std::move(path)) {}
    ~TReplyFile() {
        if (!path_.empty()) DeleteFile(path_);
    }
    TReplyFile(const TReplyFile&) = delete;
    TReplyFile& operator=(const TReplyFile&) = delete;
    const AnsiString& Path() const { return path_; }
    AnsiString Release() { return std::exchange(path_, AnsiString()); }

  private:
    AnsiString path_;
};

class TNuvaNet final : public TDispatchObject {
  public:
    TNuvaNet() : TDispatchObject(kSource) {
        AddMember({"Init",
                   {{"configXml", TArgKind::BstrIn},
                    {"msg", TArgKind::BstrRef},
                    {"ok", TArgKind::BoolRef}},
                   [this](TDispatchArgs& args) { Init(args); }});
        AddMember({"TestConn",
                   {{"msg", TArgKind::BstrRef}, {"ok", TArgKind::BoolRef}},
                   [this](TDispatchArgs& args) { TestConn(args); }});
        AddMember({"Post",
                   {{"header", TArgKind::BstrIn},
                    {"sendFile", TArgKind::BstrIn},
                    {"replyHeader", TArgKind::BstrRef},
                    {"replyFile", TArgKind::BstrRef},
                    {"progress", TArgKind::Int16Ref},
                    {"status", TArgKind::BstrRef},
                    {"msg", TArgKind::BstrRef},
                    {"ok", TArgKind::BoolRef}},
                   [this](TDispatchArgs& args) { Post(args); }});
    }

  private:
    enum : size_t { kHeader, kSendFile, kReplyHeader, kReplyFile, kProgress, kStatus, kMsg, kOk };

    void Init(TDispatchArgs& args) {
        transport_.reset();
        try {
            const TNuvaConfig config(WideToAnsi(args.Text(0)));
            url_ = config.Text("URL");
            const net::TTransportSettings settings = net::ReadTransportSettings(config);
            const uint32_t maxReply =
                config.Number("MAX_REPLY", kDefaultMaxReply, kMinMaxReply, kMaxMaxReply);
            transport_ = net::TTransport::Create(settings);
            maxReply_ = maxReply;
        } catch (const Exception& e) {
            args.SetText(1, AnsiToWide(e.Message()));
            args.SetBool(2, false);
            return;
        }
        args.SetText(1, net::texts::kInitDone + AnsiToWide(url_));
        args.SetBool(2, true);
    }

    void TestConn(TDispatchArgs& args) {
        if (!transport_) return Fail(args, 0, net::texts::kNotInitialized);
        // The health reply is text on any status.
        struct TTextSink final : net::TBodySink {
            int status = 0;
            std::string text;
            bool Begin(int s, int64_t) override {
                status = s;
                return true;
            }
            bool Write(const uint8_t* data, size_t size) override {
                text.append(reinterpret_cast<const char*>(data),
                            std::min(size, wire::kMaxErrorText -
                                               std::min(text.size(), wire::kMaxErrorText)));
                return true;
            }
        } health;
        try {
            transport_->Exchange(wire::kHealthPath, nullptr, health, nullptr);
        } catch (const net::ETransportError& e) {
            return Fail(args, 0, FaultText(e));
        }
        if (health.status != 200 || health.text != wire::kHealthText)
            return Fail(args, 0, HttpErrorText(health.status, health.text));
        args.SetText(0, net::texts::kConnected + AnsiToWide(url_));
        args.SetBool(1, true);
    }

    void Post(TDispatchArgs& args) {
        if (!transport_) return Fail(args, kMsg, net::texts::kNotInitialized);
        const std::string header = WideToAnsi(args.Text(kHeader));
        if (header.size() != wire::kHeaderSize)
            return Fail(args, kMsg, net::texts::kBadRequestHeader);
        const AnsiString sendFile = WideToAnsi(args.Text(kSendFile));
        const bool hasBody = wire::HeaderHasBody(header);
        if (hasBody && !FileExists(sendFile))
            return Fail(args, kMsg, net::texts::kSendFileMissing + AnsiToWide(sendFile));

        // On entry replyFile is the receive directory, with its delimiter.
        const AnsiString receiveDir = WideToAnsi(args.Text(kReplyFile));
        ForceDirectories(receiveDir);
        TReplyFile reply(CreateUniqueTempFile(receiveDir, "NNR"));
        if (reply.Path().empty())
            return Fail(args, kMsg, net::texts::kReplyNotCreated + AnsiToWide(receiveDir));

        TReplySink sink(reply.Path(), maxReply_);
        SHORT shown = -1;
        int phase = 0;  // 1 sending, 2 receiving
        auto progress = [&](uint64_t sent, uint64_t sendTotal, uint64_t received,
                            int64_t receiveTotal) {
            const bool receiving = sent >= sendTotal && (received > 0 || receiveTotal >= 0);
            if (phase != (receiving ? 2 : 1)) {
                phase = receiving ? 2 : 1;
                args.SetText(kStatus, receiving ? net::texts::kReceiving : net::texts::kSending);
            }
            const uint64_t part =
                receiving
                    ? (receiveTotal > 0 ? received * 50 / static_cast<uint64_t>(receiveTotal) : 0)
                    : (sendTotal > 0 ? sent * 50 / sendTotal : 0);
            const SHORT value =
                static_cast<SHORT>((receiving ? 50 : 0) + std::min<uint64_t>(part, 50));
            if (value != shown) args.SetInt16(kProgress, shown = value);
        };
        try {
            THeaderAndFile body(header, hasBody ? &sendFile : nullptr);
            transport_->Exchange(wire::kTransactionPath, &body, sink, progress);
            sink.Close();
        } catch (const net::ETransportError& e) {
            sink.Close();
            if (sink.TooLarge()) return Fail(args, kMsg, TooLargeText());
            return Fail(args, kMsg, FaultText(e));
        } catch (const Exception& e) {
            sink.Close();
            return Fail(args, kMsg, net::texts::kReplyNotSaved + AnsiToWide(e.Message()));
        }
        if (sink.Status() != 200)
            return Fail(args, kMsg, HttpErrorText(sink.Status(), sink.Text()));
        if (sink.Header().size() < wire::kHeaderSize)
            return Fail(args, kMsg, net::texts::kShortHeader);

        wire::THeader parsed;
        if (!wire::ParseHeader(sink.Header(), parsed))
            return Fail(args, kMsg, net::texts::kBadHeader);
        // The engine makes directories and files of these names: only one
        // safe name each, checked here so that no reply file is left behind.
        if (parsed.sender.empty() ? parsed.hasBody : !IsSafeName(parsed.sender))
            return Fail(args, kMsg, net::texts::kUnsafeSender + AnsiToWide(parsed.sender));
        if (parsed.hasBody && !parsed.compressed && !parsed.reserve.empty() &&
            !IsSafeName(parsed.reserve))
            return Fail(args, kMsg, net::texts::kUnsafeReserve + AnsiToWide(parsed.reserve));
        if (!parsed.hasBody && sink.BodyBytes() > 0)
            return Fail(args, kMsg, net::texts::kUnexpectedBody);

        args.SetText(kReplyHeader, AnsiToWide(sink.Header()));
        if (parsed.hasBody) args.SetText(kReplyFile, AnsiToWide(reply.Release()));
        args.SetInt16(kProgress, 100);
        args.SetText(kStatus, net::texts::kReceived);
        args.SetText(kMsg, WideString());
        args.SetBool(kOk, true);
    }

    // ok false with `text` in the msg argument at `msgIndex` (ok follows it).
    static void Fail(TDispatchArgs& args, size_t msgIndex, const WideString& text) {
        args.SetText(msgIndex, text);
        args.SetBool(msgIndex + 1, false);
    }

    WideString FaultText(const net::ETransportError& e) const {
        const WideString url = AnsiToWide(url_);
        const WideString detail = u" (" + AnsiToWide(e.Message()) + u")";
        switch (e.Fault()) {
            case net::TNetFault::Resolve:
                return net::texts::kResolve + url;
            case net::TNetFault::Refused:
                return net::texts::kRefused + url;
            case net::TNetFault::Timeout:
                return net::texts::kTimeout + url;
            case net::TNetFault::Tls:
                return net::texts::kTls + url + detail;
            case net::TNetFault::Pinned:
                return net::texts::kPinned + url;
            case net::TNetFault::Truncated:
                return net::texts::kTruncated + url;
            case net::TNetFault::Broken:
                return net::texts::kBroken + url + detail;
            case net::TNetFault::Aborted:
                return net::texts::kAborted + AnsiToWide(e.Message());
            case net::TNetFault::Other:
                break;
        }
        return net::texts::kOther + url + detail;
    }

    WideString TooLargeText() const {
        const std::string bytes = std::to_string(maxReply_);
        return net::texts::kReplyTooLarge + WideString(bytes.begin(), bytes.end());
    }

    static WideString HttpErrorText(int status, const std::string& utf8) {
        const std::string code = std::to_string(status);
        return net::texts::kHttpErrorOpen + WideString(code.begin(), code.end()) +
               net::texts::kHttpErrorClose + Utf8ToWide(utf8);
    }

    AnsiString url_;
    uint32_t maxReply_ = kDefaultMaxReply;
    std::unique_ptr<net::TTransport> transport_;
};

const TComponentClass kClass = {"NetworkImpl", &CreateDispatchObject<TNuvaNet>};

}  // namespace
}  // namespace nuva

NUVA_COMPONENT_SERVER_EXPORTS(kClass)
