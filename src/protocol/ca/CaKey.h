// CaKey: the key settings of a CA element, shared by NuvaCA.dll and
// nuva-server (whose configuration carries the same element).
//
//   KEY_FILE    a key file: exactly 32 bytes, or 64 hexadecimal digits with
//               optional white space around them
//   PASSPHRASE  a passphrase (taken as UTF-8 on both builds, so that files
//               move between them); not empty
//   ITERATIONS  PBKDF2 rounds for new files sealed with the passphrase,
//               1..1000000, default 600000 (current guidance for
//               PBKDF2-HMAC-SHA256); a file's own count is read from it when
//               it is opened, so files of an earlier default still open
//
// Exactly one of KEY_FILE and PASSPHRASE. Errors: EConfigError with the
// message (system code page); the key file is read once, here.
#pragma once

#include "NuvaConfig.h"
#include "ca/CryptFile.h"

namespace nuva::ca {

constexpr uint32_t kDefaultIterations = 600000;

TCryptKey ReadCryptKey(const TNuvaConfig& config);

// The 32 key bytes of a key file's content, or false when it is neither 32
// bytes nor 64 hexadecimal digits.
bool ParseKeyFile(const std::string& content, std::string& key);

}  // namespace nuva::ca
