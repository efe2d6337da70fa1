// SPDX-License-Identifier: MIT
// Reads every BMP variant that Windows, OS/2 and Windows CE define: header
// sizes 12 to 124, 1 to 64 bits per pixel, RLE4/RLE8/RLE24 and bit fields.
// Every length and offset taken from the file is checked against the bytes
// actually present, in subtraction form and in 64 bits, before it is used.

#include "BmpCodec.h"

#include "ImageError.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace Graphics {

namespace {

constexpr std::size_t FileHeaderBytes = 14;

// Compression values of the Windows headers. OS/2 2.x headers reuse 3 and 4
// for Huffman 1D and RLE24.
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_JPEG = 4;
constexpr std::uint32_t BI_PNG = 5;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;
constexpr std::uint32_t OS2_HUFFMAN1D = 3;
constexpr std::uint32_t OS2_RLE24 = 4;

enum class Encoding { Rgb, BitFields, Rle8, Rle4, Rle24 };

const char* EncodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Rgb: return "BI_RGB";
    case Encoding::BitFields: return "BI_BITFIELDS";
    case Encoding::Rle8: return "BI_RLE8";
    case Encoding::Rle4: return "BI_RLE4";
    case Encoding::Rle24: return "RLE24";
    }
    return "unknown";
}

[[noreturn]] void Fail(ImageErrorKind kind, const std::string& message)
{
    throw ImageError(kind, message);
}

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// Callers check that the bytes exist before reading them.
std::uint16_t U16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int32_t I32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(U32(p));
}

// Names the format when the file is some other well-known kind of picture,
// since "key.bmp" is often a PNG or JPEG that was merely renamed.
[[noreturn]] void FailNotBmp(std::span<const std::uint8_t> data)
{
    struct Signature {
        const char* bytes;
        std::size_t length;
        const char* name;
    };
    static constexpr Signature Known[] = {
        {"\x89PNG\r\n\x1A\n", 8, "a PNG image"},
        {"\xFF\xD8\xFF", 3, "a JPEG image"},
        {"GIF87a", 6, "a GIF image"},
        {"GIF89a", 6, "a GIF image"},
        {"II*\0", 4, "a TIFF image"},
        {"MM\0*", 4, "a TIFF image"},
        {"\0\0\1\0", 4, "a Windows icon"},
        {"RIFF", 4, "a RIFF file (WebP or similar)"},
    };
    for (const Signature& signature : Known) {
        if (data.size() >= signature.length && std::memcmp(data.data(), signature.bytes, signature.length) == 0) {
            Fail(ImageErrorKind::Unsupported, std::string("not a BMP file: it is ") + signature.name);
        }
    }
    if (data.size() >= 2) {
        const std::string os2(reinterpret_cast<const char*>(data.data()), 2);
        if (os2 == "CI" || os2 == "CP" || os2 == "IC" || os2 == "PT") {
            Fail(ImageErrorKind::Unsupported, "OS/2 icons and pointers (signature \"" + os2 + "\") are not supported");
        }
    }
    char text[96];
    if (data.size() >= 2) {
        std::snprintf(text, sizeof text, "not a BMP file: it starts with bytes 0x%02X 0x%02X, not \"BM\"", data[0],
                      data[1]);
    } else {
        std::snprintf(text, sizeof text, "not a BMP file: it holds only %zu byte", data.size());
    }
    Fail(ImageErrorKind::BadHeader, text);
}

// One colour channel of a bit-field pixel. Narrow channels scale to 8 bits
// by rounding, v * 255 / (2^n - 1), so that 5-bit white is 255, not 248.
class Channel {
public:
    Channel() = default;
    explicit Channel(std::uint32_t mask) : mask_(mask)
    {
        if (mask == 0) {
            return; // an absent channel reads as 0
        }
        shift_ = std::countr_zero(mask);
        bits_ = std::popcount(mask);
        max_ = (std::uint64_t{1} << bits_) - 1;
        if (bits_ <= MaxTableBits) {
            table_.resize(static_cast<std::size_t>(max_) + 1);
            for (std::uint64_t v = 0; v <= max_; ++v) {
                table_[static_cast<std::size_t>(v)] = Scale(v);
            }
        }
    }

