// The page: files in, options, one result each (before and after, the header report,
// sizes, time, a download), and a zip of them all. Everything runs here, in the library's
// WebAssembly; nothing is sent anywhere.
import * as graybmp from './graybmp.js';
import {zipSync} from './vendor/fflate.js';

const METHOD_HINTS = {
  mean: 'The plain average of red, green and blue: the default.',
  bt601: 'Broadcast TV weights (BT.601): green counts most, blue least.',
  bt709: 'HD TV weights (BT.709), for sRGB pictures: close to how bright colours look.',
  luminance: 'Linear-light luminance of the sRGB colours, encoded back: the most faithful brightness.',
  max: 'The brightest channel: colours stay light.',
  lightness: 'Halfway between the brightest and the darkest channel.',
  rms: 'The root mean square of the channels: between mean and max.',
  red: 'The red channel alone, as through a red filter.',
  green: 'The green channel alone.',
  blue: 'The blue channel alone.',
  weights: 'Your own weights of red, green and blue, such as 0.299,0.587,0.114.',
};
const DITHER_HINTS = {
  none: 'Each pixel the level nearest its gray: flat areas, hard edges.',
  'floyd-steinberg': 'Error diffusion: the finest detail, a grain that moves with the picture.',
  atkinson: 'Lighter error diffusion: more contrast, lost detail in the darkest and lightest parts.',
  jarvis: 'Jarvis-Judice-Ninke: the error spread over two rows below, a smoother, softer grain.',
  stucki: 'Stucki: as Jarvis-Judice-Ninke, a little sharper.',
  burkes: 'Burkes: two rows of Stucki\'s weights, one row below: sharp and quick.',
  sierra: 'Sierra: three rows of error, close to Jarvis-Judice-Ninke.',
  sierra2: 'Two-row Sierra: smooth like Sierra, less spread.',
  'sierra-lite': 'Sierra Lite: three neighbours only, close to Floyd-Steinberg, quick.',
  ordered: 'A regular 8 x 8 pattern: stable between frames, easy to print.',
  bayer2: 'A 2 x 2 pattern: coarse, for very few levels or big pixels.',
  bayer4: 'A 4 x 4 pattern: coarser than 8 x 8, clearly regular.',
  bayer16: 'A 16 x 16 pattern: more shades of each level, finer than 8 x 8.',
  halftone: 'Clustered dots on a 45-degree screen, as print: for thermal and label printers.',
  'blue-noise': 'A 64 x 64 pattern without visible structure: as fine as diffusion, stable between frames.',
};

const $ = (id) => document.getElementById(id);
const controls = {method: $('method'), weights: $('weights'), levels: $('levels'), depth: $('depth'),
  dither: $('dither'), strength: $('strength'), serpentine: $('serpentine'), normalize: $('normalize'),
  gamma: $('gamma'), linear: $('linear'), format: $('format'), size: $('size'), fit: $('fit'), filter: $('filter'),
  rotate: $('rotate')};
// The ditherings that diffuse each pixel's error, which the strength and serpentine rows serve.
const KERNELS = new Set(['floyd-steinberg', 'atkinson', 'jarvis', 'stucki', 'burkes', 'sierra', 'sierra2',
  'sierra-lite']);
const results = $('results');
const status = $('status');
const downloadAll = $('download-all');

let files = [];
let run = 0;
let done = [];     // the current run's outputs: {name, bytes}
let urls = [];     // its object URLs, let go by the next run

function fillSelect(select, names, hints) {
  for (const name of names) {
    const option = document.createElement('option');
    option.value = name.startsWith('weights=') ? 'weights' : name;
    option.textContent = option.value === 'weights' ? 'weights (your own)' : name;
    option.title = hints[option.value] ?? '';
    select.append(option);
  }
}

function showHints() {
  $('method-hint').textContent = METHOD_HINTS[controls.method.value] ?? '';
  $('dither-hint').textContent = DITHER_HINTS[controls.dither.value] ?? '';
  controls.weights.hidden = controls.method.value !== 'weights';
  controls.strength.disabled = controls.serpentine.disabled = !KERNELS.has(controls.dither.value);
}

