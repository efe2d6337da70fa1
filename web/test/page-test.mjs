// SPDX-License-Identifier: MIT
// The web page in a real browser, opened from disk and served under a strict
// Content-Security-Policy: the example key cap gives the very bytes of the
// command line's golden picture, however it is handed over (chosen, dropped,
// pasted, as a link) and whatever colour chunks a PNG of it carries; refused
// files show the tool's message or the page's own words naming what was
// chosen; other pictures are converted; only the latest choice touches the
// page; it fits a phone, passes axe, keeps its thread free, speaks Japanese
// to a browser that prefers it, says plainly when it cannot start, and
// fetches nothing from elsewhere.
//
// Chromium runs every section; Firefox ESR (--browser firefox) the ones
// that depend on the browser's decoders and events: exact colours, the
// formats, and paste and drop. Firefox pastes only with a display (run it
// under xvfb-run).
//
//   node page-test.mjs [BUILD_DIR] [--browser firefox] [--screenshots FOLDER]
import { createRequire } from "node:module";
import { existsSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import vm from "node:vm";
import zlib from "node:zlib";
import { bmp24, openPage, pageDir, serve, sourceDir, strictPolicy } from "./browser.mjs";

const args = process.argv.slice(2);
const option = name => {
  const at = args.indexOf(name);
  return at >= 0 ? args.splice(at, 2)[1] : null;
};
const screenshots = option("--screenshots");
const browserName = option("--browser") ?? "chromium";
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
    // The download in base64, which crosses to the test quickly; under a
    // strict policy the page may not fetch its own blob: addresses, and it
    // is "unread" then.
    const base64 = bytes => {
      let text = "";
      for (let at = 0; at < bytes.length; at += 0x8000) text += String.fromCharCode(...bytes.subarray(at, at + 0x8000));
      return btoa(text);
    };
    const bytesOf = async link => shown(link) && link.href
      ? fetch(link.href).then(async response => base64(new Uint8Array(await response.arrayBuffer())), () => "unread")
      : null;
    const keyboard = document.getElementById("keyboard");
    const zoomed = document.getElementById("keyboard-zoomed");
    const status = document.getElementById("status");
    const box = keyboard.getBoundingClientRect();
    return {
      message: status.textContent,
      error: status.classList.contains("error"),
      pictureShown: shown(keyboard),
      pictureWidth: box.width,
      pictureInView: box.top >= 0 && box.bottom <= window.innerHeight + 1, // layout rounds to a fraction
      zoomedWidth: zoomed.getBoundingClientRect().width,
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

// The RGBA pixels of a PNG (a screenshot), as the browser decodes it.
async function pixelsOfPng(page, bytes) {
  return Buffer.from(await page.evaluate(async base64 => {
    const png = Uint8Array.from(atob(base64), letter => letter.charCodeAt(0));
    const image = await createImageBitmap(new Blob([png], { type: "image/png" }));
    const context = new OffscreenCanvas(image.width, image.height).getContext("2d");
    context.drawImage(image, 0, 0);
    const rgba = context.getImageData(0, 0, image.width, image.height).data;
    let text = "";
    for (let at = 0; at < rgba.length; at += 0x8000) text += String.fromCharCode(...rgba.subarray(at, at + 0x8000));
    return btoa(text);
  }, Buffer.from(bytes).toString("base64")), "base64");
}

// A PNG made by the browser: `width` x `height` of one colour, alpha included.
async function browserPng(page, width, height, rgba) {
  return Buffer.from(await page.evaluate(async (width, height, rgba) => {
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext("2d");
    context.fillStyle = `rgba(${rgba[0]}, ${rgba[1]}, ${rgba[2]}, ${rgba[3] / 255})`;
    context.fillRect(0, 0, width, height);
    return Array.from(new Uint8Array(await (await canvas.convertToBlob({ type: "image/png" })).arrayBuffer()));
  }, width, height, rgba));
}

// The RGB rows, top first, of a 24-bit bottom-up BMP, read as the format lays them out.
function rgbOfBmp(file) {
  const width = file.readInt32LE(18);
  const height = file.readInt32LE(22);
  const stride = Math.ceil((width * 3) / 4) * 4;
  const rgb = Buffer.alloc(width * height * 3);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const from = file.readUInt32LE(10) + (height - 1 - y) * stride + x * 3;
      rgb.set([file[from + 2], file[from + 1], file[from]], (y * width + x) * 3);
    }
  }
  return { width, height, rgb };
}

// An 8-bit RGB PNG, with `chunks` ([type, data]) before its pixels.
function pngFile({ width, height, rgb }, chunks = []) {
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, "latin1"), data]);
    const framed = Buffer.alloc(body.length + 8);
    framed.writeUInt32BE(data.length, 0);
    body.copy(framed, 4);
    framed.writeUInt32BE(zlib.crc32(body), body.length + 4);
    return framed;
  };
  const rows = Buffer.alloc((width * 3 + 1) * height); // filter 0 on every row
  for (let y = 0; y < height; y++) rgb.copy(rows, y * (width * 3 + 1) + 1, y * width * 3, (y + 1) * width * 3);
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 2], 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk("IHDR", header),
                        ...chunks.map(([type, data]) => chunk(type, data)),
                        chunk("IDAT", zlib.deflateSync(rows, { level: 1 })), chunk("IEND", Buffer.alloc(0))]);
}
const u32s = (...values) => Buffer.concat(values.map(value => {
  const bytes = Buffer.alloc(4);
  bytes.writeUInt32BE(value);
  return bytes;
}));

