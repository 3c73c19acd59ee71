# Cross-builds for 64-bit Windows with Debian's mingw-w64 against the prefix that
# scripts/bootstrap-windows builds, and runs the results (tests, test discovery) under Wine:
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake \
#         -DZQR_WINDOWS_PREFIX=$(scripts/bootstrap-windows --prefix)
#
# Without ZQR_WINDOWS_PREFIX (variable or environment) the prefix is the one the bootstrap
# script of this checkout names.
set(CMAKE_SYSTEM_NAME Windows)
# The x86 kernels in frames/ choose their code on the processor name.
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZQR_MINGW_HOST x86_64-w64-mingw32)
# Named explicitly: the -win32 thread model has no std::thread with GCC 12, and installing it
# can take over the plain x86_64-w64-mingw32-g++ name.
set(CMAKE_C_COMPILER ${ZQR_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZQR_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${ZQR_MINGW_HOST}-windres)

if(NOT ZQR_WINDOWS_PREFIX)
  if(DEFINED ENV{ZQR_WINDOWS_PREFIX})
    set(ZQR_WINDOWS_PREFIX $ENV{ZQR_WINDOWS_PREFIX})
  else()
    execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/bootstrap-windows --prefix
                    OUTPUT_VARIABLE ZQR_WINDOWS_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
endif()
if(NOT EXISTS ${ZQR_WINDOWS_PREFIX}/zqr-prefix.stamp)
  message(FATAL_ERROR "No complete Windows prefix at '${ZQR_WINDOWS_PREFIX}': run scripts/bootstrap-windows")
endif()
# try_compile projects read this file again without the command line's variables.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZQR_WINDOWS_PREFIX)

# The prefix first: its static zlib must win over the mingw package's import library.
set(CMAKE_FIND_ROOT_PATH ${ZQR_WINDOWS_PREFIX} /usr/${ZQR_MINGW_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Only the prefix's .pc files; the machine's Linux ones would be taken otherwise.
set(ENV{PKG_CONFIG_LIBDIR} ${ZQR_WINDOWS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(wxWidgets_CONFIG_EXECUTABLE ${ZQR_WINDOWS_PREFIX}/bin/wx-config CACHE FILEPATH "wx-config of the Windows prefix")

# libgcc, libstdc++ and winpthread linked in: the programs and DLLs need no mingw DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# Wine finds the prefix's DLLs (FFmpeg, SDL2) through WINEPATH; its debug chatter stays off.
string(REPLACE "/" "\\" ZQR_WINDOWS_DLL_DIR "Z:${ZQR_WINDOWS_PREFIX}/bin")
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPATH=${ZQR_WINDOWS_DLL_DIR} WINEDEBUG=-all wine)
