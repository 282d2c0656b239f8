# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 GCC, posix
# threads variant (std::thread and std::mutex need it):
#   apt-get install g++-mingw-w64-x86-64-posix
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DVARNEL_GUI=OFF -DVARNEL_BENCH=OFF
# builds the core library with the Windows device backend, varnel-cli.exe and
# core_tests.exe; scripts/windows-tests runs them under wine64. With
# -DVARNEL_WINDOWS_PREFIX=$(scripts/windows-qt --print) the records are kept
# in SQLite (and on PostgreSQL when its libpq is built), and with -DVARNEL_GUI=ON the desktop program and its tests are
# built against the Qt there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VARNEL_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VARNEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC 12 warns of overlapping or out-of-bounds memcpy inside libstdc++'s own
# string and copy code once inlined at -O2 (GCC bugs 105329, 105651); the
# host build, with the same sources, is clean.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict -Wno-array-bounds")

# The Windows libraries scripts/windows-qt builds from Debian's sources
# (SQLite; Qt and QCustomPlot for the desktop program), when given:
#   -DVARNEL_WINDOWS_PREFIX=$(scripts/windows-qt --print)
if(VARNEL_WINDOWS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VARNEL_WINDOWS_PREFIX})
endif()

if(VARNEL_GUI)
  # The desktop program shares one C++ runtime with the Qt DLLs: the MinGW
  # runtime DLLs go beside it (libstdc++-6, libgcc_s_seh-1, libwinpthread-1).
  set(CMAKE_EXE_LINKER_FLAGS_INIT "")
else()
  # Self-contained executables: no MinGW runtime DLLs to carry around.
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()

# Debian has no MinGW builds of SQLite or libpq; scripts/windows-qt builds
# both from Debian's sources into the prefix above. With its SQLite the
# records are kept in SQLite; with its libpq (libpq.dll, without SSL) also on
# a PostgreSQL server. A store that is not built says so when it is asked
# for. Header-only nlohmann-json is taken from the host, without the rest of
# the host's include folder.
if(VARNEL_WINDOWS_PREFIX AND EXISTS ${VARNEL_WINDOWS_PREFIX}/.stamp-sqlite3)
  set(VARNEL_RECORD_STORES ON CACHE BOOL "" FORCE)
else()
  set(VARNEL_RECORD_STORES OFF CACHE BOOL "" FORCE)
endif()
if(VARNEL_RECORD_STORES AND EXISTS ${VARNEL_WINDOWS_PREFIX}/.stamp-libpq)
  set(VARNEL_POSTGRES_STORE ON CACHE BOOL "" FORCE)
else()
  set(VARNEL_POSTGRES_STORE OFF CACHE BOOL "" FORCE)
endif()
set(VARNEL_HOST_HEADER_ONLY_LIBS /usr/include/nlohmann CACHE STRING "")
# GoogleTest is built from Debian's source package.
set(VARNEL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "")
