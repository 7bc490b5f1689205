// Runs the reader over archive bytes in a scratch directory and reports what
// came out: the error text (empty when none), the count, and every file that
// is in the destination directory afterwards.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "TestSupport.h"
#include "zip/ZipReader.h"

namespace nuva::test {

struct TExtractOutcome {
    std::string error;
    int count = -1;
    int fileEntries = 0;
    int filesExtracted = 0;
    std::vector<AnsiString> written;           // ExtractedFiles(), names only
    std::map<std::string, std::string> files;  // what is in the destination
};

inline std::map<std::string, std::string> FilesIn(const AnsiString& dir) {
    std::map<std::string, std::string> files;
    for (const TDirEntry& e : ListDirectoryEntries(dir)) {
        if (e.name == "." || e.name == "..") continue;
        files[e.name] = (e.attributes & faDirectory)
                            ? std::string("<dir>")
                            : ReadAll(IncludeTrailingPathDelimiter(dir) + e.name);
    }
    return files;
}

inline TExtractOutcome ExtractFile(const AnsiString& archive, const AnsiString& dest,
                                   const std::function<void(TZipReader&)>& configure = {}) {
    TExtractOutcome r;
    TZipReader reader;
    reader.SetZipName(archive);
    reader.SetDestDir(dest);
    reader.OverwriteMode = TOverwriteMode::Always;
    reader.DoAll = true;
    if (configure) configure(reader);
    try {
        r.count = reader.UnZip();
    } catch (const Exception& e) {
        r.error = e.what();
    }
    r.fileEntries = reader.FileEntryCount();
    r.filesExtracted = reader.FilesExtracted();
    for (const AnsiString& p : reader.ExtractedFiles()) r.written.push_back(ExtractFileName(p));
    r.files = FilesIn(dest);
    return r;
}

// Writes `bytes` as an archive into a fresh scratch directory and extracts it
// into a subdirectory "out" of it.
inline TExtractOutcome ExtractBytes(const std::string& bytes,
                                    const std::function<void(TZipReader&)>& configure = {}) {
    TTempDir dir;
    WriteAll(dir / "a.zip", bytes);
    return ExtractFile(dir / "a.zip", dir / "out", configure);
}

}  // namespace nuva::test
