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

}  // namespace

void TSender::ReadRequest(BSTR request, TData& req) {
    req.Text = BstrToAnsi(request);
    req.Sender = Element(req.Text, "SENDER");
    const AnsiString senderDir = Config_.SendFilePath + req.Sender;
    // Empty is allowed here: it is refused below when the request has a body.
    if (!req.Sender.empty() && !engine::IsSafeName(req.Sender))
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
        if (!engine::IsSafeName(name)) throw EFCreateError(path, kInvalidName);
        SaveFileText(Element(item, "VALUE"), path);
        req.Files->Add(path);
    });

    req.ZipFile = Config_.SendFilePath + req.Sender + ".zip";
    req.DataFile = Config_.SendFilePath + req.Sender + ".CA";
    req.HasBody = ReadHasBody(req.TypeCode);
    req.IsCompress = ReadIsCompress(req.TypeCode);
    req.IsCrypt = ReadIsCrypt(req.TypeCode);
    if (req.Sender.empty() && req.HasBody) throw EFCreateError(req.DataFile, kInvalidName);
}

AnsiString TSender::BuildReplyText(const TData& rep) {
    AnsiString text = kPduStart;
    AppendTagged(text, "SENDER", rep.Sender);
    AppendTagged(text, "TYPE_CODE", rep.TypeCode);
    AppendTagged(text, "RESERVE", rep.Reserve);
    if (rep.Files) {
        for (const AnsiString& path : *rep.Files) {
            const AnsiString value = LoadFileText(path);
            // Room for the escaped value without a copy as the text grows.
            text.reserve(text.size() + value.size() + value.size() / 8 + 256);
            text += "<CONTENT>";
            AppendTagged(text, "NAME", ExtractFileName(path));
            AppendTagged(text, "VALUE", value);
            text += "</CONTENT>";
        }
    }
    text += "</PDU>";
    return text;
}

WideString TSender::BuildReplyPdu(const TData& rep) {
    return AnsiToWide(BuildReplyText(rep));
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
    if (rep.Sender.empty() ? rep.HasBody : !engine::IsSafeName(rep.Sender)) return false;
    // An uncompressed body carries its file name in the reserve field.
    const bool moveBody = rep.HasBody && !rep.IsCompress && !rep.Reserve.empty();
    if (moveBody && !engine::IsSafeName(rep.Reserve)) return false;
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

bool IsSafeName(const AnsiString& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (IsLeadByte(c)) {
            if (i + 1 == name.size()) return false;  // half a character at the end
            ++i;                                     // the trail byte may be anything
            continue;
        }
        if (c < 0x20 || c == '\\' || c == '/' || c == ':') return false;
    }
    return !IsReservedDeviceName(name);
}

}  // namespace engine

}  // namespace nuva
