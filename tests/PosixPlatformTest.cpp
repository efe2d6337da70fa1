// SPDX-License-Identifier: MIT
// The POSIX file layer under faults made on demand: any call failing at any
// point, short and interrupted transfers, a file that changes size, signals,
// names planted in its way, links and folders changed while it works, and
// what the owner set on the file it replaces.
#include "FileChecks.h"
#include "Graphics.h"
#include "Platform.h"
#include "PosixCalls.h"
#include "RunTool.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <tuple>
#include <type_traits>
#include <unistd.h>

using Platform::FileError;
using Platform::PosixCalls;
using Platform::ReadFileBytes;
using Platform::ReplacingFile;
using Platform::SystemCalls;
using TestSupport::Bytes;
using TestSupport::TestFolder;

using TestSupport::ExpectFileError;
using TestSupport::Pattern;
using TestSupport::Replace;

namespace {

constexpr std::uint64_t Limit = 269484032;
const Bytes Old = {'o', 'l', 'd'};

// Each test gets the real calls back, whatever it replaced.
class Faults : public testing::Test {
protected:
    void TearDown() override { SystemCalls() = Platform::RealSystemCalls(); }

    static int& Count()
    {
        static int count = 0;
        return count;
    }
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

std::string Attribute(const std::filesystem::path& path, const char* name)
{
    char value[256];
    const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? "" : std::string(value, static_cast<std::size_t>(size));
}

mode_t Mode(const std::filesystem::path& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// An access ACL as the kernel stores it: version 2, then (tag, permissions,
// id) entries: the owner rw, user 65534 rw, the group r, the mask rw,
// others nothing. Which is mode 0660 with the mask as the group bits.
const std::string AccessAcl = {2,      0,      0,      0,      1,      0,      6,      0,      '\xFF', '\xFF', '\xFF',
                               '\xFF', 2,      0,      6,      0,      '\xFE', '\xFF', 0,      0,      4,      0,
                               4,      0,      '\xFF', '\xFF', '\xFF', '\xFF', 0x10,   0,      6,      0,      '\xFF',
                               '\xFF', '\xFF', '\xFF', 0x20,   0,      0,      0,      '\xFF', '\xFF', '\xFF', '\xFF'};
// cap_net_raw, permitted and effective (revision 2: magic, then two words
// each of permitted and inheritable).
const std::string NetRawCapability = {1, 0, 0, 2, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

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
    ExpectFileError([&] { ReadFileBytes((folder / "f").string(), Limit); }, "269484033 bytes");
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
    ExpectFileError([&] { ReadFileBytes(path, Limit); }, path + ": Input/output error");
}

TEST_F(Faults, RefusesFifosAndDevicesWithoutBlocking)
{
    TestFolder folder;
    const std::string fifo = (folder / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // With no writer, a blocking open would wait here for ever.
    ExpectFileError([&] { ReadFileBytes(fifo, Limit); }, fifo + ": is not a regular file");
    ExpectFileError([&] { ReadFileBytes("/dev/zero", Limit); }, "/dev/zero: is not a regular file");
}

TEST_F(Faults, AKeyCapIsReadOnlyUpToTheEndOfItsPixels)
{
    // The example key cap's 3,894 bytes, then a megabyte that no reader needs.
    TestFolder folder;
    Bytes bytes = TestFolder::ReadFile(TestSupport::SourcePath("examples/key.bmp"));
    ASSERT_EQ(bytes.size(), 3894U);
    bytes.resize(bytes.size() + (1 << 20), 0xEE);
    folder.Write("key.bmp", bytes);
    Count() = 0;
    SystemCalls().read = [](int fd, void* buffer, std::size_t count) {
        const ssize_t got = ::read(fd, buffer, count);
        Count() += static_cast<int>(std::max<ssize_t>(got, 0));
        return got;
    };
    Graphics::TBitmap key;
    key.LoadFromFile((folder / "key.bmp").string());
    EXPECT_EQ(key.GetWidth(), 40);
    EXPECT_EQ(Count(), 4096); // its head, which holds the pixels' end, and nothing after
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
        mode_t mode = 0640;     // of the earlier file
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
        {"a write that takes nothing",
         [] { SystemCalls().write = [](int, const void*, std::size_t) -> ssize_t { return 0; }; },
         "No space left on device"},
        {"the mode cannot be set, and the new file would allow more than the old",
         [] {
             SystemCalls().fchmod = [](int, mode_t) {
                 errno = EPERM;
                 return -1;
             };
         },
         "Operation not permitted", 0400},
        {"close reports a lost write",
         [] {
             SystemCalls().close = [](int fd) {
                 ::close(fd);
                 errno = EIO;
                 return -1;
             };
         },
         "Input/output error"},
        {"every temporary name is taken",
         [] {
             SystemCalls().openat = [](int folder, const char* path, int flags, mode_t mode) {
                 if ((flags & O_EXCL) != 0) {
                     errno = EEXIST;
                     return -1;
                 }
                 return ::openat(folder, path, flags, mode);
             };
         },
         "File exists"},
        {"the rename is refused",
         [] {
             SystemCalls().renameat = [](int, const char*, int, const char*) {
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
         "cannot keep the file's group 65534 (Operation not permitted)", 0640, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) {
            continue; // only root can give the earlier file a group this test is not in
        }
        TestFolder folder;
        folder.Write("out.bmp", Old);
        const std::string path = (folder / "out.bmp").string();
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        if (c.needsRoot) {
            ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), 65534), 0);
        }
        c.inject();
        ExpectFileError([&] { Replace(path, Pattern(662254)); }, path + ": " + c.reason);
        SystemCalls() = Platform::RealSystemCalls();
        EXPECT_EQ(folder.Read("out.bmp"), Old);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
    }
}

// Every call the file layer makes, failed in turn at each point of a run,
// with each kind of error that sends it down another path: whatever fails,
// the run either replaces the file whole or reports one error and leaves
// the earlier file and the folder as they were.
namespace {

struct Sweep {
    static inline int calls = 0;
    static inline int failAt = 0;
    static inline int error = 0;
    // Errors that say something of the name (not there, taken) are only
    // failed where a name is opened: a call on a descriptor has no such
    // answer, and one on a name found a moment ago would not give it.
    static inline bool onlyOpens = false;
    // Once failed, every later call fails too: a disk that has gone.
    static inline bool persistent = false;
    // As in a chroot without /proc.
    static inline bool noProc = false;
};

template <auto Member> struct Failing;

template <typename Result, typename... Args, Result (*PosixCalls::*Member)(Args...)> struct Failing<Member> {
    static Result Call(Args... args)
    {
        constexpr bool opens = std::is_same_v<decltype(Member), decltype(&PosixCalls::openat)>;
        if constexpr (opens) {
            if (Sweep::noProc && std::string(std::get<1>(std::tuple(args...))).starts_with("/proc/")) {
                errno = ENOENT;
                return -1;
            }
        }
        if ((opens || !Sweep::onlyOpens) &&
            (++Sweep::calls == Sweep::failAt || (Sweep::persistent && Sweep::calls > Sweep::failAt))) {
            errno = Sweep::error;
            return Result(-1);
        }
        static const PosixCalls real = Platform::RealSystemCalls();
        return (real.*Member)(args...);
    }
};

void FailCallsInTurn()
{
    PosixCalls& calls = SystemCalls();
    calls.openat = Failing<&PosixCalls::openat>::Call;
    calls.read = Failing<&PosixCalls::read>::Call;
    calls.write = Failing<&PosixCalls::write>::Call;
    calls.close = Failing<&PosixCalls::close>::Call;
    calls.fstat = Failing<&PosixCalls::fstat>::Call;
    calls.fstatat = Failing<&PosixCalls::fstatat>::Call;
    calls.fchmod = Failing<&PosixCalls::fchmod>::Call;
    calls.fchown = Failing<&PosixCalls::fchown>::Call;
    calls.flistxattr = Failing<&PosixCalls::flistxattr>::Call;
    calls.fgetxattr = Failing<&PosixCalls::fgetxattr>::Call;
    calls.fsetxattr = Failing<&PosixCalls::fsetxattr>::Call;
    calls.fremovexattr = Failing<&PosixCalls::fremovexattr>::Call;
    calls.readlinkat = Failing<&PosixCalls::readlinkat>::Call;
    calls.renameat = Failing<&PosixCalls::renameat>::Call;
    calls.unlinkat = Failing<&PosixCalls::unlinkat>::Call;
    calls.getentropy = Failing<&PosixCalls::getentropy>::Call;
}

} // namespace

TEST_F(Faults, AnyCallFailingAtAnyPointLosesNothingAndLeavesNothing)
{
    struct Case {
        const char* name;
        std::function<void(const TestFolder&)> prepare;
        const char* written; // where the new file lands
    };
    const bool root = ::geteuid() == 0;
    const Case cases[] = {
        {"an earlier file with a note, of another owner where that can be",
         [root](const TestFolder& folder) {
             folder.Write("out.bmp", Old);
             ::setxattr((folder / "out.bmp").c_str(), "user.note", "n", 1, 0);
             if (root) {
                 ::chown((folder / "out.bmp").c_str(), 65534, 0);
             }
         },
         "out.bmp"},
        {"an earlier file of another group that it gives nothing",
         [root](const TestFolder& folder) {
             folder.Write("out.bmp", Old);
             ::chmod((folder / "out.bmp").c_str(), 0604);
             if (root) {
                 ::chown((folder / "out.bmp").c_str(), 65534, 65534);
             }
         },
         "out.bmp"},
        {"no earlier file", [](const TestFolder&) {}, "out.bmp"},
        {"a link into another folder",
         [](const TestFolder& folder) {
             std::filesystem::create_directory(folder / "pictures");
             folder.Write("pictures/keyboard.bmp", Old);
             std::filesystem::create_symlink("pictures/keyboard.bmp", folder / "out.bmp");
         },
         "pictures/keyboard.bmp"},
        {"a link that leads nowhere yet",
         [](const TestFolder& folder) {
             std::filesystem::create_directory(folder / "pictures");
             std::filesystem::create_symlink("pictures/keyboard.bmp", folder / "out.bmp");
         },
         "pictures/keyboard.bmp"},
    };
    const auto everything = [](const TestFolder& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.Path())) {
            names.push_back(entry.path().lexically_relative(folder.Path()).string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    // Each errno that sends the layer down a path of its own, failing one
    // call; failing without /proc; and failing every call from one on.
    struct Mode {
        bool noProc;
        bool persistent;
        std::vector<int> errors;
    };
    const Mode modes[] = {{false, false, {EIO, ENOENT, EPERM, ENOTSUP, ENOSYS, EINTR, EEXIST, ERANGE}},
                          {true, false, {EIO, ENOENT}},
                          {false, true, {EIO, EPERM}}};
    for (const Case& c : cases) {
        for (const auto& [noProc, persistent, errors] : modes) {
            for (const int error : errors) {
                {
                    for (int failAt = 1;; ++failAt) {
                        SCOPED_TRACE(std::string(c.name) + (noProc ? ", no /proc" : "") +
                                     (persistent ? ", every call failing from " : ", failing only call ") +
                                     std::to_string(failAt) + " with " + std::strerror(error));
                        TestFolder folder;
                        c.prepare(folder);
                        const std::vector<std::string> before = everything(folder);
                        const Bytes earlier = folder.Read(c.written);
                        Sweep::calls = 0;
                        Sweep::failAt = failAt;
                        Sweep::error = error;
                        Sweep::onlyOpens = error == ENOENT || error == EEXIST;
                        Sweep::persistent = persistent;
                        Sweep::noProc = noProc;
                        FailCallsInTurn();
                        bool replaced = false;
                        try {
                            Replace((folder / "out.bmp").string(), Pattern(70000));
                            replaced = true;
                        } catch (const FileError& failure) {
                            EXPECT_EQ(std::string(failure.what()).rfind((folder / "out.bmp").string() + ": ", 0), 0U)
                                << failure.what();
                        }
                        SystemCalls() = Platform::RealSystemCalls();
                        // Nothing is ever lost. Where every call fails, the clean-up
                        // itself may not be able to remove what the run made.
                        EXPECT_EQ(folder.Read(c.written), replaced ? Pattern(70000) : earlier);
                        std::vector<std::string> expected = before;
                        if (replaced && std::find(before.begin(), before.end(), c.written) == before.end()) {
                            expected.push_back(c.written);
                            std::sort(expected.begin(), expected.end());
                        }
                        if (!persistent) {
                            EXPECT_EQ(everything(folder), expected);
                        }
                        if (Sweep::calls < failAt) {
                            break; // the run made fewer calls: every one of them has failed once
                        }
                    }
                }
            }
        }
    }
}

TEST_F(Faults, SettingsAFileSystemCannotHoldAreNoFailureWhereAccessDoesNotWiden)
{
    // FAT keeps no modes, owners or attributes, and makes no unnamed files:
    // every file has the mode it gives, and changing it fails. A second run
    // replaces the first one's picture; a first run keeps the mode it gets.
    for (const bool earlier : {true, false}) {
        SCOPED_TRACE(earlier ? "an earlier picture" : "no earlier picture");
        TestFolder folder;
        if (earlier) {
            folder.Write("out.bmp", Old);
            ASSERT_EQ(::chmod((folder / "out.bmp").c_str(), 0600), 0);
        }
        SystemCalls().openat = [](int at, const char* path, int flags, mode_t mode) {
            if ((flags & O_TMPFILE) == O_TMPFILE) {
                errno = EOPNOTSUPP;
                return -1;
            }
            return ::openat(at, path, flags, mode);
        };
        SystemCalls().fchmod = [](int, mode_t) {
            errno = ENOSYS;
            return -1;
        };
        SystemCalls().fchown = [](int, uid_t, gid_t) {
            errno = ENOSYS;
            return -1;
        };
        SystemCalls().flistxattr = [](int, char*, std::size_t) -> ssize_t {
            errno = ENOTSUP;
            return -1;
        };
        SystemCalls().fremovexattr = [](int, const char*) {
            errno = ENOTSUP;
            return -1;
        };
        Replace((folder / "out.bmp").string(), Pattern(10));
        SystemCalls() = Platform::RealSystemCalls();
        EXPECT_EQ(folder.Read("out.bmp"), Pattern(10));
        EXPECT_EQ(Mode(folder / "out.bmp"), 0600U);
    }
}

TEST(ReplacingFileSignals, AnInterruptingSignalRemovesWhatTheRunMadeAndStillEndsTheProcess)
{
    for (const bool throughADanglingLink : {false, true}) {
        for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGABRT, SIGSEGV}) {
            TestFolder folder;
            std::filesystem::create_directory(folder / "pictures");
            if (throughADanglingLink) {
                std::filesystem::create_symlink("pictures/new.bmp", folder / "out.bmp");
            } else {
                folder.Write("out.bmp", Old);
            }
            const std::vector<std::string> before = folder.Names();
            const std::string path = (folder / "out.bmp").string();
            EXPECT_EXIT(
                {
                    const rlimit noCore{}; // a core file would be one more name in the folder
                    ::setrlimit(RLIMIT_CORE, &noCore);
                    ReplacingFile file(path);
                    file.Write(Pattern(1000));
                    ::raise(signalNumber);
                    std::_Exit(0);
                },
                testing::KilledBySignal(signalNumber), "");
            EXPECT_EQ(folder.Names(), before);
            EXPECT_TRUE(std::filesystem::is_empty(folder / "pictures"));
            if (!throughADanglingLink) {
                EXPECT_EQ(folder.Read("out.bmp"), Old);
            }
        }
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
            std::exit(::signal(SIGHUP, SIG_IGN) == SIG_IGN ? 0 : 1); // exit, not _Exit: coverage counts are written
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

TEST_F(Faults, TheNewFileIsItsOwnersAloneUntilItIsWritten)
{
    // The earlier file lets everyone read and write, and the umask takes
    // nothing away: still nobody else may open the temporary file.
    TestFolder folder;
    folder.Write("out.bmp", Old);
    ASSERT_EQ(::chmod((folder / "out.bmp").c_str(), 0666), 0);
    const mode_t umask = ::umask(0);
    static std::filesystem::path watched;
    watched = folder.Path();
    static std::vector<mode_t> seen;
    seen.clear();
    // At every write, and at every setting given after the writes.
    const auto look = [] {
        for (const auto& entry : std::filesystem::directory_iterator(watched)) {
            if (entry.path().filename() != "out.bmp") {
                seen.push_back(Mode(entry.path()));
            }
        }
    };
    static std::function<void()> lookNow;
    lookNow = look;
    SystemCalls().write = [](int fd, const void* buffer, std::size_t count) {
        lookNow();
        return ::write(fd, buffer, count);
    };
    SystemCalls().fchmod = [](int fd, mode_t mode) {
        lookNow();
        return ::fchmod(fd, mode);
    };
    Replace((folder / "out.bmp").string(), Pattern(10));
    ::umask(umask);
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[0], 0600U);
    EXPECT_EQ(seen[1] & 077, 0U);
    EXPECT_EQ(Mode(folder / "out.bmp"), 0666U);
}

TEST_F(Faults, ReplacingKeepsOwnerGroupModeAccessListAttributesAndCapabilities)
{
    struct Case {
        const char* name;
        mode_t mode;
        const char* attribute; // set on the earlier file, and its value
        const std::string* value;
        bool needsRoot; // to give the file away, or to set a capability
    };
    const std::string note = "drawn for the 2027 catalogue";
    const Case cases[] = {
        {"an access list and a note", 0660, "system.posix_acl_access", &AccessAcl, false},
        {"set-ID bits, given away", 06755, "user.note", &note, true},
        {"a capability", 0755, "security.capability", &NetRawCapability, true},
    };
    const bool root = ::geteuid() == 0;
    for (const Case& c : cases) {
        // A user who may not give files away keeps at least the group.
        for (const bool onlyTheGroup : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (onlyTheGroup ? ", the owner cannot be kept" : ""));
            if (c.needsRoot && !root) {
                continue;
            }
            TestFolder folder;
            folder.Write("out.bmp", Old);
            const std::filesystem::path out = folder / "out.bmp";
            if (root) {
                ASSERT_EQ(::chown(out.c_str(), 65534, 65534), 0);
            }
            ASSERT_EQ(::chmod(out.c_str(), c.mode), 0);
            if (::setxattr(out.c_str(), c.attribute, c.value->data(), c.value->size(), 0) != 0 ||
                ::setxattr(out.c_str(), "user.second", "2", 1, 0) != 0) {
                GTEST_SKIP() << "this file system keeps no " << c.attribute << ": " << std::strerror(errno);
            }
            struct stat old {};
            ASSERT_EQ(::stat(out.c_str(), &old), 0);
            if (onlyTheGroup) {
                SystemCalls().fchown = [](int fd, uid_t owner, gid_t group) {
                    if (owner != static_cast<uid_t>(-1)) {
                        errno = EPERM;
                        return -1;
                    }
                    return ::fchown(fd, owner, group);
                };
            }
            Replace(out.string(), Pattern(10));
            SystemCalls() = Platform::RealSystemCalls();
            struct stat made {};
            ASSERT_EQ(::stat(out.c_str(), &made), 0);
            EXPECT_NE(made.st_ino, old.st_ino);
            EXPECT_EQ(made.st_gid, old.st_gid);
            EXPECT_EQ(made.st_uid, onlyTheGroup ? ::geteuid() : old.st_uid);
            EXPECT_EQ(made.st_mode & 07777, c.mode);
            EXPECT_EQ(Attribute(out, c.attribute), *c.value);
            EXPECT_EQ(Attribute(out, "user.second"), "2");
            EXPECT_EQ(folder.Read("out.bmp"), Pattern(10));
            if (!root) {
                break; // the earlier file's owner is this user, so nothing tells the two cases apart
            }
        }
    }
}

TEST_F(Faults, AFolderThatGivesNewFilesAnAccessListGivesOnlyWhatTheShellWould)
{
    // A default ACL on the folder: user 65534 may read and write what is made
    // there, and others nothing, whatever the umask says.
    const std::string defaultAcl = {
        2, 0,      0,      0,      1,      0,      6,    0, '\xFF', '\xFF', '\xFF', '\xFF', 2,      0,     6,
        0, '\xFE', '\xFF', 0,      0,      4,      0,    4, 0,      '\xFF', '\xFF', '\xFF', '\xFF', 0x10,  0,
        6, 0,      '\xFF', '\xFF', '\xFF', '\xFF', 0x20, 0, 0,      0,      '\xFF', '\xFF', '\xFF', '\xFF'};
    TestFolder folder;
    folder.Write("plain.bmp", Old);
    ASSERT_EQ(::chmod((folder / "plain.bmp").c_str(), 0640), 0);
    if (::setxattr(folder.Path().c_str(), "system.posix_acl_default", defaultAcl.data(), defaultAcl.size(), 0) != 0) {
        GTEST_SKIP() << "this file system keeps no ACLs: " << std::strerror(errno);
    }
    const mode_t umask = ::umask(022);
    // What the shell's ">" makes there, for comparison.
    const int shell = ::open((folder / "shell.bmp").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(shell, 0);
    ::close(shell);
    Replace((folder / "new.bmp").string(), Pattern(10));
    // An earlier file without an ACL gets none from the folder.
    Replace((folder / "plain.bmp").string(), Pattern(10));
    ::umask(umask);
    EXPECT_EQ(Mode(folder / "new.bmp"), Mode(folder / "shell.bmp"));
    EXPECT_EQ(Mode(folder / "new.bmp"), 0660U);
    EXPECT_EQ(Attribute(folder / "new.bmp", "system.posix_acl_access"),
              Attribute(folder / "shell.bmp", "system.posix_acl_access"));
    EXPECT_EQ(Attribute(folder / "plain.bmp", "system.posix_acl_access"), "");
    EXPECT_EQ(Mode(folder / "plain.bmp"), 0640U);
}

TEST_F(Faults, WritesOnlyWhereTheKernelFollowedTheLinks)
{
    // Each case's links as the kernel sees them, and what the tool's own
    // following of them is made to find, or what is swapped in meanwhile.
    struct Case {
        const char* name;
        std::function<void()> inject;
        std::string reason;
        bool dangling = false;          // out.bmp leads to new.bmp, which is not there yet
        const char* alsoLeft = nullptr; // what another program made meanwhile
    };
    const Case cases[] = {
        {"a dangling link's target appears meanwhile",
         [] {
             SystemCalls().fstatat = [](int folder, const char* path, struct stat* status, int flags) {
                 if (std::string(path) == "new.bmp") {
                     std::ofstream("new.bmp") << "theirs";
                 }
                 return ::fstatat(folder, path, status, flags);
             };
         },
         "changed while being opened; nothing was written", true, "new.bmp"},
        {"a dangling link is pointed elsewhere once its target is made",
         [] {
             SystemCalls().fstat = [](int fd, struct stat* status) {
                 if (std::filesystem::exists("new.bmp")) {
                     std::filesystem::remove("out.bmp");
                     std::filesystem::create_symlink("decoy.bmp", "out.bmp");
                 }
                 return ::fstat(fd, status);
             };
         },
         "changed while being opened; nothing was written", true},
        {"the link is found to lead elsewhere",
         [] {
             SystemCalls().readlinkat = [](int folder, const char* path, char* buffer, std::size_t size) -> ssize_t {
                 if (std::string(path) == "out.bmp") {
                     // On another device where there is one (a tool that
                     // wrongly went there would replace only this decoy).
                     static constexpr char Elsewhere[] = "/dev/shm/keyboard-picture-decoy.bmp";
                     std::memcpy(buffer, Elsewhere, std::min(size, sizeof Elsewhere - 1));
                     return sizeof Elsewhere - 1;
                 }
                 return ::readlinkat(folder, path, buffer, size);
             };
         },
         "changed while being opened; nothing was written"},
        {"the links are found to go round for ever",
         [] {
             SystemCalls().readlinkat = [](int, const char*, char* buffer, std::size_t size) -> ssize_t {
                 buffer[0] = 'x';
                 std::error_code ignored;
                 std::filesystem::create_symlink("x", "x", ignored); // a loop, wherever this runs
                 return std::min<ssize_t>(1, static_cast<ssize_t>(size));
             };
         },
         "Too many levels of symbolic links"},
        {"a pipe is swapped in once the file is pinned",
         [] {
             static std::filesystem::path link;
             link = std::filesystem::current_path() / "out.bmp";
             SystemCalls().fstat = [](int fd, struct stat* status) {
                 if (std::filesystem::is_symlink(link)) {
                     std::filesystem::remove(link);
                     ::mkfifo(link.c_str(), 0600); // nothing reads it, so opening it to write would fail
                 }
                 return ::fstat(fd, status);
             };
         },
         "changed while being opened; nothing was written"},
        {"without /proc, a pipe is swapped in",
         [] {
             SystemCalls().openat = [](int folder, const char* path, int flags, mode_t mode) {
                 if (std::string(path).starts_with("/proc/")) {
                     errno = ENOENT;
                     return -1;
                 }
                 if ((flags & O_NONBLOCK) != 0) {
                     std::filesystem::remove("out.bmp");
                     std::filesystem::copy_file("decoy.bmp", "out.bmp");
                 }
                 return ::openat(folder, path, flags, mode);
             };
         },
         "changed while being opened; nothing was written"},
    };
    const std::filesystem::path start = std::filesystem::current_path();
    std::ofstream("/dev/shm/keyboard-picture-decoy.bmp") << "d";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        folder.Write("decoy.bmp", {'d'});
        folder.Write("target.bmp", Old);
        std::filesystem::create_symlink(c.dangling ? "new.bmp" : "target.bmp", folder / "out.bmp");
        std::filesystem::current_path(folder.Path());
        c.inject();
        ExpectFileError([&] { Replace("out.bmp", Pattern(10)); }, "out.bmp: " + c.reason);
        SystemCalls() = Platform::RealSystemCalls();
        std::filesystem::current_path(start);
        EXPECT_EQ(folder.Read("target.bmp"), Old);
        EXPECT_EQ(folder.Read("decoy.bmp"), Bytes{'d'});
        std::vector<std::string> names = folder.Names();
        std::erase(names, "x");
        std::vector<std::string> expected = {"decoy.bmp", "out.bmp", "target.bmp"};
        if (c.alsoLeft != nullptr) {
            expected.insert(expected.begin() + 1, c.alsoLeft);
        }
        EXPECT_EQ(names, expected);
    }
    std::filesystem::remove("/dev/shm/keyboard-picture-decoy.bmp");
}

TEST_F(Faults, TheNewFileStaysInTheFolderItWasFoundInWhateverHappensToItsName)
{
    // zzOut.bmp leads through a link into a folder that another program
    // renames while the picture is written: the new file and the clean-up
    // go to that folder under its new name, never to a path looked up again.
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "the run fails after the rename" : "the run succeeds");
        TestFolder folder;
        std::filesystem::create_directory(folder / "A");
        folder.Write("A/out.bmp", Old);
        std::filesystem::create_symlink("A/out.bmp", folder / "zzOut.bmp");
        static std::filesystem::path renamed;
        renamed = folder.Path();
        static bool failAfter = false;
        failAfter = fails;
        SystemCalls().write = [](int fd, const void* buffer, std::size_t count) -> ssize_t {
            if (std::filesystem::exists(renamed / "A")) {
                std::filesystem::rename(renamed / "A", renamed / "A2");
                std::filesystem::create_directory(renamed / "A"); // and a decoy in its place
            }
            if (failAfter) {
                errno = ENOSPC;
                return -1;
            }
            return ::write(fd, buffer, count);
        };
        const std::string path = (folder / "zzOut.bmp").string();
        if (fails) {
            ExpectFileError([&] { Replace(path, Pattern(10)); }, path + ": No space left on device");
        } else {
            Replace(path, Pattern(10));
        }
        SystemCalls() = Platform::RealSystemCalls();
        EXPECT_EQ(folder.Read("A2/out.bmp"), fails ? Old : Pattern(10));
        EXPECT_TRUE(std::filesystem::is_empty(folder / "A"));
        EXPECT_EQ(
            std::distance(std::filesystem::directory_iterator(folder / "A2"), std::filesystem::directory_iterator()),
            1);
    }
}

