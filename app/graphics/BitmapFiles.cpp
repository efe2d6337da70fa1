// SPDX-License-Identifier: MIT
// TBitmap's loading and saving: the file layer's bytes through the codec,
// kept apart from the drawing, which needs neither.
#include "BmpCodec.h"
#include "Graphics.h"
#include "ImageError.h"
#include "Platform.h"

#include <new>
#include <string>

namespace Graphics {

namespace {

ImageError OutOfMemory(const std::string& path)
{
    return ImageError(ImageErrorKind::TooLarge, N_("out of memory")).WithContext(path);
}

} // namespace

// The codec's failures are given the file's name; the file layer's have it.
void TBitmap::LoadFromFile(const std::string& path)
{
    try {
        const std::vector<std::uint8_t> bytes = Platform::ReadFileBytes(path, MaxFileBytes, BmpBytesToRead);
        image_ = DecodeBmp(bytes);
    } catch (const ImageError& error) {
        throw error.WithContext(path);
    } catch (const std::bad_alloc&) {
        throw OutOfMemory(path);
    }
}

void TBitmap::SaveToFile(const std::string& path) const
{
    try {
        Platform::ReplacingFile file(path);
        EncodeBmp(image_, [&file](std::span<const std::uint8_t> bytes) { file.Write(bytes); });
        file.Commit();
    } catch (const ImageError& error) {
        throw error.WithContext(path);
    } catch (const std::bad_alloc&) { // GCOVR_EXCL_LINE: no test runs out of memory while saving on demand
        throw OutOfMemory(path);      // GCOVR_EXCL_LINE
    }
}

} // namespace Graphics
