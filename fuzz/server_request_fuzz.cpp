// nuva-server's handling of one request body as HTTP hands it over: its
// first 64 bytes are the transport header, the rest the data (sealed,
// zipped, or neither, as the header's flags say). The server's key is fixed
// (bytes 0..31), so that seeds can carry real sealed archives; type 01
// echoes with the request's flags, 02 stores and answers 111, 09 rejects.
// Checks, beyond the sanitizers: every outcome is a status the server gives,
// a reply's data lies inside the transaction's directory, and after the
// transaction nothing is left in the data directory but the store.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ServerConfig.h"
#include "Transaction.h"
#include "platform/Platform.h"
#include "platform/Stream.h"

namespace {

using nuva::AnsiString;

class TServerScratch {
  public:
    TServerScratch() {
        const AnsiString base = nuva::CreateUniqueTempDirectory("", "nuva-server-fuzz-");
        if (base.empty()) std::abort();
        root_ = nuva::IncludeTrailingPathDelimiter(base);
        const AnsiString keyFile = root_ + "key.hex";
        {
            const std::string hex = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
            nuva::TFileStream key(keyFile, nuva::fmCreate);
            key.WriteBuffer(hex.data(), static_cast<int64_t>(hex.size()));
        }
        config_ = nuva::server::ParseServerConfig(
            "<SERVER><DATA_DIR>" + root_ + "data</DATA_DIR><MAX_ITEMS>50</MAX_ITEMS>"
            "<MAX_EXTRACT>1000000</MAX_EXTRACT><CA><KEY_FILE>" + keyFile + "</KEY_FILE></CA>"
            "<TYPE><CODE>01</CODE><HANDLER>echo</HANDLER></TYPE>"
            "<TYPE><CODE>02</CODE><HANDLER>store</HANDLER><REPLY_FLAGS>111</REPLY_FLAGS></TYPE>"
            "<TYPE><CODE>09</CODE><HANDLER>reject</HANDLER></TYPE></SERVER>");
        work_ = config_.WorkRoot() + nuva::PathDelim + "tx" + nuva::PathDelim;
    }
    ~TServerScratch() { nuva::server::RemoveTree(root_); }

    // A failed check: the tree goes first, then the process.
    [[noreturn]] void Fail() {
        nuva::server::RemoveTree(root_);
        std::abort();
    }

    void Run(const uint8_t* data, size_t size) {
        if (!nuva::ForceDirectories(work_)) Fail();
        const size_t headerSize = size < 64 ? size : 64;
        const std::string header(reinterpret_cast<const char*>(data), headerSize);
        const AnsiString dataFile = work_ + "request.data";
        {
            nuva::TFileStream body(dataFile, nuva::fmCreate);
            body.WriteBuffer(data + headerSize, static_cast<int64_t>(size - headerSize));
        }
        const nuva::server::TOutcome out =
            nuva::server::RunTransaction(config_, header, dataFile, work_);
        switch (out.status) {
            case 200:
                if (out.header.size() != 64) Fail();
                if (!out.replyFile.empty() && out.replyFile.compare(0, work_.size(), work_) != 0)
                    Fail();
                break;
            case 400:
            case 403:
            case 404:
            case 500:
                if (out.text.empty() || !out.header.empty() || !out.replyFile.empty()) Fail();
                break;
            default:
                Fail();
        }
        nuva::server::RemoveTree(work_);
        nuva::server::RemoveTree(config_.StoreRoot());
        // Only the work root stays.
        for (const nuva::TDirEntry& e : nuva::ListDirectoryEntries(root_ + "data"))
            if (e.name != "." && e.name != ".." && e.name != "work") Fail();
        for (const nuva::TDirEntry& e : nuva::ListDirectoryEntries(config_.WorkRoot()))
            if (e.name != "." && e.name != "..") Fail();
    }

  private:
    AnsiString root_, work_;
    nuva::server::TServerConfig config_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TServerScratch scratch;
    scratch.Run(data, size);
    return 0;
}
