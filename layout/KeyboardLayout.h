// SPDX-License-Identifier: MIT
// The JIS keyboard's character rows and where each key and label goes.
// Pure data and arithmetic: no I/O, no graphics.
#pragma once

#include <climits>
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
// single precision, 1.2000000477, just above 1.2; taken to double, its
// product with a key width is exact and truncates to 30 for 25, where a
// factor just below 1.2 carried in extended precision would give 29. A
// double 1.2 gives the same rows up to a key width of 4,194,304.
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

// The largest key for which every coordinate PlaceKeys gives is exact. The
// rightmost label of the widest row starts 12 key widths plus 70 pixels in,
// and the lowest label 3 key heights plus 28 down; both must fit in int32.
// (The row stagger's double product is exact far beyond this width.)
inline constexpr std::int32_t MaxKeyWidth = (INT32_MAX - LeftMargin - 6) / 12;
inline constexpr std::int32_t MaxKeyHeight = (INT32_MAX - TopMargin - 12) / 3;

// The 48 keys in drawing order: row 0 to row 3, left to right in each row.
// Nothing is clipped; keys may fall outside any picture. Exact for keys of
// up to MaxKeyWidth x MaxKeyHeight pixels.
std::vector<KeyPlacement> PlaceKeys(std::int32_t keyWidth, std::int32_t keyHeight);

} // namespace KeyboardLayout
