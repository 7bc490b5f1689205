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

// What the counting reading kept of small values, so that the writing one
// does not open their files again (replies of many small items are common):
// values read whole in one piece, 8 MiB in all at most.
struct TKeptValues {
    static constexpr size_t kBudget = 8 * 1024 * 1024;  // bytes
    std::vector<AnsiString> text;
    std::vector<bool> kept;
    size_t bytes = 0;
};

// Hands the reply PDU's text in the system code page to `emit` in pieces
// that each end where a character ends (a piece converts to the same UTF-16
// units alone as inside the whole text). A value is read from its file a
// piece at a time and escaped on the way. kCount: the values' pieces are
// handed over unescaped, what escaping would add is summed in `growth` (the
// entities are ASCII: one unit per byte added), and small values are kept.
template <bool kCount, typename TEmit>
void EmitReplyText(const TData& rep, TEmit&& emit, size_t& growth, TKeptValues& kept) {
    AnsiString text = kPduStart;
    AppendTagged(text, "SENDER", rep.Sender);
    AppendTagged(text, "TYPE_CODE", rep.TypeCode);
    AppendTagged(text, "RESERVE", rep.Reserve);
    if (rep.Files) {
        AnsiString raw(kValuePiece, '\0'), pending;
        if (kCount) {
            kept.text.resize(static_cast<size_t>(rep.Files->Count()));
            kept.kept.resize(static_cast<size_t>(rep.Files->Count()));
        }
        for (int i = 0; i < rep.Files->Count(); ++i) {
            const AnsiString& path = rep.Files->Strings(i);
            text += "<CONTENT>";
            AppendTagged(text, "NAME", ExtractFileName(path));
            text += "<VALUE>";
            emit(std::string_view(text));
            text.clear();
            pending.clear();
            if (!kCount && kept.kept[static_cast<size_t>(i)]) {
                AppendXmlEscaped(pending, kept.text[static_cast<size_t>(i)]);
                emit(std::string_view(pending));
                text += "</VALUE></CONTENT>";
                continue;
            }
            TFileStream file(path, fmOpenRead | fmShareExclusive);
            for (int reads = 0;; ++reads) {
                const int64_t n = file.Read(&raw[0], static_cast<int64_t>(raw.size()));
                if (n <= 0) {
                    if (kCount && reads <= 1 && kept.bytes + pending.size() <= kept.kBudget) {
                        kept.text[static_cast<size_t>(i)] = pending;  // the whole value, unescaped
                        kept.kept[static_cast<size_t>(i)] = true;
                        kept.bytes += pending.size();
                    }
                    break;
                }
                const std::string_view read(raw.data(), static_cast<size_t>(n));
                const size_t before = pending.size();
                if (kCount) {
                    pending.append(read);
                    growth += XmlEscapeGrowth(read);
                    if (reads == 0) continue;  // kept whole if this is all
                } else {
                    AppendXmlEscaped(pending, read);
                }
                // Through the last byte below 0x40: no double-byte
                // character goes on past one, so a character ends there.
                // What came before this read holds none (the first read,
                // held back when counting, is looked at with the second).
                const size_t floor = kCount && reads == 1 ? 0 : before;
                size_t cut = pending.size();
                while (cut > floor && static_cast<unsigned char>(pending[cut - 1]) >= 0x40) --cut;
                if (cut == floor) continue;
                emit(std::string_view(pending.data(), cut));
                pending.erase(0, cut);
            }
            emit(std::string_view(pending));
            text += "</VALUE></CONTENT>";
        }
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
    TKeptValues kept;
    EmitReplyText<true>(
        rep,
        [&units](std::string_view piece) {
            units += AnsiToWideInto(piece.data(), piece.size(), nullptr, 0);
        },
        units, kept);
    if (units > std::numeric_limits<UINT>::max()) throw std::bad_alloc();
    TBstr text = TBstr::Attach(SysAllocStringLen(nullptr, static_cast<UINT>(units)));
    if (!text.Get()) throw std::bad_alloc();
    char16_t* const dest = reinterpret_cast<char16_t*>(text.Get());
    size_t written = 0;
    // A file that changed between the two readings is a read error.
    size_t unused = 0;
    EmitReplyText<false>(
        rep,
        [&](std::string_view piece) {
            const size_t n =
                AnsiToWideInto(piece.data(), piece.size(), dest + written, units - written);
            if (n > units - written) throw EReadError();
            written += n;
        },
        unused, kept);
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
        if (target != rep.DataFile && !MoveFileReplace(rep.DataFile, target)) return false;
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
