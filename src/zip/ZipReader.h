// `TZipReader`: reads a zip archive's directory and extracts its entries
// into a directory. The facade creates one per call, names the archive and
// the destination, sets `OverwriteMode` to Always and `DoAll` to true and
// runs `UnZip`.
//
// Every byte of the archive is untrusted. The reader never writes outside
// `DestDir`: the stored directory part of a name is ignored, and an entry
// whose name is absolute, has a drive or a ".." part, holds a control byte,
// is "." or ".." or a reserved device name is skipped. Problems with one
// entry (wrong CRC, encrypted, unknown method, data that overlaps the next
// entry, output not creatable) skip that entry and only lower the count.
// Errors that end the operation are the exceptions of ZipErrors.h and the
// platform's file errors; the partial output file of the entry being written
// is deleted before such an exception leaves `UnZip`.
//
// One thread at a time; the calling thread's message pump runs during long
// reads when `DoProcessMessages` is on.
//
// Workers: with `Threads` above 1, deflated entries of at most 4 MiB (packed
// and unpacked) are inflated into memory on that many worker threads, each
// reading the archive through its own handle, while the calling thread
// checks, writes and lists the entries in directory order exactly as with
// one thread: the same files, the same skips, the same errors. The workers
// start and end inside `UnZip`; the message pump, the cancel check and every
// file written stay on the calling thread. At most 2 x `Threads` entries are
// held in memory.
//
// `Sink` (ExtractSink.h), when set, sees every file's bytes as they are
// written, and whether the file was kept.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "zip/BufferStream.h"
#include "zip/ZipFormat.h"
#include "zip/codec/CodecIO.h"

namespace nuva {

class TInflater;
class TExtractSink;

enum class TOverwriteMode { Prompt, Always, Never, ifNewer, ifOlder };
enum class TIncompleteZipMode { izAssumeMulti, izAssumeBad, izAssumeNotAZip };

// True when an entry with this directory part and file name may be written
// as DestDir + file name: no control byte, no drive or colon, not absolute,
// no ".." part, a file name that is not only dots and spaces and is no
// reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, any case, with
// or without an extension).
bool IsExtractableName(const AnsiString& directory, const AnsiString& fileName);

// True when this build decodes entries of `method` (0 stored, 1 shrunk, 2-5
// reduced, 6 imploded, 8 deflated).
bool ZipMethodSupported(uint16_t method);

class TZipReader {
  public:
    TZipReader();
    ~TZipReader();
    TZipReader(const TZipReader&) = delete;
    TZipReader& operator=(const TZipReader&) = delete;

    // Naming a different archive drops the loaded directory.
    void SetZipName(const AnsiString& name);
    const AnsiString& ZipName() const { return zipName_; }
    // A trailing delimiter is removed. Empty: the current directory.
    void SetDestDir(const AnsiString& dir);
    const AnsiString& DestDir() const { return destDir_; }

    // Settings (constructor values as shown).
    TOverwriteMode OverwriteMode = TOverwriteMode::Prompt;  // Prompt keeps existing files
    bool DoAll = false;            // false: nothing is selected (no wildcard selection)
    bool RetainAttributes = true;  // MS-DOS host entries only, masked to 0x27
    bool ReplaceReadOnly = false;
    bool FlushFilesOnClose = false;
    bool DoProcessMessages = true;
    bool OEMConvert = true;
    TIncompleteZipMode IncompleteZipMode = TIncompleteZipMode::izAssumeMulti;

    // Reads the directory and extracts the selected entries. Returns the
    // number extracted (directory entries count as extracted). Raises the
    // platform's file-open error for a missing archive, EIncompleteZip /
    // ENotAZipFile / EBadZipFile for an unreadable directory, and
    // EFatalUnzipError, ECantWriteUCF, EUserCanceled while extracting.
    int UnZip();
    // Loads the end record and the entry list from the named archive (opened
    // and closed here). Raises as UnZip does for the directory.
    void ReadZip();
    // Asks a running operation to stop with EUserCanceled at its next check.
    void Cancel() { cancel_ = true; }

    // The loaded directory, sorted by disk and local header offset.
    const std::vector<TZipHeaderInfo>& Entries() const { return entries_; }
    const TEndCentral& EndCentral() const { return end_; }
    // Entries with a file name (not directory entries).
    int FileEntryCount() const;
    // The output files that the last UnZip wrote and kept, in directory order,
    // each once.
    const std::vector<AnsiString>& ExtractedFiles() const { return extracted_; }
    // Files that the last UnZip extracted (directory entries not counted).
    int FilesExtracted() const { return filesExtracted_; }

    // The decoders of this build, kept for one UnZip (defined in the .cpp).
    struct TDecoders;

    // Workers that decode (UnZip) or compress (TZipWriter::Zip) entries side
    // by side; 1: none.
    int Threads = 1;
    // Sees the bytes of every file UnZip writes; not owned.
    TExtractSink* Sink = nullptr;

  protected:
    // Runs the message pump when asked and raises EUserCanceled on a pending
    // cancel.
    void Checkpoint();
    // Forgets a cancel request of an earlier operation.
    void ResetCancel() { cancel_ = false; }

  private:
    void OpenArchive();
    void CloseArchive();
    void LoadDirectory();
    void ReadCentralDirectory();
    bool ReadCentralEntries(uint32_t count);
    bool RebuildFromLocalHeaders();
    void MergeCentralHeaders(int64_t from, uint32_t count);
    int ExtractAll();
    struct TInflated;
    class TUnpackPool;
    // `inflated`: the entry's bytes as a worker decoded them, or null.
    bool ExtractEntry(size_t index, TInflated* inflated = nullptr);
    // The directory's entries with workers (ZipReaderWorkers.cpp).
    int ExtractWithWorkers();
    static void InflateEntry(TBufferedFileStream& archive, const TZipHeaderInfo& entry,
                             int64_t dataStart, const std::atomic<bool>& stop,
                             std::unique_ptr<TInflater>& inflater, TInflated& result);
    void WriteInflated(TInflated& inflated, TCodecOutput& output);
    bool TargetReplaceable(const TZipHeaderInfo& entry, const AnsiString& path) const;

    friend class TEntryInput;

    AnsiString zipName_;
    AnsiString destDir_;
    std::unique_ptr<TBufferedFileStream> archive_;
    int64_t archiveSize_ = 0;
    TEndCentral end_;
    std::vector<TZipHeaderInfo> entries_;
    bool loaded_ = false;
    int32_t zipDosTime_ = -1;  // the archive's last write time when loaded
    bool cancel_ = false;
    bool busy_ = false;
    bool unknownMethodShown_ = false;  // one box per archive operation, not one per entry
    std::unique_ptr<TDecoders> decoders_;
    std::vector<AnsiString> extracted_;
    std::unordered_set<AnsiString> extractedSet_;  // the same paths, for lookups
    int filesExtracted_ = 0;
};

}  // namespace nuva
