// NuvaCA: the CA component (class CAImpl: Init, EncryptFile, DecryptFile).
// It seals whole files with AES-256-GCM in the chunked format of
// ca/CryptFile.h, the same on both builds and in nuva-server. The key comes
// from the CA element (ca/CaKey.h). Output goes to a temporary file beside
// targetFile and is renamed onto it only when complete; on any failure ok is
// false, msg says why and no output (no plaintext) is left.
//
// Members, as the engine calls them:
//   Init(configXml, msg, ok)                   reads the key; ok false + msg on a bad setting
//   EncryptFile(sourceFile, targetFile, msg, ok)
//   DecryptFile(sourceFile, targetFile, msg, ok)
// targetFile is read, never changed. Threads: one call at a time per object.
#include <optional>

#include "ComponentSupport.h"
#include "NuvaConfig.h"
#include "ca/CaKey.h"
#include "ca/CaTexts.h"
#include "platform/Platform.h"

namespace nuva {
namespace {

constexpr char16_t kSource[] = u"NuvaCA";

class TNuvaCA final : public TDispatchObject {
  public:
    TNuvaCA() : TDispatchObject(kSource) {
        AddMember({"Init",
                   {{"configXml", TArgKind::BstrIn},
                    {"msg", TArgKind::BstrRef},
                    {"ok", TArgKind::BoolRef}},
                   [this](TDispatchArgs& args) { Init(args); }});
        const std::vector<TParam> params = {{"sourceFile", TArgKind::BstrIn},
                                            {"targetFile", TArgKind::BstrRef},
                                            {"msg", TArgKind::BstrRef},
                                            {"ok", TArgKind::BoolRef}};
        AddMember({"EncryptFile", params, [this](TDispatchArgs& args) { Transform(true, args); }});
        AddMember({"DecryptFile", params, [this](TDispatchArgs& args) { Transform(false, args); }});
    }

  private:
    enum : size_t { kSourceFile, kTargetFile, kMsg, kOk };

    void Init(TDispatchArgs& args) {
        key_.reset();
        try {
            key_ = ca::ReadCryptKey(TNuvaConfig(WideToAnsi(args.Text(0))));
        } catch (const Exception& e) {
            args.SetText(1, AnsiToWide(e.Message()));
            args.SetBool(2, false);
            return;
        }
        args.SetText(1, ca::texts::kInitDone);
        args.SetBool(2, true);
    }

    void Transform(bool encrypt, TDispatchArgs& args) {
        const WideString failed = encrypt ? ca::texts::kEncryptFailed : ca::texts::kDecryptFailed;
        auto fail = [&](const WideString& reason) {
            args.SetText(kMsg, failed + reason);
            args.SetBool(kOk, false);
        };
        if (!key_) return fail(ca::texts::kNotInitialized);
        const AnsiString source = WideToAnsi(args.Text(kSourceFile));
        const AnsiString target = WideToAnsi(args.Text(kTargetFile));
        if (!FileExists(source)) return fail(ca::texts::kSourceMissing + AnsiToWide(source));
        try {
            if (encrypt)
                ca::SealFile(source, target, *key_);
            else
                ca::UnsealFile(source, target, *key_);
        } catch (const Exception& e) {
            return fail(AnsiToWide(e.Message()));
        }
        args.SetText(kMsg, WideString());
        args.SetBool(kOk, true);
    }

    std::optional<ca::TCryptKey> key_;
};

const TComponentClass kClass = {"CAImpl", &CreateDispatchObject<TNuvaCA>};

}  // namespace
}  // namespace nuva

NUVA_COMPONENT_SERVER_EXPORTS(kClass)
