// SPDX-License-Identifier: MIT
// Every variant the reader takes, decoded to pixels known in advance (the
// table in SampleFiles.h), and the writer's files read back.
#include "BmpCodec.h"
#include "ImageError.h"
#include "RunTool.h"
#include "SampleFiles.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

using Graphics::Bitmap;
using Graphics::DecodeBmp;
using Graphics::Pixel;
using TestSupport::Bytes;
using TestSupport::SampleFile;

namespace {

Pixel Rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return {blue, green, red};
}

const Pixel Red = Rgb(255, 0, 0);
const Pixel Green = Rgb(0, 255, 0);
const Pixel Blue = Rgb(0, 0, 255);
const Pixel White = Rgb(255, 255, 255);

class DecodeSample : public testing::TestWithParam<SampleFile> {};

TEST_P(DecodeSample, GivesThePixelsKnownInAdvance)
{
    const SampleFile& sample = GetParam();
    const Bitmap bitmap = DecodeBmp(sample.bytes);
    ASSERT_EQ(bitmap.Height(), static_cast<std::int32_t>(sample.rows.size()));
    for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
        const auto& row = sample.rows[static_cast<std::size_t>(y)];
        ASSERT_EQ(bitmap.Width(), static_cast<std::int32_t>(row.size()));
        for (std::int32_t x = 0; x < bitmap.Width(); ++x) {
            const TestSupport::Rgb want = row[static_cast<std::size_t>(x)];
            const Pixel got = bitmap.At(x, y);
            EXPECT_EQ(got, Rgb(want.red, want.green, want.blue))
                << "at (" << x << ", " << y << "): got " << int(got.red) << "," << int(got.green) << ","
                << int(got.blue) << " want " << int(want.red) << "," << int(want.green) << "," << int(want.blue);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DecodeSample, testing::ValuesIn(TestSupport::SampleFiles()), [](const auto& testInfo) {
    std::string name = testInfo.param.name;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
    return name;
});

} // namespace

namespace Graphics {
// Named in failure messages instead of a dump of bytes.
void PrintTo(const Bitmap& bitmap, std::ostream* out)
{
    *out << bitmap.Width() << " x " << bitmap.Height() << " bitmap";
}
} // namespace Graphics

namespace TestSupport {
void PrintTo(const SampleFile& sample, std::ostream* out)
{
    *out << sample.name;
}
} // namespace TestSupport

TEST(DecodeLimits, TakesAPictureOfExactlyTheMostPixelsAllowed)
{
    // 8192 x 4096 = 2^25 pixels from 66 bytes of RLE8: taken, all palette colour 0.
    TestSupport::BmpBuilder bmp = TestSupport::Paletted(8, 8192, 4096, {0, 1});
    bmp.compression = 1;
    const Bitmap bitmap = DecodeBmp(bmp.Build());
    EXPECT_EQ(bitmap.Width(), 8192);
    EXPECT_EQ(bitmap.Height(), 4096);
    EXPECT_EQ(bitmap.At(8191, 0), Red);
    EXPECT_EQ(bitmap.At(0, 4095), Red);
}

TEST(SampleFiles, AreExactlyTheFuzzersCommittedSeeds)
{
    // make-fuzz-seeds writes the table into fuzz/seeds; a table changed without it leaves the fuzzer behind.
    std::vector<std::string> committed;
    for (const auto& entry : std::filesystem::directory_iterator(TestSupport::SourcePath("fuzz/seeds"))) {
        committed.push_back(entry.path().filename().string());
    }
    std::sort(committed.begin(), committed.end());
    std::vector<std::string> expected;
    for (const SampleFile& sample : TestSupport::SampleFiles()) {
        expected.push_back(sample.name + ".bmp");
        EXPECT_EQ(TestSupport::TestFolder::ReadFile(TestSupport::SourcePath("fuzz/seeds/" + sample.name + ".bmp")),
                  sample.bytes)
            << sample.name;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(committed, expected);
}

namespace {

// The encoder's pieces, joined; each piece must be of a sensible size.
Bytes Encode(const Bitmap& bitmap)
{
    Bytes file;
    Graphics::EncodeBmp(bitmap, [&file](std::span<const std::uint8_t> piece) {
        EXPECT_FALSE(piece.empty());
        EXPECT_LE(piece.size(), 65536U);
        file.insert(file.end(), piece.begin(), piece.end());
    });
    return file;
}

} // namespace

TEST(EncodeBmp, WritesA24BitFileThatReadsBackOnAnOddWidth)
{
    Bitmap picture(5, 3, White);
    picture.At(0, 0) = Red;
    picture.At(4, 0) = Green;
    picture.At(2, 1) = Blue;
    picture.At(4, 2) = Rgb(1, 2, 3);
    const Bytes file = Encode(picture);
    // 14 + 40 header bytes, rows of 15 bytes padded to 16.
    ASSERT_EQ(file.size(), 54U + 3 * 16);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[28], 24); // bits per pixel
    EXPECT_EQ(file[54 + 15], 0) << "row padding must be zero for reproducible output";
    EXPECT_EQ(DecodeBmp(file), picture);

    EXPECT_EQ(Encode(Bitmap(630, 350)).size(), 662254U);
}

TEST(EncodeBmp, SplitsRowsLongerThanOneWriteAndKeepsTheirPadding)
{
    // 21847 pixels make a row of 65541 bytes, padded to 65544: past one piece.
    Bitmap wide(21847, 3, White);
    for (std::int32_t x = 0; x < wide.Width(); ++x) {
        wide.At(x, 1) = Rgb(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8), 7);
    }
    const Bytes file = Encode(wide);
    ASSERT_EQ(file.size(), 54U + 3 * 65544);
    EXPECT_EQ(file[54 + 65541], 0);
    EXPECT_EQ(file[54 + 65543], 0);
    EXPECT_EQ(DecodeBmp(file), wide);
    // Rows of 9 bytes padded to 12: the first piece ends after row 5456's
    // tenth byte, so the next starts with nothing but that row's padding.
    Bitmap tall(3, 5457, White);
    tall.At(1, 0) = Rgb(1, 2, 3);
    const Bytes tallFile = Encode(tall);
    ASSERT_EQ(tallFile.size(), 54U + 5457 * 12);
    EXPECT_EQ(tallFile[65536], 0);
    EXPECT_EQ(DecodeBmp(tallFile), tall);
}

TEST(EncodeBmp, RefusesAPictureWithoutPixelsRatherThanWriteAFileNoReaderTakes)
{
    for (const auto& [width, height] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
        try {
            Encode(Bitmap(width, height));
            ADD_FAILURE() << width << " x " << height << " was written";
        } catch (const Graphics::ImageError& error) {
            EXPECT_EQ(error.Kind(), Graphics::ImageErrorKind::BadHeader) << error.what();
            EXPECT_NE(std::string(error.what()).find("no pixels"), std::string::npos) << error.what();
        }
    }
}
