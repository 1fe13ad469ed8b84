# Cross-builds the Windows programs (64-bit) on Linux with mingw-w64.
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64-x86_64.cmake
# The -posix compiler variant is used because it implements std::thread and std::mutex (through
# winpthreads). Everything is linked statically, so that the programs run without the compiler's
# DLLs beside them, unless KESTRO_MINGW_SHARED_RUNTIME is on: a build against Qt's DLLs shares
# their C++ runtime (libstdc++-6, libgcc_s_seh-1, libwinpthread-1), shipped beside the programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRO_MINGW_TRIPLET}-windres)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRO_MINGW_SHARED_RUNTIME)
if(NOT KESTRO_MINGW_SHARED_RUNTIME)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()

# Headers, libraries and packages come from the mingw-w64 tree and from prefixes named on the
# command line (CMAKE_FIND_ROOT_PATH), never from the Linux system; programs run on the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRO_MINGW_TRIPLET} ${CMAKE_FIND_ROOT_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
