// SPDX-License-Identifier: MIT
// A picture in memory: width, height and rows of 8-bit colour, top row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Graphics {

// Stored in BMP's own byte order so that 24-bit rows convert with a copy.
struct Pixel {
    std::uint8_t blue;
    std::uint8_t green;
    std::uint8_t red;

    bool operator==(const Pixel&) const = default;
};
static_assert(sizeof(Pixel) == 3, "rows are copied to and from 24-bit BMP data as bytes");

inline constexpr Pixel White{255, 255, 255};
inline constexpr Pixel Black{0, 0, 0};

class Bitmap {
public:
    Bitmap() = default;
    Bitmap(std::int32_t width, std::int32_t height, Pixel fill = White);

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }

    Pixel* Row(std::int32_t y) { return pixels_.data() + Offset(0, y); }
    const Pixel* Row(std::int32_t y) const { return pixels_.data() + Offset(0, y); }
    Pixel& At(std::int32_t x, std::int32_t y) { return pixels_[Offset(x, y)]; }
    const Pixel& At(std::int32_t x, std::int32_t y) const { return pixels_[Offset(x, y)]; }

    // Keeps the pixels that the old and new sizes share; new ones are `fill`.
    void Resize(std::int32_t width, std::int32_t height, Pixel fill = White);

    bool operator==(const Bitmap&) const = default;

private:
    std::size_t Offset(std::int32_t x, std::int32_t y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }

    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::vector<Pixel> pixels_;
};

// Half-open: right and bottom are outside. 64-bit so that a position near the
// int32 limits plus an image size cannot overflow.
struct Rect {
    std::int64_t left;
    std::int64_t top;
    std::int64_t right;
    std::int64_t bottom;

    bool Empty() const { return right <= left || bottom <= top; }
    Rect Intersect(const Rect& other) const;
};

} // namespace Graphics
