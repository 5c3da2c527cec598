# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64). Only 64-bit: a 32-bit program under a 64-bit-only
# Wine does nothing at all and exits 0.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUELLORA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUELLORA_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QUELLORA_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QUELLORA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUELLORA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: the saver is one file that runs on a bare system.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
