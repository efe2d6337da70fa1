// SPDX-License-Identifier: MIT
// The Win32 side of the platform layer. Every path goes through the wide
// (UTF-16) API, so folders whose names are not ASCII work whatever the
// system's code page; files are opened in binary, with 64-bit sizes.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#define NOGDI
#include <windows.h>

#include <bcrypt.h>

#include "ImageError.h"
#include "Platform.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>
#include <utility>

namespace Platform {

using Graphics::ImageError;
using Graphics::ImageErrorKind;

namespace {

// One ReadFile or WriteFile call moves at most this much: their counts are 32-bit.
constexpr std::size_t MaxTransferBytes = std::size_t{1} << 30;

// Random names that are taken already are tried again this often before giving up.
constexpr int MaxNameAttempts = 100;

std::wstring Wide(const std::string& text)
{
    if (text.empty()) {
        return {};
    }
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                          nullptr);
    return narrow;
}

// The system's own words for an error code, as one line without the final full stop.
std::string SystemReason(DWORD error)
{
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
    ::LocalFree(buffer);
    while (!text.empty() && (std::iswspace(text.back()) != 0 || text.back() == L'.')) {
        text.pop_back();
    }
    std::replace(text.begin(), text.end(), L'\r', L' ');
    std::replace(text.begin(), text.end(), L'\n', L' ');
    return text.empty() ? "system error " + std::to_string(error) : Utf8(text);
}

[[noreturn]] void FailIo(const std::string& path, DWORD error)
{
    throw ImageError(ImageErrorKind::Io, path + ": " + SystemReason(error));
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle()
    {
        if (Valid()) {
            ::CloseHandle(handle_);
        }
    }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

std::wstring FullPath(const std::wstring& path)
{
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (needed == 0 || length == 0 || length >= needed) {
        return path;
    }
    full.resize(length);
    return full;
}

std::wstring RandomSuffix()
{
    std::uint8_t bytes[8] = {};
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        // Still unique enough with the exclusive create below; only guessable.
        const ULONGLONG ticks = ::GetTickCount64() ^ (ULONGLONG{::GetCurrentProcessId()} << 32);
        std::memcpy(bytes, &ticks, sizeof bytes);
    }
    static constexpr wchar_t Digits[] = L"0123456789abcdef";
    std::wstring suffix;
    for (const std::uint8_t byte : bytes) {
        suffix += Digits[byte >> 4];
        suffix += Digits[byte & 0xF];
    }
    return suffix;
}

// --- Removing the temporary file when the console ends the process --------
//
// Ctrl-C, Ctrl-Break and closing the console run the handler on a thread of
// its own. It takes the lock and keeps it, so the main thread, which holds
// the lock while it moves the file into place, either finishes that step
// first or never takes another before the default handler ends the process.

SRWLOCK pendingLock = SRWLOCK_INIT;
std::wstring pendingTemporary;

BOOL WINAPI RemoveTemporaryOnConsoleEvent(DWORD /*event*/)
{
    ::AcquireSRWLockExclusive(&pendingLock);
    if (!pendingTemporary.empty()) {
        ::DeleteFileW(pendingTemporary.c_str());
    }
    return FALSE; // on to the default handler, which ends the process
}

class PendingLock {
public:
    PendingLock() { ::AcquireSRWLockExclusive(&pendingLock); }
    ~PendingLock() { ::ReleaseSRWLockExclusive(&pendingLock); }
    PendingLock(const PendingLock&) = delete;
    PendingLock& operator=(const PendingLock&) = delete;
};

} // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    const std::wstring widePath = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(widePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        FailIo(path, ::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw ImageError(ImageErrorKind::Io, path + ": is a directory, not a file");
    }
    const Handle file(::CreateFileW(widePath.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        FailIo(path, ::GetLastError());
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        throw ImageError(ImageErrorKind::Io, path + ": is not a regular file");
    }
    LARGE_INTEGER fileSize{};
    if (::GetFileSizeEx(file.Get(), &fileSize) == 0) {
        FailIo(path, ::GetLastError());
    }
    const auto size = static_cast<std::uint64_t>(fileSize.QuadPart);
    RefuseIfTooLong(path, size);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto want = static_cast<DWORD>(std::min(bytes.size() - done, MaxTransferBytes));
        DWORD got = 0;
        if (::ReadFile(file.Get(), bytes.data() + done, want, &got, nullptr) == 0) {
            FailIo(path, ::GetLastError());
        }
        if (got == 0) {
            break; // the file shrank since its size was taken
        }
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

struct ReplacingFile::State {
    std::string path;    // as the caller named it, for messages
    std::wstring target; // full path
    std::wstring temporary;
    std::string temporaryUtf8;
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD oldAttributes = INVALID_FILE_ATTRIBUTES;
    bool committed = false;
};

ReplacingFile::ReplacingFile(const std::string& path) : state_(std::make_unique<State>())
{
    static const bool handlerInstalled = ::SetConsoleCtrlHandler(RemoveTemporaryOnConsoleEvent, TRUE) != 0;
    static_cast<void>(handlerInstalled);

    state_->path = path;
    // A full path, so that nothing depends on the current directory later.
    state_->target = FullPath(Wide(path));
    const std::wstring& target = state_->target;

    // Refuse what opening the file for writing would refuse, before creating
    // anything: the read-only attribute, or another program (an image
    // viewer) holding it open without letting others write.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            FailIo(path, error);
        }
    } else {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            throw ImageError(ImageErrorKind::Io, path + ": is a directory, not a file");
        }
        // Windows refuses to open such a file for writing; checked here too
        // because Wine, run as root, would not.
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            FailIo(path, ERROR_ACCESS_DENIED);
        }
        const Handle probe(::CreateFileW(target.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe.Valid()) {
            FailIo(path, ::GetLastError());
        }
        if (::GetFileType(probe.Get()) != FILE_TYPE_DISK) {
            throw ImageError(ImageErrorKind::Io, path + ": is not a regular file");
        }
        state_->oldAttributes = attributes;
    }

    // Beside the target, so that the move stays within one volume. Shared
    // for deletion only, so that the console handler can still remove it.
    for (int attempt = 1;; ++attempt) {
        std::wstring temporary = target + L".tmp-" + RandomSuffix();
        const PendingLock lock;
        const HANDLE handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            state_->handle = handle;
            state_->temporary = temporary;
            state_->temporaryUtf8 = Utf8(temporary);
            pendingTemporary = std::move(temporary);
            break;
        }
        const DWORD error = ::GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == MaxNameAttempts) {
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
    const PendingLock lock;
    if (state_->handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(std::exchange(state_->handle, INVALID_HANDLE_VALUE));
    }
    if (!state_->temporary.empty()) {
        ::DeleteFileW(state_->temporary.c_str());
    }
    pendingTemporary.clear();
}

