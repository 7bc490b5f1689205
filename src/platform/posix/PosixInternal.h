// Helpers shared by the POSIX implementation files; not part of the seam.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/Errors.h"

namespace nuva::posix {

// A path in the system code page as the UTF-8 name on disk.
std::string ToDisk(const AnsiString& path);
uint32_t AttributesOf(const struct stat& st);
// Local time <-> DOS date/time (date in the high word).
uint32_t TimeToDos(time_t t);
time_t DosToTime(uint32_t dos);

}  // namespace nuva::posix
