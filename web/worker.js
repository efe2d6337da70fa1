// SPDX-License-Identifier: MIT
// The page's worker, after the emscripten module and `toolWasm`: runs the
// command line's own main over the in-memory file system, "key.bmp" in,
// "zzOut.bmp" out, so that the page's thread never waits on it. It reads the
// chosen file or fetches the dropped link itself, and draws the result in
// the page's canvases, for the same reason. A picture the browser opens that
// is not a BMP is turned into one first, and the result into the PNG the
// page offers. It says nothing in words: the page words each outcome in its
// own language.
//
// From the page: { start: { environment, canvases } } first, the tool's
// environment and the two canvases to draw in; then one message per run:
// { run, file }, { run, url } or, for an SVG the page has drawn,
// { run, picture }. To the page: { type: "ready", maxPixelCount } or
// { type: "unavailable" } once, as the tool starts (a run read meanwhile
// may be answered sooner, but never with "svg"), and for each run one of
//   { run, type: "drawn", bmp, converted, steps } (bmp, zzOut.bmp as a Blob) and then
//     { run, type: "png", png } (png null where the browser cannot make one)
//   { run, type: "refused", line }       the tool's own line
//   { run, type: "svg", bytes }          for the page to draw
//   { run, type: "cannot-open", format } a format no browser here opens
//   { run, type: "damaged", format }     a format it opens, but not this file
//   { run, type: "too-large", width, height, maxPixelCount }
//   { run, type: "unreadable" }, { run, type: "unfetchable" }, { run, type: "failed" }
"use strict";

// Pixels exactly as stored: the tool takes a BMP's values as they are, so a
// PNG's gamma, chromaticities or colour profile must not change them.
const asStored = { colorSpaceConversion: "none", premultiplyAlpha: "none" };

let toolErrors = [];
let newestRun = 0;
let canvases = []; // the page's, the picture at its size and zoomed: drawn here, so that its thread never is
let contexts = []; // theirs, taken once: Firefox refuses a second getContext once the page has hidden them
// A var: a page opened from disk runs this source with eval, where only a
// var becomes global as in a script, and the tests wait on it.
var toolStarted = null;

// The WebAssembly, which travels as base64 so that a page opened from disk
// can start its worker from a string. Decoded by the browser where it can
// (in a fraction of a millisecond), else a character at a time (a few tens
// of milliseconds, before the first picture can be drawn).
function toolBinary() {
  if (typeof Uint8Array.fromBase64 === "function") return Uint8Array.fromBase64(toolWasm);
  const wasm = atob(toolWasm);
  const binary = new Uint8Array(wasm.length);
  for (let i = 0; i < wasm.length; i++) binary[i] = wasm.charCodeAt(i);
  return binary;
}

// Starts the tool in the page's language: LANG and LANGUAGE are all the
// locale it has.
function start({ environment, canvases: pageCanvases }) {
  toolStarted = new Promise((resolve, reject) => {
    // First, as the WebAssembly compiles on the browser's own threads while
    // this one sets up the module and the canvases. emscripten would compile
    // it only once this message had been handled.
    const compiled = WebAssembly.compile(toolBinary());
    KeyboardPicture({
      instantiateWasm(imports, receiveInstance) {
        compiled.then(module => WebAssembly.instantiate(module, imports)).then(receiveInstance, reject);
        return {}; // instantiated later
      },
      preRun: [tool => Object.assign(tool.ENV, environment)],
      print() {},
      printErr(line) { toolErrors.push(line); },
      onAbort() { reject(new Error("aborted")); },
    }).then(tool => {
      fileBuffer = keepOneFileBuffer(tool.FS);
      setTimeout(() => warmUp(tool)); // after a choice that is already waiting
      return tool;
    }).then(resolve, reject);
  });
  toolStarted.then(tool => postMessage({ type: "ready", maxPixelCount: tool._KeyboardPictureMaxPixelCount() }),
                   () => postMessage({ type: "unavailable" }));
  canvases = pageCanvases;
  contexts = canvases.map(canvas => canvas.getContext("2d"));
  // Meanwhile, time to ready the decoding and the canvases, which hold the
  // tool's picture size, with a blank picture while they are hidden.
  const { width, height } = canvases[0];
  show(pixelsOf(bmp24(width, height)));
}

