// The page: takes the files dropped or chosen, hands them to the worker that
// runs the programs, shows the closing message, offers the outputs and plays
// the conversion.
import { CLIPS_NAME, folderOf } from './jobs.js';
import { createViewer } from './viewer.js';

/* global WORKER_SOURCE */
const worker = new Worker(URL.createObjectURL(new Blob([WORKER_SOURCE], { type: 'text/javascript' })));
const $ = (id) => document.getElementById(id);
// The viewer, made when there is something to show. Without WebGL the
// programs still run, and the page says why nothing is drawn.
let viewer = null;
const viewerOf = () => {
  viewer = viewer || createViewer($('view'));
  return viewer;
};

// A run that lasts longer than this shows its progress.
const PROGRESS_AFTER_MS = 1000;
// The most frames one .glb holds (inspect3d gltf's limit).
const GLB_FRAME_LIMIT = 1000;
// One step of each axis, in model units: the largest error is shown against it.
const STEPS = { x: 0.125, y: 0.125, z: 0.25 };

const state = {
  job: 0, // the files handed in last: replies to earlier ones are left out
  busy: false,
  progressTimer: 0,
  frames: [], // the frame numbers of the file the shown .glb holds
  clips: [], // { name, first, last } of the file's frames
  loop: null, // the frames played: [from, to] indices of state.frames
  at: 0,
  playing: true,
  lastTick: 0,
  errors: new Map(), // frame number -> { error, wrapped }
  clipFiles: null, // clips.json's clips where the whole file was too long for one .glb
  downloads: [],
};

// Reads what was dropped: each file with its path within the drop.
async function droppedFiles(items) {
  const files = [];
  const walk = async (entry, path) => {
    if (entry.isFile) {
      files.push(await new Promise((resolve, reject) => entry.file((file) => resolve({ file, path: path + file.name }), reject)));
    } else if (entry.isDirectory) {
      const reader = entry.createReader();
      for (;;) {
        const entries = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (entries.length === 0) break;
        for (const child of entries) await walk(child, `${path}${entry.name}/`);
      }
    }
  };
  // The entries are taken at once: the list is gone after the first wait.
  const entries = [...items].map((item) => [item.webkitGetAsEntry ? item.webkitGetAsEntry() : null, item.getAsFile()]);
  for (const [entry, file] of entries) {
    if (entry) await walk(entry, '');
    else if (file) files.push({ file, path: file.name });
  }
  return files;
}

async function handFiles(list) {
  if (list.length === 0) return;
  state.job += 1;
  const job = state.job;
  state.busy = true;
  delete document.body.dataset.viewer;
  delete document.body.dataset.state;
  document.body.classList.add('busy');
  clearTimeout(state.progressTimer);
  state.progressTimer = setTimeout(() => $('progress-row').removeAttribute('hidden'), PROGRESS_AFTER_MS);
  $('progress').removeAttribute('value');
  $('progress-text').textContent = 'reading the files';
  $('downloads').replaceChildren();
  $('unused').textContent = '';
  $('times').replaceChildren();
  $('viewer').setAttribute('hidden', '');
  if (viewer) viewer.clear();
  state.loop = null;
  const { taken, left } = folderOf(list.map((entry) => entry.path));
  const byPath = new Map(list.map((entry) => [entry.path, entry.file]));
  const files = new Map();
  for (const [name, path] of taken) files.set(name, new Uint8Array(await byPath.get(path).arrayBuffer()));
  if (job !== state.job) return; // other files were given meanwhile
  state.inSubfolders = left;
  state.given = files;
  setMessage('Working', `${files.size} ${files.size === 1 ? 'file' : 'files'} handed to the programs`);
  worker.postMessage({ type: 'convert', job, files }, [...files.values()].map((bytes) => bytes.buffer));
}

function setMessage(caption, text) {
  $('caption').textContent = caption;
  $('text').textContent = text;
  $('message').removeAttribute('hidden');
}

function endProgress() {
  clearTimeout(state.progressTimer);
  $('progress-row').setAttribute('hidden', '');
  state.busy = false;
  document.body.classList.remove('busy');
}

// The closing message of the job: frameconv's or clipmerge's own, else what
// inspect3d said.
function showMessage(reply) {
  const program = reply.runs.find((run) => run.program !== 'inspect3d');
  if (program && program.caption !== null) {
    setMessage(program.caption, program.text);
  } else if (program) {
    setMessage(`${program.program} stopped`, program.stderr.join('\n'));
  } else if (reply.runs.length > 0) {
    const run = reply.runs[0];
    setMessage(run.label, [...run.stdout, ...run.stderr].join('\n'));
  } else if (reply.view && !reply.view.glb) {
    setMessage('inspect3d gltf', reply.view.message);
  } else if (reply.view) {
    const s = reply.view.summary;
    setMessage('aniv00.3d with data00.3d', `${s.frames} frames of ${s.vertices} vertices, ${s.triangles} triangles`);
  } else {
    setMessage('Nothing to do', 'Drop frames anima000.obj, ..., clips a1.3d, ..., or aniv00.3d with data00.3d.');
  }
}

