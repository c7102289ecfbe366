// The script language for the editor: highlighting by a small tokenizer
// whose word lists come from the compiler's own vocabulary.
import { StreamLanguage, HighlightStyle, syntaxHighlighting } from '@codemirror/language';
import { tags } from '@lezer/highlight';

const wordChar = /[-A-Za-z0-9_.:]/;

export function scriptLanguage(words) {
    const keywords = new Set(words.keywords.map((w) => w.toUpperCase()));
    const choices = new Set(words.choices.map((w) => w.toUpperCase()));
    const operands = new Set(words.operands.map((w) => w.toUpperCase()));
    return StreamLanguage.define({
        name: 'vendrak-script',
        startState: () => ({ comment: false, string: false }),
        token(stream, state) {
            if (state.comment) {
                // The star of the opening /* may close it as well: /*/.
                if (stream.match(/^.*?\*\//)) state.comment = false;
                else stream.skipToEnd();
                return 'comment';
            }
            if (state.string) {
                // Strings have no escapes and run on over line ends.
                if (stream.match(/^[^"]*"/)) state.string = false;
                else stream.skipToEnd();
                return 'string';
            }
            if (stream.eatSpace()) return null;
            if (stream.match(';')) {
                stream.skipToEnd();
                return 'comment';
            }
            if (stream.match('/*')) {
                stream.backUp(1);
                state.comment = true;
                return 'comment';
            }
            if (stream.eat('"')) {
                if (!stream.match(/^[^"]*"/)) {
                    state.string = true;
                    stream.skipToEnd();
                }
                return 'string';
            }
            if (stream.match(/^'[^']'/)) return 'character';
            if (stream.match(/^[-A-Za-z0-9_.:]+/)) {
                const word = stream.current();
                const upper = word.toUpperCase();
                if (/^-?[0-9]/.test(word)) return 'number';
                if (keywords.has(upper)) return 'keyword';
                if (choices.has(upper)) return 'atom';
                if (operands.has(upper)) return 'variableName.special';
                if (word.endsWith(':')) return 'labelName';
                return 'variableName';
            }
            if (stream.match(/^(<>|<=|>=|==)/)) return 'invalid';
            stream.next();
            return stream.current() === '=' || stream.current() === '<' || stream.current() === '>' ? 'operator' : 'punctuation';
        },
        tokenTable: { character: tags.character },
        languageData: { commentTokens: { line: ';', block: { open: '/*', close: '*/' } } },
    });
}

export const scriptHighlight = syntaxHighlighting(
    HighlightStyle.define([
        { tag: tags.keyword, color: '#0b4f9c', fontWeight: 'bold' },
        { tag: tags.atom, color: '#7a3e9d' },
        { tag: tags.special(tags.variableName), color: '#7a3e9d' },
        { tag: tags.number, color: '#116644' },
        { tag: [tags.string, tags.character], color: '#a31515' },
        { tag: tags.comment, color: '#707070', fontStyle: 'italic' },
        { tag: tags.labelName, color: '#b35900' },
        { tag: tags.invalid, color: '#ffffff', backgroundColor: '#c00000' },
    ]),
);

// The word under `pos` in the document, with where it begins and ends.
export function wordAt(doc, pos) {
    const line = doc.lineAt(pos);
    let from = pos - line.from;
    let to = from;
    while (from > 0 && wordChar.test(line.text[from - 1])) --from;
    while (to < line.text.length && wordChar.test(line.text[to])) ++to;
    if (from === to) return null;
    return { from: line.from + from, to: line.from + to, text: line.text.slice(from, to) };
}
