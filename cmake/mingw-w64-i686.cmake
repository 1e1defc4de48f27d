# 32-bit Windows, mingw-w64 with posix threads: the shipping build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(DVV_TRIPLET i686-w64-mingw32)
set(DVV_MANIFEST_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
