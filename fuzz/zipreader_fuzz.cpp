// The whole reader on one archive: the input is written to a file in a
// scratch directory of the process's own and extracted beside it into a
// directory that is emptied afterwards. The reader must end every input with
// a count or one of its exceptions.
#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "platform/Stream.h"
#include "zip/ZipReader.h"

namespace {

using namespace nuva;

void EmptyDirectory(const AnsiString& dir) {
    for (const TDirEntry& e : ListDirectoryEntries(dir)) {
        if (e.name == "." || e.name == "..") continue;
        const AnsiString path = IncludeTrailingPathDelimiter(dir) + e.name;
        if (e.attributes & faDirectory) {
            EmptyDirectory(path);
            RemoveDir(path);
        } else {
            SetFileAttributes(path, faArchive);
            DeleteFile(path);
        }
    }
}

// A directory of its own (the archive and the extraction directory inside),
// removed when the process ends.
struct TScratch {
    AnsiString root, archive, dest;
    ~TScratch() {
        if (root.empty()) return;
        EmptyDirectory(root);
        RemoveDir(root);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TScratch scratch = [] {
        SetMessageBoxHandler(
            [](const AnsiString&, const AnsiString&, unsigned) { return int(idOk); });
        SetMessagePumpHandler([] {});
        SetBusyCursorHandler([](bool) {});
        const AnsiString root = CreateUniqueTempDirectory("", "nuva-zipreader-fuzz-");
        if (root.empty()) return TScratch{};
        const AnsiString base = IncludeTrailingPathDelimiter(root);
        return TScratch{root, base + "input.zip", base + "out"};
    }();
    const AnsiString& archive = scratch.archive;
    const AnsiString& dest = scratch.dest;
    if (archive.empty()) return 0;
    {
        TFileStream f(archive, fmCreate);
        f.WriteBuffer(data, static_cast<int64_t>(size));
    }
    TZipReader reader;
    reader.SetZipName(archive);
    reader.SetDestDir(dest);
    reader.OverwriteMode = TOverwriteMode::Always;
    reader.DoAll = true;
    // Both ways of treating a missing end record, the rebuild included.
    reader.IncompleteZipMode =
        size % 2 ? TIncompleteZipMode::izAssumeBad : TIncompleteZipMode::izAssumeMulti;
    try {
        reader.UnZip();
    } catch (const Exception&) {
    }
    EmptyDirectory(dest);
    return 0;
}
