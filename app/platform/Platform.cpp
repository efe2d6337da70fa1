// SPDX-License-Identifier: MIT
// Reading and replacing files, written once for every system over the
// primitives of System.h.
#include "Platform.h"

#include "ImageError.h"
#include "System.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

namespace Platform {

using Graphics::ImageError;
using Graphics::ImageErrorKind;

namespace System {

void FailIo(const std::string& path, Error error)
{
    throw ImageError(ImageErrorKind::Io, path + ": " + Describe(error));
}

void RefuseKind(const std::string& path, Kind kind)
{
    Refuse(path, kind == Kind::Directory ? "is a directory, not a file" : "is not a regular file");
}

void Refuse(const std::string& path, const std::string& reason)
{
    throw ImageError(ImageErrorKind::Io, path + ": " + reason);
}

Error WhileBusy(const std::function<Error()>& attempt)
{
    // 50 ms apart, 20 times: long enough for another run to finish with the
    // file, short enough that a viewer holding it is soon reported.
    constexpr int Attempts = 20;
    constexpr auto Pause = std::chrono::milliseconds(50);
    for (int tries = 1;; ++tries) {
        const Error error = attempt();
        if (error == 0 || !IsBusy(error) || tries == Attempts) {
            return error;
        }
        std::this_thread::sleep_for(Pause);
    }
}

} // namespace System

namespace {

using System::Error;
using System::FailIo;
using System::File;
using System::Kind;
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
    std::array<std::uint8_t, 8> bytes{};
    if (const Error error = System::RandomBytes(bytes)) {
        FailIo(path, error);
    }
    static constexpr char Digits[] = "0123456789abcdef";
    std::string suffix;
    for (const std::uint8_t byte : bytes) {
        suffix += Digits[byte >> 4];
        suffix += Digits[byte & 0xF];
    }
    return suffix;
}

// Beside the target, named after it, with the stem shortened where need be
// (never inside a UTF-8 character) so that the name stays one the folder
// takes however long the target's is.
std::string TemporaryName(const std::string& target, const std::string& suffix)
{
    const std::size_t separator = target.find_last_of(System::PathSeparators);
    const std::size_t leafStart = separator == std::string::npos ? 0 : separator + 1;
    const std::string tail = ".tmp-" + suffix;
    std::size_t stemBytes = target.size() - leafStart;
    if (stemBytes + tail.size() > System::MaxNameBytes) {
        stemBytes = System::MaxNameBytes - tail.size();
        while (stemBytes > 0 && (static_cast<unsigned char>(target[leafStart + stemBytes]) & 0xC0) == 0x80) {
            --stemBytes;
        }
    }
    return target.substr(0, leafStart + stemBytes) + tail;
}

} // namespace

namespace {

// Reads into `bytes` from `done` on, until it is full or the file ends;
// returns how far it got.
std::size_t ReadInto(const std::string& path, File file, std::vector<std::uint8_t>& bytes, std::size_t done)
{
    while (done < bytes.size()) {
        std::size_t got = 0;
        const std::span<std::uint8_t> rest(bytes.data() + done, std::min(bytes.size() - done, MaxTransferBytes));
        if (const Error error = System::ReadSome(file, rest, got)) {
            FailIo(path, error);
        }
        if (got == 0) {
            break; // the file shrank since its size was taken
        }
        done += got;
    }
    return done;
}

} // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::uint64_t maxBytes, const HeadCheck& checkHead)
{
    File opened = NoFile;
    if (const Error error = System::OpenToRead(path, opened)) {
        FailIo(path, error);
    }
    const System::OpenFile file(opened);
    System::Status status;
    if (const Error error = System::Inspect(file.Get(), status)) {
        FailIo(path, error);
    }
    if (status.kind != Kind::Regular) {
        System::RefuseKind(path, status.kind);
    }
    if (status.size > maxBytes) {
        throw ImageError(ImageErrorKind::TooLarge, path + ": file of " + std::to_string(status.size) +
                                                       " bytes is larger than the largest picture this tool reads (" +
                                                       std::to_string(maxBytes) + " bytes)");
    }
    std::uint64_t wanted = status.size;
    std::vector<std::uint8_t> bytes;
    std::size_t done = 0;
    if (checkHead) {
        bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(wanted, HeadBytes)));
        done = ReadInto(path, file.Get(), bytes, 0);
        bytes.resize(done);
        wanted = std::min(checkHead(bytes, status.size), status.size);
    }
    bytes.resize(static_cast<std::size_t>(wanted));
    if (done < bytes.size()) {
        bytes.resize(ReadInto(path, file.Get(), bytes, done));
    }
    return bytes;
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
            System::Remove(temporary);
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
            std::string name = TemporaryName(target.path, RandomSuffix(path));
            const InterruptionsHeld held;
            const Error error = System::CreateNew(name, file);
            if (error == 0) {
                System::RemoveOnInterruption(name);
                temporary = std::move(name);
                return;
            }
            if (!System::IsTaken(error) || attempt == MaxNameAttempts) {
                FailIo(path, error);
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
    if (state_->target.exists && state_->target.kind != Kind::Regular) {
        System::RefuseKind(path, state_->target.kind);
    }
    state_->CreateTemporary();
    if (state_->target.exists) {
        System::KeepOwnerSettings(path, state_->target, state_->file);
    }
}

ReplacingFile::~ReplacingFile() = default;

void ReplacingFile::Write(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        std::size_t put = 0;
        if (const Error error =
                System::WriteSome(state_->file, bytes.first(std::min(bytes.size(), MaxTransferBytes)), put)) {
            FailIo(state_->path, error);
        }
        bytes = bytes.subspan(put);
    }
}

void ReplacingFile::Commit()
{
    const InterruptionsHeld held;
    if (const Error error = System::CloseWritten(std::exchange(state_->file, NoFile))) {
        FailIo(state_->path, error);
    }
    // Held through any waiting for a busy file too: an interruption then
    // waits at most a second, and finds the temporary file either still to
    // remove or already in place.
    const Error error = System::WhileBusy([&] { return System::Replace(state_->temporary, state_->target.path); });
    if (error != 0) {
        FailIo(state_->path, error);
    }
    state_->committed = true;
    System::ForgetOnInterruption();
}

} // namespace Platform
