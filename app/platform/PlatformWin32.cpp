// SPDX-License-Identifier: MIT
// The Win32 primitives of the file layer, and the console process around
// it. Every path goes through the wide (UTF-16) API, so folders whose names
// are not ASCII work whatever the system's code page; files are opened in
// binary, with 64-bit sizes.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#define NOGDI
#include <windows.h>

#include <bcrypt.h>

#include "Platform.h"
#include "System.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <functional>

namespace Platform {

namespace {

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

HANDLE Handle(System::File file)
{
    return reinterpret_cast<HANDLE>(file); // NOLINT(performance-no-int-to-ptr): a HANDLE kept as an integer
}

System::Error LastError()
{
    return static_cast<System::Error>(::GetLastError());
}

// A full path, so that nothing depends on the current directory later,
// with the \\?\ prefix that lifts the 260-character limit on paths (which
// a longPathAware manifest lifts too, but only where the system allows it).
std::wstring FullPath(const std::wstring& path)
{
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (needed == 0 || length == 0 || length >= needed) {
        return path;
    }
    full.resize(length);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) {
        return full;
    }
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2); // \\server\share\...
    }
    return L"\\\\?\\" + full;
}

// What the file API takes for a UTF-8 path.
std::wstring FileName(const std::string& path)
{
    return FullPath(Wide(path));
}

// Where an opened file really is, every link followed; `fallback` where the
// system cannot say.
std::wstring FinalPath(HANDLE file, const std::wstring& fallback)
{
    const DWORD needed = ::GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    std::wstring path(needed, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), needed, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (needed == 0 || length == 0 || length >= needed) {
        return fallback;
    }
    path.resize(length);
    return path;
}

// Another program (often another run, or a viewer) has the file open
// without sharing deletion, or is replacing it itself right now.
bool IsBusy(System::Error error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// Tries again while the file is busy, 50 ms apart, 20 times: long enough
// for another run to finish with the file, short enough that a viewer
// holding it is soon reported.
System::Error WhileBusy(const std::function<System::Error()>& attempt)
{
    constexpr int Attempts = 20;
    for (int tries = 1;; ++tries) {
        const System::Error error = attempt();
        if (error == 0 || !IsBusy(error) || tries == Attempts) {
            return error;
        }
        ::Sleep(50);
    }
}

} // namespace

