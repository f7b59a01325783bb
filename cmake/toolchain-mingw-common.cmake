# What the two mingw-w64 toolchain files share; they set
# CMAKE_SYSTEM_PROCESSOR, ZR_MINGW_PREFIX and ZR_WINE_NAMES first.
# The posix thread model of the compiler is used: its C++ library has
# std::mutex and std::thread (the win32 model of GCC 12 has not).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run through Wine when it is installed (ctest and add_test use this).
find_program(ZR_WINE NAMES ${ZR_WINE_NAMES})
if(ZR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZR_WINE})
endif()
