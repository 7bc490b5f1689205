#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace nuva::bench {

std::string CorpusDir() {
    const char* env = std::getenv("NUVA_CORPUS");
    std::string dir = env && *env ? env : std::string(NUVA_SOURCE_DIR "/build/corpus");
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string LoadCorpusFile(const std::string& name) {
    std::ifstream in(CorpusDir() + name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "corpus file %s%s is missing: run scripts/bench.sh (or set NUVA_CORPUS)\n",
                     CorpusDir().c_str(), name.c_str());
        std::exit(2);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ListCorpus() {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(CorpusDir(), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        std::string name = std::filesystem::relative(it->path(), CorpusDir()).generic_string();
        if (name.rfind("_meta", 0) != 0 && name[0] != '.') names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace nuva::bench
