// SPDX-License-Identifier: MIT
// The system calls of the POSIX file layer where a fault can strike: short
// and interrupted transfers, a full disk, a failing close, a size that
// changes. Tests replace entries to make those faults happen on demand.
#pragma once

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

namespace Platform {

struct PosixCalls {
    ssize_t (*read)(int fd, void* buffer, std::size_t count);
    ssize_t (*write)(int fd, const void* buffer, std::size_t count);
    int (*close)(int fd);
    int (*fstat)(int fd, struct stat* status);
    int (*fchmod)(int fd, mode_t mode);
};

// The calls in use; the real ones unless a test has changed them.
PosixCalls& SystemCalls();

} // namespace Platform
