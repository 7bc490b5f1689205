# Windows programs built here (tests, the CLI) run under Wine through a
# wrapper configured into the build tree; included before any target exists,
# because a target takes the emulator when it is created.
if(NUVA_RUN_UNDER_WINE)
  set(NUVA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  # i686 programs run in a 32-bit prefix through the 32-bit loader (package
  # wine32:i386, on machines whose kernel runs 32-bit programs).
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(NUVA_WINEARCH win32)
    set(NUVA_WINE_LOADER /usr/lib/wine/wine)
  else()
    set(NUVA_WINEARCH win64)
    set(NUVA_WINE_LOADER /usr/lib/wine/wine64)
  endif()
  # LC_ALL=zh_CN.UTF-8 alone gives Wine code page 936, but unless the C
  # library knows that locale Wine takes the Unix file-name charset for ASCII
  # and every non-ASCII file name fails. Compile the locale into the build
  # tree (the system's locales stay as they are) and point LOCPATH at it.
  set(NUVA_WINE_LOCPATH ${CMAKE_BINARY_DIR}/locale)
  if(NOT EXISTS ${NUVA_WINE_LOCPATH}/zh_CN.UTF-8/LC_CTYPE)
    find_program(NUVA_LOCALEDEF localedef)
    if(NUVA_LOCALEDEF)
      file(MAKE_DIRECTORY ${NUVA_WINE_LOCPATH})
      execute_process(COMMAND ${NUVA_LOCALEDEF} -i zh_CN -f UTF-8 ${NUVA_WINE_LOCPATH}/zh_CN.UTF-8
                      RESULT_VARIABLE localedef_result OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(NOT EXISTS ${NUVA_WINE_LOCPATH}/zh_CN.UTF-8/LC_CTYPE)
      message(WARNING "cannot compile the zh_CN.UTF-8 locale (package locales): "
                      "tests with Chinese file names will fail under Wine")
    endif()
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/scripts/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
endif()
