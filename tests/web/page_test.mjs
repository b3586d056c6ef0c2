// The web page against the native programs: each case is a folder put on the
// page's folder input in headless Chromium (and its files on the file input
// in headless Firefox, where there is one), the page opened from disk, and the
// page's message and downloads must be what the native programs say and write
// on the same folder. The page may make no request and log no error.
//   node page_test.mjs PAGE PROGRAMS_DIR EXAMPLE_DIR OUT_DIR
import { execFileSync, spawnSync } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import puppeteer from 'puppeteer-core';
import { browserProgram, chromiumLaunch } from './browsers.mjs';

const [page_, programs, example, out] = process.argv.slice(2).map((arg) => resolve(arg));
if (!out) {
  console.error('usage: node page_test.mjs PAGE PROGRAMS_DIR EXAMPLE_DIR OUT_DIR');
  process.exit(2);
}
const BACKGROUND = [0x20, 0x24, 0x2a];

// ---- the cases' files

const exampleFrames = () =>
  Object.fromEntries(readdirSync(example).filter((n) => /^anima\d{3}\.obj$/.test(n)).map((n) => [n, readFileSync(join(example, n))]));

// The frame text with the x of its first vertex set to `x`.
const withFirstX = (bytes, x) => Buffer.from(bytes.toString('latin1').replace(/^v \S+/m, `v ${x}`), 'latin1');

// A frame with its last vertex line dropped.
const withoutLastVertex = (bytes) => {
  const lines = bytes.toString('latin1').split('\n');
  const last = lines.map((l) => l.startsWith('v ')).lastIndexOf(true);
  return Buffer.from(lines.filter((_, i) => i !== last).join('\n'), 'latin1');
};

// A clip: its header (frame count, bytes a frame, little-endian) and `bytes` of frame data.
const clip = (frames, bytesPerFrame, bytes = frames * bytesPerFrame) => {
  const data = Buffer.alloc(4 + bytes, 0x11);
  data.writeUInt16LE(frames, 0);
  data.writeUInt16LE(bytesPerFrame, 2);
  return data;
};

// The example as a clip set: frames 0-5 and 6-23 converted by frameconv into
// a1.3d and a2.3d, the mesh of the first, and clips.json naming both.
function exampleClipSet(scratch) {
  const frames = exampleFrames();
  const names = Object.keys(frames).sort();
  const set = {};
  for (const [k, range] of [[1, [0, 6]], [2, [6, 24]]]) {
    const dir = join(scratch, `clip${k}`);
    mkdirSync(dir, { recursive: true });
    names.slice(...range).forEach((name, i) => writeFileSync(join(dir, `anima${String(i).padStart(3, '0')}.obj`), frames[name]));
    spawnSync(join(programs, 'frameconv'), { cwd: dir });
    set[`a${k}.3d`] = readFileSync(join(dir, 'aniv00.3d'));
    if (k === 1) set['data00.3d'] = readFileSync(join(dir, 'data00.3d'));
  }
  set['clips.json'] = JSON.stringify({
    clips: [
      { name: 'twist', files: ['a1.3d'], first_frame: 0, frame_count: 6 },
      { name: 'turn', files: ['a2.3d'], first_frame: 6, frame_count: 18 },
    ],
  });
  return set;
}

// The example's conversion played 42 times over as one clip, a1.3d: 1,008
// frames, more than one .glb holds, with the example's data00.3d.
function longClip(scratch) {
  const dir = join(scratch, 'long');
  mkdirSync(dir, { recursive: true });
  for (const [name, bytes] of Object.entries(exampleFrames())) writeFileSync(join(dir, name), bytes);
  spawnSync(join(programs, 'frameconv'), { cwd: dir });
  const animation = readFileSync(join(dir, 'aniv00.3d'));
  const frames = animation.subarray(4);
  const clip = Buffer.concat([Buffer.alloc(4), ...Array(42).fill(frames)]);
  clip.writeUInt16LE(42 * animation.readUInt16LE(0), 0);
  clip.writeUInt16LE(animation.readUInt16LE(2), 2);
  return { 'a1.3d': clip, 'data00.3d': readFileSync(join(dir, 'data00.3d')) };
}

