# Cross-builds the Windows program with Debian's mingw-w64 (posix threads, for
# std::thread) against the SDK that scripts/windows-sdk builds. The SDK's folder
# comes from PELBROOK_WIN_SDK in the environment, so try-compiles see it too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Kept in the cache, so that a later re-run of CMake finds it without the environment.
if(DEFINED ENV{PELBROOK_WIN_SDK})
  set(PELBROOK_WIN_SDK $ENV{PELBROOK_WIN_SDK} CACHE PATH "The SDK scripts/windows-sdk built")
endif()
if(NOT PELBROOK_WIN_SDK)
  message(FATAL_ERROR "Set PELBROOK_WIN_SDK to the folder scripts/windows-sdk built")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${PELBROOK_WIN_SDK}/qt ${PELBROOK_WIN_SDK}/openssl
    ${PELBROOK_WIN_SDK}/xlsxwriter ${PELBROOK_WIN_SDK}/sqlite)
set(OPENSSL_ROOT_DIR ${PELBROOK_WIN_SDK}/openssl)
# Host tools (moc, rcc) run here; libraries and headers come only from the SDK.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests of the Windows build run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
