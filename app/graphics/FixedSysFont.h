// SPDX-License-Identifier: MIT
// The one raster font: the cell of the Western "FixedSys" (8 x 15, ascent
// 12) with glyphs from the u_vga16 console font, covering 0x20-0x7E.
#pragma once

#include <array>
#include <cstdint>

namespace Graphics {

inline constexpr int FixedSysCellWidth = 8;
inline constexpr int FixedSysCellHeight = 15;
inline constexpr unsigned char FixedSysFirstChar = 0x20;
inline constexpr unsigned char FixedSysLastChar = 0x7E;
inline constexpr int FixedSysGlyphCount = FixedSysLastChar - FixedSysFirstChar + 1;

// One byte per row, top row first; bit 7 is the leftmost pixel.
using GlyphRows = std::array<std::uint8_t, FixedSysCellHeight>;

extern const GlyphRows FixedSysGlyphs[FixedSysGlyphCount];

// Bytes outside the font draw as an empty cell.
inline const GlyphRows& FixedSysGlyph(unsigned char character)
{
    if (character < FixedSysFirstChar || character > FixedSysLastChar) {
        return FixedSysGlyphs[0];
    }
    return FixedSysGlyphs[character - FixedSysFirstChar];
}

} // namespace Graphics
