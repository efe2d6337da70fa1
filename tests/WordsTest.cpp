// SPDX-License-Identifier: MIT
// The tool's words: places filled in any order, and every kind of message
// said in English and in Japanese from the catalogue compiled in.
#include "Words.h"
#include "ImageError.h"
#include "Platform.h"

#include <gtest/gtest.h>

using Words::Fill;
using Words::Message;
using Words::Say;

TEST(Words, PlacesAreFilledInTheOrderTheTextAsks)
{
    const std::vector<std::string> args = {"one", "two"};
    EXPECT_EQ(Fill("%1$s and %2$s", args), "one and two");
    EXPECT_EQ(Fill("%2$s before %1$s", args), "two before one");
    EXPECT_EQ(Fill("%s then %s", args), "one then two");
    EXPECT_EQ(Fill("100%% of %1$s", args), "100% of one");
    EXPECT_EQ(Fill("%3$s|%s|%s|%s", args), "|one|two|"); // a place with nothing to fill it stays empty
    EXPECT_EQ(Fill("%d, %1$d, %1$, 5% and %", args), "%d, %1$d, %1$, 5% and %");
    EXPECT_EQ(Fill("ends in %1$", args), "ends in %1$");
    EXPECT_EQ(Fill("ends in %12", args), "ends in %12");
}

TEST(Words, EveryKindOfMessageIsSaidInEnglishAndInJapanese)
{
    struct Case {
        const char* kind;
        Message message;
        const char* english;
        const char* japanese;
    };
    const Case cases[] = {
        {"the codec's, with places moved by the translation",
         Graphics::ImageError(Graphics::ImageErrorKind::Truncated,
                              N_("BMP pixel data is truncated: %1$s x %2$s pixels at %3$s bits per pixel need %4$s "
                                 "bytes from offset %5$s, the file holds %6$s"),
                              {"40", "32", "24", "3840", "54", "10"})
             .WithContext("key.bmp")
             .Words(),
         "key.bmp: BMP pixel data is truncated: 40 x 32 pixels at 24 bits per pixel need 3840 bytes from offset 54, "
         "the file holds 10",
         "key.bmp: BMP のピクセルデータが途中で切れています: 1 ピクセルあたり 24 ビットで 40 x 32 "
         "ピクセルには、オフセット 54 から 3840 バイトが必要ですが、ファイルにあるのは 10 バイトです"},
        {"a word among its places with a translation of its own",
         {N_("BMP %1$s mask %2$s is not one contiguous run of bits"), {"green", "0x00000303"}, "key.bmp"},
         "key.bmp: BMP green mask 0x00000303 is not one contiguous run of bits",
         "key.bmp: BMP の緑のマスク 0x00000303 のビットが連続していません"},
        {"the file layer's own", Platform::FileError("zzOut.bmp", N_("is a directory, not a file")).Words(),
         "zzOut.bmp: is a directory, not a file", "zzOut.bmp: ファイルではなくディレクトリです"},
        {"the system's reason, already in the user's language",
         Platform::FileError("zzOut.bmp", "%s", {"Permission denied"}).Words(), "zzOut.bmp: Permission denied",
         "zzOut.bmp: Permission denied"},
        {"about no file", {N_("out of memory")}, "out of memory", "メモリが足りません"},
        {"with a place left empty",
         {N_("cannot keep the file's group %1$s (%2$s)"), {"7", ""}, "f"},
         "f: cannot keep the file's group 7 ()",
         "f: ファイルのグループ 7 を保持できません ()"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(Say(c.message), c.english);
        EXPECT_EQ(Say(c.message, Words::Japanese), c.japanese);
    }
    EXPECT_STREQ(Words::Japanese("words nobody wrote"), "words nobody wrote");
}
