#include "check/check.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>

#include "check/findings.h"
#include "check/layout.h"
#include "common/file.h"
#include "common/report.h"
#include "parser/vocabulary.h"
#include "platform/platform.h"
#include "validate/validate.h"

namespace vendrak::check {
namespace {

constexpr std::array<warning_info, warning_count> table = {{
    {"fw-version", "FW_VERSION numbers whose part after the point gives another minor number than it shows"},
    {"fraction", "decimal numbers where a whole number is expected: the fraction is dropped"},
    {"trailing", "numbers followed by characters that are ignored, and labels taken into a number list"},
    {"octal", "numbers with a leading 0, which are octal"},
    {"overflow", "numbers beyond 32 bits, or beyond the field that keeps them"},
    {"row-overflow", "screen texts that run on into the next row"},
    {"second-else", "a second ELSE in one IF"},
    {"loop-pairing", "ENDDO that leaves another loop than its own"},
    {"duplicate-label", "labels defined twice"},
    {"unused-label", "labels that no GOTO or GOSUB names"},
    {"unreachable", "statements that no path of the program reaches"},
    {"define-keyword", "DEFINE names that are words of the language"},
    {"encoding", "byte-order marks, UTF-16 and NUL bytes; screen texts with characters of several bytes"},
    {"flash-name", "names of programmed files that do not end in .vbf"},
    {"vbf-path", "VBF files beside the script that vendrak looks for in the current directory"},
    {"block-checksum", "uncompressed VBF sections whose block checksum is not the CRC-16 of their data"},
    {"unclosed-comment", "a /* comment that runs to the end of the file"},
    {"line-end", "carriage returns without a line feed, over which a ; comment runs on"},
    {"string-lines", "strings that run on over several lines"},
    {"screen-text", "tabs, control characters and a typed \\n in screen texts"},
    {"return-without-gosub", "a RETURN that the script can reach without a GOSUB"},
    {"gosub-return", "a GOSUB whose subroutine never reaches a RETURN"},
    {"goto-into-block", "a GOTO into an IF or DO block from outside it"},
    {"endless-loop", "a loop whose condition reads nothing that the loop changes"},
    {"constant-condition", "an IF or WHILE condition whose result is known beforehand"},
    {"unset", "KEY, TIME or a variable read before any statement sets it"},
    {"order", "network statements before any NET, LOG ADD before any LOG NEW"},
    {"slice-range", "slices on screens, in logs and in VAR past byte 255 or with a length conditions refuse"},
    {"never-true", "comparisons that can never hold, or always hold, whatever the response"},
    {"divide-by-zero", "a VAR division by the constant 0"},
    {"bar-limits", "bar limits whose low limit is not below the high one"},
    {"vin-length", "a VIN_VERIFY text that is not 17 characters"},
    {"empty-request", "a WRITE or REQUEST with no bytes"},
    {"read-reply", "a READ SID that cannot be the reply to the request just sent"},
    {"redefine", "a DEFINE name given a second, different value"},
    {"define-number", "a DEFINE whose name is a number, which then replaces that number"},
    {"define-in-string", "a DEFINE name written inside a string, where it is not replaced"},
    {"data-set", "data-set statements of one sequence that name different DIDs"},
    {"network", "NET identifier widths and bit rates that the chosen network does not have"},
}};

// "[12] Error: text\n" gives "text", "[12] INTERNAL ERROR: text\n" gives
// "INTERNAL ERROR: text"; a message without a line ("Token too long: ...")
// only loses its line feed.
std::string script_message(std::string_view m) {
    if (m.ends_with('\n')) m.remove_suffix(1);
    if (m.starts_with('[')) {
        if (const size_t close = m.find("] "); close != m.npos) m.remove_prefix(close + 2);
        if (m.starts_with("Error: ")) m.remove_prefix(7);
    }
    return std::string(m);
}

uint32_t message_line(std::string_view m) { return static_cast<uint32_t>(std::strtoul(m.data() + 1, nullptr, 10)); }

// A parse error is about the token the parser stopped at. When that token
// stands on a later line than the one the message names, or the script has
// ended, the statement ran out of words: the last word read is the place.
token_position parse_error_at(std::string_view message, const script_positions& p) {
    if (!message.starts_with('[') || p.tokens.size() < 2) return p.stopped_at;
    const bool at_end = p.text(p.tokens.size() - 1).empty();
    if (p.stopped_at.line == message_line(message) && !at_end) return p.stopped_at;
    return p.tokens[p.tokens.size() - 2];
}

// How messages name the kind of an operand: "DATA", "HEX", "ARRAY", ...
std::string_view kind_word(const prim_expr& e) {
    return e.kind == EXPR_ARRAY ? std::string_view("ARRAY") : vocabulary::operand_word(e.kind);
}

// The operand of a condition that an operand message is about: the left one
// is checked first, so it is the one when it breaks the rule named.
size_t condition_part(const test_expr& t, std::string_view m) {
    constexpr size_t left = 1, comparison = 2, right = 3;
    if (m.starts_with("Invalid HEX comparison")) return comparison;
    const prim_expr& lhs = t.lhs;
    if (m.starts_with("VAR index")) return lhs.kind == EXPR_VAR && static_cast<uint32_t>(lhs.var()) > 15 ? left : right;
    if (m.starts_with("Invalid ") && m.ends_with(" offset")) {
        const std::string_view what = m.substr(8, m.size() - 15);
        return kind_word(lhs) == what && static_cast<uint32_t>(lhs.offset()) > 255 ? left : right;
    }
    if (const size_t at = m.find(" length ("); at != m.npos) {
        const bool named = kind_word(lhs) == m.substr(0, at);
        if (m.find("must match") != m.npos) return named ? left : right;
        return named && lhs.length == std::atoi(m.data() + at + 9) ? left : right;
    }
    if (m == "BIT length must not be zero") return lhs.kind == EXPR_BIT && lhs.length == 0 ? left : right;
    return m.starts_with("Invalid test expression") ? left : 0;
}

size_t assignment_part(const arith_expr& a, std::string_view m) {
    constexpr size_t index = 1, left = 2, op = 3, right = 4;
    if (m.starts_with("Assignment")) return index;
    if (m.starts_with("VAR index")) return a.lhs.kind == EXPR_VAR && static_cast<uint32_t>(a.lhs.var()) > 15 ? left : right;
    if (!is_var_operand(a.rhs.kind)) return right;
    if (a.lhs.kind != EXPR_NIL && a.rhs.kind != EXPR_NIL && (a.op < OP_ADD || a.op > OP_XOR)) return op;
    return left;
}

// Which argument of its statement (statement_layout numbering) a validator
// or program-assembly message is about; 0, the statement itself, for the
// messages about its place in the script.
size_t faulty_part(const command& c, std::string_view m) {
    auto has = [&](std::string_view part) { return m.find(part) != m.npos; };
    switch (c.kind) {
        case CMD_DAT_CREATE:
        case CMD_DAT_CHECK:
        case CMD_DAT_DELETE: return m.starts_with("Inconsistent") ? 1 : 0;
        case CMD_DELAY:
        case CMD_PROG:
        case CMD_WAITKEY: return 1;
        case CMD_LCD:
        case CMD_HLCD:
        case CMD_HUD: return has("row out of") ? 1 : has("column out of") ? 2 : 3;
        case CMD_LOG: return 2;
        case CMD_NET: return has("ID Bits") ? 2 : 3;
        // The first value past the limit.
        case CMD_PERIODIC: return has("Too many") ? 3 + 64 : 0;
        case CMD_WRITE: return has("Too many") ? 2 + 255 : 0;
        case CMD_REQUEST: return has("Too many") ? 1 + 255 : 0;
        case CMD_MEM: return has("Too many") ? 3 : 0;
        case CMD_GOTO:
        case CMD_GOSUB: return has("Invalid label") ? 1 : 0;
        case CMD_IF:
        case CMD_WHILE: return condition_part(std::get<condition_form>(c.form).test, m);
        case CMD_VAR: return assignment_part(std::get<assignment_form>(c.form).assign, m);
        default: return 0;
    }
}

}  // namespace

std::span<const warning_info, warning_count> warning_table() { return table; }

std::string_view name_of(warning w) { return table[static_cast<size_t>(w)].name; }

std::optional<warning> warning_named(std::string_view name) {
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].name == name) return static_cast<warning>(i);
    return std::nullopt;
}

