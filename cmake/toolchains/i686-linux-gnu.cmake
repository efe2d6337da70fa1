# SPDX-License-Identifier: MIT
# 32-bit x86 Linux with Debian's cross compiler (package g++-i686-linux-gnu).
# Linked statically, the results run on an x86-64 kernel as they are.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# SSE2 arithmetic rounds each double as the other targets do; x87 would keep
# extra precision in registers.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
