// The JavaScript module against the native tool: every kind the tests' maker makes, by
// every method and the options of the levels, gives the tool's bytes or its refusal; pixels
// out are the tool's levels at 8 bits; pixels in are the tool's output for a V4 BMP of
// the same pixels. Run by ci/web-test: node --test, with GRAYBMP_SITE (the built page),
// GRAYBMP_BINARY (the tool) and GRAYBMP_FIXTURES (the maker).
import assert from 'node:assert/strict';
import {execFileSync, spawnSync} from 'node:child_process';
import {mkdtempSync, readdirSync, readFileSync, writeFileSync, mkdirSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, basename} from 'node:path';
import {test} from 'node:test';
import {pathToFileURL} from 'node:url';

const graybmp = await import(pathToFileURL(join(process.env.GRAYBMP_SITE, 'graybmp.js')));
const tool = process.env.GRAYBMP_BINARY;
const work = mkdtempSync(join(tmpdir(), 'graybmp-js-'));
const inputs = join(work, 'in');
mkdirSync(inputs);
execFileSync(process.env.GRAYBMP_FIXTURES, [inputs]);
// The pictures of formats this module leaves to the browser (all but netpbm) are not
// compared with the native tool, which decodes them.
const leftToTheBrowser = (path) => {
  try {
    return graybmp.header(readFileSync(path)).refusal?.code === 'picture-unsupported';
  } catch {
    return false;
  }
};
const fixtures = readdirSync(inputs).sort().map((name) => join(inputs, name)).filter((p) => !leftToTheBrowser(p));
let outputs = 0;

// The tool's copies of `paths` with the command line's options, and its reason for each
// one it refused.
function toolCopies(paths, args) {
  const out = join(work, `out${outputs++}`);
  mkdirSync(out);
  const run = spawnSync(tool, ['-d', out, ...args, ...paths], {encoding: 'utf8'});
  assert.ok(run.status === 0 || run.status === 1, run.stderr);
  const reasons = new Map(run.stderr.split('\n').filter(Boolean).map((line) => {
    const rest = line.slice('graybmp: '.length);
    const cut = rest.indexOf(': ');
    return [rest.slice(0, cut), rest.slice(cut + 2)];
  }));
  // Another format's copy takes its extension.
  const format = args.includes('--format') ? args[args.indexOf('--format') + 1] : 'bmp';
  const extension = {raw: '.raw', c: '.h', xbm: '.xbm', pbm: '.pbm', pgm: '.pgm'}[format];
  const nameOf = (p) => (extension ? basename(p).replace(/\.[^.]*$/, '') + extension : basename(p));
  const copies = new Map();
  for (const p of paths) if (!reasons.has(p)) copies.set(p, readFileSync(join(out, nameOf(p))));
  return {copies, reasons};
}

// What Python's module says of `value` (JSON in, JSON out): `code` reads it as `value` and
// prints JSON; PYTHONPATH (set by ci/web-test) finds the module.
function python(code, value) {
  const run = spawnSync('/usr/bin/python3', ['-c', `import json, sys, graybmp\nvalue = json.load(sys.stdin)\n${code}`],
    {input: JSON.stringify(value), encoding: 'utf8', maxBuffer: 1 << 28});
  assert.equal(run.status, 0, run.stderr);
  return JSON.parse(run.stdout);
}

// Where the tool names its options, the library speaks of what they ask for.
const TOOL_WORDS = [['--levels takes ', 'the levels take '], ['--levels would drop', 'the levels would drop'],
  ['--compact writes ', 'the compact form takes '], ['--compact would drop', 'the compact form would drop'],
  ['no --background to composite', 'no background to composite']];
const libraryWords = (reason) => TOOL_WORDS.reduce((r, [tool, words]) => r?.replace(tool, words), reason);

