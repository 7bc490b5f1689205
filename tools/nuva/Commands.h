// The commands of the nuva command-line host. Each takes its own arguments
// (after the command name) and returns the process exit code: 0 on success,
// 1 on failure (with the error text on stderr), 2 on a usage error.
#pragma once

#include <string>
#include <vector>

#include "platform/Com.h"
#include "platform/Errors.h"
#include "zip/codec/CodecIO.h"

namespace nuva::cli {

using TArgs = std::vector<std::string>;

int ListCommand(const TArgs& args);
int UnzipCommand(const TArgs& args);
int InflateCommand(const TArgs& args);
// nuva zip [-l LEVEL] [--threads N] ARCHIVE FILE...: packs the files into a
// fresh ARCHIVE at LEVEL 0..9 (default 6) with N workers (default: the
// hardware threads, at most 8), prints the number packed; 1 when a file
// could not be packed or the archive not written.
int ZipCommand(const TArgs& args);
// nuva deflate [-l LEVEL]: standard input to a raw deflate stream on standard
// output at LEVEL 1..9; input the compressor keeps whole as stored bytes is
// framed as stored blocks of at most 65535 bytes.
int DeflateCommand(const TArgs& args);

// nuva init|testconn --config FILE [--home DIR] and
// nuva send --config FILE --request FILE [--reply FILE] [--home DIR]
// [--threads N]: Init
// (then TestConn or Send) on an engine of this process; 0 when the result is
// true, 1 when false, 2 for a usage error or a failure status.
int InitCommand(const TArgs& args);
int TestConnCommand(const TArgs& args);
int SendCommand(const TArgs& args);

// The same three through the library's COM server (ComCommands.cpp): with
// --com SenderImpl is created by its ProgID and called through the ISender
// vtable, with --late through IDispatch by name. WantsComServer tells
// whether a command's arguments ask for that.
bool WantsComServer(const std::string& command, const TArgs& args);
int ComHostCommand(const std::string& command, const TArgs& args);
// nuva register [--unregister] [DIR]: registers the host's type library
// Sender.tlb and then the library (removes them in the reverse order); both
// files in DIR, by default nuva's own directory. Windows only.
int RegisterCommand(const TArgs& args);

// The options of init, testconn and send: --config FILE; for send also
// --request FILE, --reply FILE and --threads N (1..8, in-process only); --home
// DIR; --com and --late (counted in `modes`, the last one deciding `late`).
// False (with a message) on anything else, a missing or bad value, or a
// missing --config or --request.
struct TTransactionOptions {
    AnsiString config, request, reply, home;
    int threads = 0;  // 0: the configuration's THREADS
    int modes = 0;
    bool late = false;
};
bool ParseTransactionOptions(const TArgs& args, bool wantRequest, TTransactionOptions& o);
// The value of --threads: a whole number 1..8; false otherwise.
bool ParseThreads(const std::string& text, int& threads);

// A configuration or request file's text as a host passes it: the system
// code page, or UTF-8 when it starts with a byte-order mark or its XML
// declaration says encoding="UTF-8". A long text in the system code page
// converts on `threads` threads, straight into the BSTR.
TBstr ReadHostBstr(const AnsiString& path, int threads);
// A reply PDU in the system code page, as the PDU's declaration says; a long
// one converts on `threads` threads.
AnsiString ReplyText(const TBstr& reply, int threads);

// Writes system code page text to stdout / stderr, converted for the terminal.
void Out(const std::string& ansiText);
void Err(const std::string& ansiText);

// Standard input as a codec's input stage (binary mode set by the caller).
class TStdinInput : public TCodecInput {
  public:
    size_t Read(uint8_t* dest, size_t capacity) override;
};

}  // namespace nuva::cli
