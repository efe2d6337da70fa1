// The built tool as a user runs it: in a folder, with or without arguments,
// on good and bad key caps.
#include "BmpBuilder.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using TestSupport::Bytes;
using TestSupport::TestFolder;

namespace {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

RunResult RunTool(const TestFolder& folder, const std::vector<std::string>& arguments = {})
{
    const std::string outPath = (folder.Path().parent_path() / (folder.Path().filename().string() + ".out")).string();
    const std::string errPath = (folder.Path().parent_path() / (folder.Path().filename().string() + ".err")).string();
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::chdir(folder.Path().c_str()) != 0) {
            std::_Exit(127);
        }
        std::vector<char*> argv{const_cast<char*>(KEYBOARD_PICTURE_EXE)};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(KEYBOARD_PICTURE_EXE, argv.data());
        std::_Exit(127);
    }
    RunResult result;
    int status = 0;
    ::waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const auto text = [](const std::string& path) {
        const Bytes bytes = TestFolder::ReadFile(path);
        std::filesystem::remove(path);
        return std::string(bytes.begin(), bytes.end());
    };
    result.out = text(outPath);
    result.err = text(errPath);
    return result;
}

Bytes ExampleKey()
{
    return TestFolder::ReadFile(std::filesystem::path(SOURCE_DIR) / "examples" / "key.bmp");
}

// One line naming the tool, then the file, then the reason.
void ExpectOneLineError(const RunResult& run, const std::string& start)
{
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(run.err.rfind("keyboard-picture: " + start, 0), 0U) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.back(), '\n');
}

} // namespace

TEST(EndToEnd, DrawsTheExampleExactlyAndSilentlyWhateverTheArguments)
{
    const Bytes expected =
        TestFolder::ReadFile(std::filesystem::path(SOURCE_DIR) / "tests" / "data" / "example-zzOut.bmp");
    ASSERT_EQ(expected.size(), 662254U);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"--help"}, {"-o", "elsewhere.bmp", "key.bmp"}}) {
        TestFolder folder;
        folder.Write("key.bmp", ExampleKey());
        const RunResult run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "");
        const Bytes actual = folder.Read("zzOut.bmp");
        ASSERT_EQ(actual.size(), expected.size());
        const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin());
        EXPECT_TRUE(mismatch.first == actual.end()) << "first difference at byte " << (mismatch.first - actual.begin());
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
    }
}

TEST(EndToEnd, WithoutAKeyCapFailsAndWritesNothing)
{
    TestFolder folder;
    const RunResult run = RunTool(folder);
    ExpectOneLineError(run, "key.bmp: No such file or directory");
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
        ExpectOneLineError(RunTool(folder), message);
        EXPECT_EQ(folder.Read("zzOut.bmp"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
    }
}

TEST(EndToEnd, RefusesADirectoryOrFifoInPlaceOfTheKeyCap)
{
    TestFolder folder;
    std::filesystem::create_directory(folder / "key.bmp");
    ExpectOneLineError(RunTool(folder), "key.bmp: is a directory");

    TestFolder fifoFolder;
    ASSERT_EQ(::mkfifo((fifoFolder / "key.bmp").c_str(), 0600), 0);
    ExpectOneLineError(RunTool(fifoFolder), "key.bmp: is not a regular file");
}

TEST(EndToEnd, ReportsAPictureItCannotSave)
{
    TestFolder folder;
    folder.Write("key.bmp", ExampleKey());
    std::filesystem::create_directory(folder / "zzOut.bmp");
    ExpectOneLineError(RunTool(folder), "zzOut.bmp: Is a directory");
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
}