std::string printable(std::string_view text) {
    std::string out;
    const auto length = [&](size_t at) -> size_t {  // of the printable UTF-8 character at `at`, or 0
        const auto b = static_cast<unsigned char>(text[at]);
        if (b >= 0x20 && b < 0x7F) return 1;
        const size_t n = (b & 0xE0) == 0xC0 && b >= 0xC2 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 && b <= 0xF4 ? 4 : 0;
        if (n == 0 || at + n > text.size()) return 0;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
        if (text.substr(at, n) == "\xEF\xBB\xBF") return 0;  // a byte-order mark
        if (n == 2 && static_cast<unsigned char>(text[at + 1]) < 0xA0 && b == 0xC2) return 0;  // C1 controls
        return n;
    };
    for (size_t i = 0; i < text.size();) {
        if (const size_t n = length(i); n != 0) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        size_t run = 1;
        while (i + run < text.size() && text[i + run] == text[i]) ++run;
        out += format("\\x%02X", static_cast<unsigned char>(text[i]));
        if (run > 3) {
            out += format(" (%zu times)", run);
        } else {
            run = 1;
        }
        i += run;
    }
    return out;
}

std::vector<finding> findings::take() {
    // Warnings and notes quote the script's own words: one line of printable
    // text each, as the errors are.
    for (finding& f : found_) {
        if (f.level == severity::warning) f.message = printable(f.message);
        for (note& n : f.notes) n.message = printable(n.message);
    }
    std::stable_sort(found_.begin(), found_.end(), [](const finding& a, const finding& b) {
        if (a.line != b.line) return a.line < b.line;
        if (a.column != b.column) return a.column < b.column;
        return a.level < b.level;  // the error first
    });
    return std::move(found_);
}