// Formats named from their first bytes, for a file the browser could not
// open. Those marked `opens` are formats browsers here do open, so such a
// file is damaged, or a variant this browser lacks.
const ascii = (bytes, at, text) => [...text].every((letter, i) => bytes[at + i] === letter.charCodeAt(0));
// The brands an ISO media file (HEIF, AVIF, CR3) declares: its major brand
// at 8, then, after a version, its compatible brands to the end of the box.
function brandsOf(bytes) {
  if (!ascii(bytes, 4, "ftyp")) return [];
  const end = Math.min(bytes.length, new DataView(bytes.buffer, bytes.byteOffset).getUint32(0));
  const brands = [];
  for (let at = 8; at + 4 <= end; at += at === 8 ? 8 : 4) brands.push(String.fromCharCode(...bytes.subarray(at, at + 4)));
  return brands;
}
const ftypBrand = (bytes, brands) => brands.includes(brandsOf(bytes)[0]);
const isTiff = bytes => ascii(bytes, 0, "II*\0") || ascii(bytes, 0, "MM\0*");
const formats = [
  { format: "AVIF", opens: true, test: bytes => brandsOf(bytes).some(brand => brand === "avif" || brand === "avis") },
  { format: "HEIC", test: bytes => ftypBrand(bytes, ["heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"]) },
  { format: "RAW", test: bytes => ftypBrand(bytes, ["crx "]) || ascii(bytes, 0, "FUJIFILMCCD-RAW") ||
    ascii(bytes, 0, "IIRO") || ascii(bytes, 0, "IIRS") || ascii(bytes, 0, "IIU\0") || (isTiff(bytes) && ascii(bytes, 8, "CR")) },
  { format: "TIFF", test: isTiff },
  { format: "PSD", test: bytes => ascii(bytes, 0, "8BPS") },
  { format: "JPEG XL", test: bytes => ascii(bytes, 0, "\xff\x0a") || ascii(bytes, 4, "JXL ") },
  { format: "PNG", opens: true, test: bytes => ascii(bytes, 0, "\x89PNG\r\n\x1a\n") },
  { format: "JPEG", opens: true, test: bytes => ascii(bytes, 0, "\xff\xd8\xff") },
  { format: "GIF", opens: true, test: bytes => ascii(bytes, 0, "GIF8") },
  { format: "WebP", opens: true, test: bytes => ascii(bytes, 0, "RIFF") && ascii(bytes, 8, "WEBP") },
];

// An SVG is XML text whose first element is <svg>; only the start is looked at.
function isSvg(bytes) {
  const start = new TextDecoder().decode(bytes.subarray(0, 4096));
  return /^\s*</.test(start) && /<svg[\s>]/.test(start);
}

// A 24-bit bottom-up BMP of `rgba`, as the command line's own writer
// makes; black where there is no `rgba`.
function bmp24(width, height, rgba = null) {
  const stride = Math.ceil((width * 3) / 4) * 4;
  const file = new Uint8Array(54 + stride * height);
  const header = new DataView(file.buffer);
  file.set([0x42, 0x4d]);
  header.setUint32(2, file.length, true);
  header.setUint32(10, 54, true);
  header.setUint32(14, 40, true);
  header.setInt32(18, width, true);
  header.setInt32(22, height, true);
  header.setUint16(26, 1, true);
  header.setUint16(28, 24, true);
  header.setUint32(34, stride * height, true);
  for (let y = 0; rgba && y < height; y++) {
    let at = 54 + (height - 1 - y) * stride;
    for (let from = y * width * 4, end = from + width * 4; from < end; from += 4) {
      file[at++] = rgba[from + 2];
      file[at++] = rgba[from + 1];
      file[at++] = rgba[from];
    }
  }
  return file;
}

