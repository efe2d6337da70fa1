// SPDX-License-Identifier: MIT
// Conformance over the BMP Suite: every file gets the outcome its row of
// expected.tsv asks for, and decoded pictures match a reference.
#include "BmpCodec.h"
#include "ImageError.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

using Graphics::Bitmap;
using TestSupport::TestFolder;

namespace {

// Absolute from the start, so that it holds under Wine's drive letters too.
const std::filesystem::path Suite = std::filesystem::absolute(BMPSUITE_DIR);

struct Expectation {
    std::string file;
    std::string outcome; // decode, decode-or-refuse or no-crash
    std::vector<std::string> references;
    int tolerance = 0;
};

std::vector<Expectation> ReadExpectations()
{
    std::ifstream in(Suite / "expected.tsv");
    std::vector<Expectation> expectations;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        Expectation expectation;
        std::string references;
        std::getline(fields, expectation.file, '\t');
        std::getline(fields, expectation.outcome, '\t');
        std::getline(fields, references, '\t');
        fields >> expectation.tolerance;
        std::istringstream names(references);
        for (std::string name; std::getline(names, name, ',');) {
            if (name != "-") {
                expectation.references.push_back(name);
            }
        }
        expectations.push_back(expectation);
    }
    return expectations;
}

struct Reference {
    int width = 0;
    int height = 0;
    int depth = 0;
    std::vector<std::uint8_t> samples; // top row first
};

Reference ReadPam(const std::filesystem::path& path)
{
    const std::vector<std::uint8_t> bytes = TestFolder::ReadFile(path);
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t end = text.find("ENDHDR\n");
    if (text.rfind("P7\n", 0) != 0 || end == std::string::npos) {
        throw std::runtime_error(path.string() + " is not a PAM file");
    }
    Reference reference;
    std::istringstream header(text.substr(3, end - 3));
    for (std::string key; header >> key;) {
        if (key == "WIDTH") {
            header >> reference.width;
        } else if (key == "HEIGHT") {
            header >> reference.height;
        } else if (key == "DEPTH") {
            header >> reference.depth;
        } else {
            std::string ignored;
            std::getline(header, ignored);
        }
    }
    reference.samples.assign(bytes.begin() + static_cast<std::ptrdiff_t>(end + 7), bytes.end());
    return reference;
}

// Empty when the picture matches; otherwise says where it first differs.
std::string Compare(const Bitmap& bitmap, const Reference& reference, int tolerance)
{
    if (bitmap.Width() != reference.width || bitmap.Height() != reference.height) {
        return "size " + std::to_string(bitmap.Width()) + "x" + std::to_string(bitmap.Height()) + ", reference " +
               std::to_string(reference.width) + "x" + std::to_string(reference.height);
    }
    const auto depth = static_cast<std::size_t>(reference.depth);
    for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
        for (std::int32_t x = 0; x < bitmap.Width(); ++x) {
            const std::uint8_t* sample =
                reference.samples.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(reference.width) +
                                            static_cast<std::size_t>(x)) *
                                               depth;
            if (depth == 4 && sample[3] == 0) {
                continue; // transparent in the reference: any colour will do
            }
            const Graphics::Pixel pixel = bitmap.At(x, y);
            const int got[3] = {pixel.red, pixel.green, pixel.blue};
            for (int c = 0; c < 3; ++c) {
                if (std::abs(got[c] - sample[c]) > tolerance) {
                    return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") channel " + std::to_string(c) +
                           " is " + std::to_string(got[c]) + ", reference " + std::to_string(sample[c]);
                }
            }
        }
    }
    return "";
}

} // namespace

TEST(BmpSuite, EveryFileHasTheExpectedOutcome)
{
    const std::vector<Expectation> expectations = ReadExpectations();
    ASSERT_GT(expectations.size(), 80U) << "expected.tsv not found or short in " << Suite;
    int matched = 0;
    int refused = 0;
    int decoded = 0;
    for (const Expectation& expectation : expectations) {
        SCOPED_TRACE(expectation.file);
        const std::vector<std::uint8_t> bytes = TestFolder::ReadFile(Suite / expectation.file);
        ASSERT_FALSE(bytes.empty());
        Bitmap bitmap;
        try {
            bitmap = Graphics::DecodeBmp(bytes);
        } catch (const Graphics::ImageError& error) {
            ++refused;
            std::printf("%-24s refused: %s\n", expectation.file.c_str(), error.what());
            EXPECT_NE(expectation.outcome, "decode") << error.what();
            continue;
        }
        ++decoded;
        if (expectation.references.empty()) {
            std::printf("%-24s decoded (%dx%d)\n", expectation.file.c_str(), bitmap.Width(), bitmap.Height());
            continue;
        }
        std::string differences;
        bool any = false;
        for (const std::string& name : expectation.references) {
            const std::string difference = Compare(bitmap, ReadPam(Suite / "ref-pam" / name), expectation.tolerance);
            if (difference.empty()) {
                any = true;
                break;
            }
            differences.append(name).append(": ").append(difference).append("; ");
        }
        matched += any ? 1 : 0;
        std::printf("%-24s %s\n", expectation.file.c_str(), any ? "matches" : ("differs: " + differences).c_str());
        EXPECT_TRUE(any) << differences;
    }
    std::printf("%zu files: %d decoded, %d matched a reference, %d refused\n", expectations.size(), decoded, matched,
                refused);
}
