# SPDX-License-Identifier: MIT
# What the Linux cross toolchains in toolchains/ share. Each sets
# CMAKE_SYSTEM_PROCESSOR, the GNU triple of Debian's cross compiler (package
# g++-<triple>) and the qemu-user emulator that runs its programs where this
# machine's kernel cannot. Linked statically, the programs need none of the
# target's libraries at run time, natively or under qemu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${cross_triple}-gcc)
set(CMAKE_CXX_COMPILER ${cross_triple}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${cross_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(KEYBOARD_PICTURE_FALLBACK_EMULATOR ${cross_emulator})