// One case: its files by path, the program whose native run it is compared
// with, and what else is looked at.
function cases(scratch) {
  const frames = exampleFrames();
  const full = 1500000 / 4000; // frames of 4,000 bytes in a long clip at its limit
  return [
    { name: 'the bundled example', files: frames, program: 'frameconv', picture: 'mesh' },
    {
      name: 'a conversion with losses',
      files: { ...frames, 'anima003.obj': withFirstX(frames['anima003.obj'], 300) },
      program: 'frameconv',
      picture: 'red',
    },
    {
      name: 'a frame with too few vertices',
      files: { ...frames, 'anima005.obj': withoutLastVertex(frames['anima005.obj']) },
      program: 'frameconv',
      // frameconv stops at anima005.obj: the frames after it are not read.
      unused: Object.keys(frames).sort().slice(6),
    },
    {
      name: 'frames over the vertex store',
      files: Object.fromEntries(
        Array.from({ length: 21 }, (_, k) => [`anima${String(k).padStart(3, '0')}.obj`, `${'v 1 2 3\n'.repeat(10000)}f 1 2 3\n`]),
      ),
      program: 'frameconv',
    },
    { name: 'a clip with a bad header', files: { 'a1.3d': Buffer.from([1, 0]) }, program: 'clipmerge' },
    { name: 'clips of two frame sizes', files: { 'a1.3d': clip(1, 8), 'a2.3d': clip(1, 12) }, program: 'clipmerge' },
    { name: 'a clip over its limit', files: { 'a1.3d': clip(full + 1, 4000, 0) }, program: 'clipmerge' },
    {
      name: 'clips over the merge buffer',
      files: Object.fromEntries([1, 2, 3, 4, 5, 6, 7].map((k) => [`a${k}.3d`, clip(full, 4000, k < 7 ? undefined : 0)])),
      program: 'clipmerge',
    },
    { name: 'a clip shorter than its header says', files: { 'a1.3d': clip(2, 8, 8) }, program: 'clipmerge' },
    { name: 'more frames than a merge holds', files: { 'a1.3d': clip(65535, 4), 'a2.3d': clip(1, 4) }, program: 'clipmerge' },
    { name: 'a clip set with clips.json', files: exampleClipSet(scratch), program: 'clipmerge', picture: 'clips' },
    { name: 'a merge of more frames than one .glb holds', files: longClip(scratch), program: 'clipmerge', picture: 'mesh' },
    {
      name: 'a folder with files the page does not use',
      files: { ...frames, 'anima030.obj': frames['anima000.obj'], 'notes.txt': 'notes', 'more/anima000.obj': frames['anima000.obj'] },
      program: 'frameconv',
      unused: ['anima030.obj', 'notes.txt', 'given/more/anima000.obj'],
    },
    { name: 'a file of the wrong kind', files: { 'aniv00.3d': 'not a vertex animation', 'data00.3d': frames['anima000.obj'] }, program: 'gltf' },
  ];
}

// ---- the native programs

function writeFolder(dir, files) {
  rmSync(dir, { recursive: true, force: true });
  for (const [path, bytes] of Object.entries(files)) {
    mkdirSync(dirname(join(dir, path)), { recursive: true });
    writeFileSync(join(dir, path), bytes);
  }
}

// The native run of the case in a copy of its folder: the message as the
// page shows it ({ caption, text }) and the files written.
function native(given, dir, program) {
  rmSync(dir, { recursive: true, force: true });
  cpSync(given, dir, { recursive: true });
  if (program === 'gltf') {
    const run = spawnSync(join(programs, 'inspect3d'), ['gltf', '--json', '--out', 'view.glb'], { cwd: dir, encoding: 'utf8' });
    return { caption: 'inspect3d gltf', text: run.stderr.replace(/\n$/, ''), outputs: {} };
  }
  const run = spawnSync(join(programs, program), { cwd: dir, encoding: 'utf8' });
  const line = run.stdout.replace(/\n$/, '');
  const split = line.lastIndexOf(': ');
  const outputs = {};
  for (const name of program === 'frameconv' ? ['aniv00.3d', 'data00.3d'] : ['aniv00.3d']) {
    if (existsSync(join(dir, name))) outputs[name] = readFileSync(join(dir, name));
  }
  return { caption: line.slice(split + 2), text: line.slice(0, split), outputs };
}

// ---- the page

const failures = [];
const fail = (name, what) => failures.push(`${name}: ${what}`);

