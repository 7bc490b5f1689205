#include "zip/PackAhead.h"

#include <cstring>
#include <utility>

#include "util/Workers.h"
#include "zip/Crc32.h"
#include "zip/ZipWriter.h"
#include "zip/codec/Deflate.h"
#include "zip/codec/MemoryStages.h"

namespace nuva {

// A job's pieces as the compressor reads them, with their CRC and length:
// every read is filled up to the end, waiting for pieces as they come.
// Delivers nothing more once the owner stops.
class TPackAhead::TFeedInput : public TCodecInput {
  public:
    TFeedInput(TPackAhead& owner, TJob& job) : owner_(owner), job_(job) {}
    size_t Read(uint8_t* dest, size_t capacity) override {
        size_t done = 0;
        while (done < capacity) {
            if (at_ == piece_.size() && !Next()) break;
            const size_t n = std::min(capacity - done, piece_.size() - at_);
            std::memcpy(dest + done, piece_.data() + at_, n);
            at_ += n;
            done += n;
        }
        crc_ = Crc32Update(crc_, dest, done);
        bytes_ += static_cast<int64_t>(done);
        return done;
    }
    uint32_t Crc() const { return ~crc_; }
    int64_t Bytes() const { return bytes_; }
    bool Stopped() const { return stopped_; }

  private:
    // The next piece into piece_; false at the end or the stop.
    bool Next() {
        std::unique_lock<std::mutex> lock(owner_.mutex_);
        owner_.more_.wait(lock, [&] { return owner_.stop_ || job_.ended || !job_.pieces.empty(); });
        if (owner_.stop_) {
            stopped_ = true;
            return false;
        }
        if (job_.pieces.empty()) return false;  // ended
        piece_ = std::move(job_.pieces.front());
        job_.pieces.pop_front();
        at_ = 0;
        return true;
    }

    TPackAhead& owner_;
    TJob& job_;
    AnsiString piece_;
    size_t at_ = 0;  // bytes of piece_ handed out
    uint32_t crc_ = kCrc32Preset;
    int64_t bytes_ = 0;
    bool stopped_ = false;
};

TPackAhead::TPackAhead(int threads, int level) : threads_(threads), level_(level) {}

TPackAhead::~TPackAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    more_.notify_all();
}

size_t TPackAhead::Begin(const AnsiString& path) {
    if (!pool_) pool_ = std::make_unique<TWorkerPool>(threads_);
    TJob& job = jobs_.emplace_back();
    job.path = path;
    byPath_[path] = &job;  // the file holds what was written last
    job.ticket = pool_->Post([this, &job] { Run(job); });
    return jobs_.size() - 1;
}

void TPackAhead::Add(size_t entry, AnsiString bytes) {
    if (bytes.empty()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_[entry].pieces.push_back(std::move(bytes));
    }
    more_.notify_all();
}

void TPackAhead::End(size_t entry) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_[entry].ended = true;
    }
    more_.notify_all();
}

void TPackAhead::Run(TJob& job) {
    try {
        TFeedInput input(*this, job);
        TStringOutput output;
        std::unique_ptr<TDeflater> deflater;
        TPackedEntry entry;
        TZipWriter::CodeEntry(input, output, level_, deflater, entry.method, entry.flags,
                              entry.internalAttributes);
        if (input.Stopped()) return;
        entry.crc = input.Crc();
        entry.sourceBytes = input.Bytes();
        entry.data = std::move(output.bytes);
        job.entry = std::move(entry);
    } catch (...) {
        job.entry.reset();  // the writer compresses this file itself
    }
}

bool TPackAhead::Has(const AnsiString& path) const {
    const auto found = byPath_.find(path);
    return found != byPath_.end() && !found->second->taken;
}

bool TPackAhead::Take(const AnsiString& path, TPackedEntry& entry) {
    const auto found = byPath_.find(path);
    if (found == byPath_.end() || found->second->taken) return false;
    TJob& job = *found->second;
    job.taken = true;
    // Tickets are waited for in order; the jobs raise nothing.
    while (pool_->Pending() > 0 && pool_->Oldest() <= job.ticket) pool_->Wait(pool_->Oldest());
    if (!job.entry) return false;
    entry = std::move(*job.entry);
    job.entry.reset();
    return true;
}

}  // namespace nuva