function showDownloads(reply) {
  for (const url of state.downloads) URL.revokeObjectURL(url);
  state.downloads = [];
  const list = $('downloads');
  for (const { name, bytes, holds } of reply.downloads) {
    const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    state.downloads.push(url);
    const link = Object.assign(document.createElement('a'), { href: url, download: name, textContent: name });
    const item = document.createElement('li');
    item.append(link, ` ${bytes.length.toLocaleString('en')} bytes${holds ? `: ${holds.join(', ')}` : ''}`);
    list.append(item);
  }
}

// How long each program ran, in the worker.
function showTimes(reply) {
  $('times').replaceChildren(
    ...reply.times.map((time) => {
      const item = Object.assign(document.createElement('span'), { textContent: `${time.program} ${(time.ms / 1000).toFixed(2)} s` });
      Object.assign(item.dataset, { program: time.program, ms: String(time.ms), startMs: String(time.startMs), mainMs: String(time.mainMs) });
      return item;
    }),
  );
}

function showUnused(reply) {
  const unused = [...reply.unused, ...state.inSubfolders];
  $('unused').textContent = unused.length ? `Not used: ${unused.join(', ')}` : '';
}

// The vertices that wrapped in each frame, from inspect3d check's findings.
function wrappedOf(check) {
  const wrapped = new Map();
  const problem = check && check.problems.find((p) => p.problem === 'wrapped_coordinates');
  for (const place of problem ? problem.places : []) {
    if (!wrapped.has(place.frame)) wrapped.set(place.frame, new Set());
    wrapped.get(place.frame).add(place.vertex);
  }
  return wrapped;
}

async function showView(view, check, given) {
  $('view-note').textContent = '';
  state.errors = new Map((check ? check.largest_error.frames : []).map((f) => [f.frame, f]));
  state.wrapped = wrappedOf(check);
  state.clipFiles = null;
  if (view.glb) {
    const animations = (view.summary && view.summary.animations) || [];
    state.clips = animations.map((a) => ({ name: a.name, first: a.first_frame, last: a.last_frame }));
    await loadGlb(view.glb, animations.length ? animations[0].first_frame : 0);
    $('view-note').textContent = view.message; // what inspect3d gltf said of clips.json, say
    fillClips(view.summary && view.summary.animations && view.summary.animations.length > 1 ? state.clips : []);
    return;
  }
  // More frames than one .glb holds: a clip at a time, or the first frames.
  let clips = [];
  try {
    clips = JSON.parse(new TextDecoder().decode(given.get(CLIPS_NAME))).clips.map((c) => ({
      name: c.name,
      first: c.first_frame,
      last: c.first_frame + c.frame_count - 1,
    }));
  } catch {
    clips = [];
  }
  const shows = clips.length ? 'a clip at a time, at most 1,000 frames of it' : 'frames 0 to 999';
  $('view-note').textContent = view.message === $('text').textContent ? '' : `${view.message}. The viewer shows ${shows}.`;
  state.clipFiles = clips;
  fillClips(clips);
  requestFrames(clips.length ? clips[0] : { name: 'frames', first: 0, last: GLB_FRAME_LIMIT - 1 });
}

function requestFrames(clip) {
  const last = Math.min(clip.last, clip.first + GLB_FRAME_LIMIT - 1);
  worker.postMessage({ type: 'frames', job: state.job, first: clip.first, last, name: clip.name });
}

async function loadGlb(glb, first) {
  $('viewer').removeAttribute('hidden');
  state.frames = await viewerOf().load(glb, first, state.wrapped);
  setLoop(null);
  drawErrors();
  document.body.dataset.viewer = 'shown'; // its first frame is drawn
}

function fillClips(clips) {
  const select = $('clip');
  const options = [new Option('all frames', '')];
  clips.forEach((clip, i) => options.push(new Option(`${clip.name}: frames ${clip.first} to ${clip.last}`, String(i))));
  select.replaceChildren(...options);
  if (state.clipFiles) select.options[0].disabled = true;
  select.value = state.clipFiles && clips.length ? '0' : '';
  $('clip-row').hidden = clips.length === 0;
}

// Plays the frames of the file from `clip.first` to `clip.last`, or all.
function setLoop(clip) {
  if (!clip) {
    state.loop = [0, state.frames.length - 1];
  } else {
    const from = state.frames.indexOf(clip.first), to = state.frames.indexOf(clip.last);
    state.loop = [Math.max(from, 0), to < 0 ? state.frames.length - 1 : to];
  }
  const slider = $('frame');
  slider.min = String(state.loop[0]);
  slider.max = String(state.loop[1]);
  show(state.loop[0]);
}

