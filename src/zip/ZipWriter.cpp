// The writer puts every record through one buffered output (65536 bytes). Per
// file: the local header with provisional values, the data (stored in 32768
// byte chunks or deflated), then a seek back to write the local header again
// with the final CRC, sizes, method and flags. Record layouts: ZipFormat.cpp.
#include "zip/ZipWriter.h"

#include <algorithm>
#include <cstring>

#include "util/util.h"
#include "zip/Crc32.h"
#include "zip/ZipErrors.h"
#include "zip/codec/Deflate.h"

namespace nuva {

namespace {

constexpr int64_t kFileBufferSize = 65536;  // bytes, the streams of packed files
constexpr int64_t kArchiveBufferSize = 65536;  // bytes, the archive written
constexpr int64_t kCopyChunk = 32768;       // bytes per stored or copied chunk
constexpr int64_t kMaxOffset = 0xFFFFFFFF;  // the 32-bit offset fields
constexpr size_t kMaxNameBytes = 0xFFFF;    // the 16-bit name length field
constexpr int kMaxLevel = 9;
constexpr uint32_t kDescriptorSignature = 0x08074B50;
constexpr int64_t kDescriptorWithSignature = 16;  // bytes
constexpr int64_t kDescriptorBare = 12;           // bytes
constexpr char kTempPrefix[] = "TMZ";
constexpr int64_t kStageLimit = 256 * 1024;  // bytes of an entry finished in memory

void PutLe16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

void PutLe32(std::string& s, uint32_t v) {
    PutLe16(s, v & 0xFFFF);
    PutLe16(s, v >> 16);
}

// The run of fields that the local and the central header share, from
// "version needed to extract" through the file name length.
void PutSharedFields(std::string& h, const TZipHeaderInfo& info, size_t nameLength) {
    PutLe16(h, info.versionNeeded);
    PutLe16(h, info.flags);
    PutLe16(h, info.method);
    PutLe32(h, info.dosDateTime);
    PutLe32(h, info.crc32);
    PutLe32(h, info.compressedSize);
    PutLe32(h, info.uncompressedSize);
    PutLe16(h, static_cast<uint32_t>(nameLength));
}

// Steps over a double-byte character: returns the index of its last byte.
size_t CharEnd(const AnsiString& s, size_t i) {
    return IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? i + 1 : i;
}

bool HasWildcard(const AnsiString& line) {
    for (size_t i = 0; i < line.size(); i = CharEnd(line, i) + 1) {
        if (CharEnd(line, i) != i) continue;
        if (std::strchr("*?<>|", line[i]) != nullptr && line[i] != '\0') return true;
    }
    return false;
}

// True when the last character is a single-byte '\' or path delimiter.
bool EndsInDelimiter(const AnsiString& line) {
    bool last = false;
    for (size_t i = 0; i < line.size(); i = CharEnd(line, i) + 1)
        last = CharEnd(line, i) == i && (line[i] == '\\' || line[i] == PathDelim);
    return last;
}

// '\' (outside double-byte characters) as '/'.
AnsiString ForwardSlashes(const AnsiString& s) {
    AnsiString r = s;
    for (size_t i = 0; i < r.size(); i = CharEnd(r, i) + 1)
        if (CharEnd(r, i) == i && r[i] == '\\') r[i] = '/';
    return r;
}

}  // namespace

// The read routine: pulls source bytes, keeps the running CRC and counts the
// bytes actually read.
class TZipWriter::TSourceInput : public TCodecInput {
  public:
    explicit TSourceInput(TStream& source) : source_(source) {}
    size_t Read(uint8_t* dest, size_t capacity) override {
        if (ended_) return 0;
        const int64_t got = source_.Read(dest, static_cast<int64_t>(capacity));
        // The buffered stream delivers less than asked only at the end.
        ended_ = got < static_cast<int64_t>(capacity);
        if (got <= 0) return 0;
        crc_ = Crc32Update(crc_, dest, static_cast<size_t>(got));
        bytes_ += got;
        return static_cast<size_t>(got);
    }
    uint32_t Crc() const { return ~crc_; }
    int64_t Bytes() const { return bytes_; }

  private:
    TStream& source_;
    bool ended_ = false;
    uint32_t crc_ = kCrc32Preset;
    int64_t bytes_ = 0;
};

// The write routine as the compressor sees it.
class TZipWriter::TArchiveOutput : public TCodecOutput {
  public:
    explicit TArchiveOutput(TZipWriter& writer) : writer_(writer) {}
    void Write(const uint8_t* data, size_t count) override {
        writer_.WriteArchive(data, static_cast<int64_t>(count));
        bytes_ += static_cast<int64_t>(count);
    }
    int64_t Bytes() const { return bytes_; }