function options() {
  const method = controls.method.value;
  const o = {method: method === 'weights' ? `weights=${controls.weights.value.trim()}` : method};
  if (controls.levels.value.trim() !== '') o.levels = Number(controls.levels.value);
  if (controls.depth.value !== '') o.depth = Number(controls.depth.value);
  if (controls.dither.value !== 'none') o.dither = controls.dither.value;
  if (KERNELS.has(controls.dither.value)) {
    if (controls.strength.value.trim() !== '') o.strength = Number(controls.strength.value);
    if (controls.serpentine.checked) o.serpentine = true;
  }
  if (controls.normalize.checked) o.normalize = true;
  if (controls.gamma.value.trim() !== '') o.gamma = Number(controls.gamma.value);
  if (controls.linear.checked) o.linear = true;
  if (controls.format.value !== 'bmp') o.format = controls.format.value;
  const size = /^(\d*)x?(\d*)$/.exec(controls.size.value.trim());
  if (size && (size[1] || size[2])) {
    o.size = [size[1] ? Number(size[1]) : null, size[2] ? Number(size[2]) : null];
    if (controls.fit.value !== 'contain') o.fit = controls.fit.value;
    if (controls.filter.value !== 'lanczos3') o.filter = controls.filter.value;
  }
  if (controls.rotate.value !== '0') o.rotate = controls.rotate.value === 'auto' ? 'auto' : Number(controls.rotate.value);
  return o;
}

function element(tag, attributes = {}, ...children) {
  const e = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === 'class') e.className = value;
    else if (key === 'text') e.textContent = value;
    else e.setAttribute(key, value);
  }
  e.append(...children);
  return e;
}

// Each output format's extension and media type.
const FORMAT_EXTENSIONS = {bmp: '.bmp', raw: '.raw', c: '.h', xbm: '.xbm', pbm: '.pbm', pgm: '.pgm'};
const FORMAT_TYPES = {bmp: 'image/bmp', raw: 'application/octet-stream', c: 'text/x-c', xbm: 'image/x-xbitmap',
  pbm: 'image/x-portable-bitmap', pgm: 'image/x-portable-graymap'};

function outputName(name, format = 'bmp') {
  if (format === 'bmp' && /\.(bmp|dib)$/i.test(name)) return graybmp.grayName(name);
  return `${name.replace(/\.[^.]*$/, '')}NEW${FORMAT_EXTENSIONS[format]}`;
}

const isBmp = (bytes, name) =>
  (bytes[0] === 0x42 && (bytes[1] === 0x4d || bytes[1] === 0x41)) || /\.(bmp|dib)$/i.test(name);

// Whether the library converts the file itself: a BMP, or a picture it decodes (netpbm);
// the pictures it leaves to the browser (PNG, JPEG, WebP, GIF), whatever their names, are
// the browser's to decode.
function byLibrary(bytes, name) {
  let h = null;
  try {
    h = graybmp.header(bytes);
  } catch {
    // too short for a header: the library's refusal says so below
  }
  if (h?.refusal?.code === 'picture-unsupported') return false;
  return isBmp(bytes, name) || (h !== null && h.type !== null);
}

