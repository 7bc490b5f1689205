// The reader walks the archive through one buffered stream. Positions are
// 64-bit; every size and offset taken from the archive is an unsigned 32-bit
// value, and every read is bounded by the archive's size before it is made.
// Record layouts: ZipFormat.cpp.
#include "zip/ZipReader.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "util/util.h"
#include "zip/Crc32.h"
#include "zip/ExtractSink.h"
#include "zip/ZipErrors.h"
#include "zip/codec/CodecIO.h"

#include "zip/codec/Explode.h"
#include "zip/codec/Inflate.h"
#include "zip/codec/UnReduce.h"
#include "zip/codec/UnShrink.h"

namespace nuva {

namespace {

constexpr int64_t kArchiveBufferSize = 65536;  // bytes: an archive of small entries in few reads
constexpr int64_t kFileBufferSize = 65536;     // bytes, output files: few system calls
constexpr int64_t kChunkSize = 32768;          // bytes of compressed data per read
constexpr int64_t kScanPumpInterval = 10240;   // bytes scanned between message pumps
constexpr int64_t kExeStubSkip = 14000;        // bytes of a self-extractor stub
constexpr uint32_t kKeptAttributes = 0x27;     // read-only, hidden, system, archive
constexpr size_t kMaxEntries = 65535;          // entries an archive directory can count

}  // namespace

bool IsExtractableName(const AnsiString& directory, const AnsiString& fileName) {
    const AnsiString full = directory + fileName;
    for (unsigned char c : full)
        if (c < 0x20 || c == 0x7F || c == ':') return false;
    if (!full.empty() && full[0] == '\\') return false;
    // Components between backslashes; a GBK trail byte 0x5C may split a
    // character here, but never so that a lone ".." appears.
    size_t start = 0;
    while (start <= full.size()) {
        size_t stop = full.find('\\', start);
        if (stop == AnsiString::npos) stop = full.size();
        if (full.compare(start, stop - start, "..") == 0 && stop - start == 2) return false;
        start = stop + 1;
    }
    if (fileName.find_first_not_of(". ") == AnsiString::npos) return false;
    return !IsReservedDeviceName(fileName);
}

bool ZipMethodSupported(uint16_t method) {
    switch (method) {
        case kMethodStored:
        case kMethodShrunk:
        case 2:
        case 3:
        case 4:
        case 5:
        case kMethodImploded:
        case kMethodDeflated:
            return true;
        default:
            return false;
    }
}

// --- The codec stages over the archive and the output file -------------------

// Serves an entry's compressed bytes from a buffer refilled from the archive
// with at most 32768 bytes at a time; the end of input is the end of the
// entry's compressed size.
class TEntryInput : public TCodecInput {
  public:
    TEntryInput(TZipReader& reader, TStream& archive, int64_t compressedSize)
        : reader_(reader),
          archive_(archive),
          left_(compressedSize),
          // Sized for the entry and left uninitialised: most entries are small.
          buffer_(new uint8_t[static_cast<size_t>(
              std::clamp<int64_t>(compressedSize, 1, kChunkSize))]) {}

    size_t Read(uint8_t* dest, size_t capacity) override {
        if (pos_ == have_) {
            if (left_ == 0) return 0;
            reader_.Checkpoint();
            const int64_t want = std::min(kChunkSize, left_);
            if (archive_.Read(buffer_.get(), want) != want) throw EFatalUnzipError();
            left_ -= want;
            pos_ = 0;
            have_ = static_cast<size_t>(want);
        }
        const size_t n = std::min(capacity, have_ - pos_);
        std::memcpy(dest, buffer_.get() + pos_, n);
        pos_ += n;
        return n;
    }

  private:
    TZipReader& reader_;
    TStream& archive_;
    int64_t left_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t pos_ = 0;
    size_t have_ = 0;
};

// Checks each piece against the uncompressed size, writes it (and hands it
// to the sink) and keeps the running CRC.
class TEntryOutput : public TCodecOutput {
  public:
    TEntryOutput(TStream& file, int64_t uncompressedSize, TExtractSink* sink)
        : file_(file), limit_(uncompressedSize), sink_(sink) {}

