// nuva zip and nuva deflate: the writing side of the archive code.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Commands.h"
#include "platform/Platform.h"
#include "util/StringList.h"
#include "zip/CompressUtil.h"
#include "zip/codec/Deflate.h"
#include "zip/codec/MemoryStages.h"

namespace nuva::cli {

namespace {

constexpr int kDefaultLevel = 6;
constexpr size_t kStoredBlockMax = 65535;  // bytes: LEN is 16 bits

// Takes "-l LEVEL" from the front of `args` into `level`; false on a bad
// value. `next` is the index of the first other argument.
bool ParseLevel(const TArgs& args, int minLevel, int& level, size_t& next) {
    level = kDefaultLevel;
    next = 0;
    if (!args.empty() && args[0] == "-l") {
        if (args.size() < 2) return false;
        char* end = nullptr;
        const long value = std::strtol(args[1].c_str(), &end, 10);
        if (args[1].empty() || *end != '\0' || value < minLevel || value > 9) return false;
        level = static_cast<int>(value);
        next = 2;
    }
    return true;
}

// Raw bytes as stored blocks: a header byte (final bit, type 00, padding),
// LEN and its complement NLEN, then the bytes.
std::string StoredBlocks(const std::string& raw) {
    std::string out;
    size_t pos = 0;
    do {
        const size_t n = std::min(kStoredBlockMax, raw.size() - pos);
        const bool last = pos + n == raw.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(n & 0xFF);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(~n & 0xFF);
        out += static_cast<char>((~n >> 8) & 0xFF);
        out.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    return out;
}

}  // namespace

int ZipCommand(const TArgs& args) {
    int level;
    size_t next;
    int threads = 0;
    bool ok = ParseLevel(args, 0, level, next);
    if (ok && next < args.size() && args[next] == "--threads") {
        ok = next + 1 < args.size() && ParseThreads(args[next + 1], threads);
        next += 2;
    }
    if (!ok || args.size() < next + 2) {
        Err("usage: nuva zip [-l LEVEL] [--threads N] ARCHIVE FILE...   (LEVEL 0..9, default 6;"
            " N 1..8, default the hardware threads)\n");
        return 2;
    }
    const AnsiString archive = ArgumentToAnsi(args[next].c_str());
    TStringList files;
    for (size_t i = next + 1; i < args.size(); ++i) files.Add(ArgumentToAnsi(args[i].c_str()));
    int packed = 0;
    const bool complete = ZipFilesAtLevel(files, archive, level, &packed, ZipThreads(threads));
    Out(Format("%d\n", packed));
    if (!complete) {
        Err("nuva zip: not every listed file was packed\n");
        return 1;
    }
    return 0;
}

int DeflateCommand(const TArgs& args) {
    int level;
    size_t next;
    if (!ParseLevel(args, 1, level, next) || next != args.size()) {
        Err("usage: nuva deflate [-l LEVEL]   (LEVEL 1..9, default 6)\n");
        return 2;
    }
    SetBinaryStdio();
    TDeflater deflater;
    TStdinInput input;
    TStringOutput output;
    TDeflateEntry entry;
    deflater.Run(input, output, level, entry);
    if (std::ferror(stdin)) {
        Err("nuva deflate: cannot read standard input\n");
        return 1;
    }
    // Stored whole: the bytes are the input itself and need block frames.
    const std::string stream = entry.method == 0 ? StoredBlocks(output.bytes) : output.bytes;
    if (std::fwrite(stream.data(), 1, stream.size(), stdout) != stream.size() ||
        std::fflush(stdout) != 0) {
        Err("nuva deflate: cannot write standard output\n");
        return 1;
    }
    return 0;
}

}  // namespace nuva::cli
