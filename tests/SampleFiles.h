// SPDX-License-Identifier: MIT
// One small valid file for each variant the reader takes, with the pixels it
// must decode to. The decode tests check every row of this table, the
// mutation test changes every byte of every file, and the fuzzer starts from
// the same files (fuzz/seeds, written by make-fuzz-seeds and checked against
// this table by a test).
#pragma once

#include "BmpBuilder.h"

#include <string>
#include <vector>

namespace TestSupport {

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;

    bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb Red{255, 0, 0};
inline constexpr Rgb Green{0, 255, 0};
inline constexpr Rgb Blue{0, 0, 255};
inline constexpr Rgb White{255, 255, 255};
inline constexpr Rgb Black{0, 0, 0};

struct SampleFile {
    std::string name;
    Bytes bytes;
    std::vector<std::vector<Rgb>> rows; // top row first
};

// Palette entries are stored blue, green, red: red, green, blue, white.
inline BmpBuilder Paletted(std::uint16_t bitCount, std::int32_t width, std::int32_t height, Bytes pixels)
{
    BmpBuilder bmp;
    bmp.bitCount = bitCount;
    bmp.width = width;
    bmp.height = height;
    bmp.palette = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};
    bmp.pixels = std::move(pixels);
    return bmp;
}

inline BmpBuilder TrueColour(std::uint16_t bitCount, std::int32_t width, std::int32_t height, Bytes pixels)
{
    BmpBuilder bmp;
    bmp.bitCount = bitCount;
    bmp.width = width;
    bmp.height = height;
    bmp.pixels = std::move(pixels);
    return bmp;
}

inline BmpBuilder WithHeader(BmpBuilder bmp, std::uint32_t headerSize)
{
    bmp.headerSize = headerSize;
    return bmp;
}

inline BmpBuilder WithCompression(BmpBuilder bmp, std::uint32_t compression, std::vector<std::uint32_t> masks = {})
{
    bmp.compression = compression;
    bmp.masks = std::move(masks);
    return bmp;
}

// The first bitmap of an OS/2 bitmap array, whose offsets count from the start of the whole file.
inline Bytes InBitmapArray(const Bytes& inner)
{
    Bytes file = {'B', 'A'};
    PutLe(file, 14 + inner.size(), 4);
    PutLe(file, 0, 4); // no next image
    PutLe(file, 0, 4); // display size
    file.insert(file.end(), inner.begin(), inner.end());
    const auto offBits = static_cast<std::uint32_t>(14 + inner[10] + (inner[11] << 8));
    file[14 + 10] = static_cast<std::uint8_t>(offBits);
    file[14 + 11] = static_cast<std::uint8_t>(offBits >> 8);
    return file;
}

inline Bytes Samples64(std::initializer_list<std::int16_t> values)
{
    Bytes bytes;
    for (const std::int16_t value : values) {
        PutLe(bytes, static_cast<std::uint16_t>(value), 2);
    }
    return bytes;
}

