// Notes on vendrak's errors: where the cause stands and what to write there.
// The error's own text stays vendrak's; the notes come after it.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/findings.h"
#include "check/layout.h"
#include "check/raw_text.h"
#include "parser/vocabulary.h"

namespace vendrak::check {
namespace {

namespace words = vocabulary;

char upper(char c) { return words::ascii_upper(c); }

// The optimal string alignment distance (edits and swaps of neighbours),
// given up past `limit`.
size_t distance(std::string_view a, std::string_view b, bool fold, size_t limit) {
    constexpr size_t longest = 64;
    if (a.size() > b.size() + limit || b.size() > a.size() + limit || a.size() > longest || b.size() > longest)
        return limit + 1;
    const auto same = [&](char x, char y) { return fold ? upper(x) == upper(y) : x == y; };
    // Three rows of the table: two back, one back and this one.
    std::array<std::array<size_t, longest + 1>, 3> rows;
    for (size_t j = 0; j <= b.size(); ++j) rows[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        auto& d = rows[i % 3];
        const auto& up = rows[(i - 1) % 3];
        const auto& up2 = rows[(i + 1) % 3];
        d[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            d[j] = std::min({up[j] + 1, d[j - 1] + 1, up[j - 1] + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
            if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1]))
                d[j] = std::min(d[j], up2[j - 2] + 1);
        }
    }
    return rows[a.size() % 3][b.size()];
}

// The one candidate nearest to `word`: the same word in another letter
// case first, then one or two edits away (one for short words); none when
// two candidates are equally near.
std::string_view nearest(std::string_view word, const std::vector<std::string_view>& candidates, bool fold) {
    if (word.size() < 2) return {};
    for (const std::string_view c : candidates)
        if (!fold && words::same_word(c, word) && c != word) return c;
    const size_t limit = word.size() <= 4 ? 1 : 2;
    std::string_view best;
    size_t best_distance = limit + 1;
    bool tie = false;
    for (const std::string_view c : candidates) {
        const size_t d = distance(word, c, fold, limit);
        if (d == 0) return {};
        if (d < best_distance) {
            best = c, best_distance = d, tie = false;
        } else if (d == best_distance && c != best) {
            tie = true;
        }
    }
    return tie ? std::string_view() : best;
}

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (upper(c) >= 'A' && upper(c) <= 'F'); }

// A word that reads as a hexadecimal byte or number written without 0x:
// F1, 7E0, 0AB; or with a trailing h (62h).
std::string hex_spelling(std::string_view w) {
    if (w.size() >= 2 && upper(w.back()) == 'H') w.remove_suffix(1);
    if (w.empty() || w.size() > 8 || !std::all_of(w.begin(), w.end(), is_hex_digit)) return {};
    if (std::all_of(w.begin(), w.end(), [](char c) { return c >= '0' && c <= '9'; })) return {};
    return "0x" + std::string(w);
}

std::vector<std::string_view> keywords() {
    std::vector<std::string_view> k{words::define_keyword};
    for (const words::statement& s : words::statements)
        if (!s.keyword.empty()) k.push_back(s.keyword);
    return k;
}

uint32_t end_column(token_position at, std::string_view word) { return at.column + static_cast<uint32_t>(word.size()); }

void suggest(finding& f, token_position at, std::string_view written, std::string_view meant) {
    f.notes.push_back({at.line, at.column, "did you mean " + std::string(meant) + "?"});
    f.fix.push_back({at.line, at.column, at.line, end_column(at, written), std::string(meant)});
}

class noter {
public:
    noter(std::string_view text, const raw_script& raw) : text_(text), raw_(raw) {}

    // The word written at `at`, when one begins there.
    const raw_word* word_at(token_position at) const { return check::word_at(raw_, at); }

    const raw_word* word_before(const raw_word* w) const { return w == nullptr || w == raw_.words.data() ? nullptr : w - 1; }