// The command line's options and the module's.
const OPTIONS = [
  [[], {}],
  [['--compact'], {compact: true}],
  [['--levels', '4', '--dither', 'floyd-steinberg'], {levels: 4, dither: 'floyd-steinberg'}],
  [['--depth', '2', '--dither', 'ordered'], {depth: 2, dither: 'ordered'}],
  [['--levels', '16', '--depth', '8', '--dither', 'atkinson'], {levels: 16, depth: 8, dither: 'atkinson'}],
  [['--levels', '3', '--depth', '2'], {levels: 3, depth: 2}],
  [['--levels', '2', '--dither', 'stucki', '--serpentine', '--strength', '60'],
    {levels: 2, dither: 'stucki', serpentine: true, strength: 60}],
  [['--levels', '4', '--dither', 'bayer16'], {levels: 4, dither: 'bayer16'}],
  [['--levels', '4', '--grays', '20,90,160,230', '--negate', '--input-range', '10,240'],
    {levels: 4, grays: [20, 90, 160, 230], negate: true, inputRange: [10, 240]}],
  [['--threshold', '100'], {threshold: 100}],
  [['--levels', '2', '--normalize', '--gamma', '2.2', '--linear', '--dither', 'blue-noise'],
    {levels: 2, normalize: true, gamma: 2.2, linear: true, dither: 'blue-noise'}],
  [['--levels', '4', '--gamma', '0.455', '--dither', 'halftone', '--linear'],
    {levels: 4, gamma: 0.455, dither: 'halftone', linear: true}],
  [['--levels', '3', '--dither', 'sierra2', '--linear', '--serpentine'],
    {levels: 3, dither: 'sierra2', linear: true, serpentine: true}],
  [['--format', 'raw', '--levels', '4', '--depth', '2', '--bit-order', 'lsb', '--row-align', '2', '--rows', 'bottom-up'],
    {format: 'raw', levels: 4, depth: 2, bitOrder: 'lsb', rowAlign: 2, rows: 'bottom-up'}],
  [['--format', 'c', '--name', 'panel', '--levels', '2', '--packing', 'pages', '--index-order', 'white-first'],
    {format: 'c', name: 'panel', levels: 2, packing: 'pages', indexOrder: 'white-first'}],
  [['--format', 'xbm', '--name', 'icon'], {format: 'xbm', name: 'icon'}],
  [['--format', 'pgm', '--levels', '4', '--dither', 'atkinson'], {format: 'pgm', levels: 4, dither: 'atkinson'}],
  [['--levels', '3', '--depth', '2', '--full-palette', '--rows', 'top-down', '--index-order', 'white-first'],
    {levels: 3, depth: 2, fullPalette: true, rows: 'top-down', indexOrder: 'white-first'}],
  [['--size', '9x7', '--fit', 'cover', '--rotate', '90', '--levels', '4', '--dither', 'jarvis'],
    {size: [9, 7], fit: 'cover', rotate: 90, levels: 4, dither: 'jarvis'}],
  [['--size', 'x5', '--filter', 'mitchell', '--rotate', 'auto'], {size: [null, 5], filter: 'mitchell', rotate: 'auto'}],
];
const METHODS = [...graybmp.METHODS.filter((m) => !m.includes('=')), 'weights=0.2,0.7,0.1'];

test('gray gives the tool\'s bytes or its refusal, and header no other refusal', () => {
  for (const method of METHODS) {
    for (const [args, options] of OPTIONS) {
      const {copies, reasons} = toolCopies(fixtures, ['-m', method, ...args]);
      assert.ok(copies.size > 0);
      for (const path of fixtures) {
        const data = readFileSync(path);
        const what = `${basename(path)} ${method} ${args.join(' ')}`;
        let refusal = null;
        try {
          const out = graybmp.gray(data, {method, ...options});
          assert.ok(copies.has(path), `${what}: the tool refused it: ${reasons.get(path)}`);
          assert.ok(Buffer.from(out).equals(copies.get(path)), what);
        } catch (error) {
          if (!(error instanceof graybmp.GraybmpError)) throw error;
          assert.equal(error.message, libraryWords(reasons.get(path)), what);
          assert.ok(!error.message.includes('--'), what);
          assert.ok(!['ok', 'unknown'].includes(error.code), what);
          refusal = error.code;
        }
        // The header knows the refusals its fields show (not a pixel's alpha, say).
        if (refusal !== 'too-short') {
          const early = graybmp.header(data, {method, ...options}).refusal;
          assert.equal(early?.code ?? refusal, refusal, what);
        }
      }
    }
  }
});