function show(k) {
  state.at = k;
  const red = viewer.frame(k);
  const number = state.frames[k];
  $('frame').value = String(k);
  $('frame-number').textContent = `frame ${number}`;
  const found = state.errors.get(number);
  $('frame-error').textContent = found
    ? `largest error in model units (the bars: each frame's, against one step) x ${found.error.x.toFixed(4)}, y ${found.error.y.toFixed(4)}, z ${found.error.z.toFixed(4)}` +
      (found.wrapped ? `; ${found.wrapped} wrapped (${red} triangles red)` : '')
    : '';
  drawErrors();
}

// The largest error of each frame along the slider, against one step; a frame
// with wrapped coordinates red.
function drawErrors() {
  const canvas = $('errors');
  canvas.hidden = state.errors.size === 0;
  $('findings').hidden = canvas.hidden;
  if (canvas.hidden || !state.loop) return;
  const width = (canvas.width = canvas.clientWidth || 600), height = canvas.height;
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, width, height);
  const [from, to] = state.loop;
  const count = to - from + 1;
  for (let k = from; k <= to; ++k) {
    const found = state.errors.get(state.frames[k]);
    if (!found) continue;
    const share = Math.min(1, Math.max(found.error.x / STEPS.x, found.error.y / STEPS.y, found.error.z / STEPS.z));
    const x0 = ((k - from) / count) * width, w = Math.max(1, width / count - 1);
    g.fillStyle = found.wrapped ? '#ff2a2a' : '#7fa7d9';
    const h = found.wrapped ? height : Math.max(1, share * height);
    g.fillRect(x0, height - h, w, h);
  }
  g.fillStyle = '#ffffff';
  g.fillRect(((state.at - from + 0.5) / count) * width - 1, 0, 2, height);
}

function tick(now) {
  requestAnimationFrame(tick);
  if (!state.playing || !state.loop || state.busy) return;
  const fps = Math.max(0.1, Number($('fps').value) || 30);
  // A little early rather than a display refresh late: 30 frames a second on
  // a 60 Hz display is every other refresh, whatever the jitter.
  if (now - state.lastTick < 1000 / fps - 4) return;
  state.lastTick = now;
  const [from, to] = state.loop;
  show(state.at >= to ? from : state.at + 1);
}
requestAnimationFrame(tick);

worker.onmessage = async (event) => {
  const reply = event.data;
  if (reply.job !== state.job) return;
  if (reply.type === 'progress') {
    if (reply.program) {
      $('progress').removeAttribute('value'); // running, no count to show
      $('progress-text').textContent = reply.program;
    } else {
      $('progress').max = reply.found;
      $('progress').value = reply.read;
      $('progress-text').textContent = `frameconv: frames read ${reply.read} of ${reply.found}`;
    }
    return;
  }
  if (reply.type === 'frames') {
    try {
      if (reply.glb) await loadGlb(reply.glb, reply.first);
      // Said already where the message is inspect3d's own.
      else if (reply.message !== $('text').textContent) $('view-note').textContent = reply.message;
    } catch (error) {
      $('view-note').textContent = `The conversion cannot be shown: ${error.message}`;
    }
    return;
  }
  endProgress();
  if (reply.type === 'failed') {
    setMessage('The page could not run the programs', reply.message);
    return;
  }
  showMessage(reply);
  showDownloads(reply);
  showUnused(reply);
  showTimes(reply);
  if (reply.view) {
    try {
      await showView(reply.view, reply.check, state.given);
    } catch (error) {
      $('view-note').textContent = `The conversion cannot be shown: ${error.message}`;
    }
  } else {
    $('view-note').textContent = '';
  }
  document.body.dataset.state = 'done';
};

$('play').addEventListener('click', () => {
  state.playing = !state.playing;
  $('play').textContent = state.playing ? 'Pause' : 'Play';
});
$('frame').addEventListener('input', () => {
  state.playing = false;
  $('play').textContent = 'Play';
  show(Number($('frame').value));
});
$('clip').addEventListener('change', () => {
  const value = $('clip').value;
  if (state.clipFiles) {
    requestFrames(state.clipFiles[Number(value)]);
  } else {
    setLoop(value === '' ? null : state.clips[Number(value)]);
  }
});
for (const id of ['choose-files', 'choose-folder']) {
  $(id).addEventListener('change', (event) => {
    const chosen = [...event.target.files].map((file) => ({ file, path: file.webkitRelativePath || file.name }));
    event.target.value = '';
    handFiles(chosen);
  });
}
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
document.addEventListener('drop', async (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  handFiles(await droppedFiles(event.dataTransfer.items));
});
