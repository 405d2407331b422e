# Cross build for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix).
# The -posix compilers: the -win32 ones have no std::thread or std::mutex. Everything is linked
# statically, so tollwick-cli.exe runs on a bare Windows (and under wine) without DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOLLWICK_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TOLLWICK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLLWICK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLLWICK_MINGW_PREFIX}-windres)

# Headers and libraries of the target only: mingw-w64's own, and the dependencies that
# scripts/build-windows.sh builds for Windows. Programs (pkg-config, the compilers) of the host.
get_filename_component(TOLLWICK_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps/prefix"
                       ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${TOLLWICK_MINGW_PREFIX} ${TOLLWICK_WINDOWS_DEPS})
set(ENV{PKG_CONFIG_LIBDIR} ${TOLLWICK_WINDOWS_DEPS}/lib/pkgconfig)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under wine: test discovery and ctest go through it.
find_program(TOLLWICK_WINE wine)
if(TOLLWICK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLLWICK_WINE})
endif()
