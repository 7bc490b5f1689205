# Cross build of the Windows i686 binaries with mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(NUVA_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${NUVA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NUVA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NUVA_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${NUVA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests run under 32-bit Wine where the machine runs 32-bit programs
# (scripts/test.sh probes and says so); elsewhere the build is inspected.
set(NUVA_RUN_UNDER_WINE ON)
