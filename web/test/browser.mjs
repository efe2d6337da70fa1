// SPDX-License-Identifier: MIT
// Opens the built page in Debian's headless Chromium (or Firefox ESR, over
// WebDriver BiDi), from disk or from a tiny server on 127.0.0.1, and hands
// files to it as a person would, watching only what the page shows. Shared
// by the page test and its benchmark.
import puppeteer from "puppeteer-core";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

export const sourceDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");

export function pageDir(buildDir) {
  return path.join(path.resolve(buildDir ?? path.join(sourceDir, "build-web")), "web");
}

// The policy the README tells a server to send with the page, as it gives it.
export const strictPolicy = readFileSync(path.join(sourceDir, "README.md"), "utf8")
  .split("\n").find(line => line.startsWith("    default-src "))?.trim();
if (!strictPolicy) throw new Error("README.md gives no Content-Security-Policy for the page");

const contentTypes = { ".html": "text/html; charset=utf-8", ".js": "text/javascript", ".css": "text/css",
                       ".png": "image/png", ".bmp": "image/bmp" };

// Serves `folder`, and `extra` files by path ("/pictures/key.png": bytes),
// on 127.0.0.1, with `headers` on every answer. Resolves to { url, close }.
export async function serve(folder, { headers = {}, extra = {} } = {}) {
  const server = createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, "http://127.0.0.1").pathname);
    let body = extra[name];
    if (body === undefined && !name.includes("..")) {
      try {
        body = readFileSync(path.join(folder, name === "/" ? "index.html" : name));
      } catch {
        // answered 404 below
      }
    }
    if (body === undefined) {
      response.writeHead(404, headers).end();
    } else {
      response.writeHead(200, { "Content-Type": contentTypes[path.extname(name) || ".html"] ?? "application/octet-stream",
                                ...headers }).end(body);
    }
  });
  await new Promise(resolve => server.listen(0, "127.0.0.1", resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    close: () => new Promise(resolve => server.close(resolve)),
  };
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

function launch(browserName, language, profile) {
  if (browserName === "firefox") {
    return puppeteer.launch({
      browser: "firefox",
      executablePath: process.env.FIREFOX ?? "/usr/bin/firefox-esr",
      // With a display (xvfb-run) Firefox opens a window: headless, its
      // clipboard holds only text, so a pasted picture cannot be tried.
      headless: !process.env.DISPLAY,
      extraPrefsFirefox: language ? { "intl.accept_languages": language } : {},
    });
  }
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
    headless: true,
    // No sandbox: CI runs as root. The rest keeps Chromium from reaching for
    // Google's services, which this closed network refuses.
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", `--user-data-dir=${profile}`,
           ...(language ? [`--lang=${language}`, `--accept-lang=${language}`] : [])],
  });
}

// Options: browser ("chromium" or "firefox"), url (the page's address, from
// disk where not given), language (the browser's preferred one), viewport,
// colorScheme ("dark"), javaScript (false to turn it off), beforeLoad (a
// function run in the page before its own scripts), script (a function, or
// an async one, of the request for keyboard-picture.js: "abort", or a body
// to serve instead), and waitUntil (how far the page loads before it is
// handed over: "load" where not given). Requests for anything but
// addresses on disk, in the page and on 127.0.0.1 are listed in
// foreignRequests.
export async function openPage(buildDir, options = {}) {
  const profile = mkdtempSync(path.join(tmpdir(), "keyboard-picture-browser-"));
  const browser = await launch(options.browser ?? "chromium", options.language, profile);
  const page = await browser.newPage();
  const foreignRequests = [];
  const pageUrl = options.url ?? pathToFileURL(path.join(pageDir(buildDir), "index.html")).href;
  // Requests are only watched: intercepting them all stalls, now and then,
  // one that a worker makes. Only a test that replaces the script intercepts.
  if (options.script) await page.setRequestInterception(true);
  page.on("request", async request => {
    const url = request.url();
    if (options.script && url.endsWith("/keyboard-picture.js")) {
      const script = await options.script(readFileSync(fileURLToPath(url), "utf8"));
      if (script === "abort") {
        request.abort("failed");
      } else {
        request.respond({ status: 200, contentType: "text/javascript", body: script });
      }
      return;
    }
    if (!/^(file|blob|data):|^http:\/\/127\.0\.0\.1:/.test(url)) foreignRequests.push(url);
    if (options.script) request.continue();
  });
  await page.setViewport(options.viewport ?? { width: 1360, height: 1200 });
  if (options.colorScheme) await page.emulateMediaFeatures([{ name: "prefers-color-scheme", value: options.colorScheme }]);
  if (options.javaScript === false) await page.setJavaScriptEnabled(false);
  // Tasks that hold the page's thread 50 ms or more, as the browser reports
  // them (Chromium; Firefox has no such report), and any breach of the
  // page's Content-Security-Policy.
  await page.evaluateOnNewDocument(() => {
    window.longTasks = [];
    window.policyViolations = [];
    document.addEventListener("securitypolicyviolation",
                              event => window.policyViolations.push(`${event.violatedDirective} ${event.blockedURI}`));
    if (PerformanceObserver.supportedEntryTypes.includes("longtask")) {
      new PerformanceObserver(list => window.longTasks.push(...list.getEntries().map(entry => entry.duration)))
        .observe({ type: "longtask" });
    }
  });
  if (options.beforeLoad) await page.evaluateOnNewDocument(options.beforeLoad);
  await page.goto(pageUrl, { waitUntil: options.waitUntil ?? "load" });
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
    // Waits until the page's worker has started the tool, or failed to.
    async toolStarted() {
      for (let waited = 0; page.workers().length === 0 && waited < 10000; waited += 20) {
        await new Promise(resolve => setTimeout(resolve, 20));
      }
      // The worker may not have run its script, or had its start message, yet.
      await page.workers()[0].evaluate(() => new Promise(resolve => {
        const wait = () => (typeof toolStarted === "object" && toolStarted ? toolStarted.then(resolve, resolve)
                                                                           : setTimeout(wait, 10));
        wait();
      }));
    },
    // Waits until the page has finished with the latest choice, or 30 s:
    // the checks that follow then say what the page shows.
    async settled() {
      await page.waitForFunction(() => {
        const status = document.getElementById("status");
        return status.textContent !== "" && !status.classList.contains("busy");
      }, { timeout: 30000 }).catch(() => {});
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