test('every colour by every method and weights gives the tool\'s grays', () => {
  // 4096 x 4096 pixels of 24 bits, each colour once (blue, green, red from the index).
  const side = 4096, bmp = Buffer.alloc(54 + 3 * side * side);
  bmp.write('BM', 0);
  bmp.writeUInt32LE(bmp.length, 2);
  bmp.writeUInt32LE(54, 10);
  bmp.writeUInt32LE(40, 14);
  bmp.writeInt32LE(side, 18);
  bmp.writeInt32LE(side, 22);
  bmp.writeUInt16LE(1, 26);
  bmp.writeUInt16LE(24, 28);
  for (let c = 0; c < side * side; c++) bmp.set([c & 255, (c >> 8) & 255, c >> 16], 54 + 3 * c);
  const path = join(work, 'colours.bmp');
  writeFileSync(path, bmp);
  for (const method of [...METHODS, 'weights=0.333333,0.333333,0.333334', 'weights=1000000,0,1']) {
    const {copies} = toolCopies([path], ['-m', method]);
    assert.ok(Buffer.from(graybmp.gray(bmp, {method})).equals(copies.get(path)), method);
  }
});

test('header gives the values of the tool\'s report', () => {
  const out = join(work, `out${outputs++}`);
  mkdirSync(out);
  const run = spawnSync(tool, ['--report', '-d', out, ...fixtures], {encoding: 'utf8'});
  const reports = new Map();
  for (const block of run.stdout.split(/^File: /m).slice(1)) {
    const [name, ...lines] = block.trimEnd().split('\n');
    reports.set(name, lines.join('\n'));
  }
  // The kind is not in the report: Python's header says it.
  const kinds = python('print(json.dumps([graybmp.header(p).kind for p in value]))', fixtures.filter((p) => reports.has(p)));
  let compared = 0;
  for (const path of fixtures) {
    if (!reports.has(path)) continue;  // too short for a report
    const h = graybmp.header(readFileSync(path));
    assert.equal(h.kind, kinds[compared], `${basename(path)}: its kind`);
    const lines = [h.type && `Type: ${h.type}`, `Size: ${h.size}`, `Width: ${h.width}`, `Height: ${h.height}`,
      `BitCount: ${h.bitCount}`];
    assert.equal(lines.filter(Boolean).join('\n'), reports.get(path), basename(path));
    compared++;
  }
  assert.ok(compared > fixtures.length / 2);
  assert.ok(new Set(kinds).size >= 5, `every kind among the fixtures: ${[...new Set(kinds)]}`);
});

// The pixels of an uncompressed 8-bit BMP, through its palette, the top row first.
function decode8(bmp) {
  const u32 = (at) => bmp.readUInt32LE(at);
  const width = bmp.readInt32LE(18), height = bmp.readInt32LE(22), rows = Math.abs(height);
  const palette = 14 + u32(14), pixels = u32(10), stride = (width + 3) & ~3;
  const out = new Uint8Array(width * rows), indices = new Uint8Array(width * rows);
  for (let y = 0; y < rows; y++) {
    const from = pixels + (height > 0 ? rows - 1 - y : y) * stride;
    for (let x = 0; x < width; x++) {
      indices[y * width + x] = bmp[from + x];
      out[y * width + x] = bmp[palette + 4 * bmp[from + x]];
    }
  }
  return {width, height: rows, grays: out, indices};
}

test('toPixels gives the pixels of the tool\'s levels at 8 bits, grays or indices', () => {
  for (const [levels, dither, size] of [[null, 'none'], [4, 'floyd-steinberg'], [2, 'ordered'], [255, 'atkinson'],
    [3, 'stucki', [6, 11]]]) {
    for (const method of ['mean', 'luminance', 'weights=1,2,3']) {
      const args = ['-m', method, '--levels', String(levels ?? 256), '--depth', '8', '--dither', dither,
        ...(size ? ['--size', size.join('x'), '--rotate', '270'] : [])];
      const {copies} = toolCopies(fixtures, args);
      for (const [path, bmp] of copies) {
        const want = decode8(bmp);
        const options = {method, levels: levels ?? undefined, dither: levels ? dither : undefined,
          ...(size ? {size, rotate: 270} : {})};
        const got = graybmp.toPixels(readFileSync(path), options);
        const what = `${basename(path)} ${args.join(' ')}`;
        assert.deepEqual([got.width, got.height], [want.width, want.height], what);
        assert.ok(Buffer.from(got.pixels).equals(want.grays), what);
        const indices = graybmp.toPixels(readFileSync(path), {...options, indices: true});
        assert.ok(Buffer.from(indices.pixels).equals(want.indices), what);
      }
    }
  }
});

