# SPDX-License-Identifier: MIT
# 64-bit RISC-V Linux, run under qemu-riscv64 on other machines.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(cross_triple riscv64-linux-gnu)
set(cross_emulator qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/../LinuxCrossToolchain.cmake)
