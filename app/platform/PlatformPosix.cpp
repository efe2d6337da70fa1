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
#include <string_view>
#include <sys/random.h>
#include <unistd.h>
#include <vector>

#if defined(__linux__)
#include <sys/xattr.h>
#else
// Extended attributes in this form are Linux's. Elsewhere, such as the
// browser's in-memory files, a file has none and none can be set.
namespace {
ssize_t flistxattr(int, char*, std::size_t)
{
    errno = ENOTSUP;
    return -1;
}
ssize_t fgetxattr(int, const char*, void*, std::size_t)
{
    errno = ENOTSUP;
    return -1;
}
int fsetxattr(int, const char*, const void*, std::size_t, int)
{
    errno = ENOTSUP;
    return -1;
}
int fremovexattr(int, const char*)
{
    errno = ENOTSUP;
    return -1;
}
} // namespace
#endif

namespace Platform {

PosixCalls RealSystemCalls()
{
    return {[](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
            ::read,
            ::write,
            ::close,
            ::fstat,
            ::stat,
            ::lstat,
            ::fchmod,
            ::fchown,
            flistxattr,
            fgetxattr,
            fsetxattr,
            fremovexattr,
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

bool IsBusy(Error /*error*/)
{
    return false; // nothing here holds a file against renaming
}

const char* const PathSeparators = "/";

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

bool SameFile(const struct stat& one, const struct stat& other)
{
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// The file that `path` names, symbolic links followed, even a dangling
// one, each relative to the folder it lies in.
std::string FollowLinks(const std::string& path)
{
    std::string target = path;
    for (int hops = 0;; ++hops) {
        char link[PATH_MAX];
        const ssize_t length = SystemCalls().readlink(target.c_str(), link, sizeof link);
        if (length < 0) {
            if (errno == EINVAL || errno == ENOENT) {
                return target; // not a link, or nothing there
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
            target.resize(slash + 1);
            target += destination;
        }
    }
}

void RemoveCreatedOnInterruption(const std::string& path, const struct stat& created);

// A dangling link's target is created through the link, as the shell's ">"
// would, so that the kernel judges the link; `target` is where the link
// leads, registered for removal should a signal end the run.
int CreateThroughLink(const std::string& path, const std::string& target)
{
    HoldInterruptions();
    const int fd = SystemCalls().open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    const int error = errno;
    struct stat created {};
    if (fd >= 0 && SystemCalls().fstat(fd, &created) == 0) {
        RemoveCreatedOnInterruption(target, created);
    }
    ReleaseInterruptions();
    errno = error;
    return fd;
}

} // namespace

// Only what the kernel lets writing through `path` reach is replaced: the
// file is opened by the name as given, for writing, neither truncated nor
// blocking, so that the kernel judges every link on the way (a planted one
// in a sticky folder, say), the permissions and a read-only file system.
// The links are followed to find where the new file goes, and that must be
// the very file the kernel opened. Pipes, sockets and devices are told by
// their type and never opened.
void FindTarget(const std::string& path, Target& target)
{
    target.path = path;
    struct stat named {};
    int fd = -1;
    if (SystemCalls().stat(path.c_str(), &named) == 0) {
        target.exists = true;
        target.kind = KindOf(named.st_mode);
        if (target.kind != Kind::Regular) {
            return;
        }
        fd = SystemCalls().open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
        if (fd < 0) {
            FailIo(path, errno);
        }
        target.old = OpenFile(fd);
        target.path = FollowLinks(path);
    } else {
        struct stat link {};
        if (errno != ENOENT) {
            FailIo(path, errno);
        }
        if (SystemCalls().lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            return; // nothing there yet
        }
        target.exists = true;
        target.path = FollowLinks(path);
        fd = CreateThroughLink(path, target.path);
        if (fd < 0) {
            FailIo(path, errno);
        }
        target.old = OpenFile(fd);
        target.created = true;
    }
    struct stat opened {};
    if (SystemCalls().fstat(fd, &opened) != 0) {
        FailIo(path, errno);
    }
    target.kind = KindOf(opened.st_mode);
    struct stat followed {};
    if (target.kind == Kind::Regular &&
        (SystemCalls().stat(target.path.c_str(), &followed) != 0 || !SameFile(followed, opened))) {
        Refuse(path, "changed while being replaced; nothing was written");
    }
}

void RemoveCreatedTarget(const Target& target)
{
    struct stat created {};
    struct stat now {};
    if (SystemCalls().fstat(Descriptor(target.old.Get()), &created) == 0 &&
        SystemCalls().stat(target.path.c_str(), &now) == 0 && SameFile(created, now) && now.st_size == 0) {
        SystemCalls().unlink(target.path.c_str());
    }
}

namespace {

// An attribute's value, or the error that kept it.
Error ReadAttribute(int fd, const char* name, std::vector<char>& value)
{
    for (;;) {
        const ssize_t size = SystemCalls().fgetxattr(fd, name, nullptr, 0);
        if (size < 0) {
            return errno;
        }
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = SystemCalls().fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return 0;
        }
        if (errno != ERANGE) { // ERANGE: it grew in between
            return errno;
        }
    }
}

// The names of a file's extended attributes, each ended by a NUL.
std::vector<char> AttributeNames(const std::string& path, int fd)
{
    std::vector<char> names;
    for (;;) {
        const ssize_t size = SystemCalls().flistxattr(fd, nullptr, 0);
        if (size < 0) {
            if (errno == ENOTSUP || errno == ENOSYS) {
                return {}; // a file system without them
            }
            FailIo(path, errno);
        }
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = SystemCalls().flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            return names;
        }
        if (errno != ERANGE) {
            FailIo(path, errno);
        }
    }
}

// The access ACL, kept as an extended attribute: copying it copies the
// ACL without libacl.
constexpr std::string_view AccessAcl = "system.posix_acl_access";

[[noreturn]] void RefuseAcl(const std::string& path, int error)
{
    Refuse(path, std::string("cannot keep the file's access control list (") + std::strerror(error) + ")");
}

// Every extended attribute of the old file that this process may read and
// set: its ACL, security labels, users' own notes. Any other is left
// behind. An ACL that cannot be copied, or one the folder gives the new
// file that the old one did not have, is a refusal: either would change
// who may use the file.
void KeepAttributes(const std::string& path, int from, int to)
{
    const std::vector<char> names = AttributeNames(path, from);
    bool hadAcl = false;
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        const bool acl = name == AccessAcl;
        hadAcl = hadAcl || acl;
        std::vector<char> value;
        Error error = ReadAttribute(from, name, value);
        if (error == 0 && SystemCalls().fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            error = errno;
        }
        if (error != 0 && acl) {
            RefuseAcl(path, static_cast<int>(error));
        }
    }
    if (!hadAcl && SystemCalls().fremovexattr(to, AccessAcl.data()) != 0 && errno != ENODATA && errno != ENOTSUP &&
        errno != ENOSYS) {
        RefuseAcl(path, errno);
    }
}

// The owner and group as they were, where the system lets us: only a
// privileged user may give a file away, and only to a group they are in.
// Failing the owner, the group at least, so that a shared folder's group
// keeps its access. A file that would pass its group permissions to
// another group is refused.
void KeepOwner(const std::string& path, const struct stat& old, int to)
{
    if (SystemCalls().fchown(to, old.st_uid, old.st_gid) == 0 ||
        SystemCalls().fchown(to, static_cast<uid_t>(-1), old.st_gid) == 0) {
        return;
    }
    const int error = errno;
    struct stat made {};
    if (SystemCalls().fstat(to, &made) != 0) {
        FailIo(path, errno);
    }
    if (made.st_gid != old.st_gid && (old.st_mode & S_IRWXG) != 0) {
        Refuse(path, "cannot keep the file's group " + std::to_string(old.st_gid) + " (" + std::strerror(error) + ")");
    }
}

} // namespace

void KeepOwnerSettings(const std::string& path, const Target& target, File file)
{
    const int from = Descriptor(target.old.Get());
    const int to = Descriptor(file);
    struct stat old {};
    if (SystemCalls().fstat(from, &old) != 0) {
        FailIo(path, errno);
    }
    KeepOwner(path, old, to);
    KeepAttributes(path, from, to);
    // Last: changing the owner clears the set-user-ID and set-group-ID bits.
    if (SystemCalls().fchmod(to, old.st_mode & 07777) != 0) {
        FailIo(path, errno);
    }
}

// --- Removing what a run made when a signal ends the process ------------
//
// The handler may run between any two instructions, so everything it reads
// is set up with the signals blocked. It removes the temporary file, and a
// dangling link's target that the run created, if that is still empty.

namespace {

struct Pending {
    char path[PATH_MAX];
    bool onlyIfEmptyAndSame;
    dev_t device;
    ino_t inode;
};

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
Pending pending[2];
volatile std::sig_atomic_t pendingCount = 0;
struct sigaction previousActions[std::size(CleanupSignals)];
sigset_t maskBeforeHold;

extern "C" void RemoveTemporaryAndDie(int signalNumber)
{
    for (std::sig_atomic_t i = 0; i < pendingCount; ++i) {
        const Pending& entry = pending[i];
        struct stat now {};
        if (!entry.onlyIfEmptyAndSame || (::stat(entry.path, &now) == 0 && now.st_dev == entry.device &&
                                          now.st_ino == entry.inode && now.st_size == 0)) {
            ::unlink(entry.path);
        }
    }
    // Blocked while this handler runs, the signal is delivered again on
    // return, now with its default action: the process ends as it would have.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

// Call with the signals held.
void AddPending(const std::string& path, bool onlyIfEmptyAndSame, const struct stat& identity)
{
    if (path.size() >= sizeof pending[0].path || pendingCount == std::ssize(pending)) {
        return; // cannot happen: the system refuses paths this long, and a run makes two files at most
    }
    Pending& entry = pending[pendingCount];
    std::memcpy(entry.path, path.c_str(), path.size() + 1);
    entry.onlyIfEmptyAndSame = onlyIfEmptyAndSame;
    entry.device = identity.st_dev;
    entry.inode = identity.st_ino;
    pendingCount = pendingCount + 1;
    if (pendingCount > 1) {
        return;
    }
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

void RemoveCreatedOnInterruption(const std::string& path, const struct stat& created)
{
    AddPending(path, true, created);
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
    AddPending(temporary, false, {});
}

void ForgetOnInterruption()
{
    if (pendingCount == 0) {
        return;
    }
    pendingCount = 0;
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
