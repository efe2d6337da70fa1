// SPDX-License-Identifier: MIT
// libFuzzer entry: any bytes must decode or give an ImageError. Any other
// exception escapes and is reported as a crash.
#include "BmpCodec.h"
#include "ImageError.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const Graphics::Bitmap bitmap = Graphics::DecodeBmp({data, size});
        static_cast<void>(bitmap);
    } catch (const Graphics::ImageError&) {
        // A refusal is a fine outcome.
    }
    return 0;
}
