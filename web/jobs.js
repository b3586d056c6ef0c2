// Which program a set of dropped files is for, from their names alone: the
// files the page puts in the program's folder, and those it leaves out.

// anima000.obj, anima001.obj, ...: frameconv's frames.
export const isFrameName = (name) => /^anima[0-9]{3}\.obj$/.test(name);
export const frameName = (number) => `anima${String(number).padStart(3, '0')}.obj`;

// a1.3d to a67.3d: clipmerge's clips.
export const isClipName = (name) => /^a([1-9]|[1-5][0-9]|6[0-7])\.3d$/.test(name);

// The files of a conversion the viewer plays.
export const CONVERSION_NAMES = ['aniv00.3d', 'data00.3d'];
export const CLIPS_NAME = 'clips.json';

// The job for `names`, the names of the files of one folder:
//   frames  frameconv on the frame files (and inspect3d check on them and the outputs);
//   clips   clipmerge on the clip files;
//   view    the conversion aniv00.3d with data00.3d, played;
//   other   inspect3d info on the files, which says what each is;
//   none    nothing was given.
// `folder` names the files the job hands its first program; clips.json and
// data00.3d go with a conversion to the viewer.
export function jobOf(names) {
  const frames = names.filter(isFrameName);
  if (frames.includes(frameName(0))) return { kind: 'frames', folder: frames.sort() };
  const clips = names.filter(isClipName);
  if (clips.length > 0) return { kind: 'clips', folder: clips };
  if (CONVERSION_NAMES.every((name) => names.includes(name))) {
    return { kind: 'view', folder: names.filter((name) => CONVERSION_NAMES.includes(name) || name === CLIPS_NAME) };
  }
  if (names.length > 0) return { kind: 'other', folder: [...names].sort() };
  return { kind: 'none', folder: [] };
}

// The files of a drop or a choice, by the path within what was given
// ("box/anima000.obj"): those of the shallowest folder that holds any, by
// name, and the paths of all others, which the page does not use.
export function folderOf(paths) {
  const depth = (path) => path.split('/').length;
  const shallowest = Math.min(...paths.map(depth));
  const taken = new Map();
  const left = [];
  for (const path of paths) {
    const name = path.slice(path.lastIndexOf('/') + 1);
    if (depth(path) === shallowest && !taken.has(name)) {
      taken.set(name, path);
    } else {
      left.push(path);
    }
  }
  return { taken, left };
}
