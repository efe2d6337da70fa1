// SPDX-License-Identifier: MIT
// The page: takes a picture however it is handed over (chosen, dropped or
// pasted, as a file or as a link), hands it to the worker, which reads it,
// and shows what comes back, in the person's language. Runs after words.js;
// starts the worker itself.
"use strict";

const language = pageLanguage(navigator.languages ?? [navigator.language]);
const words = pageWords[language];
const sentenceGap = language === "ja" ? "" : " ";

const fileInput = document.getElementById("key-file");
const statusLine = document.getElementById("status");
const result = document.getElementById("result");
const keyboard = document.getElementById("keyboard");
const zoomed = document.getElementById("keyboard-zoomed");
const download = document.getElementById("download");
const downloadPng = document.getElementById("download-png");

let worker; // the tool's Worker, from the page's start; null where the tool cannot start
let maxPixelCount = 0; // the tool's, once it has started
let latestRun = 0;
let latest = { name: "", note: "", chosenAt: 0, converted: false };
let drawingSoon = 0; // says "Drawing…" for a run still going after a while
const objectUrls = new Map();

// The page's own text, where the person reads another language than the
// English it is written in.
function translatePage() {
  document.documentElement.lang = language;
  if (language === "en") return;
  for (const element of document.querySelectorAll("[data-words]")) {
    const text = words[element.dataset.words];
    if (element.localName === "meta") {
      element.content = text;
    } else {
      element.innerHTML = text; // the page's own markup, from words.js
    }
  }
  for (const element of document.querySelectorAll("[data-label-words]")) {
    element.setAttribute("aria-label", words[element.dataset.labelWords]);
  }
}

function say(text, kind) {
  statusLine.textContent = latest.note ? `${text}${sentenceGap}${latest.note}` : text;
  statusLine.className = kind;
}

// A link to `blob`, releasing the one it replaces.
function offer(link, blob) {
  if (objectUrls.has(link)) URL.revokeObjectURL(objectUrls.get(link));
  objectUrls.delete(link);
  if (blob) {
    objectUrls.set(link, URL.createObjectURL(blob));
    link.href = objectUrls.get(link);
  } else {
    link.removeAttribute("href");
  }
  link.hidden = !blob;
}

function refuse(text) {
  clearTimeout(drawingSoon);
  result.hidden = true;
  result.setAttribute("aria-busy", "false");
  say(text, "error");
}

// Where each step of a run went, for the browser's performance tools.
function measureSteps(steps) {
  const received = performance.now();
  const posted = steps.postedAt - performance.timeOrigin;
  const receivedByWorker = steps.receivedAt - performance.timeOrigin;
  const toolRan = receivedByWorker + steps.read + steps.waited;
  performance.clearMeasures();
  performance.measure("keyboard-picture: hand-over to the worker", { start: latest.chosenAt, end: receivedByWorker });
  performance.measure("keyboard-picture: reading the file", { start: receivedByWorker, duration: steps.read });
  performance.measure("keyboard-picture: waiting for the tool to start",
                      { start: receivedByWorker + steps.read, duration: steps.waited });
  performance.measure("keyboard-picture: the tool", { start: toolRan, duration: steps.tool });
  performance.measure("keyboard-picture: decoding its output", { start: toolRan + steps.tool, duration: steps.decode });
  performance.measure("keyboard-picture: drawing", { start: posted - steps.file - steps.draw, duration: steps.draw });
  performance.measure("keyboard-picture: making the download", { start: posted - steps.file, duration: steps.file });
  performance.measure("keyboard-picture: hand-over to the page", { start: posted, end: received });
}

function show() {
  clearTimeout(drawingSoon);
  keyboard.setAttribute("aria-label", words.pictureLabel(latest.name));
  result.hidden = false;
  result.setAttribute("aria-busy", "false");
}

// The tool names its input key.bmp; the person chose a file of their own.
function toolLine(line) {
  const prefix = "keyboard-picture: key.bmp: ";
  return line.startsWith(prefix) ? `keyboard-picture: ${latest.name}: ${line.slice(prefix.length)}` : line;
}

const number = value => value.toLocaleString(language);

