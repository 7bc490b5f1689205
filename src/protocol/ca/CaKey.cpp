#include "ca/CaKey.h"

#include "ca/CaTexts.h"
#include "platform/Platform.h"
#include "util/util.h"

namespace nuva::ca {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool ParseKeyFile(const std::string& content, std::string& key) {
    // Hexadecimal first: 64 digits are never taken for raw bytes.
    const std::string text = Trim(content);
    if (text.size() == 2 * kKeySize) {
        std::string bytes;
        for (size_t i = 0; i < text.size(); i += 2) {
            const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
            if (high < 0 || low < 0) {
                bytes.clear();
                break;
            }
            bytes += static_cast<char>(high * 16 + low);
        }
        if (bytes.size() == kKeySize) {
            key = bytes;
            return true;
        }
    }
    if (content.size() == kKeySize) {
        key = content;
        return true;
    }
    return false;
}

TCryptKey ReadCryptKey(const TNuvaConfig& config) {
    const bool hasFile = config.Has("KEY_FILE"), hasPassphrase = config.Has("PASSPHRASE");
    if (hasFile && hasPassphrase) throw EConfigError(WideToAnsi(texts::kTwoKeys));
    if (!hasFile && !hasPassphrase) throw EConfigError(WideToAnsi(texts::kNoKey));

    TCryptKey key;
    if (hasFile) {
        const AnsiString path = config.Text("KEY_FILE");
        std::string content;
        try {
            content = LoadFileText(path);
        } catch (const Exception& e) {
            throw EConfigError(WideToAnsi(texts::kKeyFileUnreadable) + path + ":" + e.Message());
        }
        if (!ParseKeyFile(content, key.secret))
            throw EConfigError(WideToAnsi(texts::kKeyFileInvalid) + path);
        key.kind = TKeyKind::KeyFile;
        key.iterations = 1;
        return key;
    }
    const AnsiString passphrase = config.Text("PASSPHRASE");
    if (passphrase.empty()) throw EConfigError(WideToAnsi(texts::kEmptyPassphrase));
    key.kind = TKeyKind::Passphrase;
    key.secret = AnsiToUtf8(passphrase);
    key.iterations = config.Number("ITERATIONS", kDefaultIterations, 1, kMaxIterations);
    return key;
}

}  // namespace nuva::ca
