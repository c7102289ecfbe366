// The findings of one script as the checks make them. Private to the checker.
#pragma once

#include <cstdarg>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check/check.h"
#include "check/raw_text.h"
#include "common/fatal.h"
#include "compile/compile.h"
#include "parser/parser.h"
#include "parser/script.h"

namespace vendrak::check {

class findings {
public:
    explicit findings(const check_options& options) : options_(options) {}

    bool enabled(warning w) const { return options_.enabled.test(static_cast<size_t>(w)); }

    // vendrak's message, shown printable.
    finding& error(token_position at, const std::string& message) {
        return found_.emplace_back(finding{at.line, at.column, severity::error, warning{}, printable(message), {}, {}});
    }

    // The warning made, for its notes and fix; null when it is turned off.
    finding* warn(warning w, token_position at, const char* fmt, ...) VENDRAK_PRINTF(4, 5) {
        if (!enabled(w)) return nullptr;
        std::va_list args;
        va_start(args, fmt);
        finding& f = found_.emplace_back(finding{at.line, at.column, severity::warning, w, vformat(fmt, args), {}, {}});
        va_end(args);
        return &f;
    }

    // Sorted by place; findings at one place keep the order they were made in.
    std::vector<finding> take();

private:
    const check_options& options_;
    std::vector<finding> found_;
};

// What the script-level checks work on: the parsed script with where its
// tokens stand and what they say.
struct parsed_script {
    std::string_view text;
    std::string_view name;
    const script& tree;
    const script_positions& positions;
    const raw_words* raw = nullptr;  // the words as written, for fixes that edit them

    token_position at(uint32_t token) const { return positions.tokens[token]; }
    std::string_view token(uint32_t token) const { return positions.text(token); }
    // The first token of a statement.
    uint32_t first(size_t statement) const { return positions.statements[statement].first; }
    // Whether `token` stands in the text as read (no DEFINE replaced it), so
    // that a fix may edit it there.
    bool written(uint32_t token) const {
        const raw_word* w = raw == nullptr ? nullptr : word_at(raw->get(), at(token));
        return w != nullptr && w->text == this->token(token);
    }
};

// Warnings read from the tree and the tokens (script_warnings.cpp).
void warn_numbers(const parsed_script& p, findings& out);
void warn_blocks(const parsed_script& p, findings& out);
void warn_statements(const parsed_script& p, findings& out);
void warn_defines(const parsed_script& p, findings& out);
// Warnings about the bytes of the file: byte-order marks, UTF-16, and a NUL
// byte that ends the script early (`end`: where the parse found the end, or
// none when it stopped at an error).
void warn_encoding(std::string_view text, const token_position* end, findings& out);
// Statements that no path of the compiled program reaches.
void warn_unreachable(const parsed_script& p, const program& prog, findings& out);

// Warnings about comments, strings and line ends as written (text_checks.cpp).
void warn_text(std::string_view text, const raw_script& raw, findings& out);

// Notes on an error of the parse (error_notes.cpp).
void note_parse_error(std::string_view text, const raw_script& raw, finding& f);

// Notes on the errors of the validator and of program assembly, each about
// one statement (error_notes.cpp). A script may have an error on every
// line, so what the notes share is worked out once: the labels, and the IF
// and the DO the author left open with the ENDIF that closes it.
class script_error_notes {
public:
    script_error_notes(const parsed_script& p, const raw_script& raw) : p_(p), raw_(raw) {}
    void add(size_t statement, finding& f);

private:
    // Labels looked up for a near name, at most this many times a script:
    // each look-up goes over every label.
    static constexpr size_t label_lookups = 256;

    const parsed_script& p_;
    const raw_script& raw_;
    std::optional<std::vector<std::string_view>> labels_;
    size_t lookups_left_ = label_lookups;
    std::optional<std::optional<size_t>> open_if_, open_do_;
    std::optional<edit> endif_fix_;
};

// Warnings about values, requests and definitions (values.cpp).
void warn_values(const parsed_script& p, findings& out);
void warn_redefines(const raw_script& raw, findings& out);
// DEFINE names that are numbers, and DEFINE names written inside strings.
void warn_define_names(const raw_script& raw, findings& out);

// Warnings about the whole program's flow (flow.cpp).
void warn_flow(const parsed_script& p, findings& out);

// Converts every VBF file the script programs, as `vendrak` would, and
// checks what the conversion passes over (vbf_checks.cpp).
void check_vbf_files(const parsed_script& p, const check_options& options, findings& out);

}  // namespace vendrak::check
