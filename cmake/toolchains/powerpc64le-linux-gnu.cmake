# SPDX-License-Identifier: MIT
# Little-endian 64-bit POWER Linux, run under qemu-ppc64le on other machines.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(cross_triple powerpc64le-linux-gnu)
set(cross_emulator qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/../LinuxCrossToolchain.cmake)
