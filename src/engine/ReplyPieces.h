// The reply's files as the unpacking writes them, converted meanwhile on the
// workers into the UTF-16 pieces of their escaped text. BuildReply takes a
// file's pieces when the file still reads as the same bytes (length and
// CRC-32) instead of converting it again, so that inflating and converting
// overlap. At most `limit` units are kept in all; the files beyond are left
// to BuildReply's own reading.
//
// It raises nothing into the extraction: what fails here only leaves the
// file to BuildReply's reading.
//
// Threads: every member from the thread that made the object (the
// extraction's calling thread). Jobs convert memory only.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "zip/ExtractSink.h"

namespace nuva {

class TPieceJobs;

class TReplyPieces : public TExtractSink {
  public:
    struct TPiece {
        std::unique_ptr<char16_t[]> units;
        size_t count = 0;
        bool failed = false;  // the conversion raised
    };
    struct TFile {
        int64_t size = 0;
        uint32_t crc = 0;
        bool whole = false;         // kept by the extraction, every piece converted
        std::deque<TPiece> pieces;  // never moved while jobs run: they hold references
    };

    // `threads` counts the calling thread.
    TReplyPieces(int threads, size_t limit);
    ~TReplyPieces() override;

    void Begin(const AnsiString& path) override;
    void Add(const uint8_t* data, size_t count) override;
    void End(bool whole) noexcept override;

    // After the extraction: waits for the conversions, then the pieces of
    // the file at `path`, or null when it has none to give (not whole, over
    // the limit, a conversion failed). Each file once.
    TFile* Take(const AnsiString& path);

  private:
    // Hands the text up to its last character end to a job.
    void Cut(bool last);

    const int threads_;
    const size_t limit_;
    size_t bound_ = 0;  // units the pieces so far may take, at most
    bool over_ = false;
    std::unordered_map<AnsiString, TFile> files_;
    TFile* current_ = nullptr;  // the file being written, while it is kept
    AnsiString pending_;        // its bytes not yet handed to a job
    uint32_t crc_ = 0;
    std::unique_ptr<TPieceJobs> jobs_;  // last: its jobs end before the pieces go
};

}  // namespace nuva
