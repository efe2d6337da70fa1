// SPDX-License-Identifier: MIT
// The page's worker, after the emscripten module: runs the command line's
// own main over the in-memory file system, "key.bmp" in, "zzOut.bmp" out,
// so that the page's thread never waits on it. A picture the browser opens
// that is not a BMP is turned into one first, and the result into what the
// page shows and offers as PNG.
//
// From the page: { run, bytes }. To the page: { type: "ready" } or
// { type: "unavailable" } once, then for each run { run, type: "drawn",
// bmp, picture, converted }, { run, type: "png", png }, { run, type:
// "refused", line } or { run, type: "failed" }.
"use strict";

// As the tool's loader: pictures of more pixels are refused from their header.
const MaxPixelCount = 2 ** 25;

// Pixels exactly as stored, for the PNG and the screen alike.
const AsStored = { colorSpaceConversion: "none", premultiplyAlpha: "none" };

let toolErrors = [];
let newestRun = 0;
let startFailed = () => {};
const toolStarted = new Promise((resolve, reject) => {
  startFailed = reject;
  if (typeof WebAssembly !== "object") {
    reject(new Error("no WebAssembly"));
    return;
  }
  KeyboardPicture({
    print() {},
    printErr(line) { toolErrors.push(line); },
    onAbort() { startFailed(new Error("aborted")); },
  }).then(resolve, reject);
});
toolStarted.then(() => postMessage({ type: "ready" }), () => postMessage({ type: "unavailable" }));

// A 24-bit bottom-up BMP of `rgba`, or only its header where the picture
// has more pixels than the tool takes (`rgba` is null then), so that the
// tool says so in its own words.
function Bmp24(width, height, rgba) {
  const stride = Math.ceil((width * 3) / 4) * 4;
  const pixelBytes = width * height > MaxPixelCount ? 0 : stride * height;
  const file = new Uint8Array(54 + pixelBytes);
  const header = new DataView(file.buffer);
  file.set([0x42, 0x4d]);
  header.setUint32(2, file.length, true);
  header.setUint32(10, 54, true);
  header.setUint32(14, 40, true);
  header.setInt32(18, width, true);
  header.setInt32(22, height, true);
  header.setUint16(26, 1, true);
  header.setUint16(28, 24, true);
  header.setUint32(34, pixelBytes, true);
  for (let y = 0; pixelBytes > 0 && y < height; y++) {
    let at = 54 + (height - 1 - y) * stride;
    for (let from = y * width * 4, end = from + width * 4; from < end; from += 4) {
      file[at++] = rgba[from + 2];
      file[at++] = rgba[from + 1];
      file[at++] = rgba[from];
    }
  }
  return file;
}

// The bytes to run as "key.bmp". A file that starts with "BM" goes as it
// is, so that the tool judges it; so does one the browser cannot open.
// Anything else the browser opens is flattened onto white.
async function KeyBmp(bytes) {
  const start = new Uint8Array(bytes, 0, Math.min(2, bytes.byteLength));
  if (start[0] === 0x42 && start[1] === 0x4d) {
    return { key: new Uint8Array(bytes), converted: false };
  }
  let image;
  try {
    image = await createImageBitmap(new Blob([bytes]));
  } catch {
    return { key: new Uint8Array(bytes), converted: false };
  }
  const { width, height } = image;
  let rgba = null;
  if (width * height <= MaxPixelCount) {
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext("2d");
    context.fillStyle = "#fff";
    context.fillRect(0, 0, width, height);
    context.drawImage(image, 0, 0);
    rgba = context.getImageData(0, 0, width, height).data;
  }
  image.close();
  return { key: Bmp24(width, height, rgba), converted: true };
}

function RunTool(tool, key) {
  const fs = tool.FS;
  fs.writeFile("key.bmp", key);
  toolErrors = [];
  let status;
  try {
    status = tool.callMain([]);
  } catch (error) {
    status = typeof error === "object" && error !== null && "status" in error ? error.status : -1;
  }
  const bmp = status === 0 ? fs.readFile("zzOut.bmp") : null;
  for (const name of ["key.bmp", "zzOut.bmp"]) {
    try {
      fs.unlink(name);
    } catch {
      // not there
    }
  }
  return { status, bmp, line: toolErrors.find(line => line.startsWith("keyboard-picture: ")) };
}

async function Draw(run, bytes) {
  const { key, converted } = await KeyBmp(bytes);
  const tool = await toolStarted;
  if (run !== newestRun) {
    return; // a later choice is on its way: only it matters
  }
  const { status, bmp, line } = RunTool(tool, key);
  if (status !== 0) {
    postMessage(line ? { run, type: "refused", line } : { run, type: "failed" });
    return;
  }
  const picture = await createImageBitmap(new Blob([bmp], { type: "image/bmp" }), AsStored);
  const canvas = new OffscreenCanvas(picture.width, picture.height);
  canvas.getContext("2d").drawImage(picture, 0, 0);
  postMessage({ run, type: "drawn", bmp: bmp.buffer, picture, converted }, [bmp.buffer, picture]);
  postMessage({ run, type: "png", png: await canvas.convertToBlob({ type: "image/png" }) });
}

onmessage = ({ data: { run, bytes } }) => {
  newestRun = run;
  Draw(run, bytes).catch(() => postMessage({ run, type: "failed" }));
};
