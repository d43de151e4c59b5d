// graybmp for JavaScript: the gray copy of a BMP image, changing nothing in it but its
// colours, by the graybmp C library compiled to WebAssembly (graybmp.wasm, beside this
// file). An ES module for browsers and Node 18 or later, with the Python module's calls:
//
//   import * as graybmp from './graybmp.js';
//   const out = graybmp.gray(bytes, {method: 'bt709'});            // Uint8Array
//   const h = graybmp.header(bytes);                               // {width, height, ...}
//   const {pixels, width, height} = graybmp.toPixels(bytes, {levels: 4});
//   const bmp = graybmp.fromPixels(imageData, {levels: 2, dither: 'floyd-steinberg'});
//
// Inputs are any Uint8Array, ArrayBuffer or typed array's bytes. Every failure is a
// GraybmpError: `code` is the library's status name ("rows-do-not-fit", "translucent",
// "bad-argument", ...), `message` the library's reason (the tool's, but for the levels and
// the compact form where the tool names its options).

const wasmUrl = new URL('graybmp.wasm', import.meta.url);

// WASI asks for the environment (GRAYBMP_CPU) and, on abort, to exit: none here.
function wasiImports(memory) {
  return {
    environ_sizes_get(count, size) {
      const view = new DataView(memory().buffer);
      view.setUint32(count, 0, true);
      view.setUint32(size, 0, true);
      return 0;
    },
    environ_get() { return 0; },
    proc_exit(code) { throw new WebAssembly.RuntimeError(`graybmp: the library stopped (${code})`); },
  };
}

async function wasmBytes() {
  if (typeof process !== 'undefined' && process.versions && process.versions.node &&
      wasmUrl.protocol === 'file:') {
    const {readFile} = await import('node:fs/promises');
    return readFile(wasmUrl);
  }
  const response = await fetch(wasmUrl);
  if (!response.ok) throw new Error(`graybmp: cannot load ${wasmUrl}: ${response.status}`);
  return response.arrayBuffer();
}

// What the running conversion reads and writes: {input, inputAt, and output, outputAt or
// pixels, width}. The library reads and writes them through the functions below, a chunk
// (or a row) at a time: neither the input nor the output lies in WebAssembly's memory.
let streams = null;

const webImports = {
  read(context, buffer, count) {
    const n = Math.min(count, streams.input.length - streams.inputAt);
    u8().set(streams.input.subarray(streams.inputAt, streams.inputAt + n), buffer);
    streams.inputAt += n;
    return BigInt(n);
  },
  seek_input(context, offset) {
    streams.inputAt = Number(offset);
    return 0;
  },
  length() { return BigInt(streams.input.length); },
  write(context, data, count) {
    if (streams.outputAt + count > streams.output.length) return -1n;  // never: its length is exact
    streams.output.set(u8().subarray(data, data + count), streams.outputAt);
    streams.outputAt += count;
    return BigInt(count);
  },
  seek_output(context, offset) {
    streams.outputAt = Number(offset);
    return 0;
  },
  row(context, row, pixels, width) {
    if (streams.rows) {  // a size known only as the rows come (a fit)
      streams.rows[row] = copyOut(pixels, width);
    } else {
      streams.pixels.set(u8().subarray(pixels, pixels + width), row * width);
    }
    return 0;
  },
};

let instance = null;
const imports = {wasi_snapshot_preview1: wasiImports(() => instance.exports.memory), graybmp_web: webImports};
({instance} = await WebAssembly.instantiate(await wasmBytes(), imports));
const lib = instance.exports;
lib._initialize();

// A view of the module's memory, made anew only when the memory has grown (which gives it
// a new buffer): the streams ask for it at every chunk and row.
let memoryBytes = null;
const u8 = () => (memoryBytes?.buffer === lib.memory.buffer ? memoryBytes : (memoryBytes = new Uint8Array(lib.memory.buffer)));
const view = () => new DataView(lib.memory.buffer);
const utf8 = new TextDecoder();

