#include "BmpCodec.h"

#include "ImageError.h"

#include <cstring>
#include <limits>

namespace Graphics {

namespace {

void PutU16(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t value)
{
    PutU16(p, value & 0xFFFF);
    PutU16(p + 2, value >> 16);
}

// Row padding is always zero, so the same picture always gives the same bytes.
constexpr std::uint8_t ZeroPadding[3] = {};

} // namespace

EncodedBmp::EncodedBmp(const Bitmap& bitmap)
{
    const auto width = static_cast<std::uint64_t>(bitmap.Width());
    const auto height = static_cast<std::uint64_t>(bitmap.Height());
    const std::uint64_t rowBytes = width * sizeof(Pixel);
    const std::uint64_t stride = (rowBytes + 3) / 4 * 4;
    // bfSize and biSizeImage are 32-bit fields.
    if (height != 0 && stride > (std::numeric_limits<std::uint32_t>::max() - HeaderBytes) / height) {
        throw ImageError(ImageErrorKind::TooLarge, "a " + std::to_string(width) + " x " + std::to_string(height) +
                                                       " picture is too large for a BMP file");
    }
    const std::uint64_t imageBytes = stride * height;
    size_ = static_cast<std::size_t>(HeaderBytes + imageBytes);

    std::uint8_t* p = header_.data();
    p[0] = 'B';
    p[1] = 'M';
    PutU32(p + 2, static_cast<std::uint32_t>(size_));
    PutU32(p + 10, static_cast<std::uint32_t>(HeaderBytes)); // bfOffBits
    std::uint8_t* info = p + 14;
    PutU32(info, 40);
    PutU32(info + 4, static_cast<std::uint32_t>(width));
    PutU32(info + 8, static_cast<std::uint32_t>(height)); // positive: bottom-up rows
    PutU16(info + 12, 1);                                 // planes
    PutU16(info + 14, 24);                                // bits per pixel
    PutU32(info + 20, static_cast<std::uint32_t>(imageBytes));
    // Compression (BI_RGB), resolution and palette counts stay 0: the
    // resolution is unknown and a 24-bit file has no palette.

    pieces_.reserve(1 + 2 * static_cast<std::size_t>(height));
    pieces_.emplace_back(header_.data(), header_.size());
    const auto padding = static_cast<std::size_t>(stride - rowBytes);
    for (std::uint64_t fileRow = 0; fileRow < height; ++fileRow) {
        const Pixel* row = bitmap.Row(static_cast<std::int32_t>(height - 1 - fileRow));
        if (rowBytes != 0) {
            pieces_.emplace_back(reinterpret_cast<const std::uint8_t*>(row), static_cast<std::size_t>(rowBytes));
        }
        if (padding != 0) {
            pieces_.emplace_back(ZeroPadding, padding);
        }
    }
}

std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap)
{
    const EncodedBmp encoded(bitmap);
    std::vector<std::uint8_t> file;
    file.reserve(encoded.Size());
    for (const std::span<const std::uint8_t> piece : encoded.Pieces()) {
        file.insert(file.end(), piece.begin(), piece.end());
    }
    return file;
}

} // namespace Graphics