namespace System {

std::string Describe(Error error)
{
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
    ::LocalFree(buffer);
    // One line, without the final full stop, Western or Japanese.
    while (!text.empty() && (std::iswspace(text.back()) != 0 || text.back() == L'.' || text.back() == L'\u3002')) {
        text.pop_back();
    }
    std::replace(text.begin(), text.end(), L'\r', L' ');
    std::replace(text.begin(), text.end(), L'\n', L' ');
    return text.empty() ? "system error " + std::to_string(error) : Utf8(text);
}

bool IsTaken(Error error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

Error OpenToRead(const std::string& path, File& file, FileType& type, std::uint64_t& size)
{
    // Backup semantics open a directory too, so that it can be told apart.
    const HANDLE handle =
        ::CreateFileW(FileName(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    file = reinterpret_cast<File>(handle);
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        type = FileType::Other;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileInformationByHandle(handle, &information) == 0) {
        return LastError();
    }
    type = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileType::Directory : FileType::Regular;
    size = std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
    return 0;
}

Error ReadSome(File file, std::span<std::uint8_t> buffer, std::size_t& got)
{
    DWORD count = 0;
    if (::ReadFile(Handle(file), buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr) == 0) {
        return LastError();
    }
    got = count;
    return 0;
}

void Close(File file)
{
    ::CloseHandle(Handle(file));
}

Error CreateNew(const Target& target, const std::string& name, File& file)
{
    // Shared with nobody but for deletion, so that the console handler can
    // still remove it: private until it is closed and in place.
    const HANDLE handle = ::CreateFileW(FileName(target.folderPath + name).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    file = reinterpret_cast<File>(handle);
    return 0;
}

Error WriteSome(File file, std::span<const std::uint8_t> bytes, std::size_t& put)
{
    DWORD count = 0;
    if (::WriteFile(Handle(file), bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr) == 0) {
        return LastError();
    }
    if (count == 0) {
        return ERROR_DISK_FULL;
    }
    put = count;
    return 0;
}

Error CloseWritten(File file)
{
    return ::CloseHandle(Handle(file)) != 0 ? 0 : LastError();
}

Error Replace(const Target& target, const std::string& name)
{
    // Held through any waiting for a busy file: an interruption then waits
    // at most a second, and finds the temporary file either still to
    // remove or already in place.
    return WhileBusy([&] {
        return ::MoveFileExW(FileName(target.folderPath + name).c_str(),
                             FileName(target.folderPath + target.name).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0
                   ? LastError()
                   : 0;
    });
}

void Remove(const Target& target, const std::string& name)
{
    ::DeleteFileW(FileName(target.folderPath + name).c_str());
}

Error RandomBytes(std::span<std::uint8_t> bytes)
{
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        // Still unique enough with the exclusive create; only guessable.
        const ULONGLONG ticks = ::GetTickCount64() ^ (ULONGLONG{::GetCurrentProcessId()} << 32);
        std::memcpy(bytes.data(), &ticks, std::min(bytes.size(), sizeof ticks));
    }
    return 0;
}

// Refuses what opening the file for writing would refuse, before anything
// is created: the read-only attribute, or another program (an image viewer)
// holding it open without letting others write. A symbolic link is written
// through, as on POSIX: the new file goes where the opened file is. The
// probe is closed at once: a handle kept open would stop another run from
// replacing the file.
void FindTarget(const std::string& path, Target& target)
{
    std::wstring full = FileName(path);
    const DWORD attributes = ::GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            Fail(path, error);
        }
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Refuse(path, FileType::Directory);
    } else {
        HANDLE probe = INVALID_HANDLE_VALUE;
        const Error error = WhileBusy([&] {
            probe = ::CreateFileW(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            return probe == INVALID_HANDLE_VALUE ? LastError() : 0;
        });
        if (error != 0) {
            Fail(path, error);
        }
        const OpenFile probed(reinterpret_cast<File>(probe));
        if (::GetFileType(probe) != FILE_TYPE_DISK) {
            Refuse(path, FileType::Other);
        }
        full = FinalPath(probe, full);
        // Windows refuses to open such a file for writing; checked here too
        // because Wine, run as root, would not.
        const DWORD finalAttributes = ::GetFileAttributesW(full.c_str());
        if (finalAttributes != INVALID_FILE_ATTRIBUTES && (finalAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            Fail(path, ERROR_ACCESS_DENIED);
        }
    }
    const std::size_t separator = full.find_last_of(L"\\/");
    target.folderPath = Utf8(full.substr(0, separator + 1));
    target.name = Utf8(full.substr(separator + 1));
}

// The attributes the user gave the old file (hidden, say) stay with the
// name. Access comes from the folder, as for any new file there.
void KeepOwnerSettings(const std::string& path, const Target& target, File file)
{
    const DWORD attributes = ::GetFileAttributesW(FileName(target.folderPath + target.name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
            return; // a new file: nothing to keep
        }
        Fail(path, ::GetLastError());
    }
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (basic.FileAttributes != 0 &&
        ::SetFileInformationByHandle(Handle(file), FileBasicInfo, &basic, sizeof basic) == 0) {
        Fail(path, ::GetLastError());
    }
}

void RemoveCreatedTarget(const Target& /*target*/)
{
    // FindTarget never creates one here.
}

// --- Removing the temporary file when the console ends the process --------
//
// Ctrl-C, Ctrl-Break and closing the console run the handler on a thread of
// its own. It takes the lock and keeps it, so the main thread, which holds
// the lock while it creates or moves the file, either finishes that step
// first or never takes another before the default handler ends the process.

namespace {

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

} // namespace

void HoldInterruptions()
{
    static const bool handlerInstalled = ::SetConsoleCtrlHandler(RemoveTemporaryOnConsoleEvent, TRUE) != 0;
    static_cast<void>(handlerInstalled);
    ::AcquireSRWLockExclusive(&pendingLock);
}

void ReleaseInterruptions()
{
    ::ReleaseSRWLockExclusive(&pendingLock);
}

void RemoveOnInterruption(const Target& target, const std::string& name)
{
    pendingTemporary = FileName(target.folderPath + name);
}

void ForgetOnInterruption()
{
    pendingTemporary.clear();
}

} // namespace System

namespace {
bool japanese = false;
} // namespace

void PrepareProcess()
{
    // A console program reports failures in its one line, never in a dialog box.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    japanese = PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

const char* Translate(const char* message)
{
    return japanese ? Words::Japanese(message) : message;
}

// A console gets the line as UTF-16, which shows Japanese whatever its code
// page (932, 65001). A file or a pipe gets UTF-8 with the line ending
// Windows programs write: what PowerShell, Windows Terminal and Git read
// from other programs today, and it keeps every character.
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
    const std::string text = line + "\r\n";
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Started from Explorer, the program's console holds it alone and closes
// with it; from Command Prompt, a script or a pipe it shares a console, or
// reads no console at all, and never waits.
void KeepConsoleOpen(const std::string& prompt)
{
    DWORD processes[2];
    DWORD mode = 0;
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (::GetConsoleProcessList(processes, 2) != 1 || input == nullptr || input == INVALID_HANDLE_VALUE ||
        ::GetConsoleMode(input, &mode) == 0) {
        return;
    }
    WriteErrorLine(prompt);
    ::FlushConsoleInputBuffer(input);
    INPUT_RECORD record{};
    DWORD read = 0;
    while (::ReadConsoleInputW(input, &record, 1, &read) != 0 &&
           (record.EventType != KEY_EVENT || record.Event.KeyEvent.bKeyDown == 0)) {
    }
}

} // namespace Platform
