# SPDX-License-Identifier: MIT
# 64-bit x86 Linux, linked statically like the other Linux CPUs' programs, so
# that the release's program runs on any distribution. Debian's native
# compiler answers to this triple on x86-64 machines (elsewhere it is package
# g++-x86-64-linux-gnu); qemu-x86_64 runs the programs where the kernel cannot.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(cross_triple x86_64-linux-gnu)
set(cross_emulator qemu-x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/../LinuxCrossToolchain.cmake)