    std::uint8_t operator()(std::uint32_t pixel) const
    {
        const std::uint64_t v = (pixel & mask_) >> shift_;
        return table_.empty() ? Scale(v) : table_[static_cast<std::size_t>(v)];
    }

private:
    // Wider channels are rare (10-bit and up) and cheaper to compute than to tabulate.
    static constexpr int MaxTableBits = 12;

    std::uint8_t Scale(std::uint64_t v) const
    {
        return max_ == 0 ? std::uint8_t{0} : static_cast<std::uint8_t>((v * 255 + max_ / 2) / max_);
    }

    std::uint32_t mask_ = 0;
    int shift_ = 0;
    int bits_ = 0;
    std::uint64_t max_ = 0;
    std::vector<std::uint8_t> table_;
};

struct Header {
    std::size_t headerStart = 0; // of the info header
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // rows, always positive
    bool topDown = false;
    std::uint16_t bitCount = 0;
    Encoding encoding = Encoding::Rgb;
    std::uint32_t clrUsed = 0;
    std::array<std::uint32_t, 4> masks{}; // red, green, blue, alpha
    std::uint64_t paletteStart = 0;       // after the header and any masks
    std::size_t paletteEntryBytes = 4;
    std::uint64_t pixelOffset = 0;
};

Encoding EncodingOf(std::uint32_t compression, bool os2v2)
{
    if (os2v2) {
        switch (compression) {
        case BI_RGB: return Encoding::Rgb;
        case BI_RLE8: return Encoding::Rle8;
        case BI_RLE4: return Encoding::Rle4;
        case OS2_RLE24: return Encoding::Rle24;
        case OS2_HUFFMAN1D: Fail(ImageErrorKind::Unsupported, "OS/2 BMP with Huffman 1D compression is not supported");
        default:
            Fail(ImageErrorKind::Unsupported,
                 "OS/2 BMP compression " + std::to_string(compression) + " is not supported");
        }
    }
    switch (compression) {
    case BI_RGB: return Encoding::Rgb;
    case BI_RLE8: return Encoding::Rle8;
    case BI_RLE4: return Encoding::Rle4;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS: return Encoding::BitFields;
    case BI_JPEG: Fail(ImageErrorKind::Unsupported, "BMP with embedded JPEG data (BI_JPEG) is not supported");
    case BI_PNG: Fail(ImageErrorKind::Unsupported, "BMP with embedded PNG data (BI_PNG) is not supported");
    default: Fail(ImageErrorKind::Unsupported, "BMP compression " + std::to_string(compression) + " is not supported");
    }
}

bool DepthAllowed(Encoding encoding, std::uint16_t bitCount)
{
    switch (encoding) {
    case Encoding::Rgb:
        return bitCount == 1 || bitCount == 2 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
               bitCount == 32 || bitCount == 64;
    case Encoding::BitFields: return bitCount == 16 || bitCount == 32;
    case Encoding::Rle8: return bitCount == 8;
    case Encoding::Rle4: return bitCount == 4;
    case Encoding::Rle24: return bitCount == 24;
    }
    return false;
}

void CheckMasks(const Header& header)
{
    static constexpr const char* Names[] = {"red", "green", "blue", "alpha"};
    for (std::size_t i = 0; i < header.masks.size(); ++i) {
        const std::uint32_t mask = header.masks[i];
        if (mask == 0) {
            continue;
        }
        if (header.bitCount < 32 && (mask >> header.bitCount) != 0) {
            Fail(ImageErrorKind::BadHeader, std::string("BMP ") + Names[i] + " mask " + Hex32(mask) +
                                                " reaches beyond the pixel's " + std::to_string(header.bitCount) +
                                                " bits");
        }
        const std::uint32_t run = mask >> std::countr_zero(mask);
        if ((run & (run + 1)) != 0) {
            Fail(ImageErrorKind::Unsupported,
                 std::string("BMP ") + Names[i] + " mask " + Hex32(mask) + " is not one contiguous run of bits");
        }
    }
}

