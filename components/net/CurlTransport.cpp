// The transport over libcurl (native builds). One easy handle per transport,
// reset for every exchange, so that its connection cache survives between
// transactions. curl_global_init runs once, from the first Create (never at
// load time).
#include <curl/curl.h>

#include <chrono>
#include <exception>
#include <mutex>

#include "net/Transport.h"
#include "platform/Platform.h"

namespace nuva::net {

namespace {

using TClock = std::chrono::steady_clock;

std::once_flag g_globalInit;
CURLcode g_globalResult = CURLE_OK;

constexpr size_t kUploadPiece = 64 * 1024;  // bytes per read callback, at most

struct TExchangeState {
    const TTransportSettings* settings = nullptr;
    CURL* curl = nullptr;
    TBodySource* body = nullptr;
    TBodySink* sink = nullptr;
    const TProgress* progress = nullptr;
    uint64_t sendTotal = 0;
    uint64_t received = 0;
    int64_t length = -1;
    bool begun = false;
    bool timedOut = false;
    std::exception_ptr error;  // from the source or the sink
    // Idle watch: the last time a byte moved in either direction.
    curl_off_t lastUp = -1, lastDown = -1;
    TClock::time_point lastActivity = TClock::now();

    bool Begin() {
        long status = 0;
        curl_off_t length = -1;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        this->length = length;
        begun = true;
        return sink->Begin(static_cast<int>(status), length);
    }
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
    auto* state = static_cast<TExchangeState*>(user);
    try {
        size_t capacity = size * count;
        if (capacity > kUploadPiece) capacity = kUploadPiece;
        return state->body->Read(reinterpret_cast<uint8_t*>(buffer), capacity);
    } catch (...) {
        state->error = std::current_exception();
        return CURL_READFUNC_ABORT;
    }
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TExchangeState*>(user);
    const size_t bytes = size * count;
    try {
        if (!state->begun && !state->Begin()) return 0;
        if (bytes > 0 && !state->sink->Write(reinterpret_cast<const uint8_t*>(data), bytes))
            return 0;
        state->received += bytes;
        return bytes;
    } catch (...) {
        state->error = std::current_exception();
        return 0;
    }
}

int OnProgress(void* user, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal,
               curl_off_t upNow) {
    auto* state = static_cast<TExchangeState*>(user);
    const TClock::time_point now = TClock::now();
    if (upNow != state->lastUp || downNow != state->lastDown) {
        state->lastUp = upNow;
        state->lastDown = downNow;
        state->lastActivity = now;
    }
    // While the request goes out the send timeout applies, then the receive
    // timeout (libcurl itself has only whole-transfer limits).
    const bool sending = static_cast<uint64_t>(upNow) < state->sendTotal;
    const uint32_t limit =
        sending ? state->settings->sendTimeoutMs : state->settings->receiveTimeoutMs;
    if (now - state->lastActivity > std::chrono::milliseconds(limit)) {
        state->timedOut = true;
        return 1;
    }
    try {
        if (*state->progress)
            (*state->progress)(static_cast<uint64_t>(upNow), state->sendTotal,
                               static_cast<uint64_t>(downNow), downTotal > 0 ? downTotal : -1);
    } catch (...) {
        state->error = std::current_exception();
        return 1;
    }
    return 0;
}

TNetFault FaultOf(CURLcode code, const TExchangeState& state) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return TNetFault::Resolve;
        case CURLE_COULDNT_CONNECT:
            return TNetFault::Refused;
        case CURLE_OPERATION_TIMEDOUT:
            return TNetFault::Timeout;
        case CURLE_ABORTED_BY_CALLBACK:
            return state.timedOut ? TNetFault::Timeout : TNetFault::Aborted;
        case CURLE_WRITE_ERROR:
        case CURLE_READ_ERROR:
            return TNetFault::Aborted;
        case CURLE_PARTIAL_FILE:
            return TNetFault::Truncated;
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return TNetFault::Pinned;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return TNetFault::Tls;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return state.begun && state.length >= 0 &&
                           state.received < static_cast<uint64_t>(state.length)
                       ? TNetFault::Truncated
                       : TNetFault::Broken;
        default:
            return TNetFault::Other;
    }
}

class TCurlTransport final : public TTransport {
  public:
    explicit TCurlTransport(const TTransportSettings& settings) : settings_(settings) {
        std::call_once(g_globalInit, [] { g_globalResult = curl_global_init(CURL_GLOBAL_DEFAULT); });
        if (g_globalResult != CURLE_OK)
            throw ETransportError(TNetFault::Other, curl_easy_strerror(g_globalResult));
        curl_ = curl_easy_init();
        if (!curl_) throw ETransportError(TNetFault::Other, "curl_easy_init failed");
        base_ = settings.scheme + "://" + settings.host + ":" + std::to_string(settings.port) +
                settings.prefix;
    }
    ~TCurlTransport() override { curl_easy_cleanup(curl_); }

    void Exchange(const std::string& path, TBodySource* body, TBodySink& sink,
                  const TProgress& progress) override {
        TExchangeState state;
        state.settings = &settings_;
        state.curl = curl_;
        state.body = body;
        state.sink = &sink;
        state.progress = &progress;
        curl_easy_reset(curl_);
        error_[0] = '\0';
        const std::string url = base_ + path;
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error_);
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        // An empty proxy turns off the environment's proxies too.
        curl_easy_setopt(curl_, CURLOPT_PROXY, settings_.proxy.c_str());
        curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(settings_.connectTimeoutMs));
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, WriteBody);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &state);
        curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, OnProgress);
        curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, &state);

        const std::string caFile = AnsiToUtf8(settings_.caFile);
        const std::string pin = "sha256//" + Base64(settings_.pinSha256);
        if (!settings_.pinSha256.empty()) {
            // The pin decides alone: a self-signed server certificate is fine.
            curl_easy_setopt(curl_, CURLOPT_PINNEDPUBLICKEY, pin.c_str());
            curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 0L);
        } else if (!caFile.empty()) {
            curl_easy_setopt(curl_, CURLOPT_CAINFO, caFile.c_str());
        }

        curl_slist* headers = nullptr;
        if (body) {
            state.sendTotal = body->Size();
            headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
            // No 100-continue round trip: the server reads or refuses the body as it comes.
            headers = curl_slist_append(headers, "Expect:");
            curl_easy_setopt(curl_, CURLOPT_POST, 1L);
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(state.sendTotal));
            curl_easy_setopt(curl_, CURLOPT_READFUNCTION, ReadBody);
            curl_easy_setopt(curl_, CURLOPT_READDATA, &state);
            curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
        } else {
            curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
        }
        CURLcode code = curl_easy_perform(curl_);
        curl_slist_free_all(headers);
        if (state.error) std::rethrow_exception(state.error);
        if (code == CURLE_OK && !state.begun && !state.Begin()) code = CURLE_WRITE_ERROR;
        if (code != CURLE_OK)
            throw ETransportError(FaultOf(code, state),
                                  error_[0] ? AnsiString(error_) : curl_easy_strerror(code));
    }

  private:
    TTransportSettings settings_;
    CURL* curl_ = nullptr;
    // The handle keeps writing its error text here until it is reset or
    // cleaned up (closing a connection may fail too): it lives as long as
    // the handle, never on one call's stack.
    char error_[CURL_ERROR_SIZE] = "";
    std::string base_;
};

}  // namespace

std::unique_ptr<TTransport> TTransport::Create(const TTransportSettings& settings) {
    return std::make_unique<TCurlTransport>(settings);
}

}  // namespace nuva::net
