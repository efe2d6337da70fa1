// SPDX-License-Identifier: MIT
// The whole run in this process, checked against a plain per-pixel model of
// the picture: white, then each key stamped and labelled in turn.
#include "BmpBuilder.h"
#include "BmpCodec.h"
#include "ComposeKeyboardPicture.h"
#include "FixedSysFont.h"
#include "ImageError.h"
#include "KeyCaps.h"
#include "KeyboardLayout.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

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

Bitmap ModelPicture(const Bitmap& key)
{
    Bitmap picture(PictureWidth, PictureHeight, Graphics::White);
    const auto set = [&](std::int64_t x, std::int64_t y, Pixel pixel) {
        if (x >= 0 && y >= 0 && x < PictureWidth && y < PictureHeight) {
            picture.At(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)) = pixel;
        }
    };
    for (const auto& placement : KeyboardLayout::PlaceKeys(key.Width(), key.Height())) {
        for (std::int32_t y = 0; y < key.Height(); ++y) {
            for (std::int32_t x = 0; x < key.Width(); ++x) {
                set(std::int64_t{placement.keyX} + x, std::int64_t{placement.keyY} + y, key.At(x, y));
            }
        }
        const auto& glyph = Graphics::FixedSysGlyph(static_cast<unsigned char>(placement.label));
        for (int row = 0; row < Graphics::FixedSysCellHeight; ++row) {
            for (int column = 0; column < 8; ++column) {
                if ((glyph[static_cast<std::size_t>(row)] & (0x80 >> column)) != 0) {
                    // Bold: the glyph and the glyph one pixel to the right.
                    set(placement.labelX + column, placement.labelY + row, Graphics::Black);
                    set(placement.labelX + column + 1, placement.labelY + row, Graphics::Black);
                }
            }
        }
    }
    return picture;
}

} // namespace

TEST(ComposeKeyboardPicture, StampsEveryKeyAndLabelForKeysOfManySizes)
{
    // Ordinary, odd, tiny, overhanging the picture, and larger than the picture.
    using enum TestSupport::KeyCapStorage;
    const std::tuple<std::int32_t, std::int32_t, TestSupport::KeyCapStorage> keys[] = {
        {40, 32, Rgb24}, {41, 17, Palette8}, {1, 1, Rgb24}, {25, 90, Rle8}, {60, 100, Rgb24}, {700, 400, Rgb24}};
    for (const auto& [width, height, storage] : keys) {
        TestFolder folder;
        const Bytes keyFile = TestSupport::KeyCap(width, height, storage);
        folder.Write("key.bmp", keyFile);
        {
            InFolder inFolder(folder);
            ASSERT_EQ(ComposeKeyboardPicture(), 0);
        }
        const Bitmap picture = Graphics::DecodeBmp(folder.Read("zzOut.bmp"));
        ASSERT_EQ(picture.Width(), 630);
        ASSERT_EQ(picture.Height(), 350);
        EXPECT_TRUE(picture == ModelPicture(Graphics::DecodeBmp(keyFile)))
            << "key of " << width << " x " << height << " stored as " << static_cast<int>(storage);
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
    } catch (const Graphics::ImageError& error) {
        EXPECT_EQ(error.Kind(), Graphics::ImageErrorKind::Io);
        EXPECT_EQ(std::string(error.what()).rfind("key.bmp: ", 0), 0U) << error.what();
    }
    EXPECT_EQ(folder.Read("zzOut.bmp"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"zzOut.bmp"}));
}
