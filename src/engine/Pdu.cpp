// The two texts that pass through the engine: the PDU (the host's XML for a
// transaction, read into the request and written from the reply) and the
// fixed-width transport header (built for the request, parsed from the
// reply).
//
// The PDU, read by element name anywhere in the text (the root is not
// examined, attributes are ignored) and written as one line:
//
//   <?xml version="1.0" encoding="GBK"?> <PDU>            one space after "?>"
//     <SENDER>sender code</SENDER>                        once
//     <TYPE_CODE>type code</TYPE_CODE>                    once; the action.ini section
//     <RESERVE>free field</RESERVE>                       once
//     <CONTENT><NAME>n</NAME><VALUE>v</VALUE></CONTENT>   zero or more items
//   </PDU>
//
// Text is escaped with the five predefined entities ("&" first on writing,
// last on reading); an empty field is a start tag followed by its end tag.
//
// The transport header: 64 bytes of system-code-page text, no terminator.
//
//   columns  width  field       encoding
//   1-22     22     sender      trimmed, padded with spaces, cut in bytes
//   23-26     4     type code   the same
//   27        1     has body    "1" / "0"
//   28        1     encrypted   "1" / "0"
//   29        1     compressed  "1" / "0"
//   30-56    27     reserve     trimmed, padded, cut
//   57-64     8     date        yyyymmdd, local date when built
//
// The flag order (body, encrypted, compressed) differs from TData's. Reading
// a reply header, each field is trimmed; missing columns read as empty and
// missing flags as false; a flag is true when its trimmed text is "1" or
// "TRUE" (any case).
#include <algorithm>
#include <deque>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "engine/EngineInternal.h"
#include "engine/EngineTexts.h"
#include "platform/Platform.h"
#include "util/ParallelText.h"
#include "util/Workers.h"
#include "util/XmlUtil.h"
#include "util/util.h"
#include "zip/CompressUtil.h"
#include "zip/Crc32.h"