  private:
    TZipWriter& writer_;
    int64_t bytes_ = 0;
};

TZipWriter::TZipWriter() = default;
TZipWriter::~TZipWriter() = default;

void TZipWriter::SetZipName(const AnsiString& name) {
    if (AnsiLowerCaseAscii(name) == AnsiLowerCaseAscii(ZipName())) return;
    TZipReader::SetZipName(name);
}

AnsiString TZipWriter::StoredName(const AnsiString& path, bool storePaths, bool oemConvert) {
    // Characters without an OEM form become what the platform makes of them.
    const AnsiString p = oemConvert ? OemToAnsi(AnsiToOem(path)) : path;
    AnsiString name;
    if (!storePaths) {
        name = ExtractFileName(p);
    } else {
        size_t start = HasDriveColons && p.size() >= 2 && p[1] == ':' ? 2 : 0;
        while (start < p.size() && (p[start] == '\\' || p[start] == '/')) ++start;
        name = p.substr(start);
    }
    name = ForwardSlashes(name);
    return oemConvert ? AnsiToOem(name) : name;
}

AnsiString TZipWriter::NameKey(const AnsiString& storedName) {
    return AnsiLowerCaseAscii(storedName);
}

std::unique_ptr<TFileStream> TZipWriter::CreateArchiveFile(const AnsiString& path) {
    return std::make_unique<TFileStream>(path, fmCreate);
}

bool TZipWriter::RenameArchive(const AnsiString& from, const AnsiString& to) {
    return MoveFileReplace(from, to);
}

bool TZipWriter::CopyArchive(const AnsiString& from, const AnsiString& to) {
    try {
        TFileStream source(from, fmOpenRead | fmShareDenyWrite);
        TFileStream target(to, fmCreate);
        std::vector<uint8_t> chunk(static_cast<size_t>(kCopyChunk));
        for (;;) {
            const int64_t got = source.Read(chunk.data(), kCopyChunk);
            if (got <= 0) return true;
            if (target.Write(chunk.data(), got) != got) return false;
        }
    } catch (const Exception&) {
        return false;
    }
}

void TZipWriter::WriteArchive(const void* data, int64_t count) {
    if (staging_ && static_cast<int64_t>(stage_.size()) + count > kStageLimit) {
        // Too large to finish in memory: the entry goes out as it comes and
        // its local header is written again at the end.
        staging_ = false;
        if (out_->Write(stage_.data(), static_cast<int64_t>(stage_.size())) !=
            static_cast<int64_t>(stage_.size()))
            throw ENotEnoughRoom();
    }
    if (staging_) {
        stage_.append(static_cast<const char*>(data), static_cast<size_t>(count));
    } else if (out_->Write(data, count) != count) {
        throw ENotEnoughRoom();
    }
    position_ += count;
    Checkpoint();
}

void TZipWriter::SeekArchive(int64_t position) {
    FlushArchive();
    if (out_->Seek(position, soBeginning) != position) throw ENotEnoughRoom();
    position_ = position;
}

void TZipWriter::FlushArchive() {
    if (!out_->Flush()) throw ENotEnoughRoom();
}

std::string TZipWriter::LocalHeaderBytes(const TZipHeaderInfo& info, const AnsiString& storedName) {
    std::string h;
    h.reserve(static_cast<size_t>(kLocalHeaderSize) + storedName.size());
    PutLe32(h, kLocalHeaderSignature);
    PutSharedFields(h, info, storedName.size());
    PutLe16(h, info.localExtraLength);
    h += storedName;
    return h;
}

void TZipWriter::WriteLocalHeader(const TZipHeaderInfo& info, const AnsiString& storedName) {
    const std::string h = LocalHeaderBytes(info, storedName);
    WriteArchive(h.data(), static_cast<int64_t>(h.size()));
}

void TZipWriter::CleanFileList() {
    TStringList kept;
    for (const AnsiString& line : FilesList) {
        if (line.empty() || EndsInDelimiter(line) || HasWildcard(line)) continue;
        AnsiString path = line;
        if (ExtractFilePath(path).empty() && !RootDir.empty())
            path = IncludeTrailingPathDelimiter(RootDir) + path;
        // A line naming no file stays: packing finds that out with the
        // attribute query it needs anyway, and skips the line the same way.
        kept.Add(path);
    }
    FilesList = kept;
}

int TZipWriter::Zip() {
    if (Trim(ZipName()).empty()) {
        FilesList.Clear();
        return 0;
    }
    ResetCancel();
    written_.clear();
    names_.clear();
    CleanFileList();

    const AnsiString target = ZipName();
    const bool update = FileExists(target);
    AnsiString outName = target;
    if (update) {
        const AnsiString dir = !TempPath.empty() && DirectoryExists(TempPath) ? TempPath : "";
        outName = CreateUniqueTempFile(dir, kTempPrefix);
        if (outName.empty())
            throw EFCreateError(
                (dir.empty() ? TempDirectory() : IncludeTrailingPathDelimiter(dir)) + kTempPrefix,
                LastErrorText());
    }

    int count = 0;
    try {
        file_ = CreateArchiveFile(outName);
        out_ = std::make_unique<TBufferStream>(*file_, kArchiveBufferSize);
        position_ = 0;
        staging_ = false;
        written_.reserve(static_cast<size_t>(FilesList.Count()));
        if (update) count += UpdatePass(target);
        if (Threads > 1 && FilesList.Count() > 1) {
            count += PackWithWorkers();
        } else {
            for (const AnsiString& path : FilesList)
                if (PackFile(path)) ++count;
        }
        WriteCentralDirectory();
        FlushArchive();
        // A skipped last entry may have left bytes past the end record.
        file_->Truncate();
        out_.reset();
        file_.reset();
    } catch (...) {
        out_.reset();
        file_.reset();
        deflater_.reset();
        DeleteFile(outName);
        written_.clear();
        names_.clear();
        FilesList.Clear();
        throw;
    }
    deflater_.reset();
    written_.clear();
    names_.clear();
    FilesList.Clear();
    if (update) ReplaceArchive(outName);
    return count;
}

int TZipWriter::UpdatePass(const AnsiString& oldName) {
    ReadZip();
    const std::vector<TZipHeaderInfo> old = Entries();  // in physical order
    TBufferedFileStream in(oldName, kArchiveBufferSize, false, fmOpenRead | fmShareDenyWrite);

    std::vector<AnsiString> keys;
    for (const AnsiString& path : FilesList)
        keys.push_back(NameKey(StoredName(path, StorePaths, OEMConvert)));
    std::vector<bool> used(keys.size(), false);

    int packed = 0;
    for (const TZipHeaderInfo& entry : old) {
        if (entry.keepState == 2) continue;
        AnsiString stored = ForwardSlashes(entry.Directory() + entry.FileName());
        if (OEMConvert && entry.HostByte() == kHostMsDos) stored = AnsiToOem(stored);
        const AnsiString key = NameKey(stored);
        size_t match = 0;
        while (match < keys.size() && (used[match] || keys[match] != key)) ++match;
        if (match < keys.size()) {
            used[match] = true;
            const int32_t age = FileAgeDos(FilesList[static_cast<int>(match)]);
            if (age >= 0 && static_cast<uint32_t>(age) > SanitizeDosDateTime(entry.dosDateTime)) {
                // Packed anew in the old entry's place; the old entry goes
                // even when the file cannot be packed.
                if (PackFile(FilesList[static_cast<int>(match)])) ++packed;
                continue;
            }
        }
        CarryOver(in, entry);
    }

    TStringList left;
    for (size_t i = 0; i < keys.size(); ++i)
        if (!used[i]) left.Add(FilesList[static_cast<int>(i)]);
    FilesList = left;
    return packed;
}

bool TZipWriter::CarryOver(TBufferStream& in, const TZipHeaderInfo& entry) {
    if (static_cast<int64_t>(written_.size()) >= maxEntries_) return false;
    TWritten w;
    w.info = entry;
    w.info.centralExtraLength = 0;
    w.info.fileCommentLength = 0;

    // The old central header, when the entry was read from one: its name,
    // date, extra field and comment travel unchanged.
    uint8_t c[kCentralHeaderSize];
    const bool central =
        in.Seek(entry.centralHeaderOffset, soBeginning) == entry.centralHeaderOffset &&
        in.Read(c, kCentralHeaderSize) == kCentralHeaderSize &&
        GetLe32(c) == kCentralHeaderSignature && GetLe32(c + 42) == entry.localHeaderOffset;
    if (central) {
        const uint16_t nameLength = GetLe16(c + 28);
        w.info.centralExtraLength = GetLe16(c + 30);
        w.info.fileCommentLength = GetLe16(c + 32);
        w.info.dosDateTime = GetLe32(c + 12);
        w.storedName.resize(nameLength);
        w.centralTail.resize(static_cast<size_t>(w.info.centralExtraLength) +
                             w.info.fileCommentLength);
        if (in.Read(w.storedName.data(), nameLength) != nameLength ||
            in.Read(w.centralTail.data(), static_cast<int64_t>(w.centralTail.size())) !=
                static_cast<int64_t>(w.centralTail.size()))
            throw EFatalUnzipError();
    }

    // The old local header gives the name (without a central header) and
    // the extra field that goes before the data.
    uint8_t l[kLocalHeaderSize];
    if (in.Seek(entry.localHeaderOffset, soBeginning) != entry.localHeaderOffset ||
        in.Read(l, kLocalHeaderSize) != kLocalHeaderSize)
        throw EFatalUnzipError();
    std::string localName(GetLe16(l + 26), '\0');
    std::string localExtra(GetLe16(l + 28), '\0');
    if (in.Read(localName.data(), static_cast<int64_t>(localName.size())) !=
            static_cast<int64_t>(localName.size()) ||
        in.Read(localExtra.data(), static_cast<int64_t>(localExtra.size())) !=
            static_cast<int64_t>(localExtra.size()))
        throw EFatalUnzipError();
    if (!central) w.storedName = localName;

    const int64_t start = position_;
    w.info.localHeaderOffset = static_cast<uint32_t>(start);
    w.info.diskNumberStart = 0;
    w.info.localExtraLength = static_cast<uint16_t>(localExtra.size());
    WriteLocalHeader(w.info, w.storedName);
    WriteArchive(localExtra.data(), static_cast<int64_t>(localExtra.size()));

    // The data, and its descriptor when the old entry had one.
    int64_t left = entry.compressedSize;
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min(left, kCopyChunk)) +
                               kDescriptorWithSignature);
    while (left > 0) {
        const int64_t n = std::min(left, kCopyChunk);
        if (in.Read(chunk.data(), n) != n) throw EFatalUnzipError();
        WriteArchive(chunk.data(), n);
        left -= n;
    }
    if (entry.flags & kFlagDataDescriptor) {
        int64_t got = in.Read(chunk.data(), kDescriptorWithSignature);
        const int64_t size = got >= 4 && GetLe32(chunk.data()) == kDescriptorSignature
                                 ? kDescriptorWithSignature
                                 : kDescriptorBare;
        if (got < size) throw EFatalUnzipError();
        WriteArchive(chunk.data(), size);
    }
    if (position_ > kMaxOffset) {
        SeekArchive(start);  // the next record overwrites this one
        return false;
    }
    AnsiString stored = ForwardSlashes(entry.Directory() + entry.FileName());
    if (OEMConvert && entry.HostByte() == kHostMsDos) stored = AnsiToOem(stored);
    names_.insert(NameKey(stored));
    written_.push_back(std::move(w));
    return true;
}

