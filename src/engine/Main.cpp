// The engine's state, Init and TestConn.
#include "engine/Main.h"

#include <cstdlib>
#include <vector>

#include "engine/EngineInternal.h"
#include "engine/EngineTexts.h"
#include "invokers/InvokerTexts.h"
#include "invokers/OleError.h"
#include "platform/Platform.h"
#include "util/XmlUtil.h"
#include "util/util.h"

namespace nuva {

namespace {

// The declaration that heads each component's configuration text.
constexpr const char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"GBK\"?>";

}  // namespace

TSender::TBusy::TBusy(TSender& engine) : engine_(engine) {
    acquired_ = !engine_.busy_.exchange(true);
}

TSender::TBusy::~TBusy() {
    if (acquired_) engine_.busy_.store(false);
}

TSender::TSender() = default;

TSender::~TSender() {
    // The components of the last Init stay registered: only their objects go.
    if (NetworkInvoker_) NetworkInvoker_->KeepRegistered();
    if (CAInvoker_) CAInvoker_->KeepRegistered();
}

void TSender::AbandonComponents() {
    // They live on until the process ends, reachable from here (a leak
    // checker at exit must not count them as lost).
    Initialized_ = false;
    if (!NetworkInvoker_ && !CAInvoker_) return;
    static auto* abandoned = new std::vector<TComponentInvoker*>;
    if (NetworkInvoker_) {
        abandoned->push_back(NetworkInvoker_.get());
        (void)NetworkInvoker_.release();
    }
    if (CAInvoker_) {
        abandoned->push_back(CAInvoker_.get());
        (void)CAInvoker_.release();
    }
}

void TSender::ReadConfig(const AnsiString& text) {
    TXmlNode node;
    GetElement(text, "SEND_FILE_PATH", node);
    Config_.SendFilePath = NormalizeDir(XmlUnescape(node.Inner));
    GetElement(text, "RECEIVE_FILE_PATH", node);
    Config_.ReceiveFilePath = NormalizeDir(XmlUnescape(node.Inner));
    GetElement(text, "NETWORK_COMPONENT", node);
    Config_.NetworkComponent = XmlUnescape(node.Inner);
    GetElement(text, "CA_COMPONENT", node);
    Config_.CAComponent = XmlUnescape(node.Inner);
    // The component elements go on as written, entity references included.
    GetElement(text, "NETWORK", node);
    Config_.NetworkConfig = kXmlDeclaration + node.Outer;
    GetElement(text, "CA", node);
    Config_.CAConfig = kXmlDeclaration + node.Outer;
    GetElement(text, "THREADS", node);
    const AnsiString threads = Trim(XmlUnescape(node.Inner));
    char* end = nullptr;
    const long value = std::strtol(threads.c_str(), &end, 10);
    Config_.Threads = !threads.empty() && *end == '\0' && value > 0 && value <= 1000
                          ? static_cast<int>(value)
                          : 0;
}

HRESULT TSender::Init(BSTR Config, BSTR& Message, VARIANT_BOOL& Result) {
    TBusy busy(*this);
    if (!busy.Acquired()) {
        AssignBstr(Message, engine::ErrorFrame(texts::kBusy, texts::kInitReason));
        Result = VARIANT_FALSE;
        return S_OK;
    }
    try {
        try {
            AssignBstr(Message, WideString());
            // Each reference is cleared before its invoker goes, so that a
            // failure half-way never leaves one pointing at a destroyed
            // invoker. Destroying unregisters the component.
            std::unique_ptr<TCAInvoker> oldCA = std::move(CAInvoker_);
            oldCA.reset();
            std::unique_ptr<TNetworkInvoker> oldNetwork = std::move(NetworkInvoker_);
            oldNetwork.reset();

            ActionIniPath_ = ExeDirectory() + "action.ini";
            ReadConfig(WideToAnsi(BstrToWide(Config)));

            NetworkInvoker_ =
                std::make_unique<TNetworkInvoker>(Config_.NetworkComponent, "NetworkImpl");
            CAInvoker_ = std::make_unique<TCAInvoker>(Config_.CAComponent, "CAImpl");
            VARIANT_BOOL netOk = NetworkInvoker_->Ready() ? VARIANT_TRUE : VARIANT_FALSE;
            VARIANT_BOOL caOk = CAInvoker_->Ready() ? VARIANT_TRUE : VARIANT_FALSE;

            WideString netMsg, caMsg;
            if (!netOk) {
                netMsg = texts::kBadNetworkOpen + AnsiToWide(Config_.NetworkComponent) +
                         texts::kBadComponentClose;
            } else {
                TBstr config = TBstr::FromAnsi(Config_.NetworkConfig), msg;
                OleCheck(NetworkInvoker_->Init(config.Get(), *msg.InOut(), netOk));
                netMsg = msg.ToWide();
            }
            if (!caOk) {
                caMsg =
                    texts::kBadCAOpen + AnsiToWide(Config_.CAComponent) + texts::kBadComponentClose;
            } else {
                TBstr config = TBstr::FromAnsi(Config_.CAConfig), msg;
                OleCheck(CAInvoker_->Init(config.Get(), *msg.InOut(), caOk));
                caMsg = msg.ToWide();
            }

            if (!netOk || !caOk) {
                AssignBstr(Message,
                           texts::kInitFailedOpen + netMsg + caMsg + texts::kInitFailedClose);
                Result = VARIANT_FALSE;
            } else {
                AssignBstr(Message, netMsg + caMsg);
                Result = VARIANT_TRUE;
            }
        } catch (const Exception& e) {
            AssignBstr(Message, engine::ErrorFrame(AnsiToWide(e.Message()), texts::kInitReason));
            Result = VARIANT_FALSE;
        }
    } catch (...) {
        Initialized_ = false;
        return E_UNEXPECTED;
    }
    Initialized_ = Result != VARIANT_FALSE;
    return S_OK;
}

HRESULT TSender::TestConn(BSTR& Message, VARIANT_BOOL& Result) {
    TBusy busy(*this);
    if (!busy.Acquired()) {
        AssignBstr(Message, engine::ErrorFrame(texts::kBusy, texts::kTestConnReason));
        Result = VARIANT_FALSE;
        return S_OK;
    }
    try {
        try {
            AssignBstr(Message, WideString());
            if (!NetworkInvoker_) {
                // No Init yet, or one that failed before it made the
                // invokers: answer as a component that is not registered.
                AssignBstr(Message, texts::kNotRegisteredOpen +
                                        AnsiToWide(Config_.NetworkComponent) +
                                        texts::kNotRegisteredClose);
                Result = VARIANT_FALSE;
                return S_OK;
            }
            // A component that forgets to set the flag must not pass.
            Result = VARIANT_FALSE;
            OleCheck(NetworkInvoker_->TestConn(Message, Result));
        } catch (const Exception& e) {
            AssignBstr(Message,
                       engine::ErrorFrame(AnsiToWide(e.Message()), texts::kTestConnReason));
            Result = VARIANT_FALSE;
        }
    } catch (...) {
        return E_UNEXPECTED;
    }
    return S_OK;
}

}  // namespace nuva
