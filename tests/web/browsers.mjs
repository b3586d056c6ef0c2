// The browsers that drive the page, for its test and its benchmark.
import { existsSync } from 'node:fs';
import { join } from 'node:path';

// A browser of Debian's: the one the variable names, or the program on PATH.
export const browserProgram = (variable, name) =>
  process.env[variable] || (process.env.PATH || '').split(':').map((dir) => join(dir, name)).find((path) => existsSync(path));

// puppeteer's launch options for Debian's chromium, headless, WebGL drawn by
// SwiftShader (no graphics processor needed); no executable where none is.
export const chromiumLaunch = () => ({
  executablePath: browserProgram('CHROMIUM', 'chromium'),
  args: ['--no-sandbox', '--enable-unsafe-swiftshader', '--use-angle=swiftshader'],
});