TEST_F(Faults, ALinkChainLongerThanAPathIsFollowedAsTheKernelFollowsIt)
{
    // Thirty links of 150-character names, each leading through a folder
    // and back: joined into one path they would pass PATH_MAX.
    TestFolder folder;
    const std::string through(150, 'd');
    std::filesystem::create_directory(folder / through);
    const auto name = [](int i) { return std::string(146, 'L') + std::to_string(1000 + i); };
    for (int i = 0; i < 30; ++i) {
        std::filesystem::create_symlink(through + "/../" + name(i + 1), folder / (i == 0 ? "out.bmp" : name(i)));
    }
    folder.Write(name(30), Old);
    Replace((folder / "out.bmp").string(), Pattern(10));
    EXPECT_EQ(folder.Read(name(30)), Pattern(10));
    EXPECT_EQ(folder.Names().size(), 32U);
}

TEST_F(Faults, AReadLeaseIsWaitedForAsTheShellWould)
{
    TestFolder folder;
    folder.Write("out.bmp", Old);
    const std::string path = (folder / "out.bmp").string();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    // Another program (a file server) holds a read lease, and lets go 0.3 s
    // after it is told that someone wants to write.
    const pid_t holder = ::fork();
    if (holder == 0) {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGIO);
        ::sigprocmask(SIG_BLOCK, &signals, nullptr);
        const int fd = ::open(path.c_str(), O_RDONLY);
        const char status = fd >= 0 && ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0 ? 'y' : 'n';
        ::write(ready[1], &status, 1);
        const timespec wait{10, 0};
        ::sigtimedwait(&signals, nullptr, &wait);
        ::usleep(300000);
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        std::_Exit(0);
    }
    char status = 'n';
    ASSERT_EQ(::read(ready[0], &status, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    if (status != 'y') {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        GTEST_SKIP() << "this file system grants no leases";
    }
    const auto start = std::chrono::steady_clock::now();
    Replace(path, Pattern(10));
    const auto waited = std::chrono::steady_clock::now() - start;
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(folder.Read("out.bmp"), Pattern(10));
    EXPECT_GE(waited, std::chrono::milliseconds(250)); // it did wait for the lease
}

TEST_F(Faults, ATargetCreatedThroughADanglingLinkGoesWhenTheRunFailsUnlessSomeoneWroteToIt)
{
    for (const bool someoneWrites : {false, true}) {
        SCOPED_TRACE(someoneWrites ? "another program writes to it meanwhile" : "nobody else touches it");
        TestFolder folder;
        std::filesystem::create_directory(folder / "pictures");
        std::filesystem::create_symlink("pictures/new.bmp", folder / "out.bmp");
        static std::filesystem::path created;
        created = someoneWrites ? folder / "pictures/new.bmp" : "";
        SystemCalls().write = [](int, const void*, std::size_t) -> ssize_t {
            if (!created.empty()) {
                std::ofstream(created, std::ios::app) << "theirs";
            }
            errno = ENOSPC;
            return -1;
        };
        const std::string path = (folder / "out.bmp").string();
        ExpectFileError([&] { Replace(path, Pattern(10)); }, path + ": No space left on device");
        SystemCalls() = Platform::RealSystemCalls();
        EXPECT_TRUE(std::filesystem::is_symlink(folder / "out.bmp"));
        if (someoneWrites) {
            EXPECT_EQ(folder.Read("pictures/new.bmp"), (Bytes{'t', 'h', 'e', 'i', 'r', 's'}));
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "pictures"),
                                    std::filesystem::directory_iterator()),
                      1);
        } else {
            EXPECT_TRUE(std::filesystem::is_empty(folder / "pictures"));
        }
    }
}