function cString(at) {
  const bytes = u8();
  let end = at;
  while (bytes[end] !== 0) end++;
  return utf8.decode(bytes.subarray(at, end));
}

function names(nameOf) {
  const list = [];
  for (let i = 0; ; i++) {
    const at = nameOf(i);
    if (at === 0) return Object.freeze(list);
    list.push(cString(at));
  }
}

/** The methods by name ("mean", "bt601", ...; the last "weights=R,G,B"). */
export const METHODS = names(lib.graybmp_method_name);
/** The ditherings by name ("none", "floyd-steinberg", "atkinson", "ordered", "jarvis", ...). */
export const DITHERS = names(lib.graybmp_dither_name);
/** The library's version, "1.3.0". */
export const version = cString(lib.graybmp_version());
/** The processor target the pixel loops run: "wasm" with SIMD128. */
export const cpu = cString(lib.graybmp_cpu());

/** A failure: `code` is the status name, `message` the library's reason. */
export class GraybmpError extends Error {
  constructor(code, message) {
    super(message);
    this.name = 'GraybmpError';
    this.code = code;
  }
}

// The records of include/graybmp.h as they lie in wasm32's memory.
const ERROR_SIZE = 536, ERROR_MESSAGE = 24;
const OPTIONS_SIZE = 432, OPTIONS_LEVELS = 40, OPTIONS_DEPTH = 44;
const OPTIONS_BACKGROUND_GIVEN = 52, OPTIONS_BACKGROUND = 56, OPTIONS_MAX_PIXELS = 64;
const OPTIONS_SERPENTINE = 72, OPTIONS_STRENGTH = 76, OPTIONS_INPUT_RANGE = 80, OPTIONS_NEGATE = 92;
const OPTIONS_GRAYS = 96, OPTIONS_THRESHOLD = 356, OPTIONS_NORMALIZE = 364, OPTIONS_GAMMA = 368, OPTIONS_LINEAR = 372;
const OPTIONS_FORMAT = 376, OPTIONS_BIT_ORDER = 380, OPTIONS_PACKING = 384, OPTIONS_ROW_ALIGN = 388,
  OPTIONS_NAME = 392, OPTIONS_FULL_PALETTE = 396, OPTIONS_ROWS = 400, OPTIONS_INDEX_ORDER = 404;
const OPTIONS_FIT_WIDTH = 408, OPTIONS_FIT_HEIGHT = 412, OPTIONS_FIT = 416, OPTIONS_FILTER = 420, OPTIONS_ROTATE = 424,
  OPTIONS_NO_AUTO_ORIENT = 428;
// The fits and filters, as graybmp.h numbers them.
export const FITS = ['contain', 'cover', 'stretch'];
export const FILTERS = ['lanczos3', 'mitchell', 'box', 'nearest'];
// The output formats and their choices, as graybmp.h numbers them.
export const FORMATS = ['bmp', 'raw', 'c', 'xbm', 'pbm', 'pgm'];
const BIT_ORDERS = [null, 'msb', 'lsb'], PACKINGS = ['rows', 'pages', 'planes'];
const ROWS = [null, 'top-down', 'bottom-up'], INDEX_ORDERS = ['black-first', 'white-first'];
const OPTIONS_COMPACT = 8;
const HEADER_SIZE = 584;
const HEADER_BYTES = 152, READER_SIZE = 16, WRITER_SIZE = 12;
const LAYOUTS = {gray: 0, rgb: 1, bgr: 2, rgba: 3, bgra: 4};
const KINDS = [null, 'indexed8', 'palettized', 'true-colour', 'rle24', 'array', 'png', 'jpeg', 'webp', 'gif', 'netpbm'];
const TYPES = {png: 'PNG file', jpeg: 'JPEG file', webp: 'WebP file', gif: 'GIF file', netpbm: 'netpbm file'};
const TOO_SHORT = 1, ERROR_NEEDED = 16;
const PIXELS_INDICES = 1, PIXELS_BOTTOM_UP = 2;

