// SPDX-License-Identifier: MIT
// Checks shared by the file layer's tests on every platform.
#pragma once

#include "BmpBuilder.h"
#include "ImageError.h"

#include <functional>
#include <string>

namespace TestSupport {

// Runs `action`, which must throw an ImageError of `kind` whose message holds `words`.
void ExpectImageError(const std::function<void()>& action, Graphics::ImageErrorKind kind, const std::string& words);

// `size` bytes that differ from their neighbours, so that a misplaced byte shows.
Bytes Pattern(std::size_t size);

} // namespace TestSupport