inline std::vector<SampleFile> SampleFiles()
{
    std::vector<SampleFile> files;
    const auto add = [&files](std::string name, const BmpBuilder& bmp, std::vector<std::vector<Rgb>> rows) {
        files.push_back({std::move(name), bmp.Build(), std::move(rows)});
    };

    // True colour.
    add("rgb24", TrueColour(24, 3, 2, BottomUp({{1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 8, 7, 6, 5, 4, 3, 2, 1}})),
        {{{3, 2, 1}, {6, 5, 4}, {9, 8, 7}}, {{7, 8, 9}, {4, 5, 6}, {1, 2, 3}}});
    add("rgb24-top-down", TrueColour(24, 1, -2, {0, 0, 255, 0, 0, 255, 0, 0}), {{Red}, {Green}});
    // The last row's pad byte is missing, as some writers leave it.
    add("rgb24-unpadded", TrueColour(24, 1, 2, {0, 255, 0, 0, 0, 0, 255}), {{Red}, {Green}});
    // The fourth byte of 32-bit BI_RGB is unused, not alpha.
    add("rgb32", TrueColour(32, 2, 1, {0, 0, 255, 0x00, 255, 0, 0, 0x80}), {{Red, Blue}});
    // 5-5-5 with blue lowest: white, 1 in every channel, red.
    add("rgb16-555", TrueColour(16, 3, 1, {0xFF, 0x7F, 0x21, 0x04, 0x00, 0x7C, 0, 0}), {{White, {8, 8, 8}, Red}});
    // Green 32 of 63 rounds to 130; shifting it left would give 128.
    add("bitfields16-565", WithCompression(TrueColour(16, 2, 1, {0x00, 0xF8, 0x00, 0x04}), 3, {0xF800, 0x07E0, 0x001F}),
        {{Red, {0, 130, 0}}});
    add("bitfields16-565-top-down",
        WithCompression(
            TrueColour(16, 3, -2, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0, 0xFF, 0xFF, 0x00, 0x00, 0x21, 0x08, 0, 0}),
            3, {0xF800, 0x07E0, 0x001F}),
        {{Red, Green, Blue}, {White, Black, {8, 4, 8}}});
    // 20-bit red on top, 2-bit green, 10-bit blue at the bottom.
    add("bitfields32-20-2-10",
        WithCompression(TrueColour(32, 2, 1, {0xFF, 0x07, 0x00, 0x00, 0x00, 0x02, 0x00, 0x80}), 3,
                        {0xFFFFF000, 0x00000C00, 0x000003FF}),
        {{{0, 85, 255}, {128, 0, 128}}});
    // A zero mask is an absent channel.
    add("bitfields16-no-blue", WithCompression(TrueColour(16, 1, 1, {0xFF, 0xFF, 0, 0}), 3, {0xFF00, 0x00FF, 0}),
        {{{255, 255, 0}}});
    // Masks inside the larger headers, red lowest; the alpha mask is only checked.
    for (const std::uint32_t headerSize : {52U, 56U, 108U, 124U}) {
        add("bitfields16-in-header-" + std::to_string(headerSize),
            WithHeader(WithCompression(TrueColour(16, 1, 1, {0x0F, 0x00, 0, 0}), 3, {0x000F, 0x00F0, 0x0F00, 0xF000}),
                       headerSize),
            {{Red}});
    }
    // With BI_RGB the header's masks are not used.
    add("rgb16-v5-ignoring-masks",
        WithHeader(WithCompression(TrueColour(16, 1, 1, {0x00, 0x7C, 0, 0}), 0, {0x000F, 0x00F0, 0x0F00, 0xF000}), 124),
        {{Red}});
    add("bitfields32-v5-10-10-10-2",
        WithHeader(
            WithCompression(TrueColour(32, 2, 2, {0xFF, 0x03, 0, 0, 0, 0xFC, 0x0F, 0, 0, 0, 0xF0, 0x3F, 1, 2, 3, 0xC4}),
                            3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}),
            124),
        {{Red, {16, 48, 128}}, {Blue, Green}});
    // BI_ALPHABITFIELDS: four masks after a 40-byte header; a colour table after them is skipped.
    BmpBuilder alphaFields =
        WithCompression(TrueColour(32, 1, 1, {0, 0, 255, 0x40}), 6, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000});
    alphaFields.palette = {{1, 2, 3}};
    add("alphabitfields32", alphaFields, {{Blue}});
    // Linear s2.13: blue 1.0, green 0.5 (188 in sRGB), red clamped up from
    // negative; then blue 0, green clamped down from 1.46, red 20/8192 in the
    // linear segment.
    add("rgba64", TrueColour(64, 2, 1, Samples64({8192, 4096, -100, 8192, 0, 12000, 20, 0})),
        {{{0, 188, 255}, {8, 255, 0}}});

    // Palettes.
    add("pal1", Paletted(1, 10, 1, {0b10100000, 0b01000000, 0, 0}),
        {{Green, Red, Green, Red, Red, Red, Red, Red, Red, Green}});
    add("pal2", Paletted(2, 5, 1, {0b00011011, 0b11000000, 0, 0}), {{Red, Green, Blue, White, White}});
    add("pal4", Paletted(4, 3, 1, {0x21, 0x30, 0, 0}), {{Blue, Green, White}}); // high nibble first
    add("pal8", Paletted(8, 3, 1, {3, 0, 2, 0}), {{White, Red, Blue}});
    BmpBuilder shortPalette = Paletted(8, 4, 1, {0, 3, 4, 255});
    shortPalette.clrUsed = 4;
    add("pal8-index-past-palette", shortPalette, {{Red, White, Black, Black}});
    // biClrUsed beyond 2^bpp is capped; the pixels still start at bfOffBits.
    BmpBuilder oversized = Paletted(1, 2, 1, {0b01000000, 0, 0, 0});
    oversized.clrUsed = 300;
    add("pal1-oversized-palette", oversized, {{Red, Green}});
    BmpBuilder gap = Paletted(8, 2, 1, {2, 1, 0, 0});
    gap.gap = 100;
    add("pal8-gap-before-pixels", gap, {{Blue, Green}});
    // 12 bytes: 16-bit sizes and 3-byte palette entries, 252 of 256 present.
    BmpBuilder core = WithHeader(Paletted(8, 2, 2, BottomUp({{2, 1}, {0, 3}})), 12);
    core.palette.resize(252, {9, 9, 9});
    add("pal8-core-short-palette", core, {{Blue, Green}, {Red, White}});
    BmpBuilder core1 = WithHeader(Paletted(1, 9, 2, BottomUp({{0xA5, 0x80}, {0x5A, 0x00}})), 12);
    core1.palette.resize(2);
    add("pal1-core", core1,
        {{Green, Red, Green, Red, Red, Green, Red, Green, Green},
         {Red, Green, Red, Green, Green, Red, Green, Red, Red}});
    add("pal4-os2-16", WithHeader(Paletted(4, 2, 1, {0x30, 0, 0, 0}), 16), {{White, Red}});
    add("pal4-os2-64", WithHeader(Paletted(4, 2, 1, {0x30, 0, 0, 0}), 64), {{White, Red}});
    files.push_back({"pal8-os2-bitmap-array", InBitmapArray(Paletted(8, 2, 1, {2, 1, 0, 0}).Build()), {{Blue, Green}}});

    // RLE. Unset pixels are palette colour 0 (red); rows fill bottom up.
    add("rle8",
        WithCompression(Paletted(8, 6, 3,
                                 {
                                     2, 1,             // two green
                                     0, 3, 2, 3, 1, 0, // absolute run of three, padded to an even length
                                     0, 0,             // end of line: the sixth pixel stays unset
                                     0, 2, 2, 1,       // delta: two right, one row up
                                     9, 2,             // nine blue, clipped at the row's end
                                     0, 1,             // end of bitmap
                                 }),
                        1),
        {{Red, Red, Blue, Blue, Blue, Blue}, {Red, Red, Red, Red, Red, Red}, {Green, Green, Blue, White, Green, Red}});
    add("rle4",
        WithCompression(Paletted(4, 5, 2,
                                 {
                                     5,
                                     0x12, // green blue green blue green
                                     0,
                                     0, // end of line
                                     0,
                                     3,
                                     0x30,
                                     0x20, // absolute run of three nibbles in two bytes
                                     0,
                                     1,
                                 }),
                        2),
        {{White, Red, Blue, Red, Red}, {Green, Blue, Green, Blue, Green}});
    // No end-of-bitmap code, but every pixel was written.
    add("rle8-without-end-code", WithCompression(Paletted(8, 2, 1, {2, 3}), 1), {{White, White}});
    // OS/2 RLE8 in a 64-byte header.
    add("rle8-os2", WithHeader(WithCompression(Paletted(8, 3, 1, {3, 2, 0, 1}), 1), 64), {{Blue, Blue, Blue}});
    // OS/2 RLE24: a run of two red, then an absolute run of three pixels padded to an even length.
    add("rle24-os2",
        WithHeader(
            WithCompression(TrueColour(24, 5, 1, {2, 0, 0, 255, 0, 3, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 1}), 4),
            64),
        {{Red, Red, Blue, Green, Red}});
    return files;
}

} // namespace TestSupport
