// Whole-file reads and replacing writes, reporting failures as ImageError
// with the path and the system's reason.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Graphics {

// The largest file read: an uncompressed 64-bit image of MaxPixelCount
// pixels, plus 1 MiB for headers, a palette and a gap before the pixels.
// Anything longer cannot be a picture the decoder accepts.
inline constexpr std::uint64_t MaxFileBytes = (std::uint64_t{1} << 25) * 8 + (std::uint64_t{1} << 20);

// Reads a regular file whole. Refuses directories, devices and FIFOs
// without blocking on them.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

// Writes the pieces, in order, to a temporary file beside `path` and renames
// it into place, so that a failure leaves neither a partial file nor a
// damaged older one.
void WriteFileReplacing(const std::string& path, std::span<const std::span<const std::uint8_t>> pieces);

inline void WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes)
{
    WriteFileReplacing(path, std::span<const std::span<const std::uint8_t>>(&bytes, 1));
}

} // namespace Graphics
