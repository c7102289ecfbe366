'use strict';
// The TextMate grammar of editors/vscode, run by the engine VS Code runs it
// with (vscode-textmate on the Oniguruma build VS Code ships): every token
// kind gets its scope, and no script that vendrak accepts shows a token
// marked invalid.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const oniguruma = require('vscode-oniguruma');
const vsctm = require('vscode-textmate');

const root = path.resolve(__dirname, '..', '..');
// The grammar and the Vim syntax file are made by the build from the
// vocabulary table: VENDRAK_EDITOR_FILES is the editors/ folder of the
// build directory (make test-editors sets it).
const generated = process.env.VENDRAK_EDITOR_FILES || path.join(root, 'build', 'editors');
const grammarPath = path.join(generated, 'vscode/syntaxes/vsc.tmLanguage.json');
const vimSyntaxPath = path.join(generated, 'vim/syntax/vsc.vim');

async function loadGrammar() {
  const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  const registry = new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
      createOnigString: (text) => new oniguruma.OnigString(text),
    }),
    loadGrammar: async (scopeName) => scopeName === 'source.vsc'
      ? vsctm.parseRawGrammar(fs.readFileSync(grammarPath, 'utf8'), grammarPath)
      : null,
  });
  return registry.loadGrammar('source.vsc');
}

const grammarReady = loadGrammar();

// Lines of tokens: [{ start, end, scope }] with the innermost scope of each.
function tokenize(grammar, text) {
  let stack = vsctm.INITIAL;
  return text.split(/\r\n|\r|\n/).map((line) => {
    const result = grammar.tokenizeLine(line, stack);
    stack = result.ruleStack;
    return result.tokens.map((t) => ({
      start: t.startIndex, end: t.endIndex, scope: t.scopes[t.scopes.length - 1],
    }));
  });
}

function scopeAt(lines, line, column) {
  const token = lines[line].find((t) => t.start <= column && column < t.end);
  return token ? token.scope : 'source.vsc';
}

test('each token kind has its scope', async () => {
  const grammar = await grammarReady;
  const rows = JSON.parse(fs.readFileSync(path.join(__dirname, 'tokens.json'), 'utf8'));
  const wrong = [];
  for (const row of rows) {
    const offset = row.text.indexOf(row.token);
    assert.notEqual(offset, -1, `"${row.token}" is not in "${row.text}"`);
    const lines = tokenize(grammar, row.text);
    let line = row.text.slice(0, offset).split('\n').length - 1;
    let column = offset - (row.text.lastIndexOf('\n', offset - 1) + 1);
    for (const c of row.token) {
      if (c === '\n') {
        line += 1;
        column = 0;
        continue;
      }
      const scope = scopeAt(lines, line, column);
      if (scope !== row.scope) wrong.push(`${JSON.stringify(row.text)}: ${JSON.stringify(c)} of ${JSON.stringify(row.token)} is ${scope}, expected ${row.scope}`);
      column += 1;
    }
  }
  assert.deepEqual(wrong, []);
});

function vscFiles(dir) {
  return fs.readdirSync(dir, { recursive: true })
    .filter((name) => name.endsWith('.vsc'))
    .sort()
    .map((name) => path.join(dir, name));
}

// The manual's script blocks: fenced with the info string "vsc" (or "vsc
// warning") for scripts that compile; blocks marked as failing are left out.
function manualBlocks() {
  const docs = path.join(root, 'docs');
  const blocks = [];
  for (const name of fs.readdirSync(docs).filter((n) => n.endsWith('.md')).sort()) {
    const text = fs.readFileSync(path.join(docs, name), 'utf8');
    for (const m of text.matchAll(/^[ \t]*```vsc(?:[ \t]+warning)?[ \t]*\n([\s\S]*?)^[ \t]*```/gm)) {
      const fenceLine = text.slice(0, m.index).split('\n').length;
      blocks.push({ name: `docs/${name}`, firstLine: fenceLine, text: m[1] });
    }
  }
  return blocks;
}

test('the examples, the end-to-end scripts and the manual show no invalid token', async () => {
  const grammar = await grammarReady;
  const scripts = [...vscFiles(path.join(root, 'examples')), ...vscFiles(path.join(root, 'tests/e2e/cases'))]
    .map((file) => ({ name: path.relative(root, file), firstLine: 0, text: fs.readFileSync(file, 'latin1') }));
  assert.ok(scripts.length >= 4, 'no scripts found');
  const invalid = [];
  for (const { name, firstLine, text } of [...scripts, ...manualBlocks()]) {
    tokenize(grammar, text).forEach((tokens, line) => {
      for (const t of tokens.filter((t) => t.scope.startsWith('invalid'))) {
        invalid.push(`${name}:${firstLine + line + 1}:${t.start + 1}: ${t.scope}`);
      }
    });
  }
  assert.deepEqual(invalid, []);
});

