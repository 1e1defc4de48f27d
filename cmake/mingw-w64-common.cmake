# Shared part of the two toolchain files; DVV_TRIPLET names the target.
set(CMAKE_C_COMPILER   ${DVV_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DVV_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${DVV_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DVV_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Every .exe and .dll carries its runtime (libgcc, libstdc++, winpthread),
# so it runs on a bare Windows or Wine with nothing beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
