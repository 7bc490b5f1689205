// Main: the sender engine. One `TSender` carries a host's transactions to its
// server: `Init` reads the configuration and gets the network and CA
// components ready, `Send` runs one transaction (PDU in -> work files -> zip
// -> encrypt -> header -> post -> reply header -> decrypt -> unzip -> PDU
// out), `TestConn` asks the network component to test its connection.
//
// The operations take and give UTF-16 automation strings (BSTR) and 16-bit
// automation booleans, exactly as the COM interface passes them:
// - out strings (`Message`, `Reply`) are replaced (the engine frees what they
//   held); `Status` and `Progress` are the host's own variables, written at
//   every step and handed to the network component during the post;
// - every error of the system (`nuva::Exception`) is caught at the
//   operation's boundary and reported through `Message` and `Result`; the
//   status is then S_OK. Anything else ends the operation with E_UNEXPECTED
//   (its work files removed first).
//
// Use from C++ (a native host, the CLI, tests):
//     TSender engine;                       // not initialised, no components
//     TBstr message; VARIANT_BOOL ok;
//     engine.Init(config.Get(), *message.InOut(), ok);
//     engine.Send(request.Get(), *reply.InOut(), progress, *status.InOut(),
//                 *message.InOut(), ok);
// The calling thread must be initialised for COM (CoInitialize). A COM host
// reaches the one engine of the library through the SenderImpl object.
//
// Memory: beside the host's two strings, Send holds the request's text in
// the system code page; item values go to their work files, and come back
// from the reply's files into `Reply`, a piece (256 KiB) at a time.
//
// Threads: one call at a time. Send packs and unpacks the items, and converts
// long texts between the code page and UTF-16, on a few worker threads of its
// own (TConfig::Threads); they start and end inside the call, touch files,
// buffers and the codec only, and every component call, progress step and
// write to the host's variables stays on the calling thread. A call that arrives while another runs on the
// same engine (from another thread, or re-entering through the message pump
// that the archive code runs) is refused at once with Result false; it never
// touches the running call's files.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "invokers/CAInvoker.h"
#include "invokers/NetworkInvoker.h"
#include "platform/Com.h"
#include "platform/Errors.h"
#include "util/StringList.h"
#include "engine/ReplyPieces.h"
#include "zip/PackAhead.h"

namespace nuva {

// The settings of the last Init.
struct TConfig {
    AnsiString SendFilePath;      // outgoing work files; normalised, ends in the delimiter
    AnsiString ReceiveFilePath;   // received files; the same
    AnsiString NetworkComponent;  // the network component's DLL, as written
    AnsiString CAComponent;       // the CA component's DLL, as written
    AnsiString NetworkConfig;     // the declaration + the whole NETWORK element
    AnsiString CAConfig;          // the declaration + the whole CA element
    // THREADS: how many threads a Send uses to pack and unpack the items and
    // convert long texts (1: all on the calling thread); 0 when absent, empty
    // or not a number: the hardware threads, at most 8.
    int Threads = 0;
};

// One side of a transaction (the request or the reply).
struct TData {
    AnsiString Text;                     // request: the PDU in the system code page
    AnsiString Sender;                   // sender code
    AnsiString TypeCode;                 // type code (selects the action.ini section)
    AnsiString Reserve;                  // reserved field
    std::unique_ptr<TStringList> Files;  // the work files' full paths; null until filled
    AnsiString ZipFile;                  // the archive (or the file standing in for it)
    AnsiString DataFile;                 // the file posted / the file received
    bool HasBody = false;
    bool IsCompress = false;
    bool IsCrypt = false;
    AnsiString Date;    // yyyymmdd
    AnsiString Header;  // the 64-column transport header
    // Request: large items compressed on workers while their files are
    // written, from `Text` (declared after it: its jobs end first).
    std::unique_ptr<TPackAhead> Ahead;
    // Reply: the files converted as the unpacking writes them (with workers).
    std::unique_ptr<TReplyPieces> Unpacked;
};

// A native host's view of Send's own steps: called after the engine wrote
// Progress and Status (not for what the network component writes during the
// post, which the host sees in its own variables).
using TSendObserver = std::function<void(SHORT progress, const WideString& status)>;

class TSender {
  public:
    TSender();
    // Releases the components but leaves their DLLs registered.
    ~TSender();
    TSender(const TSender&) = delete;
    TSender& operator=(const TSender&) = delete;

    // Gives up the components of the last Init without touching them: their
    // objects are neither released nor unregistered, and the engine is left
    // without components and not initialised. For the library's unload,
    // where calling into other modules is unsafe; the objects then live on
    // until the process ends.
    void AbandonComponents();

    HRESULT Init(BSTR Config, BSTR& Message, VARIANT_BOOL& Result);
    HRESULT Send(BSTR Request, BSTR& Reply, SHORT& Progress, BSTR& Status, BSTR& Message,
                 VARIANT_BOOL& Result);
    HRESULT TestConn(BSTR& Message, VARIANT_BOOL& Result);

    void SetObserver(TSendObserver observer) { observer_ = std::move(observer); }
    // For a native host: packing workers for the next Sends, in place of the
    // configuration's THREADS (0: the configuration decides again).
    void SetThreads(int threads) { threads_ = threads; }
    // The most UTF-16 units of a reply PDU that BuildReply, with workers,
    // converts in one reading and keeps until it is put together; a larger
    // PDU is read twice (counted, then written). Tests lower it.
    void SetReplyKeepLimit(size_t units) { replyKeepLimit_ = units; }
    bool Initialized() const { return Initialized_; }
    const TConfig& Config() const { return Config_; }
    const AnsiString& ActionIniPath() const { return ActionIniPath_; }

    // The steps, for tests and for the operations above.
    void ReadConfig(const AnsiString& text);
    void ReadRequest(BSTR request, TData& req);
    WideString BuildReplyPdu(const TData& rep);
    // The same straight into `reply` (what Send hands back), replacing and
    // freeing what it held.
    void BuildReply(const TData& rep, BSTR& reply);
    bool BuildHeader(TData& req);
    bool ParseReplyHeader(TData& rep);
    bool ReadHasBody(const AnsiString& typeCode);
    bool ReadIsCompress(const AnsiString& typeCode);
    bool ReadIsCrypt(const AnsiString& typeCode);
    void ClearWorkFiles(TData& req, TData& rep);

  private:
    class TBusy;
    HRESULT SendSteps(BSTR Request, BSTR& Reply, SHORT& Progress, BSTR& Status, BSTR& Message,
                      VARIANT_BOOL& Result, TData& req, TData& rep);
    bool ReadAction(const AnsiString& typeCode, const char* key);
    // The worker threads of one Send (SetThreads, else THREADS, else the
    // hardware's), the calling thread included.
    int Threads() const;

    bool Initialized_ = false;
    TConfig Config_;
    std::unique_ptr<TCAInvoker> CAInvoker_;
    std::unique_ptr<TNetworkInvoker> NetworkInvoker_;
    AnsiString ActionIniPath_;
    std::atomic<bool> busy_{false};  // a call is running (see TBusy)
    TSendObserver observer_;
    int threads_ = 0;  // SetThreads; 0: Config_.Threads
    size_t replyKeepLimit_ = 16 * 1024 * 1024;  // units: 32 MiB of UTF-16
};

}  // namespace nuva
