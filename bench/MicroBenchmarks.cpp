// SPDX-License-Identifier: MIT
// The tool's parts one at a time: placement, decoding key caps of several
// variants and sizes, drawing the keys, encoding the picture and the whole
// run. Decoding reports bytes per second so that large and small files can
// be compared for linear throughput.
#include "BmpCodec.h"
#include "ComposeKeyboardPicture.h"
#include "Graphics.h"
#include "KeyCaps.h"
#include "KeyboardLayout.h"
#include "TestFolder.h"

#include <benchmark/benchmark.h>

namespace {

using TestSupport::Bytes;

void PlaceKeys(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(KeyboardLayout::PlaceKeys(40, 32));
    }
}
BENCHMARK(PlaceKeys);

void DecodeBmp(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(1));
    const Bytes file = TestSupport::KeyCap(size, size, static_cast<TestSupport::KeyCapStorage>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Graphics::DecodeBmp(file));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
    state.SetLabel(std::to_string(file.size()) + " byte file");
}
BENCHMARK(DecodeBmp)->ArgNames({"variant(0=rgb24,1=pal8,2=rle8)", "size"})->ArgsProduct({{0, 1, 2}, {40, 1000}});

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
        canvas->GetFont()->SetStyle(Graphics::TFontStyles() << Graphics::TFontStyle::fsBold);
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
