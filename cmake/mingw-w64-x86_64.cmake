# cmake/mingw-w64-x86_64.cmake: cross-builds for 64-bit Windows with Debian's MinGW-w64.
# cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The posix thread model, since std::thread, std::mutex and std::condition_variable need it with
# GCC 12. Everything is linked statically (libgcc, libstdc++, winpthread), so each .exe runs
# alone, without MinGW's DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GPSBRIDGE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GPSBRIDGE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GPSBRIDGE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${GPSBRIDGE_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW tree only; programs (cmake, ninja) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${GPSBRIDGE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
