// Bundles the page into one folder that any static host can serve, or that
// opens as a file:
//
//   node web/build.mjs <emscripten build dir> <output dir>
//
// The output holds index.html, vendrak.js (the page, its worker, the
// WebAssembly module and the examples in one script), style.css and
// LICENSE. The worker is bundled first and enters the page's script as
// text, and the module's bytes enter the worker's script, because a page
// opened from a file may neither fetch nor start a worker from a path.
import * as esbuild from 'esbuild';
import { promises as fs } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.dirname(here);
const [wasmDir, outDir] = process.argv.slice(2).map((p) => path.resolve(p));
if (!wasmDir || !outDir) {
    console.error('usage: node web/build.mjs <emscripten build dir> <output dir>');
    process.exit(2);
}
const moduleJs = path.join(wasmDir, 'web', 'vendrak.mjs');
const moduleWasm = path.join(wasmDir, 'web', 'vendrak.wasm');

// The bundled examples: each script with the VBF files of examples/.
async function examplesModule() {
    const dir = path.join(root, 'examples');
    const names = (await fs.readdir(dir)).sort();
    const files = {};
    for (const n of names.filter((n) => /\.vbf$/i.test(n)))
        files[n] = (await fs.readFile(path.join(dir, n))).toString('base64');
    const scripts = [];
    for (const n of names.filter((n) => /\.vsc$/i.test(n))) {
        const script = await fs.readFile(path.join(dir, n), 'utf8');
        // Only the files the script names travel with it.
        const used = Object.keys(files).filter((f) => script.includes(f));
        scripts.push({ name: n, script, used });
    }
    // The main example first, as `make run` has it.
    scripts.sort((a, b) => (b.name === 'flash_job.vsc') - (a.name === 'flash_job.vsc'));
    return `const decode = (s) => Uint8Array.from(atob(s), (c) => c.charCodeAt(0));
const files = ${JSON.stringify(files)};
export const examples = ${JSON.stringify(scripts)}.map((e) => ({
    name: e.name, script: e.script, files: Object.fromEntries(e.used.map((f) => [f, decode(files[f])])),
}));
`;
}

const virtual = (entries) => ({
    name: 'vendrak-virtual',
    setup(build) {
        const filter = new RegExp(`^(${Object.keys(entries).join('|')})$`);
        build.onResolve({ filter }, (args) => ({ path: args.path, namespace: 'vendrak' }));
        build.onLoad({ filter: /.*/, namespace: 'vendrak' }, (args) => entries[args.path]());
    },
});

const common = { bundle: true, minify: true, target: 'es2020', logLevel: 'warning', legalComments: 'none' };

const worker = await esbuild.build({
    ...common,
    entryPoints: [path.join(here, 'src', 'worker.js')],
    format: 'iife',
    write: false,
    // The module names its .wasm beside itself by import.meta.url, only to
    // fetch it; it is given the bytes instead, so any well-formed URL does.
    define: { 'import.meta.url': '"file:///vendrak.js"' },
    plugins: [virtual({
        'vendrak-module': async () => ({ contents: await fs.readFile(moduleJs, 'utf8'), loader: 'js', resolveDir: here }),
        'vendrak-wasm': async () => ({ contents: await fs.readFile(moduleWasm), loader: 'binary' }),
    })],
});

await fs.mkdir(outDir, { recursive: true });
await esbuild.build({
    ...common,
    entryPoints: [path.join(here, 'src', 'main.js')],
    format: 'iife',
    outfile: path.join(outDir, 'vendrak.js'),
    plugins: [virtual({
        'vendrak-worker': async () => ({ contents: worker.outputFiles[0].text, loader: 'text' }),
        'vendrak-examples': async () => ({ contents: await examplesModule(), loader: 'js' }),
    })],
});
for (const f of ['index.html', 'style.css']) await fs.copyFile(path.join(here, 'src', f), path.join(outDir, f));
await fs.copyFile(path.join(root, 'LICENSE'), path.join(outDir, 'LICENSE'));
console.log(`web: the page is in ${path.relative(process.cwd(), outDir) || '.'}`);
