// SPDX-License-Identifier: MIT
// The whole run in this process, checked against a plain per-pixel model of
// the picture, written from the keyboard's facts rather than the layout code,
// and of the key cap, built rather than decoded.
#include "BmpCodec.h"
#include "ComposeKeyboardPicture.h"
#include "FixedSysFont.h"
#include "KeyCaps.h"
#include "Platform.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <array>

using Graphics::Bitmap;
using Graphics::Pixel;
using TestSupport::Bytes;
using TestSupport::TestFolder;

namespace {

// Runs the composition inside a scratch folder and comes back.
class InFolder {
public:
    explicit InFolder(const TestFolder& folder) : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder.Path());
    }
    ~InFolder() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

// The keyboard written out by hand: rows of labels, and which are letters.
const char* const Rows[] = {"1234567890-^\\", "QWERTYUIOP@[", "ASDFGHJKL;:]", "ZXCVBNM,./\\"};

// A plain per-pixel model of the picture: white, then each key stamped and
// labelled in turn, rows starting at `rowStarts` and 16 + row x H down,
// labels 6 in and 2 (letters) or 12 down, bold by a second copy one
// pixel to the right.
Bitmap ModelPicture(const Bitmap& key, const std::array<std::int64_t, 4>& rowStarts)
{
    Bitmap picture(630, 350, Graphics::White);
    const auto set = [&](std::int64_t x, std::int64_t y, Pixel pixel) {
        if (x >= 0 && y >= 0 && x < 630 && y < 350) {
            picture.At(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)) = pixel;
        }
    };
    for (std::size_t row = 0; row < 4; ++row) {
        const std::int64_t keyY = 16 + static_cast<std::int64_t>(row) * key.Height();
        for (std::size_t column = 0; Rows[row][column] != '\0'; ++column) {
            const char label = Rows[row][column];
            const std::int64_t keyX = rowStarts[row] + static_cast<std::int64_t>(column) * key.Width();
            for (std::int32_t y = 0; y < key.Height(); ++y) {
                for (std::int32_t x = 0; x < key.Width(); ++x) {
                    set(keyX + x, keyY + y, key.At(x, y));
                }
            }
            const std::int64_t labelY = keyY + (label >= 'A' && label <= 'Z' ? 2 : 12);
            const auto& glyph = Graphics::FixedSysGlyph(static_cast<unsigned char>(label));
            for (int y = 0; y < Graphics::FixedSysCellHeight; ++y) {
                for (int x = 0; x < 8; ++x) {
                    if ((glyph[static_cast<std::size_t>(y)] & (0x80 >> x)) != 0) {
                        set(keyX + 6 + x, labelY + y, Graphics::Black);
                        set(keyX + 7 + x, labelY + y, Graphics::Black);
                    }
                }
            }
        }
    }
    return picture;
}

} // namespace

TEST(ComposeKeyboardPicture, StampsEveryKeyAndLabelForKeysOfManySizes)
{
    // Ordinary, odd, tiny, overhanging the picture, and larger than the
    // picture, with where their rows start: 64 + the whole part of the key
    // width times 0, 0.5, 0.75 and 1.2 (a hair above 1.2, so 25 gives 30).
    using enum TestSupport::KeyCapStorage;
    struct Key {
        std::int32_t width;
        std::int32_t height;
        TestSupport::KeyCapStorage storage;
        std::array<std::int64_t, 4> rowStarts;
    };
    const Key keys[] = {
        {40, 32, Rgb24, {64, 84, 94, 112}},   {41, 17, Palette8, {64, 84, 94, 113}},
        {1, 1, Rgb24, {64, 64, 64, 65}},      {25, 90, Rle8, {64, 76, 82, 94}},
        {60, 100, Rgb24, {64, 94, 109, 136}}, {700, 400, Rgb24, {64, 414, 589, 904}},
    };
    for (const Key& key : keys) {
        TestFolder folder;
        folder.Write("key.bmp", TestSupport::KeyCap(key.width, key.height, key.storage));
        {
            InFolder inFolder(folder);
            ASSERT_EQ(ComposeKeyboardPicture(), 0);
        }
        const Bitmap picture = Graphics::DecodeBmp(folder.Read("zzOut.bmp"));
        ASSERT_EQ(picture.Width(), 630);
        ASSERT_EQ(picture.Height(), 350);
        EXPECT_TRUE(picture ==
                    ModelPicture(TestSupport::KeyCapPixels(key.width, key.height, key.storage), key.rowStarts))
            << "key of " << key.width << " x " << key.height << " stored as " << static_cast<int>(key.storage);
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
    }
}

TEST(ComposeKeyboardPicture, FailsBeforeWritingAndKeepsAnEarlierPicture)
{
    TestFolder folder;
    folder.Write("zzOut.bmp", {'o', 'l', 'd'});
    InFolder inFolder(folder);
    try {
        ComposeKeyboardPicture();
        FAIL() << "ran without key.bmp";
    } catch (const Platform::FileError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("key.bmp: ", 0), 0U) << error.what();
    }
    EXPECT_EQ(folder.Read("zzOut.bmp"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"zzOut.bmp"}));
}