function receive({ data }) {
  if (data.type === "ready") {
    maxPixelCount = data.maxPixelCount;
    return;
  }
  if (data.type === "unavailable") {
    cannotStart(words.unavailable);
    return;
  }
  if (data.run !== latestRun) return; // an earlier choice, overtaken
  const { name } = latest;
  switch (data.type) {
    case "drawn": {
      latest.converted = data.converted;
      measureSteps(data.steps);
      const offering = performance.now();
      offer(download, data.bmp);
      performance.measure("keyboard-picture: offering the download", { start: offering });
      show();
      break;
    }
    case "png":
      offer(downloadPng, data.png);
      say((data.png ? words.drawn : words.drawnBmpOnly)(name, latest.converted), "done");
      keyboard.scrollIntoView({ block: "nearest" }); // at a high zoom the picture is screens below the button
      break;
    case "refused": refuse(toolLine(data.line)); break;
    case "svg": drawSvg(data.run, data.bytes); break;
    case "cannot-open": refuse(words.cannotOpen(name, data.format)); break;
    case "damaged": refuse(words.damaged(name, data.format)); break;
    case "too-large":
      refuse(words.tooLarge(name, number(data.width), number(data.height), number(data.maxPixelCount)));
      break;
    case "unreadable": refuse(words.unreadable(name)); break;
    case "unfetchable": refuse(words.unfetchable(name)); break;
    default: refuse(words.failed(name));
  }
}

// Starts a run for what the person handed over, and returns its number.
function begin(name, note) {
  latest = { name, note, chosenAt: performance.now(), converted: false };
  offer(download, null);
  offer(downloadPng, null);
  return ++latestRun;
}

// Hands a run to the worker, once it has started: a choice may come before.
async function post(run, message, transfer = []) {
  const started = await workerStarted;
  if (started && run === latestRun) started.postMessage(message, transfer);
}

// Most runs end within a moment, and go straight to what came of them:
// saying "Drawing…" and dimming the picture first would only flicker, and
// the browser's repainting them would hold up the run on a machine with
// few cores. Only a run still going after a while says so, and only until
// its picture is shown: the PNG made after it must not dim it again.
function sayDrawing() {
  statusLine.className = "busy";
  clearTimeout(drawingSoon);
  drawingSoon = setTimeout(() => {
    result.setAttribute("aria-busy", "true");
    say(words.drawing(latest.name), "busy");
  }, 200);
}

function choose(file, note = "") {
  if (!file || worker === null) return;
  const run = begin(file.name, note);
  sayDrawing();
  post(run, { run, file }); // read in the worker: a large file would hold this thread
}

function linkName(url) {
  try {
    const { protocol, pathname } = new URL(url);
    const last = decodeURIComponent(pathname.split("/").pop());
    if (/^(https?|file):$/.test(protocol) && last !== "") return last;
  } catch {
    // no name to give
  }
  return words.linkedPicture;
}

function chooseLink(url) {
  const run = begin(linkName(url), "");
  sayDrawing();
  post(run, { run, url });
}

// A picture's address in what was dragged or pasted: an image's own
// address before the link around it.
function linkIn(transfer) {
  const html = transfer.getData("text/html");
  const image = html ? new DOMParser().parseFromString(html, "text/html").querySelector("img[src]") : null;
  const candidates = [image?.getAttribute("src"),
                      ...transfer.getData("text/uri-list").split(/\r?\n/).filter(line => !line.startsWith("#")),
                      transfer.getData("text/plain")];
  return candidates.map(text => text?.trim()).find(text => text && /^(https?|file|data|blob):\S+$/i.test(text));
}

function take(transfer, nothing) {
  if (worker === null) return;
  const files = [...transfer.files];
  const link = files.length === 0 && linkIn(transfer);
  if (files.length > 0) {
    choose(files[0], files.length > 1 ? words.othersLeft(files.length - 1) : "");
  } else if (link) {
    chooseLink(link);
  } else {
    begin("", "");
    refuse(nothing(transfer));
  }
}

// An SVG's width or height as a whole number of pixels, or 0 where it has
// none of its own (missing, or relative to what the SVG sits in).
const svgUnits = { "": 1, px: 1, pt: 4 / 3, pc: 16, in: 96, cm: 96 / 2.54, mm: 96 / 25.4 };
function svgLength(value) {
  const match = /^\s*(\d*\.?\d+(?:e[+-]?\d+)?)\s*(px|pt|pc|in|cm|mm)?\s*$/i.exec(value ?? "");
  return match ? Math.round(Number(match[1]) * svgUnits[(match[2] ?? "").toLowerCase()]) : 0;
}

