// SPDX-License-Identifier: MIT
// The one failure of a picture or its file: what went wrong, in words that
// name the field and value at fault, and a kind that callers and tests can
// tell apart without parsing the words.
#pragma once

#include <stdexcept>
#include <string>

namespace Graphics {

enum class ImageErrorKind {
    Truncated,   // the data ends before something it declares
    BadHeader,   // a field holds a value no valid file has
    Unsupported, // a valid variant this reader does not decode
    TooLarge,    // beyond a limit the tool sets to bound its memory
};

class ImageError : public std::runtime_error {
public:
    ImageError(ImageErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

    ImageErrorKind Kind() const { return kind_; }

    // The same failure with a prefix, usually the file's name.
    ImageError WithContext(const std::string& context) const { return {kind_, context + ": " + what()}; }

private:
    ImageErrorKind kind_;
};

} // namespace Graphics
