// SPDX-License-Identifier: MIT
// Each variant the reader takes, decoded to pixels known in advance.
#include "BmpBuilder.h"
#include "BmpCodec.h"
#include "ImageError.h"

#include <gtest/gtest.h>

using Graphics::Bitmap;
using Graphics::DecodeBmp;
using Graphics::Pixel;
using TestSupport::BmpBuilder;
using TestSupport::BottomUp;
using TestSupport::Bytes;

namespace {

Pixel Rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return {blue, green, red};
}

const Pixel Red = Rgb(255, 0, 0);
const Pixel Green = Rgb(0, 255, 0);
const Pixel Blue = Rgb(0, 0, 255);
const Pixel White = Rgb(255, 255, 255);
const Pixel Black = Rgb(0, 0, 0);

// Rows top first.
void ExpectPixels(const Bitmap& bitmap, const std::vector<std::vector<Pixel>>& rows)
{
    ASSERT_EQ(bitmap.Height(), static_cast<std::int32_t>(rows.size()));
    for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
        const auto& row = rows[static_cast<std::size_t>(y)];
        ASSERT_EQ(bitmap.Width(), static_cast<std::int32_t>(row.size()));
        for (std::int32_t x = 0; x < bitmap.Width(); ++x) {
            const Pixel want = row[static_cast<std::size_t>(x)];
            const Pixel got = bitmap.At(x, y);
            EXPECT_EQ(got, want) << "at (" << x << ", " << y << "): got " << int(got.red) << "," << int(got.green)
                                 << "," << int(got.blue) << " want " << int(want.red) << "," << int(want.green) << ","
                                 << int(want.blue);
        }
    }
}

Bitmap Decode(const BmpBuilder& builder)
{
    return DecodeBmp(builder.Build());
}

BmpBuilder Paletted(std::uint16_t bitCount, std::int32_t width, std::int32_t height, Bytes pixels)
{
    BmpBuilder bmp;
    bmp.bitCount = bitCount;
    bmp.width = width;
    bmp.height = height;
    bmp.palette = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}}; // red, green, blue, white
    bmp.pixels = std::move(pixels);
    return bmp;
}

} // namespace

TEST(DecodeTrueColour, Reads24BitRowsBottomUpWithPadding)
{
    BmpBuilder bmp;
    bmp.width = 3;
    bmp.height = 2;
    bmp.pixels = BottomUp({{0, 0, 255, 0, 255, 0, 255, 0, 0}, {255, 255, 255, 0, 0, 0, 1, 2, 3}});
    ExpectPixels(Decode(bmp), {{Red, Green, Blue}, {White, Black, Rgb(3, 2, 1)}});
}

TEST(DecodeTrueColour, ReadsTopDownRowsWhenHeightIsNegative)
{
    BmpBuilder bmp;
    bmp.width = 1;
    bmp.height = -2;
    bmp.pixels = {0, 0, 255, 0, 0, 255, 0, 0}; // stored top row first
    ExpectPixels(Decode(bmp), {{Red}, {Green}});
}

TEST(DecodeTrueColour, Ignores32BitFourthByteAndAcceptsMissingFinalPadding)
{
    BmpBuilder bmp;
    bmp.bitCount = 32;
    bmp.width = 2;
    bmp.pixels = {0, 0, 255, 0x00, 255, 0, 0, 0x80};
    ExpectPixels(Decode(bmp), {{Red, Blue}});

    BmpBuilder unpadded;
    unpadded.width = 1;
    unpadded.height = 2;
    unpadded.pixels = {0, 255, 0, 0, 0, 0, 255}; // the last row's pad byte is missing
    ExpectPixels(Decode(unpadded), {{Red}, {Green}});
}

TEST(DecodeTrueColour, ScalesFiveBitChannelsByRounding)
{
    BmpBuilder bmp;
    bmp.bitCount = 16;
    bmp.width = 3;
    // 5-5-5 with blue lowest: white, 1 in every channel, pure red.
    bmp.pixels = {0xFF, 0x7F, 0x21, 0x04, 0x00, 0x7C, 0, 0};
    ExpectPixels(Decode(bmp), {{White, Rgb(8, 8, 8), Red}});
}

