# SPDX-License-Identifier: MIT
# Whether programs cross-built for another Linux CPU run here as they are, or
# under the user-mode emulator their toolchain file names. A kernel may run
# them itself (a 32-bit x86 program on most x86-64 kernels, any of them through
# binfmt_misc), or may not; a tiny program built with the toolchain tells.
option(KEYBOARD_PICTURE_FORCE_EMULATOR
  "Run cross-built programs under their emulator even where they would run natively" OFF)

set(native_probe ${CMAKE_BINARY_DIR}/CMakeFiles/native-probe)
set(runs_natively FALSE)
if(NOT KEYBOARD_PICTURE_FORCE_EMULATOR)
  file(WRITE ${native_probe}.cpp "int main() { return 0; }\n")
  try_compile(probe_built ${native_probe}-build SOURCES ${native_probe}.cpp COPY_FILE ${native_probe})
  if(probe_built)
    execute_process(COMMAND ${native_probe} RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
    if(probe_result STREQUAL "0")
      set(runs_natively TRUE)
    endif()
  endif()
endif()

if(runs_natively)
  message(STATUS "Programs for ${CMAKE_SYSTEM_PROCESSOR} run natively here")
else()
  find_program(cross_emulator ${KEYBOARD_PICTURE_FALLBACK_EMULATOR})
  if(NOT cross_emulator)
    message(FATAL_ERROR "Programs for ${CMAKE_SYSTEM_PROCESSOR} do not run natively here, and "
      "${KEYBOARD_PICTURE_FALLBACK_EMULATOR} is missing: install it (Debian package qemu-user)")
  endif()
  message(STATUS "Programs for ${CMAKE_SYSTEM_PROCESSOR} run under ${cross_emulator}")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${cross_emulator})
endif()
