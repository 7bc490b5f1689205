// Replays fuzz inputs without libFuzzer: every file named on the command line,
// or every file in a directory named there, goes once through the target.
// The test builds run the committed seeds this way, under the sanitizers.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int failures = 0;
    long runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(arg, ec)) {
                if (!e.is_regular_file()) continue;
                failures += RunFile(e.path());
                ++runs;
            }
        } else if (std::filesystem::exists(arg, ec)) {
            failures += RunFile(arg);
            ++runs;
        }
    }
    std::printf("replayed %ld inputs\n", runs);
    return failures == 0 ? 0 : 1;
}