TEST(DecodeTrueColour, ReadsBitFieldMasksOfAnyWidthAndOrder)
{
    BmpBuilder rgb565;
    rgb565.bitCount = 16;
    rgb565.compression = 3;
    rgb565.width = 2;
    rgb565.masks = {0xF800, 0x07E0, 0x001F};
    rgb565.pixels = {0x00, 0xF8, 0x00, 0x04};
    // Green 32 of 63 rounds to 130; shifting it left would give 128.
    ExpectPixels(Decode(rgb565), {{Red, Rgb(0, 130, 0)}});

    BmpBuilder wide;
    wide.bitCount = 32;
    wide.compression = 3;
    wide.width = 2;
    // 10-bit blue at the bottom, 2-bit green, 20-bit red on top.
    wide.masks = {0xFFFFF000, 0x00000C00, 0x000003FF};
    wide.pixels = {0xFF, 0x03 | 0x04, 0x00, 0x00, 0x00, 0x02, 0x00, 0x80};
    // Pixel 0: blue 1023 -> 255, green 1 of 3 -> 85. Pixel 1: blue 512 -> 128, red 2^19 -> 128.
    ExpectPixels(Decode(wide), {{Rgb(0, 85, 255), Rgb(128, 0, 128)}});

    BmpBuilder noBlue;
    noBlue.bitCount = 16;
    noBlue.compression = 3;
    noBlue.masks = {0xFF00, 0x00FF, 0};
    noBlue.pixels = {0xFF, 0xFF, 0, 0};
    ExpectPixels(Decode(noBlue), {{Rgb(255, 255, 0)}});
}

TEST(DecodeTrueColour, TakesMasksFromEveryHeaderThatHoldsThem)
{
    for (std::uint32_t headerSize : {52U, 56U, 108U, 124U}) {
        BmpBuilder bmp;
        bmp.headerSize = headerSize;
        bmp.bitCount = 16;
        bmp.compression = 3;
        bmp.masks = {0x000F, 0x00F0, 0x0F00, 0xF000}; // red lowest
        bmp.pixels = {0x0F, 0x00, 0, 0};
        SCOPED_TRACE(headerSize);
        ExpectPixels(Decode(bmp), {{Red}});

        // With BI_RGB the header's masks are not used.
        bmp.compression = 0;
        bmp.pixels = {0x00, 0x7C, 0, 0};
        ExpectPixels(Decode(bmp), {{Red}});
    }
    BmpBuilder alphaFields;
    alphaFields.compression = 6; // BI_ALPHABITFIELDS: four masks after a 40-byte header
    alphaFields.bitCount = 32;
    alphaFields.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
    alphaFields.palette = {{1, 2, 3}}; // a colour table after the masks is skipped
    alphaFields.pixels = {0, 0, 255, 0x40};
    ExpectPixels(Decode(alphaFields), {{Blue}});
}

TEST(DecodeTrueColour, ConvertsLinear64BitSamplesToSrgb)
{
    BmpBuilder bmp;
    bmp.bitCount = 64;
    bmp.width = 2;
    const auto sample = [](std::int16_t value) { return Bytes{std::uint8_t(value), std::uint8_t(value >> 8)}; };
    for (std::int16_t value : {std::int16_t{8192}, std::int16_t{4096}, std::int16_t{-100}, std::int16_t{8192},
                               std::int16_t{0}, std::int16_t{12000}, std::int16_t{20}, std::int16_t{0}}) {
        const Bytes bytes = sample(value);
        bmp.pixels.insert(bmp.pixels.end(), bytes.begin(), bytes.end());
    }
    // Blue 1.0, green 0.5 linear (188 in sRGB), red clamped up from negative;
    // then blue 0, green clamped down from 1.46, red 20/8192 in the linear segment.
    ExpectPixels(Decode(bmp), {{Rgb(0, 188, 255), Rgb(8, 255, 0)}});
}

