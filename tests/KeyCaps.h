// SPDX-License-Identifier: MIT
// Key caps of any size, stored three ways, for the tests and the benchmarks.
// Nearly every pixel differs from its neighbours, so a misplaced copy shows.
#pragma once

#include "BmpBuilder.h"

#include <algorithm>

namespace TestSupport {

enum class KeyCapStorage { Rgb24, Palette8, Rle8 };

inline std::uint8_t KeyCapIndex(std::int32_t x, std::int32_t y)
{
    return static_cast<std::uint8_t>((x * 7 + y * 13) % 256);
}

// Rows of alternating encoded runs and absolute runs, as paint programs write them.
inline Bytes KeyCapRle8(std::int32_t width, std::int32_t height)
{
    Bytes data;
    for (std::int32_t y = height - 1; y >= 0; --y) {
        std::int32_t x = 0;
        while (x < width) {
            const std::int32_t run = std::min(7, width - x);
            data.insert(data.end(), {static_cast<std::uint8_t>(run), KeyCapIndex(x, y)});
            x += run;
            const std::int32_t literal = std::min(5, width - x);
            if (literal >= 3) {
                data.insert(data.end(), {0, static_cast<std::uint8_t>(literal)});
                for (std::int32_t i = 0; i < literal; ++i) {
                    data.push_back(KeyCapIndex(x + i, y));
                }
                if (literal % 2 != 0) {
                    data.push_back(0);
                }
                x += literal;
            }
        }
        data.insert(data.end(), {0, 0});
    }
    data.insert(data.end(), {0, 1});
    return data;
}

inline Bytes KeyCap(std::int32_t width, std::int32_t height, KeyCapStorage storage)
{
    BmpBuilder bmp;
    bmp.width = width;
    bmp.height = height;
    bmp.bitCount = storage == KeyCapStorage::Rgb24 ? 24 : 8;
    if (storage != KeyCapStorage::Rgb24) {
        for (int i = 0; i < 256; ++i) {
            bmp.palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 90});
        }
    }
    if (storage == KeyCapStorage::Rle8) {
        bmp.compression = 1;
        bmp.pixels = KeyCapRle8(width, height);
        return bmp.Build();
    }
    std::vector<Bytes> rows;
    for (std::int32_t y = 0; y < height; ++y) {
        Bytes row;
        for (std::int32_t x = 0; x < width; ++x) {
            if (storage == KeyCapStorage::Palette8) {
                row.push_back(KeyCapIndex(x, y));
            } else {
                row.insert(row.end(), {KeyCapIndex(x, y), static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)});
            }
        }
        rows.push_back(std::move(row));
    }
    bmp.pixels = BottomUp(rows);
    return bmp.Build();
}

} // namespace TestSupport
