// nuva init / testconn / send: the engine driven as a host would drive it.
// Texts are read as a host hands them over (system code page, or UTF-8 when
// the file says so) and the engine's messages are printed in the terminal's
// encoding; the progress of Send goes to standard error.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <mutex>
#include <thread>

#include "Commands.h"
#include "engine/Main.h"
#include "platform/Com.h"
#include "platform/Platform.h"
#include "util/ParallelText.h"
#include "util/util.h"
#include "zip/CompressUtil.h"

namespace nuva::cli {

namespace {

// COM on this thread for one command.
class TComScope {
  public:
    TComScope() { CoInitialize(nullptr); }
    ~TComScope() { CoUninitialize(); }
};

// Shows Send's progress on standard error: a redrawn bar on a terminal,
// one line per step otherwise. During the post the network component writes
// the progress value itself; a watcher thread shows it while the call runs.
class TProgressView {
  public:
    explicit TProgressView(const SHORT& progress)
        : progress_(progress), terminal_(StderrIsTerminal()) {}
    ~TProgressView() { Finish(); }

    void Step(SHORT progress, const WideString& status) {
        const AnsiString text = WideToAnsi(status);
        if (text != posting_) StopWatching();  // the post is over
        std::lock_guard<std::mutex> lock(mutex_);
        status_ = text;
        Draw(progress);
        // The post is the one step whose progress moves inside a call.
        if (terminal_ && text == posting_ && !watcher_.joinable()) {
            stop_ = false;
            StartWatching();
        }
    }

    void Finish() {
        StopWatching();
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminal_ && drawn_) Err("\n");
        drawn_ = false;
    }

  private:
    void Draw(SHORT progress) {
        const int p = progress < 0 ? 0 : progress > 100 ? 100 : progress;
        if (!terminal_) {
            Err(Format("%3d%% ", p) + status_ + "\n");
            return;
        }
        const int filled = p * kBarWidth / 100;
        Err("\r[" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "] " + Format("%3d%% ", p) +
            status_ + "\x1b[K");
        drawn_ = true;
    }

    void StopWatching() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (watcher_.joinable()) watcher_.join();
    }

    void StartWatching() {
        watcher_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            SHORT shown = -1;
            while (!stop_) {
                // Read while the component may write it: a relaxed atomic
                // load of the 16-bit variable, for display only.
                const SHORT now = __atomic_load_n(&progress_, __ATOMIC_RELAXED);
                if (now != shown) Draw(shown = now);
                wake_.wait_for(lock, std::chrono::milliseconds(100));
            }
        });
    }

    static constexpr int kBarWidth = 30;
    const SHORT& progress_;
    const bool terminal_;
    const AnsiString posting_ = WideToAnsi(u"准备发送数据...");
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread watcher_;
    bool stop_ = false;
    bool drawn_ = false;
    AnsiString status_;
};

// Init with the configuration file; prints its message. False when the
// engine refused or failed (the exit code is then in `exitCode`).
bool RunInit(TSender& engine, const TTransactionOptions& o, bool printOnSuccess, int& exitCode) {
    if (!o.home.empty()) SetExeDirectoryOverride(o.home);
    TBstr config = ReadHostBstr(o.config, 1), message;
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (FAILED(engine.Init(config.Get(), *message.InOut(), ok))) {
        Err("nuva: Init failed unexpectedly\n");
        exitCode = 2;
        return false;
    }
    if (!ok || printOnSuccess || message.Length() > 0) Out(message.ToAnsi() + "\n");
    exitCode = ok ? 0 : 1;
    return ok != VARIANT_FALSE;
}

}  // namespace

namespace {

// Whether a host text is UTF-8 (a byte-order mark, which `skip` then
// covers, or the XML declaration's encoding), else the system code page.
bool IsUtf8HostText(const std::string& bytes, size_t& skip) {
    skip = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        skip = 3;
        return true;
    }
    const size_t end = bytes.compare(0, 5, "<?xml") == 0 ? bytes.find("?>") : std::string::npos;
    if (end == std::string::npos) return false;
    const std::string declaration = AnsiLowerCaseAscii(bytes.substr(0, end));
    for (const char* utf8 : {"\"utf-8\"", "'utf-8'", "\"utf8\"", "'utf8'"})
        if (declaration.find(utf8) != std::string::npos) return true;
    return false;
}

}  // namespace

