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
#include <clocale>
#include <csignal>
#include <cstring>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

    // A FIFO or a socket in place of the picture is neither written through
    // nor replaced, and said to be what it is.
    for (const bool socket : {false, true}) {
        TestFolder special;
        special.Write("key.bmp", ExampleKey());
        const std::string out = (special / "zzOut.bmp").string();
        if (socket) {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            ASSERT_LT(out.size(), sizeof address.sun_path);
            std::memcpy(address.sun_path, out.c_str(), out.size() + 1);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
            ::close(fd);
        } else {
            ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
        }
        ExpectOneLineError(RunTool(special.Path()), "zzOut.bmp: is not a regular file");
        EXPECT_EQ(std::filesystem::is_socket(out), socket);
        EXPECT_EQ(special.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
    }
}

TEST(PosixEndToEnd, LimitsGiveAPictureOrOneLineAndNeverLoseTheEarlierOne)
{
#if defined(KEYBOARD_PICTURE_SANITIZED)
    const bool smallStackPossible = false; // the sanitizers' own start-up needs more
#else
    const bool smallStackPossible = !Emulated();
#endif
    struct Case {
        const char* name;
        int resource;
        rlim_t limit;
        const char* error; // or null for a picture
    };
    for (const Case& c : {Case{"file size", RLIMIT_FSIZE, 100000, "zzOut.bmp: File too large"},
                          Case{"a 64 KiB stack", RLIMIT_STACK, 65536, nullptr}}) {
        SCOPED_TRACE(c.name);
        if (c.resource == RLIMIT_STACK && !smallStackPossible) {
            continue;
        }
        TestFolder folder;
        folder.Write("key.bmp", ExampleKey());
        folder.Write("zzOut.bmp", Old);
        static Case current;
        current = c;
        const RunResult run = RunToolWith(folder.Path(), InChild([] {
                                              const rlimit limit{current.limit, current.limit};
                                              ::setrlimit(current.resource, &limit);
                                          }));
        EXPECT_EQ(run.signal, 0) << "killed by a signal";
        if (c.error != nullptr) {
            ExpectOneLineError(run, c.error);
        } else {
            EXPECT_EQ(run.exitCode, 0) << run.err;
        }
        EXPECT_EQ(folder.Read("zzOut.bmp"), c.error != nullptr ? Old : Golden());
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
    }
}

TEST(PosixEndToEnd, AStandardErrorNobodyReadsStillGivesExitStatusOne)
{
    TestFolder folder; // no key.bmp: the tool has something to say
    const RunResult run = RunToolWith(folder.Path(), ClosedStderr());
    EXPECT_EQ(run.signal, 0) << "killed by SIGPIPE";
    EXPECT_EQ(run.exitCode, 1);
}

TEST(PosixEndToEnd, RunningOutOfMemoryWhileLoadingNamesTheKeyCapAndNoHugeFileIsReadWhole)
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
    // And 260 MB that are no BMP at all (a ZIP, say), refused from their
    // first bytes without ever being read whole.
    const Bytes zip = {'P', 'K', 3, 4};
    for (const auto& [key, size, message] :
         {std::tuple{bmp.Build(), std::uintmax_t{68}, "key.bmp: out of memory"},
          std::tuple{zip, std::uintmax_t{260000000},
                     "key.bmp: not a BMP file: it starts with bytes 0x50 0x4B, not \"BM\""}}) {
        TestFolder folder;
        folder.Write("key.bmp", key);
        std::filesystem::resize_file(folder / "key.bmp", size); // sparse where the file system allows
        const RunResult run = RunToolWith(folder.Path(), InChild([] {
                                              const rlimit limit{60000000, 60000000};
                                              ::setrlimit(RLIMIT_AS, &limit);
                                          }));
        ExpectOneLineError(run, message);
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"key.bmp"}));
    }
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
    // Those a terminal, a session's end, `kill`, `timeout -s` and a CPU limit send.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGXCPU}) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            TestFolder folder;
            folder.Write("key.bmp", ExampleKey());
            folder.Write("zzOut.bmp", Old);
            const long long wait = delay(random);
            ToolHooks hooks = WhileRunning([&](pid_t child) {
                std::this_thread::sleep_for(std::chrono::microseconds(wait));
                ::kill(child, signalNumber);
            });
            hooks.inChild = [] { // a core file would be one more name in the folder
                const rlimit noCore{};
                ::setrlimit(RLIMIT_CORE, &noCore);
            };
            const RunResult run = RunToolWith(folder.Path(), hooks);
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

    // Through a link to a file that exists and to one that does not yet, and
    // through a chain whose second link is relative to its own folder.
    struct Links {
        const char* zzOut;
        const char* latest; // pictures/latest.bmp, if not null
        bool targetExists;
    };
    for (const Links& links :
         {Links{"pictures/keyboard.bmp", nullptr, true}, Links{"pictures/keyboard.bmp", nullptr, false},
          Links{"pictures/latest.bmp", "keyboard.bmp", true}}) {
        TestFolder linked;
        linked.Write("key.bmp", ExampleKey());
        std::filesystem::create_directory(linked / "pictures");
        linked.Write("keyboard.bmp", Old); // where a link resolved from the wrong folder would lead
        if (links.targetExists) {
            linked.Write("pictures/keyboard.bmp", Old);
        }
        std::filesystem::create_symlink(links.zzOut, linked / "zzOut.bmp");
        if (links.latest != nullptr) {
            std::filesystem::create_symlink(links.latest, linked / "pictures/latest.bmp");
        }
        const RunResult run = RunTool(linked.Path());
        SCOPED_TRACE(std::string("zzOut.bmp -> ") + links.zzOut);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(std::filesystem::is_symlink(linked / "zzOut.bmp"));
        EXPECT_EQ(linked.Read("pictures/keyboard.bmp"), Golden());
        EXPECT_EQ(linked.Read("keyboard.bmp"), Old);
        EXPECT_EQ(linked.Names(), (std::vector<std::string>{"key.bmp", "keyboard.bmp", "pictures", "zzOut.bmp"}));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(linked / "pictures"),
                                std::filesystem::directory_iterator()),
                  links.latest != nullptr ? 2 : 1);
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

