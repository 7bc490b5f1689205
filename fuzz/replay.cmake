# Included from tests/CMakeLists.txt: each fuzz target is also built with the
# replay main and run by ctest over its committed seeds (fuzz/seeds/NAME/)
# and the archive fixtures.
file(GLOB NUVA_FUZZ_TARGETS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
nuva_our_libraries(NUVA_FUZZ_REPLAY_LIBS)
# zlib (found by tests/CMakeLists.txt) checks the compressor's output.
if(TARGET ZLIB::ZLIB)
  list(APPEND NUVA_FUZZ_REPLAY_LIBS ZLIB::ZLIB)
endif()
foreach(src ${NUVA_FUZZ_TARGETS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name}_replay ${src} ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
  target_link_libraries(${name}_replay PRIVATE ${NUVA_FUZZ_REPLAY_LIBS})
  add_test(NAME ${name}_replay
           COMMAND ${name}_replay ${PROJECT_SOURCE_DIR}/fuzz/seeds/${name} ${NUVA_SHARED_DIR}/fixtures/zip)
endforeach()