// An ICC display profile (version 2) with sRGB's primaries and a plain
// power-law tone curve of `gamma`: a browser that applies it changes the
// colours of a picture a long way.
function iccProfile(gamma) {
  const typed = (type, size) => {
    const data = Buffer.alloc(size);
    data.write(type, 0, "latin1");
    return data;
  };
  const xyz = (...values) => {
    const data = typed("XYZ ", 20);
    values.forEach((value, i) => data.writeInt32BE(Math.round(value * 65536), 8 + i * 4));
    return data;
  };
  const curve = typed("curv", 16);
  curve.writeUInt32BE(1, 8);
  curve.writeUInt16BE(Math.round(gamma * 256), 12);
  const description = typed("desc", 12 + 5 + 12 + 67);
  description.writeUInt32BE(5, 8);
  description.write("test", 12, "latin1");
  const tags = [["desc", description], ["wtpt", xyz(0.9642, 1, 0.8249)], ["rXYZ", xyz(0.4361, 0.2225, 0.0139)],
                ["gXYZ", xyz(0.3851, 0.7169, 0.0971)], ["bXYZ", xyz(0.1431, 0.0606, 0.7141)],
                ["rTRC", curve], ["gTRC", curve], ["bTRC", curve]];
  const table = Buffer.alloc(4 + tags.length * 12);
  table.writeUInt32BE(tags.length, 0);
  let at = 128 + table.length;
  const data = tags.map(([signature, bytes], i) => {
    table.write(signature, 4 + i * 12, "latin1");
    table.writeUInt32BE(at, 8 + i * 12);
    table.writeUInt32BE(bytes.length, 12 + i * 12);
    const padded = Buffer.alloc(Math.ceil(bytes.length / 4) * 4);
    bytes.copy(padded);
    at += padded.length;
    return padded;
  });
  const header = Buffer.alloc(128);
  header.writeUInt32BE(at, 0);
  header.writeUInt32BE(0x02100000, 8);
  header.write("mntrRGB XYZ ", 12, "latin1");
  header.write("acsp", 36, "latin1");
  [0.9642, 1, 0.8249].forEach((value, i) => header.writeInt32BE(Math.round(value * 65536), 68 + i * 4));
  return Buffer.concat([header, table, ...data]);
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

// Hands files or data to the page as a drop or a paste would.
async function handOver(page, how, { files = [], data = {} }) {
  await page.evaluate((how, files, data) => {
    const transfer = new DataTransfer();
    for (const [bytes, name] of files) transfer.items.add(new File([new Uint8Array(bytes)], name));
    for (const [format, value] of Object.entries(data)) transfer.setData(format, value);
    const init = { bubbles: true, cancelable: true };
    document.body.dispatchEvent(how === "paste" ? new ClipboardEvent("paste", { ...init, clipboardData: transfer })
                                                : new DragEvent("drop", { ...init, dataTransfer: transfer }));
  }, how, files.map(([bytes, name]) => [Array.from(bytes), name]), data);
}

// The BMP download, as the browser saves it when the link is clicked.
async function downloaded(page) {
  const folder = mkdtempSync(path.join(tmpdir(), "keyboard-picture-download-"));
  try {
    const session = await page.browser().target().createCDPSession();
    await session.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: folder });
    await page.click("#download");
    const file = path.join(folder, "zzOut.bmp");
    for (let waited = 0; !existsSync(file) && waited < 5000; waited += 50) {
      await new Promise(resolve => setTimeout(resolve, 50));
    }
    return existsSync(file) ? readFileSync(file) : Buffer.alloc(0);
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}

// The tool's environment, as the running module holds it.
async function toolEnvironment(page) {
  const [worker] = page.workers();
  return worker.evaluate(async () => {
    const { ENV } = await toolStarted;
    return `LANG=${ENV.LANG} LANGUAGE=${ENV.LANGUAGE}`;
  });
}

const golden = readFileSync(path.join(sourceDir, "tests/data/example-zzOut.bmp"));
const exampleKey = readFileSync(path.join(sourceDir, "examples/key.bmp"));
const exampleRgb = rgbOfBmp(exampleKey);
const goldenColours = new Set();
for (let at = 0, { rgb } = rgbOfBmp(golden); at < rgb.length; at += 3) goldenColours.add(rgb.readUIntBE(at, 3));
const downloadBytes = download => (download && download !== "unread" ? Buffer.from(download, "base64") : null);
const sameBytes = (download, expected) => downloadBytes(download)?.equals(expected) ?? false;
const drewKey = "Drew the keyboard from key.bmp. zzOut.bmp and zzOut.png are ready to download.";
const drewConverted = name => `Drew the keyboard from ${name}, converted to BMP. zzOut.bmp and zzOut.png are ready to ` +
                              "download.";

