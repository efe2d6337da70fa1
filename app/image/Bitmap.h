// SPDX-License-Identifier: MIT
// A picture in memory: width, height and rows of 24-bit pixels, top row first.
#pragma once

#include <cassert>
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

    // Debug builds check every position; release builds trust the callers, which clip first.
    Pixel* Row(std::int32_t y) { return pixels_.data() + RowOffset(y); }
    const Pixel* Row(std::int32_t y) const { return pixels_.data() + RowOffset(y); }
    Pixel& At(std::int32_t x, std::int32_t y) { return pixels_[Offset(x, y)]; }
    const Pixel& At(std::int32_t x, std::int32_t y) const { return pixels_[Offset(x, y)]; }

    // Keeps the pixels that the old and new sizes share; new ones are `fill`.
    void Resize(std::int32_t width, std::int32_t height, Pixel fill = White);

    bool operator==(const Bitmap&) const = default;

private:
    std::size_t RowOffset(std::int32_t y) const
    {
        assert(y >= 0 && y < height_);
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    }
    std::size_t Offset(std::int32_t x, std::int32_t y) const
    {
        assert(x >= 0 && x < width_);
        return RowOffset(y) + static_cast<std::size_t>(x);
    }

    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::vector<Pixel> pixels_;
};

} // namespace Graphics
