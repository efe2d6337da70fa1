// SPDX-License-Identifier: MIT
#include "ImageError.h"
#include "Platform.h"
#include "PosixCalls.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <sys/random.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace Platform {

using Graphics::ImageError;
using Graphics::ImageErrorKind;

PosixCalls& SystemCalls()
{
    static PosixCalls calls{::read, ::write, ::close, ::fstat, ::fchmod};
    return calls;
}

namespace {

// One call moves at most this much: ssize_t is 32 bits on 32-bit systems,
// and Linux itself stops a little short of 2 GiB.
constexpr std::size_t MaxTransferBytes = std::size_t{1} << 30;

// How many symbolic links are followed before giving up, as the kernel does.
constexpr int MaxLinkHops = 40;

// Random names that are taken already are tried again this often before giving up.
constexpr int MaxNameAttempts = 100;

[[noreturn]] void FailIo(const std::string& path, int error)
{
    throw ImageError(ImageErrorKind::Io, path + ": " + std::strerror(error));
}

// 16 hex digits from the system's random source.
std::string RandomSuffix(const std::string& path)
{
    unsigned char bytes[8];
    if (::getentropy(bytes, sizeof bytes) != 0) {
        FailIo(path, errno);
    }
    static constexpr char Digits[] = "0123456789abcdef";
    std::string suffix;
    for (const unsigned char byte : bytes) {
        suffix += Digits[byte >> 4];
        suffix += Digits[byte & 0xF];
    }
    return suffix;
}

// Closes on scope exit, for descriptors whose close cannot lose data.
class ReadDescriptor {
public:
    explicit ReadDescriptor(int fd) : fd_(fd) {}
    ReadDescriptor(const ReadDescriptor&) = delete;
    ReadDescriptor& operator=(const ReadDescriptor&) = delete;
    ~ReadDescriptor()
    {
        if (fd_ >= 0) {
            SystemCalls().close(fd_);
        }
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

// --- Removing the temporary file when a signal ends the process ----------
//
// The handler may run between any two instructions, so everything it reads
// is set up before the temporary file exists, with the signals blocked.

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
char pendingTemporary[PATH_MAX];
volatile std::sig_atomic_t havePendingTemporary = 0;
struct sigaction previousActions[std::size(CleanupSignals)];

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

class CleanupSignalsBlocked {
public:
    CleanupSignalsBlocked()
    {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (const int signalNumber : CleanupSignals) {
            sigaddset(&blocked, signalNumber);
        }
        ::sigprocmask(SIG_BLOCK, &blocked, &previous_);
    }
    ~CleanupSignalsBlocked() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
    CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

private:
    sigset_t previous_{};
};

// Call with the signals blocked.
void RemoveOnSignal(const std::string& temporary)
{
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

// Call with the signals blocked.
void ForgetOnSignal()
{
    havePendingTemporary = 0;
    for (std::size_t i = 0; i < std::size(CleanupSignals); ++i) {
        ::sigaction(CleanupSignals[i], &previousActions[i], nullptr);
    }
}

// The file that writing to `path` would change: symbolic links followed,
// even a dangling one, whose target writing would create.
std::string FollowLinks(const std::string& path)
{
    std::string target = path;
    for (int hops = 0;; ++hops) {
        char link[PATH_MAX];
        const ssize_t length = ::readlink(target.c_str(), link, sizeof link);
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

std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const ReadDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) {
        FailIo(path, errno);
    }
    struct stat status {};
    if (SystemCalls().fstat(file.Get(), &status) != 0) {
        FailIo(path, errno);
    }
    if (S_ISDIR(status.st_mode)) {
        throw ImageError(ImageErrorKind::Io, path + ": is a directory, not a file");
    }
    if (!S_ISREG(status.st_mode)) {
        throw ImageError(ImageErrorKind::Io, path + ": is not a regular file");
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    RefuseIfTooLong(path, size);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t want = std::min(bytes.size() - done, MaxTransferBytes);
        const ssize_t got = SystemCalls().read(file.Get(), bytes.data() + done, want);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            FailIo(path, errno);
        }
        if (got == 0) {
            break; // the file shrank since fstat
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

struct ReplacingFile::State {
    std::string path;   // as the caller named it, for messages
    std::string target; // what is replaced: `path` with links followed
    std::string temporary;
    int fd = -1;
    bool committed = false;
};

namespace {

// Refuses what opening `target` for writing would refuse (no write
// permission, a directory, a read-only file system), and anything that is
// not a plain file, before anything is created. Returns the target's status,
// or nothing when there is no target yet.
std::optional<struct stat> ProbeTarget(const std::string& path, const std::string& target)
{
    const int probe = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probe < 0) {
        if (errno != ENOENT) {
            FailIo(path, errno);
        }
        return std::nullopt;
    }
    struct stat status {};
    const int statResult = ::fstat(probe, &status);
    const int statError = errno;
    ::close(probe);
    if (statResult != 0) {
        FailIo(path, statError);
    }
    if (!S_ISREG(status.st_mode)) {
        throw ImageError(ImageErrorKind::Io, path + ": is not a regular file");
    }
    return status;
}

// Beside the target, so that the rename stays within one file system. A
// random name, created exclusively and tried again while taken, so that
// nobody can guess it or block it. Mode 0666 lets the umask decide a new
// file's permissions, as for any file a program creates. Returns the
// descriptor and the name, already registered for removal on a signal.
std::pair<int, std::string> CreateTemporary(const std::string& path, const std::string& target)
{
    for (int attempt = 1;; ++attempt) {
        std::string temporary = target + ".tmp-" + RandomSuffix(path);
        if (temporary.size() >= sizeof pendingTemporary) {
            FailIo(path, ENAMETOOLONG);
        }
        const CleanupSignalsBlocked blocked;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0) {
            RemoveOnSignal(temporary);
            return {fd, std::move(temporary)};
        }
        if (errno != EEXIST || attempt == MaxNameAttempts) {
            FailIo(path, errno);
        }
    }
}

} // namespace

ReplacingFile::ReplacingFile(const std::string& path) : state_(std::make_unique<State>())
{
    state_->path = path;
    state_->target = FollowLinks(path);
    const std::optional<struct stat> old = ProbeTarget(path, state_->target);
    std::tie(state_->fd, state_->temporary) = CreateTemporary(path, state_->target);
    if (old) {
        // Keep the owner and group where the system lets us. Only a
        // privileged user may give a file away, and a refusal loses nothing
        // else, so it is no reason to fail.
        if (::fchown(state_->fd, old->st_uid, old->st_gid) != 0) {
            errno = 0;
        }
        if (SystemCalls().fchmod(state_->fd, old->st_mode & 07777) != 0) {
            const int error = errno;
            Discard(); // no destructor runs for a constructor that throws
            FailIo(path, error);
        }
    }
}

ReplacingFile::~ReplacingFile()
{
    if (!state_->committed) {
        Discard();
    }
}

void ReplacingFile::Discard()
{
    const CleanupSignalsBlocked blocked;
    if (state_->fd >= 0) {
        SystemCalls().close(std::exchange(state_->fd, -1));
    }
    ::unlink(state_->temporary.c_str());
    ForgetOnSignal();
}

void ReplacingFile::Write(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t put = SystemCalls().write(state_->fd, bytes.data(), std::min(bytes.size(), MaxTransferBytes));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            FailIo(state_->path, errno);
        }
        if (put == 0) {
            FailIo(state_->path, ENOSPC); // a regular file that takes nothing is full
        }
        bytes = bytes.subspan(static_cast<std::size_t>(put));
    }
}

void ReplacingFile::Commit()
{
    const CleanupSignalsBlocked blocked;
    // Closing is where some file systems (NFS, quotas) report a failed write.
    const int fd = std::exchange(state_->fd, -1);
    if (SystemCalls().close(fd) != 0) {
        FailIo(state_->path, errno);
    }
    if (::rename(state_->temporary.c_str(), state_->target.c_str()) != 0) {
        FailIo(state_->path, errno);
    }
    state_->committed = true;
    ForgetOnSignal();
}

const std::string& ReplacingFile::TemporaryPath() const
{
    return state_->temporary;
}

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
