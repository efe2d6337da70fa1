// SPDX-License-Identifier: MIT
// Reading and replacing files, written once for every system over the
// primitives of System.h.
#include "Platform.h"

#include "System.h"

#include <algorithm>
#include <cstdio>

namespace Platform {

namespace System {

void Fail(const std::string& path, Error error)
{
    throw FileError(path, "%s", {Describe(error)}); // the system's own words, in the user's language already
}

void Refuse(const std::string& path, const char* reason, std::vector<std::string> args)
{
    throw FileError(path, reason, std::move(args));
}

void Refuse(const std::string& path, FileType type)
{
    Refuse(path, type == FileType::Directory ? N_("is a directory, not a file") : N_("is not a regular file"));
}

} // namespace System

namespace {

using System::Error;
using System::Fail;
using System::File;
using System::NoFile;

// One call moves at most this much: ssize_t and DWORD counts are 32 bits on
// some systems, and Linux itself stops a little short of 2 GiB.
constexpr std::size_t MaxTransferBytes = std::size_t{1} << 30;

// Random names that are taken already are tried again this often before giving up.
constexpr int MaxNameAttempts = 100;

class InterruptionsHeld {
public:
    InterruptionsHeld() { System::HoldInterruptions(); }
    ~InterruptionsHeld() { System::ReleaseInterruptions(); }
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;
};

// 16 hex digits from the system's random source, so that nobody can guess
// a temporary file's name or block it by planting one.
std::string RandomSuffix(const std::string& path)
{
    std::uint64_t value = 0;
    if (const Error error = System::RandomBytes({reinterpret_cast<std::uint8_t*>(&value), sizeof value})) {
        Fail(path, error);
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(value));
    return digits;
}

// Named after the target, with its name shortened where need be (never
// inside a UTF-8 character) so that the folder takes it however long the
// target's name is.
std::string TemporaryName(const std::string& target, const std::string& suffix)
{
    const std::string tail = ".tmp-" + suffix;
    std::size_t stemBytes = std::min(target.size(), System::MaxNameBytes - tail.size());
    while (stemBytes < target.size() && stemBytes > 0 &&
           (static_cast<unsigned char>(target[stemBytes]) & 0xC0) == 0x80) {
        --stemBytes;
    }
    return target.substr(0, stemBytes) + tail;
}

} // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::uint64_t maxBytes, const HeadCheck& checkHead)
{
    File opened = NoFile;
    System::FileType type = System::FileType::Other;
    std::uint64_t size = 0;
    if (const Error error = System::OpenToRead(path, opened, type, size)) {
        Fail(path, error);
    }
    const System::OpenFile file(opened);
    if (type != System::FileType::Regular) {
        System::Refuse(path, type);
    }
    if (size > maxBytes) {
        System::Refuse(path, N_("file of %1$s bytes is larger than the largest picture this tool reads (%2$s bytes)"),
                       {std::to_string(size), std::to_string(maxBytes)});
    }
    // Up to the head first, when there is a check to show it to; then as far
    // as the check says. A file that shrinks gives what it still holds.
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>(checkHead ? std::min<std::uint64_t>(size, HeadBytes) : size));
    bool headChecked = !checkHead;
    for (std::size_t done = 0;;) {
        if (done < bytes.size()) {
            std::size_t got = 0;
            const std::span<std::uint8_t> rest(bytes.data() + done, std::min(bytes.size() - done, MaxTransferBytes));
            if (const Error error = System::ReadSome(file.Get(), rest, got)) {
                Fail(path, error);
            }
            done += got;
            if (got != 0) {
                continue;
            }
        }
        bytes.resize(done);
        if (headChecked) {
            return bytes;
        }
        headChecked = true;
        bytes.resize(static_cast<std::size_t>(std::min(checkHead(bytes, size), size)));
        done = std::min(done, bytes.size());
    }
}

struct ReplacingFile::State {
    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    // Also where a constructor that throws part way leaves its mess: no
    // destructor of ReplacingFile runs then, but this one does.
    ~State()
    {
        if (committed) {
            return;
        }
        const InterruptionsHeld held;
        if (file != NoFile) {
            System::Close(file);
        }
        if (!temporary.empty()) {
            System::Remove(target, temporary);
        }
        if (target.created) {
            System::RemoveCreatedTarget(target);
        }
        System::ForgetOnInterruption();
    }

    // Beside the target, so that the replacing stays within one file system.
    // A random name, created exclusively and tried again while taken, and
    // registered for removal on an interruption in the same breath.
    void CreateTemporary()
    {
        for (int attempt = 1;; ++attempt) {
            std::string name = TemporaryName(target.name, RandomSuffix(path));
            const InterruptionsHeld held;
            const Error error = System::CreateNew(target, name, file);
            if (error == 0) {
                System::RemoveOnInterruption(target, name);
                temporary = std::move(name);
                return;
            }
            if (!System::IsTaken(error) || attempt == MaxNameAttempts) {
                Fail(path, error);
            }
        }
    }

    std::string path; // as the caller named it, for messages
    System::Target target;
    std::string temporary;
    File file = NoFile;
    bool committed = false;
};

ReplacingFile::ReplacingFile(const std::string& path) : state_(std::make_unique<State>())
{
    state_->path = path;
    System::FindTarget(path, state_->target);
    state_->CreateTemporary();
}

ReplacingFile::~ReplacingFile() = default;

void ReplacingFile::Write(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        std::size_t put = 0;
        if (const Error error =
                System::WriteSome(state_->file, bytes.first(std::min(bytes.size(), MaxTransferBytes)), put)) {
            Fail(state_->path, error);
        }
        bytes = bytes.subspan(put);
    }
}

void ReplacingFile::Commit()
{
    // After the last write, which would clear set-user-ID bits and file
    // capabilities.
    System::KeepOwnerSettings(state_->path, state_->target, state_->file);
    const InterruptionsHeld held;
    if (const Error error = System::CloseWritten(std::exchange(state_->file, NoFile))) {
        Fail(state_->path, error);
    }
    if (const Error error = System::Replace(state_->target, state_->temporary)) {
        Fail(state_->path, error);
    }
    state_->committed = true;
    System::ForgetOnInterruption();
}

} // namespace Platform
