// SPDX-License-Identifier: MIT
// What each operating system gives the file layer: a handful of primitives,
// one source per system (PlatformPosix.cpp, PlatformWin32.cpp). Platform.cpp
// builds reading and replacing from them, once for both, and words every
// failure; the primitives only report the system's error code, except where
// finding the file to replace is itself the system's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>

namespace Platform::System {

// A descriptor on POSIX, a HANDLE on Windows.
using File = std::intptr_t;
inline constexpr File NoFile = -1;

// errno on POSIX, GetLastError() on Windows; 0 for success.
using Error = std::int64_t;

// The system's own words for an error, as one line.
std::string Describe(Error error);

// A name that exclusive creation found taken.
bool IsTaken(Error error);

// A file that another program has open for a moment (Windows only): worth
// trying again shortly.
bool IsBusy(Error error);

// What separates a path's folders from its last name.
extern const char* const PathSeparators;

// The most bytes a file's own name may take: NAME_MAX, or Windows' 255
// UTF-16 units, which 255 bytes of UTF-8 never exceed.
inline constexpr std::size_t MaxNameBytes = 255;

enum class Kind { Regular, Directory, Other };

struct Status {
    Kind kind = Kind::Other;
    std::uint64_t size = 0;
};

// Opens without blocking on a pipe or a device; directories open too, so
// that their kind can be told.
Error OpenToRead(const std::string& path, File& file);
Error Inspect(File file, Status& status);
// Reads at most `buffer.size()` bytes at the file's position; 0 only at its end.
Error ReadSome(File file, std::span<std::uint8_t> buffer, std::size_t& got);
// For files whose close cannot lose data.
void Close(File file);

// Creates a file for writing that must not exist yet.
Error CreateNew(const std::string& path, File& file);
// Writes at least one byte, or fails.
Error WriteSome(File file, std::span<const std::uint8_t> bytes, std::size_t& put);
// Closes a file just written: where some file systems report a lost write.
Error CloseWritten(File file);
// Puts `from` in the place of `to` in one step.
Error Replace(const std::string& from, const std::string& to);
void Remove(const std::string& path);
Error RandomBytes(std::span<std::uint8_t> bytes);

// Closes on scope exit.
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(File file) : file_(file) {}
    OpenFile(OpenFile&& other) noexcept : file_(std::exchange(other.file_, NoFile)) {}
    OpenFile& operator=(OpenFile&& other) noexcept
    {
        std::swap(file_, other.file_);
        return *this;
    }
    ~OpenFile()
    {
        if (file_ != NoFile) {
            Close(file_);
        }
    }
    File Get() const { return file_; }

private:
    File file_ = NoFile;
};

// What `ReplacingFile` replaces, found before anything is created.
struct Target {
    std::string path; // the file whose place the new one takes
    bool exists = false;
    Kind kind = Kind::Regular; // of what exists
    OpenFile old;              // where the system keeps it open, to copy its settings from
    bool created = false;      // made by FindTarget itself, to be removed if the run fails
};

// Finds the file that writing to `path` would change, and refuses, naming
// `path`, what writing to it would refuse. Fills in `target` as it goes, so
// that what it created is known even when it fails.
void FindTarget(const std::string& path, Target& target);
// Gives the new file what the owner set on the old one; fails, naming
// `path`, where that cannot be done without widening access.
void KeepOwnerSettings(const std::string& path, const Target& target, File file);
// Removes a target that FindTarget created, if it is still as it was made.
void RemoveCreatedTarget(const Target& target);

// While held, an interruption (a signal, the console closing) waits; the
// temporary file it would remove is registered and forgotten under it.
void HoldInterruptions();
void ReleaseInterruptions();
void RemoveOnInterruption(const std::string& temporary);
void ForgetOnInterruption();

// Written once in Platform.cpp for the primitives to call: the failures
// every caller reports, and trying again while a file is busy, for about a
// second, so that another run finishing with the file is no reason to fail.
[[noreturn]] void FailIo(const std::string& path, Error error);
[[noreturn]] void RefuseKind(const std::string& path, Kind kind);
[[noreturn]] void Refuse(const std::string& path, const std::string& reason);
Error WhileBusy(const std::function<Error()>& attempt);

} // namespace Platform::System
