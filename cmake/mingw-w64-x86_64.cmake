# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (posix threads):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Only the Qt-free core and the command-line tool are built; see docs/windows.md.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PALO_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${PALO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PALO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PALO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PALO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry their C and C++ runtime, so that an .exe runs alone.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Under Wine, tests start the programs through wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
