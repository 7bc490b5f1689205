# Warnings for our own targets.
function(nuva_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()

# nuva_add_library(NAME SOURCES... [DEPS ...]): a static library nuva_NAME with
# the alias nuva::NAME, its include root at src/.
function(nuva_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(nuva_${name} STATIC ${ARG_SOURCES})
  add_library(nuva::${name} ALIAS nuva_${name})
  target_include_directories(nuva_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(nuva_${name} PUBLIC ${ARG_DEPS})
  nuva_warnings(nuva_${name})
endfunction()

# nuva_add_test(NAME SOURCES... [DEPS ...]): one GoogleTest program, run by
# ctest (under Wine for the Windows builds); it writes its results as XML to
# ${CMAKE_BINARY_DIR}/test-results so that the test command can count cases.
function(nuva_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} nuva_test_support)
  nuva_warnings(${name})
  set(results ${CMAKE_BINARY_DIR}/test-results/${name}.xml)
  if(CMAKE_CROSSCOMPILING AND WIN32)
    # Under Wine a path without a drive is relative to the current drive's
    # working directory; the Linux root is drive Z:.
    string(REPLACE "/" "\\" results "Z:${results}")
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${results})
  set_tests_properties(${name} PROPERTIES TIMEOUT 900)
endfunction()

# nuva_our_libraries(VAR): the nuva:: libraries that this build defines, most
# dependent first, for programs that link all of them (benchmarks, fuzzers).
function(nuva_our_libraries var)
  set(libs)
  foreach(lib engine invokers zip codec util com platform)
    if(TARGET nuva_${lib})
      list(APPEND libs nuva::${lib})
    endif()
  endforeach()
  set(${var} ${libs} PARENT_SCOPE)
endfunction()

# nuva_version_resource(TARGET DESCRIPTION): on Windows, a VERSIONINFO
# resource for a binary we ship: file and product version from the project's
# version (project() in the top CMakeLists.txt, the one place it is set), the
# product name, DESCRIPTION and the file's original name. Nothing elsewhere.
function(nuva_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  if(type STREQUAL "EXECUTABLE")
    set(NUVA_VERSION_FILETYPE VFT_APP)
    set(NUVA_VERSION_FILENAME ${name}.exe)
  else()
    set(NUVA_VERSION_FILETYPE VFT_DLL)
    set(NUVA_VERSION_FILENAME ${name}.dll)
  endif()
  set(NUVA_VERSION_INTERNAL ${name})
  set(NUVA_VERSION_DESCRIPTION "${description}")
  set(NUVA_VERSION_COMMAS
      "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
