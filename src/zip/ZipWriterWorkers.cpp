// Packing with workers: the files of a new pass are opened, read and
// compressed into memory on a few threads, and the calling thread writes the
// finished entries in list order through the same records as PackFile. The
// bytes of an entry depend only on its file and the level, never on the
// thread or the compressor that made them, so the archive is the one a
// single thread writes.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "util/util.h"
#include "zip/Crc32.h"
#include "zip/PackAhead.h"
#include "zip/ZipErrors.h"
#include "zip/ZipWriter.h"
#include "zip/codec/Deflate.h"

namespace nuva {

namespace {

constexpr int64_t kFileBufferSize = 65536;  // bytes, the streams of packed files
constexpr int64_t kCopyChunk = 32768;       // bytes per stored chunk
constexpr int64_t kMaxOffset = 0xFFFFFFFF;  // the 32-bit offset fields
constexpr size_t kMaxNameBytes = 0xFFFF;    // the 16-bit name length field
// A larger source is packed by the calling thread, streaming as with one
// thread, so that memory stays bounded whatever the files.
constexpr int64_t kParallelSourceLimit = 4 * 1024 * 1024;  // bytes
constexpr int kEntriesPerWorker = 2;  // entries held ahead of the writer, per worker

// Source bytes with their CRC; reads nothing more once the pool stops.
class TWorkerInput : public TCodecInput {
  public:
    TWorkerInput(TStream& source, const std::atomic<bool>& stop) : source_(source), stop_(stop) {}
    size_t Read(uint8_t* dest, size_t capacity) override {
        if (ended_ || stop_.load(std::memory_order_relaxed)) return 0;
        const int64_t got = source_.Read(dest, static_cast<int64_t>(capacity));
        ended_ = got < static_cast<int64_t>(capacity);
        if (got <= 0) return 0;
        crc_ = Crc32Update(crc_, dest, static_cast<size_t>(got));
        bytes_ += got;
        return static_cast<size_t>(got);
    }
    uint32_t Crc() const { return ~crc_; }
    int64_t Bytes() const { return bytes_; }

  private:
    TStream& source_;
    const std::atomic<bool>& stop_;
    bool ended_ = false;
    uint32_t crc_ = kCrc32Preset;
    int64_t bytes_ = 0;
};

class TMemoryOutput : public TCodecOutput {
  public:
    explicit TMemoryOutput(std::string& data) : data_(data) {}
    void Write(const uint8_t* data, size_t count) override {
        data_.append(reinterpret_cast<const char*>(data), count);
    }

  private:
    std::string& data_;
};

}  // namespace

// What a worker made of one listed file.
struct TZipWriter::TPacked {
    enum class TState { Pending, Skip, Stream, Ready, Failed };
    TState state = TState::Pending;
    std::exception_ptr error;  // Failed: what the single-thread pass would raise
    int32_t dosTime = 0;
    int32_t attributes = 0;
    TPackedEntry entry;
};

// The workers of one PackWithWorkers call. They take the files in list
// order, never more than `window` ahead of the entry being written, and end
// (joined) when the pool goes, on every way out of the call.
class TZipWriter::TPackPool {
  public:
    // Files marked in `ahead` are left to the calling thread.
    TPackPool(const TStringList& files, std::vector<bool> ahead, int level, int threads)
        : files_(files),
          ahead_(std::move(ahead)),
          level_(level),
          packed_(static_cast<size_t>(files.Count())) {
        window_ = static_cast<size_t>(threads) * kEntriesPerWorker;
        try {
            for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // The system gave fewer threads: those that started do the work,
            // and with none the caller packs on its own thread.
        }
    }
    bool Started() const { return !threads_.empty(); }
    ~TPackPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_.store(true);
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    TPackPool(const TPackPool&) = delete;
    TPackPool& operator=(const TPackPool&) = delete;

    // Waits for entry `i` and hands it over; the workers may then move on.
    TPacked& Take(size_t i) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return packed_[i].state != TPacked::TState::Pending; });
        return packed_[i];
    }
    // Entry `i` is written: its memory goes and the window moves on.
    void Release(size_t i) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            std::string().swap(packed_[i].entry.data);
            written_ = i + 1;
        }
        wake_.notify_all();
    }

  private:
    void Work() {
        std::unique_ptr<TDeflater> deflater;
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] {
                    return stop_.load() || next_ >= packed_.size() || next_ < written_ + window_;
                });
                if (stop_.load() || next_ >= packed_.size()) return;
                i = next_++;
            }
            TPacked result;
            if (ahead_[i])
                result.state = TPacked::TState::Stream;
            else
                PrepareFile(files_[static_cast<int>(i)], level_, stop_, deflater, result);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                packed_[i] = std::move(result);
            }
            done_.notify_all();
        }
    }

    const TStringList& files_;
    const std::vector<bool> ahead_;
    const int level_;
    std::vector<TPacked> packed_;
    size_t window_ = 0;
    size_t next_ = 0;     // the next entry a worker takes
    size_t written_ = 0;  // entries written by the calling thread
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;  // for the workers
    std::condition_variable done_;  // for the calling thread
    std::vector<std::thread> threads_;
};

