#include "check/raw_text.h"

#include <algorithm>

#include "parser/vocabulary.h"

namespace vendrak::check {
namespace {

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ident(char c) { return is_alpha(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':' || c == '_'; }
bool is_comparison(char c) { return c == '<' || c == '=' || c == '>' || c == '!'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

class reader {
public:
    reader(std::string_view text, bool words) : text_(text.substr(0, text.find('\0'))), words_(words) {
        // About one word in five bytes of a script: one allocation in most.
        if (words_) out_.words.reserve(text_.size() / 5 + 16);
    }

    raw_script read() {
        while (skip_space()) {
            const token_position at = here();
            const size_t start = i_;
            const char c = text_[i_];
            if (c == ';') {
                line_comment(at);
            } else if (c == '/' && i_ + 1 < text_.size() && text_[i_ + 1] == '*') {
                block_comment(at);
            } else if (c == '"' || c == '\'') {
                string(at);
                add_word(at, start);
            } else {
                if (is_ident(c)) {
                    while (i_ < text_.size() && is_ident(text_[i_])) step();
                } else if (is_comparison(c)) {
                    while (i_ < text_.size() && is_comparison(text_[i_])) step();
                } else {
                    step();
                }
                add_word(at, start);
            }
        }
        if (define_ != nullptr) end_define();
        return std::move(out_);
    }

private:
    token_position here() const { return {line_, static_cast<uint32_t>(i_ - line_start_ + 1)}; }

    void step() {
        if (text_[i_] == '\n') {
            ++line_;
            line_start_ = i_ + 1;
        }
        ++i_;
    }

    // Skips blanks; a line feed ends a DEFINE line. False at the end.
    bool skip_space() {
        while (i_ < text_.size() && is_space(text_[i_])) {
            if (text_[i_] == '\n' && define_ != nullptr) end_define();
            step();
        }
        return i_ < text_.size();
    }

    void line_comment(token_position at) {
        raw_comment c{at, false, true, {}};
        while (i_ < text_.size() && text_[i_] != '\n') {
            if (text_[i_] == '\r' && c.lone_cr.line == 0 && i_ + 1 < text_.size() && text_[i_ + 1] != '\n')
                c.lone_cr = here();
            step();
        }
        out_.comments.push_back(c);
    }

    // "/*" up to the next "*/"; the "*" of the opening counts, so "/*/" is
    // a whole comment.
    void block_comment(token_position at) {
        step();
        char prev = 0;
        while (i_ < text_.size() && !(prev == '*' && text_[i_] == '/')) {
            prev = text_[i_];
            step();
        }
        const bool closed = i_ < text_.size();
        if (closed) step();
        out_.comments.push_back({at, true, closed, {}});
    }

    void string(token_position at) {
        const char quote = text_[i_];
        step();
        const size_t begin = i_;
        while (i_ < text_.size() && text_[i_] != quote) step();
        raw_string s{at, here(), i_ < text_.size(), text_.substr(begin, i_ - begin)};
        if (s.closed) step();
        if (quote == '"') out_.strings.push_back(s);
    }

    void add_word(token_position at, size_t start) {
        const raw_word w{at, text_.substr(start, i_ - start)};
        if (define_ != nullptr) {
            if (define_->name.text.empty()) {
                define_->name = w;
            } else {
                if (value_begin_ == npos) value_begin_ = start;
                value_end_ = i_;
            }
            return;
        }
        if (vocabulary::same_word(w.text, vocabulary::define_keyword)) {
            out_.defines.push_back({at, {}, {}});
            define_ = &out_.defines.back();
            return;
        }
        if (words_) out_.words.push_back(w);
    }

    void end_define() {
        if (value_begin_ != npos) define_->value = text_.substr(value_begin_, value_end_ - value_begin_);
        define_ = nullptr;
        value_begin_ = value_end_ = npos;
    }

    static constexpr size_t npos = static_cast<size_t>(-1);
    std::string_view text_;
    bool words_;
    size_t i_ = 0;
    uint32_t line_ = 1;
    size_t line_start_ = 0;
    raw_script out_;
    raw_define* define_ = nullptr;
    size_t value_begin_ = npos, value_end_ = npos;
};

}  // namespace

raw_script read_raw(std::string_view text, bool words) { return reader(text, words).read(); }

const raw_word* word_at(const raw_script& raw, token_position at) {
    const auto it = std::lower_bound(raw.words.begin(), raw.words.end(), at, [](const raw_word& w, token_position p) {
        return w.at.line != p.line ? w.at.line < p.line : w.at.column < p.column;
    });
    return it != raw.words.end() && it->at == at ? &*it : nullptr;
}

}  // namespace vendrak::check