    // The DEFINE of `name` in force on `line`: the last one above it.
    const raw_define* define_of(std::string_view name, uint32_t line) const {
        const raw_define* found = nullptr;
        for (const raw_define& d : raw_.defines) {
            if (d.at.line >= line) break;
            if (d.name.text == name) found = &d;
        }
        return found;
    }

    std::vector<std::string_view> define_names(uint32_t line) const {
        std::vector<std::string_view> names;
        for (const raw_define& d : raw_.defines)
            if (d.at.line < line && !d.name.text.empty()) names.push_back(d.name.text);
        return names;
    }

    // A word that a DEFINE stands for: the note points at the definition.
    void defined_value(finding& f, token_position at, std::string_view read) {
        const raw_word* w = word_at(at);
        if (w == nullptr || w->text == read) return;
        if (const raw_define* d = define_of(w->text, at.line))
            f.notes.push_back({d->name.at.line, d->name.at.column,
                               std::string(w->text) + " is defined here as " + std::string(d->value)});
    }

    // A string over several lines just before the word the parse stopped
    // at: its closing quote is likely the one missing.
    bool string_before(finding& f, token_position at) {
        const raw_word* w = word_before(word_at(at));
        if (w == nullptr || !w->text.starts_with('"')) return false;
        for (const raw_string& s : raw_.strings) {
            if (s.at != w->at || s.end.line == s.at.line) continue;
            f.notes.push_back({s.at.line, s.at.column,
                               "the string opened here runs on to line " + std::to_string(s.end.line) +
                                   ": is its closing quote missing?"});
            return true;
        }
        return false;
    }

    void never_closed(finding& f, token_position at) {
        for (const raw_string& s : raw_.strings) {
            if (s.at != at || s.closed) continue;
            f.notes.push_back({at.line, at.column, "string opened here is never closed"});
            const size_t start = line_start(at.line);
            size_t end = text_.find('\n', start);
            if (end == text_.npos) end = text_.size();
            if (end > start && text_[end - 1] == '\r') --end;
            const auto column = static_cast<uint32_t>(end - start + 1);
            f.fix.push_back({at.line, column, at.line, column, "\""});
        }
    }

    void unknown_command(finding& f, token_position at, std::string_view word) {
        if (word == "/" && text_.substr(offset(at), 2) == "//") {
            f.notes.push_back({at.line, at.column, "comments begin with ; (or stand between /* and */), not with //"});
            f.fix.push_back({at.line, at.column, at.line, at.column + 2, ";"});
            return;
        }
        const raw_word* before = word_before(word_at(at));
        // A word of hexadecimal digits alone is a number when it has a digit
        // or stands in a list of numbers.
        const bool has_digit = std::any_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
        const bool in_list = before != nullptr && is_number_word(before->text);
        if (const std::string hex = hex_spelling(word); !hex.empty() && (has_digit || in_list)) {
            f.notes.push_back({at.line, at.column, "a hexadecimal number begins with 0x: write " + hex});
            f.fix.push_back({at.line, at.column, at.line, end_column(at, word), hex});
            return;
        }
        if (string_before(f, at) || left_over(f, at, word)) return;
        if (const std::string_view k = nearest(word, keywords(), true); !k.empty() && word.size() >= 3)
            suggest(f, at, word, k);
    }

    void unknown_choice(finding& f, token_position at, std::string_view message, std::string_view word) {
        // "Unknown LED <color>": the statement's slot so named.
        const std::string_view rest = message.substr(8);
        const size_t space = rest.find(' ');
        if (space == rest.npos) return;
        const cmd_kind kind = words::statement_kind(rest.substr(0, space));
        if (kind == 0) return;
        for (const words::choice* slot : words::statements[kind].choices) {
            if (slot->slot != rest.substr(space + 1)) continue;
            const std::vector<std::string_view> choices(slot->words.begin(), slot->words.end());
            if (const std::string_view k = nearest(word, choices, true); !k.empty()) return suggest(f, at, word, k);
            std::string all;
            for (const std::string_view c : choices) all += (all.empty() ? "" : ", ") + std::string(c);
            f.notes.push_back({at.line, at.column, "write one of " + all});
            return;
        }
    }

