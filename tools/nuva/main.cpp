// nuva: the command-line host of the library.
#include <cstdio>
#include <cstring>

#include "platform/Platform.h"

namespace {

const char kUsage[] =
    "usage: nuva COMMAND [ARGS]\n"
    "\n"
    "The command-line host of the DuredaVevuvavizuriz_NUVA library.\n"
    "\n"
    "commands:\n"
    "  --help    show this text\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, stdout);
        return argc < 2 ? 1 : 0;
    }
    std::fprintf(stderr, "nuva: unknown command \"%s\" (try nuva --help)\n", argv[1]);
    return 1;
}
