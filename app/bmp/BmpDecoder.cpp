// SPDX-License-Identifier: MIT
// Reads the BMP variants that Windows, OS/2 and Windows CE write: header
// sizes 12 to 124, 1 to 64 bits per pixel, RLE4/RLE8/RLE24 and bit fields.
// Files that embed JPEG or PNG data, and OS/2 Huffman 1D files, are refused
// by name. What the decoder does at each corner of the format, and why, is in
// docs/bmp-decisions.md.
//
// Every field is read through a ByteReader that checks the bytes exist, and
// every length and offset taken from the file is checked against the bytes
// present, in subtraction or division form and in 64 bits, before it is used.

#include "BmpCodec.h"

#include "ImageError.h"
#include "Words.h"

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
constexpr std::size_t BitmapArrayHeaderBytes = 14;

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
    static constexpr const char* Names[] = {"BI_RGB", "BI_BITFIELDS", "BI_RLE8", "BI_RLE4", "RLE24"};
    return Names[static_cast<int>(encoding)];
}

bool IsRle(Encoding encoding)
{
    return encoding == Encoding::Rle8 || encoding == Encoding::Rle4 || encoding == Encoding::Rle24;
}

[[noreturn]] void Fail(ImageErrorKind kind, const char* format, std::vector<std::string> args = {})
{
    throw ImageError(kind, format, std::move(args));
}

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string Hex8(std::uint8_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::uint16_t LittleU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t LittleU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Little-endian reads from one structure of the file, each checked against
// the bytes the file holds. A read past them is a Truncated error that names
// the structure, so no caller has to check a length first.
class ByteReader {
public:
    // The structure starts at `start` in `file`. `truncated` says it is cut
    // short, with the file's size in place 1 and `args` in the places after.
    ByteReader(std::span<const std::uint8_t> file, std::size_t start, const char* truncated,
               std::vector<std::string> args = {})
        : file_(file), start_(start), truncated_(truncated), args_(std::move(args))
    {
    }

    // Fails unless the structure's first `length` bytes are all in the file.
    void Require(std::uint64_t length) const
    {
        if (start_ > file_.size() || length > file_.size() - start_) {
            std::vector<std::string> args = {std::to_string(file_.size())};
            args.insert(args.end(), args_.begin(), args_.end());
            Fail(ImageErrorKind::Truncated, truncated_, std::move(args));
        }
    }

    std::uint16_t U16(std::size_t offset) const
    {
        Require(offset + 2);
        return LittleU16(file_.data() + start_ + offset);
    }
    std::uint32_t U32(std::size_t offset) const
    {
        Require(offset + 4);
        return LittleU32(file_.data() + start_ + offset);
    }
    std::int32_t I32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }

private:
    std::span<const std::uint8_t> file_;
    std::size_t start_;
    const char* truncated_;
    std::vector<std::string> args_;
};

// Names the format when the file is some other well-known kind of picture,
// since "key.bmp" is often a PNG or JPEG that was merely renamed.
[[noreturn]] void FailNotBmp(std::span<const std::uint8_t> data)
{
    struct Signature {
        const char* bytes;
        std::size_t length;
        const char* refusal;
    };
    static constexpr Signature Known[] = {
        {"\x89PNG\r\n\x1A\n", 8, N_("not a BMP file: it is a PNG image")},
        {"\xFF\xD8\xFF", 3, N_("not a BMP file: it is a JPEG image")},
        {"GIF87a", 6, N_("not a BMP file: it is a GIF image")},
        {"GIF89a", 6, N_("not a BMP file: it is a GIF image")},
        {"II*\0", 4, N_("not a BMP file: it is a TIFF image")},
        {"MM\0*", 4, N_("not a BMP file: it is a TIFF image")},
        {"\0\0\1\0", 4, N_("not a BMP file: it is a Windows icon")},
        {"RIFF", 4, N_("not a BMP file: it is a RIFF file (WebP or similar)")},
    };
    for (const Signature& signature : Known) {
        if (data.size() >= signature.length && std::memcmp(data.data(), signature.bytes, signature.length) == 0) {
            Fail(ImageErrorKind::Unsupported, signature.refusal);
        }
    }
    if (data.size() < 2) {
        // Too short to hold a signature at all, like an empty file.
        Fail(ImageErrorKind::Truncated, N_("not a BMP file: it holds only %1$s byte"), {std::to_string(data.size())});
    }
    const std::string os2(reinterpret_cast<const char*>(data.data()), 2);
    if (os2 == "CI" || os2 == "CP" || os2 == "IC" || os2 == "PT") {
        Fail(ImageErrorKind::Unsupported, N_("OS/2 icons and pointers (signature \"%1$s\") are not supported"), {os2});
    }
    Fail(ImageErrorKind::BadHeader, N_("not a BMP file: it starts with bytes %1$s %2$s, not \"BM\""),
         {Hex8(data[0]), Hex8(data[1])});
}

