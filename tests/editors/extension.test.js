'use strict';
// The VS Code extension's manifest: what it names exists and agrees, and its
// problem matcher reads vendrak-check's lines as VS Code will.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const root = path.resolve(__dirname, '..', '..');
const extension = path.join(root, 'editors/vscode');
const manifest = JSON.parse(fs.readFileSync(path.join(extension, 'package.json'), 'utf8'));

test('the manifest names files that exist, one language and the project version', () => {
  const { languages, grammars } = manifest.contributes;
  // The manifest's main is the bundle `npm run bundle` makes of extension.js.
  assert.equal(manifest.main, './dist/extension.js');
  // The grammar is made by the build (see grammar.test.js) and packaged
  // beside the manifest, as the manifest names it.
  const generated = path.join(process.env.VENDRAK_EDITOR_FILES || path.join(root, 'build', 'editors'), 'vscode');
  const where = (f) => path.join(f.startsWith('./syntaxes/') ? generated : extension, f);
  const files = ['extension.js', ...languages.map((l) => l.configuration), ...grammars.map((g) => g.path)];
  assert.deepEqual(files.filter((f) => !fs.existsSync(where(f))), []);
  assert.deepEqual(grammars.map((g) => g.language), languages.map((l) => l.id));
  for (const g of grammars) {
    assert.equal(JSON.parse(fs.readFileSync(where(g.path), 'utf8')).scopeName, g.scopeName);
  }
  JSON.parse(fs.readFileSync(path.join(extension, languages[0].configuration), 'utf8'));
  const project = fs.readFileSync(path.join(root, 'CMakeLists.txt'), 'utf8').match(/project\(vendrak VERSION ([0-9.]+)/);
  assert.equal(manifest.version, project[1]);
});

// VS Code applies a matcher's regexp to each line of a task's output and
// takes the fields from its groups.
test('the problem matcher reads vendrak-check output', () => {
  const [matcher] = manifest.contributes.problemMatchers;
  const { pattern } = matcher;
  const regexp = new RegExp(pattern.regexp);
  for (const row of JSON.parse(fs.readFileSync(path.join(__dirname, 'diagnostics.json'), 'utf8'))) {
    const m = regexp.exec(row.output);
    const got = m && {
      file: m[pattern.file], line: Number(m[pattern.line]), column: Number(m[pattern.column]),
      severity: m[pattern.severity], message: m[pattern.message], code: m[pattern.code],
    };
    const expected = row.file ? {
      file: row.file, line: row.line, column: row.column, severity: row.severity, message: row.message, code: row.code,
    } : null;
    assert.deepEqual(got, expected, row.output);
  }
});