// A 32-bit V4 BMP of RGBA pixels, as fromPixels promises to write its input.
function v4(rgba, width, height) {
  const bmp = Buffer.alloc(122 + 4 * width * height);
  bmp.write('BM', 0);
  bmp.writeUInt32LE(bmp.length, 2);
  bmp.writeUInt32LE(122, 10);
  bmp.writeUInt32LE(108, 14);
  bmp.writeInt32LE(width, 18);
  bmp.writeInt32LE(-height, 22);
  bmp.writeUInt16LE(1, 26);
  bmp.writeUInt16LE(32, 28);
  bmp.writeUInt32LE(3, 30);
  bmp.writeUInt32LE(4 * width * height, 34);
  [0x00ff0000, 0x0000ff00, 0x000000ff, 0xff000000].forEach((mask, i) => bmp.writeUInt32LE(mask >>> 0, 54 + 4 * i));
  for (let i = 0; i < width * height; i++) {
    bmp.set([rgba[4 * i + 2], rgba[4 * i + 1], rgba[4 * i], rgba[4 * i + 3]], 122 + 4 * i);
  }
  return bmp;
}

test('fromPixels gives the tool\'s bytes for a BMP of the same pixels, in every layout', () => {
  const width = 37, height = 9;
  const rgba = new Uint8Array(4 * width * height).map((_, i) => (i % 4 === 3 ? 255 : (i * 97 + (i >> 7) * 31) & 255));
  const path = join(work, 'pixels.bmp');
  writeFileSync(path, v4(rgba, width, height));
  const layouts = {
    rgba: rgba,
    bgra: rgba.map((_, i) => rgba[i % 4 < 3 ? i - (i % 4) + 2 - (i % 4) : i]),
    rgb: rgba.filter((_, i) => i % 4 !== 3),
    bgr: rgba.filter((_, i) => i % 4 !== 3).map((_, i, rgb) => rgb[i - (i % 3) + 2 - (i % 3)]),
  };
  // Bottom-up, where the rows and the dithering run from the bottom, as Python's from_array.
  const rows = Array.from({length: height}, (_, y) => Array.from(rgba.subarray(4 * width * y, 4 * width * (y + 1))));
  for (const [layout, options] of [['rgba', {}], ['rgba', {levels: 4, dither: 'floyd-steinberg'}],
    ['rgba', {levels: 2, dither: 'atkinson'}], ['rgb', {levels: 3, depth: 2, dither: 'ordered'}]]) {
    const data = layout === 'rgb' ? layouts.rgb : rgba;
    const want = python(`import numpy
a = numpy.array(value['rows'], numpy.uint8).reshape(${height}, ${width}, 4)[:, :, :value['channels']]
print(json.dumps(list(graybmp.from_array(a, 'bt709', value.get('levels'), value.get('depth'), value.get('dither'), bottom_up=True))))`,
      {rows, channels: layout === 'rgb' ? 3 : 4, ...options});
    const out = graybmp.fromPixels({data, width, height}, {method: 'bt709', layout, bottomUp: true, ...options});
    assert.ok(Buffer.from(out).equals(Buffer.from(want)), `bottom-up ${layout} ${JSON.stringify(options)}`);
    assert.equal(new DataView(out.buffer, out.byteOffset).getInt32(22, true), height, 'a positive height');
  }
  for (const [args, options] of [
    [['--levels', '256'], {}],
    [['--levels', '4', '--dither', 'floyd-steinberg'], {levels: 4, dither: 'floyd-steinberg'}],
    [['--levels', '2', '--depth', '1', '--dither', 'atkinson'], {levels: 2, depth: 1, dither: 'atkinson'}],
    [['--levels', '16', '--depth', '8', '--dither', 'ordered'], {levels: 16, depth: 8, dither: 'ordered'}],
  ]) {
    for (const method of ['bt709', 'rms']) {
      const {copies} = toolCopies([path], ['-m', method, ...args]);
      for (const [layout, pixels] of Object.entries(layouts)) {
        const out = graybmp.fromPixels({data: pixels, width, height}, {method, layout, ...options});
        assert.ok(Buffer.from(out).equals(copies.get(path)), `${layout} ${method} ${args.join(' ')}`);
      }
    }
  }
});

