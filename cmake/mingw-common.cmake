# Shared settings of the MinGW-w64 cross builds. QEL_MINGW_TRIPLE is set by
# the including toolchain file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QEL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static runtime: the programs must not need libstdc++-6.dll, libgcc or winpthread.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
