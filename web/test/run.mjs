// The page's tests, in headless Chromium (Debian's /usr/bin/chromium, never
// a downloaded browser), against the page served on 127.0.0.1 and opened as
// a file, compared with the native programs:
//
//   node web/test/run.mjs <page dir> <native build dir> <artefact dir>
//
// Prints each check and the budgets; exits 1 when any fails.
import { chromium } from 'playwright-core';
import { execFileSync, spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import zlib from 'node:zlib';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const [pageDir, nativeDir, artefacts] = process.argv.slice(2).map((p) => path.resolve(p));
const native = (name) => path.join(nativeDir, name);
fs.mkdirSync(artefacts, { recursive: true });

let failures = 0;
const started = Date.now();
const seconds = () => ((Date.now() - started) / 1000).toFixed(0);
function check(ok, what, detail = '') {
    console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}${!ok && detail ? '\n' + detail : ''}`);
    if (!ok) failures++;
}
function firstDifference(a, b) {
    const n = Math.min(a.length, b.length);
    let i = 0;
    while (i < n && a[i] === b[i]) i++;
    return `first difference at ${i} (lengths ${a.length}, ${b.length})\n  page:   ${JSON.stringify(String(a).slice(i, i + 120))}\n  native: ${JSON.stringify(String(b).slice(i, i + 120))}`;
}

// ---- The native programs, in a scratch directory holding the examples'
// VBF files, standard input empty as for a batch run.

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vendrak-web-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));
const exampleDir = path.join(root, 'examples');
for (const f of fs.readdirSync(exampleDir)) fs.copyFileSync(path.join(exampleDir, f), path.join(scratch, f));

function run(program, args) {
    const r = spawnSync(program, args, { cwd: scratch, input: '', maxBuffer: 1 << 30 });
    return { status: r.status, out: r.stdout.toString('latin1'), err: r.stderr.toString('latin1') };
}
function nativeCompile(script, encrypt) {
    fs.writeFileSync(path.join(scratch, 'job.vsc'), script);
    fs.rmSync(path.join(scratch, 'job.out'), { force: true });
    const r = run(native('vendrak'), [...(encrypt ? ['-a'] : []), '-v', '-o', 'job.out', 'job.vsc']);
    const file = path.join(scratch, 'job.out');
    return { ...r, container: fs.existsSync(file) ? fs.readFileSync(file) : null };
}
function nativeFindings(script) {
    fs.writeFileSync(path.join(scratch, 'script.vsc'), script);
    return JSON.parse(run(native('vendrak-check'), ['--format=json', 'script.vsc']).out);
}

// The bytes of a container that differ from run to run, masked as the e2e
// tests mask them: the header's time and host address and the trailer's
// CRC text, after the program part of an encrypted one is decrypted.
const deviceKey = Buffer.from('3B915EC207D468AF1C73E04DB62985FA', 'hex');
function comparable(bytes, encrypted) {
    const b = Buffer.from(bytes);
    if (b.length < 96) return b;
    const decrypt = (from, to) => {
        for (let at = from; at + 16 <= to; at += 16) {
            const d = crypto.createDecipheriv('aes-128-ecb', deviceKey, null).setAutoPadding(false);
            Buffer.concat([d.update(b.subarray(at, at + 16)), d.final()]).copy(b, at);
        }
    };
    if (encrypted) {
        decrypt(0, 64);
        decrypt(64, Math.min(b.readUInt32LE(43), b.length - 32));
    }
    for (let at = 0; at < b.length; at++)
        if ((at >= 5 && at < 19) || (at >= b.length - 28 && at < b.length - 18)) b[at] = 0x3f;
    return b;
}
const maskSummary = (s) => s.replace(/CRC:0x[0-9A-F]{8}/g, 'CRC:0x????????');

// ---- The page on 127.0.0.1, from a plain static server.

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
const server = http.createServer((req, res) => {
    const name = decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/^\/$/, '/index.html');
    const file = path.join(pageDir, path.normalize(name));
    if (!file.startsWith(pageDir) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
        res.writeHead(404).end();
        return;
    }
    res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    res.end(fs.readFileSync(file));
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const pageUrl = `http://127.0.0.1:${server.address().port}/`;

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vendrak-web-chromium-'));
const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1400, height: 900 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});

