// nuva: the command-line host of the library. main parses the command, runs
// it, prints the outcome and returns 0 (success), 1 (failure) or 2 (usage).
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"
#include "platform/Platform.h"

namespace {

const char kUsage[] =
    "usage: nuva COMMAND [ARGS]\n"
    "\n"
    "The command-line host of the DuredaVevuvavizuriz_NUVA library: it runs\n"
    "transactions through the library's engine, and its own zip and deflate code\n"
    "on files.\n"
    "\n"
    "commands:\n"
    "  send --config FILE --request FILE [--reply FILE] [--home DIR] [--threads N]\n"
    "                     Init with the configuration, then Send the request PDU\n"
    "                     (items packed by N workers, 1-8; default: THREADS of\n"
    "                     the configuration, else the hardware threads);\n"
    "                     shows the progress on standard error, writes the reply\n"
    "                     PDU (GBK) to FILE or shows it, prints the final message;\n"
    "                     exits 0 when the transaction succeeded, 1 when not\n"
    "  init --config FILE [--home DIR]\n"
    "                     Init only: registers and initialises the components\n"
    "  testconn --config FILE [--home DIR]\n"
    "                     Init, then the network component's connection test\n"
    "  send|init|testconn --com|--late ...\n"
    "                     the same through the library's COM server, as a\n"
    "                     business application runs it: SenderImpl created by\n"
    "                     its ProgID and called through the ISender vtable (--com)\n"
    "                     or through IDispatch by name (--late); action.ini is\n"
    "                     read beside nuva (no --home). Windows: register first\n"
    "                     (nuva register). Linux, where the registry lives in the\n"
    "                     process: nuva registers DuredaVevuvavizuriz_NUVA.dll\n"
    "                     itself, found beside nuva or in the current directory\n"
    "  register [--unregister] [DIR]\n"
    "                     Windows: register the host's type library Sender.tlb and\n"
    "                     then DuredaVevuvavizuriz_NUVA.dll, both in DIR (default:\n"
    "                     beside nuva); --unregister removes them\n"
    "  list ARCHIVE       one line per entry: method, packed and unpacked size,\n"
    "                     CRC-32, date and name\n"
    "  unzip ARCHIVE DIR  extract every entry into DIR (created when missing,\n"
    "                     existing files replaced) and print the files written;\n"
    "                     exits 1 when an entry could not be extracted\n"
    "  inflate            decode a raw deflate stream from standard input to\n"
    "                     standard output\n"
    "  zip [-l LEVEL] [--threads N] ARCHIVE FILE...\n"
    "                     pack the files (names without their directories) into\n"
    "                     a fresh ARCHIVE at LEVEL 0-9 (default 6) with N workers\n"
    "                     (1-8, default the hardware threads); prints the\n"
    "                     number packed; exits 1 when a file could not be packed\n"
    "  deflate [-l LEVEL] compress standard input to a raw deflate stream on\n"
    "                     standard output (LEVEL 1-9, default 6)\n"
    "  --help             show this text\n"
    "\n"
    "Names are shown in the terminal's encoding; archives hold them in GBK.\n"
    "Configuration and request files are read as GBK, or as UTF-8 when they start\n"
    "with a byte-order mark or declare encoding=\"UTF-8\". action.ini and empty\n"
    "work directories are looked for in DIR (--home), by default in the directory\n"
    "of the nuva program itself (the host executable's directory). Components\n"
    "named by bare file name are found beside nuva, then in the current directory.\n"
    "exit codes: 0 success, 1 failure, 2 usage error or unexpected failure\n";

struct TCommand {
    const char* name;
    int (*run)(const nuva::cli::TArgs&);
};

const TCommand kCommands[] = {
    {"list", nuva::cli::ListCommand},         {"unzip", nuva::cli::UnzipCommand},
    {"inflate", nuva::cli::InflateCommand},   {"zip", nuva::cli::ZipCommand},
    {"deflate", nuva::cli::DeflateCommand},   {"send", nuva::cli::SendCommand},
    {"init", nuva::cli::InitCommand},         {"testconn", nuva::cli::TestConnCommand},
    {"register", nuva::cli::RegisterCommand},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    // The UI handler prints instead of showing a box: a console host has no window.
    nuva::SetMessageBoxHandler(
        [](const nuva::AnsiString& text, const nuva::AnsiString& caption, unsigned) {
            nuva::cli::Err(caption + ": " + text + "\n");
            return static_cast<int>(nuva::idOk);
        });
    for (const TCommand& command : kCommands) {
        if (std::strcmp(argv[1], command.name) != 0) continue;
        nuva::cli::TArgs args(argv + 2, argv + argc);
        try {
            if (nuva::cli::WantsComServer(command.name, args))
                return nuva::cli::ComHostCommand(command.name, args);
            return command.run(args);
        } catch (const nuva::Exception& e) {
            nuva::cli::Err(nuva::AnsiString("nuva: ") + e.what() + "\n");
            return 1;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "nuva: %s\n", e.what());
            return 1;
        }
    }
    std::fprintf(stderr, "nuva: unknown command \"%s\" (try nuva --help)\n", argv[1]);
    return 2;
}
