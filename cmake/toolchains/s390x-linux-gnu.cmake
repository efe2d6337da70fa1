# SPDX-License-Identifier: MIT
# Big-endian s390x Linux, run under qemu-s390x on other machines.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(cross_triple s390x-linux-gnu)
set(cross_emulator qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/../LinuxCrossToolchain.cmake)
