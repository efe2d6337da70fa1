// SPDX-License-Identifier: MIT
// The tool's parts one at a time: placement, decoding key caps of several
// variants and sizes, drawing the keys, encoding the picture and the whole
// run. Decoding reports bytes per second so that large and small files can
// be compared for linear throughput.
#include "BmpBuilder.h"
#include "BmpCodec.h"
#include "ComposeKeyboardPicture.h"
#include "Graphics.h"
#include "KeyboardLayout.h"
#include "TestFolder.h"

#include <benchmark/benchmark.h>

namespace {

using TestSupport::BmpBuilder;
using TestSupport::Bytes;

enum Variant { Rgb24, Palette8, Rle8 };

std::uint8_t Index(std::int32_t x, std::int32_t y)
{
    return static_cast<std::uint8_t>((x / 7 + y / 5) % 64);
}

// Rows of alternating encoded runs and absolute runs, as paint programs write.
Bytes EncodeRle8(std::int32_t width, std::int32_t height)
{
    Bytes data;
    for (std::int32_t y = height - 1; y >= 0; --y) {
        std::int32_t x = 0;
        while (x < width) {
            const std::int32_t run = std::min(7, width - x);
            data.push_back(static_cast<std::uint8_t>(run));
            data.push_back(Index(x, y));
            x += run;
            const std::int32_t literal = std::min(5, width - x);
            if (literal >= 3) {
                data.push_back(0);
                data.push_back(static_cast<std::uint8_t>(literal));
                for (std::int32_t i = 0; i < literal; ++i) {
                    data.push_back(Index(x + i, y + i));
                }
                if (literal % 2 != 0) {
                    data.push_back(0);
                }
                x += literal;
            }
        }
        data.push_back(0);
        data.push_back(0);
    }
    data.push_back(0);
    data.push_back(1);
    return data;
}

Bytes KeyCap(Variant variant, std::int32_t size)
{
    BmpBuilder bmp;
    bmp.width = size;
    bmp.height = size;
    bmp.bitCount = variant == Rgb24 ? 24 : 8;
    if (variant != Rgb24) {
        for (int i = 0; i < 256; ++i) {
            bmp.palette.push_back({static_cast<std::uint8_t>(i), 128, static_cast<std::uint8_t>(255 - i)});
        }
    }
    if (variant == Rle8) {
        bmp.compression = 1;
        bmp.pixels = EncodeRle8(size, size);
        return bmp.Build();
    }
    std::vector<Bytes> rows;
    for (std::int32_t y = 0; y < size; ++y) {
        Bytes row;
        for (std::int32_t x = 0; x < size; ++x) {
            if (variant == Rgb24) {
                row.insert(row.end(), {Index(x, y), static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)});
            } else {
                row.push_back(Index(x, y));
            }
        }
        rows.push_back(std::move(row));
    }
    bmp.pixels = TestSupport::BottomUp(rows);
    return bmp.Build();
}

void PlaceKeys(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(KeyboardLayout::PlaceKeys(40, 32));
    }
}
BENCHMARK(PlaceKeys);

void DecodeBmp(benchmark::State& state)
{
    const Bytes file = KeyCap(static_cast<Variant>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Graphics::DecodeBmp(file));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.SetLabel(std::to_string(file.size()) + " byte file");
}
BENCHMARK(DecodeBmp)
    ->ArgNames({"variant(0=rgb24,1=pal8,2=rle8)", "size"})
    ->ArgsProduct({{Rgb24, Palette8, Rle8}, {40, 1000}});

void DrawKeys(benchmark::State& state)
{
    Graphics::TBitmap key;
    key.SetWidth(40);
    key.SetHeight(32);
    for (auto _ : state) {
        Graphics::TBitmap picture;
        picture.SetWidth(PictureWidth);
        picture.SetHeight(PictureHeight);
        Graphics::TCanvas* canvas = picture.GetCanvas();
        canvas->GetFont()->SetStyle({Graphics::TFontStyle::fsBold});
        Gdi::SetBkMode(canvas->GetHandle(), Gdi::TRANSPARENT);
        for (const auto& placement : KeyboardLayout::PlaceKeys(key.GetWidth(), key.GetHeight())) {
            canvas->Draw(placement.keyX, placement.keyY, &key);
            canvas->TextOut(placement.labelX, placement.labelY, std::string(1, placement.label));
        }
        benchmark::DoNotOptimize(picture.Image());
    }
}
BENCHMARK(DrawKeys);

void EncodeBmp(benchmark::State& state)
{
    const Graphics::Bitmap picture(PictureWidth, PictureHeight);
    for (auto _ : state) {
        std::size_t written = 0;
        Graphics::EncodeBmp(picture, [&written](std::span<const std::uint8_t> piece) { written += piece.size(); });
        benchmark::DoNotOptimize(written);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 662254);
}
BENCHMARK(EncodeBmp);

// In-process, without starting a program: load, draw, encode, write, rename.
void ComposeWholePicture(benchmark::State& state)
{
    TestSupport::TestFolder folder;
    folder.Write("key.bmp", TestSupport::TestFolder::ReadFile(std::filesystem::path(SOURCE_DIR) / "examples/key.bmp"));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    for (auto _ : state) {
        benchmark::DoNotOptimize(ComposeKeyboardPicture());
    }
    std::filesystem::current_path(previous);
}
BENCHMARK(ComposeWholePicture);

} // namespace

BENCHMARK_MAIN();
