# What both mingw-w64 toolchain files share; they set CMAKE_SYSTEM_PROCESSOR
# and TOLVANIS_MINGW_TRIPLE first. The posix thread model compilers, so that
# std::thread and std::future work; a static runtime, so that the .exe runs
# without extra DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TOLVANIS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLVANIS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLVANIS_MINGW_TRIPLE}-windres)

# Headers and libraries of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOLVANIS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
