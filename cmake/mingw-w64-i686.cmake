# Cross-compiles for 32-bit Windows with MinGW-w64 (Debian g++-mingw-w64-i686-posix):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# The executables carry their C and C++ runtimes (no MinGW DLLs needed beside them) and run
# under Wine; CTest starts them through scripts/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(XMINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${XMINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${XMINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${XMINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${XMINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Single and double arithmetic on SSE2, rounded to its type at every step as in the 64-bit
# Linux build; the x87 unit only for long double. Callbacks from Windows may arrive on a
# 4-byte aligned stack: realign where needed.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
