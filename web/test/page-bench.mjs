// SPDX-License-Identifier: MIT
// Prints the page's two figures: the bytes it loads (the page and its
// script, WebAssembly inside), and the time from choosing examples/key.bmp to
// the picture on screen in headless Chromium, as the median of 20 choices.
// Asserts nothing: the numbers are for reading.
//
//   node page-bench.mjs [BUILD_DIR]
import { readFileSync, statSync } from "node:fs";
import path from "node:path";
import { openPage, pageDir, sourceDir } from "./browser.mjs";

const buildDir = process.argv[2];
const loaded = ["index.html", "keyboard-picture.js"].map(name => [name, statSync(path.join(pageDir(buildDir), name)).size]);
const total = loaded.reduce((sum, [, size]) => sum + size, 0);
console.log(`page and what it loads: ${total} bytes (${(total / 1024).toFixed(1)} KiB): ` +
            loaded.map(([name, size]) => `${name} ${size}`).join(", "));

const key = readFileSync(path.join(sourceDir, "examples/key.bmp"));
const browser = await openPage(buildDir);
const times = [];
try {
  await browser.choose(key); // the first choice also waits for the module to compile: shown, not counted
  console.log(`first choice after opening the page: ${(await browser.page.evaluate(() => window.lastDrawMilliseconds)).toFixed(1)} ms`);
  for (let i = 0; i < 20; i++) {
    await browser.choose(key);
    times.push(await browser.page.evaluate(() => window.lastDrawMilliseconds));
  }
} finally {
  await browser.close();
}
times.sort((a, b) => a - b);
const median = (times[9] + times[10]) / 2;
console.log(`choosing examples/key.bmp to the picture on screen: median ${median.toFixed(1)} ms of 20 ` +
            `(fastest ${times[0].toFixed(1)}, slowest ${times[19].toFixed(1)})`);
