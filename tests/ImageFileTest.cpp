// Reading refuses what is not a regular file without blocking; writing
// replaces the target whole or not at all.
#include "ImageFile.h"
#include "BmpBuilder.h"
#include "ImageError.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using Graphics::ImageError;
using Graphics::ImageErrorKind;
using Graphics::ReadFileBytes;
using Graphics::WriteFileReplacing;
using TestSupport::Bytes;
using TestSupport::TestFolder;

namespace {

void ExpectIoError(const std::function<void()>& action, const std::string& words)
{
    try {
        action();
        FAIL() << "no error";
    } catch (const ImageError& error) {
        EXPECT_EQ(error.Kind(), ImageErrorKind::Io) << error.what();
        EXPECT_NE(std::string(error.what()).find(words), std::string::npos) << error.what();
    }
}

} // namespace

TEST(ReadFileBytes, ReadsARegularFileWhole)
{
    TestFolder folder;
    Bytes bytes(100000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31);
    }
    folder.Write("f", bytes);
    EXPECT_EQ(ReadFileBytes((folder / "f").string()), bytes);
    folder.Write("empty", {});
    EXPECT_TRUE(ReadFileBytes((folder / "empty").string()).empty());
}

TEST(ReadFileBytes, RefusesMissingFilesDirectoriesAndFifosWithoutBlocking)
{
    TestFolder folder;
    const std::string missing = (folder / "missing").string();
    ExpectIoError([&] { ReadFileBytes(missing); }, missing + ": No such file or directory");
    ExpectIoError([&] { ReadFileBytes(folder.Path().string()); }, "is a directory");
    const std::string fifo = (folder / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // With no writer, a blocking open would wait here for ever.
    ExpectIoError([&] { ReadFileBytes(fifo); }, "not a regular file");
    ExpectIoError([&] { ReadFileBytes("/dev/zero"); }, "not a regular file");
}

TEST(ReadFileBytes, RefusesAFileLargerThanAnyPictureBeforeReadingIt)
{
    TestFolder folder;
    folder.Write("huge.bmp", {'B', 'M'});
    std::filesystem::resize_file(folder / "huge.bmp", Graphics::MaxFileBytes + 1); // sparse: no disk used
    try {
        ReadFileBytes((folder / "huge.bmp").string());
        FAIL() << "read a file over the limit";
    } catch (const ImageError& error) {
        EXPECT_EQ(error.Kind(), ImageErrorKind::TooLarge) << error.what();
        EXPECT_NE(std::string(error.what()).find(std::to_string(Graphics::MaxFileBytes + 1)), std::string::npos);
    }
}

TEST(WriteFileReplacing, ReplacesAnEarlierFileAndLeavesNothingElse)
{
    TestFolder folder;
    const std::string path = (folder / "out.bmp").string();
    folder.Write("out.bmp", Bytes(5000, 1));
    WriteFileReplacing(path, Bytes{1, 2, 3});
    EXPECT_EQ(folder.Read("out.bmp"), (Bytes{1, 2, 3}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
}

TEST(WriteFileReplacing, FailingMidWriteKeepsTheEarlierFileAndRemovesTheTemporary)
{
    TestFolder folder;
    const std::string path = (folder / "out.bmp").string();
    folder.Write("out.bmp", {'o', 'l', 'd'});
    // In a child, cap the file size so that the write fails part way.
    const auto writeTooMuch = [&path] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            WriteFileReplacing(path, Bytes(662254, 7));
        } catch (const ImageError& error) {
            const bool named = std::string(error.what()).find(path + ": File too large") == 0;
            std::_Exit(named ? 0 : 2);
        }
        std::_Exit(3);
    };
    EXPECT_EXIT(writeTooMuch(), testing::ExitedWithCode(0), "");
    EXPECT_EQ(folder.Read("out.bmp"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
}

TEST(WriteFileReplacing, ReportsATargetItCannotReplace)
{
    TestFolder folder;
    std::filesystem::create_directory(folder / "out.bmp");
    const std::string path = (folder / "out.bmp").string();
    ExpectIoError([&] { WriteFileReplacing(path, Bytes{1}); }, path + ": Is a directory");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
    ExpectIoError([&] { WriteFileReplacing((folder / "no/such/dir/out.bmp").string(), Bytes{1}); },
                  "No such file or directory");
}