// A worker cannot open an SVG, so the page draws it, at its own size.
async function drawSvg(run, bytes) {
  const { name } = latest;
  const root = new DOMParser().parseFromString(new TextDecoder().decode(bytes), "image/svg+xml").documentElement;
  if (root.namespaceURI !== "http://www.w3.org/2000/svg" || root.localName !== "svg") {
    refuse(words.svgUnreadable(name));
    return;
  }
  const width = svgLength(root.getAttribute("width"));
  const height = svgLength(root.getAttribute("height"));
  if (width < 1 || height < 1) {
    refuse(words.svgWithoutSize(name));
    return;
  }
  if (width * height > maxPixelCount) {
    refuse(words.tooLarge(name, number(width), number(height), number(maxPixelCount)));
    return;
  }
  const image = new Image();
  image.src = URL.createObjectURL(new Blob([bytes], { type: "image/svg+xml" }));
  let picture;
  try {
    await image.decode();
    const canvas = new OffscreenCanvas(width, height);
    canvas.getContext("2d").drawImage(image, 0, 0, width, height);
    picture = canvas.transferToImageBitmap();
  } catch {
    if (run === latestRun) refuse(words.svgUnreadable(name));
    return;
  } finally {
    URL.revokeObjectURL(image.src);
  }
  post(run, { run, picture }, [picture]);
}

// A browser takes tens of milliseconds to start a worker's thread, so the
// page starts it at once, from these few lines of its own, and hands it the
// tool when that has loaded: the thread's start then overlaps the page's
// painting and the tool's loading instead of following them. The source a
// page opened from disk hands over is run as it is: loading it from a blob
// instead takes the browser tens of milliseconds more, and there is no
// policy there to forbid it. A served page names the file, which its
// policy allows.
const workerStart = `onmessage = ({ data }) => {
  onmessage = null;
  if (data.script) {
    importScripts(data.script);
  } else {
    (0, eval)(data.source);
  }
};`;

// Where the worker finds the tool: served, its own file, once the page has
// been painted, so that on a slow connection the page's words come first;
// from disk, where there is no connection to wait for, at once, the string
// keyboard-picture.js holds (such a page may not load a file into a worker).
// null where that did not load.
function toolSource() {
  return new Promise(resolve => {
    if (location.protocol !== "file:") {
      requestAnimationFrame(() => setTimeout(() => {
        resolve({ script: new URL("keyboard-picture-worker.js", location.href).href });
      }));
      return;
    }
    const script = document.createElement("script");
    script.src = "keyboard-picture.js";
    script.onload = script.onerror = () => {
      resolve(typeof KeyboardPictureWorker === "string" ? { source: KeyboardPictureWorker } : null);
    };
    document.head.append(script);
  });
}

function startWorker() {
  worker = new Worker(URL.createObjectURL(new Blob([workerStart], { type: "text/javascript" })));
  worker.onmessage = receive;
  worker.onerror = () => receive({ data: { type: "unavailable" } });
  const thread = worker;
  return toolSource().then(source => {
    if (source === null) {
      thread.terminate();
      return cannotStart(words.noScript);
    }
    thread.postMessage(source);
    const canvases = [keyboard, zoomed].map(canvas => canvas.transferControlToOffscreen());
    thread.postMessage({ start: { environment: toolEnvironments[language], canvases } }, canvases);
    return thread;
  });
}

// The tool cannot run here: said once, and nothing more can be chosen.
function cannotStart(text) {
  worker = null;
  fileInput.disabled = true;
  refuse(text);
  return null;
}

translatePage();
fileInput.addEventListener("change", () => {
  choose(fileInput.files[0]);
  fileInput.value = "";
});
// Pixelated only where the picture is shown larger than it is; shrunk, it
// is smoothed, so that no row or column of a legend is lost.
new ResizeObserver(() => {
  keyboard.classList.toggle("enlarged", keyboard.getBoundingClientRect().width * devicePixelRatio >= keyboard.width);
}).observe(keyboard);
document.addEventListener("dragover", event => {
  event.preventDefault();
  document.body.classList.add("dragging");
});
document.addEventListener("dragleave", event => {
  if (event.relatedTarget === null) document.body.classList.remove("dragging"); // left the window
});
document.addEventListener("drop", event => {
  event.preventDefault();
  document.body.classList.remove("dragging");
  take(event.dataTransfer, () => words.nothingDropped);
});
document.addEventListener("paste", event => {
  event.preventDefault();
  take(event.clipboardData, transfer => (transfer.getData("text/plain").trim() ? words.pastedText : words.nothingPasted));
});
// The one check for WebAssembly: without it, the tool is not even fetched.
const workerStarted = typeof WebAssembly === "object" ? startWorker() : Promise.resolve(cannotStart(words.noWebAssembly));
