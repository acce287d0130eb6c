# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which Qt 6
# needs for std::thread and std::mutex).
# Usage: cmake -DCMAKE_TOOLCHAIN_FILE=<this file> -DMINGW_EXTRA_ROOTS=<Qt for Windows prefix>
#        -DCMAKE_PREFIX_PATH=<same prefix> -DQT_HOST_PATH=/usr
# MINGW_EXTRA_ROOTS may also come from the environment variable of that name ("a;b").
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER /usr/bin/${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${MINGW_TRIPLET}-windres)
set(CMAKE_AR /usr/bin/${MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

# Programs come from the build host; libraries, headers and packages from the target roots.
if(NOT MINGW_EXTRA_ROOTS AND DEFINED ENV{MINGW_EXTRA_ROOTS})
    set(MINGW_EXTRA_ROOTS "$ENV{MINGW_EXTRA_ROOTS}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_EXTRA_ROOTS)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${MINGW_EXTRA_ROOTS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Qt finds the host Qt (QT_HOST_PATH) itself by prepending it to the roots while it looks.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Never mix in the build host's pkg-config files.
set(PKG_CONFIG_EXECUTABLE "" CACHE FILEPATH "" FORCE)
set(ENV{PKG_CONFIG_LIBDIR} "")
