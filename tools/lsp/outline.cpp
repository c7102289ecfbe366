#include "lsp/outline.h"

#include <algorithm>

#include "parser/vocabulary.h"

namespace vendrak::lsp {
namespace {

namespace words = vocabulary;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_ident(char c) { return is_alnum(c) || c == '-' || c == '.' || c == ':' || c == '_'; }
bool is_comparison(char c) { return c == '<' || c == '=' || c == '>' || c == '!'; }

// The compiler passes over carriage returns after every byte it takes into
// a word, so "A\rB" is one word.
size_t skip_cr(std::string_view t, size_t at) {
    while (at < t.size() && t[at] == '\r') ++at;
    return at;
}

// A run of bytes of one class; returns the end of its last byte and leaves
// `at` after the carriage returns that follow.
template <class Class>
size_t run(std::string_view t, size_t& at, Class in_class) {
    size_t last = at;
    while (at < t.size() && in_class(t[at])) {
        last = at + 1;
        at = skip_cr(t, at + 1);
    }
    return last;
}

struct piece {
    size_t begin, end, next;
    enum { word_piece, comment, stop } what;
    word::kind_t kind = word::other;
};

// The word or comment at `at`, which is no blank; `next` is where the scan
// goes on.
piece next_piece(std::string_view t, size_t at) {
    const char c = t[at];
    size_t next = at;
    if (is_ident(c)) {
        const size_t end = run(t, next, is_ident);
        return {at, end, next, piece::word_piece, word::name};
    }
    if (is_comparison(c)) {
        const size_t end = run(t, next, is_comparison);
        return {at, end, next, piece::word_piece};
    }
    if (c == '"' || c == '\'') {
        // No escapes: up to the same quote, or to the end of the text.
        const size_t close = t.find(c, at + 1);
        const size_t end = close == t.npos ? t.size() : close + 1;
        return {at, end, end, piece::word_piece, word::quoted};
    }
    if (c == ';') {
        // Up to the line feed; the comment takes the line's end, so that a
        // place at the end of the line is in it.
        size_t end = at;
        while (end < t.size() && t[end] != '\n' && t[end] != '\0') ++end;
        return {at, end + 1, end, piece::comment};
    }
    next = skip_cr(t, at + 1);
    if (c == '/' && next < t.size() && t[next] == '*') {
        // The star of "/*" may also close it: "/*/" is a whole comment.
        const size_t close = t.find("*/", next);
        const size_t end = close == t.npos ? t.size() : close + 2;
        return {at, end, end, piece::comment};
    }
    // A NUL byte ends the script as the end of the input does.
    if (c == '\0') return {at, at, t.size(), piece::stop};
    return {at, at + 1, next, piece::word_piece};
}

}  // namespace

size_t word_end(std::string_view text, size_t begin) {
    if (begin >= text.size() || is_space(text[begin])) return begin;
    const piece p = next_piece(text, begin);
    return p.what == piece::word_piece ? p.end : begin;
}

std::string word_text(std::string_view text, const word& w) {
    std::string out(text.substr(w.begin, w.end - w.begin));
    std::erase(out, '\r');
    return out;
}

std::string_view label_name(std::string_view text) {
    while (text.size() > 1 && text.back() == ':') text.remove_suffix(1);
    return text;
}

outline scan_outline(std::string_view text) {
    outline out;
    for (size_t at = 0; at < text.size();) {
        if (is_space(text[at])) {
            ++at;
            continue;
        }
        const piece p = next_piece(text, at);
        if (p.what == piece::stop) break;
        if (p.what == piece::comment)
            out.comments.emplace_back(p.begin, p.end);
        else
            out.words.push_back({p.begin, p.end, p.kind});
        at = p.next;
    }

    auto is_word = [&](size_t k, std::string_view keyword) {
        const word& w = out.words[k];
        return w.kind == word::name && words::same_word(text.substr(w.begin, w.end - w.begin), keyword);
    };
    // A DEFINE in the value of another is text, not a definition.
    size_t value_end = 0;
    for (size_t k = 0; k < out.words.size(); ++k) {
        const word& w = out.words[k];
        if (w.kind != word::name) continue;
        if (w.begin >= value_end && k > 0 && is_word(k - 1, words::define_keyword)) {
            // The value: every word up to the line feed after the name.
            const size_t line_end = std::min(text.find('\n', w.end), text.size());
            value_end = w.end;
            for (size_t v = k + 1; v < out.words.size() && out.words[v].begin < line_end; ++v) value_end = out.words[v].end;
            out.defines.push_back({word_text(text, w), k, value_end});
            continue;
        }
        const bool after_jump = k > 0 && (is_word(k - 1, "GOTO") || is_word(k - 1, "GOSUB")) &&
                                !(k > 1 && is_word(k - 2, words::define_keyword));
        const std::string name = word_text(text, w);
        if (after_jump)
            out.jumps.push_back({std::string(label_name(name)), k, w.end});
        else if (name.size() >= 2 && name.back() == ':' && is_alnum(name.front()))
            out.labels.push_back({std::string(label_name(name)), k, w.end});
    }
    return out;
}

size_t outline::word_at(size_t offset) const {
    auto after = std::upper_bound(words.begin(), words.end(), offset, [](size_t o, const word& w) { return o < w.begin; });
    if (after == words.begin()) return words.size();
    size_t k = static_cast<size_t>(after - words.begin()) - 1;
    // Right between two words, a name before the place wins.
    if (words[k].kind != word::name && words[k].begin == offset && k > 0 && words[k - 1].end == offset &&
        words[k - 1].kind == word::name)
        --k;
    return offset <= words[k].end ? k : words.size();
}

bool outline::in_comment(size_t offset) const {
    auto after = std::lower_bound(comments.begin(), comments.end(), offset,
                                  [](const std::pair<size_t, size_t>& c, size_t o) { return c.first < o; });
    if (after == comments.begin()) return false;
    return offset < std::prev(after)->second;
}

}  // namespace vendrak::lsp
