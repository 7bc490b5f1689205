// `TZipWriter`: packs the files named in `FilesList` into the archive
// `ZipName`, one entry per file, stored under its bare file name (or its
// relative path with `StorePaths`). The facade creates one per call, names
// the archive, fills the list and runs `Zip`.
//
// A new archive is written directly to `ZipName`. When a file of that name
// exists, the writer updates it instead: the new archive goes to a "TMZ"
// temporary file, the old entries are carried over (an entry whose file is
// listed and newer is packed anew in its place) and the temporary file then
// replaces the old archive.
//
// Failures: the output's file errors, the reader's errors for an old archive
// that is no zip file, ENotEnoughRoom for a short write or a failed flush,
// EArchiveNotReplaced when the rewritten archive cannot be put in place (the
// temporary file is then kept). When an exception leaves `Zip`, the file that
// was being written is deleted, so a new archive leaves nothing behind and
// an updated one stays as it was. A listed file that is missing, unreadable
// or too large for the 32-bit fields, a second file with the same stored
// name and a file beyond the 65535th entry are skipped silently: only the
// count shows it.
//
// Not offered: multi-volume archives, encryption, wildcard lines (they are
// dropped), exclude and no-compression lists, directory entries.
//
// One thread at a time; the message pump runs after every write to the
// archive when `DoProcessMessages` is on.
//
// Workers: with `Threads` (of TZipReader) above 1, the files of a new pass are read, checked
// and compressed on that many worker threads, each into memory, while the
// calling thread writes the finished entries in list order. The archive's
// bytes are those that one thread writes. The workers start and end inside
// `Zip` and touch nothing but their own source file and compressor; the
// message pump, the cancel check and every archive write stay on the calling
// thread. A worker's error is raised on the calling thread when its entry's
// turn comes, so the failure is the one the single-thread pass meets first.
// Memory: at most 2 x `Threads` entries are held, each from a source of at
// most 4 MiB (kParallelSourceLimit); a larger file is packed by the calling
// thread as with one thread.
//
// Entries made ahead (`Ahead`, see PackAhead.h): a listed file that has one
// at the writer's level is read through once on the calling thread and the
// entry is written when the file's length and CRC-32 match it; otherwise the
// file is compressed as usual. The bytes written are the same either way.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "util/StringList.h"
#include "zip/ZipReader.h"
#include "zip/codec/CodecIO.h"

namespace nuva {

class TDeflater;
class TPackAhead;

class TZipWriter : public TZipReader {
  public:
    TZipWriter();
    virtual ~TZipWriter();

    // A name that differs from the current one only in ASCII letter case
    // changes nothing.
    void SetZipName(const AnsiString& name);

    // Settings (constructor values as shown).
    TStringList FilesList;    // paths to pack; cleared when Zip ends
    int PackLevel = 6;        // 0 stores; 1..9 deflate at that level
    bool StorePaths = false;  // true: the path without drive and leading delimiters
    AnsiString TempPath;      // directory of the temporary archive; empty: the platform's
    AnsiString RootDir;       // put in front of lines without a directory part
    TPackAhead* Ahead = nullptr;  // entries made ahead; not owned, taken as used

    // Packs the listed files. Returns the number of files packed; 0 without
    // touching the disk when `ZipName` is blank.
    int Zip();

    // The form under which `path` is stored and compared: the file name (or
    // relative path), '\' as '/', in the OEM code page when `oemConvert`.
    static AnsiString StoredName(const AnsiString& path, bool storePaths, bool oemConvert);
    // The key of the duplicate-name check: the stored name with only ASCII
    // letters lower-cased.
    static AnsiString NameKey(const AnsiString& storedName);

    // An entry's data from `input` to `output`: stored at level 0 (method 0,
    // internal attributes 0, flags untouched), else deflated at `level`,
    // which sets the method, the flags and the internal attributes.
    static void CodeEntry(TCodecInput& input, TCodecOutput& output, int level,
                          std::unique_ptr<TDeflater>& deflater, uint16_t& method,
                          uint16_t& flags, uint16_t& internalAttributes);

  protected:
    // Creates the archive file (the new archive or the temporary one).
    // Tests put a file that refuses bytes here.
    virtual std::unique_ptr<TFileStream> CreateArchiveFile(const AnsiString& path);
    // Put the rewritten archive in place of the old one; true on success.
    virtual bool RenameArchive(const AnsiString& from, const AnsiString& to);
    virtual bool CopyArchive(const AnsiString& from, const AnsiString& to);

    // Entry limits of the 32-bit and 16-bit fields; tests lower them.
    int64_t maxEntryBytes_ = 0xFFFFFFFF;
    int maxEntries_ = 0xFFFF;

  private:
    // One entry of the new archive: its record, its stored name and, for an
    // entry carried over, the central extra field and comment bytes of the
    // old archive.
    struct TWritten {
        TZipHeaderInfo info;
        AnsiString storedName;
        std::string centralTail;
    };
    struct TPacked;
    class TPackPool;
    class TSourceInput;
    class TArchiveOutput;

    void CleanFileList();
    int UpdatePass(const AnsiString& oldName);
    bool CarryOver(TBufferStream& old, const TZipHeaderInfo& entry);
    bool PackFile(const AnsiString& path);
    // The workers' side and the calling thread's side of one file packed
    // with workers (ZipWriterWorkers.cpp).
    static void PrepareFile(const AnsiString& path, int level, const std::atomic<bool>& stop,
                            std::unique_ptr<TDeflater>& deflater, TPacked& packed);
    bool PlacePacked(const AnsiString& path, TPacked& packed);
    // Writes the entry made ahead for `path` when `source` (at its start)
    // reads as its bytes: true, with PlacePacked's result in `placed`. False
    // when there is none or the file changed; `source` is then at its start.
    bool PlaceAhead(const AnsiString& path, TBufferStream& source, int32_t dosTime,
                    int32_t attributes, bool& placed);
    int PackWithWorkers();
    void WriteArchive(const void* data, int64_t count);
    void FlushArchive();
    // Flushes and moves the output; a failed flush is ENotEnoughRoom.
    void SeekArchive(int64_t position);
    static std::string LocalHeaderBytes(const TZipHeaderInfo& info, const AnsiString& storedName);
    void WriteLocalHeader(const TZipHeaderInfo& info, const AnsiString& storedName);
    void WriteCentralDirectory();
    void ReplaceArchive(const AnsiString& temp);

    std::unique_ptr<TFileStream> file_;
    std::unique_ptr<TBufferStream> out_;
    std::unique_ptr<TDeflater> deflater_;
    int64_t position_ = 0;  // the output's logical position
    // While an entry is gathered in memory (staging_), its bytes are in
    // stage_; the buffer is kept from one entry to the next.
    bool staging_ = false;
    std::string stage_;
    std::vector<TWritten> written_;
    std::set<AnsiString> names_;  // NameKey of every entry written
};

}  // namespace nuva
