// SPDX-License-Identifier: MIT
// The web page in a real browser, opened from disk: the example key cap gives
// the very bytes of the command line's golden picture, refused files show the
// tool's own message, other pictures are converted, only the latest choice
// touches the page, it fits a phone, passes axe, keeps its thread free, says
// plainly when it cannot start, and fetches nothing from elsewhere.
//
//   node page-test.mjs [BUILD_DIR] [--screenshots FOLDER]
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";
import path from "node:path";
import { bmp24, openPage, sourceDir } from "./browser.mjs";

const args = process.argv.slice(2);
const screenshotsAt = args.indexOf("--screenshots");
const screenshots = screenshotsAt >= 0 ? args.splice(screenshotsAt, 2)[1] : null;
const buildDir = args[0];
const axeSource = readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");

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

// What the page shows, as a person (or a screen reader) meets it.
async function state(page) {
  return page.evaluate(async () => {
    const shown = element => !element.closest("[hidden]") && element.getClientRects().length > 0;
    const bytesOf = async link => shown(link) && link.href
      ? Array.from(new Uint8Array(await (await fetch(link.href)).arrayBuffer())) : null;
    const keyboard = document.getElementById("keyboard");
    const zoomed = document.getElementById("keyboard-zoomed");
    const status = document.getElementById("status");
    return {
      message: status.textContent,
      error: status.classList.contains("error"),
      pictureShown: shown(keyboard),
      pictureWidth: keyboard.getBoundingClientRect().width,
      zoomedWidth: zoomed.getBoundingClientRect().width,
      zoomedRendering: getComputedStyle(zoomed).imageRendering,
      label: keyboard.getAttribute("aria-label") ?? "",
      zoomedHidden: zoomed.getAttribute("aria-hidden") === "true",
      download: await bytesOf(document.getElementById("download")),
      downloadName: document.getElementById("download").getAttribute("download"),
      pageWidth: document.documentElement.scrollWidth,
      viewportWidth: window.innerWidth,
    };
  });
}

// The pixels of the PNG download against those of the BMP download, as this browser decodes them.
async function pngMatchesBmp(page) {
  await page.waitForFunction(() => document.getElementById("download-png").href, { timeout: 10000 });
  return page.evaluate(async () => {
    const pixels = async href => {
      const image = await createImageBitmap(await (await fetch(href)).blob());
      const canvas = new OffscreenCanvas(image.width, image.height);
      canvas.getContext("2d").drawImage(image, 0, 0);
      return canvas.getContext("2d").getImageData(0, 0, image.width, image.height).data;
    };
    const [png, bmp] = await Promise.all(["download-png", "download"].map(id => pixels(document.getElementById(id).href)));
    return png.length === 630 * 350 * 4 && png.every((value, i) => value === bmp[i]);
  });
}

// A PNG made by the browser: `width` x `height` of one colour, alpha included.
async function png(page, width, height, rgba) {
  return Buffer.from(await page.evaluate(async (width, height, rgba) => {
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext("2d");
    context.fillStyle = `rgba(${rgba[0]}, ${rgba[1]}, ${rgba[2]}, ${rgba[3] / 255})`;
    context.fillRect(0, 0, width, height);
    return Array.from(new Uint8Array(await (await canvas.convertToBlob({ type: "image/png" })).arrayBuffer()));
  }, width, height, rgba));
}

// A BMP of `width` x `height` of one colour.
function solidBmp(width, height, [red, green, blue]) {
  const file = bmp24(width, height);
  for (let at = 54; at < file.length; at += 3) file.set([blue, green, red], at);
  return file;
}

