// TestCA: the configurable double of the CA component (class CAImpl: Init,
// EncryptFile, DecryptFile). Its "encryption" is reversible and checked, so
// that a pipeline that skips a step or swaps files shows up:
//
//   offset  size  content
//   0       8     magic "NUVATCA1"
//   8       n     the plain bytes, each XOR 0x5A
#include "TestComponent.h"
#include "platform/Platform.h"
#include "util/util.h"

namespace nuva {
namespace {

constexpr char16_t kSource[] = u"TestCA";
constexpr char16_t kEncryptFailed[] = u"TestCA加密失败";
constexpr char16_t kDecryptFailed[] = u"TestCA解密失败";
constexpr char16_t kSourceMissing[] = u"源文件不存在:";           // + path
constexpr char16_t kNotEncrypted[] = u"文件不是TestCA加密格式:";  // + path
constexpr char16_t kWriteFailed[] = u"写入目标文件失败:";         // + reason

constexpr char kMagic[] = "NUVATCA1";
constexpr size_t kMagicSize = sizeof(kMagic) - 1;  // bytes
constexpr unsigned char kXorKey = 0x5A;

AnsiString XorBytes(const AnsiString& bytes, size_t from) {
    AnsiString out = bytes.substr(from);
    for (char& c : out) c = static_cast<char>(static_cast<unsigned char>(c) ^ kXorKey);
    return out;
}

// One direction: its settings are named prefix + "_OK", "_MSG", "_TO",
// "_WRITE", "_RETURN".
struct TDirection {
    bool encrypt;
    const char* prefix;
    const char16_t* failed;  // the message of X_OK 0 without X_MSG

    AnsiString Setting(const char* suffix) const { return AnsiString(prefix) + suffix; }
};
constexpr TDirection kEncrypt = {true, "ENCRYPT", kEncryptFailed};
constexpr TDirection kDecrypt = {false, "DECRYPT", kDecryptFailed};

class TTestCA final : public TTestComponent {
  public:
    TTestCA() : TTestComponent(kSource) {
        const std::vector<TParam> params = {{"sourceFile", TArgKind::BstrIn},
                                            {"targetFile", TArgKind::BstrRef},
                                            {"msg", TArgKind::BstrRef},
                                            {"ok", TArgKind::BoolRef}};
        AddTestMember("EncryptFile", params,
                      [this](TDispatchArgs& args) { Transform(kEncrypt, args); });
        AddTestMember("DecryptFile", params,
                      [this](TDispatchArgs& args) { Transform(kDecrypt, args); });
    }

  private:
    enum : size_t { kSourceFile, kTargetFile, kMsg, kOk };

    bool On(const AnsiString& setting) const {
        return Config().Choice(setting, {"0", "1"}, swOn) == swOn;
    }

    void CheckConfig() const override {
        for (const TDirection* d : {&kEncrypt, &kDecrypt}) {
            On(d->Setting("_OK"));
            On(d->Setting("_WRITE"));
        }
    }

    void Transform(const TDirection& d, TDispatchArgs& args) {
        WideString failure;
        const bool ok = Run(d, args, &failure);
        // The target is handed back on every return, failures included.
        const AnsiString returned = d.Setting("_RETURN");
        if (Config().Has(returned)) args.SetText(kTargetFile, Config().Wide(returned));
        if (!ok)
            args.SetText(kMsg, failure);
        else if (Config().Has(d.Setting("_MSG")))
            args.SetText(kMsg, Config().Wide(d.Setting("_MSG")));
        args.SetBool(kOk, ok);
    }

    // Does the work; false with the message when it fails.
    bool Run(const TDirection& d, TDispatchArgs& args, WideString* failure) const {
        if (!On(d.Setting("_OK"))) {
            *failure = Config().Wide(d.Setting("_MSG"), d.failed);
            return false;
        }
        // Success without touching any file.
        if (!On(d.Setting("_WRITE"))) return true;
        const AnsiString source = WideToAnsi(args.Text(kSourceFile));
        if (!FileExists(source)) {
            *failure = kSourceMissing + AnsiToWide(source);
            return false;
        }
        const AnsiString to = d.Setting("_TO");
        const AnsiString target =
            Config().Has(to) ? Config().Text(to) : WideToAnsi(args.Text(kTargetFile));
        try {
            const AnsiString input = LoadFileText(source);
            AnsiString output;
            if (d.encrypt) {
                output = kMagic + XorBytes(input, 0);
            } else if (input.compare(0, kMagicSize, kMagic) == 0) {
                output = XorBytes(input, kMagicSize);
            } else {
                *failure = kNotEncrypted + AnsiToWide(source);
                return false;
            }
            SaveFileText(output, target);
        } catch (const EFCreateError& e) {
            *failure = kWriteFailed + AnsiToWide(e.Message());
            return false;
        } catch (const Exception& e) {
            *failure = AnsiToWide(e.Message());
            return false;
        }
        return true;
    }
};

const TComponentClass kClass = {"CAImpl", &CreateDispatchObject<TTestCA>};

}  // namespace
}  // namespace nuva

NUVA_COMPONENT_SERVER_EXPORTS(kClass)
