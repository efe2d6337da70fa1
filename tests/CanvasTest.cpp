// SPDX-License-Identifier: MIT
// Stamping images and printing labels: clipping at every edge, transparent
// bold text against pictures drawn by hand, and the bitmap's own sizing.
#include "BmpCodec.h"
#include "FixedSysFont.h"
#include "Graphics.h"
#include "ImageError.h"
#include "TestFolder.h"

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

// A key image loaded the way the run loads one: from a BMP file.
std::unique_ptr<TBitmap> Loaded(const Bitmap& image)
{
    TestSupport::TestFolder folder;
    std::vector<std::uint8_t> bytes;
    Graphics::EncodeBmp(
        image, [&](std::span<const std::uint8_t> piece) { bytes.insert(bytes.end(), piece.begin(), piece.end()); });
    folder.Write("key.bmp", bytes);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromFile((folder / "key.bmp").string());
    return bitmap;
}

// Every pixel differs, so any misplaced copy shows.
Bitmap Gradient(std::int32_t width, std::int32_t height)
{
    Bitmap image(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            image.At(x, y) = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7};
        }
    }
    return image;
}

void Bold(TCanvas& canvas)
{
    canvas.GetFont()->SetStyle(TFontStyles() << TFontStyle::fsBold);
    Gdi::SetBkMode(canvas.GetHandle(), Gdi::TRANSPARENT);
}

// Compares `picture` with rows of '#' (black ink) and '.' (teal, untouched),
// drawn by hand from the font's glyphs.
void ExpectInk(const Bitmap& picture, const std::vector<std::string>& rows)
{
    ASSERT_EQ(static_cast<std::size_t>(picture.Height()), rows.size());
    for (std::int32_t y = 0; y < picture.Height(); ++y) {
        for (std::int32_t x = 0; x < picture.Width(); ++x) {
            const char want = rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            ASSERT_EQ(picture.At(x, y), want == '#' ? Graphics::Black : Teal) << "at (" << x << ", " << y << ")";
        }
    }
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

    bitmap.GetCanvas()->Draw(2, 1, Loaded(Bitmap(1, 1, Teal)).get());
    bitmap.SetWidth(700);
    EXPECT_EQ(bitmap.Image().At(2, 1), Teal);
    EXPECT_EQ(bitmap.Image().At(650, 1), Graphics::White);
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
    const auto key = Loaded(Gradient(6, 5));
    // Fully inside, and overhanging the left, top, right, bottom and all at once.
    const std::pair<int, int> positions[] = {{2, 3}, {-2, 4}, {3, -3}, {17, 5}, {4, 12}, {-3, -2}, {18, 13}};
    for (const auto& [x, y] : positions) {
        Bitmap picture(20, 15, Teal);
        TCanvas(picture).Draw(x, y, key.get());
        for (int py = 0; py < 15; ++py) {
            for (int px = 0; px < 20; ++px) {
                const bool covered = px >= x && px < x + 6 && py >= y && py < y + 5;
                const Pixel want =
                    covered ? Pixel{static_cast<std::uint8_t>(px - x), static_cast<std::uint8_t>(py - y), 7} : Teal;
                ASSERT_EQ(picture.At(px, py), want)
                    << "key at (" << x << ", " << y << "), pixel (" << px << ", " << py << ")";
            }
        }
    }
}

TEST(TCanvasDraw, IgnoresImagesEntirelyOutsideAndExtremePositions)
{
    const auto key = Loaded(Gradient(6, 5));
    Bitmap picture(20, 15, Teal);
    TCanvas canvas(picture);
    for (const auto& [x, y] : std::initializer_list<std::pair<std::int32_t, std::int32_t>>{
             {-6, 0}, {20, 0}, {0, -5}, {0, 15}, {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN}}) {
        canvas.Draw(x, y, key.get());
    }
    EXPECT_EQ(picture, Bitmap(20, 15, Teal));
}

TEST(TCanvasText, BoldTextPaintsOnlyInkOnePixelWiderAndAdvancesNine)
{
    // 'A' regular is two pixels a stroke; bold widens each by one to the
    // right. '_' fills its cell's eight columns, so bold carries it into the
    // ninth, where the next cell starts: the bar that follows.
    Bitmap picture(28, 15, Teal);
    TCanvas canvas(picture);
    Bold(canvas);
    canvas.TextOut(1, 0, "A_|");
    ExpectInk(picture, {
                           "............................",
                           "............................",
                           "....##................###...",
                           "...####...............###...",
                           "..######..............###...",
                           ".###..###.............###...",
                           ".###..###.............###...",
                           ".########.............###...",
                           ".###..###.............###...",
                           ".###..###.............###...",
                           ".###..###.............###...",
                           ".###..###.............###...",
                           "............................",
                           "..........#########.........",
                           "............................",
                       });
}

TEST(TCanvasText, ClipsGlyphsAtEveryEdge)
{
    // A glyph drawn overhanging an edge shows exactly the part that the
    // same glyph drawn well inside a larger picture shows in that window.
    const std::pair<int, int> positions[] = {{-4, 3}, {3, -7}, {8, 2}, {2, 6}, {-5, -9}, {9, 8}};
    for (const auto& [x, y] : positions) {
        Bitmap small(12, 10, Teal);
        Bitmap large(52, 50, Teal);
        TCanvas smallCanvas(small);
        TCanvas largeCanvas(large);
        Bold(smallCanvas);
        Bold(largeCanvas);
        smallCanvas.TextOut(x, y, "M");
        largeCanvas.TextOut(x + 20, y + 20, "M");
        for (int py = 0; py < 10; ++py) {
            for (int px = 0; px < 12; ++px) {
                ASSERT_EQ(small.At(px, py), large.At(px + 20, py + 20))
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
    for (const std::uint8_t row : Graphics::FixedSysGlyph('\\')) {
        for (int column = 0; column < 8; ++column) {
            if ((row & (0x80 >> column)) != 0) {
                firstRowColumn = firstRowColumn < 0 ? column : firstRowColumn;
                lastRowColumn = column;
                break;
            }
        }
    }
    EXPECT_GE(firstRowColumn, 0);
    EXPECT_LT(firstRowColumn, lastRowColumn);
}

TEST(SetBkMode, StartsOpaqueReturnsThePreviousModeAndRefusesUnknownOnes)
{
    Bitmap picture(1, 1);
    TCanvas canvas(picture);
    Gdi::HDC context = canvas.GetHandle();
    EXPECT_EQ(Gdi::SetBkMode(context, 3), 0);
    EXPECT_EQ(Gdi::SetBkMode(nullptr, Gdi::TRANSPARENT), 0);
    EXPECT_EQ(Gdi::SetBkMode(context, Gdi::TRANSPARENT), Gdi::OPAQUE);
    EXPECT_EQ(Gdi::SetBkMode(context, Gdi::OPAQUE), Gdi::TRANSPARENT);
}