// --- Headers -------------------------------------------------------------
// Each step reads or decides one thing and hands it on as a value.

// BITMAPFILEHEADER: "BM", bfSize, two reserved fields, bfOffBits. bfSize and
// the reserved fields are not read: writers fill them unreliably.
struct FileHeader {
    std::size_t start = 0; // 14 inside an OS/2 bitmap array
    std::uint32_t bfOffBits = 0;
};

FileHeader ReadFileHeader(std::span<const std::uint8_t> data)
{
    FileHeader header;
    if (data.size() >= 2 && data[0] == 'B' && data[1] == 'A') {
        // An OS/2 bitmap array: a 14-byte array header, then the first
        // image's own file header. Its offsets count from the start of the
        // whole file, so reading it in place needs nothing more.
        if (data.size() < BitmapArrayHeaderBytes + 2) {
            Fail(ImageErrorKind::Truncated, N_("OS/2 bitmap array header is truncated"));
        }
        if (data[14] != 'B' || data[15] != 'M') {
            Fail(ImageErrorKind::Unsupported,
                 N_("OS/2 bitmap array whose first image is not a bitmap is not supported"));
        }
        header.start = BitmapArrayHeaderBytes;
    } else if (data.size() < 2 || data[0] != 'B' || data[1] != 'M') {
        if (data.empty()) {
            Fail(ImageErrorKind::Truncated, N_("file is empty"));
        }
        FailNotBmp(data);
    }
    // The info header's size field is needed to go on, so it counts as part of this step.
    const ByteReader reader(data, header.start, N_("BMP file header is truncated: the file has %1$s bytes"));
    reader.Require(FileHeaderBytes + 4);
    header.bfOffBits = reader.U32(10);
    return header;
}

// The info header's fields as the format names them, whichever of its
// layouts the file uses. Fields a layout lacks stay 0; so do the masks
// unless the header holds them. The V4/V5 colour-space, gamma, intent and
// profile fields are not read: the picture is drawn in the file's own values.
struct InfoHeader {
    std::size_t start = 0;
    std::uint32_t biSize = 0;
    std::int64_t biWidth = 0;
    std::int64_t biHeight = 0; // negative: rows stored top-down
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = BI_RGB;
    std::uint32_t biClrUsed = 0;
    std::array<std::uint32_t, 4> headerMasks{}; // red, green, blue, alpha, from 52 bytes on
};