namespace nuva {

namespace {

constexpr const char kPduStart[] = "<?xml version=\"1.0\" encoding=\"GBK\"?> <PDU>";

struct THeaderField {
    int first;  // column, from 1
    int width;  // bytes
};
constexpr THeaderField kSenderField = {1, 22};
constexpr THeaderField kTypeCodeField = {23, 4};
constexpr THeaderField kBodyFlag = {27, 1};
constexpr THeaderField kCryptFlag = {28, 1};
constexpr THeaderField kCompressFlag = {29, 1};
constexpr THeaderField kReserveField = {30, 27};
constexpr THeaderField kDateField = {57, 8};

// The field's columns of `header`, trimmed; what lies beyond the header's
// end reads as empty.
AnsiString Column(const AnsiString& header, THeaderField field) {
    size_t start = static_cast<size_t>(field.first - 1);
    if (start >= header.size()) return AnsiString();
    return Trim(header.substr(start, static_cast<size_t>(field.width)));
}

// The reason given when a name from outside would leave its work
// directory (the system's text for an invalid name).
constexpr const char kInvalidName[] =
    "The filename, directory name, or volume label syntax is incorrect";

AnsiString Element(std::string_view text, const char* name) {
    return ElementText(text, name);
}

void AppendTagged(AnsiString& out, const char* name, std::string_view text) {
    out.append("<").append(name).append(">");
    AppendXmlEscaped(out, text);
    out.append("</").append(name).append(">");
}

// Values travel between their work files and the PDU a piece at a time: a
// large value is never held whole beside the PDU itself.
constexpr size_t kValuePiece = 256 * 1024;  // bytes

// The next piece of an escaped value to unescape: at most kValuePiece bytes
// and never inside an entity (an entity is at most six bytes and holds no
// "&", so the last "&" of the piece's last five bytes starts the only one
// that could be cut).
size_t ValuePiece(std::string_view value) {
    size_t cut = std::min(value.size(), kValuePiece);
    if (cut < value.size()) {
        const size_t amp = value.substr(cut - 5, 5).rfind('&');
        if (amp != std::string_view::npos) cut = cut - 5 + amp;
    }
    return cut;
}

// An item's VALUE (escaped, as the request holds it).
std::string_view ItemValue(std::string_view item) {
    std::string_view value;
    if (!ElementInner(item, "VALUE", value)) value = std::string_view();
    return value;
}

// Writes an escaped value, unescaped, to a new file at `path` (an empty file
// for an empty value); a file left half written is deleted. With `ahead`,
// every piece written goes on to its entry there.
void SaveValue(std::string_view value, const AnsiString& path, TPackAhead* ahead) {
    const size_t entry = ahead ? ahead->Begin(path) : 0;
    auto file = std::make_unique<TFileStream>(path, fmCreate);
    try {
        AnsiString piece;
        while (!value.empty()) {
            const size_t cut = ValuePiece(value);
            piece.clear();
            AppendXmlUnescaped(piece, value.substr(0, cut));
            file->WriteBuffer(piece.data(), static_cast<int64_t>(piece.size()));
            if (ahead) ahead->Add(entry, std::move(piece));
            value.remove_prefix(cut);
        }
    } catch (...) {
        file.reset();  // Windows deletes no open file
        DeleteFile(path);
        throw;
    }
    if (ahead) ahead->End(entry);
}

// Items compressed while their files are written: those with at least this
// much escaped text (the archive's own workers take smaller ones side by
// side), while the values so taken stay within the budget: their pieces
// wait in memory for the compressor, and their compressed bytes for the
// archive.
constexpr size_t kAheadItem = 64 * 1024;           // bytes
constexpr size_t kAheadBudget = 32 * 1024 * 1024;  // bytes of escaped text

// The reply PDU is built in two readings of the value files: the first
// counts the UTF-16 units of the whole text, the second writes them into a
// string allocated at exactly that length. Between the two, a file may change
// or fail; both readings therefore check every file against the size it had
// when it was opened, and the second against the size the first one saw: a
// value is never cut short or replaced without an error.
//
// Both readings cut the text into the same pieces, each ending where a
// character ends; the first counts each piece's units, so the second knows
// where every piece goes and converts large pieces side by side on the
// workers while the calling thread reads the files on.
//
// What the counting reading keeps of small values, so that the writing one
// does not open their files again (replies of many small items are common):
// values of at most one piece, 8 MiB in all at most.
struct TReplyValues {
    static constexpr size_t kBudget = 8 * 1024 * 1024;  // bytes
    std::vector<int64_t> size;     // each file's size at the first reading
    std::vector<bool> kept;        // read whole into `text`
    std::vector<AnsiString> text;  // the kept values, unescaped
    size_t keptBytes = 0;
};

// Raised when a value file no longer holds what its size says: it was cut
// or grew between (or during) the readings.
[[noreturn]] void RaiseValueChanged(const AnsiString& path) {
    throw EReadError(path);
}

// How much of `text` may be handed on as a piece: through its last byte
// below 0x40 (no double-byte character goes on past one, and escaping turns
// such a byte into itself or an entity ending in ';'), or nothing. Bytes
// before `from` hold no such byte.
size_t CharacterEnd(const AnsiString& text, size_t from) {
    size_t cut = text.size();
    while (cut > from && static_cast<unsigned char>(text[cut - 1]) >= 0x40) --cut;
    return cut;
}

// Hands one value file to `emit` a piece at a time, unescaped.
// Raises EReadError when a read fails or the file's length is not `size`.
template <typename TEmit>
void EmitValueFile(TFileStream& file, int64_t size, TEmit&& emit) {
    AnsiString raw(kValuePiece, '\0'), pending;
    int64_t total = 0;
    for (;;) {
        const int64_t n = file.Read(&raw[0], static_cast<int64_t>(raw.size()));
        if (n == 0) break;
        total += n;
        if (total > size) RaiseValueChanged(file.FileName());
        const size_t before = pending.size();
        pending.append(raw.data(), static_cast<size_t>(n));
        const size_t cut = CharacterEnd(pending, before);
        if (cut == before) continue;  // no character is known to end yet
        emit(std::string_view(pending.data(), cut), true);
        pending.erase(0, cut);
    }
    if (total != size) RaiseValueChanged(file.FileName());
    emit(std::string_view(pending), true);
}

// Hands the reply PDU's text in the system code page to `emit` in pieces
// that each end where a character ends (a piece converts to the same UTF-16
// units alone as inside the whole text): emit(piece, escape), where the
// values' pieces are to be escaped and the markup's stand as they are. The
// counting reading (kCount) keeps small values in `values`; the writing one
// takes them from there. In the counting reading, taken(path, file, size)
// may hand a value file's text over another way (and returns true then).
template <bool kCount, typename TEmit, typename TTaken>
void EmitReplyText(const TData& rep, TEmit&& emit, TReplyValues& values, TTaken&& taken) {
    AnsiString text = kPduStart;
    AppendTagged(text, "SENDER", rep.Sender);
    AppendTagged(text, "TYPE_CODE", rep.TypeCode);
    AppendTagged(text, "RESERVE", rep.Reserve);
    const size_t count = rep.Files ? static_cast<size_t>(rep.Files->Count()) : 0;
    if (kCount) {
        values.size.assign(count, 0);
        values.kept.assign(count, false);
        values.text.assign(count, AnsiString());
    }
    for (size_t i = 0; i < count; ++i) {
        const AnsiString& path = rep.Files->Strings(static_cast<int>(i));
        text += "<CONTENT>";
        AppendTagged(text, "NAME", ExtractFileName(path));
        text += "<VALUE>";
        emit(std::string_view(text), false);
        text.clear();
        if (!kCount && values.kept[i]) {
            emit(std::string_view(values.text[i]), true);
        } else {
            TFileStream file(path, fmOpenRead | fmShareExclusive);
            const int64_t size = file.Size();
            if (!kCount && size != values.size[i]) RaiseValueChanged(path);
            values.size[i] = size;
            if (kCount && taken(path, file, size)) {
                // Converted as the unpacking wrote it.
            } else if (kCount && size <= static_cast<int64_t>(kValuePiece) &&
                values.keptBytes + static_cast<size_t>(size) <= values.kBudget) {
                // Small: read whole and kept for the writing reading.
                AnsiString& value = values.text[i];
                value.resize(static_cast<size_t>(size));
                char extra;
                if (size > 0) file.ReadBuffer(&value[0], size);
                if (file.Read(&extra, 1) != 0) RaiseValueChanged(path);
                values.kept[i] = true;
                values.keptBytes += value.size();
                emit(std::string_view(value), true);
            } else {
                EmitValueFile(file, size, emit);
            }
        }
        text += "</VALUE></CONTENT>";
    }
    text += "</PDU>";
    emit(std::string_view(text), false);
}

// Pieces smaller than this are counted and converted on the calling thread:
// handing them to a worker costs more than it saves.
constexpr size_t kWorkerPiece = 32 * 1024;  // bytes

// The UTF-16 units of one piece, escaped when `escape`.
size_t PieceUnits(std::string_view piece, bool escape) {
    return AnsiToWideInto(piece.data(), piece.size(), nullptr, 0) +
           (escape ? XmlEscapeGrowth(piece) : 0);
}

// Converts one piece, escaped when `escape` (through `scratch`), into
// `dest`, where the counting reading found `units`; `capacity` units are
// writable there. A piece that gives another number is a file that changed
// between the readings.
void ConvertPiece(std::string_view piece, bool escape, char16_t* dest, size_t units,
                  size_t capacity, AnsiString& scratch) {
    if (escape) {
        scratch.clear();
        AppendXmlEscaped(scratch, piece);
        piece = scratch;
    }
    if (AnsiToWideInto(piece.data(), piece.size(), dest, capacity) != units) throw EReadError();
}

// Converts one piece, escaped when `escape`, into a buffer of its own (room
// for a unit per byte, so that it converts once); sets `units`.
std::unique_ptr<char16_t[]> ConvertOwned(std::string_view piece, bool escape, size_t& units) {
    AnsiString escaped;
    if (escape) {
        AppendXmlEscaped(escaped, piece);
        piece = escaped;
    }
    std::unique_ptr<char16_t[]> wide(new char16_t[piece.size()]);
    units = AnsiToWideInto(piece.data(), piece.size(), wide.get(), piece.size());
    return wide;
}

// ConvertPiece on a worker, which may write only its piece's `units`:
// through a buffer of its own.
void ConvertPieceApart(std::string_view piece, bool escape, char16_t* dest, size_t units) {
    size_t got = 0;
    const std::unique_ptr<char16_t[]> wide = ConvertOwned(piece, escape, got);
    if (got != units) throw EReadError();
    std::copy(wide.get(), wide.get() + units, dest);
}


}  // namespace

// Runs large pieces' work on a few workers, at most `window` pieces ahead of
// the calling thread, each job with its own copy of its piece. The workers
// start with the first large piece: a small reply starts none.
class TPieceJobs {
  public:
    explicit TPieceJobs(int threads) : threads_(threads), window_(2 * static_cast<size_t>(threads)) {}
    bool Parallel(std::string_view piece) const {
        return threads_ > 1 && piece.size() >= kWorkerPiece;
    }
    template <typename TJob>
    void Post(std::string_view piece, TJob job) {
        if (!pool_) pool_.emplace(threads_);
        while (pool_->Pending() >= window_) pool_->Wait(pool_->Oldest());
        auto owned = std::make_shared<const AnsiString>(piece);
        pool_->Post([owned, job] { job(std::string_view(*owned)); });
    }
    void Finish() {
        if (pool_) pool_->WaitAll();
    }

