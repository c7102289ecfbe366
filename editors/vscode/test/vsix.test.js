'use strict';
// The packaged extensions, one per platform, as `make vsix` leaves them in
// VSIX_DIR: each holds the bundle, its platform's server and no
// node_modules, and the bundle, loaded as VS Code loads it, starts the
// server it carries unless vendrak.server.path names another.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const Module = require('node:module');
const { execFileSync } = require('node:child_process');

const here = path.resolve(__dirname, '..');
const version = require(path.join(here, 'package.json')).version;
const vsixDir = path.resolve(process.env.VSIX_DIR ?? path.join(here, '..', '..', 'build-vsix'));

// The entries of a zip file (name -> bytes), from its central directory.
function unzip(file) {
  const zip = fs.readFileSync(file);
  const end = zip.lastIndexOf(Buffer.from([0x50, 0x4b, 0x05, 0x06]));
  assert.ok(end >= 0, `${file} is no zip file`);
  const count = zip.readUInt16LE(end + 10);
  let at = zip.readUInt32LE(end + 16);
  const entries = new Map();
  for (let i = 0; i < count; ++i) {
    assert.equal(zip.readUInt32LE(at), 0x02014b50, `${file}: central directory entry ${i}`);
    const method = zip.readUInt16LE(at + 10);
    const compressedSize = zip.readUInt32LE(at + 20);
    const nameLength = zip.readUInt16LE(at + 28);
    const extraLength = zip.readUInt16LE(at + 30);
    const commentLength = zip.readUInt16LE(at + 32);
    const local = zip.readUInt32LE(at + 42);
    const name = zip.toString('utf8', at + 46, at + 46 + nameLength);
    const data = local + 30 + zip.readUInt16LE(local + 26) + zip.readUInt16LE(local + 28);
    const compressed = zip.subarray(data, data + compressedSize);
    entries.set(name, method === 8 ? zlib.inflateRawSync(compressed) : compressed);
    at += 46 + nameLength + extraLength + commentLength;
  }
  return entries;
}

// Loads the bundle as VS Code would, with a stand-in for the `vscode`
// module that VS Code provides: every name in it a class, as the language
// client derives classes from some of them when it is loaded.
function loadBundle(file) {
  const resolve = Module._resolveFilename;
  Module._resolveFilename = function (request, ...rest) {
    return request === 'vscode' ? 'vscode' : resolve.call(this, request, ...rest);
  };
  const standIn = new Proxy({}, { get: (made, name) => (made[name] ??= class {}) });
  require.cache.vscode = { id: 'vscode', filename: 'vscode', loaded: true, exports: standIn };
  try {
    return require(file);
  } finally {
    Module._resolveFilename = resolve;
    delete require.cache.vscode;
  }
}

const platforms = [
  { target: 'linux-x64', platform: 'linux', server: 'vendrak-lsp', magic: '\x7fELF', other: 'vendrak-lsp.exe' },
  { target: 'win32-x64', platform: 'win32', server: 'vendrak-lsp.exe', magic: 'MZ', other: 'vendrak-lsp' },
];

for (const p of platforms) {
  test(`the ${p.target} package`, async (t) => {
    const file = path.join(vsixDir, `vendrak-script-${version}-${p.target}.vsix`);
    assert.ok(fs.existsSync(file), `${file} is missing: run make vsix`);
    const entries = unzip(file);
    const names = [...entries.keys()];

    await t.test('holds the bundle, its server and no node_modules', () => {
      assert.deepEqual(names.filter((n) => n.includes('node_modules')), []);
      for (const n of ['extension/package.json', 'extension/dist/extension.js', 'extension/language-configuration.json',
        'extension/syntaxes/vsc.tmLanguage.json', `extension/server/${p.server}`]) {
        assert.ok(entries.has(n), `${n} missing; the package holds ${names.join(', ')}`);
      }
      assert.ok(!entries.has(`extension/server/${p.other}`), `the other platform's server is in ${file}`);
      assert.deepEqual(names.filter((n) => n.endsWith('.js') && n !== 'extension/dist/extension.js'), []);
      assert.equal(entries.get(`extension/server/${p.server}`).subarray(0, p.magic.length).toString('latin1'), p.magic);
      const manifest = JSON.parse(entries.get('extension/package.json').toString('utf8'));
      assert.equal(manifest.main, './dist/extension.js');
      assert.equal(manifest.version, version);
      assert.match(entries.get('extension.vsixmanifest').toString('utf8'), new RegExp(`TargetPlatform="${p.target}"`));
    });

    await t.test('starts its own server unless vendrak.server.path is set', () => {
      const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vsix-'));
      t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
      for (const [name, bytes] of entries) {
        if (!name.startsWith('extension/') || name.endsWith('/')) continue;
        const to = path.join(dir, name);
        fs.mkdirSync(path.dirname(to), { recursive: true });
        fs.writeFileSync(to, bytes);
      }
      const root = path.join(dir, 'extension');
      const { resolveServer } = loadBundle(path.join(root, 'dist', 'extension.js'));
      // Where VS Code unpacks the extension on the target system.
      const installed = p.platform === 'win32' ? 'C:\\Users\\u\\.vscode\\extensions\\vendrak' : root;
      const exists = (f) => (p.platform === 'win32'
        ? fs.existsSync(path.join(root, ...f.slice(installed.length + 1).split('\\')))
        : fs.existsSync(f));
      const rows = [
        { configured: '', expected: p.platform === 'win32' ? `${installed}\\server\\vendrak-lsp.exe`
          : path.join(root, 'server', 'vendrak-lsp') },
        { configured: '  ', expected: p.platform === 'win32' ? `${installed}\\server\\vendrak-lsp.exe`
          : path.join(root, 'server', 'vendrak-lsp') },
        { configured: 'vendrak-lsp', expected: 'vendrak-lsp' },
        { configured: '${workspaceFolder}/build/vendrak-lsp', expected: '/work/job/build/vendrak-lsp' },
      ];
      for (const row of rows) {
        assert.equal(resolveServer({ configured: row.configured, folder: '/work/job', extensionPath: installed,
          platform: p.platform, exists }), row.expected, JSON.stringify(row.configured));
      }
      // Without a bundled server (the extension run from its sources) the
      // one on the PATH.
      assert.equal(resolveServer({ configured: '', folder: '', extensionPath: installed, platform: p.platform,
        exists: () => false }), 'vendrak-lsp');
      if (p.platform === process.platform) {
        const server = path.join(root, 'server', p.server);
        fs.chmodSync(server, 0o755);
        assert.match(execFileSync(server, ['--version'], { encoding: 'utf8' }), new RegExp(`^vendrak-lsp ${version}`));
      }
    });
  });
}
