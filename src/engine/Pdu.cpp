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
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "engine/EngineInternal.h"
#include "engine/EngineTexts.h"
#include "platform/Platform.h"
#include "util/XmlUtil.h"
#include "util/util.h"

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

// Writes an item's VALUE, unescaped, to a new file at `path` (an empty file
// when the item has none); a file left half written is deleted.
void SaveValue(std::string_view item, const AnsiString& path) {
    std::string_view value;
    if (!ElementInner(item, "VALUE", value)) value = std::string_view();
    auto file = std::make_unique<TFileStream>(path, fmCreate);
    try {
        AnsiString piece;
        while (!value.empty()) {
            size_t cut = std::min(value.size(), kValuePiece);
            if (cut < value.size()) {
                // Not inside an entity: an entity is at most six bytes and
                // holds no "&", so the last "&" of the piece's last five
                // bytes starts the only one that could be cut.
                const size_t amp = value.substr(cut - 5, 5).rfind('&');
                if (amp != std::string_view::npos) cut = cut - 5 + amp;
            }
            piece.clear();
            AppendXmlUnescaped(piece, value.substr(0, cut));
            file->WriteBuffer(piece.data(), static_cast<int64_t>(piece.size()));
            value.remove_prefix(cut);
        }
    } catch (...) {
        file.reset();  // Windows deletes no open file
        DeleteFile(path);
        throw;
    }
}

// The reply PDU is built in two readings of the value files: the first
// counts the UTF-16 units of the whole text, the second writes them into a
// string allocated at exactly that length. Between the two, a file may change
// or fail; both readings therefore check every file against the size it had
// when it was opened, and the second against the size the first one saw: a
// value is never cut short or replaced without an error.
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
// below 0x40 (no double-byte character goes on past one, so a character ends
// there), or nothing. Bytes before `from` hold no such byte.
size_t CharacterEnd(const AnsiString& text, size_t from) {
    size_t cut = text.size();
    while (cut > from && static_cast<unsigned char>(text[cut - 1]) >= 0x40) --cut;
    return cut;
}

// Hands one value file to `emit` a piece at a time. Writing (kCount false),
// the pieces are escaped; counting, they go unescaped and what escaping adds
// is summed in `growth` (the entities are ASCII: one unit per byte added).
// Raises EReadError when a read fails or the file's length is not `size`.
template <bool kCount, typename TEmit>
void EmitValueFile(TFileStream& file, int64_t size, TEmit&& emit, size_t& growth) {
    AnsiString raw(kValuePiece, '\0'), pending;
    int64_t total = 0;
    for (;;) {
        const int64_t n = file.Read(&raw[0], static_cast<int64_t>(raw.size()));
        if (n == 0) break;
        total += n;
        if (total > size) RaiseValueChanged(file.FileName());
        const std::string_view read(raw.data(), static_cast<size_t>(n));
        const size_t before = pending.size();
        if (kCount) {
            pending.append(read);
            growth += XmlEscapeGrowth(read);
        } else {
            AppendXmlEscaped(pending, read);
        }
        const size_t cut = CharacterEnd(pending, before);
        if (cut == before) continue;  // no character is known to end yet
        emit(std::string_view(pending.data(), cut));
        pending.erase(0, cut);
    }
    if (total != size) RaiseValueChanged(file.FileName());
    emit(std::string_view(pending));
}

