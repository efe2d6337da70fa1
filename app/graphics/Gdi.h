// SPDX-License-Identifier: MIT
// The sliver of the Windows GDI that drawing relies on: a device context's
// background mode, which decides whether text paints its cell or only its ink.
// In a namespace of its own, so that it never meets <windows.h>'s names.
#pragma once

#include "Bitmap.h"

namespace Gdi {

inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

struct DeviceContext {
    int backgroundMode = OPAQUE; // as every new Windows device context starts
    Graphics::Pixel backgroundColor = Graphics::White;
};

using HDC = DeviceContext*;

// Returns the previous mode, or 0 for a null context or an unknown mode.
int SetBkMode(HDC context, int mode);

} // namespace Gdi