    void expected_number(finding& f, token_position at, std::string_view word) {
        if (const std::string hex = hex_spelling(word); !hex.empty()) {
            f.notes.push_back({at.line, at.column, "a hexadecimal number begins with 0x: write " + hex});
            f.fix.push_back({at.line, at.column, at.line, end_column(at, word), hex});
            return;
        }
        const raw_word* w = word_at(at);
        if (w != nullptr && w->text == word) {
            if (const std::string_view d = nearest(word, define_names(at.line), false); !d.empty())
                return suggest(f, at, word, d);
        }
        defined_value(f, at, word);
    }

    // An operand misspelt (VBATT, ENTR), or a string opened with a curly quote.
    void invalid_operand(finding& f, token_position at) {
        const raw_word* w = word_at(at);
        if (w == nullptr) return;
        if (is_curly_quote(text_.substr(offset(at)))) {
            f.notes.push_back({at.line, at.column, "this is a typographic quote: strings begin and end with a straight \""});
            return;
        }
        std::vector<std::string_view> operands{words::var_word};
        for (const std::string_view o : words::operand_words)
            if (!o.empty()) operands.push_back(o);
        if (const std::string_view k = nearest(w->text, operands, true); !k.empty() && w->text.size() >= 3)
            suggest(f, at, w->text, k);
    }

    // A comparison of other languages: ==, >=, <=, <>, =>, =<.
    void invalid_comparison(finding& f, token_position at, std::string_view word) {
        std::string note;
        if (word == "==") {
            note = "a comparison for equality is written =";
            f.fix.push_back({at.line, at.column, at.line, end_column(at, word), "="});
        } else if (word == "<>") {
            note = "\"not equal\" is written ! (or !=)";
            f.fix.push_back({at.line, at.column, at.line, end_column(at, word), "!"});
        } else if (word == ">=" || word == "=>") {
            note = "there is no >=: compare with > and the number one below";
        } else if (word == "<=" || word == "=<") {
            note = "there is no <=: compare with < and the number one above";
        }
        if (!note.empty()) f.notes.push_back({at.line, at.column, note + "; the comparisons are = ! < > &"});
    }

    // A word the statement before could not take: a label without its
    // colon, a decimal READ identifier, commas in a list, a minus sign
    // against a word, bar limits without a point.
    bool left_over(finding& f, token_position at, std::string_view word) {
        const raw_word* w = word_at(at);
        const raw_word* before = word_before(w);
        if (w == nullptr || before == nullptr) return false;
        const raw_word* two_before = word_before(before);
        const auto note = [&](std::string text) { f.notes.push_back({at.line, at.column, std::move(text)}); };
        for (size_t i = 0; i + 1 < raw_.words.size(); ++i) {
            const std::string_view jump = raw_.words[i].text;
            if ((words::same_word(jump, "GOTO") || words::same_word(jump, "GOSUB")) && raw_.words[i + 1].text == word &&
                !is_number_word(word)) {
                note("a label ends with a colon: write " + std::string(word) + ":");
                f.fix.push_back({at.line, end_column(at, word), at.line, end_column(at, word), ":"});
                return true;
            }
        }
        const bool decimal = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (decimal && two_before != nullptr && words::same_word(two_before->text, "READ") &&
            (words::same_word(before->text, "SID") || words::same_word(before->text, "MSG"))) {
            const std::string hex = format("0x%lX", std::strtoul(std::string(word).c_str(), nullptr, 10));
            note("READ takes its identifier in hexadecimal, with a lower-case 0x: " + std::string(word) + " is " + hex);
            return true;
        }
        if (word == "," && is_number_word(before->text)) {
            note("the numbers of a list stand apart without commas");
            return true;
        }
        if (word.size() > 1 && word[0] == '-' && (two_before == nullptr || !is_number_word(before->text))) {
            note("a minus sign written against a word belongs to it: put a blank after the -");
            f.fix.push_back({at.line, at.column + 1, at.line, at.column + 1, " "});
            return true;
        }
        if (decimal && words::operand_kind(before->text) != EXPR_NONE && two_before != nullptr &&
            is_number_word(two_before->text)) {
            note("bar limits are read only when the first has a decimal point: write " + std::string(word) + ".0");
            f.fix.push_back({at.line, end_column(at, word), at.line, end_column(at, word), ".0"});
            return true;
        }
        return false;
    }

private:
    static bool is_curly_quote(std::string_view w) {
        return w.starts_with("\xE2\x80\x9C") || w.starts_with("\xE2\x80\x9D") || w.starts_with("\xE2\x80\x9E");
    }