// The BMP of a decoded picture, its transparent parts made white; null
// (after saying why) where it has more pixels than the tool takes.
async function flatten(run, picture) {
  const { width, height } = picture;
  const maxPixelCount = (await toolStarted)._KeyboardPictureMaxPixelCount();
  if (width * height > maxPixelCount) {
    picture.close();
    postMessage({ run, type: "too-large", width, height, maxPixelCount });
    return null;
  }
  const canvas = new OffscreenCanvas(width, height);
  const context = canvas.getContext("2d");
  context.fillStyle = "#fff";
  context.fillRect(0, 0, width, height);
  context.drawImage(picture, 0, 0);
  picture.close();
  return bmp24(width, height, context.getImageData(0, 0, width, height).data);
}

// The tool's picture as pixels to show: its output is always a 24-bit
// bottom-up BMP, read here row by row, which is quicker than having the
// browser decode it. The pixels are kept for the next picture of the same
// size (the tool's are all one size): a fresh one costs more than filling it.
let shown = null;
function pixelsOf(bmp) {
  const header = new DataView(bmp.buffer, bmp.byteOffset, bmp.byteLength);
  const pixelsAt = header.getUint32(10, true);
  const width = header.getInt32(18, true);
  const height = header.getInt32(22, true);
  const stride = Math.ceil((width * 3) / 4) * 4;
  if (shown?.width !== width || shown?.height !== height) shown = new ImageData(width, height);
  const pixels = shown;
  const rgba = pixels.data;
  for (let y = 0, to = 0; y < height; y++) {
    for (let from = pixelsAt + (height - 1 - y) * stride, end = from + width * 3; from < end; from += 3) {
      rgba[to++] = bmp[from + 2];
      rgba[to++] = bmp[from + 1];
      rgba[to++] = bmp[from];
      rgba[to++] = 255;
    }
  }
  return pixels;
}

// emscripten's in-memory files grow by doubling from their first write,
// into fresh buffers, which in Chromium cost more than the tool's own work:
// the picture, written 64 KiB at a time, took five a run. One buffer of
// 1 MiB, where the doubling would end for the picture anyway, is kept
// instead and given to the first file that grows in each run (the tool
// writes one, from its start to its end, so that nothing an earlier run
// left there is ever read). Elsewhere (another emscripten) runs are
// slower, not wrong.
function keepOneFileBuffer(fs) {
  const memfs = fs.filesystems?.MEMFS;
  const kept = new Uint8Array(1 << 20);
  let free = true;
  if (typeof memfs?.expandFileStorage === "function") {
    const expand = memfs.expandFileStorage;
    memfs.expandFileStorage = (node, capacity) => {
      if (!free || capacity > kept.length || (node.contents && !ArrayBuffer.isView(node.contents))) {
        expand(node, capacity);
        return;
      }
      free = false;
      if (node.contents) kept.set(node.contents.subarray(0, node.usedBytes));
      node.contents = kept;
    };
  }
  return { release() { free = true; } };
}
let fileBuffer = { release() {} };

// The bytes of an in-memory file as they lie, without readFile's copy: the
// file is removed once read, so nothing else sees them.
function bytesIn(fs, name) {
  const { node } = fs.lookupPath(name);
  return node.contents instanceof Uint8Array ? node.contents.subarray(0, node.usedBytes) : fs.readFile(name);
}

// Runs the tool on `key`. Its picture is returned as it lies in the
// in-memory file, and stays there until the next run.
function runTool(tool, key) {
  const fs = tool.FS;
  fileBuffer.release(); // the last run's files are gone
  fs.writeFile("key.bmp", key);
  toolErrors = [];
  let status;
  try {
    status = tool.callMain([]);
  } catch (error) {
    status = typeof error === "object" && error !== null && "status" in error ? error.status : -1;
  }
  const bmp = status === 0 ? bytesIn(fs, "zzOut.bmp") : null;
  for (const name of ["key.bmp", "zzOut.bmp"]) {
    try {
      fs.unlink(name);
    } catch {
      // not there
    }
  }
  return { status, bmp, line: toolErrors.find(line => line.startsWith("keyboard-picture: ")) };
}