// The words of the grammar are plain alternations of upper-case words in its
// patterns; the Vim syntax lists the same words with ":syntax keyword".
function grammarWords(grammar) {
  const words = new Set();
  const choices = {};
  const visit = (rule) => {
    const alternations = [...(rule.match || '').matchAll(/\((?:\?:)?([A-Z][A-Z0-9_]*(?:\|[A-Z][A-Z0-9_]*)*)\)/g)]
      .map((m) => m[1].split('|'));
    alternations.flat().forEach((w) => words.add(w));
    if (rule.captures && rule.captures['2'] && rule.captures['2'].name.startsWith('support.constant')) {
      for (const statement of alternations[0]) {
        choices[statement] = [...(choices[statement] || []), ...alternations.slice(1).flat()].sort();
      }
    }
    (rule.patterns || []).forEach(visit);
    Object.values(rule.repository || {}).forEach(visit);
  };
  visit(grammar);
  return { words: [...words].sort(), choices };
}

function vimWords(text) {
  const groups = {};
  const words = new Set();
  for (const m of text.matchAll(/^syn(?:tax)? keyword (\w+) (.*)$/gm)) {
    const args = m[2].split(/\s+/);
    const next = (args.find((a) => a.startsWith('nextgroup=')) || '').slice('nextgroup='.length);
    const listed = args.filter((a) => /^[A-Z][A-Z0-9_]*$/.test(a));
    listed.forEach((w) => words.add(w));
    const group = groups[m[1]] || (groups[m[1]] = { contained: args.includes('contained'), entries: [] });
    group.entries.push({ words: listed, next });
  }
  const following = (name) => (groups[name] ? groups[name].entries : [])
    .flatMap((e) => [...e.words, ...(e.next ? following(e.next) : [])]);
  const choices = {};
  for (const group of Object.values(groups).filter((g) => !g.contained)) {
    for (const entry of group.entries.filter((e) => e.next && groups[e.next])) {
      for (const statement of entry.words) choices[statement] = following(entry.next).sort();
    }
  }
  return { words: [...words].sort(), choices };
}

test('the grammar and the Vim syntax know the same words and choice words', () => {
  const grammar = JSON.parse(fs.readFileSync(grammarPath, 'utf8'));
  const vim = vimWords(fs.readFileSync(vimSyntaxPath, 'utf8'));
  const tm = grammarWords(grammar);
  assert.ok(tm.words.length > 80, `only ${tm.words.length} words read from the grammar`);
  assert.deepEqual(vim.words, tm.words);
  assert.deepEqual(vim.choices, tm.choices);
});

// The manual's syntax lines ("`LED GREEN|RED ON|OFF|TOGGLE`" under "### LED"):
// each statement keyword shows as a keyword and every upper-case word the
// line offers after it as a word of the language, never as plain text.
test('every word of the manual\'s syntax lines has its scope', async () => {
  const grammar = await grammarReady;
  const manual = fs.readFileSync(path.join(root, 'docs/language.md'), 'utf8');
  const wrong = [];
  let keywords = 0;
  for (const m of manual.matchAll(/^### .+\n\n((?:`[^`\n]+`\n)+)/gm)) {
    for (const syntax of m[1].trim().split('\n').map((l) => l.slice(1, -1))) {
      const [keyword, ...rest] = syntax.split(' ');
      if (!/^[A-Z][A-Z0-9_]*$/.test(keyword)) continue;
      keywords += 1;
      const scope = scopeAt(tokenize(grammar, keyword), 0, 0);
      if (!scope.startsWith('keyword.')) wrong.push(`${keyword}: ${scope}`);
      const offered = [];
      for (const word of rest) {
        if (!/^[A-Z][A-Z0-9_]*(\|[A-Z][A-Z0-9_]*)*$/.test(word)) break;
        offered.push(word.split('|'));
      }
      // The first word of each slot, then every word of each slot in turn
      // with the first of the others.
      offered.forEach((slot, i) => slot.forEach((word) => {
        const words = offered.map((s, j) => (j === i ? word : s[0]));
        const text = [keyword, ...words].join(' ');
        const at = text.length - words.slice(i).join(' ').length;
        const got = scopeAt(tokenize(grammar, text), 0, at);
        if (got === 'source.vsc' || got.startsWith('invalid')) wrong.push(`${text}: ${word} is ${got}`);
      }));
    }
  }
  assert.ok(keywords > 40, `only ${keywords} syntax lines read from the manual`);
  assert.deepEqual(wrong, []);
});
