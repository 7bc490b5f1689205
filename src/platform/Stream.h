// Streams: the abstract byte stream that the zip code reads and writes, an
// in-memory stream, and the platform's file stream.
//
// Positions and sizes are 64-bit. `Read` and `Write` report how many bytes
// they moved and do not throw for a short transfer (the end of the data, a
// full memory); `ReadBuffer` and `WriteBuffer` raise "Stream read error" /
// "Stream write error" instead. A file stream tells a failure apart from the
// end of the file: when the system refuses a read or a write, `Read` and
// `Write` raise EReadError / EWriteError with the system's reason, so a
// short count from a file always means its end (or, writing, that nothing
// more was taken without an error).
//
// Threads: a stream object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Errors.h"

namespace nuva {

enum TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;

    // Copies up to `count` bytes into `buffer`; returns the number copied
    // (0 at the end of the data). A file stream raises EReadError when the
    // system fails the read: an error never reads as the end of the data.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to `count` bytes; returns the number taken. A file stream
    // raises EWriteError when the system fails the write (disk full).
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position and returns the new one, or -1 on an error.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t position) { Seek(position, soBeginning); }
    // The size: seeks to the end and back.
    virtual int64_t Size();

    // Read or write exactly `count` bytes or raise EReadError / EWriteError.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
};

// A growable stream in memory.
class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

    const std::vector<uint8_t>& Data() const { return data_; }
    std::vector<uint8_t>& Data() { return data_; }

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

// Open modes: one access mode, optionally or-ed with one share mode, as the
// platform defines them. `fmCreate` creates or truncates for reading and
// writing, and may carry a share mode too. On Windows the share mode binds
// every other opener of the file while the stream is open (fmShareCompat
// shares nothing, like fmShareExclusive); POSIX has no counterpart and
// ignores it.
enum : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

// A file opened by name. The constructor raises EFOpenError (open modes) or
// EFCreateError (fmCreate) with the system's reason. The destructor closes
// the file.
class TFileStream : public TStream {
public:
    TFileStream(const AnsiString& fileName, unsigned mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    // The file's size from the file system, without moving the position.
    int64_t Size() override;

    // Cuts or extends the file at the current position.
    bool Truncate();
    // Writes the OS buffers through to the disk.
    bool FlushToDisk();
    // The open file's last-write time as a DOS date/time (as
    // GetTimeAndAttributes tells it), or -1.
    int32_t GetDosTime();
    // Sets the open file's last-write time from a DOS date/time.
    bool SetDosTime(uint32_t dosDateTime);
    // The open file's last-write time (DOS date/time) and attributes (fa*
    // flags) in one query of the handle; false when the system cannot tell.
    // On POSIX a stream opened only for reading answers from the status it
    // took when it was opened.
    bool GetTimeAndAttributes(int32_t& dosTime, int32_t& attributes);

    const AnsiString& FileName() const { return fileName_; }

private:
    AnsiString fileName_;
    intptr_t handle_;  // HANDLE on Windows, a file descriptor on POSIX
    // POSIX, opened only for reading: the status taken at the open.
    bool openStatusKept_ = false;
    int64_t openModified_ = 0;  // seconds since 1970
    uint32_t openAttributes_ = 0;
};

}  // namespace nuva
