# Cross build of the 32-bit Windows DLL with Debian's mingw-w64:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZR_MINGW_PREFIX i686-w64-mingw32)
set(ZR_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