TEST(DecodePaletted, UnpacksOneTwoFourAndEightBitIndicesHighBitsFirst)
{
    // 1 bit, 10 pixels: crosses a byte.
    ExpectPixels(Decode(Paletted(1, 10, 1, {0b10100000, 0b01000000, 0, 0})),
                 {{Green, Red, Green, Red, Red, Red, Red, Red, Red, Green}});
    // 2 bits: 0, 1, 2, 3, 3.
    ExpectPixels(Decode(Paletted(2, 5, 1, {0b00011011, 0b11000000, 0, 0})), {{Red, Green, Blue, White, White}});
    // 4 bits: the high nibble is the first pixel.
    ExpectPixels(Decode(Paletted(4, 3, 1, {0x21, 0x30, 0, 0})), {{Blue, Green, White}});
    ExpectPixels(Decode(Paletted(8, 3, 1, {3, 0, 2, 0})), {{White, Red, Blue}});
}

TEST(DecodePaletted, ReadsShortPalettesAndIndicesPastThemAsBlack)
{
    BmpBuilder bmp = Paletted(8, 4, 1, {0, 3, 4, 255});
    bmp.clrUsed = 4;
    ExpectPixels(Decode(bmp), {{Red, White, Black, Black}});

    // ClrUsed beyond 2^bpp is capped; the pixels still start at bfOffBits.
    BmpBuilder oversized = Paletted(1, 2, 1, {0b01000000, 0, 0, 0});
    oversized.clrUsed = 300;
    ExpectPixels(Decode(oversized), {{Red, Green}});
}

TEST(DecodePaletted, ReadsCoreAndOs2Headers)
{
    // 12 bytes: 16-bit sizes and 3-byte palette entries, 252 of 256 present.
    BmpBuilder core = Paletted(8, 2, 2, BottomUp({{2, 1}, {0, 3}}));
    core.headerSize = 12;
    core.palette.resize(252, {9, 9, 9});
    ExpectPixels(Decode(core), {{Blue, Green}, {Red, White}});

    for (std::uint32_t headerSize : {16U, 64U}) {
        BmpBuilder os2 = Paletted(4, 2, 1, {0x30, 0, 0, 0});
        os2.headerSize = headerSize;
        SCOPED_TRACE(headerSize);
        ExpectPixels(Decode(os2), {{White, Red}});
    }
}

TEST(DecodePaletted, StartsPixelsAtTheOffsetAfterAnyGap)
{
    BmpBuilder bmp = Paletted(8, 2, 1, {2, 1, 0, 0});
    bmp.gap = 100;
    ExpectPixels(Decode(bmp), {{Blue, Green}});
}

TEST(DecodePaletted, ReadsTheFirstImageOfAnOs2BitmapArray)
{
    const Bytes inner = Paletted(8, 2, 1, {2, 1, 0, 0}).Build();
    Bytes file = {'B', 'A'};
    TestSupport::PutLe(file, 14 + inner.size(), 4);
    TestSupport::PutLe(file, 0, 4); // no next image
    TestSupport::PutLe(file, 0, 4); // display size
    file.insert(file.end(), inner.begin(), inner.end());
    // The inner file header's offset counts from the start of the whole file.
    const std::uint32_t offBits = 14 + inner[10] + (inner[11] << 8);
    file[14 + 10] = static_cast<std::uint8_t>(offBits);
    file[14 + 11] = static_cast<std::uint8_t>(offBits >> 8);
    ExpectPixels(DecodeBmp(file), {{Blue, Green}});
}

TEST(DecodeRle, Rle8RunsAbsoluteRunsDeltasAndUnsetPixels)
{
    BmpBuilder bmp = Paletted(8, 6, 3, {});
    bmp.compression = 1;
    bmp.pixels = {
        2, 1,             // two green
        0, 3, 2, 3, 1, 0, // absolute run of three, padded to an even length
        0, 0,             // end of line: the sixth pixel stays unset
        0, 2, 2, 1,       // delta: two right, one row up
        9, 2,             // nine blue, clipped at the row's end
        0, 1,             // end of bitmap
    };
    // Unset pixels are palette colour 0 (red). Row order is bottom up.
    ExpectPixels(
        Decode(bmp),
        {{Red, Red, Blue, Blue, Blue, Blue}, {Red, Red, Red, Red, Red, Red}, {Green, Green, Blue, White, Green, Red}});
}

