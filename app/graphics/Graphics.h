// SPDX-License-Identifier: MIT
// Stand-ins for the VCL Graphics unit's TBitmap, TCanvas and TFont, with
// exactly the behaviour a program that stamps images and prints labels
// relies on, drawing into a Bitmap in memory.
#pragma once

#include "Bitmap.h"
#include "Gdi.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Graphics {

enum class TFontStyle { fsBold };

// A set of TFontStyle, the way the VCL's Set template builds one: `TFontStyles() << TFontStyle::fsBold`.
class TFontStyles {
public:
    TFontStyles& operator<<(TFontStyle style);
    bool Contains(TFontStyle style) const;

private:
    std::uint8_t members_ = 0;
};

// There is one font, so every name selects it, as the Windows font mapper
// falls back to the nearest face for a name it lacks. Bold is drawn the way
// Windows emboldens a raster font with no bold face.
class TFont {
public:
    void SetName(const std::string& /*name*/) {}
    void SetStyle(TFontStyles style) { style_ = style; }
    TFontStyles GetStyle() const { return style_; }
    Pixel GetColor() const { return color_; }

private:
    TFontStyles style_;
    Pixel color_ = Black;
};

class TBitmap;

class TCanvas {
public:
    explicit TCanvas(Bitmap& target) : target_(target) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TFont* GetFont() { return &font_; }
    Gdi::HDC GetHandle() { return &context_; }

    // Copies the graphic's colours at its own size, top-left at (x, y),
    // clipped to the target. Nothing of the graphic is transparent. The
    // graphic is another bitmap than the canvas's own.
    void Draw(std::int32_t x, std::int32_t y, const TBitmap* graphic);

    // Top-left of the first character cell at (x, y). In OPAQUE mode, the
    // one a canvas starts in, the cells are filled with the background colour
    // before the ink is painted; in TRANSPARENT mode only the ink is.
    void TextOut(std::int32_t x, std::int32_t y, const std::string& text);

private:
    // How far one character advances: a bold raster glyph is one pixel wider.
    std::int32_t CharacterAdvance() const;

    Bitmap& target_;
    TFont font_;
    Gdi::DeviceContext context_;
};

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // BMP files only, through the codec and the file layer (BitmapFiles.cpp).
    // Failures name the file: "key.bmp: BMP ...".
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path) const;

    std::int32_t GetWidth() const { return image_.Width(); }
    std::int32_t GetHeight() const { return image_.Height(); }
    // Resizing keeps what the old and new sizes share; new pixels are white.
    void SetWidth(std::int32_t width);
    void SetHeight(std::int32_t height);

    TCanvas* GetCanvas();

    // The pixels, to read or to replace whole.
    Bitmap& Image() { return image_; }
    const Bitmap& Image() const { return image_; }

private:
    // Loading and resizing assign to this one object, which the canvas draws on.
    Bitmap image_;
    std::unique_ptr<TCanvas> canvas_;
};

} // namespace Graphics