  private:
    const int threads_;
    const size_t window_;
    std::optional<TWorkerPool> pool_;
};

namespace {

// Whether `file` (at its start) holds `size` bytes with this CRC-32; it is
// back at its start when not.
bool ReadsAs(TFileStream& file, int64_t size, uint32_t crc) {
    AnsiString chunk(kValuePiece, '\0');
    uint32_t running = kCrc32Preset;
    int64_t total = 0;
    for (int64_t n; (n = file.Read(&chunk[0], static_cast<int64_t>(chunk.size()))) != 0;) {
        running = Crc32Update(running, chunk.data(), static_cast<size_t>(n));
        total += n;
    }
    if (total == size && ~running == crc) return true;
    if (file.Seek(0, soBeginning) != 0) throw EReadError(file.FileName());
    return false;
}

}  // namespace

TReplyPieces::TReplyPieces(int threads, size_t limit) : threads_(threads), limit_(limit) {}

TReplyPieces::~TReplyPieces() = default;

void TReplyPieces::Begin(const AnsiString& path) {
    current_ = nullptr;
    pending_.clear();
    crc_ = kCrc32Preset;
    if (over_) return;
    try {
        const auto found = files_.find(path);
        if (found != files_.end()) {
                // Written again: what was made of it goes, once no job writes
            // there (the jobs raise nothing).
            if (jobs_) jobs_->Finish();
            files_.erase(found);
        }
        current_ = &files_[path];
    } catch (...) {
        // Left to BuildReply's reading.
    }
}

void TReplyPieces::Add(const uint8_t* data, size_t count) {
    if (!current_) return;
    // What goes wrong here only leaves the file to BuildReply's reading: the
    // extraction goes on.
    try {
        crc_ = Crc32Update(crc_, data, count);
        current_->size += static_cast<int64_t>(count);
        pending_.append(reinterpret_cast<const char*>(data), count);
        if (pending_.size() >= kValuePiece) Cut(false);
    } catch (...) {
        current_ = nullptr;
        pending_.clear();
    }
}

void TReplyPieces::Cut(bool last) {
    const size_t cut = last ? pending_.size() : CharacterEnd(pending_, 0);
    if (cut == 0) return;
    const std::string_view piece(pending_.data(), cut);
    bound_ += piece.size() + XmlEscapeGrowth(piece);
    if (bound_ > limit_) {
        over_ = true;
        current_ = nullptr;  // this file, and those after it, are read by BuildReply
        pending_.clear();
        return;
    }
    TPiece& slot = current_->pieces.emplace_back();
    if (!jobs_) jobs_ = std::make_unique<TPieceJobs>(threads_);
    if (!jobs_->Parallel(piece))
        slot.units = ConvertOwned(piece, true, slot.count);
    else
        jobs_->Post(piece, [&slot](std::string_view owned) {
            try {
                slot.units = ConvertOwned(owned, true, slot.count);
            } catch (...) {
                slot.failed = true;
            }
        });
    pending_.erase(0, cut);
}

void TReplyPieces::End(bool whole) noexcept {
    TFile* const file = current_;
    if (!file) return;
    try {
        // A small file is left to BuildReply, which reads it anyway.
        if (whole && file->pieces.empty() && pending_.size() < kWorkerPiece)
            whole = false;
        else if (whole)
            Cut(true);
    } catch (...) {
        whole = false;
    }
    if (current_ == file) {
        file->whole = whole;
        file->crc = ~crc_;
    }
    current_ = nullptr;
    pending_.clear();
}

TReplyPieces::TFile* TReplyPieces::Take(const AnsiString& path) {
    if (jobs_) jobs_->Finish();  // the jobs raise nothing
    const auto found = files_.find(path);
    if (found == files_.end() || !found->second.whole) return nullptr;
    TFile& file = found->second;
    file.whole = false;  // each file once
    for (const TPiece& piece : file.pieces)
        if (piece.failed) return nullptr;
    return &file;
}

void TSender::ReadRequest(BSTR request, TData& req) {
    // A long request converts in pieces side by side.
    req.Text = WideToAnsiParallel(reinterpret_cast<const char16_t*>(request),
                                  request ? SysStringLen(request) : 0, Threads());
    req.Sender = Element(req.Text, "SENDER");
    const AnsiString senderDir = Config_.SendFilePath + req.Sender;
    // Empty is allowed here: it is refused below when the request has a body.
    if (!req.Sender.empty() && !IsSafeName(req.Sender))
        throw EFCreateError(senderDir, kInvalidName);
    ForceDirectories(senderDir + PathDelim);
    req.TypeCode = Element(req.Text, "TYPE_CODE");
    req.Reserve = Element(req.Text, "RESERVE");

    req.HasBody = ReadHasBody(req.TypeCode);
    req.IsCompress = ReadIsCompress(req.TypeCode);
    req.IsCrypt = ReadIsCrypt(req.TypeCode);

    req.Files = std::make_unique<TStringList>();
    // With workers, large items are compressed from the text while the
    // calling thread writes their files.
    const int threads = Threads();
    size_t aheadBytes = 0;
    // The items as views into the text: a large VALUE is copied only once,
    // unescaped.
    ForEachElementInner(req.Text, "CONTENT", [&](std::string_view item) {
        const AnsiString name = Element(item, "NAME");
        const AnsiString path = senderDir + PathDelim + name;
        if (!IsSafeName(name)) throw EFCreateError(path, kInvalidName);
        const std::string_view value = ItemValue(item);
        TPackAhead* ahead = nullptr;
        if (threads > 1 && req.HasBody && req.IsCompress && value.size() >= kAheadItem &&
            aheadBytes + value.size() <= kAheadBudget) {
            if (!req.Ahead) req.Ahead = std::make_unique<TPackAhead>(threads, kZipFilesLevel);
            ahead = req.Ahead.get();
            aheadBytes += value.size();
        }
        SaveValue(value, path, ahead);
        req.Files->Add(path);
    });

    req.ZipFile = Config_.SendFilePath + req.Sender + ".zip";
    req.DataFile = Config_.SendFilePath + req.Sender + ".CA";
    if (req.Sender.empty() && req.HasBody) throw EFCreateError(req.DataFile, kInvalidName);
}

void TSender::BuildReply(const TData& rep, BSTR& reply) {
    // Twice over the files: once to count the UTF-16 units of every piece,
    // once to write them into a string of exactly that length. Or, with
    // workers, once: the counting reading also converts every piece and
    // keeps its UTF-16 while the whole PDU stays within replyKeepLimit_
    // units (bounded from the bytes and the escaping's growth before
    // converting), and the pieces are then copied into the string; a larger
    // PDU lets go of what it kept and takes the second reading.
    const int threads = Threads();
    TReplyValues values;
    std::deque<size_t> pieceUnits;  // jobs write their own element: never moved
    bool keep = false;
    size_t keptBound = 0;
    std::deque<std::unique_ptr<char16_t[]>> kept;  // each piece's UTF-16, while `keep`
    // The counting reading; with `useUnpacked`, value files converted as the
    // unpacking wrote them are taken from there (when they still read as
    // those bytes).
    auto countReading = [&](bool useUnpacked) {
        values = TReplyValues();
        pieceUnits.clear();
        kept.clear();
        keep = threads > 1;
        keptBound = 0;
        bool tookUnpacked = false;
        TPieceJobs jobs(threads);
        EmitReplyText<true>(
            rep,
            [&](std::string_view piece, bool escape) {
                size_t& units = pieceUnits.emplace_back(0);
                if (keep) {
                    keptBound += piece.size() + (escape ? XmlEscapeGrowth(piece) : 0);
                    keep = keptBound <= replyKeepLimit_;
                }
                if (keep) {
                    std::unique_ptr<char16_t[]>& slot = kept.emplace_back();
                    if (!jobs.Parallel(piece))
                        slot = ConvertOwned(piece, escape, units);
                    else
                        jobs.Post(piece, [&units, &slot, escape](std::string_view owned) {
                            slot = ConvertOwned(owned, escape, units);
                        });
                } else if (!jobs.Parallel(piece)) {
                    units = PieceUnits(piece, escape);
                } else {
                    jobs.Post(piece, [&units, escape](std::string_view owned) {
                        units = PieceUnits(owned, escape);
                    });
                }
            },
            values,
            [&](const AnsiString& path, TFileStream& file, int64_t size) {
                if (!useUnpacked || !keep || !rep.Unpacked) return false;
                TReplyPieces::TFile* const unpacked = rep.Unpacked->Take(path);
                if (!unpacked || unpacked->size != size) return false;
                size_t units = 0;
                for (const TReplyPieces::TPiece& piece : unpacked->pieces) units += piece.count;
                if (keptBound + units > replyKeepLimit_) return false;
                if (!ReadsAs(file, size, unpacked->crc)) return false;
                keptBound += units;
                for (TReplyPieces::TPiece& piece : unpacked->pieces) {
                    pieceUnits.push_back(piece.count);
                    kept.push_back(std::move(piece.units));
                }
                tookUnpacked = true;
                return true;
            });
        jobs.Finish();
        return tookUnpacked;
    };
    // Pieces taken from the unpacking are cut otherwise than a reading cuts
    // them: when the PDU turns out too large to keep, count it again by
    // reading, as the writing reading will.
    if (countReading(true) && !keep) countReading(false);
    if (!keep) kept.clear();
    size_t total = 0;
    for (size_t units : pieceUnits) total += units;
    if (total > std::numeric_limits<UINT>::max()) throw std::bad_alloc();
    TBstr text = TBstr::Attach(SysAllocStringLen(nullptr, static_cast<UINT>(total)));
    if (!text.Get()) throw std::bad_alloc();
    char16_t* const dest = reinterpret_cast<char16_t*>(text.Get());
    if (keep) {
        TWorkerPool pool(threads);
        size_t at = 0;
        for (size_t i = 0; i < kept.size(); ++i) {
            const size_t units = pieceUnits[i];
            const char16_t* const from = kept[i].get();
            char16_t* const to = dest + at;
            if (units * sizeof(char16_t) < kWorkerPiece)
                std::copy(from, from + units, to);
            else
                pool.Post([from, units, to] { std::copy(from, from + units, to); });
            at += units;
        }
        pool.WaitAll();
        SysFreeString(reply);
        reply = text.Detach();
        return;
    }
    // A file that changed between the two readings raises EReadError in the
    // second: a piece more, or a piece whose units differ.
    size_t piece = 0, written = 0;
    AnsiString scratch;
    {
        TPieceJobs jobs(threads);
        EmitReplyText<false>(
            rep,
            [&](std::string_view bytes, bool escape) {
                if (piece == pieceUnits.size()) throw EReadError();
                const size_t units = pieceUnits[piece++];
                char16_t* const at = dest + written;
                // The calling thread converts straight into the string: the
                // pieces after this one are not handed out yet, so the rest
                // of the string is its to write.
                if (!jobs.Parallel(bytes))
                    ConvertPiece(bytes, escape, at, units, total - written, scratch);
                else
                    jobs.Post(bytes, [at, units, escape](std::string_view owned) {
                        ConvertPieceApart(owned, escape, at, units);
                    });
                written += units;
            },
            values, [](const AnsiString&, TFileStream&, int64_t) { return false; });
        jobs.Finish();
    }
    if (piece != pieceUnits.size() || written != total) throw EReadError();
    SysFreeString(reply);
    reply = text.Detach();
}

WideString TSender::BuildReplyPdu(const TData& rep) {
    TBstr reply;
    BuildReply(rep, *reply.InOut());
    return reply.ToWide();
}

bool TSender::BuildHeader(TData& req) {
    const TLocalDate today = LocalDate();
    req.Date = Format("%04d%02d%02d", today.year, today.month, today.day);
    req.Header = PadRight(req.Sender, kSenderField.width, ' ') +
                 PadRight(req.TypeCode, kTypeCodeField.width, ' ') + BoolToText(req.HasBody, true) +
                 BoolToText(req.IsCrypt, true) + BoolToText(req.IsCompress, true) +
                 PadRight(req.Reserve, kReserveField.width, ' ') +
                 PadRight(req.Date, kDateField.width, ' ');
    return true;
}

bool TSender::ParseReplyHeader(TData& rep) {
    rep.Sender = Column(rep.Header, kSenderField);
    rep.TypeCode = Column(rep.Header, kTypeCodeField);
    rep.HasBody = TextToBool(Column(rep.Header, kBodyFlag));
    rep.IsCrypt = TextToBool(Column(rep.Header, kCryptFlag));
    rep.IsCompress = TextToBool(Column(rep.Header, kCompressFlag));
    rep.Reserve = Column(rep.Header, kReserveField);
    rep.Date = Column(rep.Header, kDateField);

    // The sender names the reply's directory: it must be one safe name (an
    // empty one only names the receive directory itself, for a reply
    // without a body).
    if (rep.Sender.empty() ? rep.HasBody : !IsSafeName(rep.Sender)) return false;
    // An uncompressed body carries its file name in the reserve field.
    const bool moveBody = rep.HasBody && !rep.IsCompress && !rep.Reserve.empty();
    if (moveBody && !IsSafeName(rep.Reserve)) return false;
    const AnsiString replyDir = Config_.ReceiveFilePath + rep.Sender + PathDelim;
    ForceDirectories(replyDir);

    if (moveBody) {
        const AnsiString target = replyDir + rep.Reserve;
        if (target != rep.DataFile && !IsSameFile(target, rep.DataFile) &&
            !MoveFileReplace(rep.DataFile, target))
            return false;
        rep.DataFile = target;
    }
    rep.ZipFile = Config_.ReceiveFilePath + rep.Sender + ".zip";
    return true;
}

namespace engine {

WideString ErrorFrame(const WideString& message, const char16_t* reason) {
    return texts::kErrorOpen + message + texts::kErrorReason + reason + texts::kErrorClose;
}

}  // namespace engine

}  // namespace nuva