function errorAt(at) {
  const status = view().getInt32(at, true);
  return new GraybmpError(cString(lib.graybmp_status_name(status)), cString(at + ERROR_MESSAGE));
}

// Runs `body(alloc)` with memory taken by alloc(n) given back afterwards, whatever happens.
function withMemory(body) {
  const taken = [];
  const alloc = (n) => {
    const at = n < 2 ** 31 ? lib.malloc(Math.max(1, n)) : 0;  // sizes are 32 bits here
    if (at === 0) throw new GraybmpError('no-memory', 'out of memory');
    taken.push(at);
    return at;
  };
  try {
    return body(alloc);
  } finally {
    for (const at of taken) lib.free(at);
  }
}

function bytesOf(data, what) {
  if (data instanceof Uint8Array) return data;
  if (data instanceof ArrayBuffer) return new Uint8Array(data);
  if (ArrayBuffer.isView(data)) return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
  throw new TypeError(`${what} takes a Uint8Array, an ArrayBuffer or a typed array, not ${typeof data}`);
}

function copyIn(alloc, bytes) {
  const at = alloc(bytes.length);
  u8().set(bytes, at);
  return at;
}

// A copy of `length` bytes of the module's memory (slice() of its memory copies far slower).
function copyOut(at, length) {
  const copy = new Uint8Array(length);
  copy.set(u8().subarray(at, at + length));
  return copy;
}

function cStringIn(alloc, text) {
  const bytes = new TextEncoder().encode(text);
  const at = alloc(bytes.length + 1);
  u8().set(bytes, at);
  u8()[at + bytes.length] = 0;
  return at;
}