// Pixel counts of the viewer's canvas: pixels unlike the background in its
// middle fifth, red pixels, and the pixels themselves.
const pixels = (page) =>
  page.evaluate((background) => {
    const canvas = document.getElementById('view');
    const copy = Object.assign(document.createElement('canvas'), { width: canvas.width, height: canvas.height });
    const g = copy.getContext('2d');
    g.drawImage(canvas, 0, 0);
    const { data, width, height } = g.getImageData(0, 0, copy.width, copy.height);
    let middle = 0, middleDrawn = 0, red = 0;
    for (let y = 0; y < height; ++y) {
      for (let x = 0; x < width; ++x) {
        const i = (y * width + x) * 4;
        const [r, gr, b] = [data[i], data[i + 1], data[i + 2]];
        if (r > 200 && gr < 90 && b < 90) ++red;
        if (x > width * 0.4 && x < width * 0.6 && y > height * 0.4 && y < height * 0.6) {
          ++middle;
          if (Math.abs(r - background[0]) + Math.abs(gr - background[1]) + Math.abs(b - background[2]) > 24) ++middleDrawn;
        }
      }
    }
    return { drawn: middleDrawn / middle, red, data: Array.from(data) };
  }, BACKGROUND);

async function showFrame(page, frame) {
  await page.evaluate((number) => {
    if (document.getElementById('play').textContent === 'Pause') document.getElementById('play').click();
    const slider = document.getElementById('frame');
    for (let k = Number(slider.min); k <= Number(slider.max); ++k) {
      slider.value = String(k);
      slider.dispatchEvent(new Event('input'));
      if (document.getElementById('frame-number').textContent === `frame ${number}`) return;
    }
  }, frame);
}

async function checkPicture(page, test, shots) {
  await page.waitForFunction(() => document.body.dataset.viewer === 'shown', { timeout: 30000 });
  if (test.picture === 'mesh') {
    await showFrame(page, 6);
    const { drawn } = await pixels(page);
    if (drawn < 0.5) fail(test.name, `the mesh covers ${(drawn * 100).toFixed(0)} % of the canvas's middle`);
  } else if (test.picture === 'red') {
    await showFrame(page, 0);
    const before = await pixels(page);
    await showFrame(page, 3);
    const after = await pixels(page);
    if (before.red !== 0 || after.red < 50) fail(test.name, `red pixels: ${before.red} in frame 0, ${after.red} in frame 3 (the wrapped one)`);
  } else if (test.picture === 'clips') {
    await page.select('#clip', '0');
    await showFrame(page, 0);
    const first = await pixels(page);
    await page.select('#clip', '1');
    await showFrame(page, 6);
    const second = await pixels(page);
    let differ = 0;
    for (let i = 0; i < first.data.length; i += 4) if (first.data[i] !== second.data[i] || first.data[i + 1] !== second.data[i + 1]) ++differ;
    if (differ < first.data.length / 4 / 200) fail(test.name, `choosing the clip 'turn' changed ${differ} pixels`);
  }
  await page.screenshot({ path: join(shots, `${test.slug}.png`) });
}

// Each download of the page in `folder`: in a browser with the whole test,
// each link clicked and its file waited for; elsewhere fetched in the page.
async function download(page, folder, whole) {
  const names = await page.$$eval('#downloads a', (links) => links.map((a) => a.download));
  for (const [i, name] of names.entries()) {
    if (!whole) {
      const bytes = await page.evaluate(async (k) => {
        const link = document.querySelectorAll('#downloads a')[k];
        return [...new Uint8Array(await (await fetch(link.href)).arrayBuffer())];
      }, i);
      writeFileSync(join(folder, name), Buffer.from(bytes));
      continue;
    }
    await page.click(`#downloads li:nth-child(${i + 1}) a`);
    for (let waited = 0; !existsSync(join(folder, name)); waited += 50) {
      if (waited > 10000) throw new Error(`${name} was not downloaded`);
      await new Promise((r) => setTimeout(r, 50));
    }
  }
  return names;
}

