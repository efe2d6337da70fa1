// SPDX-License-Identifier: MIT
// Key caps of any size, stored three ways, for the tests and the benchmarks.
// Nearly every pixel differs from its neighbours, so a misplaced copy shows.
#pragma once

#include "Bitmap.h"
#include "BmpBuilder.h"

#include <algorithm>

namespace TestSupport {

enum class KeyCapStorage { Rgb24, Palette8, Rle8 };

inline std::uint8_t KeyCapIndex(std::int32_t x, std::int32_t y)
{
    return static_cast<std::uint8_t>((x * 7 + y * 13) % 256);
}

// The paletted key caps' colour table.
inline Graphics::Pixel KeyCapPaletteColour(std::uint8_t index)
{
    return {index, static_cast<std::uint8_t>(255 - index), 90};
}

// How an RLE8 key cap stores every row, as paint programs do: a run of up to
// 7 pixels that all take the first one's colour, then, where 3 or more are
// left, up to 5 stored one by one. Calls piece(x, count, oneByOne) for each.
template <typename Piece> void KeyCapRle8Row(std::int32_t width, Piece piece)
{
    for (std::int32_t x = 0; x < width;) {
        const std::int32_t run = std::min(7, width - x);
        piece(x, run, false);
        x += run;
        const std::int32_t literal = std::min(5, width - x);
        if (literal >= 3) {
            piece(x, literal, true);
            x += literal;
        }
    }
}

inline Bytes KeyCapRle8(std::int32_t width, std::int32_t height)
{
    Bytes data;
    for (std::int32_t y = height - 1; y >= 0; --y) {
        KeyCapRle8Row(width, [&](std::int32_t start, std::int32_t count, bool oneByOne) {
            if (!oneByOne) {
                data.insert(data.end(), {static_cast<std::uint8_t>(count), KeyCapIndex(start, y)});
                return;
            }
            data.insert(data.end(), {0, static_cast<std::uint8_t>(count)});
            for (std::int32_t x = start; x < start + count; ++x) {
                data.push_back(KeyCapIndex(x, y));
            }
            if (count % 2 != 0) {
                data.push_back(0); // absolute runs end on a 16-bit boundary
            }
        });
        data.insert(data.end(), {0, 0});
    }
    data.insert(data.end(), {0, 1});
    return data;
}

// The pixels a key cap's file holds, built here: what a reader must make of it.
inline Graphics::Bitmap KeyCapPixels(std::int32_t width, std::int32_t height, KeyCapStorage storage)
{
    Graphics::Bitmap key(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        KeyCapRle8Row(width, [&](std::int32_t start, std::int32_t count, bool oneByOne) {
            for (std::int32_t x = start; x < start + count; ++x) {
                const std::uint8_t index = KeyCapIndex(storage == KeyCapStorage::Rle8 && !oneByOne ? start : x, y);
                key.At(x, y) = storage == KeyCapStorage::Rgb24
                                   ? Graphics::Pixel{index, static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)}
                                   : KeyCapPaletteColour(index);
            }
        });
    }
    return key;
}

inline Bytes KeyCap(std::int32_t width, std::int32_t height, KeyCapStorage storage)
{
    BmpBuilder bmp;
    bmp.width = width;
    bmp.height = height;
    bmp.bitCount = storage == KeyCapStorage::Rgb24 ? 24 : 8;
    if (storage != KeyCapStorage::Rgb24) {
        for (int i = 0; i < 256; ++i) {
            const Graphics::Pixel colour = KeyCapPaletteColour(static_cast<std::uint8_t>(i));
            bmp.palette.push_back({colour.blue, colour.green, colour.red});
        }
    }
    if (storage == KeyCapStorage::Rle8) {
        bmp.compression = 1;
        bmp.pixels = KeyCapRle8(width, height);
        return bmp.Build();
    }
    const Graphics::Bitmap pixels = KeyCapPixels(width, height, storage);
    std::vector<Bytes> rows;
    for (std::int32_t y = 0; y < height; ++y) {
        Bytes row;
        for (std::int32_t x = 0; x < width; ++x) {
            if (storage == KeyCapStorage::Palette8) {
                row.push_back(KeyCapIndex(x, y));
            } else {
                const Graphics::Pixel& pixel = pixels.At(x, y);
                row.insert(row.end(), {pixel.blue, pixel.green, pixel.red});
            }
        }
        rows.push_back(std::move(row));
    }
    bmp.pixels = BottomUp(rows);
    return bmp.Build();
}

} // namespace TestSupport