// A background: 0xRRGGBB, 'white', 'black' or '#RRGGBB'.
function colourOf(value) {
  if (Number.isInteger(value) && value >= 0 && value <= 0xFFFFFF) return value;
  if (value === 'white') return 0xFFFFFF;
  if (value === 'black') return 0;
  if (typeof value === 'string' && /^#[0-9a-fA-F]{6}$/.test(value)) return parseInt(value.slice(1), 16);
  throw new GraybmpError('bad-argument', `a background is 'white', 'black', '#RRGGBB' or 0xRRGGBB, not ${value}`);
}

// The options record for `options` ({method, compact, levels, depth, dither, serpentine,
// strength, background, maxPixels, inputRange, normalize, gamma, negate, grays, threshold,
// linear, format, bitOrder, packing, rowAlign, name, fullPalette, rows, indexOrder, size,
// fit, filter, rotate, autoOrient}), checked.
function optionsIn(alloc, options, error) {
  const known = new Set(['method', 'compact', 'levels', 'depth', 'dither', 'serpentine', 'strength', 'background',
    'maxPixels', 'inputRange', 'normalize', 'gamma', 'negate', 'grays', 'threshold', 'linear', 'format', 'bitOrder',
    'packing', 'rowAlign', 'name', 'fullPalette', 'rows', 'indexOrder', 'size', 'fit', 'filter', 'rotate',
    'autoOrient']);
  for (const key of Object.keys(options)) {
    if (!known.has(key)) throw new GraybmpError('bad-argument', `unknown option '${key}'`);
  }
  const at = alloc(OPTIONS_SIZE);
  lib.graybmp_options_init(at);
  if (view().getUint32(at, true) !== OPTIONS_SIZE) throw new Error('graybmp: the module does not match this file');
  const {method = 'mean', compact = false, levels = null, depth = null, dither = null, serpentine = false,
         strength = null, background = null, maxPixels = null, inputRange = null, normalize = false, gamma = null,
         negate = false, grays = null, threshold = null, linear = false, format = 'bmp', bitOrder = null,
         packing = 'rows', rowAlign = null, name = null, fullPalette = false, rows = null,
         indexOrder = 'black-first', size = null, fit = null, filter = null, rotate = 0,
         autoOrient = true} = options;
  if (typeof method !== 'string') throw new GraybmpError('bad-argument', 'the method is a name, such as "bt709"');
  if (lib.graybmp_options_set_method(at, cStringIn(alloc, method), error) !== 0) throw errorAt(error);
  const whole = (value, what) => {
    if (value === null || value === undefined) return 0;
    if (!Number.isInteger(value)) throw new GraybmpError('bad-argument', `${what} is a whole number, not ${value}`);
    return value;
  };
  view().setInt32(at + OPTIONS_COMPACT, compact ? 1 : 0, true);
  view().setInt32(at + OPTIONS_LEVELS, whole(levels, 'levels'), true);
  view().setInt32(at + OPTIONS_DEPTH, whole(depth, 'depth'), true);
  if (dither !== null && dither !== undefined) {
    if (typeof dither !== 'string') throw new GraybmpError('bad-argument', `a dithering is a name, not ${dither}`);
    if (lib.graybmp_options_set_dither(at, cStringIn(alloc, dither), error) !== 0) throw errorAt(error);
  }
  view().setInt32(at + OPTIONS_SERPENTINE, serpentine ? 1 : 0, true);
  if (strength !== null && strength !== undefined) view().setInt32(at + OPTIONS_STRENGTH, whole(strength, 'strength'), true);
  if (inputRange !== null && inputRange !== undefined) {
    if (!Array.isArray(inputRange) || inputRange.length !== 2) {
      throw new GraybmpError('bad-argument', 'inputRange is [black, white]');
    }
    view().setInt32(at + OPTIONS_INPUT_RANGE, 1, true);
    view().setInt32(at + OPTIONS_INPUT_RANGE + 4, whole(inputRange[0], 'inputRange'), true);
    view().setInt32(at + OPTIONS_INPUT_RANGE + 8, whole(inputRange[1], 'inputRange'), true);
  }
  view().setInt32(at + OPTIONS_NORMALIZE, normalize ? 1 : 0, true);
  if (gamma !== null && gamma !== undefined) {
    const thousandths = Math.round(gamma * 1000);
    if (typeof gamma !== 'number' || Math.abs(gamma * 1000 - thousandths) > 1e-6 || thousandths < 100 ||
        thousandths > 10000) {
      throw new GraybmpError('bad-argument', `gamma is 0.1 to 10 with at most three decimals, not ${gamma}`);
    }
    view().setInt32(at + OPTIONS_GAMMA, thousandths, true);
  }
  view().setInt32(at + OPTIONS_NEGATE, negate ? 1 : 0, true);
  view().setInt32(at + OPTIONS_LINEAR, linear ? 1 : 0, true);
  const choice = (value, choices, what) => {
    const index = choices.indexOf(value);
    if (index < 0) {
      throw new GraybmpError('bad-argument', `${what} is one of ${choices.filter((c) => c).join(', ')}, not ${value}`);
    }
    return index;
  };
  view().setInt32(at + OPTIONS_FORMAT, choice(format, FORMATS, 'format'), true);
  view().setInt32(at + OPTIONS_BIT_ORDER, choice(bitOrder, BIT_ORDERS, 'bitOrder'), true);
  view().setInt32(at + OPTIONS_PACKING, choice(packing, PACKINGS, 'packing'), true);
  view().setInt32(at + OPTIONS_ROW_ALIGN, whole(rowAlign, 'rowAlign'), true);
  if (name !== null && name !== undefined) {
    if (typeof name !== 'string') throw new GraybmpError('bad-argument', `a name is a string, not ${name}`);
    view().setUint32(at + OPTIONS_NAME, cStringIn(alloc, name), true);
  }
  view().setInt32(at + OPTIONS_FULL_PALETTE, fullPalette ? 1 : 0, true);
  view().setInt32(at + OPTIONS_ROWS, choice(rows, ROWS, 'rows'), true);
  view().setInt32(at + OPTIONS_INDEX_ORDER, choice(indexOrder, INDEX_ORDERS, 'indexOrder'), true);
  if (size !== null && size !== undefined) {
    const [width, height] = Array.isArray(size) ? size : [size, null];
    const side = (v) => {
      if (v === null || v === undefined) return 0;
      if (!Number.isInteger(v) || v < 1 || v > 65535) {
        throw new GraybmpError('bad-argument', `a size is [width, height], each 1 to 65535 or null, not ${size}`);
      }
      return v;
    };
    view().setUint32(at + OPTIONS_FIT_WIDTH, side(width), true);
    view().setUint32(at + OPTIONS_FIT_HEIGHT, side(height), true);
  } else if (fit !== null || filter !== null) {
    throw new GraybmpError('bad-argument', 'fit and filter need a size');
  }
  view().setInt32(at + OPTIONS_FIT, fit === null ? 0 : choice(fit, FITS, 'fit'), true);
  view().setInt32(at + OPTIONS_FILTER, filter === null ? 0 : choice(filter, FILTERS, 'filter'), true);
  if (![0, 90, 180, 270, 'auto'].includes(rotate)) {
    throw new GraybmpError('bad-argument', `rotate is 0, 90, 180, 270 or 'auto', not ${rotate}`);
  }
  view().setInt32(at + OPTIONS_ROTATE, rotate === 'auto' ? -1 : rotate, true);
  view().setInt32(at + OPTIONS_NO_AUTO_ORIENT, autoOrient ? 0 : 1, true);
  if (grays !== null && grays !== undefined) {
    if (!Array.isArray(grays) || grays.length > 256 || grays.some((g) => !Number.isInteger(g) || g < 0 || g > 255)) {
      throw new GraybmpError('bad-argument', 'grays are up to 256 whole numbers, 0 to 255');
    }
    view().setInt32(at + OPTIONS_GRAYS, grays.length, true);
    u8().set(grays, at + OPTIONS_GRAYS + 4);
  }
  if (threshold !== null && threshold !== undefined) {
    view().setInt32(at + OPTIONS_THRESHOLD, 1, true);
    view().setInt32(at + OPTIONS_THRESHOLD + 4, whole(threshold, 'threshold'), true);
  }
  if (background !== null && background !== undefined) {
    view().setInt32(at + OPTIONS_BACKGROUND_GIVEN, 1, true);
    view().setUint32(at + OPTIONS_BACKGROUND, colourOf(background), true);
  }
  if (maxPixels !== null && maxPixels !== undefined) {
    if (!Number.isInteger(maxPixels) || maxPixels < 1) {
      throw new GraybmpError('bad-argument', `maxPixels is a whole number above 0, not ${maxPixels}`);
    }
    view().setBigUint64(at + OPTIONS_MAX_PIXELS, BigInt(maxPixels), true);
  }
  if (lib.graybmp_options_check(at, error) !== 0) throw errorAt(error);
  return at;
}

// Runs `body` with the input's first bytes (its lead) copied into the module's memory,
// its options' record and an error record: {alloc, error, opts, input, lead, leadLength}.
function withInput(data, what, options, body) {
  const input = bytesOf(data, what);
  return withMemory((alloc) => {
    const error = alloc(ERROR_SIZE);
    const opts = optionsIn(alloc, options, error);
    const first = input.subarray(0, HEADER_BYTES);
    return body({alloc, error, opts, input, lead: copyIn(alloc, first), leadLength: first.length});
  });
}

// The input's header record, read: from more of the input while a picture's header needs
// more (a JPEG's size follows its Exif and profile).
function headerOf({alloc, error, opts, input, lead, leadLength}) {
  const h = alloc(HEADER_SIZE);
  for (;;) {
    if (lib.graybmp_read_header(lead, leadLength, BigInt(input.length), opts, h, error) === 0) return h;
    const needed = Number(view().getBigUint64(error + ERROR_NEEDED, true));
    if (view().getInt32(error, true) !== TOO_SHORT || needed <= leadLength || needed > input.length) {
      throw errorAt(error);
    }
    leadLength = needed;
    lead = copyIn(alloc, input.subarray(0, needed));
  }
}

// Runs `call(reader, writer, row)` with the library's reader of `into.input`, writer to
// `into.output` and row callback to `into.pixels`.
function streaming({alloc, error}, into, call) {
  const reader = alloc(READER_SIZE + WRITER_SIZE + 4), writer = reader + READER_SIZE, row = writer + WRITER_SIZE;
  lib.graybmp_web_streams(reader, writer, row);
  streams = {...into, inputAt: 0, outputAt: 0};
  try {
    if (call(reader, writer, view().getUint32(row, true)) !== 0) throw errorAt(error);
  } finally {
    streams = null;
  }
}

/**
 * The gray copy of a BMP image (a Uint8Array). Options: method (one of METHODS, default
 * "mean"), compact (true colour as an 8-bit gray BMP), levels (2 to 256: an uncompressed
 * gray BMP of that many levels), depth (1, 2, 4 or 8 bits a pixel), dither (one of
 * DITHERS, below 256 levels).
 */
export function gray(data, options = {}) {
  return withInput(data, 'gray', options, (at) => {
    const needed = at.alloc(8);
    if (lib.graybmp_stream_output_length(at.lead, at.leadLength, BigInt(at.input.length), at.opts, needed,
                                         at.error) !== 0) {
      throw errorAt(at.error);
    }
    const output = new Uint8Array(Number(view().getBigUint64(needed, true)));
    streaming(at, {input: at.input, output},
              (reader, writer) => lib.graybmp_convert_stream(reader, 0, 0, writer, at.opts, 0, at.error));
    return output;
  });
}

/**
 * What the header says, as the tool's report prints it: {type ("BMP file", "PNG file",
 * "JPEG file", "WebP file", "GIF file", "netpbm file" or null), size, width, height,
 * bitCount, kind ("indexed8", "palettized", "true-colour", "rle24", "array", "png",
 * "jpeg", "webp", "gif", "netpbm", or null when refused), refusal (the GraybmpError a
 * conversion with these options would raise, or null)}. Only an input too short for the
 * report raises. This module decodes netpbm pictures only; the others are refused as
 * "picture-unsupported" (the page decodes them with the browser's own decoders).
 */
export function header(data, options = {}) {
  return withInput(data, 'header', options, (input) => {
    const h = headerOf(input);
    const v = view();
    const refused = v.getInt32(h + 48, true) !== 0;
    const kind = KINDS[v.getInt32(h + 40, true)] ?? null;
    return {
      type: v.getInt32(h, true) ? 'BMP file' : TYPES[kind] ?? null,
      size: Number(v.getBigInt64(h + 8, true)),
      width: Number(v.getBigInt64(h + 16, true)),
      height: Number(v.getBigInt64(h + 24, true)),
      bitCount: Number(v.getBigInt64(h + 32, true)),
      kind: refused ? null : kind,
      refusal: refused ? errorAt(h + 48) : null,
    };
  });
}

/**
 * The gray pixels of a BMP: {pixels (a Uint8Array of width x height bytes, the top row
 * first), width, height}. Each pixel its gray by the method; with levels (and dither) the
 * gray of its level, or with indices: true the level's index. Refused as levels refuse.
 */
export function toPixels(data, options = {}) {
  const {indices = false, ...rest} = options;
  return withInput(data, 'toPixels', rest, (at) => {
    // The size first (from the header), then the rows straight into their array; a fitted
    // or turned picture's rows as they come, its size theirs.
    const h = headerOf(at);
    if (view().getInt32(h + 48, true) !== 0) throw errorAt(h + 48);
    const width = Number(view().getBigInt64(h + 16, true));
    const height = Math.abs(Number(view().getBigInt64(h + 24, true)));
    if (width > 0 && ((rest.size ?? null) !== null || (rest.rotate ?? 0) !== 0)) {
      const into = {input: at.input, rows: []};
      streaming(at, into, (reader, writer, row) =>
        lib.graybmp_pixels_stream(reader, 0, 0, at.opts, indices ? PIXELS_INDICES : 0, row, 0, at.error));
      const {rows} = into, fitted = rows.length > 0 ? rows[0].length : 0;
      const pixels = new Uint8Array(fitted * rows.length);
      rows.forEach((r, y) => pixels.set(r, y * fitted));
      return {pixels, width: fitted, height: rows.length};
    }
    const pixels = new Uint8Array(width * height);
    streaming(at, {input: at.input, pixels, width}, (reader, writer, row) =>
      lib.graybmp_pixels_stream(reader, 0, 0, at.opts, indices ? PIXELS_INDICES : 0, row, 0, at.error));
    return {pixels, width, height};
  });
}

/**
 * A gray BMP (a Uint8Array) of decoded pixels: an ImageData (or any {data, width,
 * height}), or a byte array with options.width and options.height. options.layout is
 * "rgba" (the default, a canvas's order), "bgra", "rgb", "bgr" or "gray"; bottomUp runs
 * the rows (and the dithering) from the bottom. The output is the tool's with levels (256
 * when not given), depth and dither for a BMP of the same pixels. A pixel whose alpha is
 * below 255 is GraybmpError "translucent".
 */
export function fromPixels(image, options = {}) {
  const {width = image.width, height = image.height, layout = 'rgba', bottomUp = false, ...rest} = options;
  const pixels = bytesOf(image.data ?? image, 'fromPixels');
  const channels = {gray: 1, rgb: 3, bgr: 3, rgba: 4, bgra: 4}[layout];
  if (channels === undefined) {
    throw new GraybmpError('bad-argument', `unknown layout '${layout}' (${Object.keys(LAYOUTS).join(', ')})`);
  }
  if (!Number.isInteger(width) || !Number.isInteger(height) || width <= 0 || height <= 0) {
    throw new GraybmpError('bad-argument', `a picture of ${width} x ${height} pixels has none`);
  }
  if (pixels.length < width * height * channels) {
    throw new GraybmpError('bad-argument',
      `${width} x ${height} pixels of ${channels} bytes take ${width * height * channels} bytes, not ${pixels.length}`);
  }
  return withMemory((alloc) => {
    const error = alloc(ERROR_SIZE);
    const opts = optionsIn(alloc, rest, error);
    const length = alloc(8);
    if (lib.graybmp_from_pixels_length(width, height, opts, length, error) !== 0) throw errorAt(error);
    const size = Number(view().getBigUint64(length, true));
    const from = copyIn(alloc, pixels.subarray(0, width * height * channels));
    const to = alloc(size);
    const written = alloc(4);
    if (lib.graybmp_from_pixels(from, width, height, width * channels, LAYOUTS[layout],
                                bottomUp ? PIXELS_BOTTOM_UP : 0, opts, to, size, written, error) !== 0) {
      throw errorAt(error);
    }
    return copyOut(to, view().getUint32(written, true));
  });
}

/**
 * The name of a gray copy beside its input: "photo.bmp" gives "photoNEW.bmp"; with an
 * extension in place of the input's own ("photo.jpg" and ".bmp" give "photoNEW.bmp").
 */
export function grayName(name, extension = null) {
  return withMemory((alloc) => {
    const from = cStringIn(alloc, name);
    const ext = extension === null ? 0 : cStringIn(alloc, extension);
    const size = lib.graybmp_output_name(from, ext, 0, 0) + 1;
    const to = alloc(size);
    lib.graybmp_output_name(from, ext, to, size);
    return cString(to);
  });
}
