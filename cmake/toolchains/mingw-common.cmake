# Shared part of the MinGW-w64 toolchains; mingw-i686.cmake and mingw-x86_64.cmake set
# KILN_MINGW_TRIPLET and include this file.
#
# Debian's MinGW-w64 compilers in their posix thread variant (std::thread, std::mutex over
# winpthread). Executables are linked with -static, so libgcc, libstdc++ and winpthread are inside
# them and only Windows' own DLLs are imported.
#
# Libraries are looked up in the compiler's own tree (/usr/<triplet>: Windows import libraries,
# Debian's MinGW zlib) and in the dependency prefix that tools/windows/build_deps.sh fills
# (<cache>/<triplet>, cache from KILN_WINDOWS_CACHE, default /var/cache/kiln-windows). Programs are
# taken from the build machine.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

set(CMAKE_C_COMPILER ${KILN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KILN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_ASM_COMPILER ${KILN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_RC_COMPILER ${KILN_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${KILN_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${KILN_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "Archive indexer")

# The environment carries the cache folder into try_compile projects, which re-read this file.
if(NOT DEFINED KILN_WINDOWS_DEPS)
  if(DEFINED ENV{KILN_WINDOWS_DEPS})
    set(KILN_WINDOWS_DEPS "$ENV{KILN_WINDOWS_DEPS}")
  elseif(DEFINED ENV{KILN_WINDOWS_CACHE})
    set(KILN_WINDOWS_DEPS "$ENV{KILN_WINDOWS_CACHE}/${KILN_MINGW_TRIPLET}")
  else()
    set(KILN_WINDOWS_DEPS "/var/cache/kiln-windows/${KILN_MINGW_TRIPLET}")
  endif()
endif()
set(ENV{KILN_WINDOWS_DEPS} "${KILN_WINDOWS_DEPS}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KILN_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH "${KILN_WINDOWS_DEPS}" /usr/${KILN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Debian's MinGW zlib also ships libz.dll.a, the import library of zlib1.dll, which find_library
# prefers (the platform module puts .dll.a first, after this file has run); take the archive.
set(ZLIB_USE_STATIC_LIBS ON)

# No link time in the PE header (and so none in its checksum): one commit builds the same bytes in
# any folder at any time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