std::vector<finding> check_script(std::string_view text, std::string_view name, const check_options& options) {
    findings out(options);
    script_positions positions;
    script tree;
    // Strings, comments and DEFINE lines; the words only when a note or a
    // fix needs them.
    const raw_script raw = read_raw(text, false);
    const raw_words words(text);
    try {
        tree = parse_script_text(text, &positions);
    } catch (const fatal_error& e) {
        // The first parse error ends the script: what follows it is not read.
        note_parse_error(text, words.get(), out.error(parse_error_at(e.message(), positions), script_message(e.message())));
        warn_encoding(text, nullptr, out);
        warn_text(text, raw, out);
        warn_redefines(raw, out);
        warn_define_names(raw, out);
        return out.take();
    }
    warn_encoding(text, &positions.tokens.back(), out);
    warn_text(text, raw, out);

    // Every error of the validator and of program assembly: the validator's
    // first of each statement, then the block and label errors.
    const parsed_script p{text, name, tree, positions, &words};
    collect_all errors;
    validate_script(tree, errors);
    const size_t invalid = errors.found.size();
    program prog;
    compile_script(tree, prog, errors);
    script_error_notes notes(p, words.get());
    for (const diagnostic& d : errors.found) {
        const std::string message = script_message(d.message);
        const statement_layout layout = lay_out(tree, positions, d.statement);
        finding& f = out.error(p.at(layout.part(faulty_part(tree.commands[d.statement], message))), message);
        notes.add(d.statement, f);
    }

    warn_numbers(p, out);
    warn_blocks(p, out);
    warn_statements(p, out);
    warn_defines(p, out);
    warn_values(p, out);
    warn_redefines(raw, out);
    warn_define_names(raw, out);
    // The jumps are all in place only when program assembly found nothing.
    if (errors.found.size() == invalid) {
        warn_unreachable(p, prog, out);
        warn_flow(p, out);
    }
    if (options.vbf_checks) check_vbf_files(p, options, out);
    return out.take();
}

checked_script check_file(const std::string& path, const check_options& options) {
    checked_script checked{path, {}, {}};
    // As for vendrak, a read error ends the script where it happens.
    const file_ptr in(platform::open_input(path.c_str()));
    if (in) {
        char buffer[1 << 16];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) checked.text.append(buffer, n);
    } else {
        checked.findings.push_back(
            {0, 0, severity::error, warning{}, format("Cannot open \"%s\" script file", path.c_str()), {}, {}});
        return checked;
    }
    checked.findings = check_script(checked.text, path, options);
    return checked;
}

}  // namespace vendrak::check
