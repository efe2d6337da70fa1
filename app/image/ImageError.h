// SPDX-License-Identifier: MIT
// The one failure of a picture or its file: what went wrong, in words that
// name the field and value at fault (the tool's words, said in the user's
// language when shown), and a kind that callers and tests can tell apart
// without parsing the words.
#pragma once

#include "Words.h"

#include <string>
#include <vector>

namespace Graphics {

enum class ImageErrorKind {
    Truncated,   // the data ends before something it declares
    BadHeader,   // a field holds a value no valid file has
    Unsupported, // a valid variant this reader does not decode
    TooLarge,    // beyond a limit the tool sets to bound its memory
};

class ImageError : public Words::Failure {
public:
    ImageError(ImageErrorKind kind, const char* format, std::vector<std::string> args = {})
        : Failure({format, std::move(args)}), kind_(kind)
    {
    }

    ImageErrorKind Kind() const { return kind_; }

    // The same failure, said of the file at `path`.
    ImageError WithContext(const std::string& path) const
    {
        Words::Message message = Words();
        message.file = path;
        return {kind_, std::move(message)};
    }

private:
    ImageError(ImageErrorKind kind, Words::Message message) : Failure(std::move(message)), kind_(kind) {}

    ImageErrorKind kind_;
};

} // namespace Graphics
