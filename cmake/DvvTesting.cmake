# Tests: GoogleTest built from Debian's sources with the cross toolchain. The
# 64-bit build's test programs run under Wine here, through tests/winerun.sh.
# The 32-bit build's run in the emulated PC (tools/run-in-win32-pc.sh), all of
# them in one boot: the test win32_pc_run; each program's own test then shows
# what it printed there and passes or fails as it did (tests/pcresult.sh).
include(CTest)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(DVV_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of this build tree")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/tests/winerun.sh;${DVV_WINEPREFIX}")
else()
  set(DVV_PC_RESULTS "${CMAKE_BINARY_DIR}/pc-results")
  # The whole run in the emulated PC, boot included.
  set(DVV_PC_SECONDS 3000 CACHE STRING "Time limit of the 32-bit tests' run in the emulated PC (s)")
  # Each program's time limit there, from its limit here: emulation is that much slower.
  set(DVV_PC_SLOWDOWN 4)
  set_property(GLOBAL PROPERTY DVV_PC_TESTS "")
endif()
# What a test program may take when it sets no limit of its own (the win64 preset's).
set(DVV_TEST_SECONDS 300)

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# dvv_add_test_run(<name> PROGRAM <target> [ARGS <arg>...] LABELS <label>...
#                  [ENVIRONMENT <VAR=value>...] [TIMEOUT <seconds>])
# One CTest test running a test program built here, in this folder. 64-bit:
# under Wine. 32-bit: the program is listed for the run in the emulated PC, and
# the test (labelled "pc" too) reads back its output and exit code from there.
# Programs labelled "not-in-pc" are left out of that build (README: too slow
# when emulated).
function(dvv_add_test_run name)
  cmake_parse_arguments(T "" "PROGRAM;TIMEOUT" "ARGS;LABELS;ENVIRONMENT" ${ARGN})
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_test(NAME ${name} COMMAND ${T_PROGRAM} ${T_ARGS})
    if(T_TIMEOUT)
      set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
    endif()
    if(T_ENVIRONMENT)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
  elseif("not-in-pc" IN_LIST T_LABELS)
    return()
  else()
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/pcresult.sh ${DVV_PC_RESULTS} ${name})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED win32_pc)
    list(APPEND T_LABELS pc)
    # One line of the emulated PC's list: dvv_test NAME SECONDS FOLDER VAR=value... -- PROGRAM ARG...
    if(NOT T_TIMEOUT)
      set(T_TIMEOUT ${DVV_TEST_SECONDS})
    endif()
    math(EXPR seconds "${T_TIMEOUT} * ${DVV_PC_SLOWDOWN}")
    set(line "dvv_test ${name} ${seconds}")
    foreach(word ${CMAKE_CURRENT_BINARY_DIR} ${T_ENVIRONMENT} -- "$<TARGET_FILE:${T_PROGRAM}>" ${T_ARGS})
      string(REPLACE "'" "'\\''" word "${word}")
      string(APPEND line " '${word}'")
    endforeach()
    set_property(GLOBAL APPEND PROPERTY DVV_PC_TESTS "${line}")
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
endfunction()

# dvv_add_gtest(<name> LABELS <label>... SOURCES <file>... [LIBS <lib>...]
#               [ARGS <arg>...] [ENVIRONMENT <VAR=value>...] [TIMEOUT <seconds>])
# One test executable (console subsystem), registered with CTest as one test
# of the same name, with the given labels (and arguments, such as a filter).
function(dvv_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "LABELS;SOURCES;LIBS;ARGS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  dvv_add_test_run(${name} PROGRAM ${name} ARGS ${T_ARGS} --gtest_color=no LABELS ${T_LABELS}
                   ENVIRONMENT ${T_ENVIRONMENT} TIMEOUT ${T_TIMEOUT})
endfunction()

# dvv_add_pc_run(): the 32-bit build's one run in the emulated PC of every
# program listed by dvv_add_test_run; called once, after the last of them.
function(dvv_add_pc_run)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    return()
  endif()
  get_property(lines GLOBAL PROPERTY DVV_PC_TESTS)
  list(JOIN lines "\n" lines)
  set(list ${CMAKE_BINARY_DIR}/pc-tests.sh)
  file(GENERATE OUTPUT ${list} CONTENT
"# The 32-bit test programs, run one after another in the emulated PC by the
# test win32_pc_run (made by CMake from the tests' CMakeLists.txt files).
source '${CMAKE_SOURCE_DIR}/tests/pcrun.sh'
${lines}
")
  add_test(NAME win32_pc_run
    COMMAND ${CMAKE_SOURCE_DIR}/tools/run-in-win32-pc.sh -t ${DVV_PC_SECONDS}
            ${CMAKE_BINARY_DIR} ${DVV_PC_RESULTS} bash ${list})
  math(EXPR seconds "${DVV_PC_SECONDS} + 120")
  set_tests_properties(win32_pc_run PROPERTIES FIXTURES_SETUP win32_pc TIMEOUT ${seconds} LABELS pc)
endfunction()

# dvv_copy_beside_tests(TESTS <test>... TARGETS <target>...): the test
# programs run from this folder, with a fresh copy of each target's file
# (the program or DLL they start or load) beside them, and of the DLLs each
# target loads (dvv_runtime_dlls).
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
    get_target_property(dlls ${t} DVV_RUNTIME_DLLS)
    if(NOT dlls)
      set(dlls)
    endif()
    foreach(dll ${dlls})
      get_filename_component(name ${dll} NAME)
      set(copy ${CMAKE_CURRENT_BINARY_DIR}/${name})
      if(NOT copy IN_LIST copies)
        add_custom_command(OUTPUT ${copy}
          COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dll} ${copy}
          DEPENDS ${dll} VERBATIM)
        list(APPEND copies ${copy})
      endif()
    endforeach()
  endforeach()
  list(GET C_TESTS 0 first)
  add_custom_target(${first}_copies DEPENDS ${copies})
  foreach(test ${C_TESTS})
    set_target_properties(${test} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    add_dependencies(${test} ${first}_copies)
  endforeach()
endfunction()