// Share of a screenshot's pixels in colours the golden picture does not
// have: none where the picture is shown pixel for pixel or enlarged crisply,
// many where it is smoothed.
async function blendedShare(page, element) {
  const rgba = await pixelsOfPng(page, await element.screenshot({ type: "png" }));
  let blended = 0;
  for (let at = 0; at < rgba.length; at += 4) blended += goldenColours.has(rgba.readUIntBE(at, 3)) ? 0 : 1;
  return blended / (rgba.length / 4);
}

// Every word the page says, in every language it speaks.
function wordsSection() {
  const { en, ja } = vm.runInNewContext(`${readFileSync(path.join(sourceDir, "web/words.js"), "utf8")}; pageWords`);
  const shape = words => Object.entries(words)
    .map(([key, entry]) => `${key}:${typeof entry === "function" ? `function of ${entry.length}` : typeof entry}`).sort();
  check("words.js has the same entries, of the same kind, in English and Japanese",
        JSON.stringify(shape(en)) === JSON.stringify(shape(ja)));
  const html = readFileSync(path.join(sourceDir, "web/index.html"), "utf8");
  const named = [...html.matchAll(/data-(?:label-)?words="(\w+)"/g)].map(match => match[1]);
  check("every text index.html names is in words.js, in both languages",
        named.length > 10 && named.every(key => typeof en[key] === "string" && typeof ja[key] === "string"),
        named.filter(key => typeof en[key] !== "string" || typeof ja[key] !== "string").join(" "));
}

