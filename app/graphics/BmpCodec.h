// Windows bitmap (BMP) files to and from Bitmap. Pure functions of bytes:
// no file I/O, and any input gives a Bitmap or an ImageError.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <span>
#include <vector>

namespace Graphics {

// The largest image DecodeBmp accepts, decided from the header before any
// pixel memory is allocated. A key cap bigger than the 630 x 350 picture is
// mostly cut off anyway; 2^25 pixels (8192 x 4096) keeps the decoded image
// under 100 MiB while leaving room for any real scan or screenshot.
inline constexpr std::uint64_t MaxPixelCount = std::uint64_t{1} << 25;

Bitmap DecodeBmp(std::span<const std::uint8_t> data);

// A 24-bit bottom-up BMP with a 40-byte header, the variant every reader takes.
std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap);

} // namespace Graphics
