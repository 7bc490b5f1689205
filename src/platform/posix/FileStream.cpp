// TFileStream on POSIX: a file descriptor. Share modes have no POSIX
// counterpart and are ignored.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/FaultInjection.h"
#include "platform/Platform.h"
#include "platform/PlatformInternal.h"
#include "platform/Stream.h"
#include "platform/posix/PosixInternal.h"

namespace nuva {

TFileStream::TFileStream(const AnsiString& fileName, unsigned mode)
    : fileName_(fileName), handle_(-1) {
    std::string disk = posix::ToDisk(fileName);
    if ((mode & 0xFF00) == fmCreate) {
        handle_ = internal::FaultHit(TFaultOp::Open)
                      ? -1
                      : open(disk.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (handle_ < 0) throw EFCreateError(fileName, LastErrorText());
        return;
    }
    int flags = O_CLOEXEC;
    switch (mode & 3) {
        case fmOpenWrite:
            flags |= O_WRONLY;
            break;
        case fmOpenReadWrite:
            flags |= O_RDWR;
            break;
        default:
            flags |= O_RDONLY;
            break;
    }
    handle_ = internal::FaultHit(TFaultOp::Open) ? -1 : open(disk.c_str(), flags);
    if (handle_ >= 0) {
        // A directory opens on POSIX; Windows refuses it, and so do we.
        struct stat st;
        if (fstat(static_cast<int>(handle_), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                close(static_cast<int>(handle_));
                handle_ = -1;
                errno = EISDIR;
            } else if ((flags & O_ACCMODE) == O_RDONLY) {
                // Nothing done through this handle changes the status.
                openStatusKept_ = true;
                openModified_ = static_cast<int64_t>(st.st_mtime);
                openAttributes_ = posix::AttributesOf(st);
            }
        }
    }
    if (handle_ < 0) throw EFOpenError(fileName, LastErrorText());
}

TFileStream::~TFileStream() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(count - total, INT_MAX));
        ssize_t n = internal::FaultHit(TFaultOp::Read)
                        ? -1
                        : read(static_cast<int>(handle_), static_cast<char*>(buffer) + total, chunk);
        if (n < 0 && errno == EINTR) continue;
        // A failure is not the end of the file: the caller would take what
        // came before it for the whole file.
        if (n < 0) throw EReadError(LastErrorText());
        if (n == 0) break;
        total += n;
        // A file delivers less than asked only at its end: asking again would
        // cost a call that returns nothing.
        if (static_cast<size_t>(n) < chunk) break;
    }
    return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(count - total, INT_MAX));
        ssize_t n = internal::FaultHit(TFaultOp::Write) ? -1
                    : write(static_cast<int>(handle_),
                            static_cast<const char*>(buffer) + total, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EWriteError(LastErrorText());
        if (n == 0) break;
        total += n;
    }
    return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    return lseek(static_cast<int>(handle_), static_cast<off_t>(offset), whence);
}

int64_t TFileStream::Size() {
    struct stat st;
    if (fstat(static_cast<int>(handle_), &st) != 0) return TStream::Size();
    return static_cast<int64_t>(st.st_size);
}

bool TFileStream::Truncate() {
    off_t here = lseek(static_cast<int>(handle_), 0, SEEK_CUR);
    if (internal::FaultHit(TFaultOp::Flush)) return false;
    return here >= 0 && ftruncate(static_cast<int>(handle_), here) == 0;
}

bool TFileStream::FlushToDisk() {
    if (internal::FaultHit(TFaultOp::Flush)) return false;
    return fsync(static_cast<int>(handle_)) == 0;
}

bool TFileStream::GetTimeAndAttributes(int32_t& dosTime, int32_t& attributes) {
    if (!openStatusKept_) {
        struct stat st;
        if (fstat(static_cast<int>(handle_), &st) != 0) return false;
        openModified_ = static_cast<int64_t>(st.st_mtime);
        openAttributes_ = posix::AttributesOf(st);
    }
    dosTime = static_cast<int32_t>(posix::TimeToDos(static_cast<time_t>(openModified_)));
    attributes = static_cast<int32_t>(openAttributes_);
    return true;
}

bool TFileStream::SetDosTime(uint32_t dosDateTime) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = posix::DosToTime(dosDateTime);
    times[1].tv_nsec = 0;
    if (internal::FaultHit(TFaultOp::Flush)) return false;
    return futimens(static_cast<int>(handle_), times) == 0;
}

}  // namespace nuva
