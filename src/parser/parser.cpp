#include "parser/parser.h"

#include <algorithm>
#include <variant>

#include "common/fatal.h"
#include "parser/lexer.h"
#include "parser/vocabulary.h"

namespace vendrak {

namespace {

namespace words = vocabulary;

bool is_ascii_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// A label is a word of two or more characters that starts with a letter or
// digit and ends in ":".
bool is_label(std::string_view t) { return t.size() >= 2 && t.back() == ':' && is_ascii_alnum(t.front()); }

// Drops trailing colons, but never the first character.
std::string_view trim_label(std::string_view t) {
    while (t.size() > 1 && t.back() == ':') t.remove_suffix(1);
    return t;
}

class statement_parser {
public:
    statement_parser(byte_source source, script& out, script_positions* positions, token_offsets* offsets = nullptr,
                     const std::function<bool(const command&)>* each = nullptr)
        : lx_(std::move(source)), out_(out), positions_(positions), offsets_(offsets), each_(each) {
        if (positions_) lx_.record_positions(positions_);
        if (offsets_) lx_.record_offsets(offsets_);
    }

    void parse() {
        try {
            lx_.start();
            while (!lx_.tok_empty()) {
                const size_t first = lx_.recorded_tokens() - 1;
                command c;
                if (statement(c)) {
                    c.line = static_cast<uint32_t>(lx_.line());
                    if (each_) [[unlikely]] {
                        if (!(*each_)(c)) return;
                    } else {
                        out_.commands.push_back(c);
                    }
                    if (positions_ || offsets_) [[unlikely]] {
                        const script_positions::range r{static_cast<uint32_t>(first),
                                                        static_cast<uint32_t>(lx_.recorded_tokens() - 1)};
                        (positions_ ? positions_->statements : offsets_->statements).push_back(r);
                    }
                }
            }
        } catch (const fatal_error&) {
            if (positions_) positions_->stopped_at = lx_.token_start();
            throw;
        }
    }

private:
    // Fills c and returns true, or returns false for a DEFINE (no record).
    bool statement(command& c);

    // One parse per shape; `kind` tells the statements of a shape apart.
    void form(cmd_kind, bare_form&) {}
    void form(cmd_kind kind, dat_form& f);
    void form(cmd_kind, delay_form& f);
    void form(cmd_kind kind, diag_form& f);
    void form(cmd_kind kind, did_form& f);
    void form(cmd_kind kind, inhale_form& f);
    void form(cmd_kind kind, exhale_form& f);
    void form(cmd_kind, text_form& f);
    void form(cmd_kind, fw_version_form& f);
    void form(cmd_kind, screen_form& f);
    void form(cmd_kind, condition_form& f);
    void form(cmd_kind kind, led_form& f);
    void form(cmd_kind kind, log_form& f);
    void form(cmd_kind kind, net_form& f);
    void form(cmd_kind kind, periodic_form& f);
    void form(cmd_kind kind, write_form& f);
    void form(cmd_kind, request_form& f);
    void form(cmd_kind, prog_form& f);
    void form(cmd_kind kind, read_form& f);
    void form(cmd_kind, security_form& f);
    void form(cmd_kind kind, set_value_form& f);
    void form(cmd_kind, waitkey_form& f);
    void form(cmd_kind, label_form& f);
    void form(cmd_kind, assignment_form& f);
    void form(cmd_kind, transfer_form& f);
    void form(cmd_kind, mem_form& f);

    // Takes one of the slot's choice words and returns its code.
    uint32_t choose(cmd_kind kind, const words::choice& slot) {
        const uint32_t code = slot.code(lx_.tok());
        if (code == 0) {
            const std::string_view keyword = words::keyword(kind);
            fail_script(lx_.line(), "Unknown %.*s %.*s\n", static_cast<int>(keyword.size()), keyword.data(),
                        static_cast<int>(slot.slot.size()), slot.slot.data());
        }
        lx_.readtok();
        return code;
    }

    [[noreturn]] void invalid_primary() {
        fail_script(lx_.line(), "Invalid primary expression: %s\n", lx_.tok_cstr());
    }

    prim_expr parse_prim();
    void parse_test(test_expr& t);
    bool parse_operator(arith_code& code, bool required);
    text_ref parse_string();
    values_ref parse_list();
    bytes_ref parse_key();
    template <typename Form>
    void parse_floats(Form& f);

