// nuva-server: the reference transaction server (native only). It serves
// the wire format of src/protocol/net/Wire.h with the handlers of its
// configuration file (server/README.md), logs one line per transaction to
// standard output and stops cleanly on SIGINT or SIGTERM (the transactions
// that run finish first).
//
//   nuva-server --config FILE [--port N] [--port-file FILE]
//
// --port overrides the configuration's port (0: a free one); --port-file
// receives the port once the server listens. Exit codes: 0 after a clean
// stop, 1 for a bad configuration or an address that cannot be bound, 2 for
// a usage error.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "HttpServer.h"
#include "ServerConfig.h"
#include "platform/Platform.h"
#include "util/util.h"

namespace {

const char kUsage[] =
    "usage: nuva-server --config FILE [--port N] [--port-file FILE]\n"
    "  --config FILE     the server configuration (XML, UTF-8; see server/README.md)\n"
    "  --port N          listen on port N instead of the configured one (0: a free port)\n"
    "  --port-file FILE  write the port there once listening\n";

std::mutex g_output;

void Print(FILE* stream, const std::string& line) {
    std::lock_guard<std::mutex> lock(g_output);
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
    std::string configPath, portFile;
    long port = -1;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--config") == 0 && hasValue) {
            configPath = argv[++i];
        } else if (std::strcmp(argv[i], "--port-file") == 0 && hasValue) {
            portFile = argv[++i];
        } else if (std::strcmp(argv[i], "--port") == 0 && hasValue) {
            char* end = nullptr;
            port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) port = -2;
        } else {
            port = -2;
        }
        if (port == -2) break;
    }
    if (configPath.empty() || port == -2) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    // Signals are taken by one watcher thread: block them before any other
    // thread exists, so that every worker inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // A message box (an archive with an unknown method) becomes a log line.
    nuva::SetMessageBoxHandler([](const nuva::AnsiString& text, const nuva::AnsiString& caption,
                                  unsigned) {
        Print(stderr, "nuva-server: " + nuva::AnsiToUtf8(caption + ": " + text));
        return static_cast<int>(nuva::idOk);
    });

    try {
        nuva::server::TServerConfig config = nuva::server::LoadServerConfig(
            nuva::ArgumentToAnsi(configPath.c_str()));
        if (port >= 0) config.port = static_cast<uint32_t>(port);
        // Each connection is a descriptor: the soft limit is raised as far
        // as the connection limit needs and the hard limit allows.
        rlimit files{};
        const rlim_t wanted = static_cast<rlim_t>(config.maxConnections) + config.workers + 256;
        if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < wanted) {
            files.rlim_cur = files.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, files.rlim_max);
            setrlimit(RLIMIT_NOFILE, &files);
            if (files.rlim_cur < wanted)
                Print(stderr, "nuva-server: the system allows " + std::to_string(files.rlim_cur) +
                                  " open files, fewer than MAX_CONNECTIONS needs");
        }
        nuva::server::THttpServer server(
            config, [](const std::string& line) { Print(stdout, line); },
            [](const std::string& line) { Print(stderr, line); });
        const int bound = server.Bind();
        if (!portFile.empty()) {
            // Written whole under another name first: a reader never sees half of it.
            const std::string temp = portFile + ".tmp";
            FILE* f = std::fopen(temp.c_str(), "w");
            if (!f || std::fprintf(f, "%d\n", bound) < 0 || std::fclose(f) != 0 ||
                std::rename(temp.c_str(), portFile.c_str()) != 0) {
                Print(stderr, "nuva-server: cannot write " + portFile);
                return 1;
            }
        }
        Print(stderr, "nuva-server: listening on " + nuva::AnsiToUtf8(config.listen) + ":" +
                          std::to_string(bound) + (config.tlsCert.empty() ? "" : " (HTTPS)"));

        std::atomic<bool> finished{false};
        std::thread watcher([&] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            if (finished) return;
            Print(stderr, std::string("nuva-server: ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                              ", stopping");
            // Stop may come before the listener runs: repeat until it ends.
            while (!finished) {
                server.Stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        server.Run();
        finished = true;
        // The watcher waits for a signal; once serving has ended for another
        // reason, send it one.
        pthread_kill(watcher.native_handle(), SIGTERM);
        watcher.join();
        Print(stderr, "nuva-server: stopped");
    } catch (const nuva::Exception& e) {
        Print(stderr, "nuva-server: " + nuva::AnsiToUtf8(e.Message()));
        return 1;
    }
    return 0;
}
