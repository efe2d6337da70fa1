// SPDX-License-Identifier: MIT
// Opens the built page from disk in Debian's headless Chromium, and chooses
// files in it as a person would. Shared by the page test and its benchmark.
import puppeteer from "puppeteer-core";
import { mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

export const sourceDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");

export function pageDir(buildDir) {
  return path.join(path.resolve(buildDir ?? path.join(sourceDir, "build-web")), "web");
}

export async function openPage(buildDir) {
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
    if (/^(file|blob|data):/.test(url)) {
      request.continue();
    } else {
      foreignRequests.push(url);
      request.abort();
    }
  });
  await page.setViewport({ width: 1360, height: 1200 });
  await page.goto(pathToFileURL(path.join(pageDir(buildDir), "index.html")).href, { waitUntil: "load" });
  const scratch = mkdtempSync(path.join(tmpdir(), "keyboard-picture-files-"));
  let fileCount = 0;

  return {
    page,
    foreignRequests,
    // Chooses `bytes` through the file button, under `name`, and waits until the page has dealt with it.
    async choose(bytes, name = "key.bmp") {
      const file = path.join(scratch, `${++fileCount}-${name}`);
      writeFileSync(file, bytes);
      const before = await page.evaluate(() => Number(document.body.dataset.runs || 0));
      const input = await page.$("#key-file");
      await input.uploadFile(file);
      await page.waitForFunction(n => Number(document.body.dataset.runs || 0) > n, { timeout: 20000 }, before);
    },
    async close() {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
      rmSync(scratch, { recursive: true, force: true });
    },
  };
}