    static bool is_number_word(std::string_view w) {
        return !w.empty() && ((w[0] >= '0' && w[0] <= '9') || w[0] == '-' || w[0] == '+');
    }

    size_t line_start(uint32_t line) const {
        size_t at = 0;
        for (uint32_t l = 1; l < line && at != text_.npos; ++l) {
            at = text_.find('\n', at);
            if (at != text_.npos) ++at;
        }
        return at == text_.npos ? text_.size() : at;
    }
    size_t offset(token_position at) const { return std::min(text_.size(), line_start(at.line) + at.column - 1); }

    std::string_view text_;
    const raw_script& raw_;
};

// Blocks pair up as program assembly pairs them, innermost first; the
// indentation tells which block the author left open: an ENDIF (WHILE)
// written at the column of an outer IF (DO) closes that one in the
// author's mind, and every block opened inside it since is left open.
std::optional<size_t> left_open(const parsed_script& p, cmd_kind open, cmd_kind close) {
    struct block {
        size_t statement;
        uint32_t column;
    };
    std::vector<block> stack;
    std::optional<size_t> suspect;
    for (size_t i = 0; i < p.tree.commands.size(); ++i) {
        const cmd_kind k = p.tree.commands[i].kind;
        const uint32_t column = p.at(p.first(i)).column;
        if (k == open) stack.push_back({i, column});
        if (k != close || stack.empty()) continue;
        size_t depth = 0;
        while (depth < stack.size() && depth < 64 && stack[stack.size() - 1 - depth].column != column) ++depth;
        if (depth == stack.size() || depth == 64) depth = 0;
        if (depth > 0 && !suspect) suspect = stack[stack.size() - depth].statement;
        stack.resize(stack.size() - 1 - depth);
    }
    if (suspect) return suspect;
    if (!stack.empty()) return stack.back().statement;
    return std::nullopt;
}

edit endif_for(const parsed_script& p, size_t open) {
    const token_position opened = p.at(p.first(open));
    const std::string line = std::string(opened.column - 1, ' ') + "ENDIF\n";
    for (size_t k = open + 1; k < p.tree.commands.size(); ++k) {
        const token_position at = p.at(p.first(k));
        if (at.line == opened.line || at.column > opened.column) continue;
        if (at.column == opened.column && p.tree.commands[k].kind == CMD_ELSE) continue;
        // Only where the statement begins its line: the text before it is blanks.
        return {at.line, 1, at.line, 1, line};
    }
    const auto lines = static_cast<uint32_t>(std::count(p.text.begin(), p.text.end(), '\n'));
    const size_t last = p.text.rfind('\n');
    const auto column = static_cast<uint32_t>(p.text.size() - (last == p.text.npos ? 0 : last + 1)) + 1;
    return {lines + 1, column, lines + 1, column, (column > 1 ? "\n" : "") + line};
}

}  // namespace

