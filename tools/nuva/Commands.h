// The commands of the nuva command-line host. Each takes its own arguments
// (after the command name) and returns the process exit code: 0 on success,
// 1 on failure (with the error text on stderr), 2 on a usage error.
#pragma once

#include <string>
#include <vector>

namespace nuva::cli {

using TArgs = std::vector<std::string>;

int ListCommand(const TArgs& args);
int UnzipCommand(const TArgs& args);
int InflateCommand(const TArgs& args);

// Writes system code page text to stdout / stderr, converted for the terminal.
void Out(const std::string& ansiText);
void Err(const std::string& ansiText);

}  // namespace nuva::cli
