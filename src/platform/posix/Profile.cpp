// Profile (INI) strings on POSIX: a small reader with the rules that
// GetPrivateProfileStringA follows on Windows, found by trying them there.
//
// - A section starts at a line "[name]"; the name runs to the last ']' of the
//   line and is trimmed. A line that opens with '[' but has no ']' is
//   skipped and leaves the current section as it is.
// - Only the first section of a name counts; a later one of the same name is
//   never read. Within it the first line whose key matches wins, even when
//   that line has no '=' (then the default comes back).
// - Section and key names compare case-insensitively in ASCII only, trimmed.
// - A value is trimmed, then loses one pair of surrounding quotes when its
//   first and last bytes are the same quote (" or ').
// - A line starting with ';' is not special: its key keeps the ';', so it
//   never answers for a key without one.
// - The default loses its trailing spaces (but never its first byte) and then
//   one pair of surrounding quotes, like a value.
//
// Trimming here removes the blanks of the C locale (tab, line feed, vertical
// tab, form feed, carriage return, space), the ones the Windows reader
// removes; other control bytes stay. GBK text passes through untouched: none
// of these bytes can be a trail byte except ']', which the double-byte-aware
// search steps over.
#include <fstream>

#include "platform/Platform.h"

namespace nuva {

namespace {

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string StripQuotes(const std::string& s) {
    if (s.size() >= 2 && (s[0] == '"' || s[0] == '\'') && s.back() == s[0])
        return s.substr(1, s.size() - 2);
    return s;
}

AnsiString Default(const AnsiString& def) {
    size_t e = def.size();
    while (e > 1 && def[e - 1] == ' ') --e;
    return StripQuotes(def.substr(0, e));
}

bool SameAsciiNoCase(const std::string& a, const std::string& b) {
    return AnsiUpperCaseAscii(a) == AnsiUpperCaseAscii(b);
}

}  // namespace

AnsiString GetProfileString(const AnsiString& fileName, const AnsiString& section,
                            const AnsiString& key, const AnsiString& def) {
    std::ifstream in(AnsiToUtf8(fileName), std::ios::binary);
    if (!in) return Default(def);
    const std::string wantSection = Trim(section), wantKey = Trim(key);
    bool inSection = false;
    std::string line;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.empty()) continue;
        if (t[0] == '[') {
            size_t close = LastDelimiter("]", t);
            if (close == std::string::npos) continue;
            if (inSection) break;  // the first section of the name only
            inSection = SameAsciiNoCase(Trim(t.substr(1, close - 1)), wantSection);
            continue;
        }
        if (!inSection) continue;
        size_t eq = t.find('=');
        if (!SameAsciiNoCase(Trim(t.substr(0, eq)), wantKey)) continue;
        if (eq == std::string::npos) break;  // the key without a value
        return StripQuotes(Trim(t.substr(eq + 1)));
    }
    return Default(def);
}

}  // namespace nuva
