// Files and directories on POSIX. Paths arrive in the system code page and
// are converted to UTF-8 (the names on disk) at each system call; names read
// from a directory are converted back. Attributes are derived: 0x20 archive
// for files, 0x10 directory, 0x01 read-only when the owner may not write.
// File times are `mtime` in local time, encoded as DOS date/time.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <ctime>

#include "platform/FaultInjection.h"
#include "platform/Platform.h"
#include "platform/PlatformInternal.h"
#include "platform/posix/PosixInternal.h"

namespace nuva {

const char PathDelim = '/';
const bool HasDriveColons = false;

namespace posix {

std::string ToDisk(const AnsiString& path) {
    return AnsiToUtf8(path);
}

uint32_t AttributesOf(const struct stat& st) {
    uint32_t attributes = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
    if (!(st.st_mode & S_IWUSR)) attributes |= faReadOnly;
    return attributes;
}

uint32_t TimeToDos(time_t t) {
    struct tm lt;
    if (!localtime_r(&t, &lt)) return 0;
    const uint32_t kDosFirst = 0x00210000;  // 1980-01-01 00:00:00
    const uint32_t kDosLast = 0xFF9FBF7D;   // 2107-12-31 23:59:58
    int year = lt.tm_year + 1900;
    if (year < 1980) return kDosFirst;
    if (year > 2107) return kDosLast;
    uint32_t date = static_cast<uint32_t>((year - 1980) << 9 | (lt.tm_mon + 1) << 5 | lt.tm_mday);
    uint32_t time = static_cast<uint32_t>(lt.tm_hour << 11 | lt.tm_min << 5 | lt.tm_sec / 2);
    return date << 16 | time;
}

namespace {

time_t DosToTimeSlow(uint32_t dos) {
    struct tm lt;
    std::memset(&lt, 0, sizeof lt);
    uint32_t date = dos >> 16;
    uint32_t time = dos & 0xFFFF;
    lt.tm_year = static_cast<int>((date >> 9) + 1980 - 1900);
    lt.tm_mon = static_cast<int>(((date >> 5) & 15)) - 1;
    lt.tm_mday = static_cast<int>(date & 31);
    lt.tm_hour = static_cast<int>(time >> 11);
    lt.tm_min = static_cast<int>((time >> 5) & 63);
    lt.tm_sec = static_cast<int>((time & 31) * 2);
    lt.tm_isdst = -1;
    return mktime(&lt);
}

long OffsetAt(time_t t) {
    struct tm lt;
    return localtime_r(&t, &lt) ? lt.tm_gmtoff : LONG_MIN;
}

}  // namespace

// mktime consults the time-zone file on every call, and the files of one
// archive mostly share a date and an hour: the start of the last hour asked
// for is kept, and used while that hour and the hours on either side of it
// have one offset from UTC (so that no clock change makes the sum differ
// from what mktime says). Per thread, so no lock is needed; a change of TZ
// inside the process is seen from the next other hour asked for.
time_t DosToTime(uint32_t dos) {
    static thread_local bool cached = false;
    static thread_local uint32_t cachedHour = 0;  // the DOS date and hour bits
    static thread_local time_t cachedStart = 0;
    const uint32_t hour = dos >> 11;
    const uint32_t minutes = (dos >> 5) & 63, seconds = (dos & 31) * 2;
    if (minutes >= 60 || seconds >= 60) return DosToTimeSlow(dos);  // mktime normalises these
    if (!cached || hour != cachedHour) {
        const time_t start = DosToTimeSlow(hour << 11);
        const long offset = OffsetAt(start);
        cached = start != static_cast<time_t>(-1) && offset != LONG_MIN &&
                 OffsetAt(start - 3600) == offset && OffsetAt(start + 2 * 3600) == offset;
        if (!cached) return DosToTimeSlow(dos);
        cachedHour = hour;
        cachedStart = start;
    }
    return cachedStart + static_cast<time_t>(minutes * 60 + seconds);
}

}  // namespace posix

using posix::ToDisk;

namespace internal {

bool CreateSingleDirectory(const AnsiString& path) {
    if (FaultHit(TFaultOp::MakeDir)) return false;
    return mkdir(ToDisk(path).c_str(), 0777) == 0;
}

AnsiString GetProcessVariable(const char* name) {
    const char* value = std::getenv(name);
    return value ? AnsiString(value) : AnsiString();
}

void SetProcessVariable(const char* name, const char* value) {
    if (*value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

void SetFaultError(bool diskFull) {
    errno = diskFull ? ENOSPC : EIO;
}

}  // namespace internal

AnsiString LastErrorText() {
    return Utf8ToAnsi(std::strerror(errno));
}

bool FileExists(const AnsiString& path) {
    struct stat st;
    return !path.empty() && stat(ToDisk(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const AnsiString& path) {
    struct stat st;
    return !path.empty() && stat(ToDisk(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveDir(const AnsiString& path) {
    if (internal::FaultHit(TFaultOp::Delete)) return false;
    return rmdir(ToDisk(path).c_str()) == 0;
}

// A directory or a read-only file is not deleted, as on Windows (where the
// read-only attribute protects a file whatever the directory allows).
bool DeleteFile(const AnsiString& path) {
    std::string disk = ToDisk(path);
    struct stat st;
    if (stat(disk.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode) || (posix::AttributesOf(st) & faReadOnly)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        return false;
    }
    if (internal::FaultHit(TFaultOp::Delete)) return false;
    return unlink(disk.c_str()) == 0;
}

bool IsSameFile(const AnsiString& a, const AnsiString& b) {
    struct stat sa, sb;
    return stat(ToDisk(a).c_str(), &sa) == 0 && stat(ToDisk(b).c_str(), &sb) == 0 &&
           !S_ISDIR(sa.st_mode) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool MoveFileReplace(const AnsiString& from, const AnsiString& to) {
    if (internal::FaultHit(TFaultOp::Rename)) return false;
    return rename(ToDisk(from).c_str(), ToDisk(to).c_str()) == 0;
}

int32_t GetFileAttributes(const AnsiString& path) {
    struct stat st;
    if (path.empty() || stat(ToDisk(path).c_str(), &st) != 0) return -1;
    return static_cast<int32_t>(posix::AttributesOf(st));
}

bool SetFileAttributes(const AnsiString& path, uint32_t attributes) {
    struct stat st;
    std::string disk = ToDisk(path);
    if (stat(disk.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & faReadOnly)
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else
        mode |= S_IWUSR;
    if (internal::FaultHit(TFaultOp::Attributes)) return false;
    return chmod(disk.c_str(), mode) == 0;
}

int32_t FileAgeDos(const AnsiString& path) {
    struct stat st;
    if (path.empty() || stat(ToDisk(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return static_cast<int32_t>(posix::TimeToDos(st.st_mtime));
}

bool SetFileAgeDos(const AnsiString& path, uint32_t dosDateTime) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = posix::DosToTime(dosDateTime);
    times[1].tv_nsec = 0;
    if (internal::FaultHit(TFaultOp::Attributes)) return false;
    return utimensat(AT_FDCWD, ToDisk(path).c_str(), times, 0) == 0;
}

AnsiString TempDirectory() {
    const char* env = std::getenv("TMPDIR");
    AnsiString dir = env && *env ? Utf8ToAnsi(env) : AnsiString("/tmp");
    return IncludeTrailingPathDelimiter(dir);
}

// The name has the shape Windows gives it: at most three bytes of the prefix,
// a unique part, ".tmp".
AnsiString CreateUniqueTempFile(const AnsiString& dir, const AnsiString& prefix) {
    const size_t kPrefixBytes = 3;
    const char kSuffix[] = ".tmp";
    AnsiString base = dir.empty() ? TempDirectory() : IncludeTrailingPathDelimiter(dir);
    std::string pattern = ToDisk(base + prefix.substr(0, kPrefixBytes)) + "XXXXXX" + kSuffix;
    if (internal::FaultHit(TFaultOp::Open)) return AnsiString();
    int fd = mkstemps(pattern.data(), static_cast<int>(sizeof kSuffix - 1));
    if (fd < 0) return AnsiString();
    close(fd);
    return Utf8ToAnsi(pattern);
}

AnsiString CreateUniqueTempDirectory(const AnsiString& dir, const AnsiString& prefix) {
    AnsiString base = dir.empty() ? TempDirectory() : IncludeTrailingPathDelimiter(dir);
    std::string pattern = ToDisk(base + prefix) + "XXXXXX";
    if (!mkdtemp(pattern.data())) return AnsiString();
    return Utf8ToAnsi(pattern);
}

AnsiString ShortPathName(const AnsiString& path) {
    return path;
}

std::vector<TDirEntry> ListDirectoryEntries(const AnsiString& dir) {
    std::vector<TDirEntry> entries;
    std::string disk = ToDisk(dir);
    DIR* d = opendir(disk.c_str());
    if (!d) return entries;
    if (disk.empty() || disk.back() != '/') disk += '/';
    while (struct dirent* e = readdir(d)) {
        TDirEntry entry;
        entry.name = Utf8ToAnsi(e->d_name);
        struct stat st;
        if (stat((disk + e->d_name).c_str(), &st) != 0) continue;
        entry.attributes = posix::AttributesOf(st);
        entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
        entry.dosTime = posix::TimeToDos(st.st_mtime);
        entries.push_back(std::move(entry));
    }
    closedir(d);
    return entries;
}

}  // namespace nuva
