// The page: the editor with its diagnostics, hover help and quick fixes,
// the VBF files, compile and download, the listing and the inspector.
import { EditorState, Compartment } from '@codemirror/state';
import {
    EditorView, keymap, lineNumbers, highlightActiveLine, highlightActiveLineGutter, drawSelection, hoverTooltip,
} from '@codemirror/view';
import { defaultKeymap, history, historyKeymap, insertNewline, insertTab } from '@codemirror/commands';
import { searchKeymap } from '@codemirror/search';
import { linter, lintGutter, lintKeymap, forceLinting } from '@codemirror/lint';
import { createApi } from './api.js';
import { scriptLanguage, scriptHighlight, wordAt } from './language.js';
import { examples } from 'vendrak-examples';

const api = createApi();
window.vendrak = Object.freeze({
    ready: api.ready,
    check: api.check,
    compile: api.compile,
    inspect: api.inspect,
    format: api.format,
});

const $ = (id) => document.getElementById(id);
const storageKey = 'vendrak.script';
const encoder = new TextEncoder();

// ---- VBF files: kept in memory, under the names the script gives them.

const vbfFiles = new Map();  // file name as the user gave it -> bytes

// The names the script gives each file: every string of the script that
// ends in the file's name (a folder in front allowed), or the bare name.
function filesForScript(script) {
    const named = {};
    const strings = script.match(/"[^"]*"/g) || [];
    for (const [name, bytes] of vbfFiles) {
        named[name] = bytes;
        for (const quoted of strings) {
            const s = quoted.slice(1, -1);
            if (s === name || s.endsWith('/' + name) || s.endsWith('\\' + name)) named[s] = bytes;
        }
    }
    return named;
}

function showFiles() {
    const list = $('files');
    list.replaceChildren();
    for (const [name, bytes] of vbfFiles) {
        const item = document.createElement('li');
        item.textContent = `${name} (${bytes.length} bytes) `;
        const remove = document.createElement('button');
        remove.textContent = 'remove';
        remove.title = `Forget ${name}`;
        remove.onclick = () => {
            vbfFiles.delete(name);
            showFiles();
            recheck();
        };
        item.append(remove);
        list.append(item);
    }
    $('no-files').hidden = vbfFiles.size > 0;
}

// ---- Output panes.

const panes = ['messages', 'listing', 'report', 'disassembly', 'script'];
function show(pane, text) {
    $(`out-${pane}`).textContent = text;
    selectPane(pane);
}
function selectPane(pane) {
    for (const p of panes) {
        $(`out-${p}`).hidden = p !== pane;
        $(`tab-${p}`).setAttribute('aria-selected', String(p === pane));
    }
}
for (const p of panes) $(`tab-${p}`).onclick = () => selectPane(p);

// ---- The editor.

// Byte columns of the checker (counting from 1) to places in the document.
function placeOf(doc, line, column) {
    if (line < 1) return 0;
    const l = doc.line(Math.min(line, doc.lines));
    const bytes = encoder.encode(l.text);
    const prefix = new TextDecoder().decode(bytes.slice(0, Math.max(0, column - 1)));
    return l.from + Math.min(prefix.length, l.length);
}

function diagnosticsOf(view, findings) {
    const doc = view.state.doc;
    return findings.map((f) => {
        const from = placeOf(doc, f.line, f.column);
        const word = wordAt(doc, from);
        const to = word && word.from === from ? word.to : Math.min(from + 1, doc.line(doc.lineAt(from).number).to);
        const diagnostic = {
            from,
            to: Math.max(to, from),
            severity: f.severity === 'error' ? 'error' : 'warning',
            source: f.name ? `-W${f.name}` : 'vendrak',
            message: f.message,
        };
        // The checker's notes under the message: the cause of an error, or
        // what was probably meant.
        if (Array.isArray(f.notes) && f.notes.length > 0) {
            diagnostic.renderMessage = () => {
                const dom = document.createElement('div');
                dom.append(f.message);
                for (const n of f.notes) {
                    const note = document.createElement('div');
                    note.className = 'note';
                    note.textContent = `${n.line}:${n.column}: note: ${n.message}`;
                    dom.append(note);
                }
                return dom;
            };
        }
        if (Array.isArray(f.fix) && f.fix.length > 0) {
            diagnostic.actions = [{
                name: 'Fix',
                apply(v) {
                    const d = v.state.doc;
                    v.dispatch({
                        changes: f.fix.map((e) => ({
                            from: placeOf(d, e.line, e.column),
                            to: placeOf(d, e.end_line, e.end_column),
                            insert: e.text,
                        })),
                    });
                },
            }];
        }
        return diagnostic;
    });
}

const scriptLinter = linter(async (view) => {
    const script = view.state.doc.toString();
    const findings = await api.check(script, filesForScript(script));
    if (view.state.doc.toString() !== script) return [];  // a newer text is on its way
    const diagnostics = diagnosticsOf(view, findings);
    $('status').textContent = findings.length === 0 ? 'No findings.' :
        `${findings.filter((f) => f.severity === 'error').length} error(s), ` +
        `${findings.filter((f) => f.severity !== 'error').length} warning(s).`;
    return diagnostics;
}, { delay: 200 });

const keywordHelp = hoverTooltip(async (view, pos) => {
    const word = wordAt(view.state.doc, pos);
    if (!word) return null;
    const help = await api.help(word.text);
    if (!help) return null;
    return {
        pos: word.from,
        end: word.to,
        above: true,
        create() {
            const dom = document.createElement('div');
            dom.className = 'help';
            const syntax = document.createElement('pre');
            syntax.textContent = help.syntax;
            const summary = document.createElement('p');
            summary.textContent = help.summary;
            dom.append(syntax, summary);
            return { dom };
        },
    };
});

