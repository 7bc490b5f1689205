// Entries compressed while their files are written. A caller that writes a
// file from bytes it makes piece by piece hands each piece here too; a
// worker compresses them meanwhile, and the result goes to the archive's
// writer (TZipWriter's `Ahead`). The writer still opens and reads the file as
// always, and takes the entry made ahead only when the file gives the same
// length and CRC-32 and the level is its own; otherwise it compresses what
// it read. The archive's bytes are those it would have written either way:
// the compressor's output depends only on the bytes and the level (its
// reads are filled up to the end, as a file's are).
//
// Memory: the pieces handed over and not yet compressed, and the entries'
// compressed bytes until the writer takes them; callers bound the total.
//
// Jobs touch only their own pieces and compressor. The pool lives from the
// first Begin until the object goes; the destructor stops the running jobs
// early (an entry abandoned half way, because writing its file failed,
// ends there too) and joins the workers.
//
// Threads: every member from the thread that made the object.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/Platform.h"

namespace nuva {

class TWorkerPool;

// An entry's data and the fields of its headers that the data decides.
struct TPackedEntry {
    uint32_t crc = 0;
    int64_t sourceBytes = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint16_t internalAttributes = 0;
    std::string data;  // compressed, or stored as it is
};

class TPackAhead {
  public:
    // `threads` counts the calling thread (1 starts no worker: the jobs then
    // run when they are taken); `level` as TZipWriter's PackLevel.
    TPackAhead(int threads, int level);
    ~TPackAhead();
    TPackAhead(const TPackAhead&) = delete;
    TPackAhead& operator=(const TPackAhead&) = delete;

    int Level() const { return level_; }
    // Starts the entry of the file `path`: its bytes follow, in order, with
    // Add, and End closes them. Returns the entry's number.
    size_t Begin(const AnsiString& path);
    void Add(size_t entry, AnsiString bytes);
    void End(size_t entry);
    // Whether an entry is being made for `path` (and not yet taken).
    bool Has(const AnsiString& path) const;
    // Once every entry has ended: waits for the entry of `path` (and those
    // begun before it), the calling thread helping, and moves it out. False
    // when there is none, or its job failed: the writer then compresses the
    // file itself.
    bool Take(const AnsiString& path, TPackedEntry& entry);

  private:
    class TFeedInput;
    struct TJob {
        AnsiString path;
        std::deque<AnsiString> pieces;  // handed over, not yet taken (under mutex_)
        bool ended = false;             // under mutex_
        size_t ticket = 0;              // in pool_
        bool taken = false;
        std::optional<TPackedEntry> entry;  // set when the job ended whole
    };
    void Run(TJob& job);

    const int threads_;
    const int level_;
    std::mutex mutex_;
    std::condition_variable more_;                  // a piece, an end or the stop
    bool stop_ = false;                             // under mutex_
    std::deque<TJob> jobs_;                         // never moved: the workers hold references
    std::unordered_map<AnsiString, TJob*> byPath_;  // the last job of each path
    // Declared last: its workers end before what they use goes.
    std::unique_ptr<TWorkerPool> pool_;
};

}  // namespace nuva
