// SPDX-License-Identifier: MIT
// The POSIX file layer under faults made on demand: short and interrupted
// transfers, a full disk, a failing close, a file that changes size, the
// size limit at its boundary, signals, and names planted in its way.
#include "FileChecks.h"
#include "ImageError.h"
#include "Platform.h"
#include "PosixCalls.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <unistd.h>

using Graphics::ImageErrorKind;
using Platform::ReadFileBytes;
using Platform::ReplacingFile;
using Platform::SystemCalls;
using TestSupport::Bytes;
using TestSupport::TestFolder;

using TestSupport::ExpectImageError;
using TestSupport::Pattern;

namespace {

constexpr std::uint64_t Limit = 269484032;

// Each test gets the real calls back, whatever it replaced.
class Faults : public testing::Test {
protected:
    void TearDown() override { SystemCalls() = saved_; }

    static int& Count()
    {
        static int count = 0;
        return count;
    }

private:
    Platform::PosixCalls saved_ = Platform::RealSystemCalls();
};

// Every other call is interrupted; the rest move at most 7 bytes.
ssize_t ShortInterruptedRead(int fd, void* buffer, std::size_t count)
{
    static int calls = 0;
    if (++calls % 2 == 0) {
        errno = EINTR;
        return -1;
    }
    return ::read(fd, buffer, std::min<std::size_t>(count, 7));
}

ssize_t ShortInterruptedWrite(int fd, const void* buffer, std::size_t count)
{
    static int calls = 0;
    if (++calls % 2 == 0) {
        errno = EINTR;
        return -1;
    }
    return ::write(fd, buffer, std::min<std::size_t>(count, 1000));
}

} // namespace

TEST_F(Faults, ReadsResumeAfterShortAndInterruptedReads)
{
    TestFolder folder;
    folder.Write("f", Pattern(10007));
    SystemCalls().read = ShortInterruptedRead;
    EXPECT_EQ(ReadFileBytes((folder / "f").string(), Limit), Pattern(10007));
}

TEST_F(Faults, AFileThatShrinksWhileReadGivesWhatItStillHolds)
{
    TestFolder folder;
    folder.Write("f", Pattern(5000));
    // The size was taken at 5000 bytes; then the file ends after 1200.
    SystemCalls().read = [](int fd, void* buffer, std::size_t count) -> ssize_t {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        return at >= 1200 ? 0 : ::read(fd, buffer, std::min<std::size_t>(count, static_cast<std::size_t>(1200 - at)));
    };
    const Bytes written = Pattern(5000);
    EXPECT_EQ(ReadFileBytes((folder / "f").string(), Limit), Bytes(written.begin(), written.begin() + 1200));
}

TEST_F(Faults, TheSizeLimitHoldsAtItsExactBoundary)
{
    TestFolder folder;
    folder.Write("f", {'B', 'M'});
    static off_t reportedSize = 0;
    SystemCalls().fstat = [](int fd, struct stat* status) {
        const int result = ::fstat(fd, status);
        status->st_size = reportedSize;
        return result;
    };
    reportedSize = 269484032; // read, and found shorter than it said
    EXPECT_EQ(ReadFileBytes((folder / "f").string(), Limit), (Bytes{'B', 'M'}));
    reportedSize = 269484033;
    ExpectImageError([&] { ReadFileBytes((folder / "f").string(), Limit); }, ImageErrorKind::TooLarge,
                     "269484033 bytes");
}

