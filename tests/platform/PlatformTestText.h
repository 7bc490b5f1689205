// GBK texts the platform tests share, as bytes, with what they spell. Several
// end in a trail byte that is the Windows delimiter '\' (0x5C) or '|' (0x7C):
// a byte-wise scan would take it for a separator.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace nuva::test {

inline const AnsiString kGbkZhongWen = "\xD6\xD0\xCE\xC4";  // 中文
inline const AnsiString kGbkCheng = "\xD5\x5C";             // 誠, trail byte '\'
inline const AnsiString kGbkJin = "\xE5\x5C";               // 錦, trail byte '\'
inline const AnsiString kGbkTrailBar = "\x81\x7C";          // 亅, trail byte '|'
inline const AnsiString kGbkTrailA = "\x81\x61";            // 乤, trail byte 'a'

// `path` with every '/' turned into the platform delimiter, so that one table
// serves both builds.
inline AnsiString NativePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = PathDelim;
    return path;
}

}  // namespace nuva::test