// One case in `browser`: in Chromium the whole test (the folder put on the
// folder input, the downloads saved, the pictures); in Firefox, whose headless
// mode here may have no WebGL and whose driver puts no folder on an input, the
// files on the file input, and the messages and downloads.
async function runCase(browser, test, index) {
  test.slug = `case${String(index + 1).padStart(2, '0')}`;
  const dir = join(out, browser.name, test.slug);
  const given = join(dir, 'given');
  writeFolder(given, test.files);
  const expected = native(given, join(dir, 'native'), test.program);
  const downloads = join(dir, 'downloads');
  rmSync(downloads, { recursive: true, force: true });
  mkdirSync(downloads, { recursive: true });

  const page = await browser.driver.newPage();
  await page.setViewport({ width: 960, height: 1040 });
  if (browser.whole) {
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  }
  await page.setRequestInterception(true);
  const pageUrl = `file://${page_}`;
  page.on('request', (request) => {
    const url = request.url();
    if (url === pageUrl || url.startsWith('data:') || url.startsWith('blob:')) return request.continue();
    fail(test.name, `the page asked for ${url}`);
    return request.abort();
  });
  page.on('console', (message) => {
    if (message.type() !== 'error') return;
    if (!browser.whole && /WebGL/.test(message.text())) return;
    fail(test.name, `console error: ${message.text()}`);
  });
  page.on('pageerror', (error) => fail(test.name, `page error: ${error.message}`));
  await page.goto(pageUrl);
  if (browser.whole) {
    await (await page.$('#choose-folder')).uploadFile(given);
  } else {
    await (await page.$('#choose-files')).uploadFile(...Object.keys(test.files).map((name) => join(given, name)));
  }
  await page.waitForFunction(() => document.body.dataset.state === 'done', { timeout: 60000 });

  const shown = await page.evaluate(() => ({
    caption: document.getElementById('caption').textContent,
    text: document.getElementById('text').textContent,
    unused: document.getElementById('unused').textContent,
  }));
  if (shown.caption !== expected.caption || shown.text !== expected.text) {
    fail(test.name, `the page says "${shown.text}" titled "${shown.caption}"; natively "${expected.text}" titled "${expected.caption}"`);
  }
  const unused = test.unused ? `Not used: ${test.unused.join(', ')}` : '';
  if (shown.unused !== unused) fail(test.name, `"${shown.unused}", not "${unused}"`);

  const names = await download(page, downloads, browser.whole);
  const got = {};
  for (const name of names) {
    if (name.endsWith('.zip')) {
      execFileSync('cmake', ['-E', 'tar', 'xf', join(downloads, name)], { cwd: downloads });
      for (const inner of readdirSync(downloads)) if (!inner.endsWith('.zip')) got[inner] = readFileSync(join(downloads, inner));
    } else {
      got[name] = readFileSync(join(downloads, name));
    }
  }
  const want = { ...expected.outputs };
  if (test.program === 'clipmerge' && want['aniv00.3d']) {
    for (const name of ['data00.3d', 'clips.json']) if (test.files[name]) want[name] = Buffer.from(test.files[name]);
  }
  const wantNames = Object.keys(want).sort().join(', '), gotNames = Object.keys(got).sort().join(', ');
  if (wantNames !== gotNames) fail(test.name, `downloads ${gotNames || 'none'}, natively ${wantNames || 'none'}`);
  for (const name of Object.keys(want)) {
    if (got[name] && !want[name].equals(got[name])) fail(test.name, `${name} differs from the native program's`);
  }
  if (test.picture && browser.whole) await checkPicture(page, test, out);
  await page.close();
}

const browsers = [
  {
    name: 'chromium',
    whole: true,
    launch: chromiumLaunch(),
  },
  { name: 'firefox', whole: false, launch: { browser: 'firefox', executablePath: browserProgram('FIREFOX', 'firefox-esr') } },
].filter((browser) => browser.launch.executablePath);

mkdirSync(out, { recursive: true });
const table = cases(join(out, 'scratch'));
for (const browser of browsers) {
  browser.driver = await puppeteer.launch({ headless: true, ...browser.launch });
  try {
    for (const [index, test] of table.entries()) {
      // A folder within the folder reaches the page only by the folder input.
      if (!browser.whole && Object.keys(test.files).some((path) => path.includes('/'))) continue;
      const before = failures.length;
      const start = Date.now();
      try {
        await runCase(browser, test, index);
      } catch (error) {
        fail(test.name, `${browser.name}: ${error.message}`);
      }
      console.log(`${failures.length === before ? 'ok  ' : 'FAIL'} ${browser.name}: ${test.name} (${Date.now() - start} ms)`);
    }
  } finally {
    await browser.driver.close();
  }
}
for (const failure of failures) console.log(failure);
console.log(`${failures.length === 0 ? 'passed' : 'failed'}: page ${statSync(page_).size.toLocaleString('en')} bytes`);
process.exit(failures.length === 0 ? 0 : 1);
