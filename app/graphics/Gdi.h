// The sliver of the Windows GDI that drawing relies on: a device context's
// background mode, which decides whether text paints its cell or only its ink.
#pragma once

#include "Bitmap.h"

struct DeviceContext {
    int backgroundMode = 2; // OPAQUE, as every new Windows device context starts
    Graphics::Pixel backgroundColor = Graphics::White;
};

using HDC = DeviceContext*;

inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// Returns the previous mode, or 0 for a null context or an unknown mode.
int SetBkMode(HDC context, int mode);