TEST_F(Faults, ReadErrorsNameTheFile)
{
    TestFolder folder;
    folder.Write("f", Pattern(100));
    SystemCalls().read = [](int, void*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    const std::string path = (folder / "f").string();
    ExpectImageError([&] { ReadFileBytes(path, Limit); }, ImageErrorKind::Io, path + ": Input/output error");
}

TEST_F(Faults, RefusesFifosAndDevicesWithoutBlocking)
{
    TestFolder folder;
    const std::string fifo = (folder / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // With no writer, a blocking open would wait here for ever.
    ExpectImageError([&] { ReadFileBytes(fifo, Limit); }, ImageErrorKind::Io, fifo + ": is not a regular file");
    ExpectImageError([&] { ReadFileBytes("/dev/zero", Limit); }, ImageErrorKind::Io,
                     "/dev/zero: is not a regular file");
}

TEST_F(Faults, WritesResumeExactlyWhereAShortOrInterruptedWriteStopped)
{
    TestFolder folder;
    SystemCalls().write = ShortInterruptedWrite;
    ReplacingFile file((folder / "out.bmp").string());
    file.Write(Pattern(65536 + 999));
    file.Write(Pattern(3));
    file.Commit();
    Bytes expected = Pattern(65536 + 999);
    expected.insert(expected.end(), {0, 31, 62});
    EXPECT_EQ(folder.Read("out.bmp"), expected);
}

TEST_F(Faults, AFullDiskOrAFailingCloseKeepsTheEarlierFileAndLeavesNothing)
{
    struct Case {
        const char* name;
        std::function<void()> inject;
        const char* reason;
    };
    const Case cases[] = {
        {"disk full after 100 kB",
         [] {
             Count() = 0;
             SystemCalls().write = [](int fd, const void* buffer, std::size_t count) -> ssize_t {
                 if (Count() >= 100000) {
                     errno = ENOSPC;
                     return -1;
                 }
                 const ssize_t put =
                     ::write(fd, buffer, std::min<std::size_t>(count, static_cast<std::size_t>(100000 - Count())));
                 Count() += static_cast<int>(put);
                 return put;
             };
         },
         "No space left on device"},
        {"file size limit",
         [] {
             SystemCalls().write = [](int, const void*, std::size_t) -> ssize_t {
                 errno = EFBIG;
                 return -1;
             };
         },
         "File too large"},
        {"a write that takes nothing",
         [] { SystemCalls().write = [](int, const void*, std::size_t) -> ssize_t { return 0; }; },
         "No space left on device"},
        {"the old mode cannot be given to the new file",
         [] {
             SystemCalls().fchmod = [](int, mode_t) {
                 errno = EPERM;
                 return -1;
             };
         },
         "Operation not permitted"},
        {"close reports a lost write",
         [] {
             SystemCalls().close = [](int fd) {
                 ::close(fd);
                 errno = EIO;
                 return -1;
             };
         },
         "Input/output error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        folder.Write("out.bmp", {'o', 'l', 'd'});
        const std::string path = (folder / "out.bmp").string();
        c.inject();
        ExpectImageError(
            [&] {
                ReplacingFile file(path);
                file.Write(Pattern(662254));
                file.Commit();
            },
            ImageErrorKind::Io, path + ": " + c.reason);
        SystemCalls() = Platform::RealSystemCalls();
        EXPECT_EQ(folder.Read("out.bmp"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
    }
}

TEST(ReplacingFileSignals, AnInterruptingSignalRemovesTheTemporaryAndStillEndsTheProcess)
{
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        TestFolder folder;
        folder.Write("out.bmp", {'o', 'l', 'd'});
        const std::string path = (folder / "out.bmp").string();
        EXPECT_EXIT(
            {
                ReplacingFile file(path);
                file.Write(Pattern(1000));
                ::raise(signalNumber);
                std::_Exit(0);
            },
            testing::KilledBySignal(signalNumber), "");
        EXPECT_EQ(folder.Read("out.bmp"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
    }
}

TEST(ReplacingFileSignals, ASignalTheUserIgnoresStaysIgnored)
{
    TestFolder folder;
    const std::string path = (folder / "out.bmp").string();
    EXPECT_EXIT(
        {
            ::signal(SIGHUP, SIG_IGN); // as under nohup
            ReplacingFile file(path);
            ::raise(SIGHUP);
            file.Write(Pattern(10));
            file.Commit();
            std::_Exit(::signal(SIGHUP, SIG_IGN) == SIG_IGN ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(folder.Read("out.bmp"), Pattern(10));
}

TEST(ReplacingFileNames, NamesPlantedWhereAPredictableNameWouldGoAreNoObstacle)
{
    TestFolder folder;
    const std::string pid = std::to_string(::getpid());
    folder.Write("out.bmp.tmp-" + pid, {'x'});
    for (int i = 1; i <= 100; ++i) {
        folder.Write("out.bmp.tmp-" + pid + "." + std::to_string(i), {'x'});
    }
    std::filesystem::create_symlink("/nonexistent", folder / "out.bmp.tmp-1");
    ReplacingFile file((folder / "out.bmp").string());
    file.Write(Pattern(10));
    file.Commit();
    EXPECT_EQ(folder.Read("out.bmp"), Pattern(10));
    EXPECT_EQ(folder.Names().size(), 103U);
}
