// SPDX-License-Identifier: MIT
// Stamping images and printing labels: clipping at every edge, bold and
// regular text in either background mode against pictures drawn by hand,
// and the bitmap's own sizing. Inputs are Bitmaps built here, not files.
#include "FixedSysFont.h"
#include "Graphics.h"
#include "ImageError.h"

#include <gtest/gtest.h>

using Graphics::Bitmap;
using Graphics::Pixel;
using Graphics::TBitmap;
using Graphics::TCanvas;
using Graphics::TFontStyle;
using Graphics::TFontStyles;

namespace {

const Pixel Teal{128, 128, 0};

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
}

// Compares `picture` with rows of '#' (black ink), '-' (white) and '.'
// (teal, untouched), drawn by hand from the font's glyphs.
void ExpectInk(const Bitmap& picture, const std::vector<std::string>& rows)
{
    ASSERT_EQ(static_cast<std::size_t>(picture.Height()), rows.size());
    for (std::int32_t y = 0; y < picture.Height(); ++y) {
        for (std::int32_t x = 0; x < picture.Width(); ++x) {
            const char want = rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            const Pixel wanted = want == '#' ? Graphics::Black : want == '-' ? Graphics::White : Teal;
            ASSERT_EQ(picture.At(x, y), wanted) << "at (" << x << ", " << y << ")";
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

    TBitmap dot;
    dot.Image() = Bitmap(1, 1, Teal);
    bitmap.GetCanvas()->Draw(2, 1, &dot);
    bitmap.SetWidth(700);
    bitmap.SetHeight(350); // no change
    EXPECT_EQ(bitmap.Image().At(2, 1), Teal);
    EXPECT_EQ(bitmap.Image().At(650, 1), Graphics::White);
    EXPECT_EQ(bitmap.GetCanvas(), bitmap.GetCanvas()); // one canvas for the bitmap's life
}

TEST(Bitmap, EqualsAnotherOnlyWithTheSameSizeAndEveryPixel)
{
    // The comparison every picture test leans on must see each difference.
    const Bitmap picture(2, 3, Teal);
    Bitmap changed = picture;
    changed.At(1, 2).red = 1;
    for (const Bitmap& other : {Bitmap(3, 2, Teal), Bitmap(2, 4, Teal), changed}) {
        EXPECT_NE(picture, other);
    }
    for (const Pixel& other : {Pixel{1, 0, 0}, Pixel{0, 1, 0}, Pixel{0, 0, 1}}) {
        EXPECT_NE(Pixel{}, other);
    }
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
    TBitmap key;
    key.Image() = Gradient(6, 5);
    // Fully inside, and overhanging the left, top, right, bottom and all at once.
    const std::pair<int, int> positions[] = {{2, 3}, {-2, 4}, {3, -3}, {17, 5}, {4, 12}, {-3, -2}, {18, 13}};
    for (const auto& [x, y] : positions) {
        Bitmap picture(20, 15, Teal);
        TCanvas(picture).Draw(x, y, &key);
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
    TBitmap key;
    key.Image() = Gradient(6, 5);
    Bitmap picture(20, 15, Teal);
    TCanvas canvas(picture);
    for (const auto& [x, y] : std::initializer_list<std::pair<std::int32_t, std::int32_t>>{
             {-6, 0}, {20, 0}, {0, -5}, {0, 15}, {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN}}) {
        canvas.Draw(x, y, &key);
    }
    EXPECT_EQ(picture, Bitmap(20, 15, Teal));
}

TEST(TCanvasText, PaintsBoldOrRegularInkOverCellsTheBackgroundModeFills)
{
    // 'A' regular is two pixels a stroke; bold widens each by one to the
    // right and advances nine, not eight. '_' fills its cell's eight columns,
    // so bold carries it into the ninth, where the next cell starts: the bar
    // that follows. A canvas starts OPAQUE and stays so when asked for a mode
    // that does not exist.
    struct Case {
        bool bold;
        int mode;
        int previousMode; // what SetBkMode gives back
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {true,
         Gdi::TRANSPARENT,
         Gdi::OPAQUE,
         {
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
         }},
        {false,
         3,
         0,
         {
             ".------------------------...",
             ".------------------------...",
             ".---#---------------##---...",
             ".--###--------------##---...",
             ".-##-##-------------##---...",
             ".##---##------------##---...",
             ".##---##------------##---...",
             ".#######------------##---...",
             ".##---##------------##---...",
             ".##---##------------##---...",
             ".##---##------------##---...",
             ".##---##------------##---...",
             ".------------------------...",
             ".--------########--------...",
             ".------------------------...",
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bold ? "bold" : "regular");
        Bitmap picture(28, 15, Teal);
        TCanvas canvas(picture);
        if (c.bold) {
            Bold(canvas);
        }
        EXPECT_EQ(Gdi::SetBkMode(canvas.GetHandle(), c.mode), c.previousMode);
        canvas.TextOut(1, 0, "A_|");
        ExpectInk(picture, c.rows);
    }
    EXPECT_EQ(Gdi::SetBkMode(nullptr, Gdi::TRANSPARENT), 0);
}

TEST(TCanvasText, ClipsGlyphsAndTheirCellsAtEveryEdge)
{
    // Ink where the glyph has a bit set, or has one just left of it (bold);
    // the rest of the bold cell, 9 x 15, white.
    const Graphics::GlyphRows& glyph = Graphics::FixedSysGlyph('M');
    const auto inked = [&glyph](int column, int row) {
        return column >= 0 && column < 8 && row >= 0 && row < 15 &&
               (glyph[static_cast<std::size_t>(row)] & (0x80 >> column)) != 0;
    };
    const std::pair<int, int> positions[] = {{-4, 3}, {3, -7}, {8, 2}, {2, 6}, {-5, -9}, {9, 8}, {40, 40}};
    for (const auto& [x, y] : positions) {
        Bitmap picture(12, 10, Teal);
        TCanvas canvas(picture);
        Bold(canvas);
        canvas.TextOut(x, y, "M");
        for (int py = 0; py < 10; ++py) {
            for (int px = 0; px < 12; ++px) {
                const int column = px - x;
                const int row = py - y;
                const bool inCell = column >= 0 && column < 9 && row >= 0 && row < 15;
                const Pixel want = inked(column, row) || inked(column - 1, row) ? Graphics::Black
                                   : inCell                                     ? Graphics::White
                                                                                : Teal;
                ASSERT_EQ(picture.At(px, py), want)
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
    // Bytes the font lacks draw an empty cell.
    for (const int missing : {0x01, 0x7F, 0xFF}) {
        EXPECT_EQ(Graphics::FixedSysGlyph(static_cast<unsigned char>(missing)), Graphics::GlyphRows{}) << missing;
    }
}
