// nuva_load: N concurrent clients, each a separate process with its own
// work directories and its own engine (NuvaNet + NuvaCA), each sending M
// transactions of K items to one nuva-server whose type code echoes them.
// Reports transactions per second, the latency percentiles and whether
// every reply held exactly the items of its request. bench/load_test.sh
// starts the server and runs it.
//
//   nuva_load --url URL --key-file FILE --work DIR [--clients 16]
//             [--transactions 100] [--items 10] [--item-size 2048] [--type LOAD]
//             [--idle 0]
//
// --idle N: meanwhile the parent holds N more connections to the server
// that trickle their request headers (one byte per connection every 500 ms,
// never the end); one the server closes is opened again at once.
//
// The parent starts the clients (this program with --client I) through the
// shell and reads one line per transaction from each: "tx <microseconds>
// <ok 0/1> <match 0/1>". Exit code 0 when every transaction succeeded and
// matched.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/Main.h"
#include "platform/Com.h"
#include "platform/Platform.h"
#include "util/XmlUtil.h"
#include "util/util.h"

namespace {

using nuva::AnsiString;
using TClock = std::chrono::steady_clock;

struct TOptions {
    std::string url, keyFile, work, type = "LOAD", self;
    int clients = 16, transactions = 100, items = 10, itemSize = 2048, client = -1, idle = 0;
};

bool Parse(int argc, char** argv, TOptions& o) {
    o.self = argv[0];
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--url") o.url = value;
        else if (name == "--key-file") o.keyFile = value;
        else if (name == "--work") o.work = value;
        else if (name == "--type") o.type = value;
        else if (name == "--clients") o.clients = std::atoi(value.c_str());
        else if (name == "--transactions") o.transactions = std::atoi(value.c_str());
        else if (name == "--items") o.items = std::atoi(value.c_str());
        else if (name == "--item-size") o.itemSize = std::atoi(value.c_str());
        else if (name == "--client") o.client = std::atoi(value.c_str());
        else if (name == "--idle") o.idle = std::atoi(value.c_str());
        else return false;
    }
    return argc % 2 == 1 && !o.url.empty() && !o.keyFile.empty() && !o.work.empty() &&
           o.clients > 0 && o.transactions > 0 && o.items > 0 && o.itemSize >= 0 && o.idle >= 0;
}

// The connections that trickle their headers (--idle), on a thread of their
// own. Loopback only: the URL's port on 127.0.0.1.
class TIdleConnections {
  public:
    TIdleConnections(const std::string& url, int count) {
        const size_t colon = url.rfind(':');
        port_ = colon == std::string::npos ? 80 : std::atoi(url.c_str() + colon + 1);
        sockets_.assign(static_cast<size_t>(count), -1);
        for (int& s : sockets_) s = Open();
        thread_ = std::thread([this] { Hold(); });
    }
    ~TIdleConnections() {
        running_ = false;
        thread_.join();
        for (int s : sockets_)
            if (s >= 0) close(s);
    }
    int Reopened() const { return reopened_; }
    int Held() const { return static_cast<int>(std::count_if(sockets_.begin(), sockets_.end(), [](int s) { return s >= 0; })); }

  private:
    int Open() {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        if (s < 0) return -1;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port_));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            close(s);
            return -1;
        }
        fcntl(s, F_SETFL, O_NONBLOCK);
        const char start[] = "POST /transaction HTTP/1.1\r\n";
        (void)!send(s, start, sizeof start - 1, MSG_NOSIGNAL);
        return s;
    }
    void Hold() {
        while (running_) {
            for (int& s : sockets_) {
                if (!running_) break;
                char byte;
                const bool closed = s < 0 || recv(s, &byte, 1, 0) == 0 ||
                                    send(s, "X", 1, MSG_NOSIGNAL) != 1;
                if (closed) {
                    if (s >= 0) close(s);
                    s = Open();
                    ++reopened_;
                }
            }
            for (int i = 0; i < 10 && running_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    int port_;
    std::vector<int> sockets_;
    std::atomic<bool> running_{true};
    std::atomic<int> reopened_{0};
    std::thread thread_;
};

// Printable, XML-neutral text that differs per client, transaction and item.
std::string ItemValue(int client, int tx, int item, int size) {
    std::string value(static_cast<size_t>(size), ' ');
    uint32_t x = 2166136261u ^ static_cast<uint32_t>(client * 1000003 + tx * 1009 + item);
    for (char& c : value) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>('a' + (x >> 16) % 26);
    }
    return value;
}

std::map<AnsiString, AnsiString> Items(const AnsiString& pdu) {
    std::map<AnsiString, AnsiString> items;
    for (const nuva::TXmlNode& content : nuva::GetElements(pdu, "CONTENT")) {
        nuva::TXmlNode name, value;
        nuva::GetElement(content.Inner, "NAME", name);
        nuva::GetElement(content.Inner, "VALUE", value);
        items[nuva::XmlUnescape(name.Inner)] = nuva::XmlUnescape(value.Inner);
    }
    return items;
}

int RunClient(const TOptions& o) {
    const AnsiString dir = nuva::Utf8ToAnsi(o.work) + nuva::PathDelim + nuva::Format("client%d", o.client) +
                           nuva::PathDelim;
    nuva::ForceDirectories(dir);
    nuva::SaveFileText("[" + o.type + "]\nhas_body=1\nis_compress=1\nis_crypt=1\n", dir + "action.ini");
    nuva::SetExeDirectoryOverride(dir);
    CoInitialize(nullptr);
    int failures = 0;
    {
        nuva::TSender engine;
        const AnsiString config = "<CONFIG><SEND_FILE_PATH>" + dir + "send</SEND_FILE_PATH>"
                                  "<RECEIVE_FILE_PATH>" + dir + "recv</RECEIVE_FILE_PATH>"
                                  "<NETWORK_COMPONENT>NuvaNet.dll</NETWORK_COMPONENT>"
                                  "<CA_COMPONENT>NuvaCA.dll</CA_COMPONENT>"
                                  "<NETWORK><URL>" + o.url + "</URL></NETWORK>"
                                  "<CA><KEY_FILE>" + nuva::Utf8ToAnsi(o.keyFile) + "</KEY_FILE></CA></CONFIG>";
        nuva::TBstr c = nuva::TBstr::FromAnsi(config), message;
        VARIANT_BOOL ok = VARIANT_FALSE;
        engine.Init(c.Get(), *message.InOut(), ok);
        if (!ok) {
            std::fprintf(stderr, "client %d: Init failed: %s\n", o.client,
                         nuva::AnsiToUtf8(message.ToAnsi()).c_str());
            return 1;
        }
        for (int tx = 0; tx < o.transactions; ++tx) {
            std::map<AnsiString, AnsiString> sent;
            AnsiString pdu = "<?xml version=\"1.0\" encoding=\"GBK\"?><PDU><SENDER>" +
                             nuva::Format("C%d", o.client) + "</SENDER><TYPE_CODE>" + o.type +
                             "</TYPE_CODE><RESERVE></RESERVE>";
            for (int i = 0; i < o.items; ++i) {
                const AnsiString name = nuva::Format("item%02d.txt", i);
                sent[name] = ItemValue(o.client, tx, i, o.itemSize);
                pdu += "<CONTENT><NAME>" + name + "</NAME><VALUE>" + sent[name] + "</VALUE></CONTENT>";
            }
            pdu += "</PDU>";
            nuva::TBstr request = nuva::TBstr::FromAnsi(pdu), reply, status, msg;
            SHORT progress = 0;
            VARIANT_BOOL result = VARIANT_FALSE;
            const TClock::time_point start = TClock::now();
            engine.Send(request.Get(), *reply.InOut(), progress, *status.InOut(), *msg.InOut(), result);
            const long long us =
                std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - start).count();
            const bool match = result && Items(reply.ToAnsi()) == sent;
            if (!result)
                std::fprintf(stderr, "client %d tx %d: %s\n", o.client, tx,
                             nuva::AnsiToUtf8(msg.ToAnsi()).c_str());
            std::printf("tx %lld %d %d\n", us, result ? 1 : 0, match ? 1 : 0);
            failures += !(result && match);
        }
    }
    CoUninitialize();
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}