    lexer lx_;
    script& out_;
    script_positions* positions_;
    token_offsets* offsets_;
    const std::function<bool(const command&)>* each_;  // none: records go into out_.commands
};

// statement = "DEFINE" name value-tokens | keyword arguments
//           | "VAR" "[" n "]" "=" assignment | label
bool statement_parser::statement(command& c) {
    if (lx_.accept(words::define_keyword)) {
        lx_.define_statement();
        return false;
    }
    c.column = std::min(lx_.token_start().column, command::max_column);
    const cmd_kind kind = words::statement_kind(lx_.tok());
    if (kind == 0) {
        // the one message that names the line of the offending token itself
        if (!is_label(lx_.tok()))
            fail_script(lx_.token_line(), "Unknown command: %s\n", lx_.tok_cstr());
        c.kind = CMD_LABEL;
        c.form = label_form{out_.add_text(trim_label(lx_.tok()))};
        lx_.readtok();
        return true;
    }
    c.kind = kind;
    lx_.readtok();
    c.form = empty_form(kind);
    std::visit([&](auto& f) { form(kind, f); }, c.form);
    return true;
}

// primary = float | integer | ("BIT"|"HEX"|"DATA"|"UDATA"|"FLOAT"|"TEXT") range
//         | value-word | "VAR" "[" n "]" | string | 'c' | "{" { n [","] } "}"
// A token with a point is tried as a float first, so it is never an integer.
prim_expr statement_parser::parse_prim() {
    const std::string_view t = lx_.tok();
    if (is_float(t)) {
        const float value = convert_float(t.substr(0, float_prefix(t)));
        lx_.readtok();
        return prim_expr::float_of(value);
    }
    int32_t number;
    if (convert_int(t, number) != 0) {
        lx_.readtok();
        return prim_expr::number_of(number);
    }
    if (const expr_kind kind = words::operand_kind(t)) {
        lx_.readtok();
        if (!words::is_ranged(kind)) return prim_expr::of(kind);
        int32_t offset, length;
        lx_.expect_range(offset, length);
        return prim_expr::of(kind, offset, length);
    }
    if (t.empty()) invalid_primary();
    if (iequals(t, words::var_word)) {
        lx_.readtok();
        return prim_expr::var_of(lx_.expect_index());
    }
    if (t.front() == '"') return prim_expr::string_of(parse_string());
    if (t.front() == '\'') {
        if (t.size() != 3) invalid_primary();
        const int32_t code = static_cast<int8_t>(t[1]);
        lx_.readtok();
        return prim_expr::number_of(code);
    }
    if (t == "{") {
        lx_.readtok();
        const uint32_t at = script::room(out_.values, 0);
        int32_t value;
        while (convert_int(lx_.tok(), value) != 0) {
            script::room(out_.values, 1);
            out_.values.push_back(value);
            lx_.readtok();
            lx_.accept(",");
        }
        lx_.expect("}");
        return prim_expr::array_of({at, static_cast<uint32_t>(out_.values.size() - at)});
    }
    invalid_primary();
}

// test = primary ("=" | "!" | "!=" | "<" | ">" | "&") primary
void statement_parser::parse_test(test_expr& t) {
    t.lhs = parse_prim();
    for (const words::symbol& s : words::comparisons) {
        if (lx_.accept(s.text)) {
            t.op = static_cast<test_code>(s.code);
            t.rhs = parse_prim();
            return;
        }
    }
    fail_script(lx_.line(), "Invalid test expression: %s\n", lx_.tok_cstr());
}

// operator = "+" | "-" | "*" | "/" | "&" | "|" | "^" | "="
bool statement_parser::parse_operator(arith_code& code, bool required) {
    for (const words::symbol& s : words::operators) {
        if (lx_.accept(s.text)) {
            code = static_cast<arith_code>(s.code);
            return true;
        }
    }
    code = OP_NONE;
    if (required) fail_script(lx_.line(), "Invalid operator: %s\n", lx_.tok_cstr());
    return false;
}

// string = '"' characters '"', kept without its quotes
text_ref statement_parser::parse_string() {
    const std::string_view t = lx_.tok();
    if (t.empty() || t.front() != '"') fail_script(lx_.line(), "expected a string, but found: %s\n", lx_.tok_cstr());
    const text_ref text = out_.add_text(t.substr(1, t.size() >= 2 ? t.size() - 2 : 0));
    lx_.readtok();
    return text;
}

// list = { n }, ending at the first token that is no integer
values_ref statement_parser::parse_list() {
    const uint32_t at = script::room(out_.values, 0);
    while (is_number(lx_.tok())) {
        script::room(out_.values, 1);
        out_.values.push_back(lx_.expect_num());
    }
    return {at, static_cast<uint32_t>(out_.values.size() - at)};
}

// key = "0x" hex-digits (1 to 32 bytes)
bytes_ref statement_parser::parse_key() {
    constexpr size_t max_key_bytes = 32;
    const uint32_t at = script::room(out_.bytes, max_key_bytes);
    const size_t n = lx_.expect_long_hex_number(max_key_bytes, "security key", out_.bytes);
    return {at, static_cast<uint32_t>(n)};
}

// [float float], taken only when the next token is a float
template <typename Form>
void statement_parser::parse_floats(Form& f) {
    if (!is_float(lx_.tok())) return;
    f.has_floats = 1;
    f.float_a = lx_.expect_float();
    f.float_b = lx_.expect_float();
}

// DAT_CREATE | DAT_CHECK | DAT_DELETE | DAT_INIT  ("VIN" | "DID" n)
void statement_parser::form(cmd_kind kind, dat_form& f) {
    f.type = static_cast<dat_type>(choose(kind, words::dat_types));
    if (f.type == DAT_DID) f.did = lx_.expect_num();
}

// "DELAY" n
void statement_parser::form(cmd_kind, delay_form& f) { f.value = lx_.expect_num(); }

// "DIAG" ("ISO14229" | "KWP2000") n n
void statement_parser::form(cmd_kind kind, diag_form& f) {
    f.protocol = static_cast<diag_protocol>(choose(kind, words::protocols));
    f.first_id = lx_.expect_num();
    f.second_id = lx_.expect_num();
}

// "DID" ("SAVE" | "RECALL" | "COMPARE" | "WRITE") n
// "DID" "MODIFY" n n n operator n
void statement_parser::form(cmd_kind kind, did_form& f) {
    f.operation = static_cast<did_operation>(choose(kind, words::did_operations));
    f.did = lx_.expect_num();
    if (f.operation != DID_MODIFY) return;
    f.modify_a = lx_.expect_num();
    f.modify_b = lx_.expect_num();
    parse_operator(f.modify_op, true);
    f.modify_value = lx_.expect_num();
}

// "INHALE" ("A" | "B")
void statement_parser::form(cmd_kind kind, inhale_form& f) {
    f.method = static_cast<key_method>(choose(kind, words::methods));
}

// "EXHALE" ("A" | "B") [key]
void statement_parser::form(cmd_kind kind, exhale_form& f) {
    f.method = static_cast<key_method>(choose(kind, words::methods));
    if (lx_.frontpeek()) {
        f.has_key = true;
        f.key = parse_key();
    }
}

// ("EXEC" | "VERSION" | "VIN_VERIFY" | "REQ_FILE") string
void statement_parser::form(cmd_kind, text_form& f) { f.text = parse_string(); }

// "FW_VERSION" XX.YY
// The part after the point is read on its own with automatic base, so 1.5 is
// version 1.05 and 1.08 is 1.0 (a leading 0 selects octal and stops at 8).
void statement_parser::form(cmd_kind, fw_version_form& f) {
    const std::string_view t = lx_.tok();
    int32_t whole;
    const size_t used = convert_int(t, whole);
    if (used == 0) fail_script(lx_.line(), "expected an XX.YY version number, but found: %s\n", lx_.tok_cstr());
    uint32_t v = static_cast<uint32_t>(whole) * 100u;
    if (used < t.size() && t[used] == '.') {
        int32_t part;
        convert_int(t.substr(used + 1), part);
        v += static_cast<uint32_t>(part);
    }
    lx_.readtok();
    const auto version = static_cast<int32_t>(v);
    f.major = version / 100;
    f.minor = version % 100;
}

// ("LCD" | "HLCD" | "HUD") n n primary [float float]
void statement_parser::form(cmd_kind, screen_form& f) {
    f.row = lx_.expect_num();
    f.column = lx_.expect_num();
    f.expr = parse_prim();
    parse_floats(f);
}

// ("IF" | "WHILE") test
void statement_parser::form(cmd_kind, condition_form& f) { parse_test(f.test); }

// "LED" ("GREEN" | "RED") ("ON" | "OFF" | "TOGGLE")
void statement_parser::form(cmd_kind kind, led_form& f) {
    f.color = static_cast<led_color>(choose(kind, words::colors));
    f.state = static_cast<led_state>(choose(kind, words::states));
}

// "LOG" "FILE" primary | "LOG" ("NEW" | "ADD") primary [float float]
void statement_parser::form(cmd_kind kind, log_form& f) {
    f.mode = static_cast<log_mode>(choose(kind, words::log_modes));
    f.expr = parse_prim();
    if (f.mode != LOG_FILE) parse_floats(f);
}

// "NET" ("CAN_HS" | "CAN_MS" | "CAN_FD_HS" | "CAN_FD_MS" | "LIN") n n
void statement_parser::form(cmd_kind kind, net_form& f) {
    f.network = static_cast<net_network>(choose(kind, words::networks));
    f.id_bits = lx_.expect_num();
    f.bit_rate = lx_.expect_num();
}

// "PERIODIC" ("SID" | "MSG") n list
void statement_parser::form(cmd_kind kind, periodic_form& f) {
    f.type = static_cast<msg_type>(choose(kind, words::message_types));
    f.period = lx_.expect_num();
    f.bytes = parse_list();
}

// "WRITE" ("SID" | "MSG") list
void statement_parser::form(cmd_kind kind, write_form& f) {
    f.type = static_cast<msg_type>(choose(kind, words::message_types));
    f.bytes = parse_list();
}

// "REQUEST" list
void statement_parser::form(cmd_kind, request_form& f) { f.bytes = parse_list(); }

// ("PROG" | "PROGNC" | "PROGNR") string [key]
void statement_parser::form(cmd_kind, prog_form& f) {
    f.filename = parse_string();
    if (lx_.frontpeek()) {
        f.has_key = true;
        f.key = parse_key();
    }
}

// "READ" ("SID" | "MSG") ["0x" n]
// Only a hexadecimal number is taken; anything else begins the next statement.
void statement_parser::form(cmd_kind kind, read_form& f) {
    f.type = static_cast<msg_type>(choose(kind, words::message_types));
    f.value = lx_.frontpeek() ? lx_.expect_num() : -1;
}

// "SECURITY" n key
void statement_parser::form(cmd_kind, security_form& f) {
    f.level = lx_.expect_num();
    f.key = parse_key();
}

// "SET_VALUE" parameter n
void statement_parser::form(cmd_kind kind, set_value_form& f) {
    f.param = static_cast<set_value_param>(choose(kind, words::parameters));
    f.value = lx_.expect_num();
}

// "WAITKEY" primary
void statement_parser::form(cmd_kind, waitkey_form& f) { f.expr = parse_prim(); }

// ("GOTO" | "GOSUB") name -- whatever token follows, even none
void statement_parser::form(cmd_kind, label_form& f) {
    f.name = out_.add_text(trim_label(lx_.tok()));
    lx_.readtok();
}

// "VAR" "[" n "]" "=" primary [operator primary]
void statement_parser::form(cmd_kind, assignment_form& f) {
    f.index = lx_.expect_index();
    lx_.expect("=");
    f.assign.lhs = parse_prim();
    if (parse_operator(f.assign.op, false)) {
        f.assign.rhs = parse_prim();
    } else {
        f.assign.rhs = prim_expr::of(EXPR_NIL);
    }
}

// ("UPLOAD" | "DOWNLOAD") u u
void statement_parser::form(cmd_kind, transfer_form& f) {
    f.first = lx_.expect_unsigned();
    f.second = lx_.expect_unsigned();
}

// "MEM" n operator ("0x" hex-digits | string)
void statement_parser::form(cmd_kind, mem_form& f) {
    constexpr size_t max_data_bytes = 255;
    f.location = lx_.expect_num();
    parse_operator(f.op, true);
    if (lx_.frontpeek()) {
        const uint32_t at = script::room(out_.bytes, max_data_bytes);
        const size_t n = lx_.expect_long_hex_number(max_data_bytes, "MEM data", out_.bytes);
        f.data = {at, static_cast<uint32_t>(n)};
        return;
    }
    // The characters' codes: the text moves from one pool to the other.
    const text_ref text = parse_string();
    const std::string_view chars = out_.text(text);
    f.data = out_.add_bytes(std::span(reinterpret_cast<const uint8_t*>(chars.data()), chars.size()));
    out_.texts.resize(text.at);
}

}  // namespace

void parse_script(std::FILE* file, script& out, script_positions* positions) {
    statement_parser(byte_source(file), out, positions).parse();
}

script parse_script_text(std::string_view text, script_positions* positions) {
    script out;
    statement_parser(byte_source(text), out, positions).parse();
    return out;
}

script parse_script_text(std::string_view text, token_offsets* offsets) {
    script out;
    statement_parser(byte_source(text), out, nullptr, offsets).parse();
    return out;
}

void read_script_text(std::string_view text, script& pools, const std::function<bool(const command&)>& each) {
    statement_parser(byte_source(text), pools, nullptr, nullptr, &each).parse();
}

}  // namespace vendrak
