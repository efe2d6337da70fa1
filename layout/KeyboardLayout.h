// SPDX-License-Identifier: MIT
// The JIS keyboard's character rows and where each key and label goes.
// Pure data and arithmetic: no I/O, no graphics.
#pragma once

#include <cstdint>
#include <vector>

namespace KeyboardLayout {

inline constexpr int RowCount = 4;

// One string per row, leftmost key first, ended by a null entry. Each byte is
// also the key's label; rows 0 and 3 end in a backslash (0x5C), which a JIS
// keyboard shows as the yen sign.
extern const char* const KeyRows[RowCount + 1];

// Parallel to KeyRows: '1' marks a letter key, '0' a digit or punctuation key.
extern const char* const KeyKinds[RowCount + 1];

// Each row's indent from LeftMargin, in key widths. The bottom row's 1.2 is
// deliberately single precision: it lies just above 1.2, so 25 * 1.2f
// truncates to 30, not 29.
extern const float RowStagger[RowCount];

struct LabelOffset {
    std::int32_t dx;
    std::int32_t dy;
};

// Indexed by kind digit - '0': the label's offset from its key's top-left.
extern const LabelOffset LabelOffsets[4];

inline constexpr std::int32_t LeftMargin = 64;
inline constexpr std::int32_t TopMargin = 16;

struct KeyPlacement {
    std::int32_t keyX;
    std::int32_t keyY;
    std::int32_t labelX;
    std::int32_t labelY;
    char label;

    bool operator==(const KeyPlacement&) const = default;
};

// The 48 keys in drawing order: row 0 to row 3, left to right in each row.
// Nothing is clipped; keys may fall outside any picture. Coordinates are
// formed in 64 bits and stored in 32, which is exact for every key size the
// image loader accepts.
std::vector<KeyPlacement> PlaceKeys(std::int32_t keyWidth, std::int32_t keyHeight);

} // namespace KeyboardLayout
