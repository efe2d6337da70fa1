// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

inline constexpr std::int32_t PictureWidth = 630;
inline constexpr std::int32_t PictureHeight = 350;

// Reads "key.bmp" from the current directory and writes "zzOut.bmp" beside
// it. Returns the exit status; failures propagate as exceptions, uncaught.
int ComposeKeyboardPicture();