// The example, the formats and the exact colours, in one page opened from disk.
async function formatsSection() {
  const browser = await openPage(buildDir, { browser: browserName });
  const { page } = browser;
  try {
    if (browserName === "chromium") {
      // The file button is reachable with the keyboard alone.
      let focused = "";
      for (let i = 0; i < 10 && focused !== "key-file"; i++) {
        await page.keyboard.press("Tab");
        focused = await page.evaluate(() => document.activeElement && document.activeElement.id);
      }
      check("the file button takes the keyboard focus", focused === "key-file", focused);
      check("axe finds nothing before drawing", (await axeViolations(page)).length === 0, await axeViolations(page));
    }
    // What loading the page costs is the benchmark's to tell (Firefox has no Long Tasks to watch).
    if (browserName === "chromium") await browser.toolStarted();
    await page.evaluate(() => { window.longTasks = []; });
    await browser.choose(exampleKey);
    const exampleTasks = await page.evaluate(() => window.longTasks);
    let s = await state(page);
    check("the example key cap draws, and says the downloads are ready", s.pictureShown && s.message === drewKey,
          s.message);
    check("the download is the command line's golden picture, byte for byte", sameBytes(s.download, golden),
          downloadBytes(s.download) ? `${downloadBytes(s.download).length} bytes` : `no download (${s.download})`);
    check("the download is offered as zzOut.bmp", s.downloadName === "zzOut.bmp");
    check("the PNG download has the same pixels", await pngMatchesBmp(page));
    check("the picture has a text alternative; its zoomed copy is decorative", s.label.length > 20 && s.zoomedHidden,
          s.label);
    if (browserName === "chromium") {
      check("the zoomed copy is twice as large", s.zoomedWidth === 1260, s.zoomedWidth);
      check("axe finds nothing after drawing", (await axeViolations(page)).length === 0, await axeViolations(page));
      check("the example keeps the page's thread free (no task of 50 ms)", exampleTasks.length === 0, exampleTasks);
      check("the tool runs in the C locale for an English reader", (await toolEnvironment(page)) === "LANG=C LANGUAGE=undefined",
            await toolEnvironment(page));
      if (screenshots) await page.screenshot({ path: path.join(screenshots, "web.png"), fullPage: true });
    }

    // Refused files name what was chosen, in the tool's words for what it
    // judges and in the page's for pictures of other kinds; the picture and
    // the downloads go.
    const tooLarge = (name, size) => `${name}: ${size} × ${size} pixels is more than the 33,554,432 pixels this tool ` +
                                     "draws from.";
    const refusals = [
      ["a truncated BMP", exampleKey.subarray(0, 100), "picture.bmp",
       "keyboard-picture: picture.bmp: BMP pixel data is truncated"],
      ["an empty file", Buffer.alloc(0), "empty.bmp", "keyboard-picture: empty.bmp: file is empty"],
      ["text the browser cannot open", Buffer.from("Dear keyboard,"), "notes.txt",
       "keyboard-picture: notes.txt: not a BMP file: it starts with bytes 0x44 0x65"],
      ["an iPhone's HEIC", Buffer.concat([u32s(24), Buffer.from("ftypheic\0\0\0\0mif1heic"), Buffer.alloc(400, 7)]),
       "key.heic", "key.heic is in HEIC format, which this browser cannot open; save it as PNG or JPEG, then choose " +
       "it again."],
      ["a damaged AVIF, whose major brand is HEIF's", Buffer.concat([u32s(28), Buffer.from("ftypmif1\0\0\0\0mif1miafavif"),
       Buffer.alloc(400, 7)]), "photo.avif", "photo.avif seems to be in AVIF format, but this browser cannot open it; " +
       "the file may be damaged."],
      ["a TIFF", Buffer.concat([Buffer.from("II*\0"), u32s(8), Buffer.alloc(200)]), "key.tif",
       "key.tif is in TIFF format, which this browser cannot open; save it as PNG or JPEG, then choose it again."],
      ["a damaged PNG", Buffer.concat([pngFile(exampleRgb).subarray(0, 33), Buffer.alloc(300, 1)]), "broken.png",
       "broken.png seems to be in PNG format, but this browser cannot open it; the file may be damaged."],
      ["an SVG without a size", Buffer.from('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 40 32"/>'),
       "shape.svg", "shape.svg is an SVG picture without a width and height of its own, so it has no size to be drawn " +
       "at; give its svg element width and height attributes, or save it as PNG."],
      ["too large an SVG", Buffer.from('<svg xmlns="http://www.w3.org/2000/svg" width="8000" height="8000"/>'),
       "huge.svg", tooLarge("huge.svg", "8,000")],
      ["too large a PNG", pngFile({ width: 6000, height: 6000, rgb: Buffer.alloc(6000 * 6000 * 3) }), "huge.png",
       tooLarge("huge.png", "6,000")],
    ];
    for (const [what, bytes, name, words] of refusals) {
      await browser.choose(bytes, name);
      s = await state(page);
      check(`${what} is refused in words that name it`, s.error && s.message.startsWith(words) &&
            !s.message.includes("\n"), s.message);
      check(`${what} shows no picture and offers no download`, !s.pictureShown && s.download === null);
    }

    for (const [width, height] of [[1, 1], [700, 400], [41, 17]]) {
      await browser.choose(bmp24(width, height));
      s = await state(page);
      check(`a ${width} x ${height} key cap gives a whole BMP`, s.pictureShown && downloadBytes(s.download)?.length === golden.length,
            s.message);
    }

    // Other pictures are converted with their colours as stored, and
    // flattened onto white: the same as a BMP of those pixels. A PNG of the
    // example gives the golden picture whatever colour chunks it carries.
    // `trap` rows carry chunks that change the colours where a browser
    // applies them, as it does by default.
    const svg = '<svg xmlns="http://www.w3.org/2000/svg" width="40" height="32"><rect width="40" height="32" ' +
                'fill="rgb(200, 40, 90)"/></svg>';
    const imageMagickChunks = [["gAMA", u32s(45455)],
                               ["cHRM", u32s(31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000)]];
    const iccp = Buffer.concat([Buffer.from("linear\0\0", "latin1"), zlib.deflateSync(iccProfile(1))]);
    const conversions = [
      ["an opaque PNG", await browserPng(page, 40, 32, [200, 40, 90, 255]), "key.png", solidBmp(40, 32, [200, 40, 90])],
      ["a transparent PNG", await browserPng(page, 30, 30, [0, 0, 0, 0]), "key.png", solidBmp(30, 30, [255, 255, 255])],
      ["an SVG with a size", Buffer.from(svg), "key.svg", solidBmp(40, 32, [200, 40, 90])],
      ["the example as a PNG with gAMA and cHRM", pngFile(exampleRgb, imageMagickChunks), "example.png", golden, true],
      ["the example as a PNG of gamma 1.0", pngFile(exampleRgb, [["gAMA", u32s(100000)]]), "example.png", golden, true],
      ["the example as a PNG marked sRGB", pngFile(exampleRgb, [["sRGB", Buffer.from([0])]]), "example.png", golden],
      ["the example as a PNG with an ICC profile", pngFile(exampleRgb, [["iCCP", iccp]]), "example.png", golden, true],
    ];
    for (const [what, picture, name, equivalent, trap] of conversions) {
      let expected = equivalent;
      if (equivalent !== golden) {
        await browser.choose(equivalent, "equivalent.bmp");
        expected = downloadBytes((await state(page)).download) ?? Buffer.alloc(0);
      }
      if (trap) {
        const changed = await page.evaluate(async (bytes, stored) => {
          const image = await createImageBitmap(new Blob([new Uint8Array(bytes)]));
          const context = new OffscreenCanvas(image.width, image.height).getContext("2d");
          context.drawImage(image, 0, 0);
          const rgba = context.getImageData(0, 0, image.width, image.height).data;
          return stored.some((value, i) => value !== rgba[Math.floor(i / 3) * 4 + (i % 3)]);
        }, Array.from(picture), Array.from(exampleRgb.rgb));
        check(`${what} changes colour where the browser applies its chunks`, changed);
      }
      await browser.choose(picture, name);
      s = await state(page);
      check(`${what} is converted and says so`, s.message === drewConverted(name), s.message);
      check(`${what} draws as a BMP of its pixels, exactly`, sameBytes(s.download, expected));
    }
  } finally {
    await browser.close();
  }
}

