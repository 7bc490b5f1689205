#include "util/util.h"

#include <limits>

#include "platform/Platform.h"

namespace nuva {

namespace {

constexpr size_t kPadSourceLimit = 255;  // bytes of the text that PadRight looks at

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

}  // namespace

AnsiString Trim(const AnsiString& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsTrimmed(text[first])) ++first;
    while (last > first && IsTrimmed(text[last - 1])) --last;
    return text.substr(first, last - first);
}

bool TextToBool(const AnsiString& text) {
    const AnsiString t = Trim(text);
    return t == "1" || AnsiUpperCaseAscii(t) == "TRUE";
}

AnsiString BoolToText(bool value, bool useDigits) {
    if (useDigits) return value ? "1" : "0";
    return value ? "true" : "false";
}

AnsiString PadRight(const AnsiString& text, int width, char padChar) {
    if (width <= 0) return AnsiString();
    AnsiString t = Trim(text.substr(0, kPadSourceLimit));
    const size_t w = static_cast<size_t>(width);
    if (t.size() < w) t.append(w - t.size(), padChar);
    return t.substr(0, w);
}

bool IsReservedDeviceName(const AnsiString& fileName) {
    AnsiString base = fileName.substr(0, fileName.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    base = AnsiUpperCaseAscii(base);
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

AnsiString NormalizeDir(const AnsiString& path) {
    AnsiString dir = Trim(path);
    if (dir.empty()) dir = ExeDirectory();
    // A trail byte 0x5C at the end is half of a character, not a delimiter.
    dir = IncludeTrailingPathDelimiter(dir);
    ForceDirectories(dir);
    return dir;
}

void ListDirectory(const AnsiString& path, std::unique_ptr<TStringList>& list) {
    if (!list) list = std::make_unique<TStringList>();
    const AnsiString trimmed = Trim(path);
    if (!DirectoryExists(trimmed)) {
        list->Add(trimmed);
        return;
    }
    const AnsiString dir = IncludeTrailingPathDelimiter(trimmed);
    for (const TDirEntry& entry : ListDirectoryEntries(dir))
        if (!(entry.attributes & faDirectory)) list->Add(dir + entry.name);
}

namespace detail {

AnsiString ReadWholeStream(TStream& stream) {
    stream.SetPosition(0);
    const int64_t size = stream.Size();
    if (size < 0 || static_cast<uint64_t>(size) > std::numeric_limits<size_t>::max() / 2)
        throw EReadError();
    AnsiString text(static_cast<size_t>(size), '\0');
    stream.ReadBuffer(&text[0], size);
    return text;
}

void SaveFileTextVia(const AnsiString& text, const AnsiString& fileName,
                     const TCreateStream& create) {
    std::unique_ptr<TStream> stream = create(fileName);
    try {
        stream->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    } catch (...) {
        // Close first: Windows deletes no open file.
        stream.reset();
        DeleteFile(fileName);
        throw;
    }
}

}  // namespace detail

AnsiString LoadFileText(const AnsiString& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareExclusive);
    return detail::ReadWholeStream(stream);
}

void SaveFileText(const AnsiString& text, const AnsiString& fileName) {
    detail::SaveFileTextVia(text, fileName, [](const AnsiString& name) {
        return std::make_unique<TFileStream>(name, fmCreate);
    });
}

bool IsSafeName(const AnsiString& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (IsLeadByte(c)) {
            if (i + 1 == name.size()) return false;  // half a character at the end
            // Only a trail byte of the code page (GBK: 0x40-0xFE but 0x7F)
            // completes the character: "/", ".." or a control byte after a
            // lone lead byte must not hide behind it.
            const unsigned char trail = static_cast<unsigned char>(name[++i]);
            if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
            continue;
        }
        if (c < 0x20 || c == '\\' || c == '/' || c == ':') return false;
    }
    return !IsReservedDeviceName(name);
}

}  // namespace nuva
