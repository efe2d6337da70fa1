// Windows bitmap (BMP) files to and from Bitmap. Pure functions of bytes:
// no file I/O, and any input gives a Bitmap or an ImageError.
#pragma once

#include "Bitmap.h"

#include <array>
#include <cstddef>
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

// A 24-bit bottom-up BMP with a 40-byte header, the variant every reader
// takes, as the pieces of the file in order: the headers, then each stored
// row and its padding. The rows are the bitmap's own memory, so the file
// can be written without building a copy of it; the bitmap must outlive this.
class EncodedBmp {
public:
    static constexpr std::size_t HeaderBytes = 14 + 40;

    explicit EncodedBmp(const Bitmap& bitmap);
    EncodedBmp(const EncodedBmp&) = delete; // pieces point into header_
    EncodedBmp& operator=(const EncodedBmp&) = delete;

    std::span<const std::span<const std::uint8_t>> Pieces() const { return pieces_; }
    std::size_t Size() const { return size_; }

private:
    std::array<std::uint8_t, HeaderBytes> header_{};
    std::vector<std::span<const std::uint8_t>> pieces_;
    std::size_t size_ = 0;
};

// The same file in one piece.
std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap);

} // namespace Graphics
