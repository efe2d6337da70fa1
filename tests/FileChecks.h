// SPDX-License-Identifier: MIT
// Checks shared by the file layer's tests on every platform.
#pragma once

#include "BmpBuilder.h"

#include <functional>
#include <string>

namespace TestSupport {

// Runs `action`, which must throw the file layer's error with `words` in its message.
void ExpectFileError(const std::function<void()>& action, const std::string& words);

// `size` bytes that differ from their neighbours, so that a misplaced byte shows.
Bytes Pattern(std::size_t size);

// Replaces the file at `path` with `bytes` through a ReplacingFile, committed.
void Replace(const std::string& path, const Bytes& bytes);

} // namespace TestSupport