// Every request of a page after its load is a failure: the page works
// offline.
async function openPage(url) {
    const page = await browser.newPage();
    const context = page;
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));
    page.on('console', (m) => m.type() === 'error' && errors.push(m.text()));
    let loaded = false;
    const lateRequests = [];
    page.on('request', (r) => loaded && !r.url().startsWith('blob:') && !r.url().startsWith('data:') &&
        lateRequests.push(r.url()));
    // When the first diagnostic is drawn, counted from the load event.
    await page.addInitScript(() => {
        new MutationObserver((_, observer) => {
            if (document.querySelector('.cm-lintRange-error, .cm-lintRange-warning') && !window.firstDiagnosticsAt) {
                window.firstDiagnosticsAt = performance.now();
                observer.disconnect();
            }
        }).observe(document, { subtree: true, childList: true, attributes: true });
    });
    await page.goto(url, { waitUntil: 'load' });
    loaded = true;
    await page.evaluate(() => window.vendrak.ready);
    return { page, context, errors, lateRequests };
}

// Replaces the editor's text by typing it, as a user pastes.
async function typeScript(page, text) {
    await page.click('.cm-content');
    await page.keyboard.press('Control+A');
    await page.keyboard.press('Delete');
    // A carriage return typed into the editor becomes a line break, as the
    // browser's editing has it; pasted, it stays.
    if (!text.includes('\r')) {
        await page.keyboard.insertText(text);
        return;
    }
    await page.evaluate((text) => {
        const data = new DataTransfer();
        data.setData('text/plain', text);
        document.querySelector('.cm-content').dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
    }, text);
}
// The marks drawn in the editor (errors only, or every finding): line and
// column (from 1), from the lines the editor draws (all of them, for a
// short script).
async function drawnErrors(page, selector = '.cm-lintRange-error') {
    return page.evaluate((selector) => {
        const lines = [...document.querySelectorAll('.cm-line')];
        return [...document.querySelectorAll(selector)].map((mark) => {
            const line = mark.closest('.cm-line');
            const before = document.createRange();
            before.setStart(line, 0);
            before.setEnd(mark, 0);
            return { line: lines.indexOf(line) + 1, column: before.toString().length + 1 };
        });
    }, selector);
}

// The editor's text, from the lines it draws (all of them, for a short
// script).
async function editorText(page) {
    return page.evaluate(() => [...document.querySelectorAll('.cm-line')].map((l) => l.textContent).join('\n'));
}
// A checker's fix applied to a text (ASCII, so byte columns are
// characters), the last edit first.
function applyFix(text, fix) {
    const lines = text.split('\n');
    const offset = (line, column) => lines.slice(0, line - 1).reduce((n, l) => n + l.length + 1, 0) + column - 1;
    for (const e of [...fix].reverse())
        text = text.slice(0, offset(e.line, e.column)) + e.text + text.slice(offset(e.end_line, e.end_column));
    return text;
}

const examples = fs.readdirSync(exampleDir).filter((f) => f.endsWith('.vsc')).sort();
const exampleFiles = Object.fromEntries(fs.readdirSync(exampleDir).filter((f) => f.endsWith('.vbf'))
    .map((f) => [f, fs.readFileSync(path.join(exampleDir, f))]));

