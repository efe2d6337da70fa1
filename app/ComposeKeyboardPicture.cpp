// SPDX-License-Identifier: MIT
#include "ComposeKeyboardPicture.h"

#include "BmpCodec.h"
#include "Graphics.h"
#include "KeyboardLayout.h"

#include <cstdio>
#include <memory>

// Every key image the loader accepts is one the placement walk places exactly.
static_assert(Graphics::MaxPixelCount <= static_cast<std::uint64_t>(KeyboardLayout::MaxKeyWidth) &&
                  Graphics::MaxPixelCount <= static_cast<std::uint64_t>(KeyboardLayout::MaxKeyHeight),
              "the loader's pixel limit must stay within the placement walk's exact domain");

int ComposeKeyboardPicture()
{
    auto keyImage = std::make_unique<Graphics::TBitmap>();
    auto picture = std::make_unique<Graphics::TBitmap>();

    keyImage->LoadFromFile("key.bmp");

    picture->SetWidth(PictureWidth);
    picture->SetHeight(PictureHeight);
    Graphics::TCanvas* canvas = picture->GetCanvas();
    canvas->GetFont()->SetName("FixedSys");
    canvas->GetFont()->SetStyle(Graphics::TFontStyles() << Graphics::TFontStyle::fsBold);
    Gdi::SetBkMode(canvas->GetHandle(), Gdi::TRANSPARENT);

    // Each key is finished, image then label, before the next is stamped,
    // so later keys cover any label that overhangs its own key.
    for (const KeyboardLayout::KeyPlacement& placement :
         KeyboardLayout::PlaceKeys(keyImage->GetWidth(), keyImage->GetHeight())) {
        canvas->Draw(placement.keyX, placement.keyY, keyImage.get());
        char labelText[2];
        std::snprintf(labelText, sizeof labelText, "%c", placement.label);
        canvas->TextOut(placement.labelX, placement.labelY, labelText);
    }

    picture->SaveToFile("zzOut.bmp");

    picture.reset();
    keyImage.reset();
    return 0;
}
