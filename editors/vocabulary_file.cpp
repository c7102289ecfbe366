// Writes a file that spells the words of the script language, for an editor
// or a fuzzer, from the vocabulary table the compiler reads them with, so a
// word is added to the language in one place.
//
// Usage: vendrak_vocabulary_file FORMAT TEMPLATE OUTPUT
//   FORMAT: textmate, vim, dict or lsp-dict
//
// The template is copied with its placeholders filled in:
//   @WORDS:group@  the words of a group, joined as FORMAT joins alternatives
//                  ("IF|ELSE|ENDIF" for textmate, "IF ELSE ENDIF" for vim)
//   @CHOICES@      what colours the choice words after their statements
//                  (textmate: a list of patterns; vim: syntax lines)
//   @DICT@         one fuzzer dictionary entry per word (dict, lsp-dict)
// An unknown placeholder is an error, so a mistyped one fails the build.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "parser/vocabulary.h"

namespace {

namespace v = vendrak::vocabulary;
using words = std::vector<std::string_view>;

// Statements that steer the flow have their own colour; the kinds say which.
bool is_one_of(uint32_t kind, std::initializer_list<uint32_t> kinds) {
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}
constexpr std::initializer_list<uint32_t> conditional_kinds = {vendrak::CMD_IF, vendrak::CMD_ELSE, vendrak::CMD_ENDIF};
constexpr std::initializer_list<uint32_t> loop_kinds = {vendrak::CMD_DO, vendrak::CMD_WHILE, vendrak::CMD_ENDDO};
constexpr std::initializer_list<uint32_t> flow_kinds = {vendrak::CMD_EXIT, vendrak::CMD_RETURN};
constexpr std::initializer_list<uint32_t> jump_kinds = {vendrak::CMD_GOTO, vendrak::CMD_GOSUB};

words statements_of(std::initializer_list<uint32_t> kinds) {
    words out;
    for (const v::statement& s : v::statements)
        if (!s.keyword.empty() && is_one_of(s.kind, kinds)) out.push_back(s.keyword);
    return out;
}

// The statements of no flow group and not VAR; `plain`: only those without
// choice words.
words other_statements(bool plain) {
    words out;
    for (const v::statement& s : v::statements) {
        if (s.keyword.empty() || s.kind == vendrak::CMD_VAR) continue;
        if (is_one_of(s.kind, conditional_kinds) || is_one_of(s.kind, loop_kinds) || is_one_of(s.kind, flow_kinds) ||
            is_one_of(s.kind, jump_kinds))
            continue;
        if (plain && !s.choices.empty()) continue;
        out.push_back(s.keyword);
    }
    return out;
}

bool is_key(uint32_t kind) { return kind >= vendrak::EXPR_ENTER && kind <= vendrak::EXPR_ANY; }

// Operand words: the keys, NIL, the words before a bracketed range, and the
// values read from the device.
words operands(char which) {
    words out;
    for (uint32_t kind = 0; kind <= vendrak::EXPR_LAST; ++kind) {
        const std::string_view w = v::operand_word(kind);
        if (w.empty()) continue;
        const char group = is_key(kind) ? 'k' : kind == vendrak::EXPR_NIL ? 'n' : v::is_ranged(kind) ? 'r' : 'v';
        if (group == which) out.push_back(w);
    }
    return out;
}

std::map<std::string, words, std::less<>> groups() {
    return {
        {"conditional", statements_of(conditional_kinds)},
        {"loop", statements_of(loop_kinds)},
        {"flow", statements_of(flow_kinds)},
        {"jump", statements_of(jump_kinds)},
        {"define", {v::define_keyword}},
        {"var", {v::var_word}},
        {"statements", other_statements(false)},
        {"plain-statements", other_statements(true)},
        {"values", operands('v')},
        {"keys", operands('k')},
        {"nil", operands('n')},
        {"ranged", operands('r')},
    };
}

std::string join(const words& list, std::string_view between) {
    std::string out;
    for (const std::string_view w : list) {
        if (!out.empty()) out += between;
        out += w;
    }
    return out;
}

// The statements that share one list of choice slots, in table order.
struct choice_statements {
    std::span<const v::choice* const> slots;
    words keywords;
};

std::vector<choice_statements> choice_statement_groups() {
    std::vector<choice_statements> out;
    for (const v::statement& s : v::statements) {
        if (s.choices.empty()) continue;
        auto same = std::find_if(out.begin(), out.end(), [&](const choice_statements& c) {
            return std::equal(c.slots.begin(), c.slots.end(), s.choices.begin(), s.choices.end());
        });
        if (same == out.end()) same = out.insert(out.end(), {s.choices, {}});
        same->keywords.push_back(s.keyword);
    }
    return out;
}

// A word of the language stands alone: no word character before or after.
constexpr std::string_view not_after = "(?<![-A-Za-z0-9_.:])";
constexpr std::string_view not_before = "(?![-A-Za-z0-9_.:])";

std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

// One pattern per group of statements: the keyword, then its first choice
// word, then each further choice word when it is there (LED GREEN, LED
// GREEN ON).
std::string textmate_choices() {
    std::string out = "[";
    bool first = true;
    for (const choice_statements& c : choice_statement_groups()) {
        std::string match = "(?i)" + std::string(not_after) + "(" + join(c.keywords, "|") + ")";
        std::string captures = "\"1\": {\"name\": \"keyword.other.statement.vsc\"}";
        for (size_t i = 0; i < c.slots.size(); ++i) {
            const std::string slot = "[ \\t]+(" + join(words(c.slots[i]->words.begin(), c.slots[i]->words.end()), "|") +
                                     ")" + std::string(not_before);
            match += i == 0 ? slot : "(?:" + slot;
            captures += ", \"" + std::to_string(i + 2) + "\": {\"name\": \"support.constant.vsc\"}";
        }
        for (size_t i = 1; i < c.slots.size(); ++i) match += ")?";
        out += first ? "\n" : ",\n";
        first = false;
        out += "        {\n          \"match\": " + json_string(match) + ",\n          \"captures\": {" + captures +
               "}\n        }";
    }
    return out + "\n      ]";
}

// A statement's keyword leads to its first choice slot, each slot to the
// next; every slot is a group of its own, shown as vscChoice.
std::string vim_choices() {
    std::vector<const v::choice*> named;
    auto name_of = [&](const v::choice* c) {
        auto at = std::find(named.begin(), named.end(), c);
        if (at == named.end()) at = named.insert(named.end(), c);
        return "vscChoice" + std::to_string(at - named.begin() + 1);
    };
    constexpr std::string_view follow = " skipwhite skipnl skipempty";
    std::string out;
    std::set<const v::choice*> written;
    for (const choice_statements& c : choice_statement_groups()) {
        out += "syn keyword vscStatement " + join(c.keywords, " ") + " nextgroup=" + name_of(c.slots[0]) +
               std::string(follow) + "\n";
        for (size_t i = 0; i < c.slots.size(); ++i) {
            if (!written.insert(c.slots[i]).second) continue;
            out += "syn keyword " + name_of(c.slots[i]) + " " +
                   join(words(c.slots[i]->words.begin(), c.slots[i]->words.end()), " ") + " contained";
            if (i + 1 < c.slots.size()) out += " nextgroup=" + name_of(c.slots[i + 1]) + std::string(follow);
            out += "\n";
        }
    }
    for (size_t i = 0; i < named.size(); ++i) out += "hi def link vscChoice" + std::to_string(i + 1) + " vscChoice\n";
    return out;
}

// Every word once: statements, operands, choice words.
words every_word() {
    words out{v::define_keyword, v::var_word};
    for (const v::statement& s : v::statements) {
        out.push_back(s.keyword);
        for (const v::choice* c : s.choices) out.insert(out.end(), c->words.begin(), c->words.end());
    }
    for (uint32_t kind = 0; kind <= vendrak::EXPR_LAST; ++kind) out.push_back(v::operand_word(kind));
    words unique;
    for (const std::string_view w : out)
        if (!w.empty() && std::find(unique.begin(), unique.end(), w) == unique.end()) unique.push_back(w);
    return unique;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// libFuzzer's dictionary: name="value" lines. The script fuzzers get every
// word and every comparison and operator; the server's fuzzer the statement
// keywords with the blank that follows them.
std::string dictionary(bool for_server) {
    std::string out;
    if (for_server) {
        out += json_string(std::string(v::define_keyword) + " ") + "\n";
        for (const v::statement& s : v::statements)
            if (!s.keyword.empty()) out += json_string(std::string(s.keyword) + " ") + "\n";
        return out;
    }
    for (const std::string_view w : every_word()) out += "kw_" + lower(w) + "=" + json_string(w) + "\n";
    std::vector<std::string_view> symbols;
    for (const v::symbol& s : v::comparisons) symbols.push_back(s.text);
    for (const v::symbol& s : v::operators) symbols.push_back(s.text);
    std::set<std::string_view> seen;
    size_t n = 0;
    for (const std::string_view s : symbols)
        if (seen.insert(s).second) out += "op_" + std::to_string(++n) + "=" + json_string(s) + "\n";
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: vendrak_vocabulary_file textmate|vim|dict|lsp-dict TEMPLATE OUTPUT\n";
        return 2;
    }
    const std::string format = argv[1];
    if (format != "textmate" && format != "vim" && format != "dict" && format != "lsp-dict") {
        std::cerr << "vendrak_vocabulary_file: unknown format " << format << "\n";
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::cerr << "vendrak_vocabulary_file: cannot read " << argv[2] << "\n";
        return 1;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    const auto word_groups = groups();

    std::string out;
    for (size_t at = 0;;) {
        const size_t open = text.find('@', at);
        if (open == text.npos) {
            out.append(text, at);
            break;
        }
        const size_t close = text.find('@', open + 1);
        const std::string_view name =
            close == text.npos ? std::string_view{} : std::string_view(text).substr(open + 1, close - open - 1);
        out.append(text, at, open - at);
        if (name.starts_with("WORDS:") && word_groups.contains(name.substr(6)) &&
            (format == "textmate" || format == "vim")) {
            out += join(word_groups.find(name.substr(6))->second, format == "vim" ? " " : "|");
        } else if (name == "CHOICES" && format == "textmate") {
            out += textmate_choices();
        } else if (name == "CHOICES" && format == "vim") {
            out += vim_choices();
        } else if (name == "DICT" && (format == "dict" || format == "lsp-dict")) {
            out += dictionary(format == "lsp-dict");
        } else {
            // An @ of the text itself stands alone; a placeholder that names
            // nothing known is a mistake.
            const bool looks_like_one = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ':' || c == '-';
            });
            if (looks_like_one) {
                std::cerr << argv[2] << ": unknown placeholder @" << name << "@ for " << format << "\n";
                return 1;
            }
            out += '@';
            at = open + 1;
            continue;
        }
        at = close + 1;
    }
    std::ofstream file(argv[3], std::ios::binary);
    file << out;
    file.close();
    if (!file) {
        std::cerr << "vendrak_vocabulary_file: cannot write " << argv[3] << "\n";
        std::remove(argv[3]);
        return 1;
    }
    return 0;
}