InfoHeader ReadInfoHeader(std::span<const std::uint8_t> data, const FileHeader& file)
{
    InfoHeader info;
    info.start = file.start + FileHeaderBytes;
    info.biSize = ByteReader(data, info.start, N_("BMP file header is truncated: the file has %1$s bytes")).U32(0);
    switch (info.biSize) {
    case 12:  // BITMAPCOREHEADER (OS/2 1.x, Windows 2.x)
    case 16:  // OS/2 2.x, shortened
    case 40:  // BITMAPINFOHEADER
    case 52:  // + RGB masks
    case 56:  // + alpha mask
    case 64:  // OS/2 2.x BITMAPINFOHEADER2
    case 108: // BITMAPV4HEADER
    case 124: // BITMAPV5HEADER
        break;
    default:
        Fail(ImageErrorKind::BadHeader,
             N_("BMP info header size of %1$s bytes is not one of 12, 16, 40, 52, 56, 64, 108 or 124"),
             {std::to_string(info.biSize)});
    }
    const ByteReader reader(data, info.start, N_("BMP info header of %2$s bytes is truncated: the file has %1$s bytes"),
                            {std::to_string(info.biSize)});
    reader.Require(info.biSize);
    if (info.biSize == 12) {
        // Unsigned 16-bit sizes: a core header cannot say top-down.
        info.biWidth = reader.U16(4);
        info.biHeight = reader.U16(6);
        info.biPlanes = reader.U16(8);
        info.biBitCount = reader.U16(10);
        return info;
    }
    info.biWidth = reader.I32(4);
    info.biHeight = reader.I32(8);
    info.biPlanes = reader.U16(12);
    info.biBitCount = reader.U16(14);
    if (info.biSize >= 20) {
        info.biCompression = reader.U32(16);
    }
    if (info.biSize >= 36) {
        info.biClrUsed = reader.U32(32);
    }
    if (info.biHeight == INT32_MIN) {
        Fail(ImageErrorKind::BadHeader, N_("BMP height of %1$s is not valid"), {"-2147483648"});
    }
    if (info.biSize >= 52) {
        for (std::size_t i = 0; i < (info.biSize >= 56 ? 4U : 3U); ++i) {
            info.headerMasks[i] = reader.U32(40 + 4 * i);
        }
    }
    return info;
}

