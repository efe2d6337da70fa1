// SPDX-License-Identifier: MIT
// The Win32 file layer where Windows differs: files held open by another
// program or another run, the read-only attribute, names that are not ASCII,
// and the GDI stand-in living beside <windows.h>.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#define NOGDI
#include <windows.h>

#include "FileChecks.h"
#include "Graphics.h"
#include "Platform.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using Platform::ReadFileBytes;
using Platform::ReplacingFile;
using TestSupport::Bytes;
using TestSupport::TestFolder;

using TestSupport::ExpectFileError;
using TestSupport::Pattern;
using TestSupport::Replace;

TEST(WindowsFiles, AFileHeldOpenForAMomentIsWaitedForAndOneHeldLongerIsReportedAndKept)
{
    for (const bool briefly : {true, false}) {
        SCOPED_TRACE(briefly ? "held for 300 ms" : "held throughout");
        TestFolder folder;
        folder.Write("out.bmp", {'o', 'l', 'd'});
        // As an image viewer holds a picture: open for reading, sharing nothing.
        const HANDLE viewer = ::CreateFileW((folder / "out.bmp").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
        std::thread closer;
        if (briefly) {
            closer = std::thread([viewer] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                ::CloseHandle(viewer);
            });
        }
        const std::string path = (folder / "out.bmp").string();
        if (briefly) {
            EXPECT_NO_THROW(Replace(path, Pattern(100)));
            closer.join();
            EXPECT_EQ(folder.Read("out.bmp"), Pattern(100));
        } else {
            ExpectFileError([&] { Replace(path, Pattern(100)); }, path + ": ");
            ::CloseHandle(viewer);
            EXPECT_EQ(folder.Read("out.bmp"), (Bytes{'o', 'l', 'd'}));
        }
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
    }
}

TEST(WindowsFiles, RunsReplacingOneFileAtOnceAllSucceed)
{
    // Each holds the file open for a moment to probe it, which stops the
    // others' replacing until it lets go.
    TestFolder folder;
    const std::string path = (folder / "out.bmp").string();
    std::vector<std::thread> runs;
    runs.reserve(20);
    std::atomic<int> failures = 0;
    for (int run = 0; run < 20; ++run) {
        runs.emplace_back([&, run] {
            try {
                Replace(path, Pattern(1000 + static_cast<std::size_t>(run)));
            } catch (const Platform::FileError& error) {
                ++failures;
                ADD_FAILURE() << error.what();
            }
        });
    }
    for (std::thread& run : runs) {
        run.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
}

TEST(WindowsFiles, AReadOnlyFileIsNotReplaced)
{
    TestFolder folder;
    folder.Write("out.bmp", {'o', 'l', 'd'});
    const std::filesystem::path out = folder / "out.bmp";
    ASSERT_NE(::SetFileAttributesW(out.c_str(), FILE_ATTRIBUTE_READONLY), 0);
    const std::string path = out.string();
    ExpectFileError([&] { Replace(path, Pattern(100)); }, path + ": ");
    ::SetFileAttributesW(out.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(folder.Read("out.bmp"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
}

TEST(WindowsFiles, NamesThatAreNotAsciiWorkThroughout)
{
    TestFolder folder("\xE3\x82\xAD\xE3\x83\xBC\xE3\x83\x9C\xE3\x83\xBC\xE3\x83\x89"); // キーボード
    const std::u8string name = u8"\u7d75.bmp";                                         // 絵.bmp
    const std::filesystem::path file = folder.Path() / std::filesystem::path(name);
    const std::u8string utf8 = file.u8string();
    const std::string path(utf8.begin(), utf8.end());
    Replace(path, Pattern(5000));
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(ReadFileBytes(path, 5000), Pattern(5000));
}

TEST(WindowsFiles, ASymbolicLinkIsWrittenThroughAndStays)
{
    TestFolder folder;
    std::filesystem::create_directory(folder / "pictures");
    folder.Write("pictures/keyboard.bmp", {'o', 'l', 'd'});
    std::error_code error;
    std::filesystem::create_symlink(folder / "pictures" / "keyboard.bmp", folder / "out.bmp", error);
    if (error) {
        GTEST_SKIP() << "this system makes no symbolic links here: " << error.message();
    }
    Replace((folder / "out.bmp").string(), Pattern(100));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "out.bmp"));
    EXPECT_EQ(folder.Read("pictures/keyboard.bmp"), Pattern(100));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"out.bmp", "pictures"}));
}

TEST(WindowsFiles, TheGdiStandInAndWindowsHeadersCoexist)
{
    // This file includes <windows.h> and Graphics.h together; that it builds is most of the test.
    Graphics::TBitmap bitmap;
    EXPECT_EQ(Gdi::SetBkMode(bitmap.GetCanvas()->GetHandle(), Gdi::TRANSPARENT), Gdi::OPAQUE);
    HDC windowsContext = nullptr;
    EXPECT_EQ(windowsContext, nullptr);
}
