#include "Transaction.h"

#include <cstring>
#include <ctime>

#include "ServerSupport.h"
#include "ca/CryptFile.h"
#include "net/Wire.h"
#include "platform/Platform.h"
#include "platform/Stream.h"
#include "util/StringList.h"
#include "util/util.h"
#include "zip/CompressUtil.h"
#include "zip/ZipErrors.h"
#include "zip/ZipReader.h"

namespace nuva::server {

namespace {

constexpr char16_t kBadHeader[] = u"请求报文头格式错误";
constexpr char16_t kBadSender[] = u"请求报文头中的发送方代码不合法:";  // + sender
constexpr char16_t kUnknownType[] = u"未知的交易类型:";                // + type code
constexpr char16_t kUnexpectedData[] = u"请求报文头标明无数据,却带有数据";
constexpr char16_t kDecryptFailed[] = u"请求数据解密失败:";  // + reason
constexpr char16_t kUnpackFailed[] = u"请求数据无法解包:";   // + reason
constexpr char16_t kTooManyItems[] = u"条目过多";
constexpr char16_t kTooLarge[] = u"解包后的数据过大";
constexpr char16_t kNotExtracted[] = u"有条目无法解出";
constexpr char16_t kNoKey[] = u"服务器未配置密钥";
constexpr char16_t kStoredOpen[] = u"已保存";         // + count
constexpr char16_t kStoredClose[] = u"项:";           // + directory
constexpr char kUnnamedItem[] = "DATA";               // an uncompressed body without a safe reserve
constexpr size_t kFaultHeaderBytes = 10;              // FAULT short_header
constexpr int64_t kCutBytes = 20;                     // FAULT cut

constexpr char kSealedMagic[] = "NUVA-GCM";  // ca/CryptFile.h: the header's first bytes
constexpr size_t kSealedKindOffset = 9;
constexpr size_t kSealedIterationsOffset = 16;  // 4 bytes, big-endian

// Ends the transaction with an error outcome.
struct TRefusal {
    int status;
    std::string text;     // UTF-8
    std::string logText;  // UTF-8, when the log line holds more than the answer
};

[[noreturn]] void Refuse(int status, const char16_t* text, const AnsiString& detail = "") {
    throw TRefusal{status, AnsiToUtf8(WideToAnsi(text) + detail), {}};
}

// A failure of the server's own: the answer holds a token, the log the reason.
[[noreturn]] void Fail(const std::string& reasonUtf8) {
    TInternalError e = InternalError(reasonUtf8);
    throw TRefusal{500, std::move(e.answer), std::move(e.log)};
}
[[noreturn]] void Fail(const char16_t* reason) {
    Fail(Utf8(reason));
}
[[noreturn]] void FailSystem(const AnsiString& what) {
    Fail(AnsiToUtf8(what + ": " + LastErrorText()));
}

// A sealed request must name the server's own PBKDF2 rounds: a hostile
// request would otherwise choose how long the key derivation takes (up to
// ca::kMaxIterations). Checked on the file's header before any key is
// derived; every other field is left to the file format's own checks.
void CheckSealedRounds(const AnsiString& path, const ca::TCryptKey& key) {
    uint8_t head[kSealedIterationsOffset + 4];
    TFileStream f(path, fmOpenRead | fmShareDenyNone);
    if (f.Read(head, sizeof head) != static_cast<int64_t>(sizeof head)) return;
    if (std::memcmp(head, kSealedMagic, std::strlen(kSealedMagic)) != 0) return;
    if (head[kSealedKindOffset] != static_cast<uint8_t>(ca::TKeyKind::Passphrase) ||
        key.kind != ca::TKeyKind::Passphrase)
        return;
    const uint8_t* p = head + kSealedIterationsOffset;
    const uint32_t rounds = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    if (rounds != key.iterations)
        Refuse(400, kDecryptFailed, WideToAnsi(ca::CryptFaultText(ca::TCryptFault::Unsupported)));
}

AnsiString Today() {
    const TLocalDate d = LocalDate();
    return Format("%04d%02d%02d", d.year, d.month, d.day);
}

// A new directory name under the store: the time and a unique token.
AnsiString StoreDirName() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return AnsiString(stamp) + "-" + UniqueToken();
}

int64_t SizeOf(const AnsiString& path) {
    TFileStream f(path, fmOpenRead | fmShareDenyNone);
    return f.Size();
}

// The request's data as item files in `itemsDir`.
std::vector<AnsiString> RequestItems(const TServerConfig& config, const wire::THeader& h,
                                     const AnsiString& dataFile, const AnsiString& workDir,
                                     const AnsiString& itemsDir) {
    if (!h.hasBody) return {};
    AnsiString data = dataFile;
    if (h.encrypted) {
        if (!config.key) Fail(kNoKey);
        data = workDir + "request.dec";
        CheckSealedRounds(dataFile, *config.key);
        try {
            ca::UnsealFile(dataFile, data, *config.key);
        } catch (const ca::ECryptFileError& e) {
            Refuse(400, kDecryptFailed, e.Message());
        }
    }
    if (!h.compressed) {
        const AnsiString name = IsSafeName(h.reserve) ? h.reserve : kUnnamedItem;
        const AnsiString item = itemsDir + name;
        if (!MoveFileReplace(data, item)) FailSystem("move " + ExtractFileName(item));
        return {item};
    }

    // The directory first: the limits hold before one byte is unpacked (the
    // reader writes no entry past its declared size).
    try {
        TZipReader reader;
        reader.SetZipName(data);
        reader.ReadZip();
        if (reader.Entries().size() > config.maxItems)
            Refuse(400, kUnpackFailed, WideToAnsi(kTooManyItems));
        uint64_t total = 0;
        for (const TZipHeaderInfo& entry : reader.Entries()) total += entry.uncompressedSize;
        if (total > config.maxExtract) Refuse(400, kUnpackFailed, WideToAnsi(kTooLarge));
    } catch (const EZipError& e) {
        Refuse(400, kUnpackFailed, e.Message());
    }
    std::vector<AnsiString> written;
    bool complete = false;
    try {
        complete = UnzipToDirListing(data, itemsDir, written);
    } catch (const EZipError& e) {
        Refuse(400, kUnpackFailed, e.Message());
    }
    if (!complete) Refuse(400, kUnpackFailed, WideToAnsi(kNotExtracted));
    return written;
}

// The store handler: the items moved under store/<sender>/<stamp>/, one
// receipt item back.
std::vector<AnsiString> Store(const TServerConfig& config, const TTypeConfig& type,
                              const AnsiString& sender, const std::vector<AnsiString>& items,
                              const AnsiString& workDir) {
    const AnsiString relative = sender + PathDelim + StoreDirName();
    const AnsiString dir = config.StoreRoot() + PathDelim + relative + PathDelim;
    if (!ForceDirectories(dir)) FailSystem("store " + relative);
    AnsiString receipt = WideToAnsi(kStoredOpen) + Format("%zu", items.size()) +
                         WideToAnsi(kStoredClose) + relative + "\r\n";
    for (const AnsiString& item : items) {
        const AnsiString name = ExtractFileName(item);
        receipt += name + "\t" + Format("%lld", static_cast<long long>(SizeOf(item))) + "\r\n";
        if (!MoveFileReplace(item, dir + name)) FailSystem("store " + relative + PathDelim + name);
    }
    const AnsiString receiptName =
        IsSafeName(type.receiptName) ? type.receiptName : AnsiString("receipt.txt");
    const AnsiString path = workDir + "reply" + PathDelim + receiptName;
    ForceDirectories(workDir + "reply");
    SaveFileText(receipt, path);
    return {path};
}

// The test aids that change the reply data.
void Spoil(TFault fault, const AnsiString& file) {
    if (file.empty() || (fault != TFault::Tamper && fault != TFault::Cut)) return;
    TFileStream f(file, fmOpenReadWrite);
    const int64_t size = f.Size();
    if (fault == TFault::Cut) {
        f.Seek(size > kCutBytes ? size - kCutBytes : 0, soBeginning);
        f.Truncate();
        return;
    }
    if (size == 0) return;
    uint8_t byte = 0;
    f.Seek(size / 2, soBeginning);
    f.ReadBuffer(&byte, 1);
    byte ^= 0x01;
    f.Seek(size / 2, soBeginning);
    f.WriteBuffer(&byte, 1);
}

void Run(const TServerConfig& config, const std::string& headerBytes, const AnsiString& dataFile,
         const AnsiString& workDir, TOutcome& out) {
    wire::THeader h;
    if (!wire::ParseHeader(headerBytes, h)) Refuse(400, kBadHeader);
    out.sender = h.sender;
    out.typeCode = h.typeCode;
    if (!IsSafeName(h.sender)) Refuse(400, kBadSender, h.sender);
    const auto found = config.types.find(h.typeCode);
    if (found == config.types.end()) Refuse(404, kUnknownType, h.typeCode);
    const TTypeConfig& type = found->second;
    out.delayMs = type.delayMs;
    if (!h.hasBody && SizeOf(dataFile) > 0) Refuse(400, kUnexpectedData);
    if (type.handler == THandler::Reject) throw TRefusal{type.status, AnsiToUtf8(type.message), {}};

    const AnsiString itemsDir = workDir + "items" + PathDelim;
    ForceDirectories(itemsDir);
    std::vector<AnsiString> items = RequestItems(config, h, dataFile, workDir, itemsDir);
    if (type.handler == THandler::Store) items = Store(config, type, h.sender, items, workDir);

    const TReplyFlags flags =
        type.replyFlags.value_or(TReplyFlags{h.hasBody, h.encrypted, h.compressed});
    wire::THeader reply;
    reply.sender = type.replySender.value_or(h.sender);
    reply.typeCode = h.typeCode;
    reply.hasBody = flags.hasBody;
    reply.encrypted = flags.encrypted;
    reply.compressed = flags.compressed;
    reply.reserve = h.reserve;
    reply.date = Today();

    AnsiString data;
    if (flags.hasBody) {
        if (flags.compressed) {
            TStringList list;
            for (const AnsiString& item : items) list.Add(item);
            data = workDir + "reply.zip";
            if (!ZipFiles(list, data)) Fail("zip");
        } else if (!items.empty()) {
            // One file travels; its name goes in the reserve field.
            data = items.front();
            reply.reserve = ExtractFileName(data);
        } else {
            data = workDir + "reply.bin";
            SaveFileText("", data);
            reply.reserve = ExtractFileName(data);
        }
        if (flags.encrypted) {
            if (!config.key) Fail(kNoKey);
            const AnsiString sealed = workDir + "reply.CA";
            ca::SealFile(data, sealed, *config.key);
            data = sealed;
        }
        Spoil(type.fault, data);
    }
    out.status = 200;
    out.fault = type.fault;
    out.header = wire::BuildHeader(reply);
    out.replyFile = data;
    if (type.fault == TFault::ShortHeader) {
        out.header.resize(kFaultHeaderBytes);
        out.replyFile.clear();
    }
}

}  // namespace

