# SPDX-License-Identifier: MIT
# 32-bit x86 Linux. Most x86-64 kernels run these programs natively; the
# build checks, and falls back on qemu-i386 where the kernel cannot.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(cross_triple i686-linux-gnu)
set(cross_emulator qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/../LinuxCrossToolchain.cmake)
# SSE2 arithmetic rounds each double as the other targets do; x87 would keep
# extra precision in registers.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
