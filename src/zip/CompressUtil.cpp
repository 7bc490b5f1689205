#include "zip/CompressUtil.h"

#include <memory>

#include "zip/ZipReader.h"

namespace nuva {

bool UnzipToDirListing(const AnsiString& zipName, const AnsiString& destDir,
                       std::vector<AnsiString>& written) {
    auto reader = std::make_unique<TZipReader>();
    reader->SetZipName(zipName);
    reader->SetDestDir(destDir);
    reader->OverwriteMode = TOverwriteMode::Always;
    reader->DoAll = true;
    reader->UnZip();
    const std::vector<AnsiString>& files = reader->ExtractedFiles();
    written.insert(written.end(), files.begin(), files.end());
    return reader->FilesExtracted() >= reader->FileEntryCount();
}

bool UnzipToDir(const AnsiString& zipName, const AnsiString& destDir) {
    std::vector<AnsiString> ignored;
    return UnzipToDirListing(zipName, destDir, ignored);
}

bool UnzipAndList(const AnsiString& zipName, const AnsiString& destDir,
                  std::unique_ptr<TStringList>& fileList) {
    std::vector<AnsiString> written;
    const bool ok = UnzipToDirListing(zipName, destDir, written);
    if (!fileList) fileList = std::make_unique<TStringList>();
    for (const AnsiString& path : written) fileList->Add(path);
    return ok;
}

}  // namespace nuva