TEST(DecodeRle, Rle4AlternatesNibblesAndPadsOddAbsoluteRuns)
{
    BmpBuilder bmp = Paletted(4, 5, 2, {});
    bmp.compression = 2;
    bmp.pixels = {
        5, 0x12,             // green blue green blue green
        0, 0,                // end of line
        0, 3,    0x30, 0x20, // absolute run of three nibbles in two bytes: white red blue
        0, 1,
    };
    ExpectPixels(Decode(bmp), {{White, Red, Blue, Red, Red}, {Green, Blue, Green, Blue, Green}});
}

TEST(DecodeRle, Os2Rle24StoresBlueGreenRed)
{
    BmpBuilder bmp;
    bmp.headerSize = 64;
    bmp.compression = 4;
    bmp.width = 5;
    // A run of two red, then an absolute run of three pixels padded to an even length.
    bmp.pixels = {2, 0, 0, 255, 0, 3, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 1};
    ExpectPixels(Decode(bmp), {{Red, Red, Blue, Green, Red}});
}

TEST(DecodeRle, AcceptsDataThatEndsWithTheImage)
{
    // No end-of-bitmap code, but every row was written.
    BmpBuilder bmp = Paletted(8, 2, 1, {2, 3});
    bmp.compression = 1;
    ExpectPixels(Decode(bmp), {{White, White}});
}

namespace {

// The encoder's pieces, joined; each piece must be of a sensible size.
Bytes Encode(const Bitmap& bitmap)
{
    Bytes file;
    Graphics::EncodeBmp(bitmap, [&file](std::span<const std::uint8_t> piece) {
        EXPECT_FALSE(piece.empty());
        EXPECT_LE(piece.size(), 65536U);
        file.insert(file.end(), piece.begin(), piece.end());
    });
    return file;
}

} // namespace

TEST(EncodeBmp, WritesA24BitFileThatReadsBackOnAnOddWidth)
{
    Bitmap picture(5, 3, White);
    picture.At(0, 0) = Red;
    picture.At(4, 0) = Green;
    picture.At(2, 1) = Blue;
    picture.At(4, 2) = Rgb(1, 2, 3);
    const Bytes file = Encode(picture);
    // 14 + 40 header bytes, rows of 15 bytes padded to 16.
    ASSERT_EQ(file.size(), 54U + 3 * 16);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[28], 24); // bits per pixel
    EXPECT_EQ(file[54 + 15], 0) << "row padding must be zero for reproducible output";
    EXPECT_EQ(DecodeBmp(file), picture);

    EXPECT_EQ(Encode(Bitmap(630, 350)).size(), 662254U);
}

TEST(EncodeBmp, SplitsRowsLongerThanOneWriteAndKeepsTheirPadding)
{
    // 21847 pixels make a row of 65541 bytes, padded to 65544: past one piece.
    Bitmap wide(21847, 3, White);
    for (std::int32_t x = 0; x < wide.Width(); ++x) {
        wide.At(x, 1) = Rgb(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8), 7);
    }
    const Bytes file = Encode(wide);
    ASSERT_EQ(file.size(), 54U + 3 * 65544);
    EXPECT_EQ(file[54 + 65541], 0);
    EXPECT_EQ(file[54 + 65543], 0);
    EXPECT_EQ(DecodeBmp(file), wide);
}

TEST(EncodeBmp, RefusesAPictureWithoutPixelsRatherThanWriteAFileNoReaderTakes)
{
    for (const auto& [width, height] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
        try {
            Encode(Bitmap(width, height));
            ADD_FAILURE() << width << " x " << height << " was written";
        } catch (const Graphics::ImageError& error) {
            EXPECT_EQ(error.Kind(), Graphics::ImageErrorKind::BadHeader) << error.what();
            EXPECT_NE(std::string(error.what()).find("no pixels"), std::string::npos) << error.what();
        }
    }
}
