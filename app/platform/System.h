// SPDX-License-Identifier: MIT
// What each operating system gives the file layer: a handful of primitives,
// one source per system (PlatformPosix.cpp, PlatformWin32.cpp). Platform.cpp
// builds reading and replacing from them, once for both, and words every
// failure; the primitives only report the system's error code, except where
// finding the file to replace is itself the system's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

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

// The most bytes a file's own name may take: NAME_MAX, or Windows' 255
// UTF-16 units, which 255 bytes of UTF-8 never exceed.
inline constexpr std::size_t MaxNameBytes = 255;

enum class FileType { Regular, Directory, Other };

// Opens a regular file to read, and tells its type and size. Anything else
// is only told: a pipe or a device is never opened, so never waited on.
Error OpenToRead(const std::string& path, File& file, FileType& type, std::uint64_t& size);
// Reads at most `buffer.size()` bytes at the file's position; 0 only at its end.
Error ReadSome(File file, std::span<std::uint8_t> buffer, std::size_t& got);
// For files whose close cannot lose data.
void Close(File file);

// Writes at least one byte, or fails.
Error WriteSome(File file, std::span<const std::uint8_t> bytes, std::size_t& put);
// Closes a file just written: where some file systems report a lost write.
Error CloseWritten(File file);
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
    File Release() { return std::exchange(file_, NoFile); }

private:
    File file_ = NoFile;
};

// Where `ReplacingFile` puts its new file, found before anything is written.
struct Target {
    // The folder the file lies in: a descriptor on POSIX, which no renaming
    // of folders can move; the full path on Windows, with its separator.
    OpenFile folder;
    std::string folderPath;
    std::string name; // the file's own name in that folder
    // The earlier file, held open; or, where there is none, a file the
    // system made as it would make the new one: what the new file is given.
    OpenFile model;
    bool created = false; // FindTarget created the file, to be removed if the run fails
};

// Finds the file that writing to `path` would change, and refuses, naming
// `path`, what writing to it would refuse. Fills in `target` as it goes, so
// that what it created is known even when it fails.
void FindTarget(const std::string& path, Target& target);
// Creates `name` in the target's folder, for writing, private to this
// user, failing if it exists.
Error CreateNew(const Target& target, const std::string& name, File& file);
// Gives the new file, written in full, what the owner set on the earlier
// one; fails, naming `path`, where that cannot be done without widening
// access.
void KeepOwnerSettings(const std::string& path, const Target& target, File file);
// Puts `name` in the target's place in one step.
Error Replace(const Target& target, const std::string& name);
void Remove(const Target& target, const std::string& name);
// Removes a file FindTarget created, if it is still as it was made.
void RemoveCreatedTarget(const Target& target);

// While held, an interruption (a signal, the console closing) waits; what
// it would remove is registered and forgotten under it.
void HoldInterruptions();
void ReleaseInterruptions();
void RemoveOnInterruption(const Target& target, const std::string& name);
void ForgetOnInterruption();

// Written once in Platform.cpp for the primitives to call: failing for the
// system's reason, and refusing for one of the tool's own.
[[noreturn]] void Fail(const std::string& path, Error error);
[[noreturn]] void Refuse(const std::string& path, const char* reason, std::vector<std::string> args = {});
[[noreturn]] void Refuse(const std::string& path, FileType type);

} // namespace Platform::System
