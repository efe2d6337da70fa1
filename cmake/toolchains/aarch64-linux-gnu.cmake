# SPDX-License-Identifier: MIT
# 64-bit Arm Linux, run under qemu-aarch64 on other machines.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(cross_triple aarch64-linux-gnu)
set(cross_emulator qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/../LinuxCrossToolchain.cmake)
