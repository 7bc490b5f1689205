#include "zip/BufferStream.h"

#include <algorithm>
#include <cstring>

namespace nuva {

TBufferStream::TBufferStream(TStream& stream, int64_t bufferSize)
    : stream_(stream),
      buffer_(new uint8_t[static_cast<size_t>(std::max<int64_t>(bufferSize, 1))]),
      size_(std::max<int64_t>(bufferSize, 1)) {}

TBufferStream::~TBufferStream() {
    // Nobody can hear a failure here; writers call Flush() first.
    if (state_ == bsWrite) FlushBuffer();
}

int64_t TBufferStream::BufferedOffset() const {
    if (ptr_ == nullptr) return 0;
    if (state_ == bsRead) return ptr_ - end_;
    if (state_ == bsWrite) return ptr_ - buffer_.get();
    return 0;
}

int64_t TBufferStream::WrappedPosition() {
    if (wrappedPos_ < 0) wrappedPos_ = stream_.Position();
    return wrappedPos_;
}

bool TBufferStream::FillBuffer() {
    // After a fill that came up short the wrapped stream stands at its end:
    // another read there would only return nothing.
    int64_t got = atEnd_ ? 0 : stream_.Read(buffer_.get(), size_);
    if (got < 0) got = 0;
    atEnd_ = got < size_;
    if (wrappedPos_ >= 0) wrappedPos_ += got;
    ptr_ = buffer_.get();
    end_ = buffer_.get() + got;
    putBack_ = false;
    state_ = got > 0 ? bsRead : bsIdle;
    if (onFill) onFill();
    return got > 0;
}

bool TBufferStream::FlushBuffer() {
    const int64_t pending = ptr_ == nullptr ? 0 : ptr_ - buffer_.get();
    int64_t put = 0;
    try {
        put = pending > 0 ? stream_.Write(buffer_.get(), pending) : 0;
        if (put < 0) put = 0;
        if (wrappedPos_ >= 0) wrappedPos_ += put;
    } catch (const EStreamError&) {
        // A file refuses the write (a full disk) with an error, where this
        // buffer reports a shortfall (its contract, and its destructor's
        // only way). How much went out before the error is unknown: the
        // wrapped position is asked again when it is next needed.
        put = 0;
        wrappedPos_ = -1;
    }
    ptr_ = buffer_.get();
    end_ = buffer_.get() + size_;
    state_ = bsIdle;
    if (onFlush) onFlush();
    return put == pending;
}

bool TBufferStream::Flush() {
    if (state_ != bsWrite) return true;
    return FlushBuffer();
}

void TBufferStream::LeaveRead() {
    // The wrapped stream stands at the end of what was filled; move it back
    // to the first unread byte so the write lands at the logical position.
    const int64_t unread = end_ - ptr_;
    if (unread > 0) wrappedPos_ = stream_.Seek(-unread, soCurrent);
    atEnd_ = false;
    ptr_ = nullptr;
    state_ = bsIdle;
}

int64_t TBufferStream::Read(void* buffer, int64_t count) {
    if (state_ == bsWrite && !FlushBuffer()) return 0;
    if (state_ != bsRead) ptr_ = end_ = nullptr;  // treat the buffer as empty
    uint8_t* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (ptr_ == end_ && !FillBuffer()) break;
        int64_t n = std::min<int64_t>(count - done, end_ - ptr_);
        std::memcpy(out + done, ptr_, static_cast<size_t>(n));
        ptr_ += n;
        done += n;
    }
    return done;
}

int64_t TBufferStream::Write(const void* buffer, int64_t count) {
    if (state_ == bsRead) LeaveRead();
    atEnd_ = false;
    if (state_ != bsWrite) {
        ptr_ = buffer_.get();
        end_ = buffer_.get() + size_;
    }
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    int64_t sinceFlush = 0;  // bytes of this call not yet handed on
    while (done < count) {
        int64_t n = std::min<int64_t>(count - done, end_ - ptr_);
        std::memcpy(ptr_, in + done, static_cast<size_t>(n));
        ptr_ += n;
        done += n;
        sinceFlush += n;
        if (ptr_ == end_) {
            state_ = bsWrite;
            if (!FlushBuffer()) {
                // The refused buffer is dropped: report only the bytes of this
                // call that reached the wrapped stream, so that the caller
                // sees the shortfall even when the buffer ended with the call.
                written_ = true;
                return done - sinceFlush;
            }
            sinceFlush = 0;
        }
    }
    if (ptr_ != buffer_.get()) state_ = bsWrite;
    if (count > 0) written_ = true;
    return done;
}

int64_t TBufferStream::Size() {
    const int64_t logical = WrappedPosition() + BufferedOffset();
    return std::max(logical, stream_.Size());
}

int64_t TBufferStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t target;
    switch (origin) {
        case soBeginning:
            target = offset;
            break;
        case soCurrent:
            target = WrappedPosition() + BufferedOffset() + offset;
            break;
        case soEnd:
            target = Size() - (offset < 0 ? -offset : offset);
            break;
        default:
            throw EStreamError(Format(msg::kInvalidSeekOrigin, static_cast<int>(origin)));
    }
    if (target == WrappedPosition() + BufferedOffset()) return target;
    // A target inside what the read buffer holds: move there without a call
    // to the wrapped stream (the next entry of an archive is usually there).
    if (state_ == bsRead && !putBack_) {
        const int64_t bufferStart = wrappedPos_ - (end_ - buffer_.get());
        if (target >= bufferStart && target <= wrappedPos_) {
            ptr_ = buffer_.get() + (target - bufferStart);
            return target;
        }
    }
    if (state_ == bsWrite && !FlushBuffer()) throw EStreamError(msg::kSeekError);
    int64_t reached = stream_.Seek(target, soBeginning);
    wrappedPos_ = reached;
    atEnd_ = false;
    ptr_ = end_ = nullptr;
    state_ = bsIdle;
    return reached;
}

void TBufferStream::PutBack(uint8_t byte) {
    if (ptr_ == nullptr || ptr_ == buffer_.get()) throw EStreamError(msg::kPutbackOverflow);
    *--ptr_ = byte;
    putBack_ = true;
}

// --- TBufferedFileStream ----------------------------------------------------

namespace {

bool ModeWrites(unsigned mode) {
    return mode == fmCreate || (mode & 0x3) == fmOpenWrite || (mode & 0x3) == fmOpenReadWrite;
}

}  // namespace

TBufferedFileStream::TBufferedFileStream(const AnsiString& fileName, int64_t bufferSize,
                                         bool flushToDiskOnClose, unsigned mode)
    : detail::TFileHolder{std::make_unique<TFileStream>(fileName, mode)},
      TBufferStream(*file, bufferSize) {
    flushOnDestroy_ = flushToDiskOnClose && ModeWrites(mode);
}

TBufferedFileStream::~TBufferedFileStream() {
    Close();
}

bool TBufferedFileStream::Close() {
    bool ok = Flush();
    if (flushOnDestroy_ && written_) {
        file->FlushToDisk();
        written_ = false;
    }
    return ok;
}

}  // namespace nuva