Header ReadHeader(std::span<const std::uint8_t> data)
{
    Header header;
    std::size_t base = 0;
    if (data.size() >= 2 && data[0] == 'B' && data[1] == 'A') {
        // An OS/2 bitmap array: a 14-byte array header, then the first
        // image's own file header. Its offsets count from the start of the
        // whole file, so reading it in place needs nothing more.
        if (data.size() < 16) {
            Fail(ImageErrorKind::Truncated, "OS/2 bitmap array header is truncated");
        }
        if (data[14] != 'B' || data[15] != 'M') {
            Fail(ImageErrorKind::Unsupported, "OS/2 bitmap array whose first image is not a bitmap is not supported");
        }
        base = 14;
    } else if (data.size() < 2 || data[0] != 'B' || data[1] != 'M') {
        if (data.empty()) {
            Fail(ImageErrorKind::Truncated, "file is empty");
        }
        FailNotBmp(data);
    }

    const std::size_t size = data.size();
    const std::uint8_t* bytes = data.data();
    if (size - base < FileHeaderBytes + 4) {
        Fail(ImageErrorKind::Truncated,
             "BMP file header is truncated: the file has " + std::to_string(size) + " bytes");
    }
    header.pixelOffset = U32(bytes + base + 10);
    header.headerStart = base + FileHeaderBytes;
    header.headerSize = U32(bytes + header.headerStart);
    switch (header.headerSize) {
    case 12:
    case 16:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124: break;
    default:
        Fail(ImageErrorKind::BadHeader, "BMP info header size of " + std::to_string(header.headerSize) +
                                            " bytes is not one of 12, 16, 40, 52, 56, 64, 108 or 124");
    }
    if (size - header.headerStart < header.headerSize) {
        Fail(ImageErrorKind::Truncated, "BMP info header of " + std::to_string(header.headerSize) +
                                            " bytes is truncated: the file has " + std::to_string(size) + " bytes");
    }

    const std::uint8_t* info = bytes + header.headerStart;
    std::uint16_t planes = 0;
    std::uint32_t compression = BI_RGB;
    if (header.headerSize == 12) {
        // OS/2 1.x / Windows 2.x: unsigned 16-bit sizes (never top-down), 3-byte palette entries.
        header.width = U16(info + 4);
        header.height = U16(info + 6);
        planes = U16(info + 8);
        header.bitCount = U16(info + 10);
        header.paletteEntryBytes = 3;
    } else {
        header.width = I32(info + 4);
        const std::int32_t height = I32(info + 8);
        planes = U16(info + 12);
        header.bitCount = U16(info + 14);
        if (header.headerSize >= 20) {
            compression = U32(info + 16);
        }
        if (header.headerSize >= 36) {
            header.clrUsed = U32(info + 32);
        }
        if (height == INT32_MIN) {
            Fail(ImageErrorKind::BadHeader, "BMP height of -2147483648 is not valid");
        }
        header.topDown = height < 0;
        header.height = height < 0 ? -static_cast<std::int64_t>(height) : height;
    }

    // 16 and 64 bytes are only ever OS/2 2.x headers, whose compression
    // numbers differ from Windows' from 3 on.
    const bool os2v2 = header.headerSize == 16 || header.headerSize == 64;
    header.encoding = EncodingOf(compression, os2v2);

    if (planes != 1) {
        Fail(ImageErrorKind::BadHeader, "BMP planes field of " + std::to_string(planes) + " is not 1");
    }
    if (header.width <= 0) {
        Fail(ImageErrorKind::BadHeader, "BMP width of " + std::to_string(header.width) + " is not valid");
    }
    if (header.height == 0) {
        Fail(ImageErrorKind::BadHeader, "BMP height of 0 is not valid");
    }
    if (!DepthAllowed(header.encoding, header.bitCount)) {
        if (header.encoding == Encoding::Rgb) {
            Fail(ImageErrorKind::Unsupported,
                 "BMP with " + std::to_string(header.bitCount) + " bits per pixel is not supported");
        }
        Fail(ImageErrorKind::Unsupported, "BMP with " + std::to_string(header.bitCount) + " bits per pixel and " +
                                              EncodingName(header.encoding) + " compression is not supported");
    }
    const bool compressed =
        header.encoding == Encoding::Rle8 || header.encoding == Encoding::Rle4 || header.encoding == Encoding::Rle24;
    if (header.topDown && compressed) {
        Fail(ImageErrorKind::BadHeader,
             std::string("top-down BMP with ") + EncodingName(header.encoding) + " compression is not valid");
    }
    const auto pixelCount = static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
    if (pixelCount > MaxPixelCount) {
        Fail(ImageErrorKind::TooLarge, "BMP of " + std::to_string(header.width) + " x " +
                                           std::to_string(header.height) + " pixels is larger than the " +
                                           std::to_string(MaxPixelCount) + " pixels this tool accepts");
    }

    std::size_t maskBytes = 0; // masks stored after a 40-byte header
    if (header.encoding == Encoding::BitFields) {
        if (header.headerSize >= 52) {
            // Masks inside the header: red, green, blue at 40, alpha at 52 from 56 bytes on.
            for (std::size_t i = 0; i < (header.headerSize >= 56 ? 4U : 3U); ++i) {
                header.masks[i] = U32(info + 40 + 4 * i);
            }
        } else {
            // A 40-byte header is followed by three masks, or four with BI_ALPHABITFIELDS.
            const std::size_t count = compression == BI_ALPHABITFIELDS ? 4 : 3;
            maskBytes = 4 * count;
            const std::size_t masksStart = header.headerStart + header.headerSize;
            if (size - masksStart < maskBytes) {
                Fail(ImageErrorKind::Truncated,
                     "BMP colour masks are truncated: the file has " + std::to_string(size) + " bytes");
            }
            for (std::size_t i = 0; i < count; ++i) {
                header.masks[i] = U32(bytes + masksStart + 4 * i);
            }
        }
        CheckMasks(header);
    } else if (header.bitCount == 16) {
        header.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (header.bitCount == 32) {
        // The fourth byte of BI_RGB is documented as unused, not alpha.
        header.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    }

    if (header.pixelOffset > size) {
        Fail(ImageErrorKind::Truncated, "BMP pixel data offset " + std::to_string(header.pixelOffset) +
                                            " is past the end of the file (" + std::to_string(size) + " bytes)");
    }
    header.paletteStart = header.headerStart + header.headerSize + maskBytes;
    if (header.pixelOffset < header.paletteStart) {
        Fail(ImageErrorKind::BadHeader, "BMP pixel data offset " + std::to_string(header.pixelOffset) +
                                            " lies inside the headers, which end at " +
                                            std::to_string(header.paletteStart));
    }
    return header;
}

// Indexed pixels look up a full 256-entry table, so that an index past the
// file's palette reads as black rather than past the table.
using Palette = std::array<Pixel, 256>;

std::size_t ReadPalette(std::span<const std::uint8_t> data, const Header& header, Palette& palette)
{
    palette.fill(Black);
    if (header.bitCount > 8) {
        return 0; // a colour table beside 16 bits and up is only a display hint
    }
    // ClrUsed, or 2^bpp when 0, and never more than that: writers that store
    // more (300 entries for 8 bits) still keep pixel data at bfOffBits. OS/2
    // 1.x headers have no ClrUsed, and some writers store fewer entries than
    // 2^bpp, so the room before the pixel data caps the count too.
    const std::uint64_t maxEntries = std::uint64_t{1} << header.bitCount;
    std::uint64_t entries = header.clrUsed == 0 || header.clrUsed > maxEntries ? maxEntries : header.clrUsed;
    entries = std::min<std::uint64_t>(entries, (header.pixelOffset - header.paletteStart) / header.paletteEntryBytes);
    if (entries == 0) {
        Fail(ImageErrorKind::BadHeader,
             "BMP with " + std::to_string(header.bitCount) + " bits per pixel has no room for its colour palette");
    }
    const std::uint8_t* entry = data.data() + header.paletteStart;
    for (std::size_t i = 0; i < entries; ++i, entry += header.paletteEntryBytes) {
        palette[i] = {entry[0], entry[1], entry[2]};
    }
    return static_cast<std::size_t>(entries);
}

// Linear-light s2.13 samples of 64-bit BMPs (8192 = 1.0), clamped to 0..1,
// to 8-bit sRGB.
const std::array<std::uint8_t, 8193>& LinearToSrgbTable()
{
    static const auto table = [] {
        std::array<std::uint8_t, 8193> result{};
        for (std::size_t i = 0; i < result.size(); ++i) {
            const double linear = static_cast<double>(i) / 8192.0;
            const double srgb = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
            result[i] = static_cast<std::uint8_t>(std::lround(std::clamp(srgb, 0.0, 1.0) * 255.0));
        }
        return result;
    }();
    return table;
}

std::uint8_t LinearSample(const std::uint8_t* p)
{
    const auto sample = static_cast<std::int16_t>(U16(p));
    return LinearToSrgbTable()[static_cast<std::size_t>(std::clamp<std::int32_t>(sample, 0, 8192))];
}

Bitmap DecodeUncompressed(std::span<const std::uint8_t> data, const Header& header, const Palette& palette)
{
    const auto width = static_cast<std::uint64_t>(header.width);
    const auto height = static_cast<std::uint64_t>(header.height);
    const std::uint64_t stride = (width * header.bitCount + 31) / 32 * 4;
    // The last row's padding is not required: some writers leave it out.
    const std::uint64_t lastRowBytes = (width * header.bitCount + 7) / 8;
    const std::uint64_t available = data.size() - header.pixelOffset;
    if (stride * (height - 1) > available || lastRowBytes > available - stride * (height - 1)) {
        Fail(ImageErrorKind::Truncated,
             "BMP pixel data is truncated: " + std::to_string(width) + " x " + std::to_string(height) + " pixels at " +
                 std::to_string(header.bitCount) + " bits per pixel need " +
                 std::to_string(stride * (height - 1) + lastRowBytes) + " bytes from offset " +
                 std::to_string(header.pixelOffset) + ", the file holds " + std::to_string(available));
    }

    Bitmap bitmap(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), Black);
    const Channel red(header.masks[0]);
    const Channel green(header.masks[1]);
    const Channel blue(header.masks[2]);
    const bool plain32 =
        header.masks[0] == 0x00FF0000 && header.masks[1] == 0x0000FF00 && header.masks[2] == 0x000000FF;
    const auto w = static_cast<std::size_t>(width);

    for (std::uint64_t fileRow = 0; fileRow < height; ++fileRow) {
        const std::uint8_t* src = data.data() + header.pixelOffset + fileRow * stride;
        const auto y = static_cast<std::int32_t>(header.topDown ? fileRow : height - 1 - fileRow);
        Pixel* dst = bitmap.Row(y);
        switch (header.bitCount) {
        case 1:
        case 2:
        case 4:
        case 8: {
            // Packed from the most significant bits: the high nibble is the first pixel.
            const int bits = header.bitCount;
            const unsigned indexMask = (1U << bits) - 1;
            for (std::size_t x = 0; x < w; ++x) {
                const std::size_t bitPos = x * static_cast<std::size_t>(bits);
                const int shift = 8 - bits - static_cast<int>(bitPos % 8);
                dst[x] = palette[(src[bitPos / 8] >> shift) & indexMask];
            }
            break;
        }
        case 16:
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint32_t value = U16(src + 2 * x);
                dst[x] = {blue(value), green(value), red(value)};
            }
            break;
        case 24: std::memcpy(dst, src, w * sizeof(Pixel)); break;
        case 32:
            if (plain32) {
                for (std::size_t x = 0; x < w; ++x) {
                    dst[x] = {src[4 * x], src[4 * x + 1], src[4 * x + 2]};
                }
            } else {
                for (std::size_t x = 0; x < w; ++x) {
                    const std::uint32_t value = U32(src + 4 * x);
                    dst[x] = {blue(value), green(value), red(value)};
                }
            }
            break;
        case 64:
            for (std::size_t x = 0; x < w; ++x) {
                dst[x] = {LinearSample(src + 8 * x), LinearSample(src + 8 * x + 2), LinearSample(src + 8 * x + 4)};
            }
            break;
        default: break; // ruled out by DepthAllowed
        }
    }
    return bitmap;
}

