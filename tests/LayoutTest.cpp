// SPDX-License-Identifier: MIT
#include "BmpCodec.h"
#include "KeyboardLayout.h"

#include <gtest/gtest.h>

#include <string>

using KeyboardLayout::KeyPlacement;
using KeyboardLayout::PlaceKeys;

namespace {

const KeyPlacement& Find(const std::vector<KeyPlacement>& placements, char label)
{
    for (const KeyPlacement& placement : placements) {
        if (placement.label == label) {
            return placement;
        }
    }
    throw std::runtime_error(std::string("no key labelled ") + label);
}

std::vector<std::int32_t> RowStarts(const std::vector<KeyPlacement>& placements)
{
    // The first keys of the rows are items 0, 13, 25 and 37.
    return {placements[0].keyX, placements[13].keyX, placements[25].keyX, placements[37].keyX};
}

} // namespace

TEST(PlaceKeys, YieldsTheFourJisRowsInDrawingOrder)
{
    const auto placements = PlaceKeys(40, 32);
    std::string labels;
    for (const KeyPlacement& placement : placements) {
        labels += placement.label;
    }
    EXPECT_EQ(labels, "1234567890-^\\QWERTYUIOP@[ASDFGHJKL;:]ZXCVBNM,./\\");
    // Within a row keys go strictly left to right, one key width apart.
    for (std::size_t i = 1; i < placements.size(); ++i) {
        if (placements[i].keyY == placements[i - 1].keyY) {
            EXPECT_EQ(placements[i].keyX - placements[i - 1].keyX, 40) << "item " << i;
        }
    }
}

TEST(PlaceKeys, PlacesKeysAndLabelsOfA40By32Key)
{
    const auto placements = PlaceKeys(40, 32);
    EXPECT_EQ(RowStarts(placements), (std::vector<std::int32_t>{64, 84, 94, 112}));
    EXPECT_EQ(placements[0].keyY, 16);
    EXPECT_EQ(placements[13].keyY, 48);
    EXPECT_EQ(placements[25].keyY, 80);
    EXPECT_EQ(placements[37].keyY, 112);
    EXPECT_EQ(Find(placements, '1'), (KeyPlacement{64, 16, 70, 28, '1'}));
    EXPECT_EQ(Find(placements, 'Q'), (KeyPlacement{84, 48, 90, 50, 'Q'}));
    EXPECT_EQ(Find(placements, '@'), (KeyPlacement{484, 48, 490, 60, '@'}));
    EXPECT_EQ(placements.back(), (KeyPlacement{512, 112, 518, 124, '\\'}));
    // The comparison these checks lean on sees every field.
    for (const KeyPlacement& other :
         {KeyPlacement{65, 16, 70, 28, '1'}, KeyPlacement{64, 17, 70, 28, '1'}, KeyPlacement{64, 16, 71, 28, '1'},
          KeyPlacement{64, 16, 70, 29, '1'}, KeyPlacement{64, 16, 70, 28, '2'}}) {
        EXPECT_NE(placements[0], other);
    }
}

TEST(PlaceKeys, LettersCarryTheirLabelHighAndOtherKeysLow)
{
    for (const KeyPlacement& placement : PlaceKeys(40, 32)) {
        const bool letter = placement.label >= 'A' && placement.label <= 'Z';
        EXPECT_EQ(placement.labelX - placement.keyX, 6) << placement.label;
        EXPECT_EQ(placement.labelY - placement.keyY, letter ? 2 : 12) << placement.label;
    }
}

TEST(PlaceKeys, TruncatesTheStaggerInsteadOfRounding)
{
    // 20.5, 30.75 and 49.2 truncate to 20, 30 and 49.
    EXPECT_EQ(RowStarts(PlaceKeys(41, 32)), (std::vector<std::int32_t>{64, 84, 94, 113}));
    // 25 * 1.2f is a hair above 30; a factor just below 1.2 would give 29.
    EXPECT_EQ(RowStarts(PlaceKeys(25, 10))[3], 94);
}

TEST(PlaceKeys, HandlesEmptyKeySizes)
{
    const auto noWidth = PlaceKeys(0, 32);
    ASSERT_EQ(noWidth.size(), 48U);
    for (const KeyPlacement& placement : noWidth) {
        EXPECT_EQ(placement.keyX, 64) << placement.label;
    }
    const auto noHeight = PlaceKeys(40, 0);
    ASSERT_EQ(noHeight.size(), 48U);
    for (const KeyPlacement& placement : noHeight) {
        EXPECT_EQ(placement.keyY, 16) << placement.label;
    }
}

TEST(PlaceKeys, StaysExactForTheLargestKeysTheLoaderAccepts)
{
    // The widest one-pixel-high key the loader takes: far right, but no wrap in 32 bits.
    const auto widest = PlaceKeys(static_cast<std::int32_t>(Graphics::MaxPixelCount), 1);
    ASSERT_EQ(widest.size(), 48U);
    EXPECT_EQ(widest[12].keyX, 402653248);    // 64 + 12 x 2^25
    EXPECT_EQ(widest.back().keyX, 375809704); // 64 + 1.2f x 2^25 + 10 x 2^25
    EXPECT_EQ(widest.back().keyY, 19);
    const auto tallest = PlaceKeys(1, static_cast<std::int32_t>(Graphics::MaxPixelCount));
    EXPECT_EQ(tallest.back().labelY, 100663324); // 16 + 3 x 2^25 + 12

    // The row stagger in double precision: a product in single precision, or
    // a sum in it, would put row 3 at 2097153 and 40265384.
    EXPECT_EQ(RowStarts(PlaceKeys(1747574, 1))[3], 2097152);
    EXPECT_EQ(RowStarts(PlaceKeys(33554431, 1)), (std::vector<std::int32_t>{64, 16777279, 25165887, 40265382}));
}
