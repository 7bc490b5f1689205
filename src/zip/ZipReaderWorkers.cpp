// Unpacking with workers: deflated entries are inflated into memory on a few
// threads, each reading the archive through its own handle, and the calling
// thread runs ExtractEntry for every entry in directory order, writing a
// worker's bytes where it would have decoded them itself. Every check, skip,
// file and error stays where the single-thread pass has it.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "zip/Crc32.h"
#include "zip/ZipErrors.h"
#include "zip/ZipReader.h"
#include "zip/codec/Inflate.h"

namespace nuva {

namespace {

constexpr int64_t kArchiveBufferSize = 65536;  // bytes, each worker's archive stream
constexpr int64_t kChunkSize = 32768;          // bytes read or written at a time
// Larger entries are decoded by the calling thread, streaming as with one
// thread, so that memory stays bounded whatever the archive says.
constexpr int64_t kParallelEntryLimit = 4 * 1024 * 1024;  // bytes, packed and unpacked
constexpr int kEntriesPerWorker = 2;  // entries held ahead of the writer, per worker

class TWorkerEntryInput : public TCodecInput {
  public:
    TWorkerEntryInput(TStream& archive, int64_t compressedSize, const std::atomic<bool>& stop)
        : archive_(archive), left_(compressedSize), stop_(stop) {}
    size_t Read(uint8_t* dest, size_t capacity) override {
        if (left_ == 0 || stop_.load(std::memory_order_relaxed)) return 0;
        const int64_t want = std::min<int64_t>(left_, static_cast<int64_t>(capacity));
        if (archive_.Read(dest, want) != want) throw EFatalUnzipError();
        left_ -= want;
        return static_cast<size_t>(want);
    }

  private:
    TStream& archive_;
    int64_t left_;
    const std::atomic<bool>& stop_;
};

// The entry's output in memory, never more than its stated size.
class TWorkerEntryOutput : public TCodecOutput {
  public:
    TWorkerEntryOutput(std::string& data, int64_t limit) : data_(data), limit_(limit) {}
    void Write(const uint8_t* data, size_t count) override {
        if (static_cast<int64_t>(data_.size() + count) > limit_) throw EBiggerThanUncompressed();
        data_.append(reinterpret_cast<const char*>(data), count);
    }

  private:
    std::string& data_;
    int64_t limit_;
};

}  // namespace

// What a worker made of one entry.
struct TZipReader::TInflated {
    enum class TState { Pending, Done, Failed, Unprepared };
    TState state = TState::Pending;
    std::exception_ptr error;  // an error outside the system's own (Failed)
    bool decodeFailed = false;  // inflate ended early: the entry is skipped
    std::string data;
};

// The workers of one ExtractWithWorkers call; they take the planned entries
// in directory order, never more than `window` ahead of the entry being
// written, and are joined when the pool goes.
class TZipReader::TUnpackPool {
  public:
    TUnpackPool(const AnsiString& zipName, const std::vector<TZipHeaderInfo>& entries,
                const std::vector<int64_t>& dataStart, int threads)
        : zipName_(zipName), entries_(entries), dataStart_(dataStart), done_(entries.size()) {
        window_ = static_cast<size_t>(threads) * kEntriesPerWorker;
        try {
            for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked: those that started do the work; with
            // none, the calling thread decodes every entry itself.
        }
    }
    ~TUnpackPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_.store(true);
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    TUnpackPool(const TUnpackPool&) = delete;
    TUnpackPool& operator=(const TUnpackPool&) = delete;

    bool Started() const { return !threads_.empty(); }

    // Entry `i` as a worker left it; null when no worker decodes it.
    TInflated* Take(size_t i) {
        if (dataStart_[i] < 0) return nullptr;
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return done_[i].state != TInflated::TState::Pending; });
        return done_[i].state == TInflated::TState::Unprepared ? nullptr : &done_[i];
    }
    void Release(size_t i) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            std::string().swap(done_[i].data);
            written_ = i + 1;  // entries before it were all released already
        }
        wake_.notify_all();
    }

  private:
    void Work() {
        std::unique_ptr<TInflater> inflater;
        std::unique_ptr<TBufferedFileStream> archive;
        bool opened = false;
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                while (next_ < dataStart_.size() && dataStart_[next_] < 0) ++next_;
                wake_.wait(lock, [&] {
                    return stop_.load() || next_ >= dataStart_.size() || next_ < written_ + window_;
                });
                if (stop_.load() || next_ >= dataStart_.size()) return;
                i = next_++;
            }
            TInflated result;
            if (!opened) {
                opened = true;
                try {
                    archive = std::make_unique<TBufferedFileStream>(
                        zipName_, kArchiveBufferSize, false, fmOpenRead | fmShareDenyNone);
                } catch (...) {
                    archive.reset();  // this worker's entries go back to the caller
                }
            }
            if (!archive)
                result.state = TInflated::TState::Unprepared;
            else
                InflateEntry(*archive, entries_[i], dataStart_[i], stop_, inflater, result);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                done_[i] = std::move(result);
            }
            ready_.notify_all();
        }
    }

    const AnsiString zipName_;
    const std::vector<TZipHeaderInfo>& entries_;
    const std::vector<int64_t>& dataStart_;  // -1: not for the workers
    std::vector<TInflated> done_;
    size_t window_ = 0;
    size_t next_ = 0;
    size_t written_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable ready_;
    std::vector<std::thread> threads_;
};

