// The script front end: reads one script and builds its script tree.
//
// Errors end the parse with a `fatal_error` on the error stream carrying the
// exact message ("[%d] Error: ...", or "Token too long: %s\n").
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "parser/script.h"

namespace vendrak {

// Where a token begins: its line and its byte on that line, counting from 1.
struct token_position {
    uint32_t line = 0;
    uint32_t column = 0;
    bool operator==(const token_position&) const = default;
};

// Where the tokens of each statement begin and what they say, for a checker
// that points at an operand: statement i is made of tokens[statements[i].first]
// up to (not including) tokens[statements[i].end]. DEFINE lines are in no
// statement.
struct script_positions {
    struct range {
        uint32_t first = 0;
        uint32_t end = 0;
    };
    std::vector<token_position> tokens;
    std::vector<range> statements;
    // The text of each token as the parser read it, DEFINE values replaced.
    std::string texts;
    std::vector<size_t> text_ends;
    // Where the token a parse error is about begins: the token the parser
    // stopped at, or the one too long to be read.
    token_position stopped_at;

    std::string_view text(size_t token) const {
        const size_t begin = token == 0 ? 0 : text_ends[token - 1];
        return std::string_view(texts).substr(begin, text_ends[token] - begin);
    }
    void add(token_position at, std::string_view text) {
        tokens.push_back(at);
        texts.append(text);
        text_ends.push_back(texts.size());
    }
};

// Where the tokens of each statement begin in the bytes of a script held in
// memory, for a tool that lays the text out anew: four bytes a token and no
// text, so much cheaper to keep than script_positions. Statements are ranges
// of tokens as in script_positions.
struct token_offsets {
    // The byte offset (from 0) where each token begins; a token read from a
    // DEFINE value is placed where the name that stood for the value begins.
    // Offsets past 4 GiB read as UINT32_MAX.
    std::vector<uint32_t> tokens;
    // The tokens read from a DEFINE value, in increasing order.
    std::vector<uint32_t> from_define;
    std::vector<script_positions::range> statements;
};

// Parses the whole open script stream and appends one command per statement;
// with `positions`, also where their tokens begin.
void parse_script(std::FILE* file, script& out, script_positions* positions = nullptr);

// The same on a script held in memory (tests, fuzzing, checkers).
script parse_script_text(std::string_view text, script_positions* positions = nullptr);
script parse_script_text(std::string_view text, token_offsets* offsets);

// Reads a script held in memory one statement at a time: each record is
// handed to `each` as soon as it is read and not kept; `pools` receives the
// texts, values and bytes the records point into. Reading stops early when
// `each` returns false. Errors throw as parse_script_text does.
void read_script_text(std::string_view text, script& pools, const std::function<bool(const command&)>& each);

}  // namespace vendrak
