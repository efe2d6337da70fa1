// SPDX-License-Identifier: MIT
// The POSIX primitives of the file layer, and the process around it. Every
// call that touches a file goes through SystemCalls(), so that tests can
// make any of them fail. Once the file to replace is found, everything is
// done relative to its folder's descriptor: a path is looked up afresh each
// time it is used, and a folder renamed or a link swapped in between would
// send the new file, or the clean-up, somewhere else.
#include "Platform.h"
#include "PosixCalls.h"
#include "System.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <string_view>
#include <sys/random.h>
#include <unistd.h>
#include <vector>

#if defined(__linux__)
#include <clocale>
#include <libintl.h>
#include <sys/xattr.h>
namespace {
// A descriptor that only pins a file (O_PATH) opens for reading or writing
// through /proc as that very file.
constexpr bool CanReopen = true;

constexpr const char* Domain = "keyboard-picture";

// gettext reads the user's locale as it always does (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG), and the catalogue is found beside the installed
// program: PREFIX/bin finds PREFIX/share/locale, wherever the prefix is.
void ChooseLanguage()
{
    std::setlocale(LC_ALL, "");
    std::string program(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", program.data(), program.size());
    program.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    // Without /proc, where it was meant to be installed.
    std::string folder = KEYBOARD_PICTURE_LOCALEDIR;
    if (const std::size_t slash = program.rfind('/'); slash != std::string::npos) { // GCOVR_EXCL_BR_LINE: no /proc
        folder = program.substr(0, slash) + "/../share/locale";
    }
    ::bindtextdomain(Domain, folder.c_str());
}

const char* InLanguage(const char* message)
{
    return ::dgettext(Domain, message);
}
} // namespace
#else
// Elsewhere, such as the browser's in-memory files, nothing reopens a
// pinned file, and a file has no extended attributes, nor takes any. The
// words come from the catalogue compiled in, chosen from the environment
// as gettext would choose.
namespace {
constexpr bool CanReopen = false;
template <typename Result, typename... Args> Result Unsupported(Args...)
{
    errno = ENOTSUP;
    return -1;
}
ssize_t (*const flistxattr)(int, char*, std::size_t) = Unsupported;
ssize_t (*const fgetxattr)(int, const char*, void*, std::size_t) = Unsupported;
int (*const fsetxattr)(int, const char*, const void*, std::size_t, int) = Unsupported;
int (*const fremovexattr)(int, const char*) = Unsupported;

bool japanese = false;

void ChooseLanguage()
{
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = locale != nullptr && *locale != '\0' ? locale : std::getenv(name);
    }
    if (locale == nullptr || *locale == '\0' || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0) {
        return;
    }
    const char* languages = std::getenv("LANGUAGE");
    // The first language that has a catalogue wins; only Japanese has one.
    std::string list = ":" + std::string(languages != nullptr && *languages != '\0' ? languages : locale);
    japanese = list.find(":ja") != std::string::npos;
}

const char* InLanguage(const char* message)
{
    return japanese ? Words::Japanese(message) : message;
}
} // namespace
#endif

namespace {
// Only a run with something to say needs its language. Loading the locale
// reads a dozen files, a tenth of a run that succeeds and says nothing.
void ChooseLanguageOnce()
{
    static bool chosen = false;
    if (!chosen) {
        chosen = true;
        ChooseLanguage();
    }
}
} // namespace

