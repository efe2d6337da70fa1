// SPDX-License-Identifier: MIT
// What can go wrong around a run on POSIX: limits, signals, a reader that
// has gone, permissions, links and odd files. Whatever happens, the tool
// reports one line naming the file (or dies of the signal sent), the earlier
// picture stays whole and nothing is left behind.
#include "BmpBuilder.h"
#include "PosixTool.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using TestSupport::Bytes;
using TestSupport::ClosedStderr;
using TestSupport::ExpectOneLineError;
using TestSupport::InChild;
using TestSupport::RunResult;
using TestSupport::RunTool;
using TestSupport::RunToolWith;
using TestSupport::SourcePath;
using TestSupport::TestFolder;
using TestSupport::ToolHooks;
using TestSupport::WhileRunning;

namespace {

const Bytes Old = {'o', 'l', 'd'};

Bytes ExampleKey()
{
    return TestFolder::ReadFile(SourcePath("examples/key.bmp"));
}

const Bytes& Golden()
{
    static const Bytes golden = TestFolder::ReadFile(SourcePath("tests/data/example-zzOut.bmp"));
    return golden;
}

bool Emulated()
{
    return std::string(KEYBOARD_PICTURE_EMULATOR).find_first_not_of(' ') != std::string::npos;
}

std::filesystem::perms Permissions(const std::filesystem::path& path)
{
    return std::filesystem::status(path).permissions() & std::filesystem::perms::mask;
}

} // namespace

TEST(PosixEndToEnd, NamesTheFileAndTheSystemsReason)
{
    TestFolder empty;
    ExpectOneLineError(RunTool(empty.Path()), "key.bmp: No such file or directory");

    TestFolder fifo;
    ASSERT_EQ(::mkfifo((fifo / "key.bmp").c_str(), 0600), 0);
    ExpectOneLineError(RunTool(fifo.Path()), "key.bmp: is not a regular file"); // and does not block

    TestFolder directory;
    directory.Write("key.bmp", ExampleKey());
    std::filesystem::create_directory(directory / "zzOut.bmp");
    ExpectOneLineError(RunTool(directory.Path()), "zzOut.bmp: Is a directory");

    // A FIFO in place of the picture is neither written through nor replaced.
    TestFolder fifoOut;
    fifoOut.Write("key.bmp", ExampleKey());
    ASSERT_EQ(::mkfifo((fifoOut / "zzOut.bmp").c_str(), 0600), 0);
    ExpectOneLineError(RunTool(fifoOut.Path()), "zzOut.bmp: ");
    EXPECT_TRUE(std::filesystem::is_fifo(fifoOut / "zzOut.bmp"));
    EXPECT_EQ(fifoOut.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
}

TEST(PosixEndToEnd, AFileSizeLimitIsReportedNotFatal)
{
    TestFolder folder;
    folder.Write("key.bmp", ExampleKey());
    folder.Write("zzOut.bmp", Old);
    const RunResult run = RunToolWith(folder.Path(), InChild([] {
                                          const rlimit limit{100000, 100000};
                                          ::setrlimit(RLIMIT_FSIZE, &limit);
                                      }));
    EXPECT_EQ(run.signal, 0) << "killed by SIGXFSZ";
    ExpectOneLineError(run, "zzOut.bmp: File too large");
    EXPECT_EQ(folder.Read("zzOut.bmp"), Old);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
}

TEST(PosixEndToEnd, AStandardErrorNobodyReadsStillGivesExitStatusOne)
{
    TestFolder folder; // no key.bmp: the tool has something to say
    const RunResult run = RunToolWith(folder.Path(), ClosedStderr());
    EXPECT_EQ(run.signal, 0) << "killed by SIGPIPE";
    EXPECT_EQ(run.exitCode, 1);
}

TEST(PosixEndToEnd, RunningOutOfMemoryWhileLoadingNamesTheKeyCap)
{
#if defined(KEYBOARD_PICTURE_SANITIZED)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    if (Emulated()) {
        GTEST_SKIP() << "the emulator itself needs more address space than the limit leaves";
    }
    // 68 bytes that ask for 8192 x 4096 pixels: 96 MiB, over a 60 MB limit.
    TestSupport::BmpBuilder bmp;
    bmp.bitCount = 8;
    bmp.compression = 1;
    bmp.width = 8192;
    bmp.height = 4096;
    bmp.palette = {{0, 0, 0}, {255, 255, 255}, {0, 0, 255}};
    bmp.pixels = {0, 1};
    TestFolder folder;
    folder.Write("key.bmp", bmp.Build());
    ASSERT_EQ(folder.Read("key.bmp").size(), 68U);
    const RunResult run = RunToolWith(folder.Path(), InChild([] {
                                          const rlimit limit{60000000, 60000000};
                                          ::setrlimit(RLIMIT_AS, &limit);
                                      }));
    ExpectOneLineError(run, "key.bmp: out of memory");
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp"}));
}

