#include "ImageFile.h"

#include "BmpCodec.h"
#include "ImageError.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace Graphics {

static_assert(MaxFileBytes >= MaxPixelCount * 8, "the file limit must admit every image the decoder accepts");

namespace {

[[noreturn]] void FailIo(const std::string& path, int error)
{
    throw ImageError(ImageErrorKind::Io, path + ": " + std::strerror(error));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    int Get() const { return fd_; }

    // Closing is where some file systems report a failed write.
    int Close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

} // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) {
        FailIo(path, errno);
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        FailIo(path, errno);
    }
    if (S_ISDIR(status.st_mode)) {
        throw ImageError(ImageErrorKind::Io, path + ": is a directory, not a file");
    }
    if (!S_ISREG(status.st_mode)) {
        throw ImageError(ImageErrorKind::Io, path + ": is not a regular file");
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size > MaxFileBytes) {
        throw ImageError(ImageErrorKind::TooLarge, path + ": file of " + std::to_string(size) +
                                                       " bytes is larger than the largest picture this tool reads (" +
                                                       std::to_string(MaxFileBytes) + " bytes)");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::size_t done = 0;
    // A file that shrinks while being read yields what it still holds; one
    // that grows is read only as far as its size when opened.
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.Get(), bytes.data() + done, bytes.size() - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            FailIo(path, errno);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

void WriteFileReplacing(const std::string& path, std::span<const std::span<const std::uint8_t>> pieces)
{
    // The temporary name is unique to this process; O_EXCL refuses to
    // reuse anything already there, such as a link planted under that name.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = path + ".tmp-" + std::to_string(::getpid());
        if (attempt > 0) {
            temporary += '.';
            temporary += std::to_string(attempt);
        }
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && (errno != EEXIST || attempt >= 100)) {
            FailIo(path, errno);
        }
    }
    FileDescriptor file(fd);
    auto fail = [&](int error) {
        ::unlink(temporary.c_str());
        FailIo(path, error);
    };

    // One gathering write for the whole file, resumed where a short write stopped.
    std::vector<iovec> chunks;
    chunks.reserve(pieces.size());
    for (const std::span<const std::uint8_t> piece : pieces) {
        if (!piece.empty()) {
            chunks.push_back({const_cast<std::uint8_t*>(piece.data()), piece.size()});
        }
    }
    std::size_t next = 0;
    while (next < chunks.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(chunks.size() - next, IOV_MAX));
        const ssize_t put = ::writev(file.Get(), chunks.data() + next, count);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        if (put == 0) {
            fail(ENOSPC); // a regular file that takes nothing is full
        }
        auto left = static_cast<std::size_t>(put);
        while (next < chunks.size() && left >= chunks[next].iov_len) {
            left -= chunks[next].iov_len;
            ++next;
        }
        if (left > 0) {
            chunks[next].iov_base = static_cast<std::uint8_t*>(chunks[next].iov_base) + left;
            chunks[next].iov_len -= left;
        }
    }
    if (file.Close() != 0) {
        fail(errno);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        fail(errno);
    }
}

} // namespace Graphics
