// SPDX-License-Identifier: MIT
// The one place the operating system is met: reading a whole file, replacing
// a file atomically, and what a console process needs around them. Written
// once in Platform.cpp over a few primitives that each system provides
// (System.h). Paths are UTF-8. Failures are FileErrors that name the path
// and give the system's own reason, or the tool's.
#pragma once

#include "Words.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace Platform {

// "path: reason", the one line a user reads, in the tool's words.
class FileError : public Words::Failure {
public:
    FileError(std::string path, const char* reason, std::vector<std::string> args = {})
        : Failure({reason, std::move(args), std::move(path)})
    {
    }
};

// How many of a file's first bytes ReadFileBytes shows a HeadCheck.
inline constexpr std::size_t HeadBytes = 4096;

// Sees a file's first bytes (all of them, or HeadBytes) and its size before
// the rest is read; throws to refuse the file, or returns how many of its
// bytes are worth reading.
using HeadCheck = std::function<std::uint64_t(std::span<const std::uint8_t> head, std::uint64_t size)>;

// Reads a regular file, whole or as far as `checkHead` says. Refuses
// directories, devices and pipes by their type, without blocking on them,
// and a file longer than `maxBytes`, before reading it. A file that shrinks
// while it is read gives what it still holds; one that grows is read up to
// its opening size.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::uint64_t maxBytes,
                                        const HeadCheck& checkHead = {});

// Writes a new version of a file beside it under a random name and puts it
// in place in one step, so that readers see the old file or the whole new
// one. Until Commit() succeeds, the old file is untouched; a failure, an
// exception unwinding past this object, or an interrupting signal (Ctrl-C,
// closing the console) removes the temporary file. The temporary file is
// its owner's alone until it is written in full.
//
// What the owner set on the old file is kept: on POSIX its owner and group,
// extended attributes and access control list, mode and file capabilities,
// each where this process may set it and refused where losing it would
// widen access; on Windows its attributes. A file the user may not write is
// refused, as opening it for writing would be. A symbolic link is followed
// and its target replaced, so the link stays a link.
class ReplacingFile {
public:
    explicit ReplacingFile(const std::string& path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    void Write(std::span<const std::uint8_t> bytes);
    void Commit();

private:
    // Removes the temporary file unless committed.
    struct State;
    std::unique_ptr<State> state_;
};

// Sets the process up so that a failed write is an error to report, never a
// silent death (on POSIX, SIGPIPE and SIGXFSZ are ignored).
void PrepareProcess();

// A message in the user's language, or as it stands: the locale as gettext
// reads it on POSIX, chosen when there is first something to say; the
// display language on Windows.
const char* Translate(const char* message);

// Writes one line to standard error, in the console's own encoding where it
// is a console. Failures are ignored: there is no one left to tell.
void WriteErrorLine(const std::string& line);

// Where the console window is the program's alone (on Windows, a program
// started by double-clicking it), shows `prompt` and waits for a key, so
// that the window does not close before its last line is read.
void KeepConsoleOpen(const std::string& prompt);

} // namespace Platform