// What the browser decodes, as it is stored: no colour management, alpha not premultiplied.
async function decoded(blob) {
  try {
    return await createImageBitmap(blob, {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
  } catch {
    return null;
  }
}

function imageDataOf(bitmap) {
  const canvas = document.createElement('canvas');
  canvas.width = bitmap.width;
  canvas.height = bitmap.height;
  const context = canvas.getContext('2d', {willReadFrequently: true});
  context.drawImage(bitmap, 0, 0);
  return context.getImageData(0, 0, bitmap.width, bitmap.height);
}

function canvasOf(className, width, height) {
  const canvas = element('canvas', {class: className});
  canvas.width = width;
  canvas.height = height;
  return canvas;
}

// The gray copy as it shows: its pixels from the library where it reads them back, else
// the browser's decoding of it.
async function afterCanvas(out) {
  try {
    const {pixels, width, height} = graybmp.toPixels(out);
    const canvas = canvasOf('after', width, height);
    const image = new ImageData(width, height);
    const rgba = image.data;
    for (let i = 0, at = 0; i < pixels.length; i++, at += 4) {
      rgba[at] = rgba[at + 1] = rgba[at + 2] = pixels[i];
      rgba[at + 3] = 255;
    }
    canvas.getContext('2d').putImageData(image, 0, 0);
    return canvas;
  } catch {
    const bitmap = await decoded(new Blob([out], {type: 'image/bmp'}));
    if (bitmap === null) return null;
    const canvas = canvasOf('after', bitmap.width, bitmap.height);
    canvas.getContext('2d').drawImage(bitmap, 0, 0);
    return canvas;
  }
}

function compareView(before, after) {
  const view = element('div', {class: 'compare'});
  const slider = element('input', {type: 'range', min: '0', max: '100', value: '50', class: 'split',
    'aria-label': 'Divider: before on its left, after on its right'});
  const place = (percent) => view.style.setProperty('--split', `${percent}%`);
  slider.addEventListener('input', () => place(slider.value));
  const drag = (event) => {
    const box = view.getBoundingClientRect();
    slider.value = String(Math.round(Math.min(100, Math.max(0, (event.clientX - box.left) / box.width * 100))));
    place(slider.value);
  };
  view.addEventListener('pointerdown', (event) => {
    view.setPointerCapture(event.pointerId);
    drag(event);
  });
  view.addEventListener('pointermove', (event) => {
    if (view.hasPointerCapture(event.pointerId)) drag(event);
  });
  if (before && after) {
    view.append(before, after, element('div', {class: 'divider'}));
  } else if (after) {
    view.append(after);
  } else {
    view.append(element('p', {class: 'none', text: 'This browser cannot show this kind of BMP; the download is exact.'}));
  }
  const labels = element('div', {class: 'labels'}, element('span', {text: 'before'}), element('span', {text: 'after'}));
  return element('div', {class: 'view'}, view, before && after ? slider : '', before && after ? labels : '');
}

function bytesText(n) {
  return n < 1024 ? `${n} bytes` : n < 1 << 20 ? `${(n / 1024).toFixed(1)} KiB` : `${(n / 1048576).toFixed(1)} MiB`;
}

function reportOf(h) {
  return [h.type ? `Type: ${h.type}` : null, `Size: ${h.size}`, `Width: ${h.width}`, `Height: ${h.height}`,
    `BitCount: ${h.bitCount}`].filter(Boolean).join('\n');
}

async function convertOne(file, card, options, id) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  // A C header's or an X bitmap's array is named for the file it downloads as.
  const chosen = ['c', 'xbm'].includes(options.format)
    ? {...options, name: outputName(file.name, options.format).replace(/\.[^.]*$/, '')} : options;
  if (id !== run) return;
  const facts = card.querySelector('.facts');
  let out, shown, ms, report, before = null;
  // Another format is shown by the BMP of the same levels.
  const asBmp = {...chosen};
  for (const key of ['format', 'bitOrder', 'packing', 'rowAlign', 'name', 'fullPalette', 'rows', 'indexOrder']) {
    delete asBmp[key];
  }
  if (chosen.format && chosen.format !== 'bmp' && asBmp.levels === undefined) {
    asBmp.levels = ['xbm', 'pbm'].includes(chosen.format) ? 2 : 256;
  }
  try {
    if (byLibrary(bytes, file.name)) {
      report = reportOf(graybmp.header(bytes));
      const start = performance.now();
      out = graybmp.gray(bytes, chosen);
      ms = performance.now() - start;
      shown = chosen.format && chosen.format !== 'bmp' ? graybmp.gray(bytes, asBmp) : out;
      const bitmap = await decoded(new Blob([bytes], {type: 'image/bmp'}));
      if (bitmap !== null) {
        before = canvasOf('before', bitmap.width, bitmap.height);
        before.getContext('2d').drawImage(bitmap, 0, 0);
      }
    } else {
      const bitmap = await decoded(file);
      if (bitmap === null) graybmp.gray(bytes);  // neither a picture nor a BMP: the library's refusal
      const image = imageDataOf(bitmap);
      report = `${file.type || 'picture'}, ${image.width} x ${image.height}, decoded by the browser`;
      const start = performance.now();
      out = graybmp.fromPixels(image, chosen);
      ms = performance.now() - start;
      shown = chosen.format && chosen.format !== 'bmp' ? graybmp.fromPixels(image, asBmp) : out;
      before = canvasOf('before', image.width, image.height);
      before.getContext('2d').putImageData(image, 0, 0);
    }
  } catch (error) {
    if (id !== run) return;
    const code = error instanceof graybmp.GraybmpError ? error.code : 'failed';
    facts.append(element('p', {class: 'reason', text: `Refused (${code}): ${error.message}`}));
    if (report) facts.append(element('pre', {class: 'report', text: report}));
    card.dataset.status = code;
    return;
  }
  const after = await afterCanvas(shown);
  if (id !== run) return;
  if (before && after && (before.width !== after.width || before.height !== after.height)) before = null;
  card.prepend(compareView(before, after));
  const name = outputName(file.name, chosen.format);
  const url = URL.createObjectURL(new Blob([out], {type: FORMAT_TYPES[chosen.format ?? 'bmp']}));
  urls.push(url);
  done.push({name, bytes: out});
  facts.append(
    element('pre', {class: 'report', text: report}),
    element('dl', {}, element('dt', {text: 'In'}), element('dd', {text: bytesText(bytes.length)}),
      element('dt', {text: 'Out'}), element('dd', {text: bytesText(out.length)}),
      element('dt', {text: 'Time'}), element('dd', {text: `${ms.toFixed(1)} ms`})),
    element('a', {class: 'download', href: url, download: name, text: `Download ${name}`}));
  card.dataset.status = 'ok';
  downloadAll.disabled = false;
}

async function convertAll() {
  const id = ++run;
  for (const url of urls) URL.revokeObjectURL(url);
  urls = [];
  done = [];
  downloadAll.disabled = true;
  const chosen = options();
  const cards = files.map((file) => element('article', {class: 'result', 'data-name': file.name},
    element('div', {class: 'facts'}, element('h2', {text: file.name}))));
  results.replaceChildren(...cards);
  for (let i = 0; i < files.length && id === run; i++) {
    status.textContent = `Converting ${i + 1} of ${files.length}…`;
    await convertOne(files[i], cards[i], chosen, id);
  }
  if (id !== run) return;
  const refused = files.length - done.length;
  status.textContent = files.length === 0 ? '' :
    `${done.length} converted${refused > 0 ? `, ${refused} refused` : ''}.`;
}

function take(list) {
  files = [...list];
  convertAll();
}

fillSelect(controls.method, graybmp.METHODS, METHOD_HINTS);
fillSelect(controls.dither, graybmp.DITHERS, DITHER_HINTS);
showHints();
$('version').textContent = graybmp.version;
$('cpu').textContent = graybmp.cpu;

$('files').addEventListener('change', (event) => take(event.target.files));
for (const control of Object.values(controls)) {
  control.addEventListener('change', () => {
    showHints();
    if (files.length > 0) convertAll();
  });
}
const drop = $('drop');
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  take(event.dataTransfer.files);
});
downloadAll.addEventListener('click', () => {
  const zip = zipSync(Object.fromEntries(done.map(({name, bytes}) => [name, bytes])), {level: 6});
  const link = element('a', {href: URL.createObjectURL(new Blob([zip], {type: 'application/zip'})),
    download: 'graybmp.zip'});
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
});

if ('serviceWorker' in navigator && location.protocol !== 'file:') {
  navigator.serviceWorker.register('sw.js').catch(() => {});
}
document.documentElement.dataset.ready = 'true';
