// nuva send / init / testconn with --com or --late: the library driven
// exactly as a business application drives it, through its COM server.
// SenderImpl is created by its ProgID and called through the ISender vtable
// (--com) or through IDispatch by name (--late). And nuva register, which
// installs the host's type library and the library on Windows.
//
// On Windows the server must be registered (nuva register, or regsvr32 with
// the host's Sender.tlb registered). Where the registry lives in the process
// (POSIX), nuva first registers the library file found beside it or in the
// current directory.
#include <cstdio>

#include "Commands.h"
#include "com/Registration.h"
#include "com/SenderImpl.h"
#include "invokers/ComponentInvoker.h"
#include "invokers/OleError.h"
#include "platform/Com.h"
#include "zip/CompressUtil.h"
#include "platform/Platform.h"
#include "util/util.h"

namespace nuva::cli {

namespace {

constexpr char kHostTypeLibrary[] = "Sender.tlb";
constexpr char kServerFile[] = "DuredaVevuvavizuriz_NUVA.dll";

// The shared options, and those that only this path allows: exactly one of
// --com and --late, no --home.
bool ParseComOptions(const std::string& command, const TArgs& args, TTransactionOptions& o) {
    if (!ParseTransactionOptions(args, command == "send", o)) return false;
    if (!o.home.empty()) {
        Err("nuva: --home reaches only nuva's own engine: with --com and --late the library\n"
            "      reads action.ini beside nuva itself\n");
        return false;
    }
    if (o.modes != 1) {
        Err("nuva: give one of --com and --late\n");
        return false;
    }
    return true;
}

class TComScope {
  public:
    TComScope() { CoInitialize(nullptr); }
    ~TComScope() { CoUninitialize(); }
};

// A failed call's text: the code and the server's description, or the
// system's text for the code when the server gave none.
AnsiString FailureText(HRESULT hr, const WideString& description) {
    return Format("0x%08X ", static_cast<unsigned>(hr)) +
           (description.empty() ? SystemErrorText(hr) : WideToAnsi(description));
}

// One SenderImpl object and the three methods, through the vtable or by
// name. Each method returns the call's HRESULT; on failure `Failure()` holds
// the server's description (the thread's error info, or EXCEPINFO).
class TComSender {
  public:
    explicit TComSender(bool late) : late_(late) {}

    // Creates the object; false (with a message) when it cannot be.
    bool Create() {
        CLSID clsid;
        WideString progId = AnsiToWide(kSenderProgId);
        HRESULT hr = CLSIDFromProgID(OleText(progId.c_str()), &clsid);
        if (SUCCEEDED(hr)) {
            hr = late_ ? CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                          dispatch_.ReceiveVoid())
                       : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISender,
                                          sender_.ReceiveVoid());
        }
        if (SUCCEEDED(hr)) return true;
        WideString description;
        TakeThreadErrorDescription(&description);
        Err(AnsiString("nuva: cannot create ") + kSenderProgId + ": " +
            FailureText(hr, description) + "\n");
        if (RegistryOutlivesProcess())
            Err("nuva: is the library registered, with the host's Sender.tlb? (nuva register)\n");
        return false;
    }

    HRESULT Init(BSTR config, BSTR& message, VARIANT_BOOL& result) {
        if (!late_) return Vtable(sender_->Init(config, &message, &result));
        return Late(u"Init", {TDispArg::ByValue(config), TDispArg::ByRefString(&message),
                              TDispArg::ByRefBool(&result)});
    }

    HRESULT TestConn(BSTR& message, VARIANT_BOOL& result) {
        if (!late_) return Vtable(sender_->TestConn(&message, &result));
        return Late(u"TestConn", {TDispArg::ByRefString(&message), TDispArg::ByRefBool(&result)});
    }

    HRESULT Send(BSTR request, BSTR& reply, SHORT& progress, BSTR& status, BSTR& message,
                 VARIANT_BOOL& result) {
        if (!late_)
            return Vtable(sender_->Send(request, &reply, &progress, &status, &message, &result));
        return Late(u"Send", {TDispArg::ByValue(request), TDispArg::ByRefString(&reply),
                              TDispArg::ByRefShort(&progress), TDispArg::ByRefString(&status),
                              TDispArg::ByRefString(&message), TDispArg::ByRefBool(&result)});
    }

    const WideString& Failure() const { return failure_; }

  private:
    HRESULT Vtable(HRESULT hr) {
        failure_.clear();
        if (FAILED(hr)) TakeThreadErrorDescription(&failure_);
        return hr;
    }