TEST(PosixEndToEnd, ASignalDuringARunLeavesTheOldPictureOrTheNewOneAndNothingElse)
{
    // How long a run takes here, so that the signals fall all over it.
    TestFolder timing;
    timing.Write("key.bmp", ExampleKey());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunTool(timing.Path()).exitCode, 0);
    const auto runMicroseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();

    std::mt19937 random(20261208);
    std::uniform_int_distribution<long long> delay(0, runMicroseconds * 5 / 4);
    int interrupted = 0;
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        for (int attempt = 0; attempt < 40; ++attempt) {
            TestFolder folder;
            folder.Write("key.bmp", ExampleKey());
            folder.Write("zzOut.bmp", Old);
            const long long wait = delay(random);
            const RunResult run = RunToolWith(folder.Path(), WhileRunning([&](pid_t child) {
                                                  std::this_thread::sleep_for(std::chrono::microseconds(wait));
                                                  ::kill(child, signalNumber);
                                              }));
            SCOPED_TRACE("signal " + std::to_string(signalNumber) + " after " + std::to_string(wait) + " us");
            if (run.signal != 0) {
                EXPECT_EQ(run.signal, signalNumber);
                ++interrupted;
            } else {
                EXPECT_EQ(run.exitCode, 0) << run.err;
            }
            const Bytes picture = folder.Read("zzOut.bmp");
            EXPECT_TRUE(picture == Old || picture == Golden()) << picture.size() << " bytes";
            EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
        }
    }
    EXPECT_GT(interrupted, 0) << "no signal arrived during a run";
}

TEST(PosixEndToEnd, ReplacingKeepsTheModeAndFollowsSymbolicLinks)
{
    TestFolder folder;
    folder.Write("key.bmp", ExampleKey());
    folder.Write("zzOut.bmp", Old);
    std::filesystem::permissions(folder / "zzOut.bmp",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_EQ(RunTool(folder.Path()).exitCode, 0);
    EXPECT_EQ(folder.Read("zzOut.bmp"), Golden());
    EXPECT_EQ(Permissions(folder / "zzOut.bmp"), std::filesystem::perms(0600));

    // A new picture takes the umask, as any new file does.
    TestFolder fresh;
    fresh.Write("key.bmp", ExampleKey());
    ASSERT_EQ(RunToolWith(fresh.Path(), InChild([] { ::umask(027); })).exitCode, 0);
    EXPECT_EQ(Permissions(fresh / "zzOut.bmp"), std::filesystem::perms(0640));

    // Through a link, to a file that exists and to one that does not yet.
    for (const bool targetExists : {true, false}) {
        TestFolder linked;
        linked.Write("key.bmp", ExampleKey());
        std::filesystem::create_directory(linked / "pictures");
        if (targetExists) {
            linked.Write("pictures/keyboard.bmp", Old);
        }
        std::filesystem::create_symlink("pictures/keyboard.bmp", linked / "zzOut.bmp");
        const RunResult run = RunTool(linked.Path());
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(std::filesystem::is_symlink(linked / "zzOut.bmp"));
        EXPECT_EQ(linked.Read("pictures/keyboard.bmp"), Golden());
        EXPECT_EQ(linked.Names(), (std::vector<std::string>{"key.bmp", "pictures", "zzOut.bmp"}));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(linked / "pictures"),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

TEST(PosixEndToEnd, APictureTheUserMayNotWriteIsNotReplaced)
{
    TestFolder folder;
    folder.Write("key.bmp", ExampleKey());
    folder.Write("zzOut.bmp", Old);
    std::filesystem::permissions(folder / "zzOut.bmp", std::filesystem::perms(0444));
    // The folder itself stays writable: only the file says no.
    std::filesystem::permissions(folder.Path(), std::filesystem::perms(0777));
    ToolHooks hooks = InChild([] {
        if (::geteuid() == 0) { // root may write anything
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                std::_Exit(126);
            }
        }
    });
    // A copy that user can reach: the build may sit in root's own 0700 home.
    TestFolder tools;
    std::filesystem::permissions(tools.Path(), std::filesystem::perms(0755));
    hooks.program = tools / "keyboard-picture";
    std::filesystem::copy_file(KEYBOARD_PICTURE_EXE, hooks.program);
    const RunResult run = RunToolWith(folder.Path(), hooks);
    ExpectOneLineError(run, "zzOut.bmp: Permission denied");
    EXPECT_EQ(folder.Read("zzOut.bmp"), Old);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
}
