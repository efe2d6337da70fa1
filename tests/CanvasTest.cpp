// SPDX-License-Identifier: MIT
// Stamping images and printing labels: clipping at every edge, transparent
// and opaque text, bold, and the bitmap's own sizing.
#include "FixedSysFont.h"
#include "Graphics.h"
#include "ImageError.h"

#include <gtest/gtest.h>

#include <memory>

using Graphics::Bitmap;
using Graphics::Pixel;
using Graphics::TBitmap;
using Graphics::TCanvas;
using Graphics::TFontStyle;
using Graphics::TFontStyles;

namespace {

const Pixel Teal{128, 128, 0};

std::unique_ptr<TBitmap> MakeBitmap(std::int32_t width, std::int32_t height, Pixel fill)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetWidth(width);
    bitmap->SetHeight(height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            bitmap->ScanLine(y)[x] = fill;
        }
    }
    return bitmap;
}

// A key image whose every pixel differs, so any misplaced copy shows.
std::unique_ptr<TBitmap> MakeGradient(std::int32_t width, std::int32_t height)
{
    auto bitmap = MakeBitmap(width, height, Graphics::Black);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            bitmap->ScanLine(y)[x] = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7};
        }
    }
    return bitmap;
}

bool GlyphInk(unsigned char character, int column, int row, bool bold)
{
    if (row < 0 || row >= Graphics::FixedSysCellHeight) {
        return false;
    }
    const auto bits = Graphics::FixedSysGlyph(character)[static_cast<std::size_t>(row)];
    const auto at = [&](int c) { return c >= 0 && c < 8 && (bits & (0x80 >> c)) != 0; };
    return at(column) || (bold && at(column - 1));
}

} // namespace

TEST(TBitmap, StartsEmptyAndGrowsWhiteKeepingWhatItHad)
{
    TBitmap bitmap;
    EXPECT_EQ(bitmap.GetWidth(), 0);
    EXPECT_EQ(bitmap.GetHeight(), 0);
    bitmap.SetWidth(630);
    bitmap.SetHeight(350);
    ASSERT_EQ(bitmap.GetWidth(), 630);
    ASSERT_EQ(bitmap.GetHeight(), 350);
    EXPECT_EQ(bitmap.Image(), Bitmap(630, 350, Graphics::White));

    bitmap.ScanLine(1)[2] = Teal;
    bitmap.SetWidth(700);
    EXPECT_EQ(bitmap.ScanLine(1)[2], Teal);
    EXPECT_EQ(bitmap.ScanLine(1)[650], Graphics::White);
}

TEST(TBitmap, RefusesANegativeSizeWithAnImageError)
{
    TBitmap bitmap;
    EXPECT_THROW(bitmap.SetWidth(-1), Graphics::ImageError);
    EXPECT_THROW(bitmap.SetHeight(-350), Graphics::ImageError);
    EXPECT_EQ(bitmap.GetWidth(), 0);
}

TEST(TCanvasDraw, CopiesTheImageClippedAtEveryEdge)
{
    const auto key = MakeGradient(6, 5);
    // Fully inside, and overhanging the left, top, right, bottom and all at once.
    const std::pair<int, int> positions[] = {{2, 3}, {-2, 4}, {3, -3}, {17, 5}, {4, 12}, {-3, -2}, {18, 13}};
    for (const auto& [x, y] : positions) {
        auto picture = MakeBitmap(20, 15, Teal);
        picture->GetCanvas()->Draw(x, y, key.get());
        for (int py = 0; py < 15; ++py) {
            for (int px = 0; px < 20; ++px) {
                const bool covered = px >= x && px < x + 6 && py >= y && py < y + 5;
                const Pixel want =
                    covered ? Pixel{static_cast<std::uint8_t>(px - x), static_cast<std::uint8_t>(py - y), 7} : Teal;
                ASSERT_EQ(picture->ScanLine(py)[px], want)
                    << "key at (" << x << ", " << y << "), pixel (" << px << ", " << py << ")";
            }
        }
    }
}

