// The warnings that the script itself gives reason for: numbers read other
// than they are written, blocks that pair up other than they are indented,
// labels, screen texts, file names, definitions and the bytes of the file.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "check/findings.h"
#include "check/layout.h"
#include "compile/opcode.h"
#include "parser/lexer.h"
#include "parser/vocabulary.h"

namespace vendrak::check {
namespace {

namespace words = vocabulary;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value of the leading decimal digits of `digits`, saturating.
uint64_t decimal_value(std::string_view digits) {
    uint64_t v = 0;
    for (char c : digits) {
        if (!is_digit(c)) break;
        v = std::min<uint64_t>(v * 10 + static_cast<uint64_t>(c - '0'), uint64_t{1} << 40);
    }
    return v;
}

// Beyond the signed 32-bit numbers: the parser then keeps the nearest one.
bool beyond_32_bits(std::string_view t) {
    const bool negative = t.starts_with('-');
    uint32_t magnitude = 0;
    convert_uint(negative ? t.substr(1) : t, magnitude);
    return negative ? magnitude > 0x80000000u : magnitude > 0x7FFFFFFFu;
}

// The value of a number as written (sign, 0x, a leading 0 for octal),
// without its sign, saturating at 2^40: enough to tell what passes 32 bits.
uint64_t magnitude(std::string_view t) {
    if (t.starts_with('-') || t.starts_with('+')) t.remove_prefix(1);
    unsigned base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    } else if (t.size() > 1 && t[0] == '0') {
        base = 8;
    }
    uint64_t v = 0;
    for (const char c : t) {
        const unsigned d = is_digit(c) ? static_cast<unsigned>(c - '0')
                           : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? static_cast<unsigned>((c | 0x20) - 'a' + 10)
                                                                     : 99;
        if (d >= base) break;
        v = std::min<uint64_t>(v * base + d, uint64_t{1} << 40);
    }
    return v;
}

// A fix that writes `text` in place of the number's `length` bytes from `skip`.
void replace_in(finding* f, token_position at, size_t skip, size_t length, std::string text) {
    if (f == nullptr) return;
    const auto from = at.column + static_cast<uint32_t>(skip);
    f->fix.push_back({at.line, from, at.line, from + static_cast<uint32_t>(length), std::move(text)});
}

// `written()`: the number stands in the text as read, so fixes may edit it
// (asked only for a warning).
template <typename Written>
void check_integer(const std::string& t, const number_read& n, token_position at, const Written& written, findings& out) {
    int32_t value = 0;
    uint32_t unsigned_value = 0;
    const size_t used = n.as == number_read::unsigned_integer ? convert_uint(t, unsigned_value) : convert_int(t, value);
    const std::string rest = t.substr(used);
    const std::string_view digits = std::string_view(t).substr(t[0] == '-' || t[0] == '+' ? 1 : 0);
    const bool octal = digits.size() >= 2 && digits[0] == '0' && is_digit(digits[1]);
    const long long shown = n.as == number_read::unsigned_integer ? static_cast<long long>(unsigned_value) : value;

    if (rest.size() >= 2 && rest[0] == '.' && is_digit(rest[1])) {
        finding* f = out.warn(warning::fraction, at,
                              "\"%s\" is read as %lld: a whole number is expected here, and the fraction is dropped",
                              t.c_str(), shown);
        // Dropping the fraction (and what follows it) keeps what the device gets.
        if (f != nullptr && written()) replace_in(f, at, used, rest.size(), "");
    } else if (n.list_element && t.back() == ':') {
        out.warn(warning::trailing, at,
                 "\"%s\" is read as the number %lld of the list before it, not as a label; begin labels with a letter",
                 t.c_str(), shown);
    } else if (octal && (rest.empty() || is_digit(rest[0]))) {
        // A number the same in both bases (007) says what it means.
        if (decimal_value(digits) != static_cast<uint64_t>(shown < 0 ? -shown : shown)) {
            if (rest.empty()) {
                finding* f = out.warn(warning::octal, at,
                                      "\"%s\" is octal, the number %lld: a leading 0 makes a number octal", t.c_str(),
                                      shown);
                if (f != nullptr && written()) replace_in(f, at, 0, t.size(), std::to_string(shown));
            }
            else
                out.warn(warning::octal, at, "\"%s\" is read as %lld: a leading 0 makes it octal, and %c is no octal digit",
                         t.c_str(), shown, rest[0]);
        }
    } else if (!rest.empty()) {
        finding* f = out.warn(warning::trailing, at, "\"%s\" is read as %lld; \"%s\" is ignored", t.c_str(), shown,
                              rest.c_str());
        // A unit (2s, 500ms) goes; "5-1" was meant as a sum, which a fix cannot tell.
        if (f != nullptr && rest[0] != '-' && rest[0] != '.' && written()) replace_in(f, at, used, rest.size(), "");
    }

    if (n.as == number_read::unsigned_integer) {
        // UPLOAD and DOWNLOAD: 0 to 4294967295; a "-" negates modulo 2^32.
        const std::string_view number = std::string_view(t).substr(0, used);
        if (number.starts_with('-') && unsigned_value != 0)
            out.warn(warning::overflow, at, "\"%s\" is read as %u: this number has no sign, and a negative one wraps around",
                     t.c_str(), unsigned_value);
        else if (magnitude(number) > 0xFFFFFFFFu)
            out.warn(warning::overflow, at, "\"%s\" is beyond 32 bits and is read as %u", t.c_str(), unsigned_value);
    } else if (beyond_32_bits(t.substr(0, used))) {
        out.warn(warning::overflow, at, "\"%s\" is beyond the signed 32-bit numbers and is read as %d", t.c_str(), value);
    } else if (n.unsigned_field && value < 0) {
        const uint32_t high = n.field_bits < 32 ? (uint32_t{1} << n.field_bits) - 1 : UINT32_MAX;
        const auto kept = static_cast<uint32_t>(value) & high;
        out.warn(warning::overflow, at, "%s is negative, but this field holds 0 to %u: the device gets %u (0x%0*X)",
                 t.c_str(), high, kept, n.field_bits / 4, kept);
    } else if (n.field_bits < 32) {
        const int64_t low = -(int64_t{1} << (n.field_bits - 1));
        const int64_t high = (int64_t{1} << n.field_bits) - 1;
        if (value < low || value > high) {
            const auto kept = static_cast<uint32_t>(value) & static_cast<uint32_t>(high);
            out.warn(warning::overflow, at, "%s does not fit in %u bits: the device gets %u (0x%0*X)", t.c_str(),
                     n.field_bits, kept, n.field_bits / 4, kept);
        }
    }
}

void check_number(const parsed_script& p, const number_read& n, findings& out) {
    const std::string t = std::string(p.token(n.token));
    if (t.empty()) return;
    if (n.as == number_read::floating) {
        const size_t used = float_prefix(t);
        // The device keeps single precision: beyond about 3.4e38 a number is infinite.
        if (const std::string number = t.substr(0, used); std::isinf(convert_float(number)))
            out.warn(warning::overflow, p.at(n.token), "\"%s\" is beyond the single-precision numbers the device keeps: "
                     "it becomes %sinfinity", t.c_str(), number.starts_with('-') ? "minus " : "");
        if (used < t.size()) {
            finding* f = out.warn(warning::trailing, p.at(n.token), "\"%s\" is read as %s; \"%s\" is ignored",
                                  t.c_str(), t.substr(0, used).c_str(), t.c_str() + used);
            if (f != nullptr && t[used] != '-' && p.written(n.token)) replace_in(f, p.at(n.token), used, t.size() - used, "");
        }
        return;
    }
    check_integer(t, n, p.at(n.token), [&] { return p.written(n.token); }, out);
}

// FW_VERSION XX.YY: the part after the point is read as a number of its
// own, in the bases of every number, so it says the minor number plainly
// only as two digits that read the same in octal (x.8 and x.9 aside).
void check_fw_version(const parsed_script& p, size_t i, const fw_version_form& f, findings& out) {
    const statement_layout layout = lay_out(p.tree, p.positions, i);
    const uint32_t token = layout.part(1);
    const std::string t = std::string(p.token(token));
    // The device keeps the major number in 16 bits.
    if (f.major < 0 || f.major > 0xFFFF || f.minor < 0) {
        out.warn(warning::overflow, p.at(token),
                 "the major number of FW_VERSION %s does not fit in 16 bits: the device checks version %u.%02u", t.c_str(),
                 static_cast<uint32_t>(f.major) & 0xFFFF, static_cast<uint32_t>(f.minor) & 0xFFFF);
        return;
    }
    const size_t point = t.find('.');
    const std::string whole = t.substr(0, point);
    const std::string minor = point == t.npos ? std::string() : t.substr(point + 1);
    const auto all_digits = [](const std::string& s) { return !s.empty() && std::all_of(s.begin(), s.end(), is_digit); };
    const bool plain = all_digits(whole) && (point == t.npos || all_digits(minor));
    // x.8 and x.9 are the only spellings of x.08 and x.09, which as two
    // digits would be octal.
    const bool two_digits = minor.size() == 2 || (minor.size() == 1 && minor[0] >= '8');
    if (plain && (minor.empty() || two_digits) && decimal_value(whole) == static_cast<uint64_t>(f.major) &&
        decimal_value(minor) == static_cast<uint64_t>(f.minor))
        return;

    std::string hint;
    if (plain && minor.size() == 1) {
        hint = "; write " + whole + ".0" + minor + " or " + whole + "." + minor + "0 to say which";
    } else if (plain && minor.size() == 2 && minor[0] == '0') {
        hint = "; the digits after the point are read as an octal number: write " + whole + "." + minor[1] +
               " for version " + t;
    } else if (plain && minor.size() > 2) {
        hint = "; the minor number has two digits";
    }
    out.warn(warning::fw_version, p.at(token), "FW_VERSION %s checks version %d.%02d%s", t.c_str(), f.major, f.minor,
             hint.c_str());
}

// Whether `t` holds a character of several bytes in UTF-8.
bool has_multibyte_utf8(std::string_view t) {
    for (size_t i = 0; i < t.size(); ++i) {
        const auto b = static_cast<unsigned char>(t[i]);
        const size_t more = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 0;
        if (more == 0 || i + more >= t.size()) continue;
        bool valid = true;
        for (size_t k = 1; k <= more; ++k) valid = valid && (static_cast<unsigned char>(t[i + k]) & 0xC0) == 0x80;
        if (valid) return true;
    }
    return false;
}

// Tabs and control characters take a cell each and show as the screen's
// font has it; a typed \n is the two characters \ and n. (Line breaks of a
// string over several lines are -Wstring-lines'.)
void check_screen_text(std::string_view t, token_position at, findings& out) {
    if (const size_t i = t.find("\\n"); i != t.npos) {
        out.warn(warning::screen_text, at,
                 "\\n is no line break on a screen: it shows \\ and n; write the next row with a statement of its own");
        return;
    }
    for (const char c : t) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\t') {
            out.warn(warning::screen_text, at, "this text holds a tab: the screen shows it as one cell, not as blanks up to a tab stop");
            return;
        }
        if ((b < 0x20 && b != '\n' && b != '\r') || b == 0x7F) {
            out.warn(warning::screen_text, at, "this text holds the control character 0x%02X: the screen shows it as one cell", b);
            return;
        }
    }
}

