# Cross-build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
#
#   cmake -S . -B build-win64 -G Ninja -DKM_BUILD_APP=OFF \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The programs are linked statically (libgcc, libstdc++, winpthread), so a
# .exe runs on Windows and under Wine without any DLL beside it. The windows
# need a Qt for Windows: add its prefix to CMAKE_PREFIX_PATH and
# CMAKE_FIND_ROOT_PATH and leave KM_BUILD_APP on.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