// The end-to-end cases of the native suite whose files a page can hold
// (regular files only: no links, folders or unreadable files): the script
// of each, its VBF files and whether it encrypts.
const e2eRoot = path.join(root, 'tests', 'e2e', 'cases');
function e2eCases() {
    const cases = [];
    for (const group of ['parse', 'container', 'vbf']) {
        for (const name of fs.readdirSync(path.join(e2eRoot, group)).sort()) {
            const dir = path.join(e2eRoot, group, name);
            const args = fs.readFileSync(path.join(dir, 'args'), 'utf8').split('\n').filter(Boolean);
            const scriptName = args.filter((a) => !a.startsWith('-'));
            if (scriptName.length !== 1 || args.some((a) => a.startsWith('-') && a !== '-a')) continue;
            const files = {};
            let plain = true;
            const take = (from, as) => {
                const st = fs.lstatSync(from);
                if (!st.isFile()) plain = false;
                else files[as] = fs.readFileSync(from);
            };
            const inDir = path.join(dir, 'in');
            if (fs.existsSync(inDir)) for (const f of fs.readdirSync(inDir)) take(path.join(inDir, f), f);
            if (fs.existsSync(path.join(dir, 'copy')))
                for (const f of fs.readFileSync(path.join(dir, 'copy'), 'utf8').split('\n').filter(Boolean))
                    take(path.join(root, f), path.basename(f));
            const script = files[scriptName[0]];
            if (!plain || !script) continue;
            delete files[scriptName[0]];
            cases.push({ name: `${group}/${name}`, script, files, encrypt: args.includes('-a') });
        }
    }
    return cases;
}

// The native programs on a case's files, in a directory of their own.
function nativeCase(c) {
    const dir = fs.mkdtempSync(path.join(scratch, 'case-'));
    for (const [f, bytes] of Object.entries(c.files)) fs.writeFileSync(path.join(dir, f), bytes);
    fs.writeFileSync(path.join(dir, 'script.vsc'), c.script);
    const go = (program, args) => {
        const r = spawnSync(native(program), args, { cwd: dir, input: '', maxBuffer: 1 << 30 });
        return { status: r.status, out: r.stdout.toString('latin1'), err: r.stderr.toString('latin1') };
    };
    const findings = JSON.parse(go('vendrak-check', ['--format=json', 'script.vsc']).out);
    const compiled = go('vendrak', [...(c.encrypt ? ['-a'] : []), '-v', '-o', 'job.out', 'script.vsc']);
    const out = path.join(dir, 'job.out');
    compiled.container = compiled.status === 0 && fs.existsSync(out) ? fs.readFileSync(out) : null;
    fs.rmSync(dir, { recursive: true, force: true });
    return { findings, compiled };
}

// What vendrak printed, in the order the page gives it: the listing, then
// its error stream (which holds only the script's error), then the rest of
// its output.
function nativeMessages(listing, nat) {
    return maskSummary(nat.out.startsWith(listing) ? listing + nat.err + nat.out.slice(listing.length) : nat.err + nat.out);
}