TEST(TCanvasDraw, IgnoresImagesEntirelyOutsideAndExtremePositions)
{
    const auto key = MakeGradient(6, 5);
    auto picture = MakeBitmap(20, 15, Teal);
    const auto before = picture->Image();
    for (const auto& [x, y] : std::initializer_list<std::pair<std::int32_t, std::int32_t>>{
             {-6, 0}, {20, 0}, {0, -5}, {0, 15}, {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN}}) {
        picture->GetCanvas()->Draw(x, y, key.get());
    }
    EXPECT_EQ(picture->Image(), before);
}

TEST(TCanvasDraw, DrawsABitmapOntoItself)
{
    auto picture = MakeGradient(4, 4);
    picture->GetCanvas()->Draw(1, 1, picture.get());
    // (3, 3) now holds what (2, 2) held before the copy, not a pixel the copy already moved.
    EXPECT_EQ(picture->ScanLine(3)[3], (Pixel{2, 2, 7}));
    EXPECT_EQ(picture->ScanLine(1)[1], (Pixel{0, 0, 7}));
}

TEST(TCanvasText, TransparentTextPaintsOnlyInkAndLeavesTheCellAlone)
{
    for (const bool bold : {false, true}) {
        auto picture = MakeBitmap(30, 25, Teal);
        TCanvas* canvas = picture->GetCanvas();
        if (bold) {
            canvas->GetFont()->SetStyle(TFontStyles() << TFontStyle::fsBold);
        }
        EXPECT_EQ(Gdi::SetBkMode(canvas->GetHandle(), Gdi::TRANSPARENT), Gdi::OPAQUE);
        canvas->TextOut(5, 4, "A");
        int inkCount = 0;
        for (int y = 0; y < 25; ++y) {
            for (int x = 0; x < 30; ++x) {
                const bool ink = GlyphInk('A', x - 5, y - 4, bold);
                inkCount += ink ? 1 : 0;
                ASSERT_EQ(picture->ScanLine(y)[x], ink ? Graphics::Black : Teal)
                    << (bold ? "bold" : "regular") << " at (" << x << ", " << y << ")";
            }
        }
        EXPECT_GT(inkCount, 20);
    }
}

TEST(TCanvasText, BoldInkIsOnePixelWider)
{
    auto picture = MakeBitmap(20, 20, Graphics::White);
    TCanvas* canvas = picture->GetCanvas();
    canvas->GetFont()->SetStyle({TFontStyle::fsBold});
    Gdi::SetBkMode(canvas->GetHandle(), Gdi::TRANSPARENT);
    canvas->TextOut(0, 0, "W");
    int rightmost = -1;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            if (picture->ScanLine(y)[x] == Graphics::Black) {
                rightmost = std::max(rightmost, x);
            }
        }
    }
    // W's strokes reach the cell's seventh column; the bold copy adds one.
    EXPECT_EQ(rightmost, 7);
}

TEST(TCanvasText, BoldTextAdvancesNinePixelsAndSmearsIntoTheNinthColumn)
{
    // "__" in bold: each underscore fills its eight columns and, bold, the
    // ninth; the second starts nine pixels after the first.
    auto picture = MakeBitmap(30, 20, Teal);
    TCanvas* canvas = picture->GetCanvas();
    canvas->GetFont()->SetStyle({TFontStyle::fsBold});
    Gdi::SetBkMode(canvas->GetHandle(), Gdi::TRANSPARENT);
    canvas->TextOut(2, 0, "_|");
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 30; ++x) {
            const bool ink = GlyphInk('_', x - 2, y, true) || GlyphInk('|', x - 11, y, true);
            ASSERT_EQ(picture->ScanLine(y)[x], ink ? Graphics::Black : Teal) << "at (" << x << ", " << y << ")";
        }
    }
    // The underscore's ink reaches its cell's last column, so bold carries it into the ninth.
    int underscoreRow = -1;
    for (int row = 0; row < Graphics::FixedSysCellHeight; ++row) {
        if (GlyphInk('_', 7, row, false)) {
            underscoreRow = row;
        }
    }
    ASSERT_GE(underscoreRow, 0) << "the font's underscore no longer reaches its last column";
    EXPECT_EQ(picture->ScanLine(underscoreRow)[2 + 8], Graphics::Black);
}