// RLE output fills rows in file order (the bottom row first); runs and deltas
// that reach past a row or the image are clipped. Pixels the data never sets
// (end of line, end of bitmap, delta) keep palette colour 0.
class RleWriter {
public:
    RleWriter(Bitmap& bitmap) : bitmap_(bitmap) {}

    bool Done() const { return y_ >= bitmap_.Height(); }
    bool Complete() const { return Done() || (y_ == bitmap_.Height() - 1 && x_ >= bitmap_.Width()); }
    std::int64_t Row() const { return y_; }

    // Calls colourAt(i) for the i-th of `count` pixels that land inside the row.
    template <typename ColourAt> void Put(std::int64_t count, ColourAt colourAt)
    {
        if (!Done() && x_ < bitmap_.Width()) {
            const std::int64_t inside = std::min<std::int64_t>(count, bitmap_.Width() - x_);
            Pixel* dst = bitmap_.Row(bitmap_.Height() - 1 - static_cast<std::int32_t>(y_)) + x_;
            for (std::int64_t i = 0; i < inside; ++i) {
                dst[i] = colourAt(i);
            }
        }
        x_ += count;
    }

    void EndOfLine()
    {
        x_ = 0;
        ++y_;
    }

    void Delta(std::uint8_t dx, std::uint8_t dy)
    {
        x_ += dx;
        y_ += dy;
    }

private:
    Bitmap& bitmap_;
    std::int64_t x_ = 0;
    std::int64_t y_ = 0;
};

