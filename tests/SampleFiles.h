// SPDX-License-Identifier: MIT
// Small valid files, one per family of variants, for the mutation test and
// as the fuzzer's seeds.
#pragma once

#include "BmpBuilder.h"

#include <string>
#include <utility>

namespace TestSupport {

inline std::vector<std::pair<std::string, Bytes>> SampleFiles()
{
    std::vector<std::pair<std::string, Bytes>> files;
    const std::vector<std::array<std::uint8_t, 3>> palette = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};

    BmpBuilder rgb24;
    rgb24.width = 3;
    rgb24.height = 2;
    rgb24.pixels = BottomUp({{1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 8, 7, 6, 5, 4, 3, 2, 1}});
    files.emplace_back("rgb24", rgb24.Build());

    BmpBuilder pal1Core;
    pal1Core.headerSize = 12;
    pal1Core.bitCount = 1;
    pal1Core.width = 9;
    pal1Core.height = 2;
    pal1Core.palette = {palette[0], palette[1]};
    pal1Core.pixels = BottomUp({{0xA5, 0x80}, {0x5A, 0x00}});
    files.emplace_back("pal1-core", pal1Core.Build());

    BmpBuilder rle8;
    rle8.bitCount = 8;
    rle8.compression = 1;
    rle8.width = 6;
    rle8.height = 3;
    rle8.palette = palette;
    rle8.pixels = {2, 1, 0, 3, 2, 3, 1, 0, 0, 0, 0, 2, 2, 1, 9, 2, 0, 1};
    files.emplace_back("rle8", rle8.Build());

    BmpBuilder rle4;
    rle4.bitCount = 4;
    rle4.compression = 2;
    rle4.width = 5;
    rle4.height = 2;
    rle4.palette = palette;
    rle4.pixels = {5, 0x12, 0, 0, 0, 3, 0x30, 0x20, 0, 1};
    files.emplace_back("rle4", rle4.Build());

    BmpBuilder rle24;
    rle24.headerSize = 64;
    rle24.compression = 4;
    rle24.width = 5;
    rle24.pixels = {2, 0, 0, 255, 0, 3, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 1};
    files.emplace_back("rle24-os2", rle24.Build());

    BmpBuilder fields16;
    fields16.headerSize = 40;
    fields16.bitCount = 16;
    fields16.compression = 3;
    fields16.width = 3;
    fields16.height = -2;
    fields16.masks = {0xF800, 0x07E0, 0x001F};
    fields16.pixels = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0, 0xFF, 0xFF, 0x00, 0x00, 0x21, 0x08, 0, 0};
    files.emplace_back("bitfields16", fields16.Build());

    BmpBuilder v5;
    v5.headerSize = 124;
    v5.bitCount = 32;
    v5.compression = 3;
    v5.width = 2;
    v5.height = 2;
    v5.masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000};
    v5.pixels = {0xFF, 0x03, 0, 0, 0, 0xFC, 0x0F, 0, 0, 0, 0xF0, 0x3F, 1, 2, 3, 0xC4};
    files.emplace_back("v5-1010102", v5.Build());

    BmpBuilder rgba64;
    rgba64.bitCount = 64;
    rgba64.width = 2;
    rgba64.pixels = {0x00, 0x20, 0x00, 0x10, 0x9C, 0xFF, 0x00, 0x20, 0, 0, 0xE0, 0x2E, 0x14, 0, 0, 0};
    files.emplace_back("rgba64", rgba64.Build());
    return files;
}

} // namespace TestSupport
