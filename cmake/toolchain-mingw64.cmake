# Cross build of the 64-bit Windows DLL with Debian's mingw-w64:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZR_MINGW_PREFIX x86_64-w64-mingw32)
set(ZR_WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
