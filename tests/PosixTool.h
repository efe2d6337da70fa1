// SPDX-License-Identifier: MIT
// Running the tool with what only POSIX has: limits and identities set in
// the child, signals sent while it runs, a standard error nobody reads.
#pragma once

#include "RunTool.h"

#include <sys/types.h>

namespace TestSupport {

struct ToolHooks {
    std::vector<std::string> arguments;
    std::function<void()> inChild;           // after fork, before exec
    std::function<void(pid_t)> whileRunning; // in the parent, before waiting
    bool stderrToClosedPipe = false;
    std::filesystem::path program; // run instead of the built tool, if set
};

inline ToolHooks InChild(std::function<void()> action)
{
    ToolHooks hooks;
    hooks.inChild = std::move(action);
    return hooks;
}

inline ToolHooks WhileRunning(std::function<void(pid_t)> action)
{
    ToolHooks hooks;
    hooks.whileRunning = std::move(action);
    return hooks;
}

inline ToolHooks ClosedStderr()
{
    ToolHooks hooks;
    hooks.stderrToClosedPipe = true;
    return hooks;
}

RunResult RunToolWith(const std::filesystem::path& folder, const ToolHooks& hooks);

} // namespace TestSupport