TOutcome RunTransaction(const TServerConfig& config, const std::string& header,
                        const AnsiString& dataFile, const AnsiString& workDir) {
    TOutcome out;
    try {
        Run(config, header, dataFile, workDir, out);
        return out;
    } catch (const TRefusal& r) {
        out.status = r.status;
        out.text = r.text;
        out.logText = r.logText;
    } catch (const Exception& e) {
        TInternalError internal = InternalError(AnsiToUtf8(e.Message()));
        out.status = 500;
        out.text = std::move(internal.answer);
        out.logText = std::move(internal.log);
    } catch (const std::exception& e) {
        TInternalError internal = InternalError(e.what());
        out.status = 500;
        out.text = std::move(internal.answer);
        out.logText = std::move(internal.log);
    }
    out.header.clear();
    out.replyFile.clear();
    return out;
}

void RemoveTree(const AnsiString& dir) {
    const AnsiString base = IncludeTrailingPathDelimiter(dir);
    for (const TDirEntry& e : ListDirectoryEntries(dir)) {
        if (e.name == "." || e.name == "..") continue;
        // An unpacked entry keeps the read-only attribute its archive gave
        // it; it would stop the delete.
        if (e.attributes & faReadOnly)
            SetFileAttributes(base + e.name, static_cast<uint32_t>(e.attributes) & ~uint32_t{faReadOnly});
        if (e.attributes & faDirectory)
            RemoveTree(base + e.name);
        else
            DeleteFile(base + e.name);
    }
    RemoveDir(ExcludeTrailingPathDelimiter(dir));
}

}  // namespace nuva::server
