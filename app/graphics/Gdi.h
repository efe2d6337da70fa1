// SPDX-License-Identifier: MIT
// The sliver of the Windows GDI that drawing relies on: a device context's
// background mode, which decides whether text paints its cell or only its ink.
// The namespace keeps these names apart from the GDI's own functions and
// types, but not from its macros: <windows.h> defines TRANSPARENT and OPAQUE
// as numbers unless NOGDI is defined first, as every source that includes
// both does.
#pragma once

namespace Gdi {

inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

struct DeviceContext {
    int backgroundMode = OPAQUE; // as every new Windows device context starts
};

using HDC = DeviceContext*;

// Returns the previous mode, or 0 for a null context or an unknown mode.
int SetBkMode(HDC context, int mode);

} // namespace Gdi
