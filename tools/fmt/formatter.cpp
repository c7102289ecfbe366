#include "fmt/formatter.h"
#include "fmt/unchecked.h"
#include "parser/parser.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <future>
#include <iterator>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "check/check.h"
#include "common/fatal.h"
#include "compile/compile.h"
#include "parser/parser.h"
#include "parser/vocabulary.h"
#include "validate/validate.h"

namespace vendrak::fmt {
namespace {

namespace words = vocabulary;

// The character classes of the tokenizer.
bool is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_ident(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == ':' || c == '_';
}
bool is_comparison(unsigned char c) { return c == '<' || c == '=' || c == '>' || c == '!'; }

// ---------------------------------------------------------------------------
// The script as written: its words and comments with their places, read by
// the tokenizer's rules but without replacing DEFINE names.

enum class item_kind : uint8_t { token, line_comment, block_comment };

struct item {
    uint32_t begin;          // first byte
    uint32_t length;         // bytes; carriage returns after a word are not part of it
    item_kind kind;
    bool unclosed = false;   // a block comment that runs to the end of the script
    bool broken = false;     // a word with carriage returns inside, which the tokenizer drops

    size_t end() const { return size_t{begin} + length; }
};

// Cuts `s` into words and comments. Returns nothing for text the compiler
// would refuse while reading (a string that is never closed) and for text
// with a NUL byte, which ends the script for the compiler: such text is
// never laid out anew.
std::optional<std::vector<item>> scan(std::string_view s) {
    std::vector<item> items;
    const size_t n = s.size();
    // Offsets within a script of up to 4 GiB fit the items' lengths.
    if (n > UINT32_MAX) return std::nullopt;
    // Scripts as people write them hold fewer items than half their bytes.
    items.reserve(n / 2 + 16);
    // Whether carriage returns were passed since the last item: only then
    // can the next word hold one.
    bool passed_cr = false;
    auto add = [&](item_kind kind, size_t begin, size_t end, bool unclosed = false) {
        const bool broken = passed_cr && kind == item_kind::token &&
                            std::memchr(s.data() + begin, '\r', end - begin) != nullptr;
        items.push_back({static_cast<uint32_t>(begin), static_cast<uint32_t>(end - begin), kind, unclosed, broken});
        passed_cr = false;
    };
    // A character appended to a word takes the carriage returns after it along.
    auto after = [&](size_t i) {
        ++i;
        if (i < n && s[i] == '\r') {
            passed_cr = true;
            while (i < n && s[i] == '\r') ++i;
        }
        return i;
    };
    auto at = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    size_t i = 0;
    while (i < n) {
        const unsigned char c = at(i);
        if (c == '\0') return std::nullopt;
        if (is_space(c)) {
            ++i;
            continue;
        }
        const size_t begin = i;
        if (is_ident(c) || is_comparison(c)) {
            const bool ident = is_ident(c);
            size_t last = i;
            do {
                last = i;
                i = after(i);
            } while (i < n && (ident ? is_ident(at(i)) : is_comparison(at(i))));
            add(item_kind::token, begin, last + 1);
        } else if (c == '"' || c == '\'') {
            i = after(i);
            while (i < n && s[i] != static_cast<char>(c)) i = after(i);
            if (i >= n) return std::nullopt;
            add(item_kind::token, begin, i + 1);
            i = after(i);
        } else if (c == '/') {
            i = after(i);
            if (i < n && s[i] == '*') {
                // "/*/" is a whole comment: the opening star counts
                int prev = 0;
                while (i < n && !(prev == '*' && s[i] == '/')) prev = s[i++];
                const bool unclosed = i == n;
                i = std::min(i + 1, n);
                add(item_kind::block_comment, begin, i, unclosed);
            } else {
                add(item_kind::token, begin, begin + 1);
            }
        } else if (c == ';') {
            while (i < n && s[i] != '\n' && s[i] != '\0') ++i;
            add(item_kind::line_comment, begin, i);
        } else {
            add(item_kind::token, begin, begin + 1);
            i = after(i);
        }
    }
    return items;
}

// Two items with nothing but carriage returns between them read as one
// run of characters: a word there could join the next one.
bool glued(std::string_view s, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (s[i] != '\r') return false;
    return true;
}

size_t line_feeds(std::string_view s, size_t from, size_t to) {
    return static_cast<size_t>(std::count(s.begin() + static_cast<std::ptrdiff_t>(from),
                                          s.begin() + static_cast<std::ptrdiff_t>(to), '\n'));
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// No word of the language begins with a digit, so a word that does is
// known for a number by its first character.
constexpr bool no_word_begins_with_a_digit() {
    auto digit_first = [](std::string_view w) { return !w.empty() && w.front() >= '0' && w.front() <= '9'; };
    for (const words::statement& s : words::statements) {
        if (digit_first(s.keyword)) return false;
        for (const words::choice* c : s.choices)
            for (const std::string_view w : c->words)
                if (digit_first(w)) return false;
    }
    for (const std::string_view w : words::operand_words)
        if (digit_first(w)) return false;
    return true;
}
static_assert(no_word_begins_with_a_digit());

// The spelling the manual gives a word of the language that a statement of
// `kind` reads without regard to case: its keyword, one of its choice
// words, an operand word or VAR; "" for any other word.
std::string_view canonical_word(cmd_kind kind, std::string_view w) {
    // numbers, and what is not a word at all, are written as they stand
    if (w.empty() || !is_ident(static_cast<unsigned char>(w.front())) || is_digit(w.front())) return {};
    if (const cmd_kind k = words::statement_kind(w)) return words::keyword(k);
    if (const expr_kind e = words::operand_kind(w)) return words::operand_word(e);
    for (const words::choice* c : words::statements[kind].choices)
        if (const uint32_t code = c->code(w)) return c->word(code);
    return {};
}

// ---------------------------------------------------------------------------
// The comparison that makes the layout safe.

bool same_form(const command& a, const command& b) { return a.kind == b.kind && a.form == b.form; }

// Whether `text` reads as the statements of `tree`: the same records with
// the same operands, so the same container. The text is read one statement
// at a time against the tree, with no second tree built, and the reading
// stops at the first statement that differs.
bool reads_as(std::string_view text, const script& tree) {
    script pools;
    size_t count = 0;
    bool same = true;
    try {
        read_script_text(text, pools, [&](const command& c) {
            same = count < tree.commands.size() && same_form(c, tree.commands[count]);
            ++count;
            return same;
        });
    } catch (const fatal_error&) {
        return false;
    }
    return same && count == tree.commands.size() && pools.texts == tree.texts && pools.values == tree.values &&
           pools.bytes == tree.bytes;
}

// "[12] Error: text\n" gives "text"; a message without a line only loses
// its line feed.
std::string plain_message(std::string_view m) {
    if (m.ends_with('\n')) m.remove_suffix(1);
    if (m.starts_with('[')) {
        if (const size_t close = m.find("] "); close != m.npos) m.remove_prefix(close + 2);
        if (m.starts_with("Error: ")) m.remove_prefix(7);
    }
    return std::string(m);
}

// The refusal: vendrak's first error with the place vendrak-check gives it.
format_result refused(std::string_view text, const std::string& message) {
    format_result r;
    r.message = plain_message(message);
    check::check_options options;
    options.enabled.reset();
    options.vbf_checks = false;
    for (const check::finding& f : check::check_script(text, "", options)) {
        if (f.level == check::severity::error && f.message == r.message) {
            r.line = f.line;
            r.column = f.column;
            return r;
        }
    }
    if (message.starts_with('[')) r.line = static_cast<uint32_t>(std::strtoul(message.c_str() + 1, nullptr, 10));
    return r;
}

// ---------------------------------------------------------------------------
// The layout.

class layout {
public:
    layout(std::string_view text, const std::vector<item>& items, const script& tree, const token_offsets& p)
        : s_(text), items_(items), tree_(tree), p_(p), eol_(line_end()) {}

    std::string run() {
        // Laid out, a script rarely grows by half: one buffer, never moved.
        out_.reserve(s_.size() + s_.size() / 2 + 64);
        find_names();
        assign_statements();
        spread_glue();
        emit();
        return std::move(out_);
    }

private:
    static constexpr uint32_t none = UINT32_MAX;

    // The file's line end: that of its first line that ends outside a
    // string. A string's own line ends are kept as written, so they say
    // nothing (and the formatted file must give the same answer).
    std::string_view line_end() const {
        size_t from = 0;
        auto first_in = [&](size_t to) {
            const size_t lf = s_.substr(from, to - from).find('\n');
            return lf == s_.npos ? s_.npos : from + lf;
        };
        for (const item& it : items_) {
            const size_t lf = first_in(it.kind == item_kind::token ? it.begin : it.end());
            if (lf != s_.npos) return lf > 0 && s_[lf - 1] == '\r' ? "\r\n" : "\n";
            from = it.end();
        }
        const size_t lf = first_in(s_.size());
        return lf != s_.npos && lf > 0 && s_[lf - 1] == '\r' ? "\r\n" : "\n";
    }

    std::string_view text_of(size_t i) const { return s_.substr(items_[i].begin, items_[i].length); }
    // A word as the tokenizer reads it.
    std::string_view read_text(size_t i) const { return items_[i].broken ? unbroken_.at(i) : text_of(i); }
    bool is_token(size_t i) const { return items_[i].kind == item_kind::token; }

    // Every word written after DEFINE: a word with one of these texts may be
    // replaced, so neither it nor its neighbourhood is touched. Words are
    // compared as the tokenizer reads them, without the carriage returns
    // written inside them.
    void find_names() {
        bool after_define = false;
        for (size_t i = 0; i < items_.size(); ++i) {
            if (!is_token(i)) continue;
            std::string_view t = text_of(i);
            if (items_[i].broken) {
                std::string& w = unbroken_[i];
                std::copy_if(t.begin(), t.end(), std::back_inserter(w), [](char c) { return c != '\r'; });
                t = w;
            }
            if (after_define) names_.insert(t);
            after_define = words::same_word(t, words::define_keyword);
        }
    }

    // Gives each statement the words it is read from, when they are exactly
    // the words written in the file: no name replaced, none taken from a
    // DEFINE value. Other statements stay as they are written.
    void assign_statements() {
        owner_.assign(items_.size(), none);
        const size_t count = p_.statements.size();
        first_.assign(count, none);
        size_.assign(count, 0);
        auto next_word = [&](size_t i) {
            while (i < items_.size() && !is_token(i)) ++i;
            return i;
        };
        size_t next = next_word(0);
        size_t defined = 0;  // the first token read from a DEFINE value not yet passed
        for (size_t st = 0; st < count && next < items_.size(); ++st) {
            const auto [first, end] = p_.statements[st];
            while (next < items_.size() && items_[next].begin < p_.tokens[first]) next = next_word(next + 1);
            while (defined < p_.from_define.size() && p_.from_define[defined] < first) ++defined;
            if (defined < p_.from_define.size() && p_.from_define[defined] < end) continue;  // a name replaced
            // The statement's words must be the next words of the file, each
            // where the parser read it.
            size_t i = next, k = first;
            for (; k < end && i < items_.size(); ++k, i = next_word(i + 1)) {
                if (items_[i].begin != p_.tokens[k] || (!names_.empty() && names_.contains(read_text(i)))) break;
            }
            if (k < end) continue;  // not plain: its words stay as written
            first_[st] = static_cast<uint32_t>(next);
            size_[st] = static_cast<uint32_t>(end - first);
            for (size_t j = next; j < i; ++j)
                if (is_token(j)) owner_[j] = static_cast<uint32_t>(st);
            next = i;
        }
        verbatim_.assign(items_.size(), false);
        for (size_t i = 0; i < items_.size(); ++i) verbatim_[i] = is_token(i) && owner_[i] == none;
    }

    // Marks item i as written as it stands, with every word of its
    // statement; what is newly marked goes on `marked`.
    void make_verbatim(size_t i, std::vector<size_t>& marked) {
        if (is_token(i) && owner_[i] != none) {
            const uint32_t st = owner_[i];
            // Its words, in the order of the items, with comments between them.
            for (size_t k = first_[st], left = size_[st]; left > 0; ++k) {
                if (!is_token(k)) continue;
                owner_[k] = none;
                verbatim_[k] = true;
                marked.push_back(k);
                --left;
            }
            first_[st] = none;
        } else if (!verbatim_[i]) {
            verbatim_[i] = true;
            marked.push_back(i);
        }
    }

    // A word or comment written against text that stays as written stays
    // so too, with its whole statement: the layout must not split or join
    // what a replaced name is read together with. Each item is marked at
    // most once, so this takes one pass over the items.
    void spread_glue() {
        std::vector<size_t> marked;
        for (size_t i = 0; i < items_.size(); ++i)
            if (verbatim_[i]) marked.push_back(i);
        while (!marked.empty()) {
            const size_t i = marked.back();
            marked.pop_back();
            if (i > 0 && !verbatim_[i - 1] && glued(s_, items_[i - 1].end(), items_[i].begin))
                make_verbatim(i - 1, marked);
            if (i + 1 < items_.size() && !verbatim_[i + 1] && glued(s_, items_[i].end(), items_[i + 1].begin))
                make_verbatim(i + 1, marked);
        }
    }

    // --- output

    void new_line(size_t feeds, size_t level) {
        if (!out_.empty()) {
            out_ += eol_;
            if (feeds >= 2) out_ += eol_;
        }
        for (size_t k = std::min(level, deepest_indent); k > 0; --k) out_ += indent_unit;
        line_has_text_ = false;
    }

    void put(std::string_view t) {
        out_ += t;
        line_has_text_ = true;
    }

    // Text that is not a word (a comment, the room between words) with its
    // line ends in the file's form and no blanks before them.
    void put_free_text(std::string_view t) {
        size_t from = 0;
        for (size_t lf; (lf = t.find('\n', from)) != t.npos; from = lf + 1) {
            size_t e = lf;
            while (e > from && (t[e - 1] == ' ' || t[e - 1] == '\t' || t[e - 1] == '\r' || t[e - 1] == '\v' ||
                                t[e - 1] == '\f'))
                --e;
            out_.append(t.substr(from, e - from));
            out_ += eol_;
        }
        out_.append(t.substr(from));
        line_has_text_ = true;
    }

    void put_comment(size_t i) {
        std::string_view t = text_of(i);
        // What ends the script: its line ends and blanks at the end are
        // those of the script.
        if (items_[i].kind == item_kind::line_comment || items_[i].unclosed) {
            while (!t.empty() && is_space(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
            put_free_text(t);
        } else {
            put_free_text(t);
        }
    }

    // The room before item m of text that stays as written. A statement
    // that begins a line there is indented like any other: only the blanks
    // after the last line end change.
    void put_gap_before(size_t m) {
        const std::string_view gap = s_.substr(items_[m - 1].end(), items_[m].begin - items_[m - 1].end());
        const size_t lf = gap.rfind('\n');
        const std::optional<size_t> level =
            lf != gap.npos && is_token(m) ? level_of_statement_at(items_[m].begin) : std::nullopt;
        if (!level) {
            put_free_text(gap);
            return;
        }
        put_free_text(gap.substr(0, lf + 1));
        for (size_t k = std::min(*level, deepest_indent); k > 0; --k) out_ += indent_unit;
    }

    // The level of the statement whose first word the parser read at `at`,
    // if one does; the places asked for only ever grow.
    std::optional<size_t> level_of_statement_at(uint32_t at) {
        const size_t count = std::min(p_.statements.size(), tree_.commands.size());
        auto first_of = [&](size_t st) {
            const size_t first = p_.statements[st].first;
            return first < p_.tokens.size() ? p_.tokens[first] : UINT32_MAX;
        };
        while (found_statement_ < count && first_of(found_statement_) < at) ++found_statement_;
        if (found_statement_ == count || first_of(found_statement_) != at) return std::nullopt;
        pass_statements(found_statement_);
        if (next_statement_ != found_statement_) return std::nullopt;
        return level_of(tree_.commands[found_statement_].kind);
    }

    // A line comment after text on its line keeps the column it was written at
    // (comments aligned in a column stay so), as far as the text before it
    // leaves room; otherwise one blank stands before it.
    void pad_to_column_of(size_t i) {
        const size_t lf = s_.rfind('\n', items_[i].begin);
        const size_t column = items_[i].begin - (lf == s_.npos ? 0 : lf + 1);
        const size_t olf = out_.rfind('\n');
        const size_t length = out_.size() - (olf == out_.npos ? 0 : olf + 1);
        out_.append(length + 1 < column ? column - length : 1, ' ');
    }

    // The level of a statement's own line: its block level, one more after
    // the first label (the statements under a label are indented like a
    // block), none for a label. after() gives the block level after it.
    size_t level_of(cmd_kind k) const {
        if (k == CMD_LABEL) return 0;
        const size_t base = labelled_ ? 1 : 0;
        if (k == CMD_ELSE || k == CMD_ENDIF || k == CMD_WHILE) return base + (depth_ > 0 ? depth_ - 1 : 0);
        return base + depth_;
    }
    size_t level() const { return (labelled_ ? 1 : 0) + depth_; }
    void after(cmd_kind k) {
        if (k == CMD_IF || k == CMD_DO) ++depth_;
        if ((k == CMD_ENDIF || k == CMD_WHILE) && depth_ > 0) --depth_;
        if (k == CMD_LABEL) labelled_ = true;
    }

    // The block levels of statements that stay as written, up to `st`.
    void pass_statements(size_t st) {
        for (; next_statement_ < st && next_statement_ < tree_.commands.size(); ++next_statement_)
            after(tree_.commands[next_statement_].kind);
    }

    // Whether two words of a statement are written without a blank between
    // them: brackets and braces hug what they hold, a range's comma stands
    // between its numbers, a list's comma after its number.
    bool hug(std::string_view a, std::string_view b) const {
        bool want = b == "]" || b == "}" || b == "," || a == "[" || a == "{" || (a == "," && brackets_ > 0) ||
                    (b == "[" && is_ident(static_cast<unsigned char>(a.back())));
        if (!want) return false;
        // never where the tokenizer would read the two as one
        const auto last = static_cast<unsigned char>(a.back());
        const auto first = static_cast<unsigned char>(b.front());
        return !(is_ident(last) && is_ident(first)) && !(is_comparison(last) && is_comparison(first)) &&
               !(a == "/" && first == '*');
    }

    void put_word(size_t i, uint32_t st, size_t index) {
        std::string_view t = text_of(i);
        const cmd_kind kind = tree_.commands[st].kind;
        const bool label_name = index == 1 && (kind == CMD_GOTO || kind == CMD_GOSUB);
        if (kind != CMD_LABEL && !label_name) {
            const std::string_view canonical = canonical_word(kind, read_text(i));
            if (!canonical.empty() && canonical != t && !names_.contains(canonical)) t = canonical;
        }
        if (t == "[") ++brackets_;
        if (t == "]" && brackets_ > 0) --brackets_;
        put(t);
        last_word_ = t;
    }

    void emit() {
        size_t prev_end = 0;
        bool break_due = false;  // after a line comment
        bool comment_opens_line = false;
        uint32_t statement = none;
        size_t word_index = 0, statement_level = 0;
        for (size_t i = 0; i < items_.size(); ++i) {
            const item& it = items_[i];
            const size_t feeds = line_feeds(s_, prev_end, it.begin);
            const bool after_comment = i > 0 && !is_token(i - 1);
            if (verbatim_[i]) {
                // Written as it stands, up to the last item that must be.
                size_t last = i;
                for (size_t m = i + 1; m < items_.size(); ++m) {
                    if (is_token(m) && !verbatim_[m]) break;
                    if (verbatim_[m]) last = m;
                }
                size_t next_plain = tree_.commands.size();
                for (size_t m = last + 1; m < items_.size(); ++m) {
                    if (is_token(m)) {
                        next_plain = owner_[m];
                        break;
                    }
                }
                pass_statements(next_statement_);
                const size_t region_level =
                    next_statement_ < next_plain && next_statement_ < tree_.commands.size()
                        ? level_of(tree_.commands[next_statement_].kind)
                        : level();
                new_line(feeds, region_level);
                for (size_t m = i; m <= last; ++m) {
                    if (m > i) put_gap_before(m);
                    if (is_token(m)) {
                        put(text_of(m));
                    } else {
                        put_comment(m);
                    }
                }
                pass_statements(next_plain);
                break_due = items_[last].kind == item_kind::line_comment;
                comment_opens_line = false;
                statement = none;
                prev_end = items_[last].end();
                i = last;
                continue;
            }
            if (is_token(i)) {
                const uint32_t st = owner_[i];
                if (st != statement) {
                    // a statement begins
                    pass_statements(st);
                    const cmd_kind kind = tree_.commands[st].kind;
                    statement_level = level_of(kind);
                    if (feeds == 0 && comment_opens_line && after_comment && !break_due) {
                        put(" ");
                    } else {
                        new_line(feeds, statement_level);
                    }
                    after(kind);
                    next_statement_ = st + 1;
                    statement = st;
                    word_index = 0;
                    brackets_ = 0;
                } else if (break_due) {
                    new_line(feeds, statement_level + 1);
                } else if (after_comment || !hug(last_word_, text_of(i))) {
                    put(" ");
                }
                put_word(i, st, word_index++);
                break_due = false;
                comment_opens_line = false;
            } else {
                if (feeds == 0 && !break_due && line_has_text_) {
                    if (it.kind == item_kind::line_comment) {
                        pad_to_column_of(i);
                    } else {
                        put(" ");
                    }
                    comment_opens_line = false;
                } else {
                    new_line(feeds, level());
                    comment_opens_line = true;
                }
                put_comment(i);
                break_due = it.kind == item_kind::line_comment;
            }
            prev_end = it.end();
        }
        if (!out_.empty() && !ends_in_define_name()) out_ += eol_;
    }

    // A DEFINE whose name is the last word of the script stands for a single
    // blank; a line end after the name would leave it without a value. The
    // DEFINE may be written there or come from a name's value, and either
    // way its words stay as written: a script whose last word does so ends
    // as it did.
    bool ends_in_define_name() const {
        size_t last = items_.size();
        while (last > 0 && !is_token(last - 1)) --last;
        return last > 0 && verbatim_[last - 1] && s_.find('\n', items_[last - 1].end()) == s_.npos;
    }

    std::string_view s_;
    const std::vector<item>& items_;
    const script& tree_;
    const token_offsets& p_;
    std::string_view eol_;

    std::unordered_map<size_t, std::string> unbroken_;  // by broken word: its text as the tokenizer reads it
    std::unordered_set<std::string_view> names_;
    std::vector<uint32_t> owner_;  // by item: the statement a word is laid out in, or none
    std::vector<bool> verbatim_;   // by item: written as it stands
    std::vector<uint32_t> first_;  // by statement: the item of its first word, or none
    std::vector<uint32_t> size_;   // by statement: its words

    std::string out_;
    bool line_has_text_ = false;
    size_t depth_ = 0;
    bool labelled_ = false;
    size_t next_statement_ = 0;
    size_t found_statement_ = 0;  // level_of_statement_at's place among the statements
    size_t brackets_ = 0;
    std::string_view last_word_;
};

std::optional<std::string> lay_out(std::string_view text, const script& tree, const token_offsets& positions) {
    const std::optional<std::vector<item>> items = scan(text);
    if (!items) return std::nullopt;
    return layout(text, *items, tree, positions).run();
}

// Scripts from this size on are formatted on two threads; for smaller ones
// starting a thread costs more than it saves.
constexpr size_t two_threads_from = 64 * 1024;

// A WebAssembly build without threads has none to give: a thread asked for
// there never starts.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool has_threads = false;
#else
constexpr bool has_threads = true;
#endif

// Work that runs on a thread of its own when `beside` is true and a thread
// can be started, else where its result is asked for.
template <typename Work>
auto run_beside(bool beside, Work work) {
    return std::async(beside ? std::launch::async | std::launch::deferred : std::launch::deferred, std::move(work));
}

}  // namespace

format_result format_script(std::string_view text) {
    const bool beside = has_threads && text.size() >= two_threads_from;
    // The words and comments as written are found while the compiler reads
    // the script, ...
    auto items = run_beside(beside, [text] { return scan(text); });
    token_offsets offsets;
    // Room for the tokens of a dense script: the record never moves.
    offsets.tokens.reserve(text.size() / 2 + 16);
    script tree;
    try {
        tree = parse_script_text(text, &offsets);
    } catch (const fatal_error& e) {
        return refused(text, e.message());
    }
    // ... and the script is checked and compiled while it is laid out. The
    // layout of a script that vendrak refuses is thrown away.
    auto compiled = run_beside(beside, [&tree] {
        validate_script(tree);
        program prog;
        compile_script(tree, prog);
    });
    std::optional<std::string> laid_out;
    if (const std::optional<std::vector<item>> words = items.get())
        laid_out = layout(text, *words, tree, offsets).run();
    try {
        compiled.get();
    } catch (const fatal_error& e) {
        return refused(text, e.message());
    }

    format_result r;
    r.ok = true;
    offsets = {};  // no longer needed: its memory is free for the read-back
    // The layout is kept only when it reads as the same statements.
    if (laid_out && *laid_out != text && reads_as(*laid_out, tree)) {
        r.text = std::move(*laid_out);
    } else {
        r.text = std::string(text);
    }
    return r;
}

std::optional<std::string> unchecked_layout(std::string_view text) {
    token_offsets offsets;
    const script tree = parse_script_text(text, &offsets);
    return lay_out(text, tree, offsets);
}

}  // namespace vendrak::fmt