    HRESULT Late(const char16_t* name, std::initializer_list<TDispArg> args) {
        failure_.clear();
        WideString text = name;
        LPOLESTR names[] = {OleText(&text[0])};
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) return hr;
        // DISPPARAMS holds the arguments last first.
        std::vector<VARIANT> reversed;
        for (auto a = args.end(); a != args.begin();) reversed.push_back((--a)->Variant());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        EXCEPINFO info{};
        UINT argErr = 0;
        hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                               &info, &argErr);
        failure_ = BstrToWide(info.bstrDescription);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        return hr;
    }

    bool late_;
    TComPtr<ISender> sender_;
    TComPtr<IDispatch> dispatch_;
    WideString failure_;
};

// Where the registry lives in the process, the library must register itself
// before a host can create its objects.
bool RegisterInProcess() {
    if (RegistryOutlivesProcess()) return true;
    if (RegisterDll(kServerFile, true)) return true;
    Err(AnsiString("nuva: cannot register ") + kServerFile +
        " (looked for beside nuva and in the current directory)\n");
    return false;
}

bool Failed(const char* method, HRESULT hr, const TComSender& sender) {
    if (SUCCEEDED(hr)) return false;
    Err(Format("nuva: %s failed: ", method) + FailureText(hr, sender.Failure()) + "\n");
    return true;
}

}  // namespace

bool WantsComServer(const std::string& command, const TArgs& args) {
    if (command != "send" && command != "init" && command != "testconn") return false;
    for (const std::string& a : args)
        if (a == "--com" || a == "--late") return true;
    return false;
}

int ComHostCommand(const std::string& command, const TArgs& args) {
    TTransactionOptions o;
    if (!ParseComOptions(command, args, o)) return 2;
    TComScope com;
    if (!RegisterInProcess()) return 2;
    TComSender sender(o.late);
    if (!sender.Create()) return 2;

    TBstr config = ReadHostBstr(o.config, 1), message;
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (Failed("Init", sender.Init(config.Get(), *message.Receive(), ok), sender)) return 2;
    if (!ok || message.Length() > 0) Out(message.ToAnsi() + "\n");
    if (!ok) return 1;
    if (command == "init") {
        Out("Init: ok\n");
        return 0;
    }

    if (command == "testconn") {
        if (Failed("TestConn", sender.TestConn(*message.Receive(), ok), sender)) return 2;
        Out(message.ToAnsi() + (ok ? "\nTestConn: ok\n" : "\n"));
        return ok ? 0 : 1;
    }

    const int threads = ZipThreads(o.threads);
    TBstr request = ReadHostBstr(o.request, threads), reply, status;
    SHORT progress = 0;
    if (Failed("Send",
               sender.Send(request.Get(), *reply.Receive(), progress, *status.InOut(),
                           *message.Receive(), ok),
               sender))
        return 2;
    // The steps ran inside the server: only where they ended is left to show.
    Err(Format("%3d%% ", progress) + status.ToAnsi() + "\n");
    if (ok) {
        if (!o.reply.empty())
            SaveFileText(ReplyText(reply, threads), o.reply);
        else
            Out(ReplyText(reply, threads) + "\n");
    }
    Out(message.ToAnsi() + "\n");
    return ok ? 0 : 1;
}

int RegisterCommand(const TArgs& args) {
    bool unregister = false;
    AnsiString dir = ExeDirectory();
    for (const std::string& a : args) {
        if (a == "--unregister") {
            unregister = true;
        } else if (!a.empty() && a[0] != '-') {
            dir = IncludeTrailingPathDelimiter(ArgumentToAnsi(a.c_str()));
        } else {
            Err("nuva: unexpected argument \"" + ArgumentToAnsi(a.c_str()) +
                "\" (try nuva --help)\n");
            return 2;
        }
    }
    if (!RegistryOutlivesProcess()) {
        Err("nuva: register: this platform's registry lives in each process; send, init and\n"
            "      testconn with --com or --late register the library themselves\n");
        return 2;
    }
    const AnsiString typeLibrary = dir + kHostTypeLibrary;
    const AnsiString server = dir + kServerFile;
    TComScope com;
    // The server's type library imports ISender from the host's: the host's
    // comes first and goes last.
    if (unregister) {
        if (!RegisterDll(server, false)) {
            Err("nuva: cannot unregister " + server + "\n");
            return 1;
        }
        UnregisterTypeLibraryFile(typeLibrary);
        Out("unregistered " + server + " and " + typeLibrary + "\n");
        return 0;
    }
    RegisterTypeLibraryFile(typeLibrary);
    if (!RegisterDll(server, true)) {
        Err("nuva: cannot register " + server + "\n");
        return 1;
    }
    Out("registered " + typeLibrary + " and " + server + "\n");
    return 0;
}

}  // namespace nuva::cli