int RunParent(const TOptions& o) {
    std::unique_ptr<TIdleConnections> idle;
    if (o.idle > 0) {
        idle = std::make_unique<TIdleConnections>(o.url, o.idle);
        std::printf("idle connections: %d of %d open, trickling their headers\n", idle->Held(), o.idle);
    }
    std::vector<FILE*> children;
    const TClock::time_point start = TClock::now();
    for (int i = 0; i < o.clients; ++i) {
        const std::string command =
            "'" + o.self + "' --client " + std::to_string(i) + " --url '" + o.url + "' --key-file '" +
            o.keyFile + "' --work '" + o.work + "' --type '" + o.type + "' --transactions " +
            std::to_string(o.transactions) + " --items " + std::to_string(o.items) +
            " --item-size " + std::to_string(o.itemSize);
        FILE* child = popen(command.c_str(), "r");
        if (!child) {
            std::perror("popen");
            return 2;
        }
        children.push_back(child);
    }
    std::vector<long long> latencies;
    int failed = 0, mismatched = 0, clientsFailed = 0;
    for (FILE* child : children) {
        char line[128];
        while (std::fgets(line, sizeof line, child)) {
            long long us = 0;
            int ok = 0, match = 0;
            if (std::sscanf(line, "tx %lld %d %d", &us, &ok, &match) != 3) continue;
            latencies.push_back(us);
            failed += !ok;
            mismatched += ok && !match;
        }
        if (pclose(child) != 0) ++clientsFailed;
    }
    const double seconds =
        std::chrono::duration<double>(TClock::now() - start).count();
    if (idle) {
        std::printf("idle connections: %d held meanwhile, %d opened again after the server closed them\n",
                    o.idle, idle->Reopened());
        idle.reset();
    }
    const long long expected = static_cast<long long>(o.clients) * o.transactions;
    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p) {
        if (latencies.empty()) return 0.0;
        const size_t at = std::min(latencies.size() - 1, static_cast<size_t>(p * latencies.size()));
        return latencies[at] / 1000.0;
    };
    std::printf("clients %d x transactions %d, %d items of %d bytes each (compressed, encrypted, echoed)\n",
                o.clients, o.transactions, o.items, o.itemSize);
    std::printf("transactions: %zu of %lld completed, %d failed, %d replies not matching their request\n",
                latencies.size(), expected, failed, mismatched);
    std::printf("wall time %.2f s, %.1f transactions/s\n", seconds, latencies.size() / seconds);
    std::printf("latency p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", percentile(0.50), percentile(0.99),
                latencies.empty() ? 0.0 : latencies.back() / 1000.0);
    const bool clean = static_cast<long long>(latencies.size()) == expected && failed == 0 &&
                       mismatched == 0 && clientsFailed == 0;
    std::printf("%s\n", clean ? "every reply matched its request" : "FAILURES (see above)");
    return clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions o;
    if (!Parse(argc, argv, o)) {
        std::fputs("usage: nuva_load --url URL --key-file FILE --work DIR [--clients N] "
                   "[--transactions M] [--items K] [--item-size BYTES] [--type CODE] [--idle N]\n",
                   stderr);
        return 2;
    }
    return o.client >= 0 ? RunClient(o) : RunParent(o);
}
