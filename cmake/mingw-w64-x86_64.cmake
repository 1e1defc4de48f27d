# 64-bit Windows, mingw-w64 with posix threads: the build the tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(DVV_TRIPLET x86_64-w64-mingw32)
set(DVV_MANIFEST_ARCH amd64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
