# Cross build of the Windows x86-64 binaries with mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NUVA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NUVA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NUVA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NUVA_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${NUVA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests run under Wine through a wrapper that the build configures.
set(NUVA_RUN_UNDER_WINE ON)
