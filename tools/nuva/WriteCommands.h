// The writing commands of the nuva tool. Each takes the arguments after the
// command word and returns the process exit code: 0 done, 1 failed (the
// error text is on standard error), 2 bad usage.
#pragma once

#include <string>
#include <vector>

namespace nuva::cli {

// nuva zip [-l LEVEL] ARCHIVE FILE...
// Packs the files into a new ARCHIVE (an existing file of that name is
// replaced) at LEVEL 0..9 (default 6) and prints the number of files packed.
// Exits 1 when a file could not be packed or the archive could not be
// written.
int ZipCommand(const std::vector<std::string>& args);

// nuva deflate [-l LEVEL]
// Compresses standard input to standard output as a raw deflate stream at
// LEVEL 1..9 (default 6). Input that the compressor keeps whole as stored
// bytes is framed as stored blocks of at most 65535 bytes, so the output is
// always a valid stream.
int DeflateCommand(const std::vector<std::string>& args);

}  // namespace nuva::cli