async function suite(where, url, full) {
    console.log(`-- the page ${where} (at ${seconds()} s)`);
    const { page, context, errors, lateRequests } = await openPage(url);

    // A planted error: its diagnostic at the native checker's line and
    // column, and gone once fixed.
    const good = fs.readFileSync(path.join(exampleDir, 'key_menu.vsc'), 'utf8').split('\n').slice(0, 19).join('\n') + '\n';
    const lines = good.split('\n');
    const at = lines.findIndex((l) => /^\s*LED /.test(l));
    lines[at] = lines[at].replace('LED', 'LED PURPLE');
    const planted = lines.join('\n');
    const expected = nativeFindings(planted).filter((f) => f.severity === 'error');
    await typeScript(page, planted);
    await page.waitForSelector('.cm-lintRange-error', { timeout: 5000 });
    const drawn = await drawnErrors(page);
    check(expected.length > 0 && JSON.stringify(drawn) === JSON.stringify(expected.map((f) => ({ line: f.line, column: f.column }))),
        `planted error drawn where vendrak-check puts it (${expected.map((f) => `${f.line}:${f.column}`)})`,
        `page ${JSON.stringify(drawn)}, native ${JSON.stringify(expected)}`);
    const apiFindings = await page.evaluate((s) => window.vendrak.check(s, {}), planted);
    const strip = (fs_) => fs_.map(({ file, ...rest }) => rest);
    check(JSON.stringify(strip(apiFindings)) === JSON.stringify(strip(nativeFindings(planted))),
        'window.vendrak.check gives vendrak-check\'s JSON findings',
        firstDifference(JSON.stringify(strip(apiFindings)), JSON.stringify(strip(nativeFindings(planted)))));
    await typeScript(page, good);
    await page.waitForFunction(() => !document.querySelector('.cm-lintRange-error') &&
        /No findings|warning/.test(document.getElementById('status').textContent), null, { timeout: 5000 })
        .then(() => check(true, 'diagnostic cleared after the fix'),
              () => check(false, 'diagnostic cleared after the fix'));

    if (full) {
        // A quick fix: the checker's note shown with its error, and its fix
        // applied by the diagnostic's button.
        const misspelt = 'LCD 1 1 "READY"\nLDE RED ON\n';
        const natFinding = nativeFindings(misspelt).find((f) => f.fix && f.fix.length > 0);
        await typeScript(page, misspelt);
        await page.waitForSelector('.cm-lintRange-error', { timeout: 5000 });
        await page.hover('.cm-lintRange-error');
        const action = await page.waitForSelector('.cm-diagnosticAction', { timeout: 5000 }).catch(() => null);
        const note = await page.evaluate(() => document.querySelector('.cm-diagnostic .note')?.textContent ?? '');
        check(natFinding && note === `${natFinding.notes[0].line}:${natFinding.notes[0].column}: note: ${natFinding.notes[0].message}`,
            'the checker\'s note shown under its error', `page ${JSON.stringify(note)}, native ${JSON.stringify(natFinding)}`);
        if (action) await action.click();
        const fixed = natFinding ? applyFix(misspelt, natFinding.fix) : '';
        const afterFix = await page.waitForFunction(() => !document.querySelector('.cm-lintRange-error') &&
            /No findings|warning/.test(document.getElementById('status').textContent), null, { timeout: 5000 })
            .then(() => editorText(page), () => null);
        check(action !== null && afterFix === fixed,
            'the quick fix writes the checker\'s fix and the error goes', `page ${JSON.stringify(afterFix)}, expected ${JSON.stringify(fixed)}`);

        // Typed key by key (Enter, Tab and blanks at the start of a line),
        // the text is the one typed.
        const typed = 'IF 1 == 1\n    LED RED ON\n\tLCD 1 1 "A\tB"\nENDIF\n';
        await typeScript(page, '');
        await page.keyboard.type(typed);
        check(await editorText(page) === typed, 'a script typed key by key is the editor\'s text', JSON.stringify(await editorText(page)));

        // Hover help on a statement keyword, from the manual.
        await typeScript(page, 'LED RED ON\n');
        await page.hover('.cm-line >> text=LED');
        const help = await page.waitForSelector('.cm-tooltip .help', { timeout: 5000 })
            .then((h) => h.evaluate((d) => [d.querySelector('pre').textContent, d.querySelector('p').textContent]), () => null);
        const manual = fs.readFileSync(path.join(root, 'docs', 'language.md'), 'utf8');
        check(help !== null && /^LED\b/m.test(help[0]) && help[1].length > 0 && manual.includes(help[1].split(' ').slice(0, 4).join(' ')),
            'hover on LED shows its syntax and the manual\'s sentence', JSON.stringify(help));

        // Format: each example as vendrak-fmt lays it out, through the
        // API and the button; a refused script with vendrak-fmt's error.
        for (const name of examples) {
            const script = fs.readFileSync(path.join(exampleDir, name), 'utf8');
            const messy = script.split('\n').map((l) => '   ' + l.toLowerCase().replace(/ /g, '  ')).join('\n');
            const nat = spawnSync(native('vendrak-fmt'), ['-'], { input: messy });
            const r = await page.evaluate((s) => window.vendrak.format(s), messy);
            check(nat.status === 0 && r.ok && r.text === nat.stdout.toString(), `format ${name} (lower case, indented) as vendrak-fmt`,
                firstDifference(r.text, nat.stdout.toString()));
        }
        const refused = 'LCD 1 1 "READY"\nLED PURPLE ON\n';
        const natRefused = spawnSync(native('vendrak-fmt'), ['-'], { input: refused });
        const r = await page.evaluate((s) => window.vendrak.format(s), refused);
        check(natRefused.status === 2 && !r.ok && r.text === '' &&
              `<stdin>:${r.line}:${r.column}: error: ${r.message}\n` === natRefused.stderr.toString(),
            'format of a refused script: vendrak-fmt\'s error, line and column', `page ${JSON.stringify(r)}, native ${natRefused.stderr}`);
        await typeScript(page, 'lcd 1 1 "x"\n  led red on\n');
        await page.click('#format');
        await page.waitForFunction(() => /^LCD/.test(document.querySelector('.cm-line').textContent), null, { timeout: 5000 }).catch(() => {});
        check(await editorText(page) === 'LCD 1 1 "x"\nLED RED ON\n', 'the Format button lays the editor\'s script out',
            await editorText(page));

        // The script is kept for the next visit (a second page, as this one
        // counts every request after its load); a link's script comes first.
        const kept = 'LCD 1 1 "KEPT"\n';
        await typeScript(page, kept);
        await page.waitForTimeout(600);
        const later = await browser.newPage();
        await later.goto(url, { waitUntil: 'load' });
        await later.evaluate(() => window.vendrak.ready);
        check(await editorText(later) === kept, 'the script is kept in local storage for the next visit', await editorText(later));
        const linked = 'LCD 1 1 "LINKED"\n';
        await later.goto(url + '#script=' + Buffer.from(linked).toString('base64url'), { waitUntil: 'load' });
        await later.evaluate(() => window.vendrak.ready);
        check(await editorText(later) === linked, 'a link\'s script is loaded, also in a page already open', await editorText(later));
        await later.goto('about:blank');
        await later.goto(url + '#script=' + Buffer.from(linked).toString('base64url'), { waitUntil: 'load' });
        await later.evaluate(() => window.vendrak.ready);
        check(await editorText(later) === linked, 'a link\'s script is loaded before the stored one', await editorText(later));
        await later.close();
    }

    // Every example, plain and encrypted, through the page's buttons:
    // container, messages and listing as the native compiler's.
    for (const name of full ? examples : examples.slice(0, 1)) {
        await page.click(`button[data-example="${name}"]`);
        const script = fs.readFileSync(path.join(exampleDir, name), 'utf8');
        for (const encrypt of [false, true]) {
            const nat = nativeCompile(script, encrypt);
            const [download] = await Promise.all([
                page.waitForEvent('download', { timeout: 20000 }),
                (async () => {
                    await page.click(encrypt ? '#compile-aes' : '#compile');
                    await page.waitForFunction(() => !document.getElementById('download').disabled, null, { timeout: 20000 });
                    await page.click('#download');
                })(),
            ]);
            const bytes = fs.readFileSync(await download.path());
            const same = nat.container && comparable(bytes, encrypt).equals(comparable(nat.container, encrypt));
            check(same, `${name}${encrypt ? ' -a' : ''}: downloaded container equals vendrak's (masked)`,
                nat.container ? firstDifference(comparable(bytes, encrypt), comparable(nat.container, encrypt)) : nat.out);
            const shown = await page.evaluate(() => [document.getElementById('out-messages').textContent,
                document.getElementById('out-listing').textContent]);
            const summary = nat.out.slice(nat.out.lastIndexOf('Script Size:'));
            const listing = nat.out.slice(0, nat.out.lastIndexOf('Script Size:'));
            check(maskSummary(shown[0]) === maskSummary(summary) && shown[1] === listing,
                `${name}${encrypt ? ' -a' : ''}: summary line and listing equal vendrak -v's`,
                firstDifference(maskSummary(shown.join('')), maskSummary(listing + summary)));
        }
    }

    // The checker's own test scripts, clean and with slips: each typed into
    // the editor, its marks where vendrak-check puts its findings, and the
    // API's findings as vendrak-check's JSON.
    if (full) {
        const dir = path.join(root, 'tests', 'data', 'check');
        const scripts = fs.readdirSync(dir).flatMap((d) => fs.readdirSync(path.join(dir, d))
            .filter((f) => f.endsWith('.vsc')).sort().map((f) => path.join(d, f)));
        let findings = 0;
        for (const name of scripts) {
            const script = fs.readFileSync(path.join(dir, name), 'utf8');
            const nat = nativeFindings(script);
            findings += nat.length;
            const api = await page.evaluate(([s, files]) => window.vendrak.check(s, Object.fromEntries(
                Object.entries(files).map(([n, b]) => [n, new Uint8Array(b)]))), [script, Object.fromEntries(
                Object.entries(exampleFiles).map(([n, b]) => [n, [...b]]))]);
            const strip = (list) => JSON.stringify(list.map(({ file, ...rest }) => rest));
            check(strip(api) === strip(nat), `checker script ${name}: findings as vendrak-check's`, firstDifference(strip(api), strip(nat)));
            await typeScript(page, script);
            // Findings at one place share one mark.
            const want = JSON.stringify([...new Set(nat.map((f) => `${f.line}:${f.column}`))].sort());
            const drawn = await page.waitForFunction(([want, selector]) => {
                const status = document.getElementById('status').textContent;
                if (!/No findings|error\(s\)/.test(status)) return null;
                const lines = [...document.querySelectorAll('.cm-line')];
                const marks = [...document.querySelectorAll(selector)].map((mark) => {
                    const line = mark.closest('.cm-line');
                    const before = document.createRange();
                    before.setStart(line, 0);
                    before.setEnd(mark, 0);
                    return `${lines.indexOf(line) + 1}:${before.toString().length + 1}`;
                });
                return JSON.stringify([...new Set(marks)].sort()) === want ? JSON.stringify(marks) : null;
            }, [want, '.cm-lintRange-error, .cm-lintRange-warning, .cm-lintPoint'], { timeout: 3000 })
                .then((h) => h.jsonValue(), () => drawnErrors(page, '.cm-lintRange-error, .cm-lintRange-warning, .cm-lintPoint'));
            check(drawn === want, `checker script ${name}: marks where vendrak-check puts its ${nat.length} finding(s)`,
                `page ${JSON.stringify(drawn)}, native ${want}`);
        }
        console.log(`     ${scripts.length} checker scripts, ${findings} findings`);
    }

    // The end-to-end cases through the API: the checker's findings, and
    // status, messages, listing and container of the compile.
    if (full) {
        let compiled = 0;
        const cases = e2eCases();
        for (const c of cases) {
            const nat = nativeCase(c);
            const r = await page.evaluate(async ([script, files, encrypt]) => {
                const bytes = Object.fromEntries(Object.entries(files).map(([n, b]) => [n, new Uint8Array(b)]));
                const findings = await window.vendrak.check(new TextDecoder().decode(new Uint8Array(script)), bytes);
                const r = await window.vendrak.compile(new Uint8Array(script), bytes, { encrypt });
                return { findings, status: r.status, messages: r.messages, listing: r.listing, container: [...r.container] };
            }, [[...c.script], Object.fromEntries(Object.entries(c.files).map(([n, b]) => [n, [...b]])), c.encrypt]);
            const strip = (list) => JSON.stringify(list.map(({ file, ...rest }) => rest));
            check(strip(r.findings) === strip(nat.findings), `e2e ${c.name}: findings as vendrak-check's`,
                firstDifference(strip(r.findings), strip(nat.findings)));
            const n = nat.compiled;
            const same = n.container ? r.container.length > 0 &&
                comparable(Buffer.from(r.container), c.encrypt).equals(comparable(n.container, c.encrypt)) : r.container.length === 0;
            if (n.container) compiled++;
            check(r.status === n.status && same && maskSummary(r.listing + r.messages) === nativeMessages(r.listing, n),
                `e2e ${c.name}${c.encrypt ? ' (-a)' : ''}: status ${n.status}, messages${n.container ? ' and container' : ''} as vendrak's`,
                `page status ${r.status}: ${JSON.stringify(r.listing + r.messages)}\nnative status ${n.status}: ${JSON.stringify(n.err + n.out)}` +
                (n.container && !same ? '\n' + firstDifference(comparable(Buffer.from(r.container), c.encrypt), comparable(n.container, c.encrypt)) : ''));
        }
        console.log(`     ${cases.length} end-to-end cases, ${compiled} of them compiled`);
    }

    // Messages and statuses of failing runs, by the API.
    const failing = {
        'parse error': 'LED PURPLE ON\n',
        'missing VBF file': 'PROG "nowhere.vbf"\n',
        'empty script': '',
    };
    for (const [what, script] of Object.entries(failing)) {
        const nat = nativeCompile(script, false);
        const r = await page.evaluate(async (s) => {
            const r = await window.vendrak.compile(s, {}, {});
            return { status: r.status, messages: r.messages, listing: r.listing, size: r.container.length };
        }, script);
        check(r.status === nat.status && maskSummary(r.listing + r.messages) === nativeMessages(r.listing, nat) &&
              (nat.status === 0) === (r.size > 0),
            `${what}: status ${nat.status} and vendrak's messages`,
            `page ${JSON.stringify(r)}\nnative ${JSON.stringify(nat)}`);
    }

    // A container dropped on the page decompiles as vendrak-inspect -s
    // gives it.
    const flash = fs.readFileSync(path.join(exampleDir, 'flash_job.vsc'), 'utf8');
    const nat = nativeCompile(flash, true);
    const natScript = run(native('vendrak-inspect'), ['-s', 'job.out']).out;
    await page.evaluate((bytes) => {
        const dt = new DataTransfer();
        dt.items.add(new File([new Uint8Array(bytes)], 'job.out'));
        document.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
    }, [...nat.container]);
    await page.waitForFunction(() => /inspected/.test(document.getElementById('status').textContent), null, { timeout: 10000 });
    const dropped = await page.evaluate(() => document.getElementById('out-script').textContent);
    check(dropped === natScript && natScript.length > 0, 'a dropped container decompiles as vendrak-inspect -s gives it',
        firstDifference(dropped, natScript));
    const inspected = await page.evaluate((bytes) => window.vendrak.inspect(new Uint8Array(bytes), 'job.out'), [...nat.container]);
    const natQuiet = run(native('vendrak-inspect'), ['-q', 'job.out']);
    const natListing = run(native('vendrak-inspect'), ['job.out']).out;
    check(inspected.status === natQuiet.status && inspected.report === natQuiet.err + natQuiet.out &&
          natListing === inspected.disassembly + inspected.report,
        'window.vendrak.inspect: verdict and disassembly as vendrak-inspect\'s',
        firstDifference(inspected.disassembly + inspected.report, natListing));

    if (full) {
        await page.click('button[data-example="flash_job.vsc"]');
        await page.waitForSelector('.cm-line');
        await page.screenshot({ path: path.join(artefacts, 'page.png') });
        console.log(`     screenshot: ${path.join(artefacts, 'page.png')}`);
    }
    check(errors.length === 0, 'no error in the page\'s console', errors.join('\n'));
    check(lateRequests.length === 0, 'no request after the page loaded', lateRequests.join('\n'));
    await context.close();
}