// A text on a screen that fits the screen but not the rest of its row runs
// on into the next rows.
void check_screen(const parsed_script& p, size_t i, const command& c, const screen_form& f, findings& out) {
    if (f.expr.kind != EXPR_STRING && f.expr.kind != EXPR_TEXT) return;
    const int64_t width = c.kind == CMD_HUD ? 32 : 16;
    const int64_t length = f.expr.length;
    const token_position at = p.at(lay_out(p.tree, p.positions, i).part(3));
    if (f.expr.kind == EXPR_STRING) {
        const std::string_view shown = p.tree.text(f.expr.text());
        if (has_multibyte_utf8(shown))
            out.warn(warning::encoding, at, "this text holds characters of several bytes (UTF-8): each byte takes a cell of the screen");
        check_screen_text(shown, at, out);
    }
    if (f.row < 1 || f.row > 8 || f.column < 1 || f.column > width || length <= 0) return;
    const int64_t start = (f.row - 1) * width + (f.column - 1);
    if (start + length > 8 * width) return;  // off screen: the validator's error
    const int64_t left = width - (f.column - 1);
    if (length <= left) return;
    const int64_t last_row = (start + length - 1) / width + 1;
    out.warn(warning::row_overflow, at, "%s of %lld characters runs on from row %d into row %lld: %lld cells are left in row %d",
             f.expr.kind == EXPR_TEXT ? "TEXT[]" : "this text", static_cast<long long>(length), f.row,
             static_cast<long long>(last_row), static_cast<long long>(left), f.row);
}

