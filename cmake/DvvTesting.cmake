# Tests: GoogleTest built from Debian's sources with the cross toolchain, run
# under Wine by CTest through tests/winerun.sh. The 32-bit build can't run
# here, so it compiles its test programs but registers only host-side checks.
include(CTest)

set(DVV_CAN_RUN_TESTS OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(DVV_CAN_RUN_TESTS ON)
  set(DVV_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of this build tree")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/tests/winerun.sh;${DVV_WINEPREFIX}")
endif()

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# dvv_add_gtest(<name> LABELS <label>... SOURCES <file>... [LIBS <lib>...] [ENVIRONMENT <VAR=value>...])
# One test executable (console subsystem); its tests are registered with CTest
# one process per executable, with the given labels.
function(dvv_add_gtest name)
  cmake_parse_arguments(T "" "" "LABELS;SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  if(DVV_CAN_RUN_TESTS)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    if(T_ENVIRONMENT)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
  endif()
endfunction()

# dvv_copy_beside_tests(TESTS <test>... TARGETS <target>...): the test
# programs run from this folder, with a fresh copy of each target's file
# (the program or DLL they start or load) beside them.
function(dvv_copy_beside_tests)
  cmake_parse_arguments(C "" "" "TESTS;TARGETS" ${ARGN})
  set(copies)
  foreach(t ${C_TARGETS})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "EXECUTABLE")
      set(copy ${CMAKE_CURRENT_BINARY_DIR}/${t}.exe)
    else()
      set(copy ${CMAKE_CURRENT_BINARY_DIR}/${t}.dll)
    endif()
    add_custom_command(OUTPUT ${copy}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${t}> ${copy}
      DEPENDS ${t} VERBATIM)
    list(APPEND copies ${copy})
  endforeach()
  list(GET C_TESTS 0 first)
  add_custom_target(${first}_copies DEPENDS ${copies})
  foreach(test ${C_TESTS})
    set_target_properties(${test} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    add_dependencies(${test} ${first}_copies)
  endforeach()
endfunction()
