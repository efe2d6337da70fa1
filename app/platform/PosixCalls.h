// SPDX-License-Identifier: MIT
// Every POSIX call through which the file layer touches a file. Tests
// replace entries to make faults happen on demand: short and interrupted
// transfers, a full disk, a failing close or rename, links that change,
// attributes that cannot be copied, file systems that keep no modes.
#pragma once

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

namespace Platform {

struct PosixCalls {
    int (*openat)(int folder, const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buffer, std::size_t count);
    ssize_t (*write)(int fd, const void* buffer, std::size_t count);
    int (*close)(int fd);
    int (*fstat)(int fd, struct stat* status);
    int (*fstatat)(int folder, const char* path, struct stat* status, int flags);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    ssize_t (*flistxattr)(int fd, char* names, std::size_t size);
    ssize_t (*fgetxattr)(int fd, const char* name, void* value, std::size_t size);
    int (*fsetxattr)(int fd, const char* name, const void* value, std::size_t size, int flags);
    int (*fremovexattr)(int fd, const char* name);
    ssize_t (*readlinkat)(int folder, const char* path, char* buffer, std::size_t size);
    int (*renameat)(int fromFolder, const char* from, int toFolder, const char* to);
    int (*unlinkat)(int folder, const char* path, int flags);
    int (*getentropy)(void* buffer, std::size_t length);
};

// The calls in use; the real ones unless a test has changed them.
PosixCalls& SystemCalls();

// The real calls, for a test to put back.
PosixCalls RealSystemCalls();

} // namespace Platform