bool ends_in_vbf(std::string_view name) {
    return name.size() >= 4 && words::same_word(name.substr(name.size() - 4), ".vbf");
}

void check_flash_name(const parsed_script& p, size_t i, const command& c, const prog_form& f, findings& out) {
    const std::string_view name = p.tree.text(f.filename);
    if (ends_in_vbf(name)) return;
    const token_position at = p.at(lay_out(p.tree, p.positions, i).part(1));
    const std::string shown(name);
    if (c.kind != CMD_PROG) {
        out.warn(warning::flash_name, at, "\"%s\" does not end in .vbf: %s takes any file name, and converts it as a VBF file",
                 shown.c_str(), words::keyword(c.kind).data());
    } else if (name.find(".vbf") != name.npos || name.find(".VBF") != name.npos) {
        // Names without ".vbf" at all are the validator's error.
        out.warn(warning::flash_name, at, "\"%s\" does not end in .vbf: PROG only looks for .vbf or .VBF anywhere in the name",
                 shown.c_str());
    }
}

// Every word the language reads as a keyword, a choice or an operand.
bool is_language_word(std::string_view name) {
    if (words::same_word(name, words::define_keyword) || words::same_word(name, words::var_word)) return true;
    if (words::statement_kind(name) != 0 || words::operand_kind(name) != EXPR_NONE) return true;
    for (const words::statement& s : words::statements)
        for (const words::choice* slot : s.choices)
            if (slot->code(name) != 0) return true;
    return false;
}

}  // namespace

