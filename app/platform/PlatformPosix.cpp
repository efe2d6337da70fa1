// SPDX-License-Identifier: MIT
// The POSIX primitives of the file layer, and the process around it. Every
// call that touches a file goes through SystemCalls(), so that tests can
// make any of them fail.
#include "Platform.h"
#include "PosixCalls.h"
#include "System.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/random.h>
#include <unistd.h>

namespace Platform {

PosixCalls RealSystemCalls()
{
    return {[](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
            ::read,
            ::write,
            ::close,
            ::fstat,
            ::fchmod,
            ::fchown,
            ::readlink,
            ::rename,
            ::unlink,
            ::getentropy};
}

PosixCalls& SystemCalls()
{
    static PosixCalls calls = RealSystemCalls();
    return calls;
}

namespace System {

namespace {

int Descriptor(File file)
{
    return static_cast<int>(file);
}

Kind KindOf(mode_t mode)
{
    return S_ISREG(mode) ? Kind::Regular : S_ISDIR(mode) ? Kind::Directory : Kind::Other;
}

// How many symbolic links are followed before giving up, as the kernel does.
constexpr int MaxLinkHops = 40;

} // namespace

std::string Describe(Error error)
{
    return std::strerror(static_cast<int>(error));
}

bool IsTaken(Error error)
{
    return error == EEXIST;
}

Error OpenToRead(const std::string& path, File& file)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = SystemCalls().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    if (fd < 0) {
        return errno;
    }
    file = fd;
    return 0;
}

Error Inspect(File file, Status& status)
{
    struct stat details {};
    if (SystemCalls().fstat(Descriptor(file), &details) != 0) {
        return errno;
    }
    status = {KindOf(details.st_mode), static_cast<std::uint64_t>(details.st_size)};
    return 0;
}

Error ReadSome(File file, std::span<std::uint8_t> buffer, std::size_t& got)
{
    for (;;) {
        const ssize_t count = SystemCalls().read(Descriptor(file), buffer.data(), buffer.size());
        if (count >= 0) {
            got = static_cast<std::size_t>(count);
            return 0;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

void Close(File file)
{
    SystemCalls().close(Descriptor(file));
}

Error CreateNew(const std::string& path, File& file)
{
    // Mode 0666 lets the umask decide a new file's permissions, as for any
    // file a program creates.
    const int fd = SystemCalls().open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        return errno;
    }
    file = fd;
    return 0;
}

Error WriteSome(File file, std::span<const std::uint8_t> bytes, std::size_t& put)
{
    for (;;) {
        const ssize_t count = SystemCalls().write(Descriptor(file), bytes.data(), bytes.size());
        if (count > 0) {
            put = static_cast<std::size_t>(count);
            return 0;
        }
        if (count == 0) {
            return ENOSPC; // a regular file that takes nothing is full
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

Error CloseWritten(File file)
{
    return SystemCalls().close(Descriptor(file)) == 0 ? 0 : errno;
}

Error Replace(const std::string& from, const std::string& to)
{
    return SystemCalls().rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void Remove(const std::string& path)
{
    SystemCalls().unlink(path.c_str());
}

Error RandomBytes(std::span<std::uint8_t> bytes)
{
    return SystemCalls().getentropy(bytes.data(), bytes.size()) == 0 ? 0 : errno;
}

namespace {

// The file that writing to `path` would change: symbolic links followed,
// even a dangling one, whose target writing would create.
std::string FollowLinks(const std::string& path)
{
    std::string target = path;
    for (int hops = 0;; ++hops) {
        char link[PATH_MAX];
        const ssize_t length = SystemCalls().readlink(target.c_str(), link, sizeof link);
        if (length < 0) {
            if (errno == EINVAL || errno == ENOENT) {
                return target; // not a link, or nothing there yet
            }
            FailIo(path, errno);
        }
        if (hops == MaxLinkHops) {
            FailIo(path, ELOOP);
        }
        if (static_cast<std::size_t>(length) == sizeof link) {
            FailIo(path, ENAMETOOLONG);
        }
        const std::string destination(link, static_cast<std::size_t>(length));
        const std::size_t slash = target.rfind('/');
        if (destination.front() == '/' || slash == std::string::npos) {
            target = destination;
        } else {
            target.resize(slash + 1); // relative to the link's own folder
            target += destination;
        }
    }
}

} // namespace

// Opening the target for writing refuses what writing would (no write
// permission, a directory, a read-only file system) before anything is
// created.
Target FindTarget(const std::string& path)
{
    Target target;
    target.path = FollowLinks(path);
    const int probe = SystemCalls().open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (probe < 0) {
        if (errno != ENOENT) {
            FailIo(path, errno);
        }
        return target;
    }
    target.old = OpenFile(probe);
    Status status;
    if (const Error error = Inspect(probe, status)) {
        FailIo(path, error);
    }
    target.exists = true;
    target.kind = status.kind;
    return target;
}

void KeepOwnerSettings(const std::string& path, const Target& target, File file)
{
    struct stat old {};
    if (SystemCalls().fstat(Descriptor(target.old.Get()), &old) != 0) {
        FailIo(path, errno);
    }
    // Keep the owner and group where the system lets us. Only a privileged
    // user may give a file away, and a refusal loses nothing else, so it is
    // no reason to fail.
    static_cast<void>(SystemCalls().fchown(Descriptor(file), old.st_uid, old.st_gid));
    if (SystemCalls().fchmod(Descriptor(file), old.st_mode & 07777) != 0) {
        FailIo(path, errno);
    }
}

// --- Removing the temporary file when a signal ends the process ----------
//
// The handler may run between any two instructions, so everything it reads
// is set up with the signals blocked.

namespace {

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
char pendingTemporary[PATH_MAX];
volatile std::sig_atomic_t havePendingTemporary = 0;
struct sigaction previousActions[std::size(CleanupSignals)];
sigset_t maskBeforeHold;

extern "C" void RemoveTemporaryAndDie(int signalNumber)
{
    if (havePendingTemporary != 0) {
        ::unlink(pendingTemporary);
    }
    // Blocked while this handler runs, the signal is delivered again on
    // return, now with its default action: the process ends as it would have.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

} // namespace

void HoldInterruptions()
{
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int signalNumber : CleanupSignals) {
        sigaddset(&blocked, signalNumber);
    }
    ::sigprocmask(SIG_BLOCK, &blocked, &maskBeforeHold);
}

void ReleaseInterruptions()
{
    ::sigprocmask(SIG_SETMASK, &maskBeforeHold, nullptr);
}

void RemoveOnInterruption(const std::string& temporary)
{
    if (temporary.size() >= sizeof pendingTemporary) {
        return; // cannot happen: the system refuses to create a path this long
    }
    std::memcpy(pendingTemporary, temporary.c_str(), temporary.size() + 1);
    havePendingTemporary = 1;
    for (std::size_t i = 0; i < std::size(CleanupSignals); ++i) {
        ::sigaction(CleanupSignals[i], nullptr, &previousActions[i]);
        // A signal the user chose to ignore (nohup) stays ignored.
        if (previousActions[i].sa_handler != SIG_IGN) {
            struct sigaction action {};
            action.sa_handler = RemoveTemporaryAndDie;
            sigemptyset(&action.sa_mask);
            ::sigaction(CleanupSignals[i], &action, nullptr);
        }
    }
}

void ForgetOnInterruption()
{
    if (havePendingTemporary == 0) {
        return;
    }
    havePendingTemporary = 0;
    for (std::size_t i = 0; i < std::size(CleanupSignals); ++i) {
        ::sigaction(CleanupSignals[i], &previousActions[i], nullptr);
    }
}

} // namespace System

void PrepareProcess()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

void WriteErrorLine(const std::string& line)
{
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return;
        }
        done += static_cast<std::size_t>(put);
    }
}

} // namespace Platform