TEST(TCanvasText, OpaqueTextFillsItsCellsWithTheBackground)
{
    auto picture = MakeBitmap(30, 20, Teal);
    TCanvas* canvas = picture->GetCanvas();
    canvas->TextOut(2, 1, "-|");
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 30; ++x) {
            const bool inCells = x >= 2 && x < 18 && y >= 1 && y < 16;
            const bool ink = GlyphInk('-', x - 2, y - 1, false) || GlyphInk('|', x - 10, y - 1, false);
            const Pixel want = ink ? Graphics::Black : inCells ? Graphics::White : Teal;
            ASSERT_EQ(picture->ScanLine(y)[x], want) << "at (" << x << ", " << y << ")";
        }
    }
}

TEST(TCanvasText, ClipsGlyphsAtEveryEdge)
{
    // A glyph drawn overhanging an edge shows exactly the part that the
    // same glyph drawn well inside a larger picture shows in that window.
    const std::pair<int, int> positions[] = {{-4, 3}, {3, -7}, {8, 2}, {2, 6}, {-5, -9}, {9, 8}};
    for (const auto& [x, y] : positions) {
        auto small = MakeBitmap(12, 10, Teal);
        auto large = MakeBitmap(52, 50, Teal);
        for (TBitmap* bitmap : {small.get(), large.get()}) {
            bitmap->GetCanvas()->GetFont()->SetStyle({TFontStyle::fsBold});
            Gdi::SetBkMode(bitmap->GetCanvas()->GetHandle(), Gdi::TRANSPARENT);
        }
        small->GetCanvas()->TextOut(x, y, "M");
        large->GetCanvas()->TextOut(x + 20, y + 20, "M");
        for (int py = 0; py < 10; ++py) {
            for (int px = 0; px < 12; ++px) {
                ASSERT_EQ(small->ScanLine(py)[px], large->ScanLine(py + 20)[px + 20])
                    << "glyph at (" << x << ", " << y << "), pixel (" << px << ", " << py << ")";
            }
        }
    }
}

TEST(TCanvasText, DrawsByte5CAsABackslash)
{
    // Falls from top left to bottom right: the first inked row starts left of the last.
    int firstRowColumn = -1;
    int lastRowColumn = -1;
    for (int row = 0; row < Graphics::FixedSysCellHeight; ++row) {
        for (int column = 0; column < 8; ++column) {
            if (GlyphInk('\\', column, row, false)) {
                if (firstRowColumn < 0) {
                    firstRowColumn = column;
                }
                lastRowColumn = column;
                break;
            }
        }
    }
    EXPECT_GE(firstRowColumn, 0);
    EXPECT_LT(firstRowColumn, lastRowColumn);
}

TEST(SetBkMode, RefusesUnknownModesAndNullContexts)
{
    TBitmap bitmap;
    Gdi::HDC context = bitmap.GetCanvas()->GetHandle();
    EXPECT_EQ(Gdi::SetBkMode(context, 3), 0);
    EXPECT_EQ(Gdi::SetBkMode(nullptr, Gdi::TRANSPARENT), 0);
    EXPECT_EQ(Gdi::SetBkMode(context, Gdi::TRANSPARENT), Gdi::OPAQUE);
    EXPECT_EQ(Gdi::SetBkMode(context, Gdi::OPAQUE), Gdi::TRANSPARENT);
}