void warn_numbers(const parsed_script& p, findings& out) {
    for (size_t i = 0; i < p.tree.commands.size(); ++i) {
        if (p.tree.commands[i].kind == CMD_FW_VERSION) continue;  // its own rule, below
        for (const number_read& n : lay_out(p.tree, p.positions, i).numbers) check_number(p, n, out);
    }
}

void warn_statements(const parsed_script& p, findings& out) {
    for (size_t i = 0; i < p.tree.commands.size(); ++i) {
        const command& c = p.tree.commands[i];
        if (const auto* f = std::get_if<fw_version_form>(&c.form)) check_fw_version(p, i, *f, out);
        if (const auto* f = std::get_if<screen_form>(&c.form)) check_screen(p, i, c, *f, out);
        if (const auto* f = std::get_if<prog_form>(&c.form)) check_flash_name(p, i, c, *f, out);
    }
}

// The block statements pair up as program assembly pairs them: an ELSE with
// the innermost open IF, an ENDDO with the next WHILE, a jump with the first
// label of its name.
void warn_blocks(const parsed_script& p, findings& out) {
    struct open_if {
        size_t statement;
        bool has_else;
    };
    struct pending_enddo {
        size_t statement;
        size_t own_do;
    };
    std::vector<open_if> ifs;
    std::vector<size_t> dos;
    std::vector<pending_enddo> enddos;
    std::unordered_map<std::string_view, size_t> labels;  // name -> first statement
    std::vector<size_t> label_order;
    std::unordered_set<std::string_view> jumped_to;
    auto line_of = [&](size_t statement) { return p.at(p.first(statement)).line; };

    for (size_t i = 0; i < p.tree.commands.size(); ++i) {
        const command& c = p.tree.commands[i];
        const token_position at = p.at(p.first(i));
        switch (c.kind) {
            case CMD_IF: ifs.push_back({i, false}); break;
            case CMD_ELSE:
                if (ifs.empty()) break;
                if (ifs.back().has_else)
                    out.warn(warning::second_else, at,
                             "second ELSE of the IF on line %u: when the condition is true, the part after this ELSE runs too",
                             line_of(ifs.back().statement));
                ifs.back().has_else = true;
                break;
            case CMD_ENDIF:
                if (!ifs.empty()) ifs.pop_back();
                break;
            case CMD_DO: dos.push_back(i); break;
            case CMD_ENDDO:
                if (!dos.empty()) enddos.push_back({i, dos.back()});
                break;
            case CMD_WHILE:
                if (dos.empty()) break;
                for (const pending_enddo& e : enddos) {
                    if (e.own_do == dos.back()) continue;
                    out.warn(warning::loop_pairing, p.at(p.first(e.statement)),
                             "this ENDDO leaves the loop of the WHILE on line %u, not its own loop (the DO on line %u)",
                             line_of(i), line_of(e.own_do));
                }
                enddos.clear();
                dos.pop_back();
                break;
            case CMD_LABEL: {
                const std::string_view name = p.tree.text(std::get<label_form>(c.form).name);
                const auto [first, added] = labels.try_emplace(name, i);
                if (added) {
                    label_order.push_back(i);
                } else {
                    const std::string shown(name);
                    out.warn(warning::duplicate_label, at, "label %s is defined on line %u already: every jump goes there",
                             shown.c_str(), line_of(first->second));
                }
                break;
            }
            case CMD_GOTO:
            case CMD_GOSUB: jumped_to.insert(p.tree.text(std::get<label_form>(c.form).name)); break;
            default: break;
        }
    }
    for (size_t i : label_order) {
        const std::string_view name = p.tree.text(std::get<label_form>(p.tree.commands[i].form).name);
        if (jumped_to.contains(name)) continue;
        const std::string shown(name);
        out.warn(warning::unused_label, p.at(p.first(i)), "no GOTO or GOSUB names label %s", shown.c_str());
    }
}

