// SPDX-License-Identifier: MIT
// What the page asks of the tool besides a run. The page turns pictures of
// other formats into BMPs itself, and must refuse the same sizes the tool's
// loader refuses, so it takes the number from here rather than a copy.
#include "BmpCodec.h"

#include <emscripten/emscripten.h>
#include <sys/stat.h>

// JavaScript numbers hold integers exactly up to 2^53.
static_assert(Graphics::MaxPixelCount <= (std::uint64_t{1} << 53));

extern "C" EMSCRIPTEN_KEEPALIVE double KeyboardPictureMaxPixelCount()
{
    return static_cast<double>(Graphics::MaxPixelCount);
}

namespace {

// Emscripten's C library starts a process with a umask of 0777, which no
// shell gives: the tool gives zzOut.bmp the mode the umask leaves, as the
// shell's ">" would, so the page could not read it back. The page's process
// starts as a login shell's does, with 022.
[[maybe_unused]] const mode_t InheritedUmask = ::umask(022);

} // namespace
