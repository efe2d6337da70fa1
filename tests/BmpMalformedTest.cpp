// SPDX-License-Identifier: MIT
// Files the reader must refuse, each with the kind of failure and a word
// of the message that tells the user what is wrong.
#include "BmpBuilder.h"
#include "BmpCodec.h"
#include "ImageError.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

using Graphics::DecodeBmp;
using Graphics::ImageError;
using Graphics::ImageErrorKind;
using TestSupport::BmpBuilder;
using TestSupport::Bytes;

namespace {

struct Malformed {
    const char* name;
    std::function<Bytes()> make;
    ImageErrorKind kind;
    const char* words;
};

BmpBuilder Valid24()
{
    BmpBuilder bmp;
    bmp.width = 2;
    bmp.height = 2;
    bmp.pixels.assign(16, 0x80);
    return bmp;
}

BmpBuilder Valid8()
{
    BmpBuilder bmp;
    bmp.bitCount = 8;
    bmp.width = 2;
    bmp.height = 2;
    bmp.palette = {{0, 0, 0}, {255, 255, 255}};
    bmp.pixels.assign(8, 1);
    return bmp;
}

BmpBuilder Fields16()
{
    BmpBuilder bmp = Valid24();
    bmp.bitCount = 16;
    bmp.compression = 3;
    bmp.masks = {0xF800, 0x07E0, 0x001F};
    return bmp;
}

template <typename Change> std::function<Bytes()> With(BmpBuilder bmp, Change change)
{
    return [bmp, change]() mutable {
        change(bmp);
        return bmp.Build();
    };
}

std::function<Bytes()> Raw(const Bytes& bytes)
{
    return [bytes] { return bytes; };
}

std::function<Bytes()> Cut(const BmpBuilder& bmp, std::size_t length)
{
    return [bmp, length] {
        Bytes bytes = bmp.Build();
        bytes.resize(length);
        return bytes;
    };
}

const Malformed Cases[] = {
    {"empty", Raw({}), ImageErrorKind::Truncated, "empty"},
    {"png", Raw({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0}), ImageErrorKind::Unsupported, "PNG"},
    {"jpeg", Raw({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10}), ImageErrorKind::Unsupported, "JPEG"},
    {"gif", Raw({'G', 'I', 'F', '8', '9', 'a', 1, 0}), ImageErrorKind::Unsupported, "GIF"},
    {"text", Raw({'h', 'e', 'l', 'l', 'o'}), ImageErrorKind::BadHeader, "not a BMP file"},
    {"one byte", Raw({'B'}), ImageErrorKind::Truncated, "not a BMP file"},
    {"file header cut", Cut(Valid24(), 10), ImageErrorKind::Truncated, "file header"},
    {"info header cut", Cut(Valid24(), 30), ImageErrorKind::Truncated, "info header"},
    {"unknown header size", With(Valid24(), [](BmpBuilder& b) { b.headerSize = 44; }), ImageErrorKind::BadHeader,
     "header size of 44"},
    {"zero width", With(Valid24(), [](BmpBuilder& b) { b.width = 0; }), ImageErrorKind::BadHeader, "width of 0"},
    {"negative width", With(Valid24(), [](BmpBuilder& b) { b.width = -2; }), ImageErrorKind::BadHeader, "width of -2"},
    {"zero height", With(Valid24(), [](BmpBuilder& b) { b.height = 0; }), ImageErrorKind::BadHeader, "height of 0"},
    {"most negative height", With(Valid24(), [](BmpBuilder& b) { b.height = INT32_MIN; }), ImageErrorKind::BadHeader,
     "-2147483648"},
    {"planes", With(Valid24(), [](BmpBuilder& b) { b.planes = 3; }), ImageErrorKind::BadHeader, "planes field of 3"},
    {"bit depth", With(Valid24(), [](BmpBuilder& b) { b.bitCount = 7; }), ImageErrorKind::Unsupported,
     "7 bits per pixel"},
    {"rle8 at 4 bits", With(Valid8(), [](BmpBuilder& b) { b.compression = 1, b.bitCount = 4; }),
     ImageErrorKind::Unsupported, "4 bits per pixel and BI_RLE8"},
    {"bitfields at 24 bits",
     With(Valid24(),
          [](BmpBuilder& b) {
              b.compression = 3, b.masks = {1, 2, 4};
          }),
     ImageErrorKind::Unsupported, "BI_BITFIELDS"},
    {"jpeg inside", With(Valid24(), [](BmpBuilder& b) { b.compression = 4; }), ImageErrorKind::Unsupported, "BI_JPEG"},
    {"png inside", With(Valid24(), [](BmpBuilder& b) { b.compression = 5; }), ImageErrorKind::Unsupported, "BI_PNG"},
    {"os/2 huffman", With(Valid8(), [](BmpBuilder& b) { b.headerSize = 64, b.compression = 3, b.bitCount = 1; }),
     ImageErrorKind::Unsupported, "Huffman 1D"},
    {"unknown compression", With(Valid24(), [](BmpBuilder& b) { b.compression = 99; }), ImageErrorKind::Unsupported,
     "compression 99"},
    {"top-down rle", With(Valid8(), [](BmpBuilder& b) { b.compression = 1, b.height = -2; }), ImageErrorKind::BadHeader,
     "top-down"},
    {"too many pixels", With(Valid24(), [](BmpBuilder& b) { b.width = 30000, b.height = 30000; }),
     ImageErrorKind::TooLarge, "30000 x 30000"},
    {"huge rle", With(Valid8(), [](BmpBuilder& b) { b.compression = 1, b.width = 1 << 20, b.height = 1 << 20; }),
     ImageErrorKind::TooLarge, "1048576"},
    {"non-contiguous mask",
     With(Valid24(),
          [](BmpBuilder& b) {
              b.bitCount = 16, b.compression = 3, b.masks = {0x7C00, 0x0303, 0x001F};
          }),
     ImageErrorKind::Unsupported, "green mask 0x00000303"},
    {"mask beyond pixel",
     With(Valid24(),
          [](BmpBuilder& b) {
              b.bitCount = 16, b.compression = 3, b.masks = {0xFF0000, 0xFF00, 0xFF};
          }),
     ImageErrorKind::BadHeader, "red mask 0x00FF0000"},
    {"masks cut", Cut(Fields16(), 60), ImageErrorKind::Truncated, "masks"},
    {"offset past end", With(Valid24(), [](BmpBuilder& b) { b.offBits = 5000; }), ImageErrorKind::Truncated,
     "offset 5000"},
    {"offset inside headers", With(Valid8(), [](BmpBuilder& b) { b.offBits = 20; }), ImageErrorKind::BadHeader,
     "inside the headers"},
    {"no palette room", With(Valid8(), [](BmpBuilder& b) { b.palette.clear(); }), ImageErrorKind::BadHeader,
     "colour palette"},
    {"pixels cut", Cut(Valid24(), 54 + 10), ImageErrorKind::Truncated, "pixel data is truncated"},
    {"rle without end",
     With(Valid8(),
          [](BmpBuilder& b) {
              b.compression = 1, b.pixels = {1, 1, 0, 0};
          }),
     ImageErrorKind::Truncated, "end-of-bitmap"},
    {"os/2 array of icons", Raw({'B', 'A', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'C', 'I', 0, 0}),
     ImageErrorKind::Unsupported, "bitmap array"},
};

void PrintTo(const Malformed& malformed, std::ostream* out)
{
    *out << malformed.name;
}

class MalformedBmp : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedBmp, IsRefusedWithAMessageThatSaysWhy)
{
    const Malformed& c = GetParam();
    try {
        DecodeBmp(c.make());
        FAIL() << "decoded without complaint";
    } catch (const ImageError& error) {
        EXPECT_EQ(error.Kind(), c.kind) << error.what();
        EXPECT_NE(std::string(error.what()).find(c.words), std::string::npos) << error.what();
        EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos) << "messages are one line";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedBmp, testing::ValuesIn(Cases), [](const auto& testInfo) {
    std::string name = testInfo.param.name;
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
});

} // namespace
