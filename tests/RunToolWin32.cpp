// SPDX-License-Identifier: MIT
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#define NOGDI
#include <windows.h>

#include "RunTool.h"
#include "TestFolder.h"

#include <algorithm>

namespace TestSupport {

namespace {

const std::filesystem::path ToolPath = std::filesystem::absolute(KEYBOARD_PICTURE_EXE);

HANDLE CreateInheritable(const std::filesystem::path& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

std::string TakeText(const std::filesystem::path& path)
{
    const std::vector<std::uint8_t> bytes = TestFolder::ReadFile(path);
    std::filesystem::remove(path);
    std::string text(bytes.begin(), bytes.end());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

} // namespace

RunResult RunTool(const std::filesystem::path& folder, const std::vector<std::string>& arguments)
{
    const std::filesystem::path outPath = folder.parent_path() / (folder.filename().wstring() + L".out");
    const std::filesystem::path errPath = folder.parent_path() / (folder.filename().wstring() + L".err");
    std::wstring commandLine = L"\"" + ToolPath.wstring() + L"\"";
    for (const std::string& argument : arguments) {
        commandLine += L" \"" + std::filesystem::path(argument).wstring() + L"\"";
    }
    const HANDLE out = CreateInheritable(outPath);
    const HANDLE err = CreateInheritable(errPath);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    RunResult result;
    if (::CreateProcessW(ToolPath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                         &startup, &process) != 0) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(out);
    ::CloseHandle(err);
    result.out = TakeText(outPath);
    result.err = TakeText(errPath);
    return result;
}

} // namespace TestSupport
