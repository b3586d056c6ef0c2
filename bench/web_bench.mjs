// Times the web page (build-web/anim3d.html) beside the native programs, in
// Debian's headless Chromium driven by the puppeteer-core of tests/web:
//
//   node bench/web_bench.mjs [RUNS]     (default BENCH_RUNS, else 5)
//
// run from the top of the tree after `./build.sh web` and a release build
// whose bench sets are in build/bench-data (./build.sh bench does all that).
//
// - frameconv on set B (b-separate, b-interleaved: 200,000 stored vertices,
//   the store's limit) and clipmerge on the clip set (a 10 MB merge): the
//   native program, run in a scratch copy of the set's folder, against the
//   same program in the page's worker, the time the page shows for it
//   (#times span[data-ms]: the module's start, files in, main, outputs out). Runs
//   take turns, native then page; every page message must equal the native
//   program's "text: caption".
// - the page's load (goto of the file:// page until its load event), and
//   from putting a folder on the page's input to the first frame drawn, on a
//   freshly loaded page: for set B, and for the merge beside a data00.3d of
//   the clips' vertex count, which the page shows 1,000 frames at a time.
//
// Prints one table; exits with status 1 if a run fails or a message differs.
import { spawnSync } from 'node:child_process';
import { cp, mkdir, readdir, rm, stat } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { loadavg } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromiumLaunch } from '../tests/web/browsers.mjs';

const top = resolve(dirname(fileURLToPath(import.meta.url)), '..');
// The one copy of puppeteer-core the project pins, that of the page's tests.
const puppeteer = createRequire(join(top, 'tests/web/package.json'))('puppeteer-core');

const runs = Number(process.argv[2] || process.env.BENCH_RUNS || 5);
if (!Number.isInteger(runs) || runs < 1) {
  console.error('usage: node bench/web_bench.mjs [RUNS]');
  process.exit(2);
}
const build = join(top, 'build');
const data = join(build, 'bench-data');
const pagePath = join(top, 'build-web/anim3d.html');
const scratch = join(data, 'web-scratch');
// The clips' vertex count (make_sequence clips: kClipVertexCount).
const CLIP_VERTICES = 2000;

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

let failed = false;
const fail = (what) => {
  failed = true;
  console.log(`FAILED: ${what}`);
};

// A copy of the inputs of `set` (the files `keep` takes) in scratch/NAME.
async function copyOf(set, name, keep) {
  const dir = join(scratch, name);
  await rm(dir, { recursive: true, force: true });
  await mkdir(dir, { recursive: true });
  for (const file of await readdir(join(data, set))) {
    if (keep(file)) await cp(join(data, set, file), join(dir, file));
  }
  return dir;
}

// One run of a native program in `dir`: its wall time in ms, the process's
// start included, as bash's `time` takes it (Node's own spawn costs several
// times a run of the program), and its closing message.
function runNative(program, dir) {
  const done = spawnSync('bash', ['-c', 'TIMEFORMAT=%3R; time "$0"', join(build, program)], { cwd: dir, encoding: 'utf8' });
  const ms = 1000 * Number(done.stderr.trim().split('\n').at(-1));
  if (done.status !== 1 || !(ms >= 0)) fail(`${program} in ${dir}: exit status ${done.status}, ${done.stderr}`);
  return { ms, message: done.stdout.trim() };
}

// The closing message the page shows, as the native programs print it.
const messageOf = (page) => page.evaluate(() => `${document.getElementById('text').textContent}: ${document.getElementById('caption').textContent}`);

// In the page, before its own script: the time files are put on an input
// (its change event) and the times the markers of a run's end and of the
// first frame drawn are set.
function recordMarks() {
  window.benchMarks = {};
  document.addEventListener('change', () => (window.benchMarks = { put: performance.now() }), true);
  new MutationObserver(() => {
    const marks = window.benchMarks, body = document.body;
    if (body.dataset.state === 'done' && marks.done === undefined) marks.done = performance.now();
    if (body.dataset.viewer === 'shown' && marks.shown === undefined) marks.shown = performance.now();
  }).observe(document, { subtree: true, attributes: true, attributeFilter: ['data-state', 'data-viewer'] });
}

