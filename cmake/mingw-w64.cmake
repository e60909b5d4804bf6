# Cross-build for 64-bit Windows with Debian's MinGW-w64 toolchain (posix thread model, so that
# std::thread and std::mutex are available). The product links its C++ runtime statically, so
# the DLL imports only system libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PYRIX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PYRIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PYRIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PYRIX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PYRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll next to the plug-in: the host
# loads it from its own folder, where nobody would put them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
