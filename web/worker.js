// The page's worker: runs frameconv, clipmerge and inspect3d, compiled to
// WebAssembly, each run in a fresh instance whose in-memory folder holds the
// files the page handed in. The programs are the modules frameconv_module,
// clipmerge_module and inspect3d_module, and their WebAssembly in
// PROGRAM_WASM (base64), that the page's build puts before this script.
import { zipSync } from 'fflate';
import { CLIPS_NAME, frameName, isFrameName, jobOf } from './jobs.js';

// Progress is posted at most this often while frameconv reads frames.
const PROGRESS_EVERY_MS = 100;

// Each program's WebAssembly, compiled once: every run is a fresh instance of
// it, and the browser's optimised code serves them all.
const compiled = new Map();
function compiledProgram(program) {
  if (!compiled.has(program)) {
    const text = atob(self.PROGRAM_WASM[program]);
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
    compiled.set(program, WebAssembly.compile(bytes));
  }
  return compiled.get(program);
}

// What an error says.
const said = (error) => String(error && error.message ? error.message : error);

// The JSON object a run of inspect3d printed, or null where it printed none.
function printedJson(result) {
  try {
    return JSON.parse(result.stdout.join('\n'));
  } catch {
    return null;
  }
}

// One run of `program` with `args` in a folder holding `files` (a Map of
// name to bytes): its closing message (frameconv, clipmerge), its standard
// output and error lines (inspect3d), its exit status, the names it opened,
// and the bytes of each name of `outputs` that it left there.
async function run(program, args, files, outputs, onOpen) {
  // The label names inspect3d's command too: "inspect3d check".
  const label = args.length ? `${program} ${args[0]}` : program;
  const result = { program, label, status: 0, text: null, caption: null, stdout: [], stderr: [], opened: [], ms: 0 };
  const bytes = new Map();
  const start = performance.now();
  self.postMessage({ type: 'progress', job, program: label });
  const wasm = await compiledProgram(program);
  // An instance that cannot be made (no memory for it, say) fails the job
  // rather than leaving it waiting.
  const module = await new Promise((resolve, reject) => {
    self[`${program}_module`]({
      instantiateWasm: (imports, receive) => {
        WebAssembly.instantiate(wasm, imports).then((instance) => receive(instance, wasm), reject);
        return {};
      },
      onResult: (text, caption) => Object.assign(result, { text, caption }),
      print: (line) => result.stdout.push(line),
      printErr: (line) => result.stderr.push(line),
    }).then(resolve, reject);
  });
  const FS = module.FS;
  FS.mkdir('/run');
  FS.chdir('/run');
  // The folder takes the bytes as they are, uncopied: no run writes to them.
  for (const [name, data] of files) FS.writeFile(name, data, { canOwn: true });
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
  const main = performance.now();
  try {
    result.status = module.callMain(args);
  } catch (error) {
    // A trap or an abort: the program stopped without its closing message.
    result.status = -1;
    result.stderr.push(`${program} stopped: ${said(error)}`);
  }
  result.mainMs = performance.now() - main;
  for (const name of outputs) {
    if (FS.analyzePath(name).exists) bytes.set(name, FS.readFile(name));
  }
  // The whole run (the module's start, the files put in and taken out), and
  // its start alone.
  result.ms = performance.now() - start;
  result.startMs = main - start;
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
    self.postMessage({ type: 'progress', job, read: Number(name.slice(5, 8)) + 1, found });
  };
}

// The .glb of the conversion in `files` for the viewer, by inspect3d gltf:
// the whole file, or its frames `range` ("FIRST-LAST").
async function glbOf(files, range) {
  const args = ['gltf', '--json', '--out', 'view.glb', ...(range ? ['--frames', range] : [])];
  const { result, bytes } = await run('inspect3d', args, files, ['view.glb']);
  // Without a summary nothing was written, and the message says why.
  return { glb: bytes.get('view.glb') || null, summary: printedJson(result), message: result.stderr.join('\n'), status: result.status, run: result };
}

// The conversion last handed to the viewer, kept for the frames it asks for
// where the whole is more than one .glb holds.
let shown = new Map();

// The job the page asked for last: every reply names it, so that the page
// leaves out a reply to a job it has since replaced.
let job = 0;

async function convert(files) {
  const { kind, folder } = jobOf([...files.keys()]);
  const pick = (names) => new Map(names.filter((name) => files.has(name)).map((name) => [name, files.get(name)]));
  const reply = { type: 'done', job, kind, runs: [], downloads: [], check: null, view: null };
  const used = new Set();
  let conversion = null;
  const take = (run) => {
    reply.runs.push(run.result);
    run.result.opened.forEach((name) => used.add(name));
    return run;
  };

  if (kind === 'frames') {
    const frames = pick(folder);
    const { bytes } = take(await run('frameconv', [], frames, ['aniv00.3d', 'data00.3d'], frameProgress(frames)));
    if (bytes.size === 2) {
      reply.downloads.push(...[...bytes].map(([name, data]) => ({ name, bytes: data })));
      const checked = take(await run('inspect3d', ['check', '--json'], new Map([...frames, ...bytes]), []));
      reply.check = printedJson(checked.result);
      conversion = new Map([...bytes, ...pick([CLIPS_NAME])]);
    }
  } else if (kind === 'clips') {
    const { bytes } = take(await run('clipmerge', [], pick(folder), ['aniv00.3d']));
    if (bytes.has('aniv00.3d')) {
      const set = new Map([...bytes, ...pick(['data00.3d', CLIPS_NAME])]);
      // Stored, not compressed: packed words barely shrink, and storing a
      // 10 MB merge takes a tenth of the time.
      const zip = zipSync(Object.fromEntries(set), { level: 0 });
      reply.downloads.push({ name: 'clip-set.zip', bytes: zip, holds: [...set.keys()] });
      if (set.has('data00.3d')) conversion = set;
    }
  } else if (kind === 'view') {
    conversion = pick(folder);
  } else if (kind === 'other') {
    take(await run('inspect3d', ['info', ...folder], pick(folder), []));
  }

  if (conversion) {
    shown = conversion;
    reply.view = await glbOf(conversion, null);
    for (const name of conversion.keys()) used.add(name);
  }
  reply.times = [...reply.runs, ...(reply.view ? [reply.view.run] : [])].map(timeOf);
  reply.unused = [...files.keys()].filter((name) => !used.has(name)).sort();
  return reply;
}

// How long a run took, as the page lists it.
const timeOf = (run) => ({
  program: run.label,
  ms: run.ms,
  startMs: run.startMs,
  mainMs: run.mainMs,
});

async function answer(request) {
  if (request.type === 'convert') job = request.job;
  try {
    if (request.type === 'frames') {
      const view = await glbOf(shown, `${request.first}-${request.last}`);
      self.postMessage({ type: 'frames', job: request.job, first: request.first, ...view }, view.glb ? [view.glb.buffer] : []);
    } else {
      self.postMessage(await convert(request.files));
    }
  } catch (error) {
    self.postMessage({ type: 'failed', job: request.job, message: said(error) });
  }
}

// One request at a time, in the order asked.
let answered = Promise.resolve();
self.onmessage = (event) => {
  answered = answered.then(() => answer(event.data));
};
