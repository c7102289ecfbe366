// The page's worker: holds the WebAssembly module and runs every call of
// window.vendrak on it, one at a time, so that checking, compiling and
// inspecting never hold up typing.
//
// The module is made from the bytes bundled with this script; nothing is
// fetched. What the compiler prints on its standard output and error is
// gathered, in order, into the messages of the call.
import createVendrak from 'vendrak-module';
import wasmBinary from 'vendrak-wasm';

let printed = [];
const collect = (line) => printed.push(line + '\n');

const ready = createVendrak({ wasmBinary, print: collect, printErr: collect, noInitialRun: true });

const encoder = new TextEncoder();
const decoder = new TextDecoder();

// The VBF files of a call, in the module's file system: relative names in
// the job directory, where the compiler is run, absolute names as they are.
const jobDir = '/job';

function removeTree(FS, path) {
    for (const name of FS.readdir(path)) {
        if (name === '.' || name === '..') continue;
        const child = path + '/' + name;
        if (FS.isDir(FS.stat(child).mode)) {
            removeTree(FS, child);
            FS.rmdir(child);
        } else {
            FS.unlink(child);
        }
    }
}

function placeFiles(m, files) {
    const { FS } = m;
    FS.chdir('/');
    if (FS.analyzePath(jobDir).exists) removeTree(FS, jobDir);
    else FS.mkdir(jobDir);
    const written = [];
    for (const [name, bytes] of Object.entries(files || {})) {
        const path = name.startsWith('/') ? name : jobDir + '/' + name;
        const dir = path.slice(0, path.lastIndexOf('/'));
        try {
            if (dir) FS.mkdirTree(dir);
            FS.writeFile(path, bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes));
            written.push(path);
        } catch {
            // A name the file system cannot hold: the compiler reports the
            // file as missing, as it would on a disk.
        }
    }
    FS.chdir(jobDir);
    return written;
}

function clearFiles(m, written) {
    for (const path of written) {
        if (!path.startsWith(jobDir + '/')) {
            try {
                m.FS.unlink(path);
            } catch {
                // already gone
            }
        }
    }
    m.FS.chdir('/');
    removeTree(m.FS, jobDir);
}

// Copies bytes into the module's memory; the caller frees the pointer.
function toModule(m, bytes) {
    const at = m._malloc(Math.max(bytes.length, 1));
    m.HEAPU8.set(bytes, at);
    return at;
}

function part(m, index) {
    const at = m._vendrak_part(index);
    return m.HEAPU8.slice(at, at + m._vendrak_part_size(index));
}

const text = (m, index) => decoder.decode(part(m, index));

function withScript(m, script, call) {
    const bytes = typeof script === 'string' ? encoder.encode(script) : script;
    const at = toModule(m, bytes);
    try {
        return call(at, bytes.length);
    } finally {
        m._free(at);
    }
}

function withFiles(m, files, call) {
    const written = placeFiles(m, files);
    try {
        return call();
    } finally {
        clearFiles(m, written);
    }
}

function withString(m, s, call) {
    const bytes = encoder.encode(s + '\0');
    const at = toModule(m, bytes);
    try {
        return call(at);
    } finally {
        m._free(at);
    }
}

const operations = {
    check(m, script, files, name) {
        return withFiles(m, files, () =>
            withScript(m, script, (at, n) =>
                withString(m, name || 'script.vsc', (nameAt) => {
                    m._vendrak_check(at, n, nameAt);
                    return JSON.parse(text(m, 0));
                })));
    },
    compile(m, script, files, options) {
        return withFiles(m, files, () =>
            withScript(m, script, (at, n) => {
                printed = [];
                const status = m._vendrak_compile(at, n, options && options.encrypt ? 1 : 0, options && options.listing === false ? 0 : 1);
                const messages = printed.join('');
                printed = [];
                return { status, messages, container: part(m, 1), listing: text(m, 0) };
            }));
    },
    inspect(m, container, name) {
        const bytes = container instanceof Uint8Array ? container : new Uint8Array(container);
        const at = toModule(m, bytes);
        try {
            return withString(m, name || 'a.out', (nameAt) => {
                const status = m._vendrak_inspect(at, bytes.length, nameAt);
                return { status, report: text(m, 0), disassembly: text(m, 1), script: text(m, 2) };
            });
        } finally {
            m._free(at);
        }
    },
    format(m, script) {
        if (!m._vendrak_format) throw new Error('this build has no formatter');
        return withScript(m, script, (at, n) => {
            const ok = m._vendrak_format(at, n) === 1;
            if (ok) return { ok, text: text(m, 0), line: 0, column: 0, message: '' };
            const [, line, column, message] = /^(\d+) (\d+) ([\s\S]*)$/.exec(text(m, 1));
            return { ok, text: '', line: Number(line), column: Number(column), message };
        });
    },
    help(m, word) {
        return withString(m, word, (at) => (m._vendrak_help(at) ? { syntax: text(m, 0), summary: text(m, 1) } : null));
    },
    words(m) {
        m._vendrak_words();
        const list = (i) => text(m, i).split(' ').filter(Boolean);
        return { keywords: list(0), choices: list(1), operands: list(2), format: Boolean(m._vendrak_format) };
    },
};

self.onmessage = async (event) => {
    const { id, op, args } = event.data;
    try {
        const m = await ready;
        const result = operations[op](m, ...args);
        const transfer = result && result.container ? [result.container.buffer] : [];
        self.postMessage({ id, result }, transfer);
    } catch (error) {
        self.postMessage({ id, error: String(error && error.message ? error.message : error) });
    }
};