// Drops and pastes of files, links and text, from a page opened from disk:
// a link there cannot be fetched, and the page says what to do instead.
async function handOverSection() {
  const pictures = await serve(path.join(sourceDir, "examples"));
  const browser = await openPage(buildDir, { browser: browserName });
  const { page } = browser;
  try {
    const text = Buffer.from("not a picture");
    const unfetchable = "key.bmp could not be fetched from where it is: save the picture to your computer, then " +
                        "choose or drop the file.";
    const handOvers = [
      ["a dropped key cap", "drop", { files: [[exampleKey, "dropped.bmp"]] }, true,
       "Drew the keyboard from dropped.bmp. zzOut.bmp and zzOut.png are ready to download."],
      ["a pasted key cap", "paste", { files: [[exampleKey, "key.bmp"]] }, true, drewKey],
      ["two dropped files", "drop", { files: [[exampleKey, "key.bmp"], [text, "notes.txt"]] }, true,
       `${drewKey} The other file was left: choose or drop one at a time.`],
      ["three pasted files", "paste", { files: [[text, "notes.txt"], [exampleKey, "key.bmp"], [text, "more.txt"]] },
       false, 'keyboard-picture: notes.txt: not a BMP file: it starts with bytes 0x6E 0x6F, not "BM" The other 2 ' +
       "files were left: choose or drop one at a time."],
      ["pasted text", "paste", { data: { "text/plain": "Dear keyboard," } }, false,
       "The pasted text is not a picture: copy a picture or a picture file, then paste it here."],
      ["a paste that holds nothing", "paste", {}, false,
       "What was pasted holds no picture: copy a picture or a picture file, then paste it here."],
      ["dropped text", "drop", { data: { "text/plain": "Dear keyboard," } }, false,
       "What was dropped holds no picture: drop a picture file, or a picture from another page."],
      ["a dropped link", "drop", { data: { "text/uri-list": `# a comment\n${pictures.url}key.bmp` } }, false,
       unfetchable],
      ["a pasted link", "paste", { data: { "text/plain": `${pictures.url}key.bmp` } }, false, unfetchable],
    ];
    for (const [what, how, payload, draws, words] of handOvers) {
      if (how === "paste" && browserName === "firefox") continue; // its made-up paste events carry no data
      await handOver(page, how, payload);
      await browser.settled();
      const s = await state(page);
      check(`${what} ${draws ? "gives the golden picture" : "draws nothing"}, and the page says so`,
            s.message === words && s.pictureShown === draws && (draws ? sameBytes(s.download, golden) : s.download === null),
            s.message);
    }
  } finally {
    await browser.close();
    await pictures.close();
  }
}

// Ctrl+V with something on the system's clipboard, in a page served over
// http, where the test may write to the clipboard.
async function pasteSection() {
  const server = await serve(pageDir(buildDir), { headers: { "Content-Security-Policy": strictPolicy },
                                                  extra: { "/pictures/key.bmp": exampleKey } });
  const browser = await openPage(buildDir, { browser: browserName, url: server.url });
  const { page } = browser;
  try {
    if (browserName === "chromium") {
      await page.browserContext().overridePermissions(server.url.replace(/\/$/, ""),
                                                      ["clipboard-read", "clipboard-write", "clipboard-sanitized-write"]);
    }
    const pastes = [
      ["a copied picture", "image/png", await browserPng(page, 40, 32, [200, 40, 90, 255]), drewConverted("image.png")],
      ["a copied link to a picture", "text/plain", `${server.url}pictures/key.bmp`, drewKey],
      ["copied text", "text/plain", "Dear keyboard,",
       "The pasted text is not a picture: copy a picture or a picture file, then paste it here."],
    ];
    for (const [what, type, content, words] of pastes) {
      await page.bringToFront();
      await page.evaluate(async (type, content) => {
        const bytes = typeof content === "string" ? content : new Uint8Array(content);
        await navigator.clipboard.write([new ClipboardItem({ [type]: new Blob([bytes], { type }) })]);
      }, type, typeof content === "string" ? content : Array.from(content));
      await page.keyboard.down("Control");
      await page.keyboard.press("v", browserName === "chromium" ? { commands: ["Paste"] } : {});
      await page.keyboard.up("Control");
      await browser.settled();
      const s = await state(page);
      check(`Ctrl+V with ${what} on the clipboard: the page says so`, s.message === words, s.message);
    }
  } finally {
    await browser.close();
    await server.close();
  }
}

