// SPDX-License-Identifier: MIT
#include "Graphics.h"

#include "FixedSysFont.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

namespace Gdi {

int SetBkMode(HDC context, int mode)
{
    if (context == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) {
        return 0;
    }
    return std::exchange(context->backgroundMode, mode);
}

} // namespace Gdi

namespace Graphics {

namespace {

std::uint8_t StyleBit(TFontStyle style)
{
    return static_cast<std::uint8_t>(1U << static_cast<unsigned>(style));
}

// Half-open: right and bottom are outside. 64-bit so that a position near the
// int32 limits plus an image size cannot overflow.
struct Rect {
    std::int64_t left;
    std::int64_t top;
    std::int64_t right;
    std::int64_t bottom;

    bool Empty() const { return right <= left || bottom <= top; }
    Rect Intersect(const Rect& other) const
    {
        return {std::max(left, other.left), std::max(top, other.top), std::min(right, other.right),
                std::min(bottom, other.bottom)};
    }
};

// Clips `area` to the target and hands back the visible part, or nothing.
bool ClipToBitmap(const Bitmap& target, Rect& area)
{
    area = area.Intersect({0, 0, target.Width(), target.Height()});
    return !area.Empty();
}

void CopyPixels(Bitmap& target, const Bitmap& source, std::int64_t x, std::int64_t y)
{
    Rect area{x, y, x + source.Width(), y + source.Height()};
    if (!ClipToBitmap(target, area)) {
        return;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(area.right - area.left) * sizeof(Pixel);
    for (auto row = area.top; row < area.bottom; ++row) {
        std::memcpy(target.Row(static_cast<std::int32_t>(row)) + area.left,
                    source.Row(static_cast<std::int32_t>(row - y)) + (area.left - x), rowBytes);
    }
}

void FillArea(Bitmap& target, Rect area, Pixel color)
{
    if (!ClipToBitmap(target, area)) {
        return;
    }
    for (auto row = area.top; row < area.bottom; ++row) {
        std::fill_n(target.Row(static_cast<std::int32_t>(row)) + area.left, area.right - area.left, color);
    }
}

// Sets only the glyph's ink pixels. A bold glyph is the glyph ORed with
// itself one pixel to the right, as Windows emboldens raster fonts.
void DrawGlyph(Bitmap& target, std::int64_t x, std::int64_t y, const GlyphRows& glyph, bool bold, Pixel color)
{
    const std::int64_t inkWidth = FixedSysCellWidth + (bold ? 1 : 0);
    Rect area{x, y, x + inkWidth, y + FixedSysCellHeight};
    if (!ClipToBitmap(target, area)) {
        return;
    }
    const auto firstColumn = static_cast<int>(area.left - x);
    const auto lastColumn = static_cast<int>(area.right - x);
    for (auto row = area.top; row < area.bottom; ++row) {
        // Bit 15 is the leftmost column, leaving room for the bold column.
        auto ink = static_cast<std::uint16_t>(glyph[static_cast<std::size_t>(row - y)] << 8);
        if (bold) {
            ink = static_cast<std::uint16_t>(ink | ink >> 1);
        }
        Pixel* dst = target.Row(static_cast<std::int32_t>(row)) + area.left;
        for (int column = firstColumn; column < lastColumn; ++column) {
            if ((ink & (0x8000U >> column)) != 0) {
                dst[column - firstColumn] = color;
            }
        }
    }
}

} // namespace

TFontStyles& TFontStyles::operator<<(TFontStyle style)
{
    members_ = static_cast<std::uint8_t>(members_ | StyleBit(style));
    return *this;
}

bool TFontStyles::Contains(TFontStyle style) const
{
    return (members_ & StyleBit(style)) != 0;
}

std::int32_t TCanvas::CharacterAdvance() const
{
    return FixedSysCellWidth + (font_.GetStyle().Contains(TFontStyle::fsBold) ? 1 : 0);
}

void TCanvas::Draw(std::int32_t x, std::int32_t y, const TBitmap* graphic)
{
    assert(&graphic->Image() != &target_);
    CopyPixels(target_, graphic->Image(), x, y);
}

void TCanvas::TextOut(std::int32_t x, std::int32_t y, const std::string& text)
{
    const bool bold = font_.GetStyle().Contains(TFontStyle::fsBold);
    const std::int64_t advance = CharacterAdvance();
    if (context_.backgroundMode == Gdi::OPAQUE) {
        // White is a new device context's background colour, and nothing here sets another.
        FillArea(target_, {x, y, x + advance * static_cast<std::int64_t>(text.size()), y + FixedSysCellHeight}, White);
    }
    std::int64_t cellX = x;
    for (const char character : text) {
        DrawGlyph(target_, cellX, y, FixedSysGlyph(static_cast<unsigned char>(character)), bold, font_.GetColor());
        cellX += advance;
    }
}

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

void TBitmap::SetWidth(std::int32_t width)
{
    image_.Resize(width, image_.Height());
}

void TBitmap::SetHeight(std::int32_t height)
{
    image_.Resize(image_.Width(), height);
}

TCanvas* TBitmap::GetCanvas()
{
    if (!canvas_) {
        canvas_ = std::make_unique<TCanvas>(image_);
    }
    return canvas_.get();
}

} // namespace Graphics
