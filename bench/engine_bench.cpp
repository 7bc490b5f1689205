// Whole transactions through the engine with the test components (the echo
// network component and the reversible CA transform, both beside this
// program): Send of one 8 MiB item (xml_gbk_8m.xml) compressed and
// encrypted, against deflating and inflating that file alone with our codec
// in memory (the work the transaction cannot avoid); and Send of 10,000
// items of 200 bytes, where file creation dominates; Send of eight 1 MiB
// items. Arguments give the engine's threads (0: the hardware's).
//
// Work directories are made under $TMPDIR (run with TMPDIR=/dev/shm for the
// figures of a memory file system).
//
//   scripts/bench.sh engine_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "engine/Main.h"
#include "platform/Platform.h"
#include "util/XmlUtil.h"
#include "zip/codec/Deflate.h"
#include "zip/codec/Inflate.h"
#include "zip/codec/MemoryStages.h"

namespace {

using namespace nuva;

// Removes a directory and everything in it.
void RemoveTree(const AnsiString& dir) {
    for (const TDirEntry& e : ListDirectoryEntries(dir)) {
        if (e.name == "." || e.name == "..") continue;
        const AnsiString path = IncludeTrailingPathDelimiter(dir) + e.name;
        if (e.attributes & faDirectory) {
            RemoveTree(path);
        } else {
            SetFileAttributes(path, faArchive);
            DeleteFile(path);
        }
    }
    RemoveDir(dir);
}

// An initialised engine with its own work directories (a unique directory
// under $TMPDIR), removed at the end.
class TBenchEngine {
  public:
    TBenchEngine() {
        dir_ = IncludeTrailingPathDelimiter(CreateUniqueTempDirectory("", "nuva-engine-bench-"));
        SetExeDirectoryOverride(dir_);  // no action.ini: every step on
        CoInitialize(nullptr);
        const AnsiString config = "<SEND_FILE_PATH>" + dir_ +
                                  "send</SEND_FILE_PATH><RECEIVE_FILE_PATH>" + dir_ +
                                  "recv</RECEIVE_FILE_PATH><NETWORK_COMPONENT>TestNet.dll" +
                                  "</NETWORK_COMPONENT><CA_COMPONENT>TestCA.dll</CA_COMPONENT>" +
                                  "<NETWORK></NETWORK><CA></CA>";
        TBstr c = TBstr::FromAnsi(config), msg;
        VARIANT_BOOL ok = VARIANT_FALSE;
        engine_.Init(c.Get(), *msg.InOut(), ok);
        ready_ = ok != VARIANT_FALSE;
    }
    ~TBenchEngine() { RemoveTree(dir_); }

    // One Send; false when it did not succeed.
    bool Send(BSTR request, size_t* replyLength) {
        TBstr reply, status, msg;
        SHORT progress = 0;
        VARIANT_BOOL ok = VARIANT_FALSE;
        engine_.Send(request, *reply.InOut(), progress, *status.InOut(), *msg.InOut(), ok);
        *replyLength = reply.Length();
        return ok != VARIANT_FALSE;
    }
    bool Ready() const { return ready_; }
    void SetThreads(int threads) { engine_.SetThreads(threads); }

  private:
    AnsiString dir_;
    TSender engine_;
    bool ready_ = false;
};

AnsiString Pdu(const std::vector<std::pair<AnsiString, AnsiString>>& items) {
    AnsiString pdu =
        "<?xml version=\"1.0\" "
        "encoding=\"GBK\"?><PDU><SENDER>BENCH</SENDER><TYPE_CODE>01</TYPE_CODE>"
        "<RESERVE></RESERVE>";
    for (const auto& [name, value] : items)
        pdu +=
            "<CONTENT><NAME>" + name + "</NAME><VALUE>" + XmlEscape(value) + "</VALUE></CONTENT>";
    return pdu + "</PDU>";
}

// `threads` 0: the engine's default (the hardware threads).
void RunSend(benchmark::State& state, const AnsiString& pdu, size_t bytes, int threads = 0) {
    TBenchEngine engine;
    engine.SetThreads(threads);
    if (!engine.Ready()) {
        state.SkipWithError("Init failed: are TestNet.dll and TestCA.dll beside the program?");
        return;
    }
    TBstr request = TBstr::FromAnsi(pdu);
    size_t replyLength = 0;
    for (auto _ : state) {
        if (!engine.Send(request.Get(), &replyLength)) {
            state.SkipWithError("Send failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.counters["reply_chars"] = double(replyLength);
}

// The argument: the engine's threads.
void BM_SendOneLargeItem(benchmark::State& state) {
    static const std::string file = bench::LoadCorpusFile("xml_gbk_8m.xml");
    RunSend(state, Pdu({{"data.xml", file}}), file.size(), int(state.range(0)));
}

// Eight items of 1 MiB cut from the same file (on character boundaries),
// with the engine's threads as the argument: run once as it is and once
// under `taskset -c 0` for the two-core / one-core ratio.
void BM_SendEightItems(benchmark::State& state) {
    static const std::string file = bench::LoadCorpusFile("xml_gbk_8m.xml");
    std::vector<std::pair<AnsiString, AnsiString>> items;
    size_t at = 0, bytes = 0;
    for (int i = 0; i < 8 && at < file.size(); ++i) {
        size_t end = std::min(file.size(), at + (size_t(1) << 20));
        while (end < file.size() && static_cast<unsigned char>(file[end - 1]) >= 0x40) --end;
        items.emplace_back(Format("item%d.xml", i), file.substr(at, end - at));
        bytes += end - at;
        at = end;
    }
    RunSend(state, Pdu(items), bytes, int(state.range(0)));
}

void BM_DeflateInflateAlone(benchmark::State& state) {
    static const std::string file = bench::LoadCorpusFile("xml_gbk_8m.xml");
    TDeflater deflater;
    TInflater inflater;
    for (auto _ : state) {
        // Outputs sized beforehand, as an extractor that knows the entry's
        // size would: the figure is the codec's, not a growing string's.
        TSpanInput source(file);
        TStringOutput packed;
        packed.bytes.reserve(file.size() / 2);
        TDeflateEntry entry;
        deflater.Run(source, packed, 6, entry);
        TSpanInput packedIn(packed.bytes);
        TStringOutput plain;
        plain.bytes.reserve(file.size());
        if (inflater.Run(packedIn, plain) != 0 || plain.bytes.size() != file.size()) {
            state.SkipWithError("round trip failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

void BM_SendManySmallItems(benchmark::State& state) {
    const int count = int(state.range(0));
    static const std::string text = bench::LoadCorpusFile("text_en.txt");
    std::vector<std::pair<AnsiString, AnsiString>> items;
    size_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        items.emplace_back(Format("item%05d.txt", i),
                           text.substr((size_t(i) * 200) % (text.size() - 200), 200));
        bytes += 200;
    }
    RunSend(state, Pdu(items), bytes);
}

BENCHMARK(BM_DeflateInflateAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SendOneLargeItem)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SendEightItems)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SendManySmallItems)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
