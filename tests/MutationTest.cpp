// SPDX-License-Identifier: MIT
// Every single-byte change and every truncation of a few small files of
// different variants must give a picture or an ImageError: never a crash,
// a hang, another exception or an absurd picture; and the same whether the
// whole file is decoded or only as much as its headers ask for.
#include "BmpCodec.h"
#include "ImageError.h"
#include "Platform.h"
#include "SampleFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <variant>

namespace {

// The picture, or the refusal's words.
using Decoded = std::variant<Graphics::Bitmap, std::string>;

Decoded Decode(std::span<const std::uint8_t> bytes)
{
    try {
        return Graphics::DecodeBmp(bytes);
    } catch (const Graphics::ImageError& error) {
        return error.what();
    }
}

// As the tool loads a file: its first bytes decide how much of it is read.
Decoded DecodeAsLoaded(std::span<const std::uint8_t> bytes)
{
    try {
        const std::span<const std::uint8_t> head = bytes.first(std::min(bytes.size(), Platform::HeadBytes));
        return Decode(bytes.first(static_cast<std::size_t>(Graphics::BmpBytesToRead(head, bytes.size()))));
    } catch (const Graphics::ImageError& error) {
        return error.what();
    }
}

// Returns an empty string when the outcome is acceptable.
std::string Outcome(const TestSupport::Bytes& bytes)
{
    if (Decode(bytes) != DecodeAsLoaded(bytes)) {
        return "reading only what the headers ask for ends otherwise than decoding the whole file";
    }
    try {
        const Graphics::Bitmap bitmap = Graphics::DecodeBmp(bytes);
        const auto pixels = static_cast<std::uint64_t>(bitmap.Width()) * static_cast<std::uint64_t>(bitmap.Height());
        if (bitmap.Width() <= 0 || bitmap.Height() <= 0 || pixels > Graphics::MaxPixelCount) {
            return "decoded to a " + std::to_string(bitmap.Width()) + " x " + std::to_string(bitmap.Height()) +
                   " picture";
        }
    } catch (const Graphics::ImageError& error) {
        if (std::string(error.what()).empty()) {
            return "error without a message";
        }
    } catch (const std::exception& error) {
        return std::string("unexpected exception: ") + error.what();
    }
    return "";
}

} // namespace

TEST(Mutation, EveryByteChangedAndEveryTruncationGivesAPictureOrAnError)
{
    std::size_t variants = 0;
    for (const TestSupport::SampleFile& sample : TestSupport::SampleFiles()) {
        const std::string& name = sample.name;
        const TestSupport::Bytes& original = sample.bytes;
        ASSERT_EQ(Outcome(original), "") << name;
        ASSERT_NO_THROW(Graphics::DecodeBmp(original)) << name << " must be valid to begin with";
        for (std::size_t i = 0; i < original.size(); ++i) {
            for (const int change : {0, 1, 2}) {
                TestSupport::Bytes mutated = original;
                mutated[i] = change == 0 ? static_cast<std::uint8_t>(~mutated[i]) : change == 1 ? 0x00 : 0xFF;
                const std::string outcome = Outcome(mutated);
                ASSERT_EQ(outcome, "") << name << ", byte " << i << ", change " << change;
                ++variants;
            }
        }
        for (std::size_t length = 0; length < original.size(); ++length) {
            const TestSupport::Bytes cut(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(length));
            ASSERT_EQ(Outcome(cut), "") << name << " cut to " << length << " bytes";
            ++variants;
        }
    }
    EXPECT_GT(variants, 1000U);
}
