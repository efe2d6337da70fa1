// SPDX-License-Identifier: MIT
// The file layer on every platform: whole reads, refusals by type and size,
// and replacing a file whole or not at all.
#include "Platform.h"
#include "FileChecks.h"
#include "Graphics.h"
#include "ImageError.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <functional>

using Graphics::ImageError;
using Platform::FileError;
using Platform::ReadFileBytes;
using Platform::ReplacingFile;
using TestSupport::Bytes;
using TestSupport::TestFolder;

namespace TestSupport {

void ExpectFileError(const std::function<void()>& action, const std::string& words)
{
    try {
        action();
        ADD_FAILURE() << "no error; expected one with \"" << words << "\"";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find(words), std::string::npos) << error.what();
    }
}

Bytes Pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + i / 251);
    }
    return bytes;
}

void Replace(const std::string& path, const Bytes& bytes)
{
    ReplacingFile file(path);
    file.Write(bytes);
    file.Commit();
}

} // namespace TestSupport

using TestSupport::ExpectFileError;
using TestSupport::Pattern;

TEST(ReadFileBytes, ReadsARegularFileWhole)
{
    TestFolder folder;
    folder.Write("f", Pattern(100000));
    EXPECT_EQ(ReadFileBytes((folder / "f").string(), 100000), Pattern(100000));
    folder.Write("empty", {});
    EXPECT_TRUE(ReadFileBytes((folder / "empty").string(), 0).empty());
}

TEST(ReadFileBytes, ShowsItsHeadFirstAndReadsOnlyAsFarAsThatSays)
{
    TestFolder folder;
    folder.Write("f", Pattern(100000));
    const std::string path = (folder / "f").string();
    for (const std::uint64_t wanted :
         {std::uint64_t{0}, std::uint64_t{10}, std::uint64_t{5000}, std::uint64_t{200000}}) {
        const Bytes read = ReadFileBytes(path, 100000, [&](std::span<const std::uint8_t> head, std::uint64_t size) {
            EXPECT_EQ(Bytes(head.begin(), head.end()), Bytes(Pattern(4096)));
            EXPECT_EQ(size, 100000U);
            return wanted;
        });
        const Bytes all = Pattern(100000);
        EXPECT_EQ(read, Bytes(all.begin(),
                              all.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(wanted, 100000))));
    }
    EXPECT_THROW(
        ReadFileBytes(path, 100000,
                      [](auto, auto) -> std::uint64_t { throw ImageError(Graphics::ImageErrorKind::BadHeader, "no"); }),
        ImageError);
}

TEST(ReadFileBytes, RefusesMissingFilesAndDirectoriesNamingThem)
{
    TestFolder folder;
    const std::string missing = (folder / "missing").string();
    ExpectFileError([&] { ReadFileBytes(missing, 100); }, missing + ": ");
    ExpectFileError([&] { ReadFileBytes(folder.Path().string(), 100); }, ": is a directory, not a file");
}

TEST(ReadFileBytes, RefusesAFileLargerThanAnyPictureBeforeReadingIt)
{
    TestFolder folder;
    folder.Write("huge.bmp", {'B', 'M'});
    // One byte over the loader's limit, and past 4 GiB, where a 32-bit size
    // wraps to a small one. Sparse where the file system allows.
    for (const std::uintmax_t size : {std::uintmax_t{269484033}, std::uintmax_t{4294971190}}) {
        std::filesystem::resize_file(folder / "huge.bmp", size);
        const std::string path = (folder / "huge.bmp").string();
        ExpectFileError([&] { Graphics::TBitmap().LoadFromFile(path); },
                        path + ": file of " + std::to_string(size) +
                            " bytes is larger than the largest picture this tool reads (269484032 bytes)");
    }
}

TEST(ReplacingFile, ReplacesAnEarlierFileWholeAndLeavesNothingElse)
{
    // A name as long as a folder takes keeps its temporary's within that
    // limit too, cut short before a character, not inside one.
    const std::string longName = std::string(233, 'a') + "\xE3\x82\xAD\xE3\x82\xAD\xE3\x82\xAD.bmp"; // aa...キキキ.bmp
    for (const auto& [name, temporaryStart] : {std::pair<std::string, std::string>{"out.bmp", "out.bmp.tmp-"},
                                               {longName, std::string(233, 'a') + ".tmp-"}}) {
        SCOPED_TRACE(name.size());
        TestFolder folder;
        const std::string path = TestFolder::Utf8(folder / name);
        folder.Write(name, Bytes(5000, 1));
        Bytes expected = Pattern(70000);
        expected.insert(expected.end(), {1, 2, 3});
        {
            ReplacingFile file(path);
            file.Write(Pattern(70000));
            file.Write(Bytes{1, 2, 3});
            // The new version is written beside the old one, which stays as it was until the end.
            std::vector<std::string> names = folder.Names();
            std::erase(names, name);
            ASSERT_EQ(names.size(), 1U);
            EXPECT_EQ(names[0].rfind(temporaryStart, 0), 0U) << names[0];
            EXPECT_EQ(names[0].size(), temporaryStart.size() + 16);
            EXPECT_EQ(folder.Read(name), Bytes(5000, 1));
            file.Commit();
        }
        EXPECT_EQ(folder.Read(name), expected);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
    }
}

TEST(ReplacingFile, GivingUpBeforeCommitKeepsTheEarlierFileAndRemovesTheTemporary)
{
    TestFolder folder;
    folder.Write("out.bmp", {'o', 'l', 'd'});
    try {
        ReplacingFile file((folder / "out.bmp").string());
        file.Write(Pattern(1000));
        throw std::runtime_error("drawing failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(folder.Read("out.bmp"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
}

TEST(ReplacingFile, TemporaryNamesDifferEvenWithinOneProcess)
{
    TestFolder folder;
    const std::string path = (folder / "out.bmp").string();
    ReplacingFile first(path);
    ReplacingFile second(path);
    EXPECT_EQ(folder.Names().size(), 2U);
}

TEST(ReplacingFile, AnEmptyPictureIsRefusedNamingTheFileAndNothingIsLeft)
{
    TestFolder folder;
    const std::string path = (folder / "out.bmp").string();
    try {
        Graphics::TBitmap().SaveToFile(path);
        ADD_FAILURE() << "an empty picture was saved";
    } catch (const ImageError& error) {
        EXPECT_EQ(std::string(error.what()), path + ": a 0 x 0 picture has no pixels to write");
    }
    EXPECT_TRUE(folder.Names().empty());
}

TEST(ReplacingFile, RefusesWhatItCannotReplace)
{
    TestFolder folder;
    std::filesystem::create_directory(folder / "out.bmp");
    const std::string path = (folder / "out.bmp").string();
    ExpectFileError([&] { ReplacingFile file(path); }, path + ": ");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
    const std::string nowhere = (folder / "no" / "such" / "out.bmp").string();
    ExpectFileError([&] { ReplacingFile file(nowhere); }, nowhere + ": ");
}
