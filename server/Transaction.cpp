#include "Transaction.h"

#include <atomic>
#include <ctime>
#include <random>

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
constexpr char16_t kInternal[] = u"服务器内部错误:";  // + reason
constexpr char16_t kStoredOpen[] = u"已保存";         // + count
constexpr char16_t kStoredClose[] = u"项:";           // + directory
constexpr char kUnnamedItem[] = "DATA";               // an uncompressed body without a safe reserve
constexpr size_t kFaultHeaderBytes = 10;              // FAULT short_header
constexpr int64_t kCutBytes = 20;                     // FAULT cut

// Ends the transaction with an error outcome.
struct TRefusal {
    int status;
    std::string text;  // UTF-8
};

[[noreturn]] void Refuse(int status, const char16_t* text, const AnsiString& detail = "") {
    throw TRefusal{status, AnsiToUtf8(WideToAnsi(text) + detail)};
}

AnsiString Today() {
    const TLocalDate d = LocalDate();
    return Format("%04d%02d%02d", d.year, d.month, d.day);
}

// A new directory name under the store: the time, a token of this process
// and a sequence number.
AnsiString StoreDirName() {
    static const unsigned token = std::random_device()() & 0xFFFFFF;
    static std::atomic<unsigned> sequence{0};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return Format("%s-%06x-%u", stamp, token, ++sequence);
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
        if (!config.key) Refuse(500, kNoKey);
        data = workDir + "request.dec";
        try {
            ca::UnsealFile(dataFile, data, *config.key);
        } catch (const ca::ECryptFileError& e) {
            Refuse(400, kDecryptFailed, e.Message());
        }
    }
    if (!h.compressed) {
        const AnsiString name = IsSafeName(h.reserve) ? h.reserve : kUnnamedItem;
        const AnsiString item = itemsDir + name;
        if (!MoveFileReplace(data, item)) Refuse(500, kInternal, LastErrorText());
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
    if (!ForceDirectories(dir)) Refuse(500, kInternal, LastErrorText());
    AnsiString receipt = WideToAnsi(kStoredOpen) + Format("%zu", items.size()) +
                         WideToAnsi(kStoredClose) + relative + "\r\n";
    for (const AnsiString& item : items) {
        const AnsiString name = ExtractFileName(item);
        receipt += name + "\t" + Format("%lld", static_cast<long long>(SizeOf(item))) + "\r\n";
        if (!MoveFileReplace(item, dir + name)) Refuse(500, kInternal, LastErrorText());
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
    if (type.handler == THandler::Reject) throw TRefusal{type.status, AnsiToUtf8(type.message)};

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
            if (!ZipFiles(list, data)) Refuse(500, kInternal, "zip");
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
            if (!config.key) Refuse(500, kNoKey);
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
    } catch (const Exception& e) {
        out.status = 500;
        out.text = AnsiToUtf8(WideToAnsi(kInternal) + e.Message());
    } catch (const std::exception& e) {
        out.status = 500;
        out.text = AnsiToUtf8(WideToAnsi(kInternal)) + e.what();
    }
    out.header.clear();
    out.replyFile.clear();
    return out;
}

void RemoveTree(const AnsiString& dir) {
    const AnsiString base = IncludeTrailingPathDelimiter(dir);
    for (const TDirEntry& e : ListDirectoryEntries(dir)) {
        if (e.name == "." || e.name == "..") continue;
        if (e.attributes & faDirectory)
            RemoveTree(base + e.name);
        else
            DeleteFile(base + e.name);
    }
    RemoveDir(ExcludeTrailingPathDelimiter(dir));
}

}  // namespace nuva::server