TEST(PosixEndToEnd, ALinkPlantedInAStickyFolderIsJudgedByTheKernel)
{
    // The kernel refuses to follow, for root too, a link that another user
    // planted in a sticky world-writable folder such as /tmp. Debian turns
    // that protection on; .ci/run does where it can.
    std::ifstream setting("/proc/sys/fs/protected_symlinks");
    int protectedSymlinks = 0;
    setting >> protectedSymlinks;
    if (::geteuid() != 0 || protectedSymlinks != 1) {
        GTEST_SKIP() << "needs root and fs.protected_symlinks = 1";
    }
    TestFolder secrets;
    secrets.Write("root-only.bmp", Old);
    std::filesystem::permissions(secrets / "root-only.bmp", std::filesystem::perms(0600));
    TestFolder shared;
    std::filesystem::permissions(shared.Path(), std::filesystem::perms(01777));
    shared.Write("key.bmp", ExampleKey());
    std::filesystem::create_symlink(secrets / "root-only.bmp", shared / "zzOut.bmp");
    ASSERT_EQ(::lchown((shared / "zzOut.bmp").c_str(), 65534, 65534), 0);
    ExpectOneLineError(RunTool(shared.Path()), "zzOut.bmp: Permission denied");
    EXPECT_EQ(secrets.Read("root-only.bmp"), Old);
    EXPECT_EQ(shared.Names(), (std::vector<std::string>{"key.bmp", "zzOut.bmp"}));
}

TEST(PosixEndToEnd, SpeaksTheUsersLanguageAsGettextReadsItAndDrawsTheSamePicture)
{
    // gettext translates only in a locale the system has: under qemu, a
    // big-endian program cannot read the host's little-endian locale files.
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
        GTEST_SKIP() << "this system cannot load the C.UTF-8 locale";
    }
    std::setlocale(LC_ALL, "C");
    // Installed as a prefix holds it: the catalogue is found from the program.
    TestFolder prefix;
    std::filesystem::permissions(prefix.Path(), std::filesystem::perms(0755));
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directories(prefix / "share/locale/ja/LC_MESSAGES");
    std::filesystem::copy_file(KEYBOARD_PICTURE_EXE, prefix / "bin/keyboard-picture");
    std::filesystem::copy_file(KEYBOARD_PICTURE_CATALOGUE, prefix / "share/locale/ja/LC_MESSAGES/keyboard-picture.mo");
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> environment;
        bool japanese;
        // The system's own reason for a missing file, where the C library's
        // words are certain: gettext takes each domain's first language
        // that has a catalogue, and the C library has French ones too.
        const char* missing;
    };
    const char* const japaneseMissing = "そのようなファイルやディレクトリはありません";
    const Case cases[] = {
        {"Japanese asked for", {{"LC_ALL", "C.UTF-8"}, {"LANGUAGE", "ja"}}, true, japaneseMissing},
        {"Japanese after a language without a catalogue",
         {{"LANG", "C.UTF-8"}, {"LANGUAGE", "fr:ja_JP"}},
         true,
         nullptr},
        {"the C locale, whatever LANGUAGE says",
         {{"LANG", "C"}, {"LANGUAGE", "ja"}},
         false,
         "No such file or directory"},
        {"no catalogue for the language", {{"LC_ALL", "C.UTF-8"}, {"LANGUAGE", "fr"}}, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        static std::vector<std::pair<const char*, const char*>> environment;
        environment = c.environment;
        ToolHooks hooks = InChild([] {
            for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
                ::unsetenv(name);
            }
            for (const auto& [name, value] : environment) {
                ::setenv(name, value, 1);
            }
        });
        hooks.program = prefix / "bin/keyboard-picture";
        TestFolder refused;
        refused.Write("key.bmp", {'h', 'e', 'l', 'l', 'o'});
        const RunResult run = RunToolWith(refused.Path(), hooks);
        ExpectOneLineError(
            run, c.japanese ? "key.bmp: BMP ファイルではありません: 先頭のバイトが \"BM\" ではなく 0x68 0x65 です"
                            : "key.bmp: not a BMP file: it starts with bytes 0x68 0x65, not \"BM\"");
        TestFolder drawn;
        drawn.Write("key.bmp", ExampleKey());
        EXPECT_EQ(RunToolWith(drawn.Path(), hooks).exitCode, 0);
        EXPECT_EQ(drawn.Read("zzOut.bmp"), Golden());
        // Japanese where the C library has its translations (Debian's libc-l10n).
        if (c.missing != nullptr &&
            (c.missing != japaneseMissing || std::filesystem::exists("/usr/share/locale/ja/LC_MESSAGES/libc.mo"))) {
            TestFolder empty;
            ExpectOneLineError(RunToolWith(empty.Path(), hooks), std::string("key.bmp: ") + c.missing);
        }
    }
}