async function axeViolations(page) {
  if (!(await page.evaluate(() => "axe" in window))) await page.addScriptTag({ content: axeSource });
  return page.evaluate(async () => {
    const results = await window.axe.run(document, {
      runOnly: { type: "tag", values: ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa", "best-practice"] },
    });
    return results.violations.map(violation => `${violation.id}: ${violation.nodes.length} node(s)`);
  });
}

const golden = readFileSync(path.join(sourceDir, "tests/data/example-zzOut.bmp"));
const exampleKey = readFileSync(path.join(sourceDir, "examples/key.bmp"));
const sameBytes = (bytes, expected) => bytes !== null && Buffer.from(bytes).equals(expected);

let browser = await openPage(buildDir);
let { page } = browser;
try {
  // The file button is reachable with the keyboard alone.
  let focused = "";
  for (let i = 0; i < 10 && focused !== "key-file"; i++) {
    await page.keyboard.press("Tab");
    focused = await page.evaluate(() => document.activeElement && document.activeElement.id);
  }
  check("the file button takes the keyboard focus", focused === "key-file", focused);
  check("axe finds nothing before drawing", (await axeViolations(page)).length === 0, await axeViolations(page));

  await page.evaluate(() => { window.longTasks = []; });
  await browser.choose(exampleKey);
  const exampleTasks = await page.evaluate(() => window.longTasks);
  let s = await state(page);
  check("the example key cap draws, and says so", s.pictureShown && s.message === "Drew the keyboard from key.bmp.",
        s.message);
  check("the download is the command line's golden picture, byte for byte", sameBytes(s.download, golden),
        s.download ? `${s.download.length} bytes` : "no download");
  check("the download is offered as zzOut.bmp", s.downloadName === "zzOut.bmp");
  check("the PNG download has the same pixels", await pngMatchesBmp(page));
  check("the picture has a text alternative; its zoomed copy is decorative", s.label.length > 20 && s.zoomedHidden,
        s.label);
  check("the zoomed copy is twice as large, with crisp pixels", s.zoomedWidth === 1260 && s.zoomedRendering === "pixelated",
        `${s.zoomedWidth} ${s.zoomedRendering}`);
  check("axe finds nothing after drawing", (await axeViolations(page)).length === 0, await axeViolations(page));
  check("the example keeps the page's thread free (no task of 50 ms)", exampleTasks.length === 0, exampleTasks);
  if (screenshots) await page.screenshot({ path: path.join(screenshots, "web.png"), fullPage: true });

  // Refused files name the file chosen, and take the picture and downloads away.
  const refusals = [
    ["a truncated BMP", exampleKey.subarray(0, 100), "picture.bmp",
     "keyboard-picture: picture.bmp: BMP pixel data is truncated"],
    ["an empty file", Buffer.alloc(0), "empty.bmp", "keyboard-picture: empty.bmp: file is empty"],
    ["text the browser cannot open", Buffer.from("Dear keyboard,"), "notes.txt",
     "keyboard-picture: notes.txt: not a BMP file: it starts with bytes 0x44 0x65"],
  ];
  for (const [what, bytes, name, words] of refusals) {
    await browser.choose(bytes, name);
    s = await state(page);
    check(`${what} shows the tool's message with the file's name`,
          s.error && s.message.startsWith(words) && !s.message.includes("\n"), s.message);
    check(`${what} shows no picture and offers no download`, !s.pictureShown && s.download === null);
  }

  for (const [width, height] of [[1, 1], [700, 400], [41, 17]]) {
    await browser.choose(bmp24(width, height));
    s = await state(page);
    check(`a ${width} x ${height} key cap gives a whole BMP`, s.pictureShown && s.download?.length === golden.length,
          s.message);
  }

  // Other pictures are converted, flattened onto white: the same as a BMP of those pixels.
  const conversions = [
    ["an opaque PNG", await png(page, 40, 32, [200, 40, 90, 255]), solidBmp(40, 32, [200, 40, 90])],
    ["a transparent PNG", await png(page, 30, 30, [0, 0, 0, 0]), solidBmp(30, 30, [255, 255, 255])],
  ];
  for (const [what, picture, equivalent] of conversions) {
    await browser.choose(equivalent, "equivalent.bmp");
    const expected = (await state(page)).download;
    await browser.choose(picture, "key.png");
    s = await state(page);
    check(`${what} is converted and says so`, s.message === "Drew the keyboard from key.png, converted to BMP.",
          s.message);
    check(`${what} draws as a BMP of its pixels on white`, expected !== null && sameBytes(s.download, Buffer.from(expected)));
  }

  // Only the latest choice touches the page, however soon it follows a slow one.
  const big = bmp24(4000, 4000);
  const races = [
    [100, "notes.txt", Buffer.from("not a picture"), false],
    [0, "key.bmp", exampleKey, true],
    [250, "notes.txt", Buffer.from("not a picture"), false],
    [30, "key.png", conversions[0][1], true],
  ];
  for (const [delay, name, bytes, draws] of races) {
    await browser.pick(big, "big.bmp");
    await new Promise(resolve => setTimeout(resolve, delay));
    await browser.pick(bytes, name);
    await browser.settled();
    await new Promise(resolve => setTimeout(resolve, 1500)); // time for the big one to finish, were it to show
    s = await state(page);
    check(`${name} chosen ${delay} ms after a big key cap is what the page shows`,
          s.message.includes(name) && s.pictureShown === draws && (s.download !== null) === draws &&
          (!draws || s.download.length === golden.length) && !s.message.includes("big.bmp"), s.message);
  }
  await page.evaluate(() => { window.longTasks = []; });
  await browser.choose(big, "big.bmp");
  const bigTasks = await page.evaluate(() => window.longTasks);
  check("a 4000 x 4000 key cap holds the page's thread no task of 200 ms", bigTasks.every(ms => ms < 200),
        bigTasks.join(" "));
  check("nothing is fetched from elsewhere", browser.foreignRequests.length === 0, browser.foreignRequests.join(" "));

  // Dropping a file on the page works as choosing it does.
  await page.evaluate(bytes => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], "dropped.bmp", { type: "image/bmp" }));
    document.body.dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, Array.from(exampleKey));
  await browser.settled();
  s = await state(page);
  check("a dropped key cap gives the golden picture", sameBytes(s.download, golden), s.message);
  await browser.close();

  // Any screen: a phone, a window at 400% zoom (1280 / 4), and dark.
  const screens = [
    ["a 390 px phone", { viewport: { width: 390, height: 844, isMobile: true, hasTouch: true } }, "web-phone.png"],
    ["400% zoom", { viewport: { width: 320, height: 256 } }, null],
    ["dark mode", { colorScheme: "dark" }, null],
  ];
  for (const [what, options, screenshot] of screens) {
    browser = await openPage(buildDir, options);
    ({ page } = browser);
    await browser.choose(exampleKey);
    s = await state(page);
    check(`at ${what} nothing scrolls sideways and the picture fits`,
          s.pageWidth <= s.viewportWidth && s.pictureWidth <= s.viewportWidth && s.zoomedWidth <= s.viewportWidth,
          `page ${s.pageWidth}, picture ${s.pictureWidth}, zoomed ${s.zoomedWidth}, viewport ${s.viewportWidth}`);
    check(`at ${what} axe finds nothing`, (await axeViolations(page)).length === 0, await axeViolations(page));
    if (screenshots && screenshot) await page.screenshot({ path: path.join(screenshots, screenshot), fullPage: true });
    await browser.close();
  }

  // Failing to start is said plainly, in the page's own words.
  const starts = [
    ["without WebAssembly", { beforeLoad: () => { delete window.WebAssembly; } }, "needs WebAssembly"],
    ["without its script", { script: () => "abort" }, "keyboard-picture.js, which holds the drawing tool, did not load"],
    ["with broken WebAssembly", { script: text => text.replace(/AGFzbQ/g, "AGFzbR") },
     "could not start the drawing tool"],
  ];
  for (const [what, options, words] of starts) {
    browser = await openPage(buildDir, options);
    ({ page } = browser);
    await page.waitForFunction(() => document.getElementById("status").textContent !== "", { timeout: 10000 })
      .catch(() => {});
    s = await state(page);
    check(`${what} the page says so plainly`, s.error && s.message.includes(words) && !/ASSERTIONS|Aborted/.test(s.message),
          s.message);
    await browser.close();
  }
  browser = await openPage(buildDir, { javaScript: false });
  ({ page } = browser);
  check("without JavaScript the page says it needs it",
        (await page.evaluate(() => document.body.innerText)).includes("This page needs JavaScript"));
} finally {
  await browser.close();
}
console.log(`page: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
