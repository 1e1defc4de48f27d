# Third-party libraries built once per recipe, outside every build tree and
# clone (tools/build-thirdparty.sh, one recipe per library in
# tools/thirdparty/), and reused by every later configure.

# dvv_thirdparty(<name> <variable>): builds library <name> for this target
# (the first time only) and sets <variable> to the folder that holds it
# (include/, lib/, bin/). A changed recipe configures again, and so builds
# the new one.
function(dvv_thirdparty name var)
  set(script ${CMAKE_SOURCE_DIR}/tools/build-thirdparty.sh)
  set(recipe ${CMAKE_SOURCE_DIR}/tools/thirdparty/${name}.sh)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script} ${recipe})
  execute_process(COMMAND ${script} ${name} ${DVV_TRIPLET}
                  OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT IS_DIRECTORY "${dir}")
    message(FATAL_ERROR "Could not build the third-party library ${name} for ${DVV_TRIPLET} (tools/build-thirdparty.sh)")
  endif()
  set(${var} ${dir} PARENT_SCOPE)
endfunction()

# dvv_runtime_dlls(<target> <dll>...): DLLs that <target> (a DLL or a program)
# loads, copied beside it in its build folder and beside every copy of it
# that dvv_copy_beside_tests makes.
function(dvv_runtime_dlls target)
  set_property(TARGET ${target} APPEND PROPERTY DVV_RUNTIME_DLLS ${ARGN})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ARGN} $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()
