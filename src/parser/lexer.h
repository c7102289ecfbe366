// The lower layers of the script front end: the character source with DEFINE
// substitution, the tokenizer, and the expectation routines that the
// statement and expression parsers are built from. Private to src/parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "parser/parser.h"

namespace vendrak {

// The bytes of one script, read through a buffer: either an open stream or
// text held in memory. A read error counts as the end of the input.
class byte_source {
public:
    explicit byte_source(std::FILE* file);
    explicit byte_source(std::string_view text);

    // The next byte (0..255), or -1 at the end of the input.
    int get() {
        if (cur_ == end_ && !refill()) return -1;
        return *cur_++;
    }

private:
    bool refill();

    std::FILE* file_ = nullptr;
    std::vector<unsigned char> buffer_;
    const unsigned char* cur_ = nullptr;
    const unsigned char* end_ = nullptr;
};

// Integer conversion with automatic base: optional sign, then "0x"/"0X" and
// hexadecimal digits, "0" and octal digits, or decimal digits. Returns the
// number of characters taken (0: no number at all) and stores the value,
// clamped to the signed 32-bit range.
size_t convert_int(std::string_view text, int32_t& value);

// The same read as an unsigned 32-bit value: a magnitude above 4294967295
// becomes 4294967295, a leading "-" negates modulo 2^32.
size_t convert_uint(std::string_view text, uint32_t& value);

// Length of the longest decimal floating-point prefix of text:
// [sign] digits [. digits] or [sign] . digits, then an optional exponent
// (e or E, optional sign, digits). 0 when there is none.
size_t float_prefix(std::string_view text);

// The single-precision value of such a prefix, rounded to nearest.
float convert_float(std::string_view prefix);

// A token is a number when its integer conversion takes a character, and a
// float when it contains "." and has a floating-point prefix.
bool is_number(std::string_view token);
bool is_float(std::string_view token);

// ASCII case-insensitive comparison of whole words.
bool iequals(std::string_view a, std::string_view b);

// The reader state of one parse: character source, look-ahead character,
// line counting, the current token and the DEFINE list.
class lexer {
public:
    static constexpr size_t max_token = 1023;

    explicit lexer(byte_source source);

    // Reads the first character and the first token.
    void start();

    // The current token, up to its first NUL byte; empty at the end of input.
    std::string_view tok() const { return {tok_, tok_len_}; }
    const char* tok_cstr() const { return tok_; }
    bool tok_empty() const { return tok_len_ == 0; }

    // The line on which the token before the current one ended.
    int line() const { return line_; }
    // The line on which the current token ends.
    int token_line() const { return line_ + new_line_; }
    // Where the current token begins: its line and its byte on that line,
    // counting from 1. A token read from a DEFINE value is placed where the
    // name that stood for the value begins.
    const token_position& token_start() const { return tok_start_; }

    // Keeps where each token begins and its text, in the order they are
    // read, in `positions` (none: nothing is kept).
    void record_positions(script_positions* positions) { recorded_ = positions; }
    // Keeps where each token begins in the script's bytes in `offsets`.
    void record_offsets(token_offsets* offsets) { offsets_ = offsets; }
    // The tokens recorded so far, by whichever record is kept.
    size_t recorded_tokens() const {
        return recorded_ ? recorded_->tokens.size() : offsets_ ? offsets_->tokens.size() : 0;
    }

    void readtok();

    // Consumes the current token if it equals keyword (ASCII case ignored).
    bool accept(std::string_view keyword);
    // Consumes the given punctuation or keyword, or fails naming it.
    void expect(const char* text);

    int32_t expect_num();
    uint32_t expect_unsigned();
    float expect_float();
    // A "0x" token of 1 to max bytes, two hexadecimal digits per byte; what
    // names the argument in messages.
    // Appends the bytes to `out` and returns their number.
    size_t expect_long_hex_number(size_t max, const char* what, std::vector<uint8_t>& out);
    // "[" n "," n "]"
    void expect_range(int32_t& offset, int32_t& length);
    // "[" n "]" after VAR; returns n.
    int32_t expect_index();

    // The current token begins with "0x" (lower-case x only).
    bool frontpeek() const { return tok_len_ >= 2 && tok_[0] == '0' && tok_[1] == 'x'; }

    // The rest of a DEFINE statement, after the keyword and with the name as
    // the current token.
    void define_statement();

private:
    struct define_pair {
        std::string name;
        // Shared so that a value being read stays intact if its name is
        // redefined meanwhile.
        std::shared_ptr<const std::string> value;
        // The replacement chain that last replaced this name.
        uint64_t chain = 0;
    };

    struct string_hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    static constexpr size_t no_subst = static_cast<size_t>(-1);

    void next_token();
    void record();
    void readnextc();
    void readchr();
    [[noreturn, gnu::noinline]] void token_too_long();
    bool skip_space();
    bool scan();
    void skip_block_comment();
    bool substitute(bool chained);

    byte_source source_;
    int nextc_ = 0;
    int new_line_ = 0;
    int line_ = 1;
    uint64_t line_begin_ = 0;  // the count of script bytes before the current line of the file
    token_position tok_start_;
    token_position subst_start_;  // where the name being replaced begins
    uint64_t tok_offset_ = 0;     // the byte where the current token begins
    uint64_t subst_offset_ = 0;   // the byte where the name being replaced begins
    bool tok_from_define_ = false;
    script_positions* recorded_ = nullptr;
    token_offsets* offsets_ = nullptr;
    char tok_[max_token + 1] = {};
    size_t tok_len_ = 0;
    size_t tokpos_ = 0;

    size_t subst_ = no_subst;  // index of the DEFINE whose value is being read
    std::shared_ptr<const std::string> subst_text_;
    size_t subst_idx_ = 0;
    int subst_nextc_ = 0;
    bool subst_allowed_ = true;
    bool define_active_ = false;

    // The DEFINE list in order of first definition, and its index by name.
    std::vector<define_pair> defines_;
    std::unordered_map<std::string, size_t, string_hash, std::equal_to<>> define_index_;
    uint64_t chain_ = 1;

    // A value that names another value twice doubles it, so a few lines of
    // DEFINE could make the reader deliver text without end. The value text
    // all substitutions of one script deliver is limited to a fixed allowance
    // plus a multiple of the bytes read from the script so far.
    static constexpr uint64_t substitution_allowance = uint64_t{1} << 20;
    static constexpr uint64_t substitution_factor = 64;
    uint64_t script_bytes_ = 0;
    uint64_t substituted_ = 0;
};

}  // namespace vendrak
