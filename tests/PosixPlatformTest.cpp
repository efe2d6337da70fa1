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
#include <cstring>
#include <functional>
#include <sys/xattr.h>
#include <unistd.h>

using Graphics::ImageErrorKind;
using Platform::ReadFileBytes;
using Platform::ReplacingFile;
using Platform::SystemCalls;
using TestSupport::Bytes;
using TestSupport::TestFolder;

using TestSupport::ExpectImageError;
using TestSupport::Pattern;
using TestSupport::Replace;

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

TEST_F(Faults, EveryFailureWhileReplacingKeepsTheEarlierFileAndLeavesNothing)
{
    struct Case {
        const char* name;
        std::function<void()> inject;
        std::string reason;
        bool needsRoot = false; // to give the earlier file another group
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
        {"the rename is refused",
         [] {
             SystemCalls().rename = [](const char*, const char*) {
                 errno = EXDEV;
                 return -1;
             };
         },
         "Invalid cross-device link"},
        {"the access control list cannot be copied",
         [] {
             SystemCalls().flistxattr = [](int, char* names, std::size_t size) -> ssize_t {
                 static constexpr char Acl[] = "system.posix_acl_access";
                 if (size >= sizeof Acl) {
                     std::memcpy(names, Acl, sizeof Acl);
                 }
                 return sizeof Acl;
             };
             SystemCalls().fgetxattr = [](int, const char*, void*, std::size_t) -> ssize_t { return 0; };
             SystemCalls().fsetxattr = [](int, const char*, const void*, std::size_t, int) {
                 errno = EPERM;
                 return -1;
             };
         },
         "cannot keep the file's access control list (Operation not permitted)"},
        {"neither the owner nor the group can be kept, and the group may read",
         [] {
             SystemCalls().fchown = [](int, uid_t, gid_t) {
                 errno = EPERM;
                 return -1;
             };
         },
         "cannot keep the file's group 65534 (Operation not permitted)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) {
            continue; // only root can give the earlier file a group this test is not in
        }
        TestFolder folder;
        folder.Write("out.bmp", {'o', 'l', 'd'});
        const std::string path = (folder / "out.bmp").string();
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
        if (c.needsRoot) {
            ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), 65534), 0);
        }
        c.inject();
        ExpectImageError([&] { Replace(path, Pattern(662254)); }, ImageErrorKind::Io, path + ": " + c.reason);
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

TEST_F(Faults, ReplacingKeepsTheModeTheGroupTheAccessListAndEveryAttribute)
{
    // An access ACL as the kernel stores it: version 2, then (tag, permissions,
    // id) entries: the owner rw, user 65534 rw, the group r, the mask rw,
    // others nothing. Which is mode 0660 with the mask as the group bits.
    const std::uint8_t acl[] = {2, 0,    0,    0,    1,    0,    6,    0, 0xFF, 0xFF, 0xFF, 0xFF, 2,    0,    6,
                                0, 0xFE, 0xFF, 0,    0,    4,    0,    4, 0,    0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0,
                                6, 0,    0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0, 0,    0,    0xFF, 0xFF, 0xFF, 0xFF};
    const std::string note = "drawn for the 2027 catalogue";
    // Keeping the group needs root to give the earlier file one; a user who
    // may not give files away keeps at least the group.
    for (const bool onlyTheGroup : {false, true}) {
        SCOPED_TRACE(onlyTheGroup ? "the owner cannot be kept" : "all can be kept");
        TestFolder folder;
        folder.Write("out.bmp", {'o', 'l', 'd'});
        const std::string path = (folder / "out.bmp").string();
        const bool root = ::geteuid() == 0;
        if (root) {
            ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        }
        if (::setxattr(path.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) != 0 ||
            ::setxattr(path.c_str(), "user.note", note.data(), note.size(), 0) != 0) {
            GTEST_SKIP() << "this file system keeps no ACLs or user attributes: " << std::strerror(errno);
        }
        struct stat old {};
        ASSERT_EQ(::stat(path.c_str(), &old), 0);
        ASSERT_EQ(old.st_mode & 07777, 0660U);
        if (onlyTheGroup) {
            SystemCalls().fchown = [](int fd, uid_t owner, gid_t group) {
                if (owner != static_cast<uid_t>(-1)) {
                    errno = EPERM;
                    return -1;
                }
                return ::fchown(fd, owner, group);
            };
        }
        Replace(path, Pattern(10));
        SystemCalls() = Platform::RealSystemCalls();
        struct stat made {};
        ASSERT_EQ(::stat(path.c_str(), &made), 0);
        EXPECT_NE(made.st_ino, old.st_ino);
        EXPECT_EQ(made.st_mode & 07777, 0660U);
        EXPECT_EQ(made.st_gid, old.st_gid);
        EXPECT_EQ(made.st_uid, onlyTheGroup ? ::geteuid() : old.st_uid);
        std::uint8_t value[256];
        const ssize_t aclSize = ::getxattr(path.c_str(), "system.posix_acl_access", value, sizeof value);
        EXPECT_EQ(Bytes(value, value + std::max<ssize_t>(aclSize, 0)), Bytes(acl, acl + sizeof acl));
        const ssize_t noteSize = ::getxattr(path.c_str(), "user.note", value, sizeof value);
        EXPECT_EQ(std::string(value, value + std::max<ssize_t>(noteSize, 0)), note);
        EXPECT_EQ(folder.Read("out.bmp"), Pattern(10));
        if (!root) {
            break; // the earlier file's group is this user's own, so nothing tells the two cases apart
        }
    }
}

