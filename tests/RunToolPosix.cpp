// SPDX-License-Identifier: MIT
#include "PosixTool.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "TestFolder.h"

namespace TestSupport {

namespace {

const std::filesystem::path ToolPath = std::filesystem::absolute(KEYBOARD_PICTURE_EXE);

// The emulator that cross builds run under (qemu-user), if any, then the tool.
std::vector<std::string> ToolCommand(const std::filesystem::path& program)
{
    std::vector<std::string> words;
    std::istringstream emulator(KEYBOARD_PICTURE_EMULATOR);
    for (std::string word; emulator >> word;) {
        words.push_back(word);
    }
    words.push_back(program.empty() ? ToolPath.string() : program.string());
    return words;
}

std::string TakeText(const std::filesystem::path& path)
{
    const std::vector<std::uint8_t> bytes = TestFolder::ReadFile(path);
    std::filesystem::remove(path);
    return {bytes.begin(), bytes.end()};
}

} // namespace

RunResult RunTool(const std::filesystem::path& folder, const std::vector<std::string>& arguments)
{
    ToolHooks hooks;
    hooks.arguments = arguments;
    return RunToolWith(folder, hooks);
}

RunResult RunToolWith(const std::filesystem::path& folder, const ToolHooks& hooks)
{
    const std::filesystem::path outPath = folder.parent_path() / (folder.filename().string() + ".out");
    const std::filesystem::path errPath = folder.parent_path() / (folder.filename().string() + ".err");
    std::vector<std::string> command = ToolCommand(hooks.program);
    command.insert(command.end(), hooks.arguments.begin(), hooks.arguments.end());
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int stderrPipe[2] = {-1, -1};
    if (hooks.stderrToClosedPipe) {
        if (::pipe(stderrPipe) != 0) {
            return {};
        }
        ::close(stderrPipe[0]); // nobody will ever read
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err =
            hooks.stderrToClosedPipe ? stderrPipe[1] : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::chdir(folder.c_str()) != 0) {
            std::_Exit(127);
        }
        if (hooks.inChild) {
            hooks.inChild();
        }
        ::execvp(argv[0], argv.data());
        std::_Exit(127);
    }
    if (hooks.stderrToClosedPipe) {
        ::close(stderrPipe[1]);
    }
    if (hooks.whileRunning) {
        hooks.whileRunning(child);
    }
    RunResult result;
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = TakeText(outPath);
    result.err = hooks.stderrToClosedPipe ? "" : TakeText(errPath);
    return result;
}

} // namespace TestSupport
