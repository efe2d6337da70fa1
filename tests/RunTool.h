// SPDX-License-Identifier: MIT
// Runs the built keyboard-picture as a user would: in a folder, with
// arguments, its output captured. One source per platform.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace TestSupport {

struct RunResult {
    int exitCode = -1; // when it exited
    int signal = 0;    // when a signal ended it (POSIX)
    std::string out;   // standard output
    std::string err;   // standard error, with Windows line endings made plain
};

RunResult RunTool(const std::filesystem::path& folder, const std::vector<std::string>& arguments = {});

// One line on standard error that starts with "keyboard-picture: " and
// `start`, nothing on standard output, exit status 1.
void ExpectOneLineError(const RunResult& run, const std::string& start);

// A file of the source tree. Absolute from the start, so that it holds
// wherever a test changes to, and under Wine's drive letters.
inline std::filesystem::path SourcePath(const std::string& relative)
{
    static const std::filesystem::path sourceDir = std::filesystem::absolute(SOURCE_DIR);
    return sourceDir / relative;
}

} // namespace TestSupport
