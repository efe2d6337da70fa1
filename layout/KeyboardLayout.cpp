// SPDX-License-Identifier: MIT
#include "KeyboardLayout.h"

namespace KeyboardLayout {

const char* const KeyRows[RowCount + 1] = {
    "1234567890-^\\", "QWERTYUIOP@[", "ASDFGHJKL;:]", "ZXCVBNM,./\\", nullptr,
};

const char* const KeyKinds[RowCount + 1] = {
    "0000000000000", "111111111100", "111111111000", "11111110000", nullptr,
};

const float RowStagger[RowCount] = {0.0F, 0.5F, 0.75F, 1.2F};

const LabelOffset LabelOffsets[4] = {{6, 12}, {6, 2}, {6, 2}, {6, 2}};

// W x 1.2f is exact in a double while W has at most 29 significant bits.
static_assert(MaxKeyWidth < (1 << 29), "the row stagger's product must stay exact");

std::vector<KeyPlacement> PlaceKeys(std::int32_t keyWidth, std::int32_t keyHeight)
{
    std::vector<KeyPlacement> placements;
    placements.reserve(48);
    std::int64_t y = TopMargin;
    for (int row = 0; KeyRows[row] != nullptr; ++row) {
        // Double precision from the single-precision factor, then truncation:
        // a rounding or an extended-precision product would move whole rows.
        const double rowStart = static_cast<double>(keyWidth) * static_cast<double>(RowStagger[row]) + LeftMargin;
        std::int64_t x = static_cast<std::int64_t>(rowStart);
        for (int column = 0; KeyRows[row][column] != '\0'; ++column) {
            const LabelOffset offset = LabelOffsets[KeyKinds[row][column] - '0'];
            placements.push_back({static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                                  static_cast<std::int32_t>(x + offset.dx), static_cast<std::int32_t>(y + offset.dy),
                                  KeyRows[row][column]});
            x += keyWidth;
        }
        y += keyHeight;
    }
    return placements;
}

} // namespace KeyboardLayout