void TZipWriter::PrepareFile(const AnsiString& path, int level, const std::atomic<bool>& stop,
                             std::unique_ptr<TDeflater>& deflater, TPacked& packed) {
    using TState = TPacked::TState;
    try {
        std::unique_ptr<TBufferedFileStream> source;
        try {
            source = std::make_unique<TBufferedFileStream>(path, kFileBufferSize, false,
                                                           fmOpenRead | fmShareDenyNone);
        } catch (const Exception&) {
            packed.state = TState::Skip;  // missing, a directory or not readable
            return;
        }
        if (!source->File().GetTimeAndAttributes(packed.dosTime, packed.attributes) ||
            (packed.attributes & faDirectory)) {
            packed.state = TState::Skip;
            return;
        }
        if (source->File().Size() > kParallelSourceLimit) {
            packed.state = TState::Stream;
            return;
        }
        TWorkerInput input(*source, stop);
        TPackedEntry& entry = packed.entry;
        TMemoryOutput output(entry.data);
        CodeEntry(input, output, level, deflater, entry.method, entry.flags,
                  entry.internalAttributes);
        entry.crc = input.Crc();
        entry.sourceBytes = input.Bytes();
        packed.state = TState::Ready;
    } catch (...) {
        packed.entry.data.clear();
        packed.error = std::current_exception();
        packed.state = TState::Failed;
    }
}

// The records of PackFile, in the same order and with the same checks, for
// an entry whose bytes are already made.
bool TZipWriter::PlacePacked(const AnsiString& path, TPacked& packed) {
    using TState = TPacked::TState;
    if (static_cast<int64_t>(written_.size()) >= maxEntries_) return false;
    switch (packed.state) {
        case TState::Skip:
            return false;
        case TState::Stream:
            return PackFile(path);
        case TState::Failed:
            std::rethrow_exception(packed.error);
        default:
            break;
    }
    TWritten w;
    TZipHeaderInfo& info = w.info;
    info.oemConvert = OEMConvert;
    info.externalAttributes = static_cast<uint32_t>(packed.attributes);
    info.dosDateTime = static_cast<uint32_t>(packed.dosTime);
    w.storedName = StoredName(path, StorePaths, OEMConvert);
    if (w.storedName.empty() || w.storedName.size() > kMaxNameBytes) return false;
    const AnsiString key = NameKey(w.storedName);
    if (names_.count(key) != 0) return false;  // of two equal names the first is packed

    const int64_t start = position_;
    if (start > kMaxOffset) return false;
    info.localHeaderOffset = static_cast<uint32_t>(start);
    info.diskNumberStart = 0;
    info.fileNameLength = static_cast<uint16_t>(w.storedName.size());
    const TPackedEntry& entry = packed.entry;
    info.method = entry.method;
    info.flags = entry.flags;
    info.internalAttributes = entry.internalAttributes;
    const int64_t dataBytes = static_cast<int64_t>(entry.data.size());
    const int64_t end = start + kLocalHeaderSize + static_cast<int64_t>(w.storedName.size()) +
                        info.localExtraLength + dataBytes;
    if (entry.sourceBytes > maxEntryBytes_ || dataBytes > maxEntryBytes_ || end > kMaxOffset)
        return false;
    info.crc32 = entry.crc;
    info.compressedSize = static_cast<uint32_t>(dataBytes);
    info.uncompressedSize = static_cast<uint32_t>(entry.sourceBytes);
    if (info.method != kMethodDeflated) info.method = kMethodStored;

    WriteLocalHeader(info, w.storedName);
    for (int64_t done = 0; done < dataBytes; done += kCopyChunk)
        WriteArchive(entry.data.data() + done, std::min(kCopyChunk, dataBytes - done));
    names_.insert(key);
    written_.push_back(std::move(w));
    return true;
}

bool TZipWriter::PlaceAhead(const AnsiString& path, TBufferStream& source, int32_t dosTime,
                            int32_t attributes, bool& placed) {
    if (!Ahead || Ahead->Level() != PackLevel || !Ahead->Has(path)) return false;
    // The file read through as PackFile reads it, for its CRC and length,
    // while its entry may still be in the making.
    const std::atomic<bool> never{false};
    TWorkerInput input(source, never);
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kFileBufferSize]);
    while (input.Read(chunk.get(), kFileBufferSize) != 0) {
    }
    TPacked packed;
    if (!Ahead->Take(path, packed.entry) || input.Bytes() != packed.entry.sourceBytes ||
        input.Crc() != packed.entry.crc) {
        // None after all, or the file changed since: packed from the file.
        if (source.Seek(0, soBeginning) != 0) throw EStreamError(msg::kSeekError);
        return false;
    }
    packed.state = TPacked::TState::Ready;
    packed.dosTime = dosTime;
    packed.attributes = attributes;
    placed = PlacePacked(path, packed);
    return true;
}

int TZipWriter::PackWithWorkers() {
    const int threads = std::min(Threads, FilesList.Count());
    std::vector<bool> ahead;
    for (const AnsiString& path : FilesList)
        ahead.push_back(Ahead && Ahead->Level() == PackLevel && Ahead->Has(path));
    TPackPool pool(FilesList, std::move(ahead), PackLevel, threads);
    int count = 0;
    if (!pool.Started()) {
        for (const AnsiString& path : FilesList)
            if (PackFile(path)) ++count;
        return count;
    }
    for (int i = 0; i < FilesList.Count(); ++i) {
        const size_t at = static_cast<size_t>(i);
        if (PlacePacked(FilesList[i], pool.Take(at))) ++count;
        pool.Release(at);
    }
    return count;
}

}  // namespace nuva
