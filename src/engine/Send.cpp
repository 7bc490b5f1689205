// Send: one transaction through the pipeline. The progress value and the
// status line are the host's own variables, written at every step; a step
// that reports failure ends the call with its text as both Message and
// Status and progress 100; a raised error ends it inside the Send frame with
// the progress and status of the step that was running. The work files go on
// every way out.
#include "engine/EngineInternal.h"
#include "engine/EngineTexts.h"
#include "invokers/OleError.h"
#include "platform/Platform.h"
#include "util/util.h"
#include "zip/CompressUtil.h"

namespace nuva {

namespace {

// A stale file at a path a component is about to write must not be taken for
// its output.
void RemoveStale(const AnsiString& path) {
    if (!FileExists(path)) return;
    DeleteFile(path);
    if (FileExists(path)) throw EFCreateError(path, LastErrorText());
}

}  // namespace

int TSender::Threads() const {
    return ZipThreads(threads_ > 0 ? threads_ : Config_.Threads);
}

HRESULT TSender::Send(BSTR Request, BSTR& Reply, SHORT& Progress, BSTR& Status, BSTR& Message,
                      VARIANT_BOOL& Result) {
    TBusy busy(*this);
    if (!busy.Acquired()) {
        AssignBstr(Reply, WideString());
        AssignBstr(Message, engine::ErrorFrame(texts::kBusy, texts::kSendReason));
        Result = VARIANT_FALSE;
        return S_OK;
    }
    TData req, rep;
    try {
        try {
            return SendSteps(Request, Reply, Progress, Status, Message, Result, req, rep);
        } catch (const Exception& e) {
            ClearWorkFiles(req, rep);
            AssignBstr(Reply, WideString());
            AssignBstr(Message, engine::ErrorFrame(AnsiToWide(e.Message()), texts::kSendReason));
            Result = VARIANT_FALSE;
            return S_OK;
        }
    } catch (...) {
        ClearWorkFiles(req, rep);
        Result = VARIANT_FALSE;
        return E_UNEXPECTED;
    }
}

HRESULT TSender::SendSteps(BSTR Request, BSTR& Reply, SHORT& Progress, BSTR& Status, BSTR& Message,
                           VARIANT_BOOL& Result, TData& req, TData& rep) {
    AssignBstr(Reply, WideString());
    AssignBstr(Message, WideString());
    if (!Initialized_) {
        Result = VARIANT_FALSE;
        AssignBstr(Message, texts::kNotInitialized);
        return S_OK;
    }

    auto step = [&](SHORT progress, const WideString& status) {
        Progress = progress;
        AssignBstr(Status, status);
        if (observer_) observer_(progress, status);
    };
    auto fail = [&](const WideString& text) {
        AssignBstr(Message, text);
        step(100, text);
        Result = VARIANT_FALSE;
        ClearWorkFiles(req, rep);
        return S_OK;
    };

    step(0, texts::kPreparing);
    step(10, texts::kReading);
    ReadRequest(Request, req);
    step(20, texts::kReadDone);

    TBstr msg;
    if (req.HasBody) {
        if (req.IsCompress) {
            step(20, texts::kCompressing);
            if (!ZipFiles(*req.Files, req.ZipFile, Threads(), req.Ahead.get()))
                return fail(texts::kCompressFailed);
            req.Ahead.reset();
            step(40, texts::kCompressDone);
        } else {
            // Only the first item travels.
            req.ZipFile = req.Files->Strings(0);
        }
        if (req.IsCrypt) {
            step(50, texts::kEncrypting);
            RemoveStale(req.DataFile);
            TBstr source = TBstr::FromAnsi(req.ZipFile), target = TBstr::FromAnsi(req.DataFile);
            VARIANT_BOOL ok = VARIANT_FALSE;
            OleCheck(CAInvoker_->EncryptFile(source.Get(), *target.InOut(), *msg.InOut(), ok));
            if (!ok) return fail(texts::kEncryptFailedOpen + msg.ToWide() + texts::kReasonClose);
            step(70, texts::kEncryptDone);
        } else {
            req.DataFile = req.ZipFile;
        }
    }

    step(80, texts::kBuildingHeader);
    if (!BuildHeader(req)) return fail(texts::kHeaderFailed);
    step(90, texts::kHeaderDone);
    step(100, texts::kReady);

    step(0, texts::kPosting);
    {
        TBstr header = TBstr::FromAnsi(req.Header), dataFile = TBstr::FromAnsi(req.DataFile);
        TBstr replyHeader, replyFile = TBstr::FromAnsi(Config_.ReceiveFilePath);
        VARIANT_BOOL ok = VARIANT_FALSE;
        OleCheck(NetworkInvoker_->Post(header.Get(), dataFile.Get(), *replyHeader.InOut(),
                                       *replyFile.InOut(), Progress, Status, *msg.InOut(), ok));
        if (!ok) return fail(texts::kPostFailedOpen + msg.ToWide() + texts::kReasonClose);
        rep.Header = replyHeader.ToAnsi();
        rep.DataFile = replyFile.ToAnsi();
    }
    step(100, texts::kPostDone);

    step(0, texts::kProcessingReply);
    step(10, texts::kReadingReply);
    if (!ParseReplyHeader(rep)) return fail(texts::kReplyFailed);
    step(30, texts::kReplyDone);

    if (rep.HasBody) {
        if (rep.IsCrypt) {
            step(40, texts::kDecrypting);
            // The component may spell the received file otherwise (case, a
            // "." step): it is not stale when it is that very file.
            if (rep.ZipFile != rep.DataFile && !IsSameFile(rep.ZipFile, rep.DataFile))
                RemoveStale(rep.ZipFile);
            TBstr source = TBstr::FromAnsi(rep.DataFile), target = TBstr::FromAnsi(rep.ZipFile);
            VARIANT_BOOL ok = VARIANT_FALSE;
            OleCheck(CAInvoker_->DecryptFile(source.Get(), *target.InOut(), *msg.InOut(), ok));
            if (!ok) return fail(texts::kDecryptFailedOpen + msg.ToWide() + texts::kReasonClose);
            step(60, texts::kDecryptDone);
        } else {
            rep.ZipFile = rep.DataFile;
        }
        if (rep.IsCompress) {
            step(70, texts::kUnpacking);
            const int threads = Threads();
            // With workers, the files are converted for the reply as they
            // are written.
            if (threads > 1)
                rep.Unpacked = std::make_unique<TReplyPieces>(threads, replyKeepLimit_);
            if (!UnzipAndList(rep.ZipFile, Config_.ReceiveFilePath + rep.Sender, rep.Files, threads,
                              rep.Unpacked.get()))
                return fail(texts::kUnpackFailed);
            step(80, texts::kUnpackDone);
        } else {
            // Exactly the one file: a directory in its place must not bring
            // the receive directory's files into the reply.
            rep.Files = std::make_unique<TStringList>();
            rep.Files->Add(rep.ZipFile);
        }
    }

    step(90, texts::kBuildingReply);
    TBstr reply;
    BuildReply(rep, *reply.InOut());
    step(100, texts::kReplyBuilt);
    ClearWorkFiles(req, rep);
    SysFreeString(Reply);
    Reply = reply.Detach();
    AssignBstr(Message, texts::kSucceeded);
    Result = VARIANT_TRUE;
    return S_OK;
}

}  // namespace nuva