async function openPage(browser) {
  const page = await browser.newPage();
  await page.evaluateOnNewDocument(recordMarks);
  const start = performance.now();
  await page.goto(pathToFileURL(pagePath).href, { waitUntil: 'load' });
  return { page, loadMs: performance.now() - start };
}

// Puts the folder `dir` on the page's input and waits for the run's end, and
// for its first frame drawn when `shown`; the page's times and message.
async function runPage(page, dir, { shown = false } = {}) {
  await page.evaluate(() => {
    delete document.body.dataset.state;
    delete document.body.dataset.viewer;
  });
  await (await page.$('#choose-folder')).uploadFile(dir);
  await page.waitForFunction(() => document.body.dataset.state === 'done', { timeout: 300000, polling: 50 });
  if (shown) await page.waitForFunction(() => document.body.dataset.viewer === 'shown', { timeout: 300000, polling: 50 });
  // Each run in the worker: the whole, its module's start (files in
  // included) and its main.
  const runs = await page.$$eval('#times span[data-program]', (spans) =>
    spans.map((s) => ({ program: s.dataset.program, ms: Number(s.dataset.ms), start: Number(s.dataset.startMs), main: Number(s.dataset.mainMs) })),
  );
  const times = Object.fromEntries(runs.map((run) => [run.program, run.ms]));
  const marks = await page.evaluate(() => window.benchMarks);
  // The viewer plays what it shows, drawn by SwiftShader on the CPU: paused,
  // so that it does not take from the native runs between.
  await page.evaluate(() => {
    const play = document.getElementById('play');
    if (play.textContent === 'Pause') play.click();
  });
  return { times, runs, marks, message: await messageOf(page) };
}

// Plays the conversion shown for `seconds` at the page's 30 frames a second:
// the frames shown a second, by the frame number's changes.
const playback = (page, seconds) =>
  page.evaluate(async (ms) => {
    const play = document.getElementById('play');
    const label = document.getElementById('frame-number');
    let shown = 0, last = label.textContent;
    const observer = new MutationObserver(() => {
      if (label.textContent !== last) (last = label.textContent), ++shown;
    });
    observer.observe(label, { childList: true, characterData: true, subtree: true });
    if (play.textContent === 'Play') play.click();
    await new Promise((done) => setTimeout(done, ms));
    play.click();
    observer.disconnect();
    return (shown * 1000) / ms;
  }, seconds * 1000);

