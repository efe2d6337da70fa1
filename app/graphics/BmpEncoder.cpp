#include "BmpCodec.h"

#include "ImageError.h"

#include <cstring>
#include <limits>

namespace Graphics {

namespace {

constexpr std::size_t FileHeaderBytes = 14;
constexpr std::size_t InfoHeaderBytes = 40;

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

} // namespace

std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap)
{
    const auto width = static_cast<std::uint64_t>(bitmap.Width());
    const auto height = static_cast<std::uint64_t>(bitmap.Height());
    const std::uint64_t rowBytes = width * sizeof(Pixel);
    const std::uint64_t stride = (rowBytes + 3) / 4 * 4;
    const std::uint64_t headerBytes = FileHeaderBytes + InfoHeaderBytes;
    // bfSize and biSizeImage are 32-bit fields.
    if (height != 0 && stride > (std::numeric_limits<std::uint32_t>::max() - headerBytes) / height) {
        throw ImageError(ImageErrorKind::TooLarge, "a " + std::to_string(width) + " x " + std::to_string(height) +
                                                       " picture is too large for a BMP file");
    }
    const std::uint64_t imageBytes = stride * height;

    // Zero-filled, which also provides the row padding.
    std::vector<std::uint8_t> file(headerBytes + imageBytes);
    std::uint8_t* p = file.data();
    p[0] = 'B';
    p[1] = 'M';
    PutU32(p + 2, static_cast<std::uint32_t>(file.size()));
    PutU32(p + 10, static_cast<std::uint32_t>(headerBytes)); // bfOffBits
    std::uint8_t* info = p + FileHeaderBytes;
    PutU32(info, InfoHeaderBytes);
    PutU32(info + 4, static_cast<std::uint32_t>(width));
    PutU32(info + 8, static_cast<std::uint32_t>(height)); // positive: bottom-up rows
    PutU16(info + 12, 1);                                 // planes
    PutU16(info + 14, 24);                                // bits per pixel
    PutU32(info + 20, static_cast<std::uint32_t>(imageBytes));
    // Compression (BI_RGB), resolution and palette counts stay 0: the
    // resolution is unknown and a 24-bit file has no palette.

    std::uint8_t* rows = p + headerBytes;
    for (std::uint64_t fileRow = 0; fileRow < height; ++fileRow) {
        const Pixel* src = bitmap.Row(static_cast<std::int32_t>(height - 1 - fileRow));
        if (rowBytes != 0) {
            std::memcpy(rows + fileRow * stride, src, rowBytes);
        }
    }
    return file;
}

} // namespace Graphics
