# SPDX-License-Identifier: MIT
# 32-bit Arm Linux with hardware floating point (Debian's armhf: Raspberry Pi
# OS and many other boards), run under qemu-arm on other machines. Some
# 64-bit Arm kernels run these programs natively; the build checks.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(cross_triple arm-linux-gnueabihf)
set(cross_emulator qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/../LinuxCrossToolchain.cmake)