void TZipReader::InflateEntry(TBufferedFileStream& archive, const TZipHeaderInfo& entry,
                              int64_t dataStart, const std::atomic<bool>& stop,
                              std::unique_ptr<TInflater>& inflater, TInflated& result) {
    try {
        try {
            if (archive.Seek(dataStart, soBeginning) != dataStart) throw EFatalUnzipError();
            if (!inflater) inflater = std::make_unique<TInflater>();
            TWorkerEntryInput input(archive, entry.compressedSize, stop);
            TWorkerEntryOutput output(result.data, entry.uncompressedSize);
            inflater->Run(input, output);
        } catch (const Exception&) {
            // As with one thread: a failure inside the deflate stream (or
            // reading it) ends the decoding quietly and fails the entry.
            result.decodeFailed = true;
        }
        result.state = TInflated::TState::Done;
    } catch (...) {
        result.data.clear();
        result.error = std::current_exception();
        result.state = TInflated::TState::Failed;
    }
}

void TZipReader::WriteInflated(TInflated& inflated, TCodecOutput& output) {
    if (inflated.state == TInflated::TState::Failed) std::rethrow_exception(inflated.error);
    const int64_t size = static_cast<int64_t>(inflated.data.size());
    for (int64_t done = 0; done < size; done += kChunkSize) {
        Checkpoint();
        output.Write(reinterpret_cast<const uint8_t*>(inflated.data.data()) + done,
                     static_cast<size_t>(std::min(kChunkSize, size - done)));
    }
    if (inflated.decodeFailed) throw EFatalUnzipError();  // caught there: the entry fails
}

int TZipReader::ExtractWithWorkers() {
    // The data offsets of the entries the workers may take: deflated, not
    // encrypted, small, with a readable local header inside the archive.
    // Anything else (or anything odd) is left to ExtractEntry alone.
    std::vector<int64_t> dataStart(entries_.size(), -1);
    size_t planned = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const TZipHeaderInfo& e = entries_[i];
        if (e.method != kMethodDeflated || (e.flags & kFlagEncrypted) || e.FileName().empty() ||
            static_cast<int64_t>(e.compressedSize) > kParallelEntryLimit ||
            static_cast<int64_t>(e.uncompressedSize) > kParallelEntryLimit)
            continue;
        const int64_t offset = e.localHeaderOffset;
        uint8_t local[kLocalHeaderSize];
        if (offset + kLocalHeaderSize > archiveSize_ ||
            archive_->Seek(offset, soBeginning) != offset ||
            archive_->Read(local, kLocalHeaderSize) != kLocalHeaderSize ||
            GetLe32(local) != kLocalHeaderSignature)
            continue;
        const int64_t start = offset + kLocalHeaderSize + GetLe16(local + 26) + GetLe16(local + 28);
        if (start + static_cast<int64_t>(e.compressedSize) > archiveSize_) continue;
        dataStart[i] = start;
        ++planned;
    }
    int count = 0;
    if (planned == 0) {
        for (size_t i = 0; i < entries_.size(); ++i)
            if (ExtractEntry(i)) ++count;
        return count;
    }
    const int threads = static_cast<int>(std::min<size_t>(static_cast<size_t>(Threads), planned));
    TUnpackPool pool(zipName_, entries_, dataStart, threads);
    for (size_t i = 0; i < entries_.size(); ++i) {
        TInflated* inflated = pool.Started() ? pool.Take(i) : nullptr;
        if (ExtractEntry(i, inflated)) ++count;
        // Every entry moves the window on, the workers' or not.
        if (pool.Started()) pool.Release(i);
    }
    return count;
}

}  // namespace nuva
