# libjpeg-turbo, the JPEG library the stand-in decodes with (and the simulated
# camera encodes with), built once per build tree from Debian bookworm's
# source package: a static library with its SIMD code (nasm), linked into
# whatever uses the imported target dvvjpeg.
include(ExternalProject)

set(dvv_jpeg_src ${CMAKE_BINARY_DIR}/deps/libjpeg-turbo-2.1.5)
set(dvv_jpeg_bin ${CMAKE_BINARY_DIR}/deps/libjpeg-turbo-build)
if(NOT EXISTS ${dvv_jpeg_src}/CMakeLists.txt)
  message(STATUS "Fetching Debian's libjpeg-turbo source into ${dvv_jpeg_src}")
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/tools/fetch-libjpeg-turbo.sh ${dvv_jpeg_src}
                  RESULT_VARIABLE dvv_jpeg_fetched)
  if(NOT dvv_jpeg_fetched EQUAL 0)
    message(FATAL_ERROR "Could not fetch libjpeg-turbo's source (tools/fetch-libjpeg-turbo.sh)")
  endif()
endif()
find_program(DVV_NASM nasm REQUIRED)
# Only the static library is built; with make, the build's own jobs share it.
if(CMAKE_GENERATOR MATCHES "Makefiles")
  set(dvv_jpeg_build $(MAKE) jpeg-static)
else()
  set(dvv_jpeg_build ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static)
endif()

ExternalProject_Add(libjpegturbo
  SOURCE_DIR ${dvv_jpeg_src}
  BINARY_DIR ${dvv_jpeg_bin}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
             -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
             -DCMAKE_ASM_NASM_COMPILER=${DVV_NASM}
             -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON
  BUILD_COMMAND ${dvv_jpeg_build}
  BUILD_BYPRODUCTS ${dvv_jpeg_bin}/libjpeg.a
  INSTALL_COMMAND ""
  LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

# jconfig.h is made in the build folder: it must exist for the imported
# target to name it.
file(MAKE_DIRECTORY ${dvv_jpeg_bin})
add_library(dvvjpeg STATIC IMPORTED GLOBAL)
set_target_properties(dvvjpeg PROPERTIES
  IMPORTED_LOCATION ${dvv_jpeg_bin}/libjpeg.a
  INTERFACE_INCLUDE_DIRECTORIES "${dvv_jpeg_src};${dvv_jpeg_bin}")
add_dependencies(dvvjpeg libjpegturbo)
