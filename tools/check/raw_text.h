// The script's words as they stand in the file, before any DEFINE is
// replaced: where strings, comments and DEFINE lines begin and end. The
// parser only keeps what they became; the text checks and the notes on
// errors need where the author wrote them. Private to the checker.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "parser/parser.h"

namespace vendrak::check {

struct raw_word {
    token_position at;
    std::string_view text;  // as written; a string with its quotes
};

struct raw_string {
    token_position at;   // the opening quote
    token_position end;  // the closing quote, or where the file ends
    bool closed = true;
    std::string_view text;  // between the quotes
};

struct raw_comment {
    token_position at;  // the "/*" or ";"
    bool block = false;
    bool closed = true;          // block comments: a "*/" ends it
    token_position lone_cr;      // ";" comments: the first lone CR it runs over (line 0: none)
};

struct raw_define {
    token_position at;       // the word DEFINE
    raw_word name;           // empty text: the line ends after DEFINE
    std::string_view value;  // from the first word of the value to the end of its last
};

struct raw_script {
    std::vector<raw_word> words;  // outside comments and DEFINE lines
    std::vector<raw_string> strings;
    std::vector<raw_comment> comments;
    std::vector<raw_define> defines;
};

// Reads `text` as the parser does: "/*" to "*/", ";" to the end of the
// line, strings to the next quote of their kind, lines counted at each line
// feed; a NUL byte ends the script. Without `words`, `raw_script::words`
// stays empty: only the notes on errors and the fixes need them.
raw_script read_raw(std::string_view text, bool words = true);

// The words of a script, read on first use.
class raw_words {
public:
    explicit raw_words(std::string_view text) : text_(text) {}
    const raw_script& get() const {
        if (!read_) read_.emplace(read_raw(text_));
        return *read_;
    }

private:
    std::string_view text_;
    mutable std::optional<raw_script> read_;
};

// The word that begins at `at`, or null.
const raw_word* word_at(const raw_script& raw, token_position at);

}  // namespace vendrak::check
