// The text utilities on the benchmark corpus: XML escaping and unescaping of
// the 8 MiB GBK document (the one-pass versions against the five whole-text
// replaces they stand for), its code-page conversions (counting only, and
// converting) and element listing on a PDU of 10,000 items.
//
//   NUVA_CORPUS=/work/corpus build/release/bin/util_bench
#include <benchmark/benchmark.h>

#include <string>

#include "BenchSupport.h"
#include "platform/Platform.h"
#include "util/FastStrings.h"
#include "util/ParallelText.h"
#include "util/XmlUtil.h"

namespace {

using nuva::AnsiString;

constexpr int kPduItems = 10000;
constexpr size_t kItemBytes = 200;  // about, per CONTENT element

const std::string& Document() {
    static const std::string doc = nuva::bench::LoadCorpusFile("xml_gbk_8m.xml");
    return doc;
}

AnsiString EscapeByFivePasses(AnsiString s) {
    s = nuva::FastReplace(s, "&", "&amp;", true);
    s = nuva::FastReplace(s, "<", "&lt;", true);
    s = nuva::FastReplace(s, ">", "&gt;", true);
    s = nuva::FastReplace(s, "\"", "&quot;", true);
    return nuva::FastReplace(s, "'", "&apos;", true);
}

AnsiString UnescapeByFivePasses(AnsiString s) {
    s = nuva::FastReplace(s, "&lt;", "<", true);
    s = nuva::FastReplace(s, "&gt;", ">", true);
    s = nuva::FastReplace(s, "&quot;", "\"", true);
    s = nuva::FastReplace(s, "&apos;", "'", true);
    return nuva::FastReplace(s, "&amp;", "&", true);
}

// A PDU whose items carry distinct names and escaped GBK values cut from the
// corpus document, each item about kItemBytes long.
AnsiString MakePdu(int items) {
    const std::string& doc = Document();
    AnsiString pdu =
        "<?xml version=\"1.0\" encoding=\"GBK\"?><PDU><SENDER>S01</SENDER>"
        "<TYPE_CODE>0001</TYPE_CODE><RESERVE></RESERVE>";
    for (int i = 0; i < items; ++i) {
        const AnsiString head = "<CONTENT><NAME>file" + std::to_string(i) + ".txt</NAME><VALUE>";
        const AnsiString tail = "</VALUE></CONTENT>";
        size_t from = (static_cast<size_t>(i) * 7919) % (doc.size() - 4096);
        while (from < doc.size() && static_cast<unsigned char>(doc[from]) >= 0x80) ++from;
        AnsiString value = nuva::XmlEscape(doc.substr(from, kItemBytes));
        value.resize(kItemBytes - head.size() - tail.size());
        while (!value.empty() && value.back() == '&') value.pop_back();
        pdu += head + value + tail;
    }
    return pdu + "</PDU>";
}

void Throughput(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_XmlEscape(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state) benchmark::DoNotOptimize(nuva::XmlEscape(doc));
    Throughput(state, doc.size());
}

void BM_XmlEscapeFivePasses(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state) benchmark::DoNotOptimize(EscapeByFivePasses(doc));
    Throughput(state, doc.size());
}

void BM_XmlUnescape(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state) benchmark::DoNotOptimize(nuva::XmlUnescape(doc));
    Throughput(state, doc.size());
}

void BM_XmlUnescapeFivePasses(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state) benchmark::DoNotOptimize(UnescapeByFivePasses(doc));
    Throughput(state, doc.size());
}

// Unescaping the escaped document: an entity every few bytes.
void BM_XmlUnescapeEscaped(benchmark::State& state) {
    const AnsiString escaped = nuva::XmlEscape(Document());
    for (auto _ : state) benchmark::DoNotOptimize(nuva::XmlUnescape(escaped));
    Throughput(state, escaped.size());
}

void BM_XmlUnescapeEscapedFivePasses(benchmark::State& state) {
    const AnsiString escaped = nuva::XmlEscape(Document());
    for (auto _ : state) benchmark::DoNotOptimize(UnescapeByFivePasses(escaped));
    Throughput(state, escaped.size());
}

void BM_GetElements(benchmark::State& state) {
    const AnsiString pdu = MakePdu(static_cast<int>(state.range(0)));
    size_t count = 0;
    for (auto _ : state) {
        std::vector<nuva::TXmlNode> nodes = nuva::GetElements(pdu, "CONTENT");
        count = nodes.size();
        benchmark::DoNotOptimize(nodes.data());
    }
    state.counters["items"] = static_cast<double>(count);
    state.counters["pdu_bytes"] = static_cast<double>(pdu.size());
    Throughput(state, pdu.size());
}

// The removal steps themselves, for comparison (quadratic: fewer items).
void BM_GetElementsByRemoval(benchmark::State& state) {
    const AnsiString pdu = MakePdu(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::vector<nuva::TXmlNode> nodes = nuva::detail::GetElementsByRemoval(pdu, "CONTENT");
        benchmark::DoNotOptimize(nodes.data());
    }
    Throughput(state, pdu.size());
}

void BM_FastReplace(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state) benchmark::DoNotOptimize(nuva::FastReplace(doc, "</", "<!/", true));
    Throughput(state, doc.size());
}

}  // namespace

// The code page to UTF-16 and back, as the reply and the request take them.
void BM_GbkUnitsCount(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state)
        benchmark::DoNotOptimize(nuva::AnsiToWideInto(doc.data(), doc.size(), nullptr, 0));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(doc.size()));
}

void BM_GbkToUtf16(benchmark::State& state) {
    const std::string& doc = Document();
    std::u16string wide(doc.size(), u'\0');
    for (auto _ : state)
        benchmark::DoNotOptimize(
            nuva::AnsiToWideInto(doc.data(), doc.size(), &wide[0], wide.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(doc.size()));
}

void BM_Utf16ToGbk(benchmark::State& state) {
    const std::string& doc = Document();
    const nuva::WideString wide = nuva::AnsiToWide(doc);
    std::string back(2 * wide.size(), '\0');
    for (auto _ : state)
        benchmark::DoNotOptimize(
            nuva::WideToAnsiInto(wide.data(), wide.size(), &back[0], back.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(doc.size()));
}

// A request's conversion (the document as one escaped value) in pieces on
// the argument's threads.
void BM_Utf16ToGbkParallel(benchmark::State& state) {
    const std::string& doc = Document();
    const nuva::WideString wide = nuva::AnsiToWide(nuva::XmlEscape(doc));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            nuva::WideToAnsiParallel(wide.data(), wide.size(), static_cast<int>(state.range(0))));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(doc.size()));
}

BENCHMARK(BM_Utf16ToGbkParallel)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GbkUnitsCount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GbkToUtf16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf16ToGbk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlEscape)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlEscapeFivePasses)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlUnescape)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlUnescapeFivePasses)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlUnescapeEscaped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlUnescapeEscapedFivePasses)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetElements)->Arg(kPduItems)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetElementsByRemoval)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastReplace)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
