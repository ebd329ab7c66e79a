# Cross build for 64-bit Windows with MinGW-w64. The -posix compilers are the
# posix thread model, which GCC needs for std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMET_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMET_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMET_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMET_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