// The page's thread, quick choices and the drop outline.
async function threadSection() {
  const browser = await openPage(buildDir);
  const { page } = browser;
  try {
    // Only the latest choice touches the page, however soon it follows a slow one.
    const big = bmp24(4000, 4000);
    const pngKey = await browserPng(page, 40, 32, [200, 40, 90, 255]);
    const races = [
      [100, "notes.txt", Buffer.from("not a picture"), false],
      [0, "key.bmp", exampleKey, true],
      [250, "notes.txt", Buffer.from("not a picture"), false],
      [30, "key.png", pngKey, true],
    ];
    for (const [delay, name, bytes, draws] of races) {
      await browser.pick(big, "big.bmp");
      await new Promise(resolve => setTimeout(resolve, delay));
      await browser.pick(bytes, name);
      await browser.settled();
      await new Promise(resolve => setTimeout(resolve, 1500)); // time for the big one to finish, were it to show
      const s = await state(page);
      check(`${name} chosen ${delay} ms after a big key cap is what the page shows`,
            s.message.includes(name) && s.pictureShown === draws && (s.download !== null) === draws &&
            (!draws || downloadBytes(s.download).length === golden.length) && !s.message.includes("big.bmp"), s.message);
    }

    // The worker reads the file: the page's thread never holds on for it.
    const heavy = [["a 4000 x 4000 key cap", big, "big.bmp", true], ["a 50 MB file", Buffer.alloc(50e6), "big.dat", false]];
    for (const [what, bytes, name, draws] of heavy) {
      await page.evaluate(() => { window.longTasks = []; });
      await browser.choose(bytes, name);
      const tasks = await page.evaluate(() => window.longTasks);
      check(`${what} is done with, and no task on the page's thread reached 50 ms`,
            tasks.length === 0 && (await state(page)).pictureShown === draws, tasks.join(" "));
    }
    check("nothing is fetched from elsewhere", browser.foreignRequests.length === 0, browser.foreignRequests.join(" "));

    // A drag over the window outlines the window's edge, and nothing else.
    const accentAtEdges = async () => {
      const rgba = await pixelsOfPng(page, await page.screenshot({ type: "png" }));
      const { width, height } = page.viewport();
      const accent = (x, y) => {
        const at = (y * width + x) * 4;
        return Math.abs(rgba[at] - 0x1f) + Math.abs(rgba[at + 1] - 0x57) + Math.abs(rgba[at + 2] - 0xc3) < 40;
      };
      const share = (length, pixel) => {
        let hits = 0;
        for (let i = 0; i < length; i++) hits += [...Array(12).keys()].some(depth => pixel(i, depth)) ? 1 : 0;
        return hits / length;
      };
      return [share(width, (x, d) => accent(x, d)), share(width, (x, d) => accent(x, height - 1 - d)),
              share(height, (y, d) => accent(d, y)), share(height, (y, d) => accent(width - 1 - d, y))];
    };
    await page.evaluate(() => document.body.dispatchEvent(new DragEvent("dragover", { bubbles: true, cancelable: true })));
    const during = await accentAtEdges();
    check("a drag over the page outlines all four edges of the window", during.every(share => share > 0.3),
          during.map(share => share.toFixed(2)).join(" "));
    await page.evaluate(() => document.body.dispatchEvent(new DragEvent("dragleave", { bubbles: true, relatedTarget: null })));
    const after = await accentAtEdges();
    check("the outline goes when the drag leaves the window", after.every(share => share < 0.05),
          after.map(share => share.toFixed(2)).join(" "));
  } finally {
    await browser.close();
  }
}

// Any screen: a phone, a window at 400% zoom (1280 / 4), and dark. Shrunk,
// the picture is smoothed, so that no row of a legend is lost; shown at its
// size or enlarged, it keeps its exact pixels.
async function screensSection() {
  const screens = [
    ["a 390 px phone", { viewport: { width: 390, height: 844, isMobile: true, hasTouch: true } }, true, "web-phone.png"],
    ["400% zoom", { viewport: { width: 320, height: 256, deviceScaleFactor: 4 } }, false, null],
    ["dark mode", { colorScheme: "dark" }, false, null],
  ];
  for (const [what, options, smoothed, screenshot] of screens) {
    const browser = await openPage(buildDir, options);
    const { page } = browser;
    try {
      await browser.choose(exampleKey);
      const s = await state(page);
      check(`at ${what} nothing scrolls sideways and the picture fits`,
            s.pageWidth <= s.viewportWidth && s.pictureWidth <= s.viewportWidth && s.zoomedWidth <= s.viewportWidth,
            `page ${s.pageWidth}, picture ${s.pictureWidth}, zoomed ${s.zoomedWidth}, viewport ${s.viewportWidth}`);
      check(`at ${what} the picture is in view once drawn`, s.pictureInView);
      const blended = await blendedShare(page, await page.$("#keyboard"));
      check(`at ${what} the picture is ${smoothed ? "smoothed" : "shown with its exact colours"}`,
            smoothed ? blended > 0.05 : blended < 0.005, blended.toFixed(3));
      if (s.zoomedWidth > 0) {
        const zoomedBlend = await blendedShare(page, await page.$("#keyboard-zoomed"));
        check(`at ${what} the zoomed copy keeps its exact colours`, zoomedBlend < 0.005, zoomedBlend.toFixed(3));
      }
      check(`at ${what} axe finds nothing`, (await axeViolations(page)).length === 0, await axeViolations(page));
      if (screenshots && screenshot) await page.screenshot({ path: path.join(screenshots, screenshot), fullPage: true });
    } finally {
      await browser.close();
    }
  }
}