test('every kind of buffer is read from where its bytes lie', () => {
  const path = fixtures.find((p) => p.endsWith('seed300.bmp'));
  const seed = readFileSync(path);
  const expected = Buffer.from(graybmp.gray(new Uint8Array(seed)));
  // The same bytes behind 5 others, in the middle of a larger buffer.
  const padded = new Uint8Array(seed.length + 10);
  padded.set(seed, 5);
  const buffers = {
    'Buffer': seed,
    'ArrayBuffer': padded.slice(5, 5 + seed.length).buffer,
    'subarray': padded.subarray(5, 5 + seed.length),
    'DataView': new DataView(padded.buffer, 5, seed.length),
    'Uint8ClampedArray': new Uint8ClampedArray(padded.buffer, 5, seed.length),
  };
  for (const [kind, data] of Object.entries(buffers)) {
    assert.ok(Buffer.from(graybmp.gray(data)).equals(expected), kind);
    assert.equal(graybmp.header(data).size, seed.length, kind);
    assert.deepEqual(graybmp.toPixels(data), graybmp.toPixels(seed), kind);
  }
  // A canvas's ImageData holds a Uint8ClampedArray, at an offset here.
  const rgba = new Uint8ClampedArray(4 + 4 * 6).fill(255);
  rgba.set([10, 200, 30], 4);
  const image = {data: rgba.subarray(4), width: 3, height: 2};
  assert.ok(Buffer.from(graybmp.fromPixels(image)).equals(Buffer.from(graybmp.fromPixels(
    {data: new Uint8Array(rgba.subarray(4)), width: 3, height: 2}))));
  assert.notDeepEqual(graybmp.fromPixels(image), graybmp.fromPixels({data: new Uint8Array(24).fill(255), width: 3, height: 2}));
});

