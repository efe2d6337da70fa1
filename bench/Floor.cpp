// SPDX-License-Identifier: MIT
// The least a run of keyboard-picture can do: read "key.bmp" whole and write
// a file the size of the picture, "zzOut.bmp". Timing the tool against this
// shows what its own work costs on top of starting up and doing the I/O.
// With --replace it writes the file beside and renames it into place, as
// the tool does so that a failed run loses nothing: a new file each time
// and the old one freed, which costs more than overwriting one.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    const bool replace = argc > 1 && std::strcmp(argv[1], "--replace") == 0;
    const int in = ::open("key.bmp", O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (in < 0 || ::fstat(in, &status) != 0) {
        return 1;
    }
    std::vector<std::uint8_t> key(static_cast<std::size_t>(status.st_size));
    if (::read(in, key.data(), key.size()) != static_cast<ssize_t>(key.size()) || ::close(in) != 0) {
        return 1;
    }
    std::vector<std::uint8_t> picture(662254, key.empty() ? 0 : key[0]);
    const char* name = replace ? "zzOut.bmp.tmp" : "zzOut.bmp";
    const int out = ::open(name, O_WRONLY | O_CREAT | (replace ? O_EXCL : O_TRUNC) | O_CLOEXEC, 0666);
    if (out < 0 || ::write(out, picture.data(), picture.size()) != static_cast<ssize_t>(picture.size()) ||
        ::close(out) != 0) {
        return 1;
    }
    return replace && ::rename(name, "zzOut.bmp") != 0 ? 1 : 0;
}