// Failing to start is said plainly, in the page's own words.
async function startsSection() {
  const starts = [
    ["without WebAssembly", { beforeLoad: () => { delete window.WebAssembly; } }, "needs WebAssembly"],
    ["without its script", { script: () => "abort" }, "keyboard-picture.js, which holds the drawing tool, did not load"],
    ["with broken WebAssembly", { script: text => text.replace(/AGFzbQ/g, "AGFzbR") },
     "could not start the drawing tool"],
  ];
  for (const [what, options, words] of starts) {
    const browser = await openPage(buildDir, options);
    const { page } = browser;
    try {
      await page.waitForFunction(() => document.getElementById("status").textContent !== "", { timeout: 10000 })
        .catch(() => {});
      const s = await state(page);
      check(`${what} the page says so plainly`, s.error && s.message.includes(words) &&
            !/ASSERTIONS|Aborted/.test(s.message), s.message);
    } finally {
      await browser.close();
    }
  }
  // The page's worker starts before its tool has loaded; a picture chosen
  // meanwhile waits for the tool, and is drawn.
  const late = await openPage(buildDir, {
    script: text => new Promise(resolve => setTimeout(() => resolve(text), 1500)),
    waitUntil: "domcontentloaded",
  });
  try {
    await late.pick(exampleKey);
    await late.page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Drawing"),
                                    { timeout: 1000 }).catch(() => {});
    const waiting = await state(late.page);
    await late.settled();
    check("a picture chosen before the tool has loaded waits for it, and is drawn",
          waiting.message === "Drawing the keyboard from key.bmp…" && !waiting.pictureShown &&
          (await state(late.page)).message === drewKey && (await downloaded(late.page)).equals(golden), waiting.message);
  } finally {
    await late.close();
  }
  // A PNG that comes a while after its picture: the picture, shown at
  // once, is not dimmed by the "Drawing…" that the wait brings.
  const latePng = await openPage(buildDir, { beforeLoad: () => {
    const { set } = Object.getOwnPropertyDescriptor(Worker.prototype, "onmessage");
    Object.defineProperty(Worker.prototype, "onmessage", { set(receive) {
      set.call(this, event => (event.data.type === "png" ? setTimeout(() => receive(event), 500) : receive(event)));
    } });
  } });
  try {
    await latePng.choose(exampleKey);
    const opacity = await latePng.page.$eval("#keyboard", canvas => getComputedStyle(canvas).opacity);
    check("a picture whose PNG comes late is shown undimmed once drawn",
          (await state(latePng.page)).message === drewKey && opacity === "1", opacity);
  } finally {
    await latePng.close();
  }
  // A tool slow to start: what is chosen meanwhile is read and judged, and
  // drawn once it has. An SVG is drawn by the page, which learns the tool's
  // size limit only as it starts.
  const slowStart = text => text.replace('KeyboardPictureWorker = "', "KeyboardPictureWorker = \"{ const instantiate = " +
    "WebAssembly.instantiate; WebAssembly.instantiate = (...args) => new Promise(resolve => setTimeout(resolve, 1500))" +
    ".then(() => instantiate(...args)); }");
  const svg = '<svg xmlns="http://www.w3.org/2000/svg" width="40" height="32"/>';
  for (const [what, bytes, name, expected] of [["the example", exampleKey, "key.bmp", drewKey],
                                               ["an SVG", Buffer.from(svg), "key.svg", drewConverted("key.svg")]]) {
    const starting = await openPage(buildDir, { script: slowStart });
    try {
      await starting.choose(bytes, name);
      const s = await state(starting.page);
      check(`${what} chosen while the tool starts is drawn once it has`, s.message === expected, s.message);
    } finally {
      await starting.close();
    }
  }
  // A browser that cannot decode base64 at once decodes the tool a character at a time.
  const slow = await openPage(buildDir, { script: text => text.replace('KeyboardPictureWorker = "',
                                                                       'KeyboardPictureWorker = "delete Uint8Array.fromBase64;') });
  try {
    await slow.choose(exampleKey);
    check("without Uint8Array.fromBase64 the example gives the golden picture",
          (await state(slow.page)).message === drewKey && (await downloaded(slow.page)).equals(golden));
  } finally {
    await slow.close();
  }
  const browser = await openPage(buildDir, { javaScript: false });
  try {
    check("without JavaScript the page says it needs it, and what it is for",
          /Draws a Japanese \(JIS\) keyboard[\s\S]*This page needs JavaScript/.test(
            await browser.page.evaluate(() => document.body.innerText)));
  } finally {
    await browser.close();
  }
}

