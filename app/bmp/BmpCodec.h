// SPDX-License-Identifier: MIT
// Windows bitmap (BMP) files to and from Bitmap. Pure functions of bytes:
// no file I/O, and any input gives a Bitmap or an ImageError.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace Graphics {

// The largest image DecodeBmp accepts, decided from the header before any
// pixel memory is allocated. A key cap bigger than the 630 x 350 picture is
// mostly cut off anyway; 2^25 pixels (8192 x 4096) keeps the decoded image
// under 100 MiB while leaving room for any real scan or screenshot.
inline constexpr std::uint64_t MaxPixelCount = std::uint64_t{1} << 25;

// The longest BMP file worth reading: an uncompressed 64-bit image of
// MaxPixelCount pixels, plus 1 MiB for headers, a palette and a gap before
// the pixels. Anything longer cannot be a picture DecodeBmp accepts.
inline constexpr std::uint64_t MaxFileBytes = MaxPixelCount * 8 + (std::uint64_t{1} << 20);

Bitmap DecodeBmp(std::span<const std::uint8_t> data);

// How many bytes of a file of `fileSize` bytes DecodeBmp needs, judged from
// its first bytes `head` (at least its headers: 4 KiB holds those of any
// BMP); fails as DecodeBmp would on a file whose headers are refused or
// that cannot hold the pixels they declare. So a file that cannot be a
// picture is refused before the rest of it is read, and whatever follows
// an uncompressed picture's pixels is never read.
std::uint64_t BmpBytesToRead(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// Writes `bitmap` as a 24-bit bottom-up BMP with a 40-byte header, the
// variant every reader takes, handing the file's bytes to `write` in order,
// a few tens of kilobytes at a time, so that no copy of the whole file is
// ever built. Refuses a bitmap that has no pixels, which no reader takes, or
// too many for the format's 32-bit sizes.
void EncodeBmp(const Bitmap& bitmap, const std::function<void(std::span<const std::uint8_t>)>& write);

} // namespace Graphics