    void Write(const uint8_t* data, size_t count) override {
        const int64_t n = static_cast<int64_t>(count);
        if (written_ + n > limit_) throw EBiggerThanUncompressed();
        if (file_.Write(data, n) != n) throw ECantWriteUCF();
        if (sink_) sink_->Add(data, count);
        crc_ = Crc32Update(crc_, data, count);
        written_ += n;
    }

    uint32_t Crc() const { return ~crc_; }
    int64_t Written() const { return written_; }

  private:
    TStream& file_;
    int64_t limit_;
    TExtractSink* sink_;
    int64_t written_ = 0;
    uint32_t crc_ = kCrc32Preset;
};

// One set of decoders serves every entry of an UnZip; each keeps its buffers
// between entries.
struct TZipReader::TDecoders {
    TInflater inflater;
    TUnShrinker unShrinker;
    TUnReducer unReducer;
    TExploder exploder;
};

namespace {

// Runs the decoder for `method`. Returns false when this build has none.
bool Decode(TZipReader::TDecoders& d, uint16_t method, const TZipHeaderInfo& entry, TCodecInput& in,
            TCodecOutput& out) {
    // The decoders' own results are not looked at: the entry is judged by
    // its size and CRC.
    switch (method) {
        case kMethodShrunk:
            d.unShrinker.Run(in, out);
            return true;
        case 2:
        case 3:
        case 4:
        case 5:
            d.unReducer.Run(in, out, method - kMethodReduced1 + 1, entry.uncompressedSize);
            return true;
        case kMethodImploded:
            d.exploder.Run(in, out, entry.flags, entry.compressedSize, entry.uncompressedSize);
            return true;
        case kMethodDeflated:
            d.inflater.Run(in, out);
            return true;
        default:
            (void)d;
            (void)entry;
            (void)in;
            (void)out;
            return false;
    }
}

}  // namespace

// --- TZipReader -------------------------------------------------------------

TZipReader::TZipReader() = default;
TZipReader::~TZipReader() = default;

void TZipReader::SetZipName(const AnsiString& name) {
    if (name == zipName_) return;
    CloseArchive();
    entries_.clear();
    end_ = TEndCentral();
    loaded_ = false;
    zipName_ = name;
}

void TZipReader::SetDestDir(const AnsiString& dir) {
    AnsiString d = dir;
    // Double-byte aware: a name that ends in a character whose trail byte is
    // 0x5C (誠) keeps it.
    while (!d.empty() && IsPathDelimiter(d, d.size() - 1)) d.pop_back();
    destDir_ = d;
}

int TZipReader::FileEntryCount() const {
    return static_cast<int>(
        std::count_if(entries_.begin(), entries_.end(),
                      [](const TZipHeaderInfo& e) { return !e.FileName().empty(); }));
}

void TZipReader::Checkpoint() {
    if (DoProcessMessages) ProcessMessages();
    if (cancel_) throw EUserCanceled();
}

void TZipReader::OpenArchive() {
    if (archive_) return;
    archive_ = std::make_unique<TBufferedFileStream>(zipName_, kArchiveBufferSize, false,
                                                     fmOpenRead | fmShareDenyWrite);
    archiveSize_ = archive_->Size();
}

void TZipReader::CloseArchive() {
    archive_.reset();
}

void TZipReader::ReadZip() {
    OpenArchive();
    try {
        TBusyCursorScope busy;
        ReadCentralDirectory();
    } catch (...) {
        entries_.clear();
        loaded_ = false;
        CloseArchive();
        throw;
    }
    CloseArchive();
}

void TZipReader::LoadDirectory() {
    OpenArchive();
    const int32_t now = archive_->File().GetDosTime();
    if (loaded_ && now == zipDosTime_) return;
    TBusyCursorScope busy;
    try {
        ReadCentralDirectory();
    } catch (...) {
        entries_.clear();
        loaded_ = false;
        throw;
    }
}

void TZipReader::ReadCentralDirectory() {
    zipDosTime_ = archive_->File().GetDosTime();
    entries_.clear();
    loaded_ = false;
    // A companion directory file of a multi-volume set is never consulted:
    // such sets are not part of this system.
    const bool found = FindEndCentral(*archive_, end_) && CheckEndCentral(end_);
    if (!found) {
        switch (IncompleteZipMode) {
            case TIncompleteZipMode::izAssumeNotAZip:
                throw ENotAZipFile();
            case TIncompleteZipMode::izAssumeMulti:
                throw EIncompleteZip();
            case TIncompleteZipMode::izAssumeBad:
                if (!RebuildFromLocalHeaders()) {
                    entries_.clear();
                    throw EBadZipFile();
                }
                MergeCentralHeaders(end_.centralOffset, end_.totalEntries);
                loaded_ = true;
                return;
        }
    }
    if (end_.totalEntries != 0 && !ReadCentralEntries(end_.totalEntries)) {
        if (!RebuildFromLocalHeaders()) {
            entries_.clear();
            throw EBadZipFile();
        }
        MergeCentralHeaders(end_.centralOffset, end_.totalEntries);
    }
    loaded_ = true;
}

namespace {

bool EntryOrder(const TZipHeaderInfo& a, const TZipHeaderInfo& b) {
    return std::make_pair(a.diskNumberStart, a.localHeaderOffset) <
           std::make_pair(b.diskNumberStart, b.localHeaderOffset);
}

}  // namespace

bool TZipReader::ReadCentralEntries(uint32_t count) {
    TBufferStream& in = *archive_;
    in.Seek(end_.centralOffset, soBeginning);
    std::set<std::pair<uint16_t, uint32_t>> taken;  // (disk, local header offset)
    std::vector<TZipHeaderInfo> read;
    read.reserve(std::min<uint32_t>(count, 4096));
    for (uint32_t i = 0; i < count; ++i) {
        TZipHeaderInfo entry;
        entry.oemConvert = OEMConvert;
        bool ok = ReadCentralHeader(in, entry);
        if (!ok && !read.empty() && read.back().centralExtraLength != 0) {
            // Accept a previous extra field length that claims missing bytes.
            in.Seek(-static_cast<int64_t>(read.back().centralExtraLength), soCurrent);
            read.back().centralExtraLength = 0;
            ok = ReadCentralHeader(in, entry);
        }
        if (!ok) return false;
        if (!taken.insert({entry.diskNumberStart, entry.localHeaderOffset}).second) return false;
        in.Seek(static_cast<int64_t>(entry.centralExtraLength) + entry.fileCommentLength,
                soCurrent);
        read.push_back(std::move(entry));
    }
    std::stable_sort(read.begin(), read.end(), EntryOrder);
    entries_ = std::move(read);
    return true;
}

bool TZipReader::RebuildFromLocalHeaders() {
    entries_.clear();
    TBufferStream& in = *archive_;
    const bool exe = AnsiUpperCaseAscii(ExtractFileExt(zipName_)) == ".EXE";
    int64_t pos = exe ? kExeStubSkip : 0;

    // Find the first local signature followed by a plausible version word.
    constexpr size_t kProbe = 6;  // signature and version word
    std::vector<uint8_t> block(static_cast<size_t>(kChunkSize));
    int64_t match = -1;
    int64_t sincePump = 0;
    while (match < 0 && pos + static_cast<int64_t>(kProbe) <= archiveSize_) {
        in.Seek(pos, soBeginning);
        const int64_t got = in.Read(block.data(), kChunkSize);
        if (got < static_cast<int64_t>(kProbe)) break;
        const int64_t last = got - static_cast<int64_t>(kProbe);
        for (int64_t i = 0; i <= last; ++i) {
            if (++sincePump == kScanPumpInterval) {
                sincePump = 0;
                Checkpoint();
            }
            const uint8_t* p = block.data() + i;
            if (p[0] == 0x50 && GetLe32(p) == kLocalHeaderSignature && p[5] < 10) {
                match = pos + i;
                break;
            }
        }
        pos += last + 1;  // the next block overlaps by the probe's length - 1
    }
    if (match < 0) return false;

    // Walk consecutive local headers; every step moves forward by at least
    // the header's 30 bytes.
    pos = match;
    // A damaged archive from outside may hold millions of tiny headers:
    // no more than a directory can count.
    while (pos + kLocalHeaderSize <= archiveSize_ && entries_.size() < kMaxEntries) {
        in.Seek(pos, soBeginning);
        TZipHeaderInfo entry;
        entry.oemConvert = OEMConvert;
        if (!ReadLocalHeader(in, entry)) break;
        const int64_t afterName = in.Position();
        int64_t next =
            afterName + entry.localExtraLength + static_cast<int64_t>(entry.compressedSize);
        if (entry.flags & kFlagDataDescriptor) next += kDataDescriptorSize;
        entries_.push_back(std::move(entry));
        pos = next;
    }
    end_.centralOffset = static_cast<uint32_t>(std::min<int64_t>(pos, 0xFFFFFFFF));
    end_.totalEntries = static_cast<uint16_t>(std::min<size_t>(entries_.size(), 0xFFFF));
    end_.thisDisk = 0;
    return true;
}

void TZipReader::MergeCentralHeaders(int64_t from, uint32_t count) {
    if (from >= archiveSize_) return;
    TBufferStream& in = *archive_;
    in.Seek(from, soBeginning);
    // The rebuilt entries by position: one lookup per central header instead
    // of a walk over all of them. The first entry at a position takes it.
    std::map<std::pair<uint16_t, uint32_t>, size_t> at;
    for (size_t i = 0; i < entries_.size(); ++i)
        at.emplace(std::make_pair(entries_[i].diskNumberStart, entries_[i].localHeaderOffset), i);
    for (uint32_t i = 0; i < count; ++i) {
        TZipHeaderInfo central;
        central.oemConvert = OEMConvert;
        if (!ReadCentralHeader(in, central)) return;
        in.Seek(static_cast<int64_t>(central.centralExtraLength) + central.fileCommentLength,
                soCurrent);
        auto found = at.find({central.diskNumberStart, central.localHeaderOffset});
        if (found == at.end()) continue;
        TZipHeaderInfo& e = entries_[found->second];
        const uint32_t keep = e.localHeaderOffset;
        e.AssignFrom(central);
        e.localHeaderOffset = keep;
    }
}

int TZipReader::UnZip() {
    busy_ = true;
    cancel_ = false;
    unknownMethodShown_ = false;
    extracted_.clear();
    extractedSet_.clear();
    filesExtracted_ = 0;
    struct TDone {
        TZipReader& r;
        ~TDone() {
            r.CloseArchive();
            r.busy_ = false;
        }
    } done{*this};
    try {
        LoadDirectory();
    } catch (const EIncompleteZip&) {
        // One more try with the archive reopened; now errors propagate.
        CloseArchive();
        LoadDirectory();
    }
    return ExtractAll();
}

int TZipReader::ExtractAll() {
    if (!destDir_.empty() && !DirectoryExists(destDir_)) ForceDirectories(destDir_);
    if (!DoAll || FileEntryCount() == 0) return 0;
    decoders_ = std::make_unique<TDecoders>();
    struct TFree {
        std::unique_ptr<TDecoders>& d;
        ~TFree() { d.reset(); }
    } freeDecoders{decoders_};
    if (Threads > 1 && entries_.size() > 1) return ExtractWithWorkers();
    int count = 0;
    for (size_t i = 0; i < entries_.size(); ++i)
        if (ExtractEntry(i)) ++count;
    return count;
}

bool TZipReader::TargetReplaceable(const TZipHeaderInfo& entry, const AnsiString& path) const {
    const int32_t attributes = GetFileAttributes(path);
    if (attributes < 0) return true;
    if ((attributes & faReadOnly) && !ReplaceReadOnly) return false;
    switch (OverwriteMode) {
        case TOverwriteMode::Always:
            return true;
        case TOverwriteMode::Prompt:  // no prompt is shown in this system
        case TOverwriteMode::Never:
            return false;
        case TOverwriteMode::ifNewer:
            return static_cast<uint32_t>(FileAgeDos(path)) < SanitizeDosDateTime(entry.dosDateTime);
        case TOverwriteMode::ifOlder:
            return static_cast<uint32_t>(FileAgeDos(path)) > SanitizeDosDateTime(entry.dosDateTime);
    }
    return false;
}

bool TZipReader::ExtractEntry(size_t index, TInflated* inflated) {
    const TZipHeaderInfo& entry = entries_[index];
    if (entry.FileName().empty()) return true;  // a directory: nothing to create
    if (!IsExtractableName(entry.Directory(), entry.FileName())) return false;
    if (entry.flags & kFlagEncrypted) return false;  // no password in this system

    // The local header decides where the data starts.
    TBufferStream& in = *archive_;
    const int64_t localOffset = entry.localHeaderOffset;
    uint8_t local[kLocalHeaderSize];
    if (localOffset + kLocalHeaderSize > archiveSize_ ||
        in.Seek(localOffset, soBeginning) != localOffset ||
        in.Read(local, kLocalHeaderSize) != kLocalHeaderSize)
        throw EFatalUnzipError();
    const int64_t dataStart =
        localOffset + kLocalHeaderSize + GetLe16(local + 26) + GetLe16(local + 28);
    const int64_t dataEnd = dataStart + static_cast<int64_t>(entry.compressedSize);

    // Data that runs into the next entry's local header overlaps it.
    for (size_t next = index + 1; next < entries_.size(); ++next) {
        if (entries_[next].diskNumberStart != entry.diskNumberStart) continue;
        if (dataEnd > static_cast<int64_t>(entries_[next].localHeaderOffset)) return false;
        break;
    }
    if (dataEnd > archiveSize_) throw EFatalUnzipError();

    if (!ZipMethodSupported(entry.method)) {
        // Once per archive: an archive of many such entries must not hold
        // the host in one modal box after another.
        if (!unknownMethodShown_) ShowMessageBox(msg::kUnknownMethod, msg::kZipErrorCaption, mbOk);
        unknownMethodShown_ = true;
        return false;
    }

    const AnsiString outPath =
        destDir_.empty() ? entry.FileName() : destDir_ + PathDelim + entry.FileName();
    if (!TargetReplaceable(entry, outPath)) return false;
    std::unique_ptr<TBufferedFileStream> out;
    try {
        out = std::make_unique<TBufferedFileStream>(outPath, kFileBufferSize, FlushFilesOnClose,
                                                    fmCreate);
    } catch (const Exception&) {
        return false;  // output not creatable: the entry is skipped
    }

    bool failed = false;  // decoding ended early: the entry does not count
    int64_t written = 0;
    uint32_t crc = 0;
    try {
        if (Sink) Sink->Begin(outPath);
        in.Seek(dataStart, soBeginning);
        TEntryInput input(*this, in, entry.compressedSize);
        TEntryOutput output(*out, entry.uncompressedSize, Sink);
        try {
            if (entry.method == kMethodStored) {
                uint8_t chunk[4096];
                size_t n;
                while ((n = input.Read(chunk, sizeof chunk)) != 0) output.Write(chunk, n);
            } else if (entry.method == kMethodDeflated) {
                // A failure inside the deflate stream (truncated input, a full
                // disk, too much output) ends the decoding quietly; the size
                // and CRC checks below then fail the entry.
                try {
                    if (inflated)
                        WriteInflated(*inflated, output);
                    else
                        Decode(*decoders_, entry.method, entry, input, output);
                } catch (const EUserCanceled&) {
                    throw;
                } catch (const Exception&) {
                    failed = true;
                }
            } else {
                Decode(*decoders_, entry.method, entry, input, output);
            }
        } catch (const EBiggerThanUncompressed&) {
            failed = true;
        }
        written = output.Written();
        crc = output.Crc();
        if (!out->Flush()) throw ECantWriteUCF();
        failed =
            failed || written != static_cast<int64_t>(entry.uncompressedSize) || crc != entry.crc32;
        // Every byte is in the file: its time can be set through the open
        // handle, which saves a second open by name.
        if (!failed) out->File().SetDosTime(SanitizeDosDateTime(entry.dosDateTime));
        if (!out->Close()) throw ECantWriteUCF();
    } catch (...) {
        if (Sink) Sink->End(false);
        out.reset();
        DeleteFile(outPath);
        throw;
    }
    out.reset();
    if (Sink) Sink->End(!failed);

    if (failed) {
        DeleteFile(outPath);
        if (extractedSet_.erase(outPath))
            extracted_.erase(std::remove(extracted_.begin(), extracted_.end(), outPath),
                             extracted_.end());
        return false;
    }
    // A new file already carries the archive bit alone: set only what differs.
    const uint32_t attributes = entry.externalAttributes & kKeptAttributes;
    if (RetainAttributes && entry.HostByte() == kHostMsDos && attributes != faArchive)
        SetFileAttributes(outPath, attributes);
    if (extractedSet_.insert(outPath).second) extracted_.push_back(outPath);
    ++filesExtracted_;
    return true;
}

}  // namespace nuva