void ReplacingFile::Write(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const auto want = static_cast<DWORD>(std::min(bytes.size(), MaxTransferBytes));
        DWORD put = 0;
        if (::WriteFile(state_->handle, bytes.data(), want, &put, nullptr) == 0) {
            FailIo(state_->path, ::GetLastError());
        }
        if (put == 0) {
            FailIo(state_->path, ERROR_DISK_FULL);
        }
        bytes = bytes.subspan(put);
    }
}

void ReplacingFile::Commit()
{
    const PendingLock lock;
    const HANDLE handle = std::exchange(state_->handle, INVALID_HANDLE_VALUE);
    if (::CloseHandle(handle) == 0) {
        FailIo(state_->path, ::GetLastError());
    }
    // The attributes the user gave the old file (hidden, say) stay with the name.
    if (state_->oldAttributes != INVALID_FILE_ATTRIBUTES) {
        const DWORD kept = state_->oldAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        ::SetFileAttributesW(state_->temporary.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
    }
    if (::MoveFileExW(state_->temporary.c_str(), state_->target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        FailIo(state_->path, ::GetLastError());
    }
    state_->committed = true;
    pendingTemporary.clear();
}

const std::string& ReplacingFile::TemporaryPath() const
{
    return state_->temporaryUtf8;
}

void PrepareProcess()
{
    // A console program reports failures in its one line, never in a dialog box.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

void WriteErrorLine(const std::string& line)
{
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(error, &mode) != 0) {
        const std::wstring text = Wide(line + "\n");
        ::WriteConsoleW(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    // Redirected to a file or a pipe: UTF-8, with the line ending Windows programs write.
    const std::string text = line + "\r\n";
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace Platform
