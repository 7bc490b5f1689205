// Process, time, profile strings and the default user interface on POSIX.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>

#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace nuva {

namespace {

std::mutex overrideMutex;
AnsiString exeDirectoryOverride;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameAsciiNoCase(const std::string& a, const std::string& b) {
    return AnsiUpperCaseAscii(a) == AnsiUpperCaseAscii(b);
}

}  // namespace

AnsiString ExeDirectory() {
    {
        std::lock_guard<std::mutex> lock(overrideMutex);
        if (!exeDirectoryOverride.empty()) return exeDirectoryOverride;
    }
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return AnsiString("./");
    return ExtractFilePath(Utf8ToAnsi(std::string(buffer, static_cast<size_t>(n))));
}

void SetExeDirectoryOverride(const AnsiString& dir) {
    std::lock_guard<std::mutex> lock(overrideMutex);
    exeDirectoryOverride = IncludeTrailingPathDelimiter(dir);
}

TLocalDate LocalDate() {
    time_t now = time(nullptr);
    struct tm lt;
    localtime_r(&now, &lt);
    return TLocalDate{lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday};
}

// The reader follows the platform's rules: section and key names compare
// ASCII case-insensitively and are trimmed, lines starting with ';' are
// ignored, the first matching key of the first matching section wins, the
// value is trimmed and loses one pair of matching surrounding quotes.
AnsiString GetProfileString(const AnsiString& fileName, const AnsiString& section,
                            const AnsiString& key, const AnsiString& def) {
    std::ifstream in(AnsiToUtf8(fileName), std::ios::binary);
    if (!in) return def;
    std::string wantSection = Trim(section), wantKey = Trim(key);
    bool inSection = false;
    bool sectionSeen = false;
    std::string line;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';') continue;
        if (t[0] == '[') {
            size_t close = t.find(']');
            std::string name =
                Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            if (sectionSeen && inSection) return def;  // the first matching section only
            inSection = SameAsciiNoCase(name, wantSection);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection) continue;
        size_t eq = t.find('=');
        std::string name = Trim(eq == std::string::npos ? t : t.substr(0, eq));
        if (!SameAsciiNoCase(name, wantKey)) continue;
        std::string value = eq == std::string::npos ? std::string() : Trim(t.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return def;
}

namespace internal {

int DefaultMessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags) {
    std::fprintf(stderr, "%s: %s\n", AnsiToUtf8(caption).c_str(), AnsiToUtf8(text).c_str());
    return idOk;
}

void DefaultProcessMessages() {}

void DefaultBusyCursor(bool) {}

}  // namespace internal

}  // namespace nuva
