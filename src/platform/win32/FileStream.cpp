// TFileStream on Windows: a file HANDLE. The share bits of the open mode map
// onto CreateFileA's share mode; fmCreate creates or truncates
// (CREATE_ALWAYS).
#include "platform/win32/Win32Internal.h"

#include "platform/FaultInjection.h"
#include "platform/Platform.h"
#include "platform/PlatformInternal.h"
#include "platform/Stream.h"

namespace nuva {

namespace {

HANDLE AsHandle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

DWORD AccessOf(unsigned mode) {
    switch (mode & 3) {
        case fmOpenWrite:
            return GENERIC_WRITE;
        case fmOpenReadWrite:
            return GENERIC_READ | GENERIC_WRITE;
        default:
            return GENERIC_READ;
    }
}

// What the other openers of the file may still do while we hold it.
DWORD ShareOf(unsigned mode) {
    switch (mode & 0xF0) {
        case fmShareDenyWrite:
            return FILE_SHARE_READ;
        case fmShareDenyRead:
            return FILE_SHARE_WRITE;
        case fmShareDenyNone:
            return FILE_SHARE_READ | FILE_SHARE_WRITE;
        default:
            return 0;  // fmShareCompat, fmShareExclusive
    }
}

// ReadFile and WriteFile move at most a DWORD at a time.
DWORD Piece(int64_t remaining) {
    const int64_t kMaxPiece = 1 << 30;  // bytes
    return static_cast<DWORD>(remaining < kMaxPiece ? remaining : kMaxPiece);
}

}  // namespace

TFileStream::TFileStream(const AnsiString& fileName, unsigned mode)
    : fileName_(fileName), handle_(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE)) {
    HANDLE h;
    if ((mode & 0xFF00) == fmCreate) {
        h = internal::FaultHit(TFaultOp::Open) ? INVALID_HANDLE_VALUE : CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, ShareOf(mode), nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw EFCreateError(fileName, LastErrorText());
    } else {
        h = internal::FaultHit(TFaultOp::Open) ? INVALID_HANDLE_VALUE : CreateFileA(fileName.c_str(), AccessOf(mode), ShareOf(mode), nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw EFOpenError(fileName, LastErrorText());
    }
    handle_ = reinterpret_cast<intptr_t>(h);
}

TFileStream::~TFileStream() {
    if (AsHandle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(AsHandle(handle_));
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        const DWORD want = Piece(count - total);
        DWORD got = 0;
        // A failure is not the end of the file: the caller would take what
        // came before it for the whole file.
        if (internal::FaultHit(TFaultOp::Read) ||
            !ReadFile(AsHandle(handle_), static_cast<char*>(buffer) + total, want, &got, nullptr))
            throw EReadError(LastErrorText());
        if (got == 0) break;
        total += got;
        // A file delivers less than asked only at its end.
        if (got < want) break;
    }
    return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        DWORD put = 0;
        if (internal::FaultHit(TFaultOp::Write) ||
            !WriteFile(AsHandle(handle_), static_cast<const char*>(buffer) + total,
                       Piece(count - total), &put, nullptr))
            throw EWriteError(LastErrorText());
        if (put == 0) break;
        total += put;
    }
    return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    DWORD method = origin == soBeginning ? FILE_BEGIN
                   : origin == soCurrent ? FILE_CURRENT
                                         : FILE_END;
    LARGE_INTEGER distance, result;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(AsHandle(handle_), distance, &result, method)) return -1;
    return result.QuadPart;
}

int64_t TFileStream::Size() {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(AsHandle(handle_), &size)) return TStream::Size();
    return size.QuadPart;
}

bool TFileStream::Truncate() {
    if (internal::FaultHit(TFaultOp::Flush)) return false;
    return SetEndOfFile(AsHandle(handle_)) != FALSE;
}

bool TFileStream::FlushToDisk() {
    if (internal::FaultHit(TFaultOp::Flush)) return false;
    return FlushFileBuffers(AsHandle(handle_)) != FALSE;
}

bool TFileStream::GetTimeAndAttributes(int32_t& dosTime, int32_t& attributes) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(AsHandle(handle_), &info)) return false;
    dosTime = win32::FileTimeToDos(info.ftLastWriteTime);
    attributes = static_cast<int32_t>(info.dwFileAttributes);
    return true;
}

bool TFileStream::SetDosTime(uint32_t dosDateTime) {
    FILETIME utc;
    if (internal::FaultHit(TFaultOp::Flush)) return false;
    return win32::DosToFileTime(dosDateTime, &utc) &&
           SetFileTime(AsHandle(handle_), nullptr, nullptr, &utc) != FALSE;
}

}  // namespace nuva
