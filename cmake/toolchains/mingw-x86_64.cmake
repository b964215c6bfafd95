# 64-bit Windows with Debian's MinGW-w64 (x86_64-w64-mingw32-g++-posix). The test build: this
# project's machines run 64-bit Wine only.
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KILN_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
