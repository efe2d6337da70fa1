// SPDX-License-Identifier: MIT
#include "BmpCodec.h"

#include "ImageError.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace Graphics {

namespace {

constexpr std::size_t HeaderBytes = 14 + 40;

// Large enough that the 630 x 350 picture goes out in a few writes. On the
// heap: a run must not need a large stack (ulimit -s).
constexpr std::size_t ChunkBytes = std::size_t{64} * 1024;

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

// Bytes per stored row, padded to four. Refuses a picture without pixels,
// which no reader takes, and one too large for bfSize and biSizeImage,
// which are 32-bit fields.
std::uint64_t CheckedStride(std::uint64_t width, std::uint64_t height)
{
    if (width == 0 || height == 0) {
        throw ImageError(ImageErrorKind::BadHeader, N_("a %1$s x %2$s picture has no pixels to write"),
                         {std::to_string(width), std::to_string(height)});
    }
    const std::uint64_t stride = (width * sizeof(Pixel) + 3) / 4 * 4;
    // Not counted by coverage: no picture this tool draws comes near, and
    // one that does fills 4 GiB.
    // GCOVR_EXCL_START
    if (stride > (std::numeric_limits<std::uint32_t>::max() - HeaderBytes) / height) {
        throw ImageError(ImageErrorKind::TooLarge, N_("a %1$s x %2$s picture is too large for a BMP file"),
                         {std::to_string(width), std::to_string(height)});
    }
    // GCOVR_EXCL_STOP
    return stride;
}

} // namespace

void EncodeBmp(const Bitmap& bitmap, const std::function<void(std::span<const std::uint8_t>)>& write)
{
    const auto width = static_cast<std::uint64_t>(bitmap.Width());
    const auto height = static_cast<std::uint64_t>(bitmap.Height());
    const std::uint64_t rowBytes = width * sizeof(Pixel);
    const std::uint64_t stride = CheckedStride(width, height);
    const std::uint64_t imageBytes = stride * height;

    std::vector<std::uint8_t> chunk(ChunkBytes); // zeroed: the header's unused fields are 0
    std::uint8_t* p = chunk.data();
    p[0] = 'B';
    p[1] = 'M';
    PutU32(p + 2, static_cast<std::uint32_t>(HeaderBytes + imageBytes)); // bfSize
    PutU32(p + 10, static_cast<std::uint32_t>(HeaderBytes));             // bfOffBits
    std::uint8_t* info = p + 14;
    PutU32(info, 40);
    PutU32(info + 4, static_cast<std::uint32_t>(width));
    PutU32(info + 8, static_cast<std::uint32_t>(height)); // positive: bottom-up rows
    PutU16(info + 12, 1);                                 // planes
    PutU16(info + 14, 24);                                // bits per pixel
    PutU32(info + 20, static_cast<std::uint32_t>(imageBytes));
    // Compression (BI_RGB), resolution and palette counts stay 0: the
    // resolution is unknown and a 24-bit file has no palette.

    // Whole stored rows are gathered into the chunk, bottom row first; a row
    // longer than the chunk goes out in pieces.
    std::size_t used = HeaderBytes;
    const auto flush = [&] {
        write({chunk.data(), used});
        used = 0;
    };
    for (std::uint64_t fileRow = 0; fileRow < height; ++fileRow) {
        const auto* row =
            reinterpret_cast<const std::uint8_t*>(bitmap.Row(static_cast<std::int32_t>(height - 1 - fileRow)));
        std::uint64_t rowDone = 0;
        while (rowDone < stride) {
            if (used == chunk.size()) {
                flush();
            }
            const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(stride - rowDone, chunk.size() - used));
            const auto pixelBytes =
                static_cast<std::size_t>(std::min<std::uint64_t>(take, rowBytes - std::min(rowBytes, rowDone)));
            if (pixelBytes != 0) {
                std::memcpy(chunk.data() + used, row + rowDone, pixelBytes);
            }
            // Padding is cleared as it is stored, never the whole chunk: the
            // chunk is refilled for every write, and the file's bytes must
            // not depend on what an earlier write left there.
            std::memset(chunk.data() + used + pixelBytes, 0, take - pixelBytes);
            used += take;
            rowDone += take;
        }
    }
    flush();
}

} // namespace Graphics
