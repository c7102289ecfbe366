// window.vendrak: the page's API for scripts and tests, and the one its own
// buttons use. Every call runs in the worker and gives a promise.
import workerSource from 'vendrak-worker';

export function createApi() {
    // The worker is made from its bundled source, so the page works from a
    // file on disk as well as from a web server.
    const url = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));
    const worker = new Worker(url);
    const pending = new Map();
    let next = 1;
    worker.onmessage = (event) => {
        const { id, result, error } = event.data;
        const call = pending.get(id);
        if (!call) return;
        pending.delete(id);
        if (error !== undefined) call.reject(new Error(error));
        else call.resolve(result);
    };
    worker.onerror = (event) => {
        for (const call of pending.values()) call.reject(new Error(event.message || 'the worker stopped'));
        pending.clear();
    };
    const send = (op, ...args) =>
        new Promise((resolve, reject) => {
            const id = next++;
            pending.set(id, { resolve, reject });
            worker.postMessage({ id, op, args });
        });
    const files = (map) => {
        const out = {};
        for (const [name, bytes] of Object.entries(map || {})) out[name] = bytes;
        return out;
    };

    const words = send('words');
    return {
        ready: words.then(() => undefined),
        check: (script, vbfFiles) => send('check', script, files(vbfFiles)),
        compile: (script, vbfFiles, options = {}) =>
            send('compile', script, files(vbfFiles), { encrypt: Boolean(options && options.encrypt), listing: !(options && options.listing === false) }),
        inspect: (container, name) => send('inspect', container, name),
        format: (script) => send('format', script),
        // For the page: the help of a keyword and the words to highlight.
        help: (word) => send('help', word),
        words: () => words,
    };
}
