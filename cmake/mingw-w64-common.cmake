# Shared by the MinGW-w64 toolchain files, which set KORVAL_MINGW_TRIPLE first.
# The -posix variants: the win32 ones lack std::thread and std::mutex.
set(CMAKE_C_COMPILER ${KORVAL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVAL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVAL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVAL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime (libgcc, libstdc++, winpthread): the .exe runs with no DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
