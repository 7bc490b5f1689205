// Files and directories on Windows: the "A" API, paths in the system code
// page as they are. Times are last-write times converted to local time and
// encoded as DOS date/time.
#include "platform/win32/Win32Internal.h"

#include "platform/FaultInjection.h"
#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace nuva {

const char PathDelim = '\\';
const bool HasDriveColons = true;

namespace win32 {

AnsiString SystemText(DWORD code) {
    char* text = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    AnsiString result;
    if (n > 0 && text) result.assign(text, n);
    if (text) LocalFree(text);
    while (!result.empty() && static_cast<unsigned char>(result.back()) <= 0x20) result.pop_back();
    return result;
}

AnsiString ErrorText(DWORD code) {
    AnsiString result = SystemText(code);
    while (!result.empty() && result.back() == '.') result.pop_back();
    if (result.empty()) result = Format("System error %lu", static_cast<unsigned long>(code));
    return result;
}

// A time outside what DOS can say is clamped to its ends, as on POSIX, so
// that an existing file always has an age.
int32_t FileTimeToDos(const FILETIME& utc) {
    const uint32_t kDosFirst = 0x00210000;  // 1980-01-01 00:00:00
    const uint32_t kDosLast = 0xFF9FBF7D;   // 2107-12-31 23:59:58
    FILETIME local;
    SYSTEMTIME st;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&utc, &local)) return -1;
    if (FileTimeToDosDateTime(&local, &date, &time))
        return static_cast<int32_t>(static_cast<uint32_t>(date) << 16 | time);
    if (!FileTimeToSystemTime(&local, &st)) return -1;
    return static_cast<int32_t>(st.wYear < 1980 ? kDosFirst : kDosLast);
}

bool DosToFileTime(uint32_t dosDateTime, FILETIME* utc) {
    FILETIME local;
    return DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16),
                                 static_cast<WORD>(dosDateTime & 0xFFFF), &local) &&
           LocalFileTimeToFileTime(&local, utc);
}

}  // namespace win32

namespace internal {

bool CreateSingleDirectory(const AnsiString& path) {
    if (FaultHit(TFaultOp::MakeDir)) return false;
    return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

AnsiString GetProcessVariable(const char* name) {
    char buffer[64];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? AnsiString(buffer, n) : AnsiString();
}

void SetProcessVariable(const char* name, const char* value) {
    SetEnvironmentVariableA(name, *value ? value : nullptr);
}

void SetFaultError(bool diskFull) {
    SetLastError(diskFull ? ERROR_DISK_FULL : ERROR_IO_DEVICE);
}

}  // namespace internal

AnsiString LastErrorText() {
    return win32::ErrorText(GetLastError());
}

bool FileExists(const AnsiString& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return !path.empty() && a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const AnsiString& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return !path.empty() && a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveDir(const AnsiString& path) {
    if (internal::FaultHit(TFaultOp::Delete)) return false;
    return RemoveDirectoryA(path.c_str()) != FALSE;
}

bool DeleteFile(const AnsiString& path) {
    if (internal::FaultHit(TFaultOp::Delete)) return false;
    return DeleteFileA(path.c_str()) != FALSE;
}

namespace {

// The volume and file index of an existing file, opened for no access so
// that any sharer allows it.
bool FileIdentity(const AnsiString& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(h, &info) != FALSE;
    CloseHandle(h);
    return ok && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool IsSameFile(const AnsiString& a, const AnsiString& b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return FileIdentity(a, ia) && FileIdentity(b, ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool MoveFileReplace(const AnsiString& from, const AnsiString& to) {
    if (internal::FaultHit(TFaultOp::Rename)) return false;
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
}

int32_t GetFileAttributes(const AnsiString& path) {
    if (path.empty()) return -1;
    DWORD a = GetFileAttributesA(path.c_str());
    return a == INVALID_FILE_ATTRIBUTES ? -1 : static_cast<int32_t>(a);
}

bool SetFileAttributes(const AnsiString& path, uint32_t attributes) {
    if (internal::FaultHit(TFaultOp::Attributes)) return false;
    return SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

int32_t FileAgeDos(const AnsiString& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return win32::FileTimeToDos(data.ftLastWriteTime);
}

bool SetFileAgeDos(const AnsiString& path, uint32_t dosDateTime) {
    FILETIME utc;
    if (!win32::DosToFileTime(dosDateTime, &utc)) return false;
    if (internal::FaultHit(TFaultOp::Attributes)) return false;
    // Writing attributes only: works on a read-only file and beside readers.
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = SetFileTime(h, nullptr, nullptr, &utc) != FALSE;
    CloseHandle(h);
    return ok;
}

AnsiString TempDirectory() {
    char buffer[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n > sizeof buffer) return AnsiString(".\\");
    return IncludeTrailingPathDelimiter(AnsiString(buffer, n));
}

AnsiString CreateUniqueTempFile(const AnsiString& dir, const AnsiString& prefix) {
    AnsiString base = dir.empty() ? TempDirectory() : IncludeTrailingPathDelimiter(dir);
    char buffer[MAX_PATH + 1];
    // uUnique 0: the system picks the number and creates the empty file.
    if (internal::FaultHit(TFaultOp::Open)) return AnsiString();
    if (GetTempFileNameA(base.c_str(), prefix.c_str(), 0, buffer) == 0) return AnsiString();
    return AnsiString(buffer);
}

// The system's unique temporary name, made a directory: GetTempFileNameA
// creates an empty file under a number no other caller holds, which gives way
// to a directory of the same name. CreateDirectoryA fails when another caller
// took the name in between; then the next number is tried.
AnsiString CreateUniqueTempDirectory(const AnsiString& dir, const AnsiString& prefix) {
    const int kAttempts = 100;
    AnsiString base = dir.empty() ? TempDirectory() : IncludeTrailingPathDelimiter(dir);
    char buffer[MAX_PATH + 1];
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (GetTempFileNameA(base.c_str(), prefix.c_str(), 0, buffer) == 0) return AnsiString();
        if (!DeleteFileA(buffer)) continue;
        if (CreateDirectoryA(buffer, nullptr)) return AnsiString(buffer);
    }
    return AnsiString();
}

AnsiString ShortPathName(const AnsiString& path) {
    DWORD n = GetShortPathNameA(path.c_str(), nullptr, 0);
    if (n == 0) return path;
    AnsiString out(n, '\0');
    n = GetShortPathNameA(path.c_str(), &out[0], n);
    if (n == 0 || n >= out.size()) return path;
    out.resize(n);
    return out;
}

std::vector<TDirEntry> ListDirectoryEntries(const AnsiString& dir) {
    std::vector<TDirEntry> entries;
    if (dir.empty()) return entries;  // not the current directory
    AnsiString pattern = IncludeTrailingPathDelimiter(dir) + "*.*";
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return entries;
    do {
        TDirEntry entry;
        entry.name = data.cFileName;
        entry.attributes = data.dwFileAttributes;
        bool isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = isDir ? 0
                           : static_cast<int64_t>(static_cast<uint64_t>(data.nFileSizeHigh) << 32 |
                                                  data.nFileSizeLow);
        int32_t dos = win32::FileTimeToDos(data.ftLastWriteTime);
        entry.dosTime = dos < 0 ? 0 : static_cast<uint32_t>(dos);
        entries.push_back(std::move(entry));
    } while (FindNextFileA(h, &data));
    FindClose(h);
    return entries;
}

}  // namespace nuva