TEST_F(Faults, WritesOnlyWhereTheKernelFollowedTheLinks)
{
    // Each case's links as the kernel sees them, and what the tool's own
    // following of them is made to find.
    struct Case {
        const char* name;
        std::function<void()> inject;
        std::string reason;
    };
    const Case cases[] = {
        {"the link is found to lead elsewhere",
         [] {
             SystemCalls().readlink = [](const char* path, char* buffer, std::size_t size) -> ssize_t {
                 if (std::string(path).ends_with("/out.bmp")) {
                     static constexpr char Elsewhere[] = "decoy.bmp";
                     std::memcpy(buffer, Elsewhere, std::min(size, sizeof Elsewhere - 1));
                     return sizeof Elsewhere - 1;
                 }
                 return ::readlink(path, buffer, size);
             };
         },
         "changed while being replaced; nothing was written"},
        {"the links are found to go round for ever",
         [] {
             SystemCalls().readlink = [](const char*, char* buffer, std::size_t size) -> ssize_t {
                 static int calls = 0;
                 if (++calls > 1000) {
                     errno = EINVAL; // by then the hop limit should have stopped the walk
                     return -1;
                 }
                 buffer[0] = 'x';
                 return std::min<ssize_t>(1, static_cast<ssize_t>(size));
             };
         },
         "Too many levels of symbolic links"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        folder.Write("decoy.bmp", {'d'});
        folder.Write("target.bmp", {'o', 'l', 'd'});
        std::filesystem::create_symlink("target.bmp", folder / "out.bmp");
        const std::string path = (folder / "out.bmp").string();
        c.inject();
        ExpectImageError([&] { Replace(path, Pattern(10)); }, ImageErrorKind::Io, path + ": " + c.reason);
        SystemCalls() = Platform::RealSystemCalls();
        EXPECT_EQ(folder.Read("target.bmp"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(folder.Read("decoy.bmp"), Bytes{'d'});
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"decoy.bmp", "out.bmp", "target.bmp"}));
    }
}

TEST_F(Faults, ATargetCreatedThroughADanglingLinkGoesWhenTheRunFails)
{
    TestFolder folder;
    std::filesystem::create_directory(folder / "pictures");
    std::filesystem::create_symlink("pictures/new.bmp", folder / "out.bmp");
    SystemCalls().write = [](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    };
    const std::string path = (folder / "out.bmp").string();
    ExpectImageError(
        [&] {
            ReplacingFile file(path);
            file.Write(Pattern(10));
        },
        ImageErrorKind::Io, path + ": No space left on device");
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "out.bmp"));
    EXPECT_TRUE(std::filesystem::is_empty(folder / "pictures"));
}
