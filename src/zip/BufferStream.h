// A fixed-size buffer in front of any stream (`TBufferStream`) and a buffered
// file (`TBufferedFileStream`). The archive code reads headers in small
// pieces and writes entry data in large ones; the buffer turns both into
// whole-buffer transfers and makes a seek to the current position free.
//
// The logical position is the wrapped stream's position plus what sits in
// the buffer: minus the unread bytes while reading, plus the unwritten bytes
// while writing. Reading after writing and writing after reading are both
// allowed without a seek between them.
//
// A buffer that cannot be written out in full is reported: `Write` then
// takes fewer bytes than asked, `Flush` returns false, a seek that needs the
// flush raises "Seek error". The destructor flushes too but cannot report;
// writers call `Flush` (or `TBufferedFileStream::Close`) before letting go.
//
// One thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Stream.h"

namespace nuva {

class TBufferStream : public TStream {
  public:
    enum TState : uint8_t { bsIdle = 0, bsRead = 1, bsWrite = 2 };

    // Wraps `stream` (not owned; it must outlive this object) with a buffer
    // of `bufferSize` bytes (> 0).
    TBufferStream(TStream& stream, int64_t bufferSize);
    ~TBufferStream() override;
    TBufferStream(const TBufferStream&) = delete;
    TBufferStream& operator=(const TBufferStream&) = delete;

    // Returns the bytes delivered; fewer than asked means the end of data.
    int64_t Read(void* buffer, int64_t count) override;
    // Returns the bytes taken into the buffer; fewer than asked means a
    // flush of the full buffer failed.
    int64_t Write(const void* buffer, int64_t count) override;
    // Origin 0 from the start, 1 from the logical position, 2 from the end
    // (the offset's sign is ignored: both -22 and 22 mean 22 bytes before the
    // end). Raises EStreamError "Invalid seek origin (%d)" for another
    // origin and "Seek error" when the pending writes cannot be flushed.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    // The larger of the logical position and the wrapped stream's size.
    int64_t Size() override;

    // Writes the pending bytes to the wrapped stream. True when there was
    // nothing to write or all of it was taken; on false the bytes that were
    // not taken are dropped and the state is idle.
    bool Flush();
    // Returns one byte so that the next Read delivers it again; raises
    // EStreamError "Putback overflow" when the buffer has no room before
    // the read pointer.
    void PutBack(uint8_t byte);

    TState State() const { return state_; }
    // Hooks called after every fill and every flush (tests and diagnostics).
    std::function<void()> onFill;
    std::function<void()> onFlush;

  protected:
    // Reads up to a buffer's worth; true when any byte arrived.
    virtual bool FillBuffer();
    // Writes what sits in the buffer; true when all of it was taken.
    virtual bool FlushBuffer();
    bool flushOnDestroy_ = false;
    bool written_ = false;

  private:
    int64_t BufferedOffset() const;
    // The wrapped stream's position, asked once and then followed through
    // every read, write and seek made here (the wrapped stream is not moved
    // behind this object's back while it is wrapped).
    int64_t WrappedPosition();
    // Ends a read state before writing: the wrapped stream moves to the
    // logical position and the buffer is emptied.
    void LeaveRead();

    TStream& stream_;
    std::unique_ptr<uint8_t[]> buffer_;
    uint8_t* ptr_ = nullptr;  // next byte to read or write; null: unset
    uint8_t* end_ = nullptr;  // read: end of valid data; write: end of buffer
    int64_t size_;
    TState state_ = bsIdle;
    int64_t wrappedPos_ = -1;  // -1: not known, ask the wrapped stream
    bool atEnd_ = false;       // the last fill came up short: the wrapped stream is at its end
    bool putBack_ = false;     // a put-back byte may differ from the file's byte there
};

namespace detail {
// Holds the file so that it exists before the buffer that wraps it and is
// closed after the buffer's last flush.
struct TFileHolder {
    std::unique_ptr<TFileStream> file;
};
}  // namespace detail

// A file opened by name behind a buffer. Open
// failures are the platform file stream's EFOpenError / EFCreateError. Flush
// to disk on destruction happens only when asked and the mode allows writing.
class TBufferedFileStream : private detail::TFileHolder, public TBufferStream {
  public:
    TBufferedFileStream(const AnsiString& fileName, int64_t bufferSize, bool flushToDiskOnClose,
                        unsigned mode);
    ~TBufferedFileStream() override;

    // The open file, for reading and setting its time.
    TFileStream& File() { return *file; }
    // Flushes the buffer, and the file to disk when asked at creation and
    // something was written. False when the buffered bytes could not all be
    // written (a full disk).
    bool Close();
};

}  // namespace nuva
