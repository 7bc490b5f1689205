// Shared by the benchmark programs: where the corpus is and how to load it.
#pragma once

#include <string>
#include <vector>

namespace nuva::bench {

// The corpus directory: $NUVA_CORPUS, else build/corpus beside the checkout
// (scripts/bench.sh generates it there). Ends with '/'.
std::string CorpusDir();
// Reads a corpus file whole; exits with a message when it is missing.
std::string LoadCorpusFile(const std::string& name);
// The corpus files (names relative to CorpusDir()), sorted, directories
// descended; _meta/ and hidden files left out.
std::vector<std::string> ListCorpus();

}  // namespace nuva::bench
