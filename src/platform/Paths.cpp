// Path helpers shared by both platforms. Each scan walks the string from the
// start so that it knows which bytes are trail bytes of double-byte
// characters: in GBK a trail byte may be '\' (0x5C) or '|' (0x7C).
#include "platform/Platform.h"

namespace nuva {

namespace {

// Calls `visit(index)` for the first byte of every character of `s`.
template <typename Visit>
void ForEachCharStart(const AnsiString& s, Visit visit) {
    for (size_t i = 0; i < s.size(); ++i) {
        visit(i);
        if (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ++i;
    }
}

AnsiString PathDelimiters() {
    AnsiString chars(1, PathDelim);
    if (HasDriveColons) chars += ':';
    return chars;
}

}  // namespace

bool IsPathDelimiter(const AnsiString& s, size_t index) {
    if (index >= s.size() || s[index] != PathDelim) return false;
    bool isCharStart = false;
    ForEachCharStart(s, [&](size_t i) {
        if (i == index) isCharStart = true;
    });
    return isCharStart;
}

size_t LastDelimiter(const AnsiString& chars, const AnsiString& s) {
    size_t found = AnsiString::npos;
    ForEachCharStart(s, [&](size_t i) {
        for (char c : chars)
            if (s[i] == c) found = i;
    });
    return found;
}

AnsiString ExtractFileName(const AnsiString& path) {
    size_t p = LastDelimiter(PathDelimiters(), path);
    return p == AnsiString::npos ? path : path.substr(p + 1);
}

AnsiString ExtractFilePath(const AnsiString& path) {
    size_t p = LastDelimiter(PathDelimiters(), path);
    return p == AnsiString::npos ? AnsiString() : path.substr(0, p + 1);
}

AnsiString IncludeTrailingPathDelimiter(const AnsiString& path) {
    if (path.empty() || IsPathDelimiter(path, path.size() - 1)) return path;
    return path + PathDelim;
}

AnsiString ExcludeTrailingPathDelimiter(const AnsiString& path) {
    if (!path.empty() && IsPathDelimiter(path, path.size() - 1))
        return path.substr(0, path.size() - 1);
    return path;
}

AnsiString ExtractFileExt(const AnsiString& path) {
    AnsiString chars = PathDelimiters() + '.';
    size_t p = LastDelimiter(chars, path);
    if (p == AnsiString::npos || path[p] != '.') return AnsiString();
    return path.substr(p);
}

AnsiString AnsiUpperCaseAscii(const AnsiString& s) {
    AnsiString r = s;
    ForEachCharStart(r, [&](size_t i) {
        if (r[i] >= 'a' && r[i] <= 'z') r[i] = static_cast<char>(r[i] - 'a' + 'A');
    });
    return r;
}

AnsiString AnsiLowerCaseAscii(const AnsiString& s) {
    AnsiString r = s;
    ForEachCharStart(r, [&](size_t i) {
        if (r[i] >= 'A' && r[i] <= 'Z') r[i] = static_cast<char>(r[i] - 'A' + 'a');
    });
    return r;
}

}  // namespace nuva
