// SPDX-License-Identifier: MIT
// Prints the page's figures: the bytes it loads (the page and its script,
// the worker and WebAssembly inside), the time from choosing
// examples/key.bmp to its download link in headless Chromium, for the first
// choice after opening the page and as the median of 20 more, and the
// longest stretch the page's thread was busy while the example and a
// 4000 x 4000 key cap were drawn. Asserts nothing: the numbers are for
// reading.
//
//   node page-bench.mjs [BUILD_DIR]
import { readFileSync, statSync } from "node:fs";
import path from "node:path";
import { bmp24, openPage, pageDir, sourceDir } from "./browser.mjs";

const buildDir = process.argv[2];
const loaded = ["index.html", "keyboard-picture.js"].map(name => [name, statSync(path.join(pageDir(buildDir), name)).size]);
const total = loaded.reduce((sum, [, size]) => sum + size, 0);
console.log(`page and what it loads: ${total} bytes (${(total / 1024).toFixed(1)} KiB): ` +
            loaded.map(([name, size]) => `${name} ${size}`).join(", "));

// Milliseconds from the file input's change event to the download link's
// address, both seen from inside the page. With `probe`, a message loop
// also times the longest stretch the page's thread was busy meanwhile (the
// Long Tasks API reports only those of 50 ms or more); it is left out of the
// timed runs, as it keeps the thread turning.
async function timedChoice(browser, bytes, probe = false) {
  await browser.page.evaluate(probe => {
    window.choice = { longest: 0 };
    document.getElementById("key-file").addEventListener("change", () => { window.choice.chosen = performance.now(); },
                                                         { capture: true, once: true });
    const link = document.getElementById("download");
    const observer = new MutationObserver(() => {
      if (link.href) {
        window.choice.offered = performance.now();
        observer.disconnect();
      }
    });
    observer.observe(link, { attributes: true, attributeFilter: ["href"] });
    if (probe) {
      const channel = new MessageChannel();
      let last = performance.now();
      channel.port1.onmessage = () => {
        const now = performance.now();
        window.choice.longest = Math.max(window.choice.longest, now - last);
        last = now;
        if (!window.choice.offered) channel.port2.postMessage(0);
      };
      channel.port2.postMessage(0);
    }
  }, probe);
  await browser.choose(bytes);
  return browser.page.evaluate(() => ({ milliseconds: window.choice.offered - window.choice.chosen,
                                        longestTask: window.choice.longest }));
}

const key = readFileSync(path.join(sourceDir, "examples/key.bmp"));
const browser = await openPage(buildDir);
const times = [];
try {
  const first = await timedChoice(browser, key);
  console.log(`first choice after opening the page: ${first.milliseconds.toFixed(1)} ms`);
  for (let i = 0; i < 20; i++) {
    times.push((await timedChoice(browser, key)).milliseconds);
  }
  times.sort((a, b) => a - b);
  console.log(`choosing examples/key.bmp to its download link: median ${((times[9] + times[10]) / 2).toFixed(1)} ms ` +
              `of 20 (fastest ${times[0].toFixed(1)}, slowest ${times[19].toFixed(1)})`);
  const example = await timedChoice(browser, key, true);
  const big = await timedChoice(browser, bmp24(4000, 4000), true);
  console.log(`longest stretch the page's thread was busy: ${example.longestTask.toFixed(1)} ms for ` +
              `examples/key.bmp, ${big.longestTask.toFixed(1)} ms for a 4000 x 4000 key cap ` +
              `(${big.milliseconds.toFixed(0)} ms to its download link)`);
} finally {
  await browser.close();
}
