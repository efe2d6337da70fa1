// SPDX-License-Identifier: MIT
// Opens the built page from disk in Debian's headless Chromium, and chooses
// files in it as a person would, watching only what the page shows. Shared
// by the page test and its benchmark.
import puppeteer from "puppeteer-core";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

export const sourceDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");

export function pageDir(buildDir) {
  return path.join(path.resolve(buildDir ?? path.join(sourceDir, "build-web")), "web");
}

// A 24-bit bottom-up BMP of `width` x `height` with a different colour in every pixel.
export function bmp24(width, height) {
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

// Options: viewport, colorScheme ("dark"), javaScript (false to turn it
// off), beforeLoad (a function run in the page before its own scripts), and
// script (a function of the request for keyboard-picture.js: "abort", or a
// body to serve instead).
export async function openPage(buildDir, options = {}) {
  const profile = mkdtempSync(path.join(tmpdir(), "keyboard-picture-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
    headless: true,
    // No sandbox: CI runs as root. The rest keeps Chromium from reaching for
    // Google's services, which this closed network refuses.
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", `--user-data-dir=${profile}`],
  });
  const page = await browser.newPage();
  const foreignRequests = [];
  await page.setRequestInterception(true);
  page.on("request", request => {
    const url = request.url();
    if (options.script && url.endsWith("/keyboard-picture.js")) {
      const script = options.script(readFileSync(fileURLToPath(url), "utf8"));
      if (script === "abort") {
        request.abort("failed");
      } else {
        request.respond({ status: 200, contentType: "text/javascript", body: script });
      }
    } else if (/^(file|blob|data):/.test(url)) {
      request.continue();
    } else {
      foreignRequests.push(url);
      request.abort();
    }
  });
  await page.setViewport(options.viewport ?? { width: 1360, height: 1200 });
  await page.emulateMediaFeatures([{ name: "prefers-color-scheme", value: options.colorScheme ?? "light" }]);
  await page.setJavaScriptEnabled(options.javaScript ?? true);
  // Tasks that hold the page's thread 50 ms or more, as the browser reports them.
  await page.evaluateOnNewDocument(() => {
    window.longTasks = [];
    new PerformanceObserver(list => window.longTasks.push(...list.getEntries().map(entry => entry.duration)))
      .observe({ type: "longtask" });
  });
  if (options.beforeLoad) await page.evaluateOnNewDocument(options.beforeLoad);
  await page.goto(pathToFileURL(path.join(pageDir(buildDir), "index.html")).href, { waitUntil: "load" });
  const scratch = mkdtempSync(path.join(tmpdir(), "keyboard-picture-files-"));

  const opened = {
    page,
    foreignRequests,
    // Chooses `bytes` through the file button, under `name`, without waiting.
    async pick(bytes, name = "key.bmp") {
      const folder = mkdtempSync(path.join(scratch, "pick-")); // a folder each, so that the file keeps its name
      writeFileSync(path.join(folder, name), bytes);
      await (await page.$("#key-file")).uploadFile(path.join(folder, name));
    },
    // Waits until the page has finished with the latest choice.
    async settled() {
      await page.waitForFunction(() => {
        const status = document.getElementById("status");
        return status.textContent !== "" && !status.classList.contains("busy");
      }, { timeout: 30000 });
    },
    async choose(bytes, name = "key.bmp") {
      await opened.pick(bytes, name);
      await opened.settled();
    },
    async close() {
      if (!browser.connected) return;
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
      rmSync(scratch, { recursive: true, force: true });
    },
  };
  return opened;
}