// One run once the tool has started, from a key cap of one pixel, drawn in
// the canvases while they are still hidden, so that the first picture a
// person asks for finds the code compiled and the canvases ready. Where a
// picture was asked for first, its own run has done that, and sooner.
function warmUp(tool) {
  if (newestRun !== 0) return;
  const { bmp } = runTool(tool, bmp24(1, 1));
  if (bmp) show(pixelsOf(bmp));
}

function show(pixels) {
  contexts[0].putImageData(pixels, 0, 0);
  contexts[1].drawImage(canvases[0], 0, 0);
}

async function bytesOf(run, { file, url }) {
  if (file) {
    try {
      return new FileReaderSync().readAsArrayBuffer(file); // quicker than file.arrayBuffer(), and this thread may wait
    } catch {
      postMessage({ run, type: "unreadable" });
      return null;
    }
  }
  try {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    return await response.arrayBuffer();
  } catch {
    postMessage({ run, type: "unfetchable" });
    return null;
  }
}

// The bytes to run as "key.bmp", or null where the run ends here. A file
// that starts with "BM" goes as it is, so that the tool judges it; so does
// one that is no picture the browser or this worker knows. Needs the tool
// only to judge a picture's size, so that a file chosen while the tool is
// still starting is read meanwhile.
async function keyBmp(run, request) {
  if (request.picture) return { key: await flatten(run, request.picture), converted: true };
  const buffer = await bytesOf(run, request);
  if (buffer === null) return { key: null };
  const bytes = new Uint8Array(buffer);
  if (ascii(bytes, 0, "BM")) return { key: bytes, converted: false };
  if (isSvg(bytes)) {
    await toolStarted; // the page judges its size by the tool's limit, which it learns as the tool starts
    postMessage({ run, type: "svg", bytes: buffer }, [buffer]);
    return { key: null };
  }
  let picture;
  try {
    picture = await createImageBitmap(new Blob([buffer]), asStored);
  } catch {
    const known = formats.find(({ test }) => test(bytes));
    if (!known) return { key: bytes, converted: false };
    postMessage({ run, type: known.opens ? "damaged" : "cannot-open", format: known.format });
    return { key: null };
  }
  return { key: await flatten(run, picture), converted: true };
}

// Resolves once the messages that came in meanwhile have been taken: a
// message through a channel of its own queues behind them, sooner than a timer.
function messagesTaken() {
  return new Promise(resolve => {
    const channel = new MessageChannel();
    channel.port1.onmessage = resolve;
    channel.port2.postMessage(null);
  });
}

const now = () => performance.timeOrigin + performance.now(); // comparable with the page's clock

async function draw(run, request, receivedAt) {
  const started = performance.now();
  const { key, converted } = await keyBmp(run, request);
  if (key === null || run !== newestRun) return; // said why, or a later choice is on its way: only it matters
  const read = performance.now();
  const tool = await toolStarted;
  if (run !== newestRun) return;
  const waited = performance.now();
  const { status, bmp, line } = runTool(tool, key);
  const ran = performance.now();
  if (status !== 0) {
    postMessage(line ? { run, type: "refused", line } : { run, type: "failed" });
    return;
  }
  const pixels = pixelsOf(bmp);
  const decoded = performance.now();
  await messagesTaken(); // a choice made while the tool ran comes in first
  if (run !== newestRun) return;
  const drawing = performance.now();
  show(pixels);
  const drawn = performance.now();
  const file = new Blob([bmp], { type: "image/bmp" }); // here: the page's thread would wait on the copy
  const steps = { receivedAt, read: read - started, waited: waited - read, tool: ran - waited, decode: decoded - ran,
                  draw: drawn - drawing, file: performance.now() - drawn, postedAt: now() };
  postMessage({ run, type: "drawn", bmp: file, converted, steps });
  let png = null;
  try {
    png = await canvases[0].convertToBlob({ type: "image/png" });
  } catch {
    // the page offers the BMP alone
  }
  postMessage({ run, type: "png", png });
}

onmessage = ({ data }) => {
  if (data.start) {
    start(data.start);
    return;
  }
  newestRun = data.run;
  draw(data.run, data, now()).catch(() => postMessage({ run: data.run, type: "failed" }));
};
