#include "zip/CompressUtil.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <set>

#include "util/util.h"

#include "zip/ZipReader.h"
#include "zip/ZipWriter.h"

namespace nuva {

int DefaultZipThreads() {
    const unsigned hardware = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(hardware), 1, kMaxZipThreads);
}

int ZipThreads(int requested) {
    return requested <= 0 ? DefaultZipThreads() : std::min(requested, kMaxZipThreads);
}

bool ZipFilesAtLevel(const TStringList& files, const AnsiString& zipName, int level, int* packed,
                     int threads, TPackAhead* ahead) {
    if (packed) *packed = 0;
    // The distinct stored names the list asks for.
    std::set<AnsiString> wanted;
    for (const AnsiString& line : files)
        if (!line.empty())
            wanted.insert(TZipWriter::NameKey(TZipWriter::StoredName(line, false, true)));
    if (Trim(zipName).empty()) return wanted.empty();

    // Always a fresh archive: nothing of an older file travels with this one.
    if (FileExists(zipName) && !DeleteFile(zipName)) throw EFCreateError(zipName, LastErrorText());

    auto writer = std::make_unique<TZipWriter>();
    writer->SetZipName(zipName);
    writer->PackLevel = level;
    writer->Threads = threads;
    writer->Ahead = ahead;
    for (const AnsiString& line : files) writer->FilesList.Add(line);
    const int count = writer->Zip();
    if (packed) *packed = count;
    return count >= static_cast<int>(wanted.size());
}

bool ZipFiles(const TStringList& files, const AnsiString& zipName, int threads,
              TPackAhead* ahead) {
    return ZipFilesAtLevel(files, zipName, kZipFilesLevel, nullptr, threads, ahead);
}

bool UnzipToDirListing(const AnsiString& zipName, const AnsiString& destDir,
                       std::vector<AnsiString>& written, int threads, TExtractSink* sink) {
    auto reader = std::make_unique<TZipReader>();
    reader->SetZipName(zipName);
    reader->SetDestDir(destDir);
    reader->OverwriteMode = TOverwriteMode::Always;
    reader->DoAll = true;
    reader->Threads = threads;
    reader->Sink = sink;
    reader->UnZip();
    const std::vector<AnsiString>& files = reader->ExtractedFiles();
    written.insert(written.end(), files.begin(), files.end());
    return reader->FilesExtracted() >= reader->FileEntryCount();
}

bool UnzipToDir(const AnsiString& zipName, const AnsiString& destDir, int threads) {
    std::vector<AnsiString> ignored;
    return UnzipToDirListing(zipName, destDir, ignored, threads);
}

bool UnzipAndList(const AnsiString& zipName, const AnsiString& destDir,
                  std::unique_ptr<TStringList>& fileList, int threads, TExtractSink* sink) {
    std::vector<AnsiString> written;
    const bool ok = UnzipToDirListing(zipName, destDir, written, threads, sink);
    if (!fileList) fileList = std::make_unique<TStringList>();
    for (const AnsiString& path : written) fileList->Add(path);
    return ok;
}

}  // namespace nuva
