// Deflates every file of the benchmark corpus at levels 1 to 9 and prints a
// SHA-256 of what the compressor wrote, per file and level (the small files
// as one digest per level over their names, methods, sizes and bytes), so
// that runs and builds can be compared line by line:
//
//   deflate_digests CORPUS_DIR [--fresh]
//
// --fresh takes a new compressor for every file; by default one serves all,
// as one archive's entries share it. Each input is first checked against the
// corpus' own _meta/SHA256SUMS (exit 1 on a mismatch or a missing file), which
// also shows that the digests printed here are computed correctly.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Sha256.h"
#include "zip/codec/Deflate.h"
#include "zip/codec/MemoryStages.h"

namespace {

using nuva::test::TSha256;

struct TFile {
    std::string name;
    std::string bytes;
};

class TDigestOutput : public nuva::TCodecOutput {
  public:
    explicit TDigestOutput(TSha256& sha) : sha_(sha) {}
    void Write(const uint8_t* data, size_t count) override {
        sha_.Update(data, count);
        size += count;
    }
    uint64_t size = 0;

  private:
    TSha256& sha_;
};

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::ostringstream s;
    s << f.rdbuf();
    bytes = s.str();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: deflate_digests CORPUS_DIR [--fresh]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const bool fresh = argc > 2 && std::strcmp(argv[2], "--fresh") == 0;

    std::string sums;
    if (!ReadFile(dir + "/_meta/SHA256SUMS", sums)) {
        std::fprintf(stderr, "no %s/_meta/SHA256SUMS\n", dir.c_str());
        return 1;
    }
    std::vector<TFile> files;
    std::istringstream lines(sums);
    std::string expected, name;
    TSha256 sha;
    while (lines >> expected >> name) {
        TFile f{name, {}};
        if (!ReadFile(dir + "/" + name, f.bytes)) {
            std::fprintf(stderr, "cannot read %s\n", name.c_str());
            return 1;
        }
        sha.Update(f.bytes.data(), f.bytes.size());
        if (sha.HexDigest() != expected) {
            std::fprintf(stderr, "%s differs from the corpus' SHA256SUMS\n", name.c_str());
            return 1;
        }
        files.push_back(std::move(f));
    }

    auto shared = std::make_unique<nuva::TDeflater>();
    for (int level = 1; level <= 9; ++level) {
        TSha256 small;
        for (const TFile& f : files) {
            std::unique_ptr<nuva::TDeflater> own;
            nuva::TDeflater* deflater = shared.get();
            if (fresh) {
                own = std::make_unique<nuva::TDeflater>();
                deflater = own.get();
            }
            const bool isSmall = f.name.rfind("small/", 0) == 0;
            TSha256 one;
            TDigestOutput out(isSmall ? small : one);
            if (isSmall) small.Update(f.name.data(), f.name.size());
            nuva::TSpanInput in(f.bytes);
            nuva::TDeflateEntry entry;
            deflater->Run(in, out, level, entry);
            if (isSmall) {
                const std::string tail = " " + std::to_string(entry.method) + " " +
                                         std::to_string(out.size) + "\n";
                small.Update(tail.data(), tail.size());
            } else {
                std::printf("L%d %s %d %llu %s\n", level, f.name.c_str(), entry.method,
                            static_cast<unsigned long long>(out.size), one.HexDigest().c_str());
            }
        }
        std::printf("L%d small/* %s\n", level, small.HexDigest().c_str());
    }
    return 0;
}
