// SPDX-License-Identifier: MIT
// Every POSIX call through which the file layer touches a file. Tests
// replace entries to make faults happen on demand: short and interrupted
// transfers, a full disk, a failing close or rename, links that change,
// attributes that cannot be copied.
#pragma once

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

namespace Platform {

struct PosixCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buffer, std::size_t count);
    ssize_t (*write)(int fd, const void* buffer, std::size_t count);
    int (*close)(int fd);
    int (*fstat)(int fd, struct stat* status);
    int (*stat)(const char* path, struct stat* status);
    int (*lstat)(const char* path, struct stat* status);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    ssize_t (*flistxattr)(int fd, char* names, std::size_t size);
    ssize_t (*fgetxattr)(int fd, const char* name, void* value, std::size_t size);
    int (*fsetxattr)(int fd, const char* name, const void* value, std::size_t size, int flags);
    int (*fremovexattr)(int fd, const char* name);
    ssize_t (*readlink)(const char* path, char* buffer, std::size_t size);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    int (*getentropy)(void* buffer, std::size_t length);
};

// The calls in use; the real ones unless a test has changed them.
PosixCalls& SystemCalls();

// The real calls, for a test to put back.
PosixCalls RealSystemCalls();

} // namespace Platform
