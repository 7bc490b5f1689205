# The COM server's tests, included from tests/CMakeLists.txt. Under Wine all
# of them share the registry with the other test programs: they take turns.
#
# com_tests links the server's module (on Windows with the type library as
# the program's own resource, as the library file has it); com_server_tests
# links none of the server's code and meets the library file as hosts do.
nuva_area_tests(com DEPS nuva::senderimpl nuva::util)
nuva_area_tests(com/server DEPS nuva::senderimpl nuva::invokers nuva::util)
if(WIN32)
  target_sources(com_tests PRIVATE ${NUVA_SENDERIMPL_RC})
  # The version resources of the binaries beside it, read through the system.
  target_link_libraries(com_server_tests PRIVATE version)
  target_compile_definitions(com_server_tests PRIVATE NUVA_PROJECT_VERSION="${PROJECT_VERSION}")
  add_dependencies(com_server_tests ${NUVA_REAL_COMPONENTS})
endif()
foreach(program com_tests com_server_tests)
  add_dependencies(${program} DuredaVevuvavizuriz_NUVA ${NUVA_TEST_COMPONENTS})
  set_tests_properties(${program} PROPERTIES RESOURCE_LOCK registry)
endforeach()
# nuva is the host of the Windows test without the host's type library.
add_dependencies(com_server_tests nuva)

# Paths as the programs of this build see them: Wine sees the Linux root as
# drive Z:.
function(nuva_native_path var path)
  if(WIN32)
    string(REPLACE "/" "\\" path "Z:${path}")
  endif()
  set(${var} "${path}" PARENT_SCOPE)
endfunction()
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(runner ${CMAKE_CROSSCOMPILING_EMULATOR})
else()
  set(runner env)
endif()

# nuva as a business application runs the library: a whole transaction with
# the test components through the ISender vtable (--com) and IDispatch
# (--late); on Windows after nuva register, which it undoes at the end.
set(cli_com_dir ${CMAKE_CURRENT_BINARY_DIR}/cli_com)
nuva_native_path(cli_com_native ${cli_com_dir})
add_test(NAME cli_com COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/com/cli_com.sh ${runner}
         $<TARGET_FILE:nuva> ${cli_com_dir} ${cli_com_native})
set_tests_properties(cli_com PROPERTIES RESOURCE_LOCK registry TIMEOUT 300)

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  # The committed type libraries are what the x86-64 MakeTypeLib writes
  # today, byte for byte (run beside this build's Sender.tlb, which it
  # imports by file name).
  set(typelib_dir ${CMAKE_CURRENT_BINARY_DIR}/typelib)
  nuva_native_path(typelib_native ${typelib_dir})
  add_test(NAME com_typelib_reproducible
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/com/typelib_check.sh ${runner}
                   $<TARGET_FILE:MakeTypeLib> ${typelib_dir} ${typelib_native}
                   ${PROJECT_SOURCE_DIR}/src/com/typelib
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endif()