Encoding EncodingOf(std::uint32_t compression, bool os2v2)
{
    if (os2v2) {
        switch (compression) {
        case BI_RGB: return Encoding::Rgb;
        case BI_RLE8: return Encoding::Rle8;
        case BI_RLE4: return Encoding::Rle4;
        case OS2_RLE24: return Encoding::Rle24;
        case OS2_HUFFMAN1D:
            Fail(ImageErrorKind::Unsupported, N_("OS/2 BMP with Huffman 1D compression is not supported"));
        default:
            Fail(ImageErrorKind::Unsupported, N_("OS/2 BMP compression %1$s is not supported"),
                 {std::to_string(compression)});
        }
    }
    switch (compression) {
    case BI_RGB: return Encoding::Rgb;
    case BI_RLE8: return Encoding::Rle8;
    case BI_RLE4: return Encoding::Rle4;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS: return Encoding::BitFields;
    case BI_JPEG: Fail(ImageErrorKind::Unsupported, N_("BMP with embedded JPEG data (BI_JPEG) is not supported"));
    case BI_PNG: Fail(ImageErrorKind::Unsupported, N_("BMP with embedded PNG data (BI_PNG) is not supported"));
    default:
        Fail(ImageErrorKind::Unsupported, N_("BMP compression %1$s is not supported"), {std::to_string(compression)});
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

// What the header says, decided: the picture's size and row order, how its
// pixels are stored, and that this reader takes them.
struct Format {
    std::int64_t width = 0;
    std::int64_t height = 0; // rows, always positive
    bool topDown = false;
    std::uint16_t bitCount = 0;
    Encoding encoding = Encoding::Rgb;
    bool rle = false;
};

Format CheckFormat(const InfoHeader& info)
{
    Format format;
    // 16 and 64 bytes are only ever OS/2 2.x headers, whose compression
    // numbers differ from Windows' from 3 on.
    format.encoding = EncodingOf(info.biCompression, info.biSize == 16 || info.biSize == 64);
    format.rle = IsRle(format.encoding);
    format.width = info.biWidth;
    format.height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
    format.topDown = info.biHeight < 0;
    format.bitCount = info.biBitCount;

    if (info.biPlanes != 1) {
        Fail(ImageErrorKind::BadHeader, N_("BMP planes field of %1$s is not 1"), {std::to_string(info.biPlanes)});
    }
    if (format.width <= 0) {
        Fail(ImageErrorKind::BadHeader, N_("BMP width of %1$s is not valid"), {std::to_string(format.width)});
    }
    if (format.height == 0) {
        Fail(ImageErrorKind::BadHeader, N_("BMP height of %1$s is not valid"), {"0"});
    }
    if (!DepthAllowed(format.encoding, format.bitCount)) {
        if (format.encoding == Encoding::Rgb) {
            Fail(ImageErrorKind::Unsupported, N_("BMP with %1$s bits per pixel is not supported"),
                 {std::to_string(format.bitCount)});
        }
        Fail(ImageErrorKind::Unsupported, N_("BMP with %1$s bits per pixel and %2$s compression is not supported"),
             {std::to_string(format.bitCount), EncodingName(format.encoding)});
    }
    if (format.topDown && format.rle) {
        Fail(ImageErrorKind::BadHeader, N_("top-down BMP with %1$s compression is not valid"),
             {EncodingName(format.encoding)});
    }
    // Decided here, before any pixel memory exists.
    const auto pixelCount = static_cast<std::uint64_t>(format.width) * static_cast<std::uint64_t>(format.height);
    if (pixelCount > MaxPixelCount) {
        Fail(ImageErrorKind::TooLarge, N_("BMP of %1$s x %2$s pixels is larger than the %3$s pixels this tool accepts"),
             {std::to_string(format.width), std::to_string(format.height), std::to_string(MaxPixelCount)});
    }
    return format;
}

// Red, green, blue and alpha masks, with the bytes they take after the header.
struct Masks {
    std::array<std::uint32_t, 4> rgba{};
    std::size_t bytesAfterHeader = 0;
};

void CheckMasks(const std::array<std::uint32_t, 4>& masks, std::uint16_t bitCount)
{
    // TRANSLATORS: the colour channels a BMP's masks pick out of a pixel.
    static constexpr const char* Names[] = {N_("red"), N_("green"), N_("blue"), N_("alpha")};
    for (std::size_t i = 0; i < masks.size(); ++i) {
        const std::uint32_t mask = masks[i];
        if (mask == 0) {
            continue; // an absent channel
        }
        if (bitCount < 32 && (mask >> bitCount) != 0) {
            Fail(ImageErrorKind::BadHeader, N_("BMP %1$s mask %2$s reaches beyond the pixel's %3$s bits"),
                 {Names[i], Hex32(mask), std::to_string(bitCount)});
        }
        const std::uint32_t run = mask >> std::countr_zero(mask);
        if ((run & (run + 1)) != 0) {
            Fail(ImageErrorKind::Unsupported, N_("BMP %1$s mask %2$s is not one contiguous run of bits"),
                 {Names[i], Hex32(mask)});
        }
    }
}

// The alpha mask is read and checked like the others, but the picture has
// no use for transparency.
Masks ReadMasks(std::span<const std::uint8_t> data, const InfoHeader& info, const Format& format)
{
    Masks result;
    if (format.encoding != Encoding::BitFields) {
        // BI_RGB's fixed layouts. The fourth byte of 32-bit BI_RGB is documented as unused, not alpha.
        if (format.bitCount == 16) {
            result.rgba = {0x7C00, 0x03E0, 0x001F, 0};
        } else if (format.bitCount == 32) {
            result.rgba = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
        }
        return result;
    }
    if (info.biSize >= 52) {
        result.rgba = info.headerMasks;
    } else {
        // After a 40-byte header: three masks, or four with BI_ALPHABITFIELDS.
        const std::size_t count = info.biCompression == BI_ALPHABITFIELDS ? 4 : 3;
        const ByteReader reader(data, info.start + info.biSize,
                                N_("BMP colour masks are truncated: the file has %1$s bytes"));
        reader.Require(4 * count);
        for (std::size_t i = 0; i < count; ++i) {
            result.rgba[i] = reader.U32(4 * i);
        }
        result.bytesAfterHeader = 4 * count;
    }
    CheckMasks(result.rgba, format.bitCount);
    return result;
}

// Where the palette and the pixels start. The pixels start at bfOffBits,
// which may leave a gap after the palette, but never inside the headers.
struct Offsets {
    std::uint64_t paletteStart = 0;
    std::uint64_t pixelStart = 0;
};

Offsets CheckOffsets(std::uint64_t fileSize, const FileHeader& file, const InfoHeader& info, const Masks& masks)
{
    Offsets offsets;
    offsets.pixelStart = file.bfOffBits;
    if (offsets.pixelStart > fileSize) {
        Fail(ImageErrorKind::Truncated, N_("BMP pixel data offset %1$s is past the end of the file (%2$s bytes)"),
             {std::to_string(offsets.pixelStart), std::to_string(fileSize)});
    }
    offsets.paletteStart = info.start + info.biSize + masks.bytesAfterHeader;
    if (offsets.pixelStart < offsets.paletteStart) {
        Fail(ImageErrorKind::BadHeader, N_("BMP pixel data offset %1$s lies inside the headers, which end at %2$s"),
             {std::to_string(offsets.pixelStart), std::to_string(offsets.paletteStart)});
    }
    return offsets;
}

// Indexed pixels look up a full 256-entry table, so that an index past the
// file's palette reads as black rather than past the table.
using Palette = std::array<Pixel, 256>;

Palette ReadPalette(std::span<const std::uint8_t> data, const InfoHeader& info, const Format& format,
                    const Offsets& offsets)
{
    Palette palette;
    palette.fill(Black);
    if (format.bitCount > 8) {
        return palette; // a colour table beside 16 bits and up is only a display hint
    }
    // biClrUsed, or 2^bpp when 0, and never more than that: writers that store
    // more (300 entries for 8 bits) still keep pixel data at bfOffBits. Core
    // headers have no biClrUsed, and some writers store fewer entries than
    // 2^bpp, so the room before the pixel data caps the count too.
    const std::size_t entryBytes = info.biSize == 12 ? 3 : 4; // RGBTRIPLE or RGBQUAD
    const std::uint64_t maxEntries = std::uint64_t{1} << format.bitCount;
    std::uint64_t entries = info.biClrUsed == 0 || info.biClrUsed > maxEntries ? maxEntries : info.biClrUsed;
    entries = std::min<std::uint64_t>(entries, (offsets.pixelStart - offsets.paletteStart) / entryBytes);
    if (entries == 0) {
        Fail(ImageErrorKind::BadHeader, N_("BMP with %1$s bits per pixel has no room for its colour palette"),
             {std::to_string(format.bitCount)});
    }
    const std::uint8_t* entry = data.data() + offsets.paletteStart;
    for (std::size_t i = 0; i < entries; ++i, entry += entryBytes) {
        palette[i] = {entry[0], entry[1], entry[2]}; // blue, green, red
    }
    return palette;
}

// --- Uncompressed pixels -------------------------------------------------

// One colour channel of a bit-field pixel. Narrow channels scale to 8 bits
// by rounding, v * 255 / (2^n - 1), so that 5-bit white is 255, not 248.
class Channel {
public:
    explicit Channel(std::uint32_t mask) : mask_(mask)
    {
        if (mask == 0) {
            return; // an absent channel reads as 0
        }
        shift_ = std::countr_zero(mask);
        max_ = (std::uint64_t{1} << std::popcount(mask)) - 1;
        if (max_ < (std::uint64_t{1} << MaxTableBits)) {
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
    std::uint64_t max_ = 0;
    std::vector<std::uint8_t> table_;
};

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
    const auto sample = static_cast<std::int16_t>(LittleU16(p));
    return LinearToSrgbTable()[static_cast<std::size_t>(std::clamp<std::int32_t>(sample, 0, 8192))];
}

// Converts the stored rows of each depth. The caller has checked that every
// row it hands over lies in the file.
class RowDecoder {
public:
    RowDecoder(const Format& format, const Masks& masks, const Palette& palette)
        : bitCount_(format.bitCount), palette_(palette), red_(masks.rgba[0]), green_(masks.rgba[1]),
          blue_(masks.rgba[2]),
          plain32_(masks.rgba[0] == 0x00FF0000 && masks.rgba[1] == 0x0000FF00 && masks.rgba[2] == 0x000000FF)
    {
    }

    void operator()(const std::uint8_t* src, Pixel* dst, std::size_t width) const
    {
        switch (bitCount_) {
        case 1:
        case 2:
        case 4:
        case 8: Indexed(src, dst, width); break;
        case 16:
            for (std::size_t x = 0; x < width; ++x) {
                dst[x] = FromFields(LittleU16(src + 2 * x));
            }
            break;
        case 24: std::memcpy(dst, src, width * sizeof(Pixel)); break; // stored blue, green, red as Pixel is
        case 32:
            if (plain32_) {
                for (std::size_t x = 0; x < width; ++x) {
                    dst[x] = {src[4 * x], src[4 * x + 1], src[4 * x + 2]};
                }
            } else {
                for (std::size_t x = 0; x < width; ++x) {
                    dst[x] = FromFields(LittleU32(src + 4 * x));
                }
            }
            break;
        case 64:
            for (std::size_t x = 0; x < width; ++x) {
                dst[x] = {LinearSample(src + 8 * x), LinearSample(src + 8 * x + 2), LinearSample(src + 8 * x + 4)};
            }
            break;
        default: break; // ruled out by DepthAllowed
        }
    }

private:
    // Packed from the most significant bits: the high nibble is the first pixel.
    void Indexed(const std::uint8_t* src, Pixel* dst, std::size_t width) const
    {
        const unsigned indexMask = (1U << bitCount_) - 1;
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t bitPos = x * static_cast<std::size_t>(bitCount_);
            const int shift = 8 - bitCount_ - static_cast<int>(bitPos % 8);
            dst[x] = palette_[(src[bitPos / 8] >> shift) & indexMask];
        }
    }

    Pixel FromFields(std::uint32_t value) const { return {blue_(value), green_(value), red_(value)}; }

    int bitCount_;
    const Palette& palette_;
    Channel red_;
    Channel green_;
    Channel blue_;
    bool plain32_;
};

std::uint64_t Stride(const Format& format)
{
    return (static_cast<std::uint64_t>(format.width) * format.bitCount + 31) / 32 * 4;
}

// The bytes of uncompressed pixel data, checked against what the file holds.
// The last row's padding is not required: some writers leave it out.
std::uint64_t CheckPixelBytes(std::uint64_t fileSize, const Format& format, const Offsets& offsets)
{
    const auto width = static_cast<std::uint64_t>(format.width);
    const auto height = static_cast<std::uint64_t>(format.height);
    const std::uint64_t stride = Stride(format);
    const std::uint64_t lastRowBytes = (width * format.bitCount + 7) / 8;
    const std::uint64_t available = fileSize - offsets.pixelStart;
    if (height - 1 > available / stride || lastRowBytes > available - stride * (height - 1)) {
        Fail(ImageErrorKind::Truncated,
             N_("BMP pixel data is truncated: %1$s x %2$s pixels at %3$s bits per pixel need %4$s bytes from "
                "offset %5$s, the file holds %6$s"),
             {std::to_string(width), std::to_string(height), std::to_string(format.bitCount),
              std::to_string(stride * (height - 1) + lastRowBytes), std::to_string(offsets.pixelStart),
              std::to_string(available)});
    }
    return stride * (height - 1) + lastRowBytes;
}

Bitmap DecodeUncompressed(std::span<const std::uint8_t> data, const Format& format, const Masks& masks,
                          const Palette& palette, const Offsets& offsets)
{
    const auto width = static_cast<std::uint64_t>(format.width);
    const auto height = static_cast<std::uint64_t>(format.height);
    const std::uint64_t stride = Stride(format);
    Bitmap bitmap(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), Black);
    const RowDecoder decodeRow(format, masks, palette);
    for (std::uint64_t fileRow = 0; fileRow < height; ++fileRow) {
        const auto y = static_cast<std::int32_t>(format.topDown ? fileRow : height - 1 - fileRow);
        decodeRow(data.data() + offsets.pixelStart + fileRow * stride, bitmap.Row(y), static_cast<std::size_t>(width));
    }
    return bitmap;
}

// --- RLE pixels ------------------------------------------------------------

// RLE output fills rows in file order (the bottom row first); runs and deltas
// that reach past a row or the image are clipped. Pixels the data never sets
// (end of line, end of bitmap, delta) keep palette colour 0.
class RleWriter {
public:
    explicit RleWriter(Bitmap& bitmap) : bitmap_(bitmap) {}

    bool PastLastRow() const { return y_ >= bitmap_.Height(); }
    // Every pixel position reached: the picture needs no end-of-bitmap code.
    bool ReachedLastPixel() const { return PastLastRow() || (y_ == bitmap_.Height() - 1 && x_ >= bitmap_.Width()); }
    std::int64_t FileRow() const { return y_; }

    // Calls colourAt(i) for the i-th of `count` pixels that land inside the row.
    template <typename ColourAt> void Put(std::int64_t count, ColourAt colourAt)
    {
        if (!PastLastRow() && x_ < bitmap_.Width()) {
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

    // dy counts rows further in file order, i.e. up the picture.
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

// Walks RLE4, RLE8 or OS/2 RLE24 data. A code that the data ends in the
// middle of ends the walk; whether the picture was finished is decided after.
class RleDecoder {
public:
    RleDecoder(std::span<const std::uint8_t> data, std::size_t start, Encoding encoding, const Palette& palette,
               Bitmap& bitmap)
        : data_(data), pos_(start), encoding_(encoding), palette_(palette), writer_(bitmap)
    {
    }

    void Run()
    {
        // Every pass consumes at least two bytes and writes at most one row's
        // worth of pixels, so no input can make this loop run long.
        while (!endOfBitmap_ && !writer_.PastLastRow() && Left() >= 2) {
            const std::uint8_t count = data_[pos_];
            const std::uint8_t code = data_[pos_ + 1];
            pos_ += 2;
            if (count > 0) {
                EncodedRun(count, code);
            } else {
                Escape(code);
            }
        }
    }

    // The data ended the picture: with an end-of-bitmap code, or by reaching its last pixel.
    bool PictureEnded() const { return endOfBitmap_ || writer_.ReachedLastPixel(); }
    std::int64_t FileRow() const { return writer_.FileRow(); }

private:
    std::size_t Left() const { return data_.size() - pos_; }

    // `count` pixels of one colour; RLE4 alternates the two in `code`.
    void EncodedRun(std::uint8_t count, std::uint8_t code)
    {
        if (encoding_ == Encoding::Rle8) {
            writer_.Put(count, [&](std::int64_t) { return palette_[code]; });
        } else if (encoding_ == Encoding::Rle4) {
            const Pixel pair[2] = {palette_[code >> 4], palette_[code & 0x0F]};
            writer_.Put(count, [&](std::int64_t i) { return pair[i & 1]; });
        } else if (Left() < 2) {
            pos_ = data_.size(); // RLE24: the pixel after the count is cut off
        } else {
            // RLE24: the count, then one pixel stored blue, green, red.
            const Pixel colour{code, data_[pos_], data_[pos_ + 1]};
            pos_ += 2;
            writer_.Put(count, [&](std::int64_t) { return colour; });
        }
    }

    void Escape(std::uint8_t code)
    {
        switch (code) {
        case 0: writer_.EndOfLine(); break;
        case 1: endOfBitmap_ = true; break;
        case 2:
            if (Left() < 2) {
                pos_ = data_.size();
                break;
            }
            writer_.Delta(data_[pos_], data_[pos_ + 1]);
            pos_ += 2;
            break;
        default: AbsoluteRun(code); break;
        }
    }

    // `count` pixels stored one by one, padded to a 16-bit boundary.
    void AbsoluteRun(std::uint8_t count)
    {
        const std::size_t bytes = encoding_ == Encoding::Rle8   ? count
                                  : encoding_ == Encoding::Rle4 ? (count + 1U) / 2
                                                                : 3U * count;
        if (Left() < bytes) {
            pos_ = data_.size();
            return;
        }
        const std::uint8_t* run = data_.data() + pos_;
        if (encoding_ == Encoding::Rle8) {
            writer_.Put(count, [&](std::int64_t i) { return palette_[run[i]]; });
        } else if (encoding_ == Encoding::Rle4) {
            writer_.Put(count, [&](std::int64_t i) { return palette_[(run[i / 2] >> ((i & 1) != 0 ? 0 : 4)) & 0x0F]; });
        } else {
            writer_.Put(count, [&](std::int64_t i) { return Pixel{run[3 * i], run[3 * i + 1], run[3 * i + 2]}; });
        }
        pos_ += std::min(bytes + (bytes & 1U), Left());
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_;
    Encoding encoding_;
    const Palette& palette_;
    RleWriter writer_;
    bool endOfBitmap_ = false;
};

Bitmap DecodeRle(std::span<const std::uint8_t> data, const Format& format, const Palette& palette,
                 const Offsets& offsets)
{
    // Palette colour 0 for the pixels the data never sets (black for RLE24, which has no palette).
    Bitmap bitmap(static_cast<std::int32_t>(format.width), static_cast<std::int32_t>(format.height), palette[0]);
    RleDecoder decoder(data, static_cast<std::size_t>(offsets.pixelStart), format.encoding, palette, bitmap);
    decoder.Run();
    if (!decoder.PictureEnded()) {
        Fail(ImageErrorKind::Truncated, N_("BMP %1$s data ends at row %2$s of %3$s without an end-of-bitmap code"),
             {EncodingName(format.encoding), std::to_string(decoder.FileRow()), std::to_string(format.height)});
    }
    return bitmap;
}

// Everything the headers say, checked against a file of `fileSize` bytes
// whose first bytes are `head`: all a decoder needs before the pixels.
struct CheckedHeaders {
    InfoHeader info;
    Format format;
    Masks masks;
    Offsets offsets;
    std::uint64_t bytesNeeded = 0; // of the whole file
};

CheckedHeaders CheckHeaders(std::span<const std::uint8_t> head, std::uint64_t fileSize)
{
    CheckedHeaders headers;
    const FileHeader file = ReadFileHeader(head);
    headers.info = ReadInfoHeader(head, file);
    headers.format = CheckFormat(headers.info);
    headers.masks = ReadMasks(head, headers.info, headers.format);
    headers.offsets = CheckOffsets(fileSize, file, headers.info, headers.masks);
    // RLE data has no length of its own: it ends where its codes say.
    headers.bytesNeeded = headers.format.rle
                              ? fileSize
                              : headers.offsets.pixelStart + CheckPixelBytes(fileSize, headers.format, headers.offsets);
    return headers;
}

} // namespace

std::uint64_t BmpBytesToRead(std::span<const std::uint8_t> head, std::uint64_t fileSize)
{
    return CheckHeaders(head, fileSize).bytesNeeded;
}

Bitmap DecodeBmp(std::span<const std::uint8_t> data)
{
    const CheckedHeaders headers = CheckHeaders(data, data.size());
    const Palette palette = ReadPalette(data, headers.info, headers.format, headers.offsets);
    if (headers.format.rle) {
        return DecodeRle(data, headers.format, palette, headers.offsets);
    }
    return DecodeUncompressed(data, headers.format, headers.masks, palette, headers.offsets);
}

} // namespace Graphics
