# Cross-compiling for 64-bit Windows with Debian's mingw-w64. The -posix compilers are the
# ones whose C++ library has std::thread and std::mutex (the win32 thread model has neither).
#
# Libraries built for Windows live in prefixes of their own (scripts/lib/windeps.sh keeps them
# outside the work tree): pass them as OSTREL_WINDOWS_PREFIXES (a ;-list). Only those prefixes
# and the compiler's own sysroot are searched, so nothing of the build machine's Linux
# libraries can slip into a Windows executable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OSTREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTREL_MINGW_TRIPLE}-windres)

# try_compile projects see the prefixes too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OSTREL_WINDOWS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${OSTREL_MINGW_TRIPLE} ${OSTREL_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes go into each executable, so a test needs no DLLs of the compiler.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test executables and tools run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
