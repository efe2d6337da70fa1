// SPDX-License-Identifier: MIT
// Every word the page says, in each language it speaks, in one table. The
// entries named in index.html's data-words attributes are the page's own
// text and may hold markup; every other entry is a message, a function of
// what it names (a file's name is always set as text, never as markup).
// File names, format names and the tool's name stay as they are in every
// language.
"use strict";

const pageWords = {
  en: {
    description: "Draw a Japanese (JIS) keyboard from a picture of one key cap, in your browser: the same zzOut.bmp " +
                 "as the keyboard-picture command writes.",
    intro: "Draws a Japanese (JIS) keyboard from a picture of one key cap: choose a picture, drop one on the page or " +
           "paste one, and get the 630 &times; 350 picture that the command-line tool would write as " +
           "<code>zzOut.bmp</code>. Nothing leaves your computer. <a href=\"#about\">How it works</a>.",
    choose: "Choose a key cap&hellip;",
    downloadBmp: "Download zzOut.bmp",
    downloadPng: "Download as PNG",
    trueSize: "At its true size, or smaller where the screen is narrower.",
    zoomed: "Zoomed, up to twice its size.",
    aboutHeading: "How it works",
    aboutKeys: "The key cap's width and height set the spacing of the whole keyboard: 48 keys in the four character " +
               "rows of a JIS keyboard, each a copy of your key cap with its character printed on it. Keys that fall " +
               "beyond the picture are cut off.",
    aboutFormats: "A BMP file is drawn from exactly as it is, as the command-line tool would. Another picture that " +
                  "this browser can open, such as PNG, JPEG, GIF, WebP or SVG, is first turned into a BMP with its " +
                  "colours exactly as stored and any transparent parts made white. When a file cannot be drawn, the " +
                  "page says why.",
    aboutTool: "The picture is drawn in this browser by the tool itself, built for the web. Download it as the BMP " +
               "file that the tool writes, or as PNG, the same pixels.",

    resultLabel: "The keyboard",
    pictureLabel: name => `JIS keyboard drawn from ${name}: 48 keys in four staggered rows, each labelled with its ` +
                          "character",
    drawing: name => `Drawing the keyboard from ${name}…`,
    drawn: (name, converted) => `Drew the keyboard from ${name}${converted ? ", converted to BMP" : ""}. zzOut.bmp ` +
                                "and zzOut.png are ready to download.",
    drawnBmpOnly: (name, converted) => `Drew the keyboard from ${name}${converted ? ", converted to BMP" : ""}. ` +
                                       "zzOut.bmp is ready to download; this browser could not make the PNG.",
    othersLeft: count => count === 1 ? "The other file was left: choose or drop one at a time."
                                     : `The other ${count} files were left: choose or drop one at a time.`,
    cannotOpen: (name, format) => `${name} is in ${format} format, which this browser cannot open; save it as PNG ` +
                                  "or JPEG, then choose it again.",
    damaged: (name, format) => `${name} seems to be in ${format} format, but this browser cannot open it; the file ` +
                               "may be damaged.",
    tooLarge: (name, width, height, maxPixelCount) => `${name}: ${width} × ${height} pixels is more than the ` +
                                                      `${maxPixelCount} pixels this tool draws from.`,
    svgWithoutSize: name => `${name} is an SVG picture without a width and height of its own, so it has no size to ` +
                            "be drawn at; give its svg element width and height attributes, or save it as PNG.",
    svgUnreadable: name => `${name} is not an SVG picture that this browser can read.`,
    unreadable: name => `${name} could not be read.`,
    unfetchable: name => `${name} could not be fetched from where it is: save the picture to your computer, then ` +
                         "choose or drop the file.",
    linkedPicture: "the linked picture",
    pastedText: "The pasted text is not a picture: copy a picture or a picture file, then paste it here.",
    nothingDropped: "What was dropped holds no picture: drop a picture file, or a picture from another page.",
    nothingPasted: "What was pasted holds no picture: copy a picture or a picture file, then paste it here.",
    failed: name => `${name} could not be drawn in this browser.`,
    unavailable: "This browser could not start the drawing tool. Reload the page to try again.",
    noWebAssembly: "This page needs WebAssembly, which this browser does not offer or has turned off.",
    noScript: "Part of this page is missing: keyboard-picture.js, which holds the drawing tool, did not load.",
  },
  ja: {
    description: "1 個のキーキャップの画像から、日本語（JIS）キーボードの画像をブラウザーで描きます。コマンド " +
                 "keyboard-picture と同じ zzOut.bmp を作成します。",
    intro: "1 個のキーキャップの画像から、日本語（JIS）キーボードの画像を描きます。画像を選択するか、このページに" +
           "ドロップまたは貼り付けると、コマンドライン版が <code>zzOut.bmp</code> として書き出すのと同じ " +
           "630 &times; 350 の画像ができます。ファイルがこのコンピューターの外へ送られることはありません。" +
           "<a href=\"#about\">しくみ</a>",
    choose: "キーキャップの画像を選択&hellip;",
    downloadBmp: "zzOut.bmp をダウンロード",
    downloadPng: "PNG でダウンロード",
    trueSize: "実寸で表示しています（画面が狭いときは縮小します）。",
    zoomed: "拡大表示（最大 2 倍）。",
    aboutHeading: "しくみ",
    aboutKeys: "キーキャップの幅と高さで、キーボード全体のキーの間隔が決まります。JIS キーボードの文字キー 4 段、" +
               "48 個のキーを、キーキャップの画像にそれぞれの文字を印字して並べます。画像からはみ出したキーは" +
               "切り取られます。",
    aboutFormats: "BMP ファイルは、コマンドライン版と同じく、そのまま使います。PNG、JPEG、GIF、WebP、SVG など、" +
                  "このブラウザーで開けるほかの形式の画像は、保存されている色のまま BMP に変換し、透明な部分は白に" +
                  "します。描けないファイルのときは、その理由を表示します。",
    aboutTool: "画像は、Web 向けにビルドしたこのツール自体が、このブラウザーの中で描きます。ツールが書き出すのと同じ " +
               "BMP ファイルとして、または同じピクセルの PNG としてダウンロードできます。",

    resultLabel: "キーボード",
    pictureLabel: name => `${name} から描いた JIS キーボード: 4 段にずらして並べた 48 個のキー、それぞれに文字を印字`,
    drawing: name => `${name} からキーボードを描いています…`,
    drawn: (name, converted) => `${converted ? `${name} を BMP に変換して` : `${name} から`}キーボードを描きました。` +
                                "zzOut.bmp と zzOut.png をダウンロードできます。",
    drawnBmpOnly: (name, converted) => `${converted ? `${name} を BMP に変換して` : `${name} から`}キーボードを` +
                                       "描きました。zzOut.bmp をダウンロードできます（このブラウザーでは PNG を作成" +
                                       "できませんでした）。",
    othersLeft: count => count === 1 ? "ほかの 1 個のファイルは使っていません。1 個ずつ選択またはドロップしてください。"
                                     : `ほかの ${count} 個のファイルは使っていません。1 個ずつ選択またはドロップして` +
                                       "ください。",
    cannotOpen: (name, format) => `${name} は ${format} 形式の画像で、このブラウザーでは開けません。PNG か JPEG で` +
                                  "保存してから、もう一度選択してください。",
    damaged: (name, format) => `${name} は ${format} 形式の画像のようですが、このブラウザーでは開けません。` +
                               "ファイルが壊れている可能性があります。",
    tooLarge: (name, width, height, maxPixelCount) => `${name}: ${width} × ${height} ピクセルは大きすぎます。` +
                                                      `描けるのは ${maxPixelCount} ピクセルまでです。`,
    svgWithoutSize: name => `${name} は幅と高さが指定されていない SVG 画像のため、描く大きさが決まりません。` +
                            "svg 要素に width 属性と height 属性を指定するか、PNG で保存してください。",
    svgUnreadable: name => `${name} は、このブラウザーで読み込める SVG 画像ではありません。`,
    unreadable: name => `${name} を読み込めませんでした。`,
    unfetchable: name => `${name} を取得できませんでした。画像をいったんコンピューターに保存してから、そのファイルを` +
                         "選択するかドロップしてください。",
    linkedPicture: "リンク先の画像",
    pastedText: "貼り付けられたのはテキストで、画像ではありません。画像または画像ファイルをコピーしてから、ここに" +
                "貼り付けてください。",
    nothingDropped: "ドロップされたものに画像がありません。画像ファイル、またはほかのページの画像をドロップしてください。",
    nothingPasted: "貼り付けられたものに画像がありません。画像または画像ファイルをコピーしてから、ここに貼り付けて" +
                   "ください。",
    failed: name => `${name} は、このブラウザーでは描けませんでした。`,
    unavailable: "このブラウザーでは描画ツールを起動できませんでした。ページを再読み込みしてください。",
    noWebAssembly: "このページには WebAssembly が必要ですが、このブラウザーでは使えないか、無効になっています。",
    noScript: "ページの一部が見つかりません。描画ツールを含む keyboard-picture.js を読み込めませんでした。",
  },
};

// The first of the person's languages that the page speaks decides;
// English where none is.
function pageLanguage(languages) {
  for (const language of languages) {
    const primary = String(language).toLowerCase().split("-")[0];
    if (primary in pageWords) return primary;
  }
  return "en";
}

// The tool's own lines follow the page: emscripten's environment is all the
// locale it has.
const toolEnvironments = {
  en: { LANG: "C" },
  ja: { LANG: "ja_JP.UTF-8", LANGUAGE: "ja" },
};