test('every failure is a GraybmpError with its status and reason, and the module goes on', () => {
  const seed = readFileSync(fixtures.find((p) => p.endsWith('seed0.bmp')));
  const opaque = {data: new Uint8Array(16).fill(255), width: 2, height: 2};
  // A run-length image of one row as wide as a 32-bit size allows: its levels' buffers
  // cannot be had, in a build without exceptions too.
  const wide = Buffer.alloc(54 + 1024 + 4);
  wide.write('BM', 0);
  wide.writeUInt32LE(wide.length, 2);
  wide.writeUInt32LE(54 + 1024, 10);
  wide.writeUInt32LE(40, 14);
  wide.writeInt32LE(0x7fffffff, 18);
  wide.writeInt32LE(1, 22);
  wide.writeUInt16LE(1, 26);
  wide.writeUInt16LE(8, 28);
  wide.writeUInt32LE(1, 30);
  wide.set([0, 1], 54 + 1024);
  // Pictures: netpbm is decoded here, the other formats are left to the browser.
  const png = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0, 0, 0, 13, 0x49, 0x48, 0x44, 0x52,
                           0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0]);
  const ppm = Buffer.concat([Buffer.from('P6\n3 2\n255\n'), Buffer.from([...Array(18).keys()].map((i) => i * 14))]);
  const pam = Buffer.concat([Buffer.from('P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n'),
                             Buffer.from([200, 100])]);
  const cases = [
    [() => graybmp.gray(seed.subarray(0, 20)), 'too-short', /too short/],
    [() => graybmp.gray(Buffer.concat([Buffer.from('XM'), seed.subarray(2)])), 'not-bitmap', /./],
    [() => graybmp.gray(seed, {method: 'grey'}), 'bad-argument', /unknown gray method 'grey'/],
    [() => graybmp.gray(seed, {levels: 1}), 'bad-argument', /levels/],
    [() => graybmp.gray(seed, {levels: 16, depth: 2}), 'bad-argument', /do not fit in 2 bits/],
    [() => graybmp.gray(seed, {dither: 'random', levels: 2}), 'bad-argument', /unknown dithering 'random'/],
    [() => graybmp.gray(seed, {level: 2}), 'bad-argument', /unknown option 'level'/],
    [() => graybmp.gray(seed, {levels: 2, gamma: 0.05}), 'bad-argument', /gamma is 0.1 to 10/],
    [() => graybmp.gray(seed, {levels: 2, gamma: 1.2345}), 'bad-argument', /at most three decimals/],
    [() => graybmp.gray(seed, {linear: true}), 'bad-argument', /linear light needs fewer than 256 levels/],
    [() => graybmp.gray(seed, {format: 'gif'}), 'bad-argument', /format is one of bmp, raw/],
    [() => graybmp.gray(seed, {format: 'pbm', levels: 4}), 'bad-argument', /pbm takes 2 levels/],
    [() => graybmp.gray(seed, {format: 'bmp', bitOrder: 'lsb', levels: 2}), 'bad-argument', /for the raw and c formats/],
    [() => graybmp.gray(wide, {levels: 2, dither: 'floyd-steinberg'}), 'no-memory', /out of memory/],
    [() => graybmp.toPixels(wide, {levels: 4}), 'no-memory', /out of memory/],
    [() => graybmp.fromPixels({...opaque, data: opaque.data.fill(254, 3, 4)}), 'translucent', /opaque/],
    [() => graybmp.fromPixels(opaque, {layout: 'argb'}), 'bad-argument', /unknown layout/],
    [() => graybmp.fromPixels({data: new Uint8Array(15), width: 2, height: 2}), 'bad-argument', /take 16 bytes/],
    [() => graybmp.gray(seed, {background: 'grey'}), 'bad-argument', /a background is/],
    [() => graybmp.gray(seed, {levels: 2, dither: 'ordered', serpentine: true}), 'bad-argument', /serpentine rows need/],
    [() => graybmp.gray(seed, {levels: 2, dither: 'jarvis', strength: 101}), 'bad-argument', /strength of 101/],
    [() => graybmp.gray(png), 'picture-unsupported', /does not decode/],
    [() => graybmp.gray(pam), 'translucent', /no background/],
    [() => graybmp.gray(ppm, {maxPixels: 5}), 'picture-too-large', /too large/],
    [() => graybmp.gray(seed, {fit: 'cover'}), 'bad-argument', /fit and filter need a size/],
    [() => graybmp.gray(seed, {size: [0, 5]}), 'bad-argument', /a size is/],
    [() => graybmp.gray(seed, {size: 5, filter: 'cubic'}), 'bad-argument', /filter is one of lanczos3/],
    [() => graybmp.gray(seed, {rotate: 45}), 'bad-argument', /rotate is 0, 90/],
  ];
  for (const [call, code, message] of cases) {
    assert.throws(call, (error) => error instanceof graybmp.GraybmpError && error.code === code &&
      message.test(error.message), `${code} ${message}`);
  }
  assert.throws(() => graybmp.gray('seed.bmp'), TypeError);
  assert.equal(graybmp.gray(seed).length, seed.length);
  assert.equal(graybmp.grayName('photo.bmp'), 'photoNEW.bmp');
  assert.equal(graybmp.grayName('dir/photo.jpg', '.bmp'), 'dir/photoNEW.bmp');
  // A picture is the gray BMP of its pixels, top row first; on a background,
  // (c a + b (255 - a) + 127) div 255: 200 at alpha 100 on white is 233.
  const pixels = {data: new Uint8Array(24), width: 3, height: 2};
  for (let i = 0; i < 6; ++i) pixels.data.set([...ppm.subarray(11 + 3 * i, 14 + 3 * i), 255], 4 * i);
  assert.ok(Buffer.from(graybmp.gray(ppm, {levels: 4})).equals(Buffer.from(graybmp.fromPixels(pixels, {levels: 4}))));
  assert.deepEqual(graybmp.header(ppm), {type: 'netpbm file', size: ppm.length, width: 3, height: 2, bitCount: 24,
                                         kind: 'netpbm', refusal: null});
  assert.deepEqual([...graybmp.toPixels(pam, {background: 'white'}).pixels], [(200 * 100 + 255 * 155 + 127) / 255 | 0]);
  assert.equal(graybmp.cpu, 'wasm');
});