// Served over http with the strict policy: everything the page needs comes
// from its own folder, a link to a picture on the same server is fetched,
// and one elsewhere is not.
async function policySection() {
  const server = await serve(pageDir(buildDir), { headers: { "Content-Security-Policy": strictPolicy },
                                                  extra: { "/pictures/key.bmp": exampleKey } });
  const elsewhere = await serve(path.join(sourceDir, "examples"), { headers: { "Access-Control-Allow-Origin": "*" } });
  const browser = await openPage(buildDir, { url: server.url });
  const { page } = browser;
  const consoleErrors = [];
  page.on("console", message => { if (message.type() === "error") consoleErrors.push(message.text()); });
  try {
    check("the page's policy is the strict one", (await page.evaluate(async () =>
      (await fetch(location.href)).headers.get("Content-Security-Policy"))) === strictPolicy);
    await browser.choose(exampleKey);
    const violations = await page.evaluate(() => window.policyViolations);
    check("the page breaks none of the policy", violations.length === 0 && consoleErrors.length === 0,
          [...violations, ...consoleErrors].join("; "));
    let s = await state(page); // its fetch of the download is refused: the page's own fetches only are watched
    check("under the strict policy the example gives the golden picture", s.message === drewKey &&
          (await downloaded(page)).equals(golden), s.message);

    const links = [
      ["an image dragged from a page on the same server", { "text/html": `<a href="/elsewhere"><img src="${server.url}` +
       'pictures/key.bmp"></a>', "text/uri-list": `${server.url}elsewhere` }, "key.bmp", true],
      ["an image from another server, which the policy keeps out", { "text/uri-list": `${elsewhere.url}key.bmp` },
       "key.bmp", false],
    ];
    for (const [what, data, name, draws] of links) {
      await handOver(page, "drop", { data });
      await browser.settled();
      s = await state(page);
      check(`${what}: ${draws ? "the golden picture" : "the page says what to do instead"}`,
            draws ? s.message === drewKey && (await downloaded(page)).equals(golden)
                  : s.download === null && s.message.startsWith(`${name} could not be fetched`), s.message);
    }
  } finally {
    await browser.close();
    await server.close();
    await elsewhere.close();
  }
}

// A browser that prefers Japanese gets the page in Japanese, and the tool
// is handed the language.
async function japaneseSection() {
  const browser = await openPage(buildDir, { language: "ja" });
  const { page } = browser;
  try {
    const page1 = await page.evaluate(() => ({
      lang: document.documentElement.lang,
      button: document.querySelector("label[for=key-file]").textContent,
      heading: document.getElementById("about-heading").textContent,
      english: [...document.querySelectorAll("[data-words]")]
        .filter(element => !/[\u3040-\u30ff\u4e00-\u9fff]/.test(element.textContent || element.content))
        .map(element => element.dataset.words),
    }));
    check("the page says it is in Japanese", page1.lang === "ja", page1.lang);
    check("the page's own words are Japanese", page1.button === "キーキャップの画像を選択…" &&
          page1.heading === "しくみ" && page1.english.length === 0, JSON.stringify(page1));
    await browser.choose(exampleKey);
    let s = await state(page);
    check("in Japanese the example gives the golden picture, and says so in Japanese",
          sameBytes(s.download, golden) &&
          s.message === "key.bmp からキーボードを描きました。zzOut.bmp と zzOut.png をダウンロードできます。", s.message);
    check("in Japanese axe finds nothing", (await axeViolations(page)).length === 0, await axeViolations(page));
    await browser.choose(Buffer.concat([u32s(24), Buffer.from("ftypheic\0\0\0\0mif1heic"), Buffer.alloc(400, 7)]),
                         "key.heic");
    s = await state(page);
    check("in Japanese a HEIC is refused in Japanese", s.message === "key.heic は HEIC 形式の画像で、このブラウザーでは" +
          "開けません。PNG か JPEG で保存してから、もう一度選択してください。", s.message);
    await browser.choose(Buffer.from("Dear keyboard,"), "notes.txt");
    s = await state(page);
    check("in Japanese the tool refuses a text file in Japanese, naming it", s.error && s.message ===
          "keyboard-picture: notes.txt: BMP ファイルではありません: 先頭のバイトが \"BM\" ではなく 0x44 0x65 です",
          s.message);
    check("the tool is handed Japanese", (await toolEnvironment(page)) === "LANG=ja_JP.UTF-8 LANGUAGE=ja",
          await toolEnvironment(page));
  } finally {
    await browser.close();
  }
}

const sections = [
  [wordsSection, ["chromium"]],
  [formatsSection, ["chromium", "firefox"]],
  [handOverSection, ["chromium", "firefox"]],
  [pasteSection, ["chromium", "firefox"]],
  [threadSection, ["chromium"]],
  [screensSection, ["chromium"]],
  [startsSection, ["chromium"]],
  [policySection, ["chromium"]],
  [japaneseSection, ["chromium"]],
];
for (const [section, browsers] of sections) {
  if (browsers.includes(browserName) && (!process.env.SECTIONS || process.env.SECTIONS.includes(section.name))) {
    const started = Date.now();
    await section();
    console.log(`${section.name}: ${((Date.now() - started) / 1000).toFixed(1)} s`);
  }
}
console.log(`${browserName}: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
