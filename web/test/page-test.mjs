// SPDX-License-Identifier: MIT
// The web page in a real browser, opened from disk: the example key cap gives
// the very bytes of the command line's golden picture, refused files show the
// tool's own message, odd sizes draw, and nothing is fetched from elsewhere.
//
//   node page-test.mjs [BUILD_DIR] [--screenshot FILE]
import { readFileSync } from "node:fs";
import path from "node:path";
import { openPage, sourceDir } from "./browser.mjs";

const args = process.argv.slice(2);
const screenshotAt = args.indexOf("--screenshot");
const screenshot = screenshotAt >= 0 ? args.splice(screenshotAt, 2)[1] : null;
const buildDir = args[0];

let passed = 0;
let failed = 0;
function check(what, ok, detail = "") {
  if (ok) {
    passed++;
  } else {
    failed++;
    console.log(`FAILED: ${what}${detail ? ` (${detail})` : ""}`);
  }
}

// A 24-bit bottom-up BMP of `width` x `height` with a different colour in every pixel.
function bmp24(width, height) {
  const stride = Math.ceil((width * 3) / 4) * 4;
  const file = Buffer.alloc(54 + stride * height);
  file.write("BM", 0, "latin1");
  file.writeUInt32LE(file.length, 2);
  file.writeUInt32LE(54, 10);
  file.writeUInt32LE(40, 14);
  file.writeInt32LE(width, 18);
  file.writeInt32LE(height, 22);
  file.writeUInt16LE(1, 26);
  file.writeUInt16LE(24, 28);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const at = 54 + y * stride + x * 3;
      file[at] = x & 0xff;
      file[at + 1] = y & 0xff;
      file[at + 2] = (x * 7 + y * 13) & 0xff;
    }
  }
  return file;
}

async function state(page) {
  return page.evaluate(async () => {
    const keyboard = document.getElementById("keyboard");
    const zoomed = document.getElementById("keyboard-zoomed");
    const download = document.getElementById("download");
    const shown = element => !element.hidden && !element.closest("[hidden]") && element.getClientRects().length > 0;
    let downloadBytes = null;
    if (shown(download) && download.href) {
      downloadBytes = Array.from(new Uint8Array(await (await fetch(download.href)).arrayBuffer()));
    }
    return {
      message: document.getElementById("message").textContent,
      pictureShown: shown(keyboard) && keyboard.complete && keyboard.naturalWidth > 0,
      width: keyboard.naturalWidth,
      height: keyboard.naturalHeight,
      zoomedWidth: zoomed.getBoundingClientRect().width,
      zoomedRendering: getComputedStyle(zoomed).imageRendering,
      alt: keyboard.alt,
      downloadShown: shown(download),
      downloadName: download.getAttribute("download"),
      downloadBytes,
    };
  });
}

const golden = readFileSync(path.join(sourceDir, "tests/data/example-zzOut.bmp"));
const exampleKey = readFileSync(path.join(sourceDir, "examples/key.bmp"));
const browser = await openPage(buildDir);
const { page } = browser;
try {
  // The file button is reachable with the keyboard alone.
  let focused = "";
  for (let i = 0; i < 10 && focused !== "key-file"; i++) {
    await page.keyboard.press("Tab");
    focused = await page.evaluate(() => document.activeElement && document.activeElement.id);
  }
  check("the file button takes the keyboard focus", focused === "key-file", focused);

  await browser.choose(exampleKey);
  let s = await state(page);
  check("the example key cap draws", s.pictureShown && s.width === 630 && s.height === 350, JSON.stringify(s.message));
  check("the picture is shown 2x, with crisp pixels", s.zoomedWidth === 1260 && s.zoomedRendering === "pixelated",
        `${s.zoomedWidth} ${s.zoomedRendering}`);
  check("the picture has a text alternative", s.alt.length > 20, s.alt);
  check("the download is offered as zzOut.bmp", s.downloadShown && s.downloadName === "zzOut.bmp");
  check("the download is the command line's golden picture, byte for byte",
        s.downloadBytes !== null && Buffer.from(s.downloadBytes).equals(golden),
        s.downloadBytes ? `${s.downloadBytes.length} bytes` : "no download");
  check("no message after a drawn picture", s.message === "", s.message);
  if (screenshot) {
    await page.screenshot({ path: screenshot, clip: { x: 0, y: 0, width: 1320, height: 1150 } });
  }

  const refusals = [
    ["a PNG file", Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0, 0, 0, 13]),
     "keyboard-picture: key.bmp: not a BMP file: it is a PNG image"],
    ["a truncated BMP", exampleKey.subarray(0, 100), "keyboard-picture: key.bmp: BMP pixel data is truncated"],
    ["an empty file", Buffer.alloc(0), "keyboard-picture: key.bmp: file is empty"],
  ];
  for (const [what, bytes, words] of refusals) {
    await browser.choose(bytes, "picture.bmp");
    s = await state(page);
    check(`${what} shows the tool's message`, s.message.startsWith(words) && !s.message.includes("\n"), s.message);
    check(`${what} shows no picture and offers no download`, !s.pictureShown && !s.downloadShown);
  }

  for (const [width, height] of [[1, 1], [700, 400], [41, 17]]) {
    await browser.choose(bmp24(width, height));
    s = await state(page);
    check(`a ${width} x ${height} key cap draws`, s.pictureShown && s.width === 630 && s.downloadShown, s.message);
    check(`a ${width} x ${height} key cap gives a whole BMP`, s.downloadBytes && s.downloadBytes.length === golden.length);
  }

  // Dropping a file on the page works as choosing it does.
  const before = await page.evaluate(() => Number(document.body.dataset.runs || 0));
  await page.evaluate(bytes => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], "dropped.bmp", { type: "image/bmp" }));
    document.body.dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, Array.from(exampleKey));
  await page.waitForFunction(n => Number(document.body.dataset.runs || 0) > n, { timeout: 20000 }, before);
  s = await state(page);
  check("a dropped key cap gives the golden picture",
        s.pictureShown && s.downloadBytes !== null && Buffer.from(s.downloadBytes).equals(golden), s.message);

  check("nothing is fetched from elsewhere", browser.foreignRequests.length === 0, browser.foreignRequests.join(" "));
} finally {
  await browser.close();
}
console.log(`page: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