// DEFINE lines are the tokens between statements: "DEFINE", the name, and
// the value on the name's line.
void warn_defines(const parsed_script& p, findings& out) {
    if (!out.enabled(warning::define_keyword)) return;
    const auto& ranges = p.positions.statements;
    auto gap = [&](uint32_t from, uint32_t to) {
        for (uint32_t j = from; j + 1 < to;) {
            if (!words::same_word(p.token(j), words::define_keyword)) {
                ++j;
                continue;
            }
            const uint32_t name = j + 1;
            const std::string shown(p.token(name));
            if (is_language_word(shown))
                out.warn(warning::define_keyword, p.at(name),
                         "%s is a word of the language: from here on, every %s written so stands for this definition",
                         shown.c_str(), shown.c_str());
            for (j = name + 1; j < to && p.at(j).line == p.at(name).line;) ++j;
        }
    };
    uint32_t from = 0;
    for (const auto& r : ranges) {
        gap(from, r.first);
        from = r.end;
    }
    gap(from, static_cast<uint32_t>(p.positions.tokens.size()));
}

void warn_encoding(std::string_view text, const token_position* end, findings& out) {
    const token_position start{1, 1};
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0x100u; };
    if (text.starts_with("\xEF\xBB\xBF")) {
        out.warn(warning::encoding, start,
                 "the file begins with a UTF-8 byte-order mark, which vendrak reads as a word: save it without one");
        return;
    }
    // UTF-16: a byte-order mark, or every other byte 0 among the first ones.
    size_t zeros[2] = {0, 0};
    const size_t head = std::min<size_t>(text.size(), 64);
    for (size_t i = 0; i < head; ++i)
        if (text[i] == '\0') ++zeros[i % 2];
    const bool mark = (byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF);
    if (mark || (head >= 4 && std::max(zeros[0], zeros[1]) * 2 >= head - 1 && std::min(zeros[0], zeros[1]) == 0)) {
        out.warn(warning::encoding, start, "the file is UTF-16 text, but vendrak reads bytes: save it as ASCII or UTF-8");
        return;
    }
    // A NUL byte ends the script like the end of the file: the parse
    // stopped on one when its end token stands on a NUL.
    if (end == nullptr || end->column == 0) return;
    size_t offset = 0;
    for (uint32_t line = 1; line < end->line; ++line) {
        offset = text.find('\n', offset);
        if (offset == text.npos) return;
        ++offset;
    }
    offset += end->column - 1;
    if (offset < text.size() && text[offset] == '\0')
        out.warn(warning::encoding, *end, "a NUL byte ends the script here: the %zu bytes after it are not read",
                 text.size() - offset - 1);
}

// The program as the device runs it: from the first instruction, every
// instruction goes on to the next but for the jumps, EXIT and RETURN. A
// statement none of whose instructions is reached is reported, once for
// each run of such statements. The JMP of an ELSE, which the THEN part
// falls into, is left out: a THEN part may well end in a GOTO.
void warn_unreachable(const parsed_script& p, const program& prog, findings& out) {
    if (!out.enabled(warning::unreachable)) return;
    const std::vector<instruction>& code = prog.instructions;
    std::vector<bool> reached(code.size(), false);
    std::vector<size_t> todo{0};
    while (!todo.empty()) {
        const size_t i = todo.back();
        todo.pop_back();
        if (i >= code.size() || reached[i]) continue;
        reached[i] = true;
        const uint32_t op = get_field(code[i].opcode, fields::code);
        const size_t target = get_field(code[i].opcode, fields::jump_target) / opcode_size;
        if (is_jump(op)) todo.push_back(target);
        if (op != OPC_JMP && op != OPC_EXIT && op != OPC_RETURN) todo.push_back(i + 1);
    }

    size_t next = 0;  // the first instruction of the statement
    bool before_reached = true;
    for (size_t i = 0; i < p.tree.commands.size(); ++i) {
        const cmd_kind kind = p.tree.commands[i].kind;
        // How many instructions program assembly makes of each statement.
        const size_t count = kind == CMD_IF || kind == CMD_WHILE ? 2 : kind == CMD_DO || kind == CMD_ENDIF || kind == CMD_LABEL ? 0 : 1;
        if (count == 0 || next >= code.size()) continue;
        const bool now = reached[next];
        next += count;
        if (kind == CMD_ELSE) continue;
        if (!now && before_reached) out.warn(warning::unreachable, p.at(p.first(i)), "no path of the program reaches this statement");
        before_reached = now;
    }
}

}  // namespace vendrak::check