// Hands the reply PDU's text in the system code page to `emit` in pieces
// that each end where a character ends (a piece converts to the same UTF-16
// units alone as inside the whole text).
template <bool kCount, typename TEmit>
void EmitReplyText(const TData& rep, TEmit&& emit, size_t& growth, TReplyValues& values) {
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
        emit(std::string_view(text));
        text.clear();
        if (!kCount && values.kept[i]) {
            AnsiString escaped;
            AppendXmlEscaped(escaped, values.text[i]);
            emit(std::string_view(escaped));
        } else {
            TFileStream file(path, fmOpenRead | fmShareExclusive);
            const int64_t size = file.Size();
            if (!kCount && size != values.size[i]) RaiseValueChanged(path);
            values.size[i] = size;
            if (kCount && size <= static_cast<int64_t>(kValuePiece) &&
                values.keptBytes + static_cast<size_t>(size) <= values.kBudget) {
                // Small: read whole and kept for the writing reading.
                AnsiString& value = values.text[i];
                value.resize(static_cast<size_t>(size));
                char extra;
                if (size > 0) file.ReadBuffer(&value[0], size);
                if (file.Read(&extra, 1) != 0) RaiseValueChanged(path);
                values.kept[i] = true;
                values.keptBytes += value.size();
                growth += XmlEscapeGrowth(value);
                emit(std::string_view(value));
            } else {
                EmitValueFile<kCount>(file, size, emit, growth);
            }
        }
        text += "</VALUE></CONTENT>";
    }
    text += "</PDU>";
    emit(std::string_view(text));
}

}  // namespace

void TSender::ReadRequest(BSTR request, TData& req) {
    req.Text = BstrToAnsi(request);
    req.Sender = Element(req.Text, "SENDER");
    const AnsiString senderDir = Config_.SendFilePath + req.Sender;
    // Empty is allowed here: it is refused below when the request has a body.
    if (!req.Sender.empty() && !IsSafeName(req.Sender))
        throw EFCreateError(senderDir, kInvalidName);
    ForceDirectories(senderDir + PathDelim);
    req.TypeCode = Element(req.Text, "TYPE_CODE");
    req.Reserve = Element(req.Text, "RESERVE");

    req.Files = std::make_unique<TStringList>();
    // The items as views into the text: a large VALUE is copied only once,
    // unescaped.
    ForEachElementInner(req.Text, "CONTENT", [&](std::string_view item) {
        const AnsiString name = Element(item, "NAME");
        const AnsiString path = senderDir + PathDelim + name;
        if (!IsSafeName(name)) throw EFCreateError(path, kInvalidName);
        SaveValue(item, path);
        req.Files->Add(path);
    });

    req.ZipFile = Config_.SendFilePath + req.Sender + ".zip";
    req.DataFile = Config_.SendFilePath + req.Sender + ".CA";
    req.HasBody = ReadHasBody(req.TypeCode);
    req.IsCompress = ReadIsCompress(req.TypeCode);
    req.IsCrypt = ReadIsCrypt(req.TypeCode);
    if (req.Sender.empty() && req.HasBody) throw EFCreateError(req.DataFile, kInvalidName);
}

void TSender::BuildReply(const TData& rep, BSTR& reply) {
    // Twice over the files: once to count the UTF-16 units, once to write
    // them into a string of exactly that length.
    size_t units = 0;
    TReplyValues values;
    EmitReplyText<true>(
        rep,
        [&units](std::string_view piece) {
            units += AnsiToWideInto(piece.data(), piece.size(), nullptr, 0);
        },
        units, values);
    if (units > std::numeric_limits<UINT>::max()) throw std::bad_alloc();
    TBstr text = TBstr::Attach(SysAllocStringLen(nullptr, static_cast<UINT>(units)));
    if (!text.Get()) throw std::bad_alloc();
    char16_t* const dest = reinterpret_cast<char16_t*>(text.Get());
    size_t written = 0;
    // A file that changed between the two readings raises EReadError in the
    // second; the checks on `written` are the last guard of the string.
    size_t unused = 0;
    EmitReplyText<false>(
        rep,
        [&](std::string_view piece) {
            const size_t n =
                AnsiToWideInto(piece.data(), piece.size(), dest + written, units - written);
            if (n > units - written) throw EReadError();
            written += n;
        },
        unused, values);
    if (written != units) throw EReadError();
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

AnsiString BusyText() {
    return WideToAnsi(texts::kBusy);
}

}  // namespace engine

}  // namespace nuva
