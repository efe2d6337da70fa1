// SPDX-License-Identifier: MIT
#include "Bitmap.h"

#include "ImageError.h"

#include <algorithm>
#include <string>

namespace Graphics {

namespace {

std::size_t PixelCount(std::int32_t width, std::int32_t height)
{
    if (width < 0 || height < 0) {
        throw ImageError(ImageErrorKind::BadHeader, N_("a bitmap cannot be %1$s x %2$s pixels"),
                         {std::to_string(width), std::to_string(height)});
    }
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

} // namespace

Bitmap::Bitmap(std::int32_t width, std::int32_t height, Pixel fill) : width_(width), height_(height)
{
    // Constructing 3-byte pixels one at a time costs several instructions
    // each; copying a block of them is a plain memory copy. From plain
    // pointers: from iterators the library copies element by element, with a
    // call for each where the build keeps its size down (the page's).
    const std::size_t count = PixelCount(width, height);
    const std::vector<Pixel> block(std::min<std::size_t>(count, 4096), fill);
    pixels_.reserve(count);
    while (pixels_.size() < count) {
        const std::size_t take = std::min(block.size(), count - pixels_.size());
        pixels_.insert(pixels_.end(), block.data(), block.data() + take);
    }
}

void Bitmap::Resize(std::int32_t width, std::int32_t height, Pixel fill)
{
    if (width == width_ && height == height_) {
        return;
    }
    Bitmap resized(width, height, fill);
    const std::int32_t keptWidth = std::min(width, width_);
    const std::int32_t keptHeight = std::min(height, height_);
    for (std::int32_t y = 0; y < keptHeight; ++y) {
        std::copy_n(Row(y), keptWidth, resized.Row(y));
    }
    *this = std::move(resized);
}

} // namespace Graphics