let saveTimer = 0;
const language = new Compartment();
const view = new EditorView({
    parent: $('editor'),
    state: EditorState.create({
        doc: '',
        extensions: [
            // Lines end at line feeds only: a carriage return stays in the
            // text as the checker reads it.
            EditorState.lineSeparator.of('\n'),
            lineNumbers(), highlightActiveLineGutter(), highlightActiveLine(), drawSelection(), history(),
            // Enter and Tab write what they stand for: a line feed and a tab
            // character, so that the text is the one typed, column for column.
            keymap.of([{ key: 'Enter', run: insertNewline }, { key: 'Tab', run: insertTab }, ...defaultKeymap, ...historyKeymap, ...searchKeymap, ...lintKeymap]),
            language.of([]), scriptHighlight, lintGutter(), scriptLinter, keywordHelp,
            EditorView.updateListener.of((update) => {
                if (!update.docChanged) return;
                clearTimeout(saveTimer);
                saveTimer = setTimeout(() => {
                    try {
                        localStorage.setItem(storageKey, update.state.doc.toString());
                    } catch {
                        // storage may be off (private windows, files on disk)
                    }
                }, 300);
            }),
        ],
    }),
});

function setScript(text) {
    view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: text } });
}

// A change of the files does not change the text: check it again anyway.
function recheck() {
    forceLinting(view);
}

// ---- Scripts in links: #script=<the script as base64url of its UTF-8>.

function toFragment(text) {
    let binary = '';
    for (const b of encoder.encode(text)) binary += String.fromCharCode(b);
    return 'script=' + btoa(binary).replaceAll('+', '-').replaceAll('/', '_').replace(/=+$/, '');
}
function fromFragment(hash) {
    const m = /^#script=([-A-Za-z0-9_]*)$/.exec(hash);
    if (!m) return null;
    try {
        const binary = atob(m[1].replaceAll('-', '+').replaceAll('_', '/'));
        return new TextDecoder().decode(Uint8Array.from(binary, (c) => c.charCodeAt(0)));
    } catch {
        return null;
    }
}

// ---- Examples.

function loadExample(example) {
    for (const [name, bytes] of Object.entries(example.files)) vbfFiles.set(name, bytes);
    showFiles();
    setScript(example.script);
    $('status').textContent = `Example ${example.name} loaded.`;
}
for (const example of examples) {
    const button = document.createElement('button');
    button.textContent = example.name;
    button.dataset.example = example.name;
    button.onclick = () => loadExample(example);
    $('examples').append(button);
}

// ---- Compile and inspect.

let lastContainer = null;

function download(bytes, name) {
    const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    const a = document.createElement('a');
    a.href = url;
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 1000);
}

async function showInspection(container, name) {
    const r = await api.inspect(container, name);
    $('out-report').textContent = r.report;
    $('out-disassembly').textContent = r.disassembly;
    $('out-script').textContent = r.script || '(no script: the container has defects)';
    return r;
}

async function compile(encrypt) {
    const script = view.state.doc.toString();
    const r = await api.compile(script, filesForScript(script), { encrypt });
    $('out-listing').textContent = r.listing;
    lastContainer = r.status === 0 ? r.container : null;
    $('download').disabled = !lastContainer;
    if (lastContainer) await showInspection(lastContainer);
    show('messages', r.messages);
    return r;
}

$('compile').onclick = () => compile(false);
$('compile-aes').onclick = () => compile(true);
$('download').onclick = () => lastContainer && download(lastContainer, 'a.out');
$('format').onclick = async () => {
    const r = await api.format(view.state.doc.toString());
    if (r.ok) setScript(r.text);
    else show('messages', `${r.line}:${r.column}: error: ${r.message}\n`);
};
$('link').onclick = () => {
    history.replaceState(null, '', '#' + toFragment(view.state.doc.toString()));
    $('status').textContent = 'The link in the address bar holds the script.';
};

// ---- Files from the picker or dropped: VBF files join the job, any other
// file is taken as a container and inspected.

async function takeFiles(list) {
    for (const file of list) {
        const bytes = new Uint8Array(await file.arrayBuffer());
        if (/\.vbf$/i.test(file.name)) {
            vbfFiles.set(file.name, bytes);
        } else {
            lastContainer = bytes;
            $('download').disabled = false;
            const r = await showInspection(bytes, file.name);
            selectPane(r.status === 0 ? 'script' : 'report');
            $('status').textContent = `Container ${file.name} inspected.`;
        }
    }
    showFiles();
    recheck();
}
$('picker').onchange = (event) => takeFiles(event.target.files);
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
    event.preventDefault();
    if (event.dataTransfer && event.dataTransfer.files.length) takeFiles(event.dataTransfer.files);
});

// ---- Start: the script of the link, else the one stored, else the first
// example.

api.words().then((words) => {
    view.dispatch({ effects: language.reconfigure(scriptLanguage(words)) });
    $('format').disabled = !words.format;
});
const linked = fromFragment(location.hash);
let stored = null;
try {
    stored = localStorage.getItem(storageKey);
} catch {
    // no storage
}
// A link opened in the page's own tab changes only the fragment.
window.addEventListener('hashchange', () => {
    const script = fromFragment(location.hash);
    if (script !== null) setScript(script);
});
if (linked !== null) setScript(linked);
else if (stored !== null) setScript(stored);
else loadExample(examples[0]);
showFiles();
