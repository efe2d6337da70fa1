// SPDX-License-Identifier: MIT
// Prints the page's figures: the bytes it loads (the page, its style, words
// and script, the worker with the WebAssembly inside); the time from choosing
// examples/key.bmp to its download link in headless Chromium, for the
// first choice after opening the page (the median of five openings, as one
// varies by tens of milliseconds with what else the machine does) and as
// the median of 30 more, with
// where that time goes, step by step, as the page measures it, and for the
// first choice once the page has started its tool; the longest
// stretch the page's thread was busy while the example and a 4000 x 4000
// key cap were drawn; and Lighthouse's scores on its desktop and mobile
// presets, the page served from 127.0.0.1 under the strict policy. Asserts
// nothing: the numbers are for reading.
//
//   node page-bench.mjs [BUILD_DIR] [--no-lighthouse]
import { readdirSync, readFileSync, statSync } from "node:fs";
import path from "node:path";
import puppeteer from "puppeteer-core";
import lighthouse from "lighthouse";
import desktopConfig from "lighthouse/core/config/desktop-config.js";
import { bmp24, openPage, pageDir, serve, sourceDir, strictPolicy } from "./browser.mjs";

const args = process.argv.slice(2);
const withLighthouse = !args.includes("--no-lighthouse");
const buildDir = args.find(arg => !arg.startsWith("--"));
const folder = pageDir(buildDir);
const sizes = Object.fromEntries(readdirSync(folder).map(name => [name, statSync(path.join(folder, name)).size]));
// Served, the page starts its worker from keyboard-picture-worker.js; opened
// from disk, from the same source as the string in keyboard-picture.js.
for (const [how, worker] of [["served", "keyboard-picture-worker.js"], ["from disk", "keyboard-picture.js"]]) {
  const loaded = Object.keys(sizes).filter(name => !name.startsWith("keyboard-picture") || name === worker);
  const total = loaded.reduce((sum, name) => sum + sizes[name], 0);
  console.log(`page and what it loads, ${how}: ${total} bytes (${(total / 1024).toFixed(1)} KiB): ` +
              loaded.map(name => `${name} ${sizes[name]}`).join(", "));
}

// Milliseconds from the file input's change event to the download link's
// address, and to the status line's saying both downloads are ready, both
// seen from inside the page, with the page's own measures of each step.
// With `probe`, a message loop also times the longest stretch the page's
// thread was busy meanwhile (the Long Tasks API reports only those of 50 ms
// or more); it is left out of the timed runs, as it keeps the thread turning.
async function timedChoice(browser, bytes, probe = false) {
  await browser.page.evaluate(probe => {
    window.choice = { longest: 0 };
    document.getElementById("key-file").addEventListener("change", () => { window.choice.chosen = performance.now(); },
                                                         { capture: true, once: true });
    const link = document.getElementById("download");
    const status = document.getElementById("status");
    const observer = new MutationObserver(() => {
      if (link.href && !window.choice.offered) window.choice.offered = performance.now();
      if (status.className === "done") {
        window.choice.ready = performance.now();
        observer.disconnect();
      }
    });
    observer.observe(link, { attributes: true, attributeFilter: ["href"] });
    observer.observe(status, { attributes: true, attributeFilter: ["class"] });
    if (probe) {
      const channel = new MessageChannel();
      let last = performance.now();
      channel.port1.onmessage = () => {
        const now = performance.now();
        window.choice.longest = Math.max(window.choice.longest, now - last);
        last = now;
        if (!window.choice.ready) channel.port2.postMessage(0);
      };
      channel.port2.postMessage(0);
    }
  }, probe);
  await browser.choose(bytes);
  return browser.page.evaluate(() => ({
    milliseconds: window.choice.offered - window.choice.chosen,
    ready: window.choice.ready - window.choice.chosen,
    longestTask: window.choice.longest,
    steps: Object.fromEntries(performance.getEntriesByType("measure")
      .map(entry => [entry.name.replace("keyboard-picture: ", ""), entry.duration])),
  }));
}

