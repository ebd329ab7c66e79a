# Cross build for 64-bit Windows with Clang 19 and lld 19, on the MinGW-w64
# headers and the GCC posix-thread-model runtime libraries (Debian's
# g++-mingw-w64-x86-64-posix). Clang finds GCC's libstdc++ by itself; the
# static libstdc++ needs winpthread, named here since CMake's Windows platform
# files override the standard-library variables.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMET_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET ${LUMET_MINGW_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${LUMET_MINGW_TRIPLET})
set(CMAKE_RC_COMPILER ${LUMET_MINGW_TRIPLET}-windres)
set(CMAKE_OBJCOPY ${LUMET_MINGW_TRIPLET}-objcopy CACHE FILEPATH "")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld-19 -lwinpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${LUMET_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
