// What the runtime's files share; nothing here is exported.
#pragma once

#include <string>

#include "platform/com/runtime/ComApi.h"

namespace nuva::comrt {

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hexadecimal digits in
// either case, nothing before or after); false on anything else.
bool ParseBracedGuid(const OLECHAR* text, GUID* guid);

// The default value of HKEY_CLASSES_ROOT\`key` as text up to its first NUL
// (the stored terminator); false when the key or the value is missing.
bool ReadDefaultValue(const std::string& key, std::string* value);

}  // namespace nuva::comrt