void TZipWriter::CodeEntry(TCodecInput& input, TCodecOutput& output, int level,
                           std::unique_ptr<TDeflater>& deflater, uint16_t& method,
                           uint16_t& flags, uint16_t& internalAttributes) {
    if (level <= 0) {
        std::vector<uint8_t> chunk(static_cast<size_t>(kCopyChunk));
        size_t n;
        while ((n = input.Read(chunk.data(), chunk.size())) != 0) output.Write(chunk.data(), n);
        method = kMethodStored;
        internalAttributes = 0;
        return;
    }
    if (!deflater) deflater = std::make_unique<TDeflater>();
    TDeflateEntry entry;
    deflater->Run(input, output, std::min(level, kMaxLevel), entry);
    method = entry.method;
    flags = entry.flags;
    internalAttributes = entry.internalAttributes;
}

bool TZipWriter::PackFile(const AnsiString& path) {
    if (static_cast<int64_t>(written_.size()) >= maxEntries_) return false;
    std::unique_ptr<TBufferedFileStream> source;
    try {
        source = std::make_unique<TBufferedFileStream>(path, kFileBufferSize, false,
                                                       fmOpenRead | fmShareDenyNone);
    } catch (const Exception&) {
        return false;  // missing, a directory or not readable: skipped
    }
    // Time and attributes from the open handle: one query per file.
    int32_t dosTime = 0, attributes = 0;
    if (!source->File().GetTimeAndAttributes(dosTime, attributes) || (attributes & faDirectory))
        return false;
    TWritten w;
    TZipHeaderInfo& info = w.info;
    info.oemConvert = OEMConvert;
    info.externalAttributes = static_cast<uint32_t>(attributes);
    info.dosDateTime = static_cast<uint32_t>(dosTime);
    w.storedName = StoredName(path, StorePaths, OEMConvert);
    if (w.storedName.empty() || w.storedName.size() > kMaxNameBytes) return false;
    const AnsiString key = NameKey(w.storedName);
    if (names_.count(key) != 0) return false;  // of two equal names the first is packed
    bool placed = false;
    if (Ahead && PlaceAhead(path, *source, dosTime, attributes, placed)) return placed;

    const int64_t start = position_;
    if (start > kMaxOffset) return false;
    info.localHeaderOffset = static_cast<uint32_t>(start);
    info.internalAttributes = 2;  // not yet known
    info.diskNumberStart = 0;
    info.fileNameLength = static_cast<uint16_t>(w.storedName.size());
    // The entry is gathered in memory while it is small, so that its local
    // header can be completed there; a larger one streams out and its header
    // is written again afterwards.
    stage_.clear();
    staging_ = true;
    WriteLocalHeader(info, w.storedName);

    TSourceInput input(*source);
    TArchiveOutput output(*this);
    CodeEntry(input, output, PackLevel, deflater_, info.method, info.flags, info.internalAttributes);
    const int64_t end = position_;
    const bool staged = staging_;
    staging_ = false;
    if (input.Bytes() > maxEntryBytes_ || output.Bytes() > maxEntryBytes_ || end > kMaxOffset) {
        if (staged)
            position_ = start;  // nothing of it reached the archive
        else
            SeekArchive(start);  // the next record overwrites this one
        return false;
    }
    info.crc32 = input.Crc();
    info.compressedSize = static_cast<uint32_t>(output.Bytes());
    info.uncompressedSize = static_cast<uint32_t>(input.Bytes());
    if (info.method != kMethodDeflated) info.method = kMethodStored;

    if (staged) {
        // The same header, now final, in front of the gathered data.
        std::string header = LocalHeaderBytes(info, w.storedName);
        std::memcpy(&stage_[0], header.data(), header.size());
        if (out_->Write(stage_.data(), static_cast<int64_t>(stage_.size())) !=
            static_cast<int64_t>(stage_.size()))
            throw ENotEnoughRoom();
    } else {
        SeekArchive(start);
        WriteLocalHeader(info, w.storedName);
        SeekArchive(end);
    }
    names_.insert(key);
    written_.push_back(std::move(w));
    return true;
}

