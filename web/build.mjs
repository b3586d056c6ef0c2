// Writes the page: the worker (the three programs' modules and their
// WebAssembly, then worker.js with fflate) and the page's script (three.js,
// the viewer) bundled by
// esbuild and put into page.html, so that the page is one file that needs
// nothing else.
//   node build.mjs PROGRAMS_DIR OUT_HTML
import { build } from 'esbuild';
import { readFile, writeFile, rename } from 'node:fs/promises';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const [programsDir, out] = process.argv.slice(2);
if (!programsDir || !out) {
  console.error('usage: node build.mjs PROGRAMS_DIR OUT_HTML');
  process.exit(2);
}

const bundle = async (entry, define = {}) => {
  const result = await build({
    entryPoints: [join(here, entry)],
    bundle: true,
    format: 'iife',
    minify: true,
    write: false,
    target: ['chrome100', 'firefox100', 'safari15'],
    define,
    legalComments: 'none',
  });
  return result.outputFiles[0].text;
};

// The worker: each program's script, then its WebAssembly as base64 (compiled
// once, in the worker), then worker.js.
const programs = ['frameconv', 'clipmerge', 'inspect3d'];
const modules = await Promise.all(programs.map((name) => readFile(join(programsDir, `${name}.js`), 'utf8')));
const binaries = await Promise.all(programs.map((name) => readFile(join(programsDir, `${name}.wasm`))));
const wasm = Object.fromEntries(programs.map((name, i) => [name, binaries[i].toString('base64')]));
const worker = [...modules.map((text) => `${text}\n`), `self.PROGRAM_WASM = ${JSON.stringify(wasm)};\n`, await bundle('worker.js')].join('');
const script = await bundle('page.js', { WORKER_SOURCE: JSON.stringify(worker) });
// Inside <script>, "</script" would end the element: no text of it may hold one.
const inline = script.replace(/<\/(script)/gi, '<\\/$1');
const template = await readFile(join(here, 'page.html'), 'utf8');
const page = template.replace('/*PAGE_SCRIPT*/', () => inline);
await writeFile(`${out}.tmp`, page);
await rename(`${out}.tmp`, out);
console.log(`wrote ${out}: ${page.length.toLocaleString('en')} bytes`);