namespace Platform {

PosixCalls RealSystemCalls()
{
    return {[](int folder, const char* path, int flags, mode_t mode) { return ::openat(folder, path, flags, mode); },
            ::read,
            ::write,
            ::close,
            ::fstat,
            ::fstatat,
            ::fchmod,
            ::fchown,
            flistxattr,
            fgetxattr,
            fsetxattr,
            fremovexattr,
            ::readlinkat,
            ::renameat,
            ::unlinkat,
            ::getentropy};
}

namespace {
PosixCalls calls = RealSystemCalls();
} // namespace

PosixCalls& SystemCalls()
{
    return calls;
}

namespace System {

namespace {

int Descriptor(File file)
{
    return static_cast<int>(file);
}

int Descriptor(const OpenFile& file)
{
    return Descriptor(file.Get());
}

FileType TypeOf(mode_t mode)
{
    return S_ISREG(mode) ? FileType::Regular : S_ISDIR(mode) ? FileType::Directory : FileType::Other;
}

bool SameFile(const struct stat& one, const struct stat& other)
{
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// A call's result, unless it failed: then the failure, naming `path`.
template <typename Result> Result Must(const std::string& path, Result result)
{
    if (result < 0) {
        Fail(path, errno);
    }
    return result;
}

// How many symbolic links are followed before giving up, as the kernel does.
constexpr int MaxLinkHops = 40;

constexpr const char* Changed = N_("changed while being opened; nothing was written");

// Opens what `name` leads to from `folder` for `access`, if it is a regular
// file, every link on the way followed and judged by the kernel; anything
// else is only told by its type (`fd` stays -1). A pipe or a device is
// never opened: that can block, or act (a serial line raises DTR, a tape
// rewinds). So the file is first pinned by a descriptor that can neither
// read nor write, and then reopened through /proc, which opens that very
// file whatever its name leads to by then, and waits out another program's
// lease on it as the shell's ">" would.
Error OpenRegular(const std::string& path, int folder, const std::string& name, int access, int& fd,
                  struct stat& status)
{
    fd = -1;
    const OpenFile pin(SystemCalls().openat(folder, name.c_str(), O_PATH | O_CLOEXEC, 0));
    if (pin.Get() == NoFile || SystemCalls().fstat(Descriptor(pin), &status) != 0) {
        return errno;
    }
    if (!S_ISREG(status.st_mode)) {
        return 0;
    }
    const int flags = access | O_CLOEXEC | O_NOCTTY;
    if (CanReopen) {
        fd = SystemCalls().openat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(pin.Get())).c_str(), flags, 0);
        if (fd >= 0 || errno != ENOENT) {
            return fd < 0 ? errno : 0;
        }
    }
    // No /proc (a bare chroot, the browser): by the name again, without
    // waiting on whatever it may lead to now, and only the pinned file.
    OpenFile reopened(SystemCalls().openat(folder, name.c_str(), flags | O_NONBLOCK, 0));
    struct stat now {};
    if (reopened.Get() == NoFile || SystemCalls().fstat(Descriptor(reopened), &now) != 0) {
        return errno;
    }
    if (!SameFile(now, status)) {
        Refuse(path, Changed);
    }
    fd = Descriptor(reopened.Release());
    return 0;
}

// Where `name` in `folder` leads once every symbolic link is followed: the
// name in the folder the last link points into, which `crossed` holds open
// if that is another folder. Each link is read relative to the folder it
// lies in, so a chain longer than PATH_MAX is followed as the kernel
// follows it. The kernel has judged these links already; the caller checks
// that the walk ends where it did. Returns whether something other than a
// link is found there.
bool FollowLinks(const std::string& path, int folder, std::string& name, OpenFile& crossed, bool& followed,
                 struct stat& found)
{
    followed = false;
    for (int hops = 0;; ++hops) {
        if (SystemCalls().fstatat(folder, name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                Fail(path, errno);
            }
            return false;
        }
        if (!S_ISLNK(found.st_mode)) {
            return true;
        }
        if (hops == MaxLinkHops) {
            Fail(path, ELOOP);
        }
        std::string link(PATH_MAX, '\0'); // no link holds more; a longer one would only fail the check
        link.resize(static_cast<std::size_t>(
            Must(path, SystemCalls().readlinkat(folder, name.c_str(), link.data(), link.size()))));
        const std::size_t slash = link.rfind('/');
        if (slash != std::string::npos) {
            const int next = Must(path, SystemCalls().openat(folder, link.substr(0, slash + 1).c_str(),
                                                             O_PATH | O_DIRECTORY | O_CLOEXEC, 0));
            crossed = OpenFile(next);
            folder = next;
            link.erase(0, slash + 1);
        }
        name = link;
        followed = true;
    }
}

void AddPending(int folder, const std::string& name, bool onlyIfEmptyAndSame, const struct stat& identity);

// A link that leads nowhere yet is written through, creating its target as
// the shell's ">" would. The file is created where the walk found the
// link leads, exclusively, so that nothing found there (a pipe, say) is
// ever opened, and registered for removal in the same breath; then the
// name is opened as the shell would open it, so that the kernel judges the
// links, and it must lead to the file just made.
void CreateThroughLink(const std::string& path, int namedFolder, const std::string& named, Target& target)
{
    HoldInterruptions();
    const int fd = SystemCalls().openat(Descriptor(target.folder), target.name.c_str(),
                                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    Error error = fd < 0 ? errno : 0;
    struct stat created {};
    if (fd >= 0) {
        target.model = OpenFile(fd);
        target.created = true;
        if (SystemCalls().fstat(fd, &created) == 0) {
            AddPending(Descriptor(target.folder), target.name, true, created);
        } else {
            error = errno;
        }
    }
    ReleaseInterruptions();
    if (error != 0) {
        Fail(path, error);
    }
    const OpenFile judged(Must(path, SystemCalls().openat(namedFolder, named.c_str(), O_PATH | O_CLOEXEC, 0)));
    struct stat reached {};
    Must(path, SystemCalls().fstat(Descriptor(judged), &reached));
    if (!SameFile(reached, created)) {
        Refuse(path, Changed);
    }
}

} // namespace

std::string Describe(Error error)
{
    ChooseLanguageOnce(); // strerror answers in the locale of the moment
    return std::strerror(static_cast<int>(error));
}

bool IsTaken(Error error)
{
    return error == EEXIST;
}

Error OpenToRead(const std::string& path, File& file, FileType& type, std::uint64_t& size)
{
    int fd = -1;
    struct stat status {};
    if (const Error error = OpenRegular(path, AT_FDCWD, path, O_RDONLY, fd, status)) {
        return error;
    }
    file = fd;
    type = TypeOf(status.st_mode);
    size = static_cast<std::uint64_t>(status.st_size);
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

Error RandomBytes(std::span<std::uint8_t> bytes)
{
    return SystemCalls().getentropy(bytes.data(), bytes.size()) == 0 ? 0 : errno;
}

// Only what the kernel lets writing through `path` reach is replaced: the
// name is opened as given, for writing (not truncating), so that the kernel
// judges every link on the way (a planted one in a sticky folder, say), the
// permissions and a read-only file system. Following the links again from
// folder to folder finds where the new file goes, and that must be the
// very file the kernel opened.
void FindTarget(const std::string& path, Target& target)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string named = path.substr(slash + 1);
    const int folderFd =
        Must(path, SystemCalls().openat(AT_FDCWD, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0));
    OpenFile namedFolder(folderFd);
    int fd = -1;
    struct stat old {};
    const Error error = OpenRegular(path, folderFd, named, O_WRONLY, fd, old);
    if (error != 0 && error != ENOENT) {
        Fail(path, error);
    }
    if (error == 0 && fd < 0) {
        Refuse(path, TypeOf(old.st_mode));
    }
    target.model = OpenFile(fd);
    target.name = named;
    OpenFile crossed;
    bool followed = false;
    struct stat found {};
    const bool exists = FollowLinks(path, folderFd, target.name, crossed, followed, found);
    target.folder = crossed.Get() != NoFile ? std::move(crossed) : std::move(namedFolder);
    if (error == 0 ? !exists || !SameFile(found, old) : exists) {
        Refuse(path, Changed);
    }
    if (error == 0) {
        return;
    }
    if (followed) {
        CreateThroughLink(path, folderFd, named, target);
    } else {
        // What the system gives a new file in this folder, the shell's ">"
        // making it: the umask or the folder's default ACL, a set-group-ID
        // folder's group, a security label. An unnamed file made there
        // shows it exactly and leaves nothing behind; a file system that
        // makes none (FAT, the browser) leaves the model empty.
        target.model =
            OpenFile(SystemCalls().openat(Descriptor(target.folder), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    }
}

Error CreateNew(const Target& target, const std::string& name, File& file)
{
    // Private from the first byte: what the old file allowed is given only
    // once the new one is written in full.
    file = SystemCalls().openat(Descriptor(target.folder), name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    return file < 0 ? errno : 0;
}

Error Replace(const Target& target, const std::string& name)
{
    return SystemCalls().renameat(Descriptor(target.folder), name.c_str(), Descriptor(target.folder),
                                  target.name.c_str()) == 0
               ? 0
               : errno;
}

void Remove(const Target& target, const std::string& name)
{
    SystemCalls().unlinkat(Descriptor(target.folder), name.c_str(), 0);
}

void RemoveCreatedTarget(const Target& target)
{
    struct stat created {};
    struct stat now {};
    if (SystemCalls().fstat(Descriptor(target.model), &created) == 0 &&
        SystemCalls().fstatat(Descriptor(target.folder), target.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(created, now) && now.st_size == 0) {
        SystemCalls().unlinkat(Descriptor(target.folder), target.name.c_str(), 0);
    }
}

namespace {

// The access ACL, kept as an extended attribute: copying it copies the
// ACL without libacl.
constexpr std::string_view AccessAcl = "system.posix_acl_access";
// File capabilities: set last, as writing and changing the owner clear them.
constexpr std::string_view Capability = "security.capability";

// Errors that say a file system keeps no such setting.
bool NotKept(int error)
{
    return error == ENOTSUP || error == ENOSYS || error == EPERM;
}

// What the system fills in for a name list or a value: its size asked
// first, then it, again if it grew in between (ERANGE).
template <typename Ask> Error Fetch(std::vector<char>& into, const Ask& ask)
{
    for (;;) {
        const ssize_t size = ask(nullptr, 0);
        into.resize(static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
        const ssize_t got = size < 0 ? size : ask(into.data(), into.size());
        if (got >= 0) {
            into.resize(static_cast<std::size_t>(got));
            return 0;
        }
        if (errno != ERANGE) {
            into.clear();
            return errno;
        }
    }
}

[[noreturn]] void RefuseAcl(const std::string& path, int error)
{
    Refuse(path, N_("cannot keep the file's access control list (%1$s)"), {std::strerror(error)});
}

// Every extended attribute of the model that this process may read and
// set: its ACL, security labels, users' own notes; any other is left
// behind. An ACL the folder gave the new file that the model does not have
// is removed. Where an ACL can be neither copied nor removed, the run is
// refused: either would change who may use the file. Returns the file
// capability, to be set last.
std::vector<char> KeepAttributes(const std::string& path, int from, int to)
{
    std::vector<char> names;
    const Error listed =
        Fetch(names, [from](char* list, std::size_t size) { return SystemCalls().flistxattr(from, list, size); });
    if (listed != 0 && listed != ENOTSUP && listed != ENOSYS) { // those: a file system without them
        Fail(path, listed);
    }
    bool hadAcl = false;
    std::vector<char> capability;
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        std::vector<char> value;
        Error error = Fetch(value, [from, name](char* buffer, std::size_t size) {
            return SystemCalls().fgetxattr(from, name, buffer, size);
        });
        if (name == Capability) {
            capability = std::move(value);
            continue;
        }
        const bool acl = name == AccessAcl;
        hadAcl = hadAcl || acl;
        if (error == 0 && SystemCalls().fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            error = errno;
        }
        if (error != 0 && acl) {
            RefuseAcl(path, static_cast<int>(error));
        }
    }
    if (!hadAcl && SystemCalls().fremovexattr(to, AccessAcl.data()) != 0 && errno != ENODATA && !NotKept(errno)) {
        RefuseAcl(path, errno);
    }
    return capability;
}

// The owner and group as they were, where the system lets us: only a
// privileged user may give a file away, and only to a group they are in.
// Failing the owner, the group at least, so that a shared folder's group
// keeps its access; a file that would pass its group permissions to
// another group is refused. File systems without owners (FAT) give both
// files the same ones, and nothing is asked of them.
void KeepOwner(const std::string& path, const struct stat& old, const struct stat& made, int to)
{
    if ((made.st_uid == old.st_uid && made.st_gid == old.st_gid) ||
        SystemCalls().fchown(to, old.st_uid, old.st_gid) == 0 || made.st_gid == old.st_gid ||
        SystemCalls().fchown(to, static_cast<uid_t>(-1), old.st_gid) == 0 || (old.st_mode & S_IRWXG) == 0) {
        return;
    }
    Refuse(path, N_("cannot keep the file's group %1$s (%2$s)"), {std::to_string(old.st_gid), std::strerror(errno)});
}

// The mode, set-user-ID and set-group-ID bits included where this process
// may set them (the kernel drops what it may not). A file system that
// keeps no modes (FAT) is no failure as long as the file allows no more
// than `mode` does, or where there is nothing to compare with, a new file.
void KeepMode(const std::string& path, int to, mode_t mode, bool widening)
{
    if (SystemCalls().fchmod(to, mode) == 0) {
        return;
    }
    const int error = errno;
    struct stat now {};
    if (!NotKept(error) || (widening && (SystemCalls().fstat(to, &now) != 0 || (now.st_mode & 0777 & ~mode) != 0))) {
        Fail(path, error);
    }
}

} // namespace

void KeepOwnerSettings(const std::string& path, const Target& target, File file)
{
    const int to = Descriptor(file);
    if (target.model.Get() == NoFile) {
        // The mode the umask leaves; a file system that keeps no modes gives
        // every new file its own, as it would to the shell's ">".
        const mode_t mask = ::umask(0);
        ::umask(mask);
        KeepMode(path, to, 0666 & ~mask, false);
        return;
    }
    const int from = Descriptor(target.model);
    struct stat old {};
    struct stat made {};
    Must(path, SystemCalls().fstat(from, &old));
    Must(path, SystemCalls().fstat(to, &made));
    // In this order: changing the owner clears the set-ID bits and the
    // capability, and an ACL sets the group and other bits.
    KeepOwner(path, old, made, to);
    const std::vector<char> capability = KeepAttributes(path, from, to);
    KeepMode(path, to, old.st_mode & 07777, true);
    if (!capability.empty()) {
        // Only a privileged process may set one; losing it only narrows.
        SystemCalls().fsetxattr(to, Capability.data(), capability.data(), capability.size(), 0);
    }
}

// --- Removing what a run made when a signal ends the process ------------
//
// The handler may run between any two instructions, so everything it reads
// is set up with the signals blocked. It removes the temporary file, and a
// dangling link's target that the run created, if that is still empty,
// each by its name in its folder's descriptor.

namespace {

struct Pending {
    int folder;
    char name[NAME_MAX + 1];
    bool onlyIfEmptyAndSame;
    dev_t device;
    ino_t inode;
};

// Every signal whose default action ends the process and that a handler
// may catch: those a user or a limit sends (the terminal's quit key sends
// SIGQUIT, a CPU limit SIGXCPU, `timeout -s` any of them), and those a
// fault raises. Only SIGKILL cannot be caught, and leaves the temporary.
constexpr int CleanupSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
    SIGXFSZ,   SIGPIPE, SIGABRT, SIGBUS,  SIGFPE,  SIGILL,  SIGSEGV, SIGSYS,    SIGTRAP,
#if defined(SIGPOLL)
    SIGPOLL,
#endif
#if defined(SIGPWR)
    SIGPWR,
#endif
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
};
Pending pending[2];
volatile std::sig_atomic_t pendingCount = 0;
sigset_t maskBeforeHold;

// Not counted by coverage: the process it runs in dies of the signal
// before its counts are written. The tests that send signals check it.
// GCOVR_EXCL_START
extern "C" void RemovePendingAndDie(int signalNumber)
{
    for (std::sig_atomic_t i = 0; i < pendingCount; ++i) {
        const Pending& entry = pending[i];
        struct stat now {};
        if (!entry.onlyIfEmptyAndSame ||
            (::fstatat(entry.folder, entry.name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == entry.device &&
             now.st_ino == entry.inode && now.st_size == 0)) {
            ::unlinkat(entry.folder, entry.name, 0);
        }
    }
    // Blocked while this handler runs, the signal is delivered again on
    // return, now with its default action: the process ends as it would have.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}
// GCOVR_EXCL_STOP

// Call with the signals held.
void AddPending(int folder, const std::string& name, bool onlyIfEmptyAndSame, const struct stat& identity)
{
    // Cannot happen: no folder takes such a name, and a run makes two files at most.
    if (name.size() >= sizeof pending[0].name || pendingCount == std::ssize(pending)) { // GCOVR_EXCL_BR_LINE
        return;                                                                         // GCOVR_EXCL_LINE
    }
    // Caught once for the process, the first time there is something to
    // remove. A signal the user chose to ignore (nohup) stays ignored.
    static bool caught = false;
    if (!caught) {
        for (const int signalNumber : CleanupSignals) {
            struct sigaction action {};
            ::sigaction(signalNumber, nullptr, &action);
            if (action.sa_handler != SIG_IGN) {
                action.sa_handler = RemovePendingAndDie;
                action.sa_flags = 0;
                sigfillset(&action.sa_mask); // one clean-up, whatever else arrives meanwhile
                ::sigaction(signalNumber, &action, nullptr);
            }
        }
        caught = true;
    }
    Pending& entry = pending[pendingCount];
    entry.folder = folder;
    std::memcpy(entry.name, name.c_str(), name.size() + 1);
    entry.onlyIfEmptyAndSame = onlyIfEmptyAndSame;
    entry.device = identity.st_dev;
    entry.inode = identity.st_ino;
    pendingCount = pendingCount + 1;
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

void RemoveOnInterruption(const Target& target, const std::string& name)
{
    AddPending(Descriptor(target.folder), name, false, {});
}

void ForgetOnInterruption()
{
    pendingCount = 0;
}

} // namespace System

void PrepareProcess()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

const char* Translate(const char* message)
{
    ChooseLanguageOnce();
    return InLanguage(message);
}

void KeepConsoleOpen(const std::string& /*prompt*/)
{
    // A terminal outlives the program it runs.
}

void WriteErrorLine(const std::string& line)
{
    // Unbuffered, and written whole however short the pipe's writes.
    std::fputs((line + "\n").c_str(), stderr);
}

} // namespace Platform