const chromium = chromiumLaunch();
if (!chromium.executablePath) {
  console.error('web_bench: no chromium on PATH (tools/setup.sh bench installs it)');
  process.exit(1);
}
const browser = await puppeteer.launch({ headless: true, ...chromium });
const rows = [];
const notes = [];
const loadBefore = loadavg()[0];
try {
  const pageBytes = (await stat(pagePath)).size;

  // frameconv on set B, clipmerge on the clips: native and page in turns.
  const sets = [
    { label: 'B separate', set: 'b-separate', program: 'frameconv', keep: (f) => /^anima\d{3}\.obj$/.test(f) },
    { label: 'B interleaved', set: 'b-interleaved', program: 'frameconv', keep: (f) => /^anima\d{3}\.obj$/.test(f) },
    { label: 'clips', set: 'clips', program: 'clipmerge', keep: (f) => /^a\d+\.3d$/.test(f) },
  ];
  const { page } = await openPage(browser);
  for (const s of sets) {
    const native = await copyOf(s.set, `${s.set}-native`, s.keep);
    const input = await copyOf(s.set, `${s.set}-page`, s.keep);
    const nativeMs = [], pageMs = [], jobMs = [], phases = [];
    // One run of each first, untimed: the files into the page cache, the
    // page's worker compiled.
    for (let k = 0; k <= runs; ++k) {
      const n = runNative(s.program, native);
      const p = await runPage(page, input);
      if (p.message !== n.message) fail(`${s.label}: the page says "${p.message}", ${s.program} "${n.message}"`);
      if (!(p.times[s.program] >= 0)) fail(`${s.label}: the page shows no time of ${s.program}`);
      if (k === 0) continue;
      nativeMs.push(n.ms);
      pageMs.push(p.times[s.program]);
      jobMs.push(p.marks.done - p.marks.put);
      phases.push(p.runs);
    }
    rows.push({ set: s.label, program: s.program, native: median(nativeMs), page: median(pageMs), job: median(jobMs), jobs: jobMs, phases });
  }

  await page.close();

  // The page's load, and a conversion at the limits from the input to the
  // first frame drawn, each on a freshly loaded page.
  const clipView = await copyOf('clips', 'clips-view', (f) => /^a\d+\.3d$/.test(f));
  const oneFrame = join(scratch, 'clip-mesh');
  await rm(oneFrame, { recursive: true, force: true });
  const made = spawnSync(join(build, 'bench/make_sequence'), ['frames', oneFrame, '1', String(CLIP_VERTICES), 'separate'], { encoding: 'utf8' });
  if (made.status !== 0) throw new Error(`make_sequence: ${made.stderr}`);
  runNative('frameconv', oneFrame);
  await cp(join(oneFrame, 'data00.3d'), join(clipView, 'data00.3d'));
  const loads = [];
  for (const v of [
    { label: 'B separate', dir: join(scratch, 'b-separate-page') },
    { label: 'clips', dir: clipView },
  ]) {
    const shownMs = [], doneMs = [], played = [];
    for (let k = 0; k < runs; ++k) {
      const { page: fresh, loadMs } = await openPage(browser);
      loads.push(loadMs);
      const p = await runPage(fresh, v.dir, { shown: true });
      shownMs.push(p.marks.shown - p.marks.put);
      doneMs.push(p.marks.done - p.marks.put);
      played.push(await playback(fresh, 3));
      await fresh.close();
    }
    const row = rows.find((r) => r.set === v.label);
    row.shown = median(shownMs);
    row.shownDone = median(doneMs);
    row.played = median(played);
  }

  const fixed = (value, digits = 1) => (value === undefined ? '-' : value.toFixed(digits));
  console.log(`page build-web/anim3d.html: ${pageBytes.toLocaleString('en')} bytes; ${runs} timed runs each, medians;` +
    ` load average ${fixed(loadBefore, 2)} before, ${fixed(loadavg()[0], 2)} after`);
  console.log('set            program     native ms  page ms  page/native  page job ms  to first frame ms');
  for (const r of rows) {
    console.log(
      `${r.set.padEnd(14)} ${r.program.padEnd(10)} ${fixed(r.native).padStart(10)} ${fixed(r.page).padStart(8)} ${fixed(r.page / r.native, 2).padStart(12)} ${fixed(r.job).padStart(12)} ${fixed(r.shown).padStart(18)}`,
    );
  }
  console.log(`page load (file://, to its load event): ${fixed(median(loads))} ms`);
  // Where a page job's time goes: each program's run in the worker, its
  // phases, and what is left (the page reading the files, the messages to
  // and from the worker, the .glb into the viewer).
  const total = (run) => run.ms;
  for (const r of rows) {
    console.log(`page job, ${r.set} (ms, medians): ${fixed(r.job)}`);
    for (const [k, first] of r.phases[0].entries()) {
      const runs = r.phases.map((job) => job[k]);
      const phase = (name) => fixed(median(runs.map((run) => run[name])));
      console.log(`  ${first.program.padEnd(16)} ${fixed(median(runs.map(total))).padStart(7)}: module start and files in ${phase('start')}, main ${phase('main')}`);
    }
    const rest = r.phases.map((job, k) => r.jobs[k] - job.reduce((sum, run) => sum + total(run), 0));
    console.log(`  ${'rest of the page'.padEnd(16)} ${fixed(median(rest)).padStart(7)}`);
  }
  for (const r of rows.filter((r) => r.shown !== undefined)) {
    console.log(`to first frame, ${r.set}: run's end at ${fixed(r.shownDone)} ms, first frame at ${fixed(r.shown)} ms;` +
      ` then played at ${fixed(r.played)} frames a second (30 asked)`);
  }
  for (const r of rows) {
    if (r.page / r.native > 2) notes.push(`${r.set}: the page takes ${fixed(r.page / r.native, 2)} x native (aim: at most 2)`);
  }
  for (const note of notes) console.log(note);
} catch (error) {
  fail(error && error.stack ? error.stack : String(error));
} finally {
  await browser.close();
  await rm(scratch, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