TBstr ReadHostBstr(const AnsiString& path, int threads) {
    const std::string bytes = LoadFileText(path);
    size_t skip;
    if (IsUtf8HostText(bytes, skip)) return TBstr(Utf8ToWide(bytes.substr(skip)));
    TBstr text;
    AnsiToWideParallel(bytes.data(), bytes.size(), threads, [&text](size_t units) {
        if (units > std::numeric_limits<UINT>::max()) throw std::bad_alloc();
        text = TBstr::Attach(SysAllocStringLen(nullptr, static_cast<UINT>(units)));
        if (!text.Get()) throw std::bad_alloc();
        return reinterpret_cast<char16_t*>(text.Get());
    });
    return text;
}

AnsiString ReplyText(const TBstr& reply, int threads) {
    return WideToAnsiParallel(reinterpret_cast<const char16_t*>(reply.Get()), reply.Length(),
                              threads);
}

int InitCommand(const TArgs& args) {
    TTransactionOptions o;
    if (!ParseTransactionOptions(args, false, o)) return 2;
    TComScope com;
    TSender engine;
    int exitCode = 0;
    RunInit(engine, o, false, exitCode);
    if (exitCode == 0) Out("Init: ok\n");
    return exitCode;
}

int TestConnCommand(const TArgs& args) {
    TTransactionOptions o;
    if (!ParseTransactionOptions(args, false, o)) return 2;
    TComScope com;
    TSender engine;
    int exitCode = 0;
    if (!RunInit(engine, o, false, exitCode)) return exitCode;
    TBstr message;
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (FAILED(engine.TestConn(*message.InOut(), ok))) {
        Err("nuva: TestConn failed unexpectedly\n");
        return 2;
    }
    Out(message.ToAnsi() + (ok ? "\nTestConn: ok\n" : "\n"));
    return ok ? 0 : 1;
}

int SendCommand(const TArgs& args) {
    TTransactionOptions o;
    if (!ParseTransactionOptions(args, true, o)) return 2;
    TComScope com;
    TSender engine;
    int exitCode = 0;
    if (!RunInit(engine, o, false, exitCode)) return exitCode;
    engine.SetThreads(o.threads);

    const int threads = ZipThreads(o.threads);
    TBstr request = ReadHostBstr(o.request, threads), reply, status, message;
    SHORT progress = 0;
    VARIANT_BOOL ok = VARIANT_FALSE;
    HRESULT hr;
    {
        TProgressView view(progress);
        engine.SetObserver([&view](SHORT p, const WideString& s) { view.Step(p, s); });
        hr = engine.Send(request.Get(), *reply.InOut(), progress, *status.InOut(), *message.InOut(),
                         ok);
        engine.SetObserver(nullptr);
    }
    if (FAILED(hr)) {
        Err(Format("nuva: Send failed unexpectedly (0x%08X)\n", static_cast<unsigned>(hr)));
        return 2;
    }
    if (ok) {
        // The reply PDU declares GBK: written in it, or shown on the terminal.
        if (!o.reply.empty())
            SaveFileText(ReplyText(reply, threads), o.reply);
        else
            Out(ReplyText(reply, threads) + "\n");
    }
    Out(message.ToAnsi() + "\n");
    return ok ? 0 : 1;
}

bool ParseThreads(const std::string& text, int& threads) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > kMaxZipThreads) return false;
    threads = static_cast<int>(value);
    return true;
}

bool ParseTransactionOptions(const TArgs& args, bool wantRequest, TTransactionOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--com" || args[i] == "--late") {
            o.late = args[i] == "--late";
            ++o.modes;
            continue;
        }
        if (wantRequest && args[i] == "--threads") {
            if (i + 1 == args.size() || !ParseThreads(args[i + 1], o.threads)) {
                Err("nuva: --threads needs a number from 1 to 8\n");
                return false;
            }
            ++i;
            continue;
        }
        AnsiString* target = args[i] == "--config"                   ? &o.config
                             : args[i] == "--home"                   ? &o.home
                             : wantRequest && args[i] == "--request" ? &o.request
                             : wantRequest && args[i] == "--reply"   ? &o.reply
                                                                     : nullptr;
        if (!target || i + 1 == args.size()) {
            Err("nuva: unexpected argument \"" + ArgumentToAnsi(args[i].c_str()) +
                "\" (try nuva --help)\n");
            return false;
        }
        *target = ArgumentToAnsi(args[++i].c_str());
    }
    if (o.threads > 0 && o.modes > 0) {
        Err("nuva: --threads sets the in-process engine; with --com or --late the configuration's THREADS decides\n");
        return false;
    }
    if (o.config.empty() || (wantRequest && o.request.empty())) {
        Err(wantRequest ? "nuva: send needs --config FILE and --request FILE\n"
                        : "nuva: needs --config FILE\n");
        return false;
    }
    return true;
}

}  // namespace nuva::cli
