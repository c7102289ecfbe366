// Editing help: highlights, rename, quick fixes, formatting, folding,
// signature help and semantic tokens, from the outline of the text as it
// stands and the findings of its last check.
#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "fmt/formatter.h"
#include "lsp/document.h"
#include "lsp/help.h"
#include "parser/vocabulary.h"

namespace vendrak::lsp {
namespace {

namespace words = vocabulary;

std::string_view raw(const document& d, size_t k) {
    const word& w = d.words.words[k];
    return std::string_view(d.text).substr(w.begin, w.end - w.begin);
}

// A statement keyword, DEFINE, a choice word or an operand word.
bool is_language_word(std::string_view w) {
    if (words::statement_kind(w) != 0 || words::same_word(w, words::define_keyword) ||
        words::operand_kind(w) != EXPR_NONE || words::same_word(w, words::var_word))
        return true;
    for (const words::statement& s : words::statements)
        for (const words::choice* c : s.choices)
            if (c->code(w) != 0) return true;
    return false;
}

bool is_choice_word(std::string_view w) {
    for (const words::statement& s : words::statements)
        for (const words::choice* c : s.choices)
            if (c->code(w) != 0) return true;
    return false;
}

// The symbol of `list` (ordered by word) at word `k`, or null.
const symbol* symbol_at(const std::vector<symbol>& list, size_t k) {
    auto found = std::lower_bound(list.begin(), list.end(), k, [](const symbol& s, size_t w) { return s.word < w; });
    return found != list.end() && found->word == k ? &*found : nullptr;
}

// For every word: whether it stands inside a DEFINE line (the keyword, the
// name or the value), where no statement begins.
std::vector<bool> in_definitions(const document& d) {
    std::vector<bool> inside(d.words.words.size(), false);
    for (const symbol& s : d.words.defines)
        for (size_t k = s.word > 0 ? s.word - 1 : s.word; k < inside.size() && d.words.words[k].begin < s.end; ++k)
            inside[k] = true;
    return inside;
}

// The byte offset where LF line `line` (from 0) begins, or the text's end.
size_t lf_line_start(std::string_view text, size_t line) {
    size_t at = 0;
    for (; line > 0 && at < text.size(); --line) {
        const size_t lf = text.find('\n', at);
        if (lf == text.npos) return text.size();
        at = lf + 1;
    }
    return at;
}

std::vector<std::string_view> lf_lines(std::string_view text) {
    std::vector<std::string_view> out;
    for (size_t at = 0; at <= text.size();) {
        const size_t lf = std::min(text.find('\n', at), text.size());
        out.push_back(text.substr(at, lf - at));
        at = lf + 1;
    }
    return out;
}

}  // namespace

json highlights(const document& d, size_t offset) {
    const json all = references(d, offset, true);
    const json uses = references(d, offset, false);
    json out = json::array();
    for (const json& place : all) {
        const bool read = std::find(uses.begin(), uses.end(), place) != uses.end();
        out.push_back({{"range", place.at("range")}, {"kind", read ? 2 : 3}});
    }
    return out;
}

json prepare_rename(const document& d, size_t offset) {
    const size_t k = d.words.word_at(offset);
    if (k == d.words.words.size() || d.words.words[k].kind != word::name) return nullptr;
    const meaning m = meaning_at(d, offset);
    if (m.what == meaning::none) {
        if (is_language_word(word_text(d.text, d.words.words[k])))
            throw request_failed(word_text(d.text, d.words.words[k]) + " is a word of the language and cannot be renamed");
        return nullptr;
    }
    const size_t begin = d.words.words[k].begin;
    return {{"range", d.range(begin, begin + m.name.size())}, {"placeholder", m.name}};
}

json rename(const document& d, size_t offset, const std::string& new_name) {
    if (prepare_rename(d, offset).is_null()) throw request_failed("only labels and DEFINE names can be renamed");
    const bool valid = !new_name.empty() && new_name.size() <= 1023 &&
                       std::all_of(new_name.begin(), new_name.end(), [](char c) {
                           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
                       }) &&
                       !(new_name[0] >= '0' && new_name[0] <= '9');
    if (!valid) throw request_failed("\"" + new_name + "\" is no name: letters, digits and _, not beginning with a digit");
    if (is_language_word(new_name)) throw request_failed(new_name + " is a word of the language");
    json edits = json::array();
    for (const json& place : references(d, offset, true)) edits.push_back({{"range", place.at("range")}, {"newText", new_name}});
    return {{"changes", {{d.uri, std::move(edits)}}}};
}

json code_actions(const document& d, const json& range) {
    json out = json::array();
    // Fixes are offered for the text they were made for only.
    if (d.checked != d.generation) return out;
    const auto first = d.offset_of(range.at("start")).value_or(d.text.size());
    const auto last = d.offset_of(range.at("end")).value_or(d.text.size());
    const uint32_t first_line = d.lines.position_of(first).line, last_line = d.lines.position_of(last).line;
    for (const check::finding& f : d.script_findings) {
        if (f.fix.empty() || f.line == 0) continue;
        const uint32_t line = d.lines.position_of(d.lines.offset_of_place(f.line, f.column)).line;
        if (line < first_line || line > last_line) continue;
        json edits = json::array();
        for (const check::edit& e : f.fix) {
            const size_t begin = d.lines.offset_of_place(e.line, e.column);
            const size_t end = std::max(begin, d.lines.offset_of_place(e.end_line, e.end_column));
            edits.push_back({{"range", d.range(begin, end)}, {"newText", e.text}});
        }
        // The title says what the fix writes: a note says it when there is
        // one ("did you mean GOSUB?"), else the one edit does.
        std::string title;
        const check::edit& e = f.fix.front();
        const size_t begin = d.lines.offset_of_place(e.line, e.column);
        const size_t end = std::max(begin, d.lines.offset_of_place(e.end_line, e.end_column));
        const std::string old = d.text.substr(begin, end - begin);
        if (f.fix.size() > 1)
            title = "Fix: " + f.message;
        else if (e.text.empty())
            title = "Remove \"" + old + "\"";
        else if (old.empty())
            title = "Insert \"" + e.text.substr(0, e.text.find('\n')) + "\"";
        else
            title = "Write \"" + e.text + "\" for \"" + old + "\"";
        out.push_back({{"title", title},
                       {"kind", "quickfix"},
                       {"isPreferred", true},
                       {"diagnostics", json::array({diagnostic(d, f)})},
                       {"edit", {{"changes", {{d.uri, std::move(edits)}}}}}});
    }
    return out;
}

json formatting(const document& d, const json* range) {
    const fmt::format_result formatted = fmt::format_script(d.text);
    if (!formatted.ok)
        throw request_failed("the script cannot be formatted until it compiles: line " + std::to_string(formatted.line) +
                             ": " + formatted.message);
    json out = json::array();
    if (formatted.text == d.text) return out;
    if (!range) {
        // One edit of the lines that differ, so that the editor keeps its
        // place in the rest.
        const std::string_view a = d.text, b = formatted.text;
        size_t prefix = 0;
        while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
        prefix = a.rfind('\n', prefix == 0 ? 0 : prefix - 1) == a.npos ? 0 : a.rfind('\n', prefix - 1) + 1;
        size_t suffix = 0;
        while (suffix < a.size() - prefix && suffix < b.size() - prefix && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
            ++suffix;
        while (suffix > 0 && a[a.size() - suffix] != '\n') --suffix;
        out.push_back({{"range", d.range(prefix, a.size() - suffix)},
                       {"newText", std::string(b.substr(prefix, b.size() - suffix - prefix))}});
        return out;
    }
    const std::vector<std::string_view> before = lf_lines(d.text), after = lf_lines(formatted.text);
    if (before.size() != after.size())
        throw request_failed("the formatting of this range moves lines outside it: format the whole script");
    const auto line_of = [&](const json& position) {
        const size_t at = d.offset_of(position).value_or(d.text.size());
        return static_cast<size_t>(std::count(d.text.begin(), d.text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    };
    const size_t first = line_of(range->at("start")), last = std::min(line_of(range->at("end")), before.size() - 1);
    for (size_t line = first; line <= last; ++line) {
        if (before[line] == after[line]) continue;
        const size_t begin = lf_line_start(d.text, line);
        out.push_back({{"range", d.range(begin, begin + before[line].size())}, {"newText", std::string(after[line])}});
    }
    return out;
}

json folding_ranges(const document& d) {
    json out = json::array();
    const auto line_of = [&](size_t offset) { return d.lines.position_of(offset).line; };
    // Comments first, in order: a block comment over several lines, or a
    // run of line comments on lines one after another.
    for (size_t c = 0; c < d.words.comments.size(); ++c) {
        const auto [begin, end] = d.words.comments[c];
        const uint32_t first = line_of(begin);
        uint32_t last = line_of(std::max(begin, end - 1));
        if (d.text[begin] == ';') {
            while (c + 1 < d.words.comments.size() && d.text[d.words.comments[c + 1].first] == ';' &&
                   line_of(d.words.comments[c + 1].first) == last + 1)
                last = line_of(d.words.comments[++c].first);
        }
        if (last > first) out.push_back({{"startLine", first}, {"endLine", last}, {"kind", "comment"}});
    }
    // IF ... ENDIF and DO ... WHILE: the keywords that open and
    // close blocks, not where a jump takes one as a label or a DEFINE line
    // holds it.
    const std::vector<bool> defining = in_definitions(d);
    std::vector<size_t> ifs, dos;
    json blocks = json::array();
    auto close = [&](std::vector<size_t>& open, size_t k) {
        if (open.empty()) return;
        const uint32_t first = line_of(d.words.words[open.back()].begin);
        const uint32_t closing = line_of(d.words.words[k].begin);
        open.pop_back();
        if (closing > first + 1) blocks.push_back({{"startLine", first}, {"endLine", closing - 1}});
    };
    for (size_t k = 0; k < d.words.words.size(); ++k) {
        if (d.words.words[k].kind != word::name || defining[k] || symbol_at(d.words.jumps, k)) continue;
        const std::string_view w = raw(d, k);
        if (words::same_word(w, "IF"))
            ifs.push_back(k);
        else if (words::same_word(w, "ENDIF"))
            close(ifs, k);
        else if (words::same_word(w, "DO"))
            dos.push_back(k);
        else if (words::same_word(w, "WHILE"))  // ENDDO leaves a loop; only WHILE closes it
            close(dos, k);
    }
    for (json& b : blocks) out.push_back(std::move(b));
    return out;
}

json signature_help(const document& d, size_t offset) {
    // The first word of the statement: the first word on the cursor's line.
    const size_t lf = offset == 0 ? std::string::npos : d.text.rfind('\n', offset - 1);
    const size_t line_start = lf == std::string::npos ? 0 : lf + 1;
    auto first = std::lower_bound(d.words.words.begin(), d.words.words.end(), line_start,
                                  [](const word& w, size_t o) { return w.begin < o; });
    if (first == d.words.words.end() || first->begin >= offset || first->kind != word::name) return nullptr;
    if (d.words.in_comment(offset)) return nullptr;
    const size_t k = static_cast<size_t>(first - d.words.words.begin());
    const auto help = help_for(raw(d, k));
    if (!help || words::same_word(raw(d, k), words::define_keyword)) return nullptr;
    // The operand being typed: words after the keyword that begin before
    // the cursor, the last of them still being typed when the cursor is at
    // its end.
    size_t typed = 0;
    bool in_word = false;
    for (size_t w = k + 1; w < d.words.words.size() && d.words.words[w].begin < offset; ++w) {
        ++typed;
        in_word = d.words.words[w].end >= offset;
    }
    const size_t active = in_word ? typed - 1 : typed;
    json signatures = json::array();
    for (size_t at = 0; at <= help->syntax.size();) {
        const size_t end = std::min(help->syntax.find('\n', at), help->syntax.size());
        const std::string label = help->syntax.substr(at, end - at);
        json parameters = json::array();
        for (size_t p = label.find(' '); p != std::string::npos;) {
            const size_t b = p + 1, e = std::min(label.find(' ', b), label.size());
            if (e > b) parameters.push_back({{"label", json::array({b, e})}});
            p = e < label.size() ? e : std::string::npos;
        }
        signatures.push_back({{"label", label}, {"parameters", std::move(parameters)}});
        at = end + 1;
    }
    // The first form with room for the operand being typed.
    size_t chosen = 0;
    while (chosen + 1 < signatures.size() && signatures[chosen]["parameters"].size() <= active) ++chosen;
    return {{"signatures", std::move(signatures)}, {"activeSignature", chosen}, {"activeParameter", active}};
}

// The token types, by number.
enum token_type : unsigned { keyword_token, label_token, macro_token, variable_token, number_token, string_token,
                             comment_token, enum_member_token };

json semantic_token_legend() {
    return {{"tokenTypes", {"keyword", "function", "macro", "variable", "number", "string", "comment", "enumMember"}},
            {"tokenModifiers", json::array()}};
}

json semantic_tokens(const document& d) {
    std::vector<unsigned> data;
    position previous{};
    // A token over several lines is given line by line.
    auto add = [&](size_t begin, size_t end, token_type type) {
        while (begin < end) {
            size_t stop = begin;
            while (stop < end && d.text[stop] != '\n' && d.text[stop] != '\r') ++stop;
            if (stop > begin) {
                const position a = d.lines.position_of(begin);
                const position b = d.lines.position_of(stop);
                data.insert(data.end(), {a.line - previous.line, a.line == previous.line ? a.character - previous.character : a.character,
                                         b.character - a.character, static_cast<unsigned>(type), 0u});
                previous = a;
            }
            begin = stop + 1;
        }
    };
    // DEFINE names stand for their value from the end of their definition.
    std::unordered_set<std::string> defined;
    auto next_define = d.words.defines.begin();
    const auto& comments = d.words.comments;
    auto comment = comments.begin();
    for (size_t k = 0; k < d.words.words.size(); ++k) {
        const word& w = d.words.words[k];
        for (; comment != comments.end() && comment->first < w.begin; ++comment)
            add(comment->first, std::min(comment->second, d.text.size()), comment_token);
        for (; next_define != d.words.defines.end() && next_define->end <= w.begin; ++next_define) defined.insert(next_define->name);
        if (w.kind == word::quoted) {
            add(w.begin, w.end, string_token);
            continue;
        }
        const std::string_view text = raw(d, k);
        if (w.kind != word::name) continue;
        const std::string name = word_text(d.text, w);
        if (symbol_at(d.words.defines, k) || defined.contains(name))
            add(w.begin, w.end, macro_token);
        else if (const symbol* s = symbol_at(d.words.labels, k) ? symbol_at(d.words.labels, k) : symbol_at(d.words.jumps, k))
            add(w.begin, w.begin + s->name.size(), label_token);
        else if (words::same_word(name, words::var_word))  // VAR[n] names a variable, assigned or read
            add(w.begin, w.end, variable_token);
        else if (words::statement_kind(name) != 0 || words::same_word(name, words::define_keyword))
            add(w.begin, w.end, keyword_token);
        else if (is_choice_word(name))
            add(w.begin, w.end, enum_member_token);
        else if (words::operand_kind(name) != EXPR_NONE)
            add(w.begin, w.end, variable_token);
        else if ((text[0] >= '0' && text[0] <= '9') ||
                 (text.size() > 1 && (text[0] == '-' || text[0] == '.') && text[1] >= '0' && text[1] <= '9'))
            add(w.begin, w.end, number_token);
    }
    for (; comment != comments.end(); ++comment) add(comment->first, std::min(comment->second, d.text.size()), comment_token);
    return {{"data", std::move(data)}};
}

}  // namespace vendrak::lsp