const median = values => {
  const sorted = [...values].sort((a, b) => a - b);
  return (sorted[Math.floor((sorted.length - 1) / 2)] + sorted[Math.ceil((sorted.length - 1) / 2)]) / 2;
};
const key = readFileSync(path.join(sourceDir, "examples/key.bmp"));
const stepsOf = run => Object.entries(run.steps).map(([step, ms]) => `${step} ${ms.toFixed(1)}`).join(", ");
const firsts = [];
for (let opening = 1; opening < 5; opening++) {
  const fresh = await openPage(buildDir);
  try {
    firsts.push(await timedChoice(fresh, key));
  } finally {
    await fresh.close();
  }
}
const browser = await openPage(buildDir);
try {
  firsts.push(await timedChoice(browser, key));
  const middle = [...firsts].sort((a, b) => a.milliseconds - b.milliseconds)[2];
  console.log(`first choice after opening the page: median ${middle.milliseconds.toFixed(1)} ms of five openings ` +
              `to its download link (${stepsOf(middle)}); all five: ` +
              firsts.map(run => run.milliseconds.toFixed(1)).join(", "));
  const runs = [];
  for (let i = 0; i < 30; i++) runs.push(await timedChoice(browser, key));
  const times = runs.map(run => run.milliseconds).sort((a, b) => a - b);
  console.log(`choosing examples/key.bmp to its download link: median ${median(times).toFixed(1)} ms of ${times.length} ` +
              `(fastest ${times[0].toFixed(1)}, slowest ${times.at(-1).toFixed(1)}); to the status saying both ` +
              `downloads are ready: median ${median(runs.map(run => run.ready)).toFixed(1)} ms`);
  console.log("where a warm run's time goes, medians in ms: " + Object.keys(runs[0].steps)
    .map(step => `${step} ${median(runs.map(run => run.steps[step] ?? 0)).toFixed(2)}`).join(", "));
  const example = await timedChoice(browser, key, true);
  const big = await timedChoice(browser, bmp24(4000, 4000), true);
  console.log(`longest stretch the page's thread was busy: ${example.longestTask.toFixed(1)} ms for ` +
              `examples/key.bmp, ${big.longestTask.toFixed(1)} ms for a 4000 x 4000 key cap ` +
              `(${big.milliseconds.toFixed(0)} ms to its download link: ` +
              `${stepsOf(big)})`);
} finally {
  await browser.close();
}
// As a person meets it: the page open for two seconds, time enough for its
// tool to start and warm up, before the first choice.
const ready = await openPage(buildDir);
try {
  await new Promise(resolve => setTimeout(resolve, 2000));
  const first = await timedChoice(ready, key);
  console.log(`first choice once the page has started its tool: ${first.milliseconds.toFixed(1)} ms to its download ` +
              `link (${stepsOf(first)})`);
} finally {
  await ready.close();
}

// Lighthouse against the page served as a server would, with the strict
// policy; the audits that fall short are named.
if (withLighthouse) {
  const server = await serve(folder, { headers: { "Content-Security-Policy": strictPolicy } });
  const chromium = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  try {
    const port = Number(new URL(chromium.wsEndpoint()).port);
    for (const [preset, config] of [["desktop", desktopConfig], ["mobile", undefined]]) {
      const { lhr } = await lighthouse(server.url, { port, logLevel: "error", output: "json" }, config);
      const scores = Object.values(lhr.categories).map(category => `${category.title} ${Math.round(category.score * 100)}`);
      const short = Object.values(lhr.audits)
        .filter(audit => audit.score !== null && audit.score < 1 && audit.scoreDisplayMode !== "informative" &&
                         audit.scoreDisplayMode !== "manual" && audit.scoreDisplayMode !== "notApplicable")
        .map(audit => `${audit.id}${audit.displayValue ? ` (${audit.displayValue})` : ""}`);
      console.log(`Lighthouse ${lhr.lighthouseVersion}, ${preset}: ${scores.join(", ")}; FCP ` +
                  `${lhr.audits["first-contentful-paint"].displayValue}, LCP ` +
                  `${lhr.audits["largest-contentful-paint"].displayValue}, TBT ` +
                  `${lhr.audits["total-blocking-time"].displayValue}` +
                  (short.length ? `; short of full marks: ${short.join(", ")}` : ""));
    }
  } finally {
    await chromium.close();
    await server.close();
  }
}