// ---- Budgets.

async function budgets() {
    console.log(`-- budgets (at ${seconds()} s)`);
    let gzip = 0;
    for (const f of fs.readdirSync(pageDir)) gzip += zlib.gzipSync(fs.readFileSync(path.join(pageDir, f)), { level: 9 }).length;
    console.log(`     transfer (gzip): ${(gzip / 1048576).toFixed(2)} MiB`);
    check(gzip <= 3 * 1048576, 'page transfer at most 3 MB (gzip)');

    // First diagnostics: a linked script with an error, from the load event.
    const planted = 'LCD 1 1 "READY"\nLED PURPLE ON\n';
    const fragment = 'script=' + Buffer.from(planted).toString('base64url');
    const { page, context } = await openPage(pageUrl + '#' + fragment);
    await page.waitForFunction(() => window.firstDiagnosticsAt, null, { timeout: 10000 });
    const ms = await page.evaluate(() => window.firstDiagnosticsAt - performance.getEntriesByType('navigation')[0].loadEventEnd);
    console.log(`     first diagnostics: ${ms.toFixed(0)} ms after load`);
    check(ms <= 1000, 'first diagnostics at most 1 s after the page loads');

    // The 1,000,000-statement script of bench/statements.sh: the page's
    // compile against the native one, the fastest of three each.
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vendrak-web-big-'));
    execFileSync(path.join(root, 'bench', 'statements.sh'), [nativeDir], { env: { ...process.env, SCRIPT_ONLY: dir }, stdio: 'ignore' });
    const big = fs.readFileSync(path.join(dir, 'big.vsc'));
    const small = fs.existsSync(path.join(dir, 'small.vbf')) ? fs.readFileSync(path.join(dir, 'small.vbf')) : null;
    let nativeBest = Infinity;
    for (let i = 0; i < 3; i++) {
        const t = process.hrtime.bigint();
        const r = spawnSync(native('vendrak'), ['-o', path.join(dir, 'big.out'), 'big.vsc'], { cwd: dir, input: '' });
        nativeBest = Math.min(nativeBest, Number(process.hrtime.bigint() - t) / 1e6);
        if (r.status !== 0) check(false, 'native compile of the big script', r.stdout.toString());
    }
    // The bytes travel into the page as base64: a list of 15 million
    // numbers takes minutes to pass.
    const page_ = await page.evaluate(async ([script, vbf]) => {
        const decode = (s) => Uint8Array.from(atob(s), (c) => c.charCodeAt(0));
        const files = vbf ? { 'small.vbf': decode(vbf) } : {};
        const bytes = decode(script);
        let best = Infinity;
        let r;
        for (let i = 0; i < 3; i++) {
            const t = performance.now();
            r = await window.vendrak.compile(bytes, files, { listing: false });
            best = Math.min(best, performance.now() - t);
        }
        return { best, status: r.status, size: r.container.length, messages: r.messages };
    }, [big.toString('base64'), small ? small.toString('base64') : null]);
    const natSize = fs.statSync(path.join(dir, 'big.out')).size;
    fs.rmSync(dir, { recursive: true, force: true });
    console.log(`     1,000,000 statements: page ${page_.best.toFixed(0)} ms, native ${nativeBest.toFixed(0)} ms, ratio ${(page_.best / nativeBest).toFixed(2)}`);
    check(page_.status === 0 && page_.size === natSize, 'the big script compiles in the page to a container of the native size', page_.messages);
    check(page_.best <= 3 * nativeBest, 'the page compiles the big script within 3 times the native time');
    await context.close();
}

try {
    await suite('on 127.0.0.1', pageUrl, true);
    await suite('opened as a file', pathToFileURL(path.join(pageDir, 'index.html')).href, false);
    await budgets();
} catch (e) {
    check(false, 'the test ran to its end', e.stack);
} finally {
    await browser.close();
    server.close();
    fs.rmSync(profile, { recursive: true, force: true });
}
console.log(`${failures ? `${failures} check(s) failed` : 'all checks passed'} in ${seconds()} s`);
process.exit(failures ? 1 : 0);
