# Cross build for 64-bit Windows with Debian's mingw-w64 compilers. The tests run the
# Windows programs under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DSPHOST_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: std::thread and std::mutex, which GoogleTest needs.
set(CMAKE_C_COMPILER ${DSPHOST_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DSPHOST_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DSPHOST_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DSPHOST_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