void TZipWriter::WriteCentralDirectory() {
    const int64_t start = position_;
    std::string h;
    for (const TWritten& w : written_) {
        const TZipHeaderInfo& i = w.info;
        h.clear();
        PutLe32(h, kCentralHeaderSignature);
        PutLe16(h, i.versionMadeBy);
        PutSharedFields(h, i, w.storedName.size());
        PutLe16(h, i.centralExtraLength);
        PutLe16(h, i.fileCommentLength);
        PutLe16(h, 0);  // disk number start
        PutLe16(h, i.internalAttributes);
        PutLe32(h, i.externalAttributes);
        PutLe32(h, i.localHeaderOffset);
        h += w.storedName;
        h += w.centralTail;
        WriteArchive(h.data(), static_cast<int64_t>(h.size()));
    }
    const int64_t end = position_;
    const uint32_t entries = static_cast<uint32_t>(written_.size());
    h.clear();
    PutLe32(h, kEndCentralSignature);
    PutLe16(h, 0);  // this disk
    PutLe16(h, 0);  // disk of the central directory
    PutLe16(h, entries);
    PutLe16(h, entries);
    PutLe32(h, static_cast<uint32_t>(end - start));
    PutLe32(h, static_cast<uint32_t>(start));
    PutLe16(h, 0);  // no comment
    WriteArchive(h.data(), static_cast<int64_t>(h.size()));
}

void TZipWriter::ReplaceArchive(const AnsiString& temp) {
    const AnsiString target = ZipName();
    if (RenameArchive(temp, target)) return;
    if (CopyArchive(temp, target)) {
        DeleteFile(temp);
        return;
    }
    // Both archives must survive: the old one (or what is left of it) and
    // the temporary file with the new content.
    const AnsiString text = msg::kCouldNotCopy + temp + msg::kCopyArrow + target;
    ShowMessageBox(text, msg::kErrorCaption, mbOk);
    throw EArchiveNotReplaced(temp, target);
}

}  // namespace nuva
