// nuva list, nuva unzip, nuva inflate: the reading side of the archive code.
#include <cstdio>
#include <memory>
#include <vector>

#include "Commands.h"
#include "platform/Platform.h"
#include "util/StringList.h"
#include "zip/CompressUtil.h"
#include "zip/ZipReader.h"
#include "zip/codec/CodecIO.h"
#include "zip/codec/Inflate.h"

namespace nuva::cli {

namespace {

const char* MethodName(uint16_t method) {
    switch (method) {
        case 0:
            return "stored";
        case 1:
            return "shrunk";
        case 2:
        case 3:
        case 4:
        case 5:
            return "reduced";
        case 6:
            return "imploded";
        case 8:
            return "deflated";
        default:
            return "unknown";
    }
}

AnsiString DosDateText(uint32_t dos) {
    uint32_t date = dos >> 16, time = dos & 0xFFFF;
    return Format("%04u-%02u-%02u %02u:%02u:%02u", (date >> 9) + 1980, (date >> 5) & 15, date & 31,
                  time >> 11, (time >> 5) & 63, (time & 31) * 2);
}

class TStdoutOutput : public TCodecOutput {
  public:
    void Write(const uint8_t* data, size_t count) override {
        if (std::fwrite(data, 1, count, stdout) != count) throw Exception("Stream write error");
    }
};

}  // namespace

size_t TStdinInput::Read(uint8_t* dest, size_t capacity) {
    size_t done = 0;
    while (done < capacity) {
        const size_t got = std::fread(dest + done, 1, capacity - done, stdin);
        if (got == 0) {
            // A failed read is not the end of the input.
            if (std::ferror(stdin)) throw EReadError("standard input");
            break;
        }
        done += got;
    }
    return done;
}

int ListCommand(const TArgs& args) {
    if (args.size() != 1) {
        Err("usage: nuva list ARCHIVE\n");
        return 2;
    }
    TZipReader reader;
    reader.SetZipName(ArgumentToAnsi(args[0].c_str()));
    reader.ReadZip();
    Out(Format("%-9s %10s %10s %-8s %-19s %s\n", "method", "packed", "size", "crc-32", "date",
               "name"));
    for (const TZipHeaderInfo& e : reader.Entries()) {
        Out(Format("%-9s %10u %10u %08x %-19s ", MethodName(e.method), e.compressedSize,
                   e.uncompressedSize, e.crc32, DosDateText(e.dosDateTime).c_str()) +
            e.Directory() + e.FileName() + "\n");
    }
    Out(Format("%d entries\n", static_cast<int>(reader.Entries().size())));
    return 0;
}

int UnzipCommand(const TArgs& args) {
    if (args.size() != 2) {
        Err("usage: nuva unzip ARCHIVE DIR\n");
        return 2;
    }
    std::unique_ptr<TStringList> files;
    // The entries are inflated by as many workers as `nuva zip` uses.
    bool complete = UnzipAndList(ArgumentToAnsi(args[0].c_str()), ArgumentToAnsi(args[1].c_str()),
                                 files, ZipThreads(0));
    int count = files ? files->Count() : 0;
    for (int i = 0; i < count; ++i) Out((*files)[i] + "\n");
    if (!complete) {
        Err(Format("nuva: not every entry could be extracted (%d files written)\n", count));
        return 1;
    }
    return 0;
}

int InflateCommand(const TArgs& args) {
    if (!args.empty()) {
        Err("usage: nuva inflate < RAW-DEFLATE > DATA\n");
        return 2;
    }
    SetBinaryStdio();
    TStdinInput in;
    TStdoutOutput out;
    TInflater inflater;
    int result = inflater.Run(in, out);
    if (std::fflush(stdout) != 0) throw Exception("Stream write error");
    if (result != 0) {
        Err(Format("nuva: invalid deflate data (code %d)\n", result));
        return 1;
    }
    return 0;
}

void Out(const std::string& ansiText) {
    std::string t = AnsiToTerminal(ansiText);
    std::fwrite(t.data(), 1, t.size(), stdout);
}

void Err(const std::string& ansiText) {
    std::string t = AnsiToTerminal(ansiText);
    std::fwrite(t.data(), 1, t.size(), stderr);
}

}  // namespace nuva::cli