void note_parse_error(std::string_view text, const raw_script& raw, finding& f) {
    noter n(text, raw);
    const token_position at{f.line, f.column};
    const std::string_view m = f.message;
    const auto after = [&](std::string_view prefix) { return m.substr(prefix.size()); };
    if (m.starts_with("Unknown command: ")) {
        n.unknown_command(f, at, after("Unknown command: "));
    } else if (m.starts_with("Unknown ")) {
        const raw_word* w = n.word_at(at);
        if (w != nullptr) n.unknown_choice(f, at, m, w->text);
    } else if (m.starts_with("expected a number, but found: ")) {
        n.expected_number(f, at, after("expected a number, but found: "));
    } else if (m.starts_with("Invalid primary expression: ")) {
        n.invalid_operand(f, at);
    } else if (m.starts_with("Invalid test expression: ")) {
        n.invalid_comparison(f, at, after("Invalid test expression: "));
    } else if (m.starts_with("Token too long: ")) {
        n.never_closed(f, at);
    } else if (m.starts_with("expected ")) {
        const raw_word* w = n.word_at(at);
        if (w != nullptr) n.defined_value(f, at, "");
        n.string_before(f, at);
    }
}

void script_error_notes::add(size_t statement, finding& f) {
    const parsed_script& p = p_;
    noter n(p.text, raw_);
    const std::string_view m = f.message;
    const token_position at{f.line, f.column};
    const command& c = p.tree.commands[statement];
    if (m.starts_with("Invalid label '")) {
        if (lookups_left_ == 0) return;
        --lookups_left_;
        if (!labels_) {
            labels_.emplace();
            for (const command& l : p.tree.commands)
                if (l.kind == CMD_LABEL) labels_->push_back(p.tree.text(std::get<label_form>(l.form).name));
        }
        const std::string_view name = p.tree.text(std::get<label_form>(c.form).name);
        const raw_word* w = n.word_at(at);
        if (const std::string_view l = nearest(name, *labels_, false);
            !l.empty() && w != nullptr && w->text.starts_with(name))
            suggest(f, at, name, l);
        return;
    }
    const bool if_open = m == "Unterminated IF", do_open = m == "Unterminated DO";
    if (if_open || do_open) {
        std::optional<std::optional<size_t>>& found = if_open ? open_if_ : open_do_;
        if (!found) found = if_open ? left_open(p, CMD_IF, CMD_ENDIF) : left_open(p, CMD_DO, CMD_WHILE);
        const std::optional<size_t> open = *found;
        if (!open) return;
        const token_position opened = p.at(p.first(*open));
        // "ELSE IF": an IF on the line of an ELSE, right after it.
        if (if_open && *open > 0 && p.tree.commands[*open - 1].kind == CMD_ELSE &&
            p.at(p.first(*open - 1)).line == opened.line) {
            const token_position else_at = p.at(p.first(*open - 1));
            f.notes.push_back({else_at.line, else_at.column,
                               "there is no ELSE IF: this IF opens a block of its own inside the ELSE, which needs its "
                               "own ENDIF"});
            return;
        }
        f.notes.push_back({opened.line, opened.column,
                           if_open ? "this IF is never closed: add its ENDIF" : "this DO is never closed: add its WHILE"});
        // The ENDIF goes before the first statement written left of the IF's
        // block (an ELSE at the IF's column belongs to it), or at the end.
        if (if_open) {
            if (!endif_fix_) endif_fix_ = endif_for(p, *open);
            f.fix.push_back(*endif_fix_);
        }
        return;
    }
    if (m == "Invalid test expression" && (c.kind == CMD_IF || c.kind == CMD_WHILE)) {
        const test_expr& t = std::get<condition_form>(c.form).test;
        const bool vbat = t.lhs.kind == EXPR_VBAT || t.rhs.kind == EXPR_VBAT;
        const bool decimal = t.lhs.kind == EXPR_FLOAT_NUMBER || t.rhs.kind == EXPR_FLOAT_NUMBER;
        if (vbat && decimal)
            f.notes.push_back({at.line, at.column, "VBAT compares only with whole numbers: compare with a whole number, or "
                                                   "copy VBAT into a VAR first and compare that"});
    }
    const statement_layout layout = lay_out(p.tree, p.positions, statement);
    for (const uint32_t part : layout.parts) {
        if (p.at(part) != at) continue;
        n.defined_value(f, at, p.token(part));
        break;
    }
}

}  // namespace vendrak::check
