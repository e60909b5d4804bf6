# Cross-build for 64-bit Windows with Debian's MinGW-w64 toolchain (posix thread model, so that
# std::thread and std::mutex are available).
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

# Header-only C++ libraries of the build machine work for Windows too. They are offered to
# find_path through a folder of their own, never /usr/include itself, whose Linux C headers
# would shadow MinGW's.
set(_pyrix_portable_root ${CMAKE_BINARY_DIR}/portable-headers)
foreach(_pyrix_header_dir CLI)
  if(EXISTS /usr/include/${_pyrix_header_dir} AND
     NOT EXISTS ${_pyrix_portable_root}/include/${_pyrix_header_dir})
    file(MAKE_DIRECTORY ${_pyrix_portable_root}/include)
    file(CREATE_LINK /usr/include/${_pyrix_header_dir}
         ${_pyrix_portable_root}/include/${_pyrix_header_dir} SYMBOLIC)
  endif()
endforeach()
list(APPEND CMAKE_FIND_ROOT_PATH ${_pyrix_portable_root})

# Every program of this build links the compiler's runtime statically (no libstdc++-6.dll,
# libgcc_s_seh-1.dll or libwinpthread-1.dll), so each runs on its own, under Wine as on Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
