// The page's worker: runs frameconv, clipmerge and inspect3d, compiled to
// WebAssembly, each run in a fresh instance whose in-memory folder holds the
// files the page handed in. The programs are the modules frameconv_module,
// clipmerge_module and inspect3d_module that the page's build puts before
// this script.
import { zipSync } from 'fflate';
import { CLIPS_NAME, frameName, isFrameName, jobOf } from './jobs.js';

// Progress is posted at most this often while frameconv reads frames.
const PROGRESS_EVERY_MS = 100;

// One run of `program` with `args` in a folder holding `files` (a Map of
// name to bytes): its closing message (frameconv, clipmerge), its standard
// output and error lines (inspect3d), its exit status, the names it opened,
// and the bytes of each name of `outputs` that it left there.
async function run(program, args, files, outputs, onOpen) {
  const result = { program, args, status: 0, text: null, caption: null, stdout: [], stderr: [], opened: [], ms: 0 };
  const bytes = new Map();
  const start = performance.now();
  const module = await self[`${program}_module`]({
    onResult: (text, caption) => Object.assign(result, { text, caption }),
    print: (line) => result.stdout.push(line),
    printErr: (line) => result.stderr.push(line),
  });
  const FS = module.FS;
  FS.mkdir('/run');
  FS.chdir('/run');
  for (const [name, data] of files) FS.writeFile(name, data);
  // The files the program opens: those it used, and frameconv's progress.
  const open = FS.open;
  FS.open = (path, ...rest) => {
    const stream = open(path, ...rest);
    const name = String(path).slice(String(path).lastIndexOf('/') + 1);
    if (files.has(name) && !result.opened.includes(name)) {
      result.opened.push(name);
      if (onOpen) onOpen(name);
    }
    return stream;
  };
  try {
    result.status = module.callMain(args);
  } catch (error) {
    // A trap or an abort: the program stopped without its closing message.
    result.status = -1;
    result.stderr.push(`${program} stopped: ${error && error.message ? error.message : error}`);
  }
  for (const name of outputs) {
    if (FS.analyzePath(name).exists) bytes.set(name, FS.readFile(name));
  }
  // The whole run: the module's start, the files put in and taken out.
  result.ms = performance.now() - start;
  return { result, bytes };
}

// frameconv's progress: frames read out of frames found, counted from
// anima000.obj on as frameconv opens them.
function frameProgress(files) {
  let found = 0;
  while (files.has(frameName(found))) ++found;
  let last = performance.now();
  return (name) => {
    if (!isFrameName(name)) return;
    const now = performance.now();
    if (now - last < PROGRESS_EVERY_MS) return;
    last = now;
    self.postMessage({ type: 'progress', read: Number(name.slice(5, 8)) + 1, found });
  };
}

// The .glb of the conversion in `files` for the viewer, by inspect3d gltf:
// the whole file, or its frames `range` ("FIRST-LAST").
async function glbOf(files, range) {
  const args = ['gltf', '--json', '--out', 'view.glb', ...(range ? ['--frames', range] : [])];
  const { result, bytes } = await run('inspect3d', args, files, ['view.glb']);
  let summary = null;
  try {
    summary = JSON.parse(result.stdout.join('\n'));
  } catch {
    // nothing written: the message says why
  }
  return { glb: bytes.get('view.glb') || null, summary, message: result.stderr.join('\n'), status: result.status };
}

// The conversion last handed to the viewer, kept for the frames it asks for
// where the whole is more than one .glb holds.
let shown = new Map();

async function convert(files) {
  const job = jobOf([...files.keys()]);
  const pick = (names) => new Map(names.filter((name) => files.has(name)).map((name) => [name, files.get(name)]));
  const reply = { type: 'done', kind: job.kind, runs: [], downloads: [], check: null, view: null, unused: [] };
  const used = new Set();
  let conversion = null;
  const take = (run) => {
    reply.runs.push(run.result);
    run.result.opened.forEach((name) => used.add(name));
    return run;
  };

  if (job.kind === 'frames') {
    const frames = pick(job.folder);
    const { bytes } = take(await run('frameconv', [], frames, ['aniv00.3d', 'data00.3d'], frameProgress(frames)));
    if (bytes.size === 2) {
      reply.downloads.push(...[...bytes].map(([name, data]) => ({ name, bytes: data })));
      const checked = take(await run('inspect3d', ['check', '--json'], new Map([...frames, ...bytes]), []));
      try {
        reply.check = JSON.parse(checked.result.stdout.join('\n'));
      } catch {
        // no findings to draw
      }
      conversion = new Map([...bytes, ...pick([CLIPS_NAME])]);
    }
  } else if (job.kind === 'clips') {
    const { bytes } = take(await run('clipmerge', [], pick(job.folder), ['aniv00.3d']));
    if (bytes.has('aniv00.3d')) {
      const set = new Map([...bytes, ...pick(['data00.3d', CLIPS_NAME])]);
      const zip = zipSync(Object.fromEntries(set), { level: 6 });
      reply.downloads.push({ name: 'clip-set.zip', bytes: zip, holds: [...set.keys()] });
      if (set.has('data00.3d')) conversion = set;
    }
  } else if (job.kind === 'view') {
    conversion = pick(job.folder);
  } else if (job.kind === 'other') {
    take(await run('inspect3d', ['info', ...job.folder], pick(job.folder), []));
  }

  if (conversion) {
    shown = conversion;
    reply.view = await glbOf(conversion, null);
    for (const name of conversion.keys()) used.add(name);
  }
  reply.unused = [...files.keys()].filter((name) => !used.has(name)).sort();
  return reply;
}

self.onmessage = async (event) => {
  const request = event.data;
  try {
    if (request.type === 'frames') {
      const view = await glbOf(shown, `${request.first}-${request.last}`);
      self.postMessage({ type: 'frames', first: request.first, ...view }, view.glb ? [view.glb.buffer] : []);
    } else {
      self.postMessage(await convert(request.files));
    }
  } catch (error) {
    self.postMessage({ type: 'failed', message: String(error && error.message ? error.message : error) });
  }
};
