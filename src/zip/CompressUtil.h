// The door between the sender engine and the archive components: stateless
// operations, each creating one component, running it and destroying it.
// Paths are in the system code page.
//
// Nothing is caught here: the components' errors (a missing archive, "Incomplete
// Zip File", "Not a valid zip file!", "Premature end of file reached", "Cant
// write uncompressed file", file-system errors) pass on to the caller after
// the component is gone.
#pragma once

#include <memory>
#include <vector>

#include "platform/Platform.h"
#include "util/StringList.h"

namespace nuva {

class TExtractSink;
class TPackAhead;

// Packs the files of `files` (full paths; the list is not changed) into a
// new archive `zipName` at level 6, each under its bare file name. A file
// already at `zipName` is deleted first (EFCreateError `Cannot create file
// "%s". %s` when it cannot be); nothing of it is kept. Returns false when
// fewer files were packed than the list has distinct stored names (a file
// missing, unreadable or too large); two paths with the same file name pack
// once, from the first line, and that alone is no failure. A blank
// `zipName` writes nothing and is a failure unless the list is empty.
// The writer's errors pass on; no file named `zipName` remains after one.
// `threads` above 1 compresses that many files side by side (TZipWriter's
// `Threads`); the archive's bytes and the errors are those of one thread.
// `ahead`: entries made ahead for some of the files (TZipWriter's `Ahead`).
bool ZipFiles(const TStringList& files, const AnsiString& zipName, int threads = 1,
              TPackAhead* ahead = nullptr);

// The level ZipFiles packs at.
inline constexpr int kZipFilesLevel = 6;

// As ZipFiles at compression level `level` (0 stores, 1..9); returns the
// number of files packed through `packed` when it is not null.
bool ZipFilesAtLevel(const TStringList& files, const AnsiString& zipName, int level, int* packed,
                     int threads = 1, TPackAhead* ahead = nullptr);

// The most workers a pack uses, whatever is asked.
inline constexpr int kMaxZipThreads = 8;
// The workers used when nobody says: the hardware threads, 1 to kMaxZipThreads.
int DefaultZipThreads();
// `requested` within 1..kMaxZipThreads; 0 or less means DefaultZipThreads().
int ZipThreads(int requested);

// Extracts every entry of `zipName` into `destDir` (created when missing),
// replacing existing files. True when every file entry of the archive was
// extracted; false when any was skipped (wrong CRC, encrypted, unknown or
// undecodable method, overlapping data, unsafe name, output not creatable).
// `threads` above 1 inflates that many entries side by side (TZipReader's
// `Threads`); files, list and errors are those of one thread.
bool UnzipToDir(const AnsiString& zipName, const AnsiString& destDir, int threads = 1);

// As UnzipToDir; `written` receives the full paths of the files that this
// extraction wrote, in the archive's directory order, each once (appended).
bool UnzipToDirListing(const AnsiString& zipName, const AnsiString& destDir,
                       std::vector<AnsiString>& written, int threads = 1,
                       TExtractSink* sink = nullptr);

// UnzipToDir, then the files that this extraction wrote appended to
// `fileList` (full paths, directory order, each once). A null `fileList` is
// given a new list. Files that were in `destDir` before are not listed.
// Returns UnzipToDir's result; the list is filled either way. On an
// exception the list is left as it was.
// `sink`: sees every file's bytes as they are written (TZipReader's `Sink`).
bool UnzipAndList(const AnsiString& zipName, const AnsiString& destDir,
                  std::unique_ptr<TStringList>& fileList, int threads = 1,
                  TExtractSink* sink = nullptr);

}  // namespace nuva