Bitmap DecodeRle(std::span<const std::uint8_t> data, const Header& header, const Palette& palette,
                 std::size_t paletteEntries)
{
    Bitmap bitmap(static_cast<std::int32_t>(header.width), static_cast<std::int32_t>(header.height),
                  paletteEntries > 0 ? palette[0] : Black);
    RleWriter writer(bitmap);
    const std::uint8_t* p = data.data();
    std::size_t pos = static_cast<std::size_t>(header.pixelOffset);
    const std::size_t end = data.size();
    const Encoding encoding = header.encoding;
    bool endOfBitmap = false;

    // Every pass consumes at least two bytes and writes at most one row's
    // worth of pixels, so no input can make this loop run long.
    while (!endOfBitmap && !writer.Done() && end - pos >= 2) {
        const std::uint8_t count = p[pos];
        const std::uint8_t code = p[pos + 1];
        pos += 2;
        if (count > 0) {
            if (encoding == Encoding::Rle8) {
                writer.Put(count, [&](std::int64_t) { return palette[code]; });
            } else if (encoding == Encoding::Rle4) {
                const Pixel pair[2] = {palette[code >> 4], palette[code & 0x0F]};
                writer.Put(count, [&](std::int64_t i) { return pair[i & 1]; });
            } else {
                // RLE24: the count, then one pixel stored blue, green, red.
                if (end - pos < 2) {
                    break;
                }
                const Pixel colour{code, p[pos], p[pos + 1]};
                pos += 2;
                writer.Put(count, [&](std::int64_t) { return colour; });
            }
            continue;
        }
        switch (code) {
        case 0: writer.EndOfLine(); break;
        case 1: endOfBitmap = true; break;
        case 2:
            if (end - pos < 2) {
                pos = end;
                break;
            }
            // dy counts rows further in file order, i.e. up the picture.
            writer.Delta(p[pos], p[pos + 1]);
            pos += 2;
            break;
        default: {
            // An absolute run of `code` pixels, padded to a 16-bit boundary.
            const std::size_t bytes = encoding == Encoding::Rle8   ? code
                                      : encoding == Encoding::Rle4 ? (code + 1U) / 2
                                                                   : 3U * code;
            if (end - pos < bytes) {
                pos = end;
                break;
            }
            const std::uint8_t* run = p + pos;
            if (encoding == Encoding::Rle8) {
                writer.Put(code, [&](std::int64_t i) { return palette[run[i]]; });
            } else if (encoding == Encoding::Rle4) {
                writer.Put(code,
                           [&](std::int64_t i) { return palette[(run[i / 2] >> ((i & 1) != 0 ? 0 : 4)) & 0x0F]; });
            } else {
                writer.Put(code, [&](std::int64_t i) { return Pixel{run[3 * i], run[3 * i + 1], run[3 * i + 2]}; });
            }
            pos += std::min(bytes + (bytes & 1U), end - pos);
            break;
        }
        }
    }
    if (!endOfBitmap && !writer.Complete()) {
        Fail(ImageErrorKind::Truncated, std::string("BMP ") + EncodingName(encoding) + " data ends at row " +
                                            std::to_string(writer.Row()) + " of " + std::to_string(header.height) +
                                            " without an end-of-bitmap code");
    }
    return bitmap;
}

} // namespace

Bitmap DecodeBmp(std::span<const std::uint8_t> data)
{
    const Header header = ReadHeader(data);
    Palette palette;
    const std::size_t paletteEntries = ReadPalette(data, header, palette);
    switch (header.encoding) {
    case Encoding::Rle8:
    case Encoding::Rle4:
    case Encoding::Rle24: return DecodeRle(data, header, palette, paletteEntries);
    case Encoding::Rgb:
    case Encoding::BitFields: break;
    }
    return DecodeUncompressed(data, header, palette);
}

} // namespace Graphics
