// SPDX-License-Identifier: MIT
// The built tool as a user runs it: in a folder, with or without arguments,
// with or without an earlier picture, on good and bad key caps.
#include "BmpBuilder.h"
#include "RunTool.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

using TestSupport::Bytes;
using TestSupport::RunResult;
using TestSupport::RunTool;
using TestSupport::SourcePath;
using TestSupport::TestFolder;

namespace {

Bytes ExampleKey()
{
    return TestFolder::ReadFile(SourcePath("examples/key.bmp"));
}

void ExpectTheGoldenPicture(const TestFolder& folder, const RunResult& run)
{
    static const Bytes expected = TestFolder::ReadFile(SourcePath("tests/data/example-zzOut.bmp"));
    ASSERT_EQ(expected.size(), 662254U);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const Bytes actual = folder.Read("zzOut.bmp");
    ASSERT_EQ(actual.size(), expected.size());
    const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin());
    EXPECT_TRUE(mismatch.first == actual.end()) << "first difference at byte " << (mismatch.first - actual.begin());
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
}

} // namespace

namespace TestSupport {

// One line naming the tool, then the file, then the reason; exit status 1.
void ExpectOneLineError(const RunResult& run, const std::string& start)
{
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(run.err.rfind("keyboard-picture: " + start, 0), 0U) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(run.err.empty() || run.err.back() != '\n') << run.err;
}

} // namespace TestSupport

using TestSupport::ExpectOneLineError;

TEST(EndToEnd, DrawsTheExampleExactlyAndSilentlyWhateverTheArguments)
{
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"--help"}, {"-o", "elsewhere.bmp", "key.bmp"}}) {
        TestFolder folder;
        folder.Write("key.bmp", ExampleKey());
        ExpectTheGoldenPicture(folder, RunTool(folder.Path(), arguments));
    }
}

TEST(EndToEnd, ReplacesAnEarlierPictureInAFolderWhoseNameIsNotAscii)
{
    for (const std::string& name :
         {std::string("plain"), std::string("\xE3\x82\xAD\xE3\x83\xBC\xE3\x83\x9C\xE3\x83\xBC\xE3\x83\x89")}) {
        TestFolder folder(name); // the second is "キーボード"
        folder.Write("key.bmp", ExampleKey());
        folder.Write("zzOut.bmp", Bytes(700000, 'x'));
        ExpectTheGoldenPicture(folder, RunTool(folder.Path()));
    }
}

TEST(EndToEnd, WithoutAKeyCapFailsAndWritesNothing)
{
    TestFolder folder;
    ExpectOneLineError(RunTool(folder.Path()), "key.bmp: ");
    EXPECT_TRUE(folder.Names().empty());
}

TEST(EndToEnd, RefusesBadKeyCapsAndKeepsTheEarlierPicture)
{
    Bytes truncated = ExampleKey();
    truncated.resize(100);
    const std::pair<Bytes, std::string> cases[] = {
        {{}, "key.bmp: file is empty"},
        {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}, "key.bmp: not a BMP file: it is a PNG image"},
        {truncated, "key.bmp: BMP pixel data is truncated"},
    };
    for (const auto& [keyFile, message] : cases) {
        TestFolder folder;
        folder.Write("key.bmp", keyFile);
        folder.Write("zzOut.bmp", {'o', 'l', 'd'});
        ExpectOneLineError(RunTool(folder.Path()), message);
        EXPECT_EQ(folder.Read("zzOut.bmp"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
    }
}

TEST(EndToEnd, RefusesADirectoryInPlaceOfEitherFile)
{
    TestFolder keyFolder;
    std::filesystem::create_directory(keyFolder / "key.bmp");
    ExpectOneLineError(RunTool(keyFolder.Path()), "key.bmp: is a directory, not a file");

    TestFolder outFolder;
    outFolder.Write("key.bmp", ExampleKey());
    std::filesystem::create_directory(outFolder / "zzOut.bmp");
    ExpectOneLineError(RunTool(outFolder.Path()), "zzOut.bmp: is a directory, not a file");
    EXPECT_EQ(outFolder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
    EXPECT_TRUE(std::filesystem::is_empty(outFolder / "zzOut.bmp"));
}
