#include "parser/lexer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/fatal.h"

namespace vendrak {

namespace {

constexpr size_t read_chunk = 64 * 1024;

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_alpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ident(int c) { return is_alpha(c) || is_digit(c) || c == '-' || c == '.' || c == ':' || c == '_'; }
bool is_comparison(int c) { return c == '<' || c == '=' || c == '>' || c == '!'; }

int digit_value(int c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

struct scanned_int {
    size_t used = 0;
    bool negative = false;
    uint64_t magnitude = 0;  // saturates far above any 32-bit value
};

// The digits of an integer with automatic base, as strtol reads them.
scanned_int scan_int(std::string_view s) {
    scanned_int r;
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) r.negative = s[i++] == '-';
    unsigned base = 10;
    if (i < s.size() && s[i] == '0') {
        base = 8;
        if (i + 2 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X') && digit_value(s[i + 2]) < 16) {
            base = 16;
            i += 2;
        }
    }
    const size_t first = i;
    constexpr uint64_t cap = uint64_t{1} << 40;
    for (; i < s.size(); ++i) {
        const int d = digit_value(static_cast<unsigned char>(s[i]));
        if (d >= static_cast<int>(base)) break;
        r.magnitude = r.magnitude * base + static_cast<unsigned>(d);
        if (r.magnitude > cap) r.magnitude = cap;
    }
    if (i > first) r.used = i;
    return r;
}

}  // namespace

size_t convert_int(std::string_view text, int32_t& value) {
    const scanned_int r = scan_int(text);
    constexpr uint64_t max_positive = std::numeric_limits<int32_t>::max();
    if (r.negative) {
        value = r.magnitude > max_positive + 1 ? std::numeric_limits<int32_t>::min()
                                               : static_cast<int32_t>(-static_cast<int64_t>(r.magnitude));
    } else {
        value = r.magnitude > max_positive ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(r.magnitude);
    }
    return r.used;
}

size_t convert_uint(std::string_view text, uint32_t& value) {
    const scanned_int r = scan_int(text);
    if (r.magnitude > std::numeric_limits<uint32_t>::max()) {
        value = std::numeric_limits<uint32_t>::max();
    } else {
        value = static_cast<uint32_t>(r.magnitude);
        if (r.negative) value = 0u - value;
    }
    return r.used;
}

size_t float_prefix(std::string_view s) {
    auto digits_from = [&](size_t i) {
        while (i < s.size() && is_digit(s[i])) ++i;
        return i;
    };
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t end = digits_from(i);
    if (end > i) {
        // digits, then optionally "." and more digits
        if (end < s.size() && s[end] == '.') {
            const size_t frac = digits_from(end + 1);
            if (frac > end + 1) end = frac;
        }
    } else {
        // no digits before the point: "." and at least one digit
        if (i >= s.size() || s[i] != '.') return 0;
        end = digits_from(i + 1);
        if (end == i + 1) return 0;
    }
    if (end < s.size() && (s[end] == 'e' || s[end] == 'E')) {
        size_t e = end + 1;
        if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
        const size_t exp_end = digits_from(e);
        if (exp_end > e) end = exp_end;
    }
    return end;
}

float convert_float(std::string_view prefix) {
    // strtof rounds correctly to single precision; going through double
    // would round twice.
    const std::string text(prefix);
    return std::strtof(text.c_str(), nullptr);
}

bool is_number(std::string_view token) {
    int32_t ignored;
    return convert_int(token, ignored) != 0;
}

bool is_float(std::string_view token) {
    return token.find('.') != std::string_view::npos && float_prefix(token) != 0;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

byte_source::byte_source(std::FILE* file) : file_(file), buffer_(read_chunk) {}

byte_source::byte_source(std::string_view text)
    : cur_(reinterpret_cast<const unsigned char*>(text.data())), end_(cur_ + text.size()) {}

bool byte_source::refill() {
    if (file_ == nullptr) return false;
    const size_t n = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    if (n == 0) {
        file_ = nullptr;  // end of file or read error: the input ends here
        return false;
    }
    cur_ = buffer_.data();
    end_ = cur_ + n;
    return true;
}

lexer::lexer(byte_source source) : source_(std::move(source)) {}

void lexer::start() {
    readnextc();
    readtok();
}

// Moves to the next character: from the value text while a DEFINE name is
// being replaced, else from the file. Line feeds of the file are counted as
// the reader moves past them; a value text never counts.
void lexer::readnextc() {
    if (subst_ != no_subst) [[unlikely]] {
        if (subst_idx_ < subst_text_->size()) {
            nextc_ = static_cast<unsigned char>((*subst_text_)[subst_idx_++]);
            return;
        }
        // value exhausted: resume with the character that followed the name
        subst_ = no_subst;
        subst_idx_ = 0;
        subst_text_.reset();
        nextc_ = subst_nextc_;
        return;
    }
    // Line numbers stop at the largest int: a script of more lines reports
    // that number for every later line.
    if (nextc_ == '\n') {
        if (new_line_ < std::numeric_limits<int>::max() - line_) ++new_line_;
        line_begin_ = script_bytes_;
    }
    nextc_ = source_.get();
    if (nextc_ >= 0) ++script_bytes_;
}

void lexer::token_too_long() {
    tok_[max_token] = '\0';
    fail(out_stream::err, "Token too long: %s\n", tok_);
}

// Appends the look-ahead character to the token; carriage returns after it
// are passed over, so they never enter a token.
void lexer::readchr() {
    if (tokpos_ == max_token) [[unlikely]] token_too_long();
    // At the end of input this stores the end marker as the byte 0xFF.
    tok_[tokpos_++] = static_cast<char>(nextc_);
    do {
        readnextc();
    } while (nextc_ == '\r');
}

// Skips white space. While a DEFINE value is read, a line feed ends it:
// returns false once one has been passed.
bool lexer::skip_space() {
    while (is_space(nextc_)) {
        readnextc();
        if (define_active_ && new_line_ != 0) return false;
    }
    return true;
}

// The look-ahead is the "*" of "/*". "/*/" is already a whole comment; an
// unclosed comment runs to the end of the input.
void lexer::skip_block_comment() {
    int prev = 0;
    while (!(prev == '*' && nextc_ == '/')) {
        if (nextc_ == -1) return;
        prev = nextc_;
        readnextc();
    }
    readnextc();
}

// Builds one token in tok_, passing comments. Returns false when a line feed
// after a comment ends a DEFINE value.
bool lexer::scan() {
    for (;;) {
        tokpos_ = 0;
        if (subst_ != no_subst) {
            tok_start_ = subst_start_;
            tok_offset_ = subst_offset_;
            tok_from_define_ = true;
        } else {
            // The look-ahead is byte script_bytes_ - 1 of the script (counting
            // from 0), so its column is script_bytes_ - line_begin_.
            tok_start_.line = static_cast<uint32_t>(line_ + new_line_);
            tok_start_.column = static_cast<uint32_t>(std::min<uint64_t>(script_bytes_ - line_begin_, UINT32_MAX));
            tok_offset_ = script_bytes_ - 1;
            tok_from_define_ = false;
        }
        if (is_ident(nextc_)) {
            do readchr(); while (is_ident(nextc_));
            return true;
        }
        if (is_comparison(nextc_)) {
            do readchr(); while (is_comparison(nextc_));
            return true;
        }
        if (nextc_ == '\'' || nextc_ == '"') {
            // no escapes: everything up to the same quote character
            const int quote = nextc_;
            readchr();
            while (nextc_ != quote) readchr();
            readchr();
            return true;
        }
        if (nextc_ == '/') {
            readchr();
            if (nextc_ != '*') return true;
            skip_block_comment();
        } else if (nextc_ == ';') {
            while (nextc_ != '\n' && nextc_ != 0 && nextc_ != -1) readnextc();
        } else {
            // any other single character; nothing at the end of input
            if (nextc_ != -1) readchr();
            return true;
        }
        if (!skip_space()) return false;
    }
}

void lexer::readtok() {
    next_token();
    if (recorded_ || offsets_) [[unlikely]] record();
}

void lexer::record() {
    if (recorded_) recorded_->add(tok_start_, tok());
    if (offsets_) {
        if (tok_from_define_) offsets_->from_define.push_back(static_cast<uint32_t>(offsets_->tokens.size()));
        offsets_->tokens.push_back(static_cast<uint32_t>(std::min<uint64_t>(tok_offset_, UINT32_MAX)));
    }
}

void lexer::next_token() {
    // Lines are brought up to date only between tokens of the file, so while
    // the parser looks at a token, line_ is where the previous one ended.
    if (subst_ == no_subst) {
        line_ += new_line_;
        new_line_ = 0;
    }
    bool chained = subst_ != no_subst;
    for (;;) {
        if (!skip_space() || !scan()) {
            // A line break ended a DEFINE value; the caller ignores the token,
            // but a comment may have overwritten its first byte.
            tok_len_ = std::strlen(tok_);
            return;
        }
        // The token's text ends at its first NUL byte, if it holds one.
        tok_[tokpos_] = '\0';
        tok_len_ = 0;
        while (tok_len_ < tokpos_ && tok_[tok_len_] != '\0') ++tok_len_;
        if (!substitute(chained)) return;
        chained = true;
    }
}

// Replaces a completed token that names a DEFINE by its value text: returns
// true when the reader now stands on the value's first character.
//
// Only the last token of a value text can be replaced in turn (it completes
// after the substitution has ended). Such replacements form a chain that
// starts with a token of the file; a name already replaced in the current
// chain is delivered as it is, so self-referring definitions cannot loop.
// The end of input continues the chain instead of starting one, because it
// is met again and again.
bool lexer::substitute(bool chained) {
    if (!subst_allowed_ || subst_ != no_subst) return false;
    if (!chained && tokpos_ != 0) ++chain_;
    if (defines_.empty()) return false;
    const auto found = define_index_.find(tok());
    if (found == define_index_.end()) return false;
    define_pair& pair = defines_[found->second];
    if (pair.chain == chain_) return false;
    substituted_ += pair.value->size();
    if (substituted_ > substitution_allowance + substitution_factor * script_bytes_)
        fail_script(token_line(), "DEFINE substitutions too long\n");
    pair.chain = chain_;
    subst_start_ = tok_start_;
    subst_offset_ = tok_offset_;
    subst_ = found->second;
    subst_text_ = pair.value;
    subst_idx_ = 0;
    subst_nextc_ = nextc_;
    readnextc();
    return true;
}

bool lexer::accept(std::string_view keyword) {
    if (tok_len_ == 0 || !iequals(tok(), keyword)) return false;
    // the name after DEFINE is never replaced, so any name can be redefined
    if (keyword == "DEFINE") subst_allowed_ = false;
    readtok();
    subst_allowed_ = true;
    return true;
}

void lexer::expect(const char* text) {
    if (!accept(text)) fail_script(line_, "expected '%s', but found: %s\n", text, tok_);
}

int32_t lexer::expect_num() {
    int32_t value;
    if (convert_int(tok(), value) == 0) fail_script(line_, "expected a number, but found: %s\n", tok_);
    readtok();
    return value;
}

uint32_t lexer::expect_unsigned() {
    uint32_t value;
    if (convert_uint(tok(), value) == 0) {
        fail_script(line_, "expected unsigned number, but found: %s\n", tok_);
    }
    readtok();
    return value;
}

float lexer::expect_float() {
    if (!is_float(tok())) fail_script(line_, "expected a float, but found: %s\n", tok_);
    const float value = convert_float(tok().substr(0, float_prefix(tok())));
    readtok();
    return value;
}

size_t lexer::expect_long_hex_number(size_t max, const char* what, std::vector<uint8_t>& out) {
    if (!frontpeek()) fail_script(line_, "expected a %s, but found: %s\n", what, tok_);
    const size_t digits = tok_len_ - 2;
    if (digits < 2 || digits % 2 != 0 || digits / 2 > max) {
        fail_script(line_, "invalid %s length: %s\n", what, tok_);
    }
    for (size_t i = 2; i < tok_len_; i += 2) {
        const int high = digit_value(static_cast<unsigned char>(tok_[i]));
        const int low = digit_value(static_cast<unsigned char>(tok_[i + 1]));
        if (high > 15 || low > 15) fail_script(line_, "invalid security hex value: %s\n", tok_);
        out.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    readtok();
    return digits / 2;
}

void lexer::expect_range(int32_t& offset, int32_t& length) {
    expect("[");
    offset = expect_num();
    expect(",");
    length = expect_num();
    expect("]");
}

int32_t lexer::expect_index() {
    expect("[");
    const int32_t index = expect_num();
    expect("]");
    return index;
}

// DEFINE name value-tokens, all on one line. The value text is the tokens,
// each preceded by one space. Names used in the value are replaced while it
// is read, with their values at that time; a new name joins the list only
// afterwards, and a redefined one keeps its place and its old value until
// the new one is complete.
void lexer::define_statement() {
    std::string name(tok());
    readtok();
    if (new_line_ != 0) fail_script(line_, "expected a definition, but found nothing.\n");
    std::string value;
    define_active_ = true;
    do {
        value += ' ';
        value += tok();
        readtok();
    } while (new_line_ == 0 && !tok_empty());
    define_active_ = false;
    auto text = std::make_shared<const std::string>(std::move(value));
    if (const auto found = define_index_.find(name); found != define_index_.end()) {
        defines_[found->second].value = std::move(text);
    } else {
        define_index_.emplace(name, defines_.size());
        defines_.push_back({std::move(name), std::move(text), 0});
    }
    readtok();
}

}  // namespace vendrak
