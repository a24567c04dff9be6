# Cross-compiling for 64-bit Windows with mingw-w64 (Debian packages
# g++-mingw-w64-x86-64 and binutils-mingw-w64-x86-64). The posix-threads
# flavour of the compiler is preferred: its standard library has std::mutex
# and std::thread, which the win32-threads flavour of GCC 12 lacks. Where Wine
# is installed it runs the cross-built test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TBLCONV_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(TBLCONV_MINGW_CXX NAMES ${TBLCONV_MINGW_TRIPLE}-g++-posix ${TBLCONV_MINGW_TRIPLE}-g++)
find_program(TBLCONV_MINGW_CC NAMES ${TBLCONV_MINGW_TRIPLE}-gcc-posix ${TBLCONV_MINGW_TRIPLE}-gcc)
if(NOT TBLCONV_MINGW_CXX)
  message(FATAL_ERROR "mingw-w64 is not installed (Debian: g++-mingw-w64-x86-64); run scripts/bootstrap")
endif()
set(CMAKE_CXX_COMPILER ${TBLCONV_MINGW_CXX})
set(CMAKE_C_COMPILER ${TBLCONV_MINGW_CC})
set(CMAKE_RC_COMPILER ${TBLCONV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TBLCONV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TBLCONV_WINE NAMES wine wine64)
if(TBLCONV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TBLCONV_WINE})
endif()
