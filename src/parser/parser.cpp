#include "parser/parser.h"

#include <initializer_list>

#include "common/fatal.h"
#include "parser/lexer.h"

namespace vendrak {

namespace {

struct word_kind {
    const char* word;
    uint32_t kind;
};

// Operands that read a bracketed range after the word.
constexpr word_kind ranged_words[] = {
    {"BIT", EXPR_BIT}, {"HEX", EXPR_HEX},     {"DATA", EXPR_DATA},
    {"UDATA", EXPR_UDATA}, {"FLOAT", EXPR_FLOAT}, {"TEXT", EXPR_TEXT},
};

// Operands that are a single word.
constexpr word_kind value_words[] = {
    {"DAT_STATUS", EXPR_DAT_STATUS}, {"VOLTS", EXPR_VOLTS}, {"AMPS", EXPR_AMPS},   {"IGN_LINE", EXPR_IGN_LINE},
    {"VBAT", EXPR_VBAT},             {"SERNUM", EXPR_SERNUM}, {"DTC", EXPR_DTC},   {"DTCVAL", EXPR_DTCVAL},
    {"DAC", EXPR_DAC},               {"CH1", EXPR_CH1},     {"CH2", EXPR_CH2},     {"KEY", EXPR_KEY},
    {"ENTER", EXPR_ENTER},           {"ESCAPE", EXPR_ESCAPE}, {"UP", EXPR_UP},     {"DOWN", EXPR_DOWN},
    {"LEFT", EXPR_LEFT},             {"RIGHT", EXPR_RIGHT}, {"ANY", EXPR_ANY},     {"TIME", EXPR_TIME},
    {"P_TIME", EXPR_P_TIME},         {"RTC", EXPR_RTC},     {"NIL", EXPR_NIL},
};

constexpr word_kind comparisons[] = {
    {"=", TEST_EQ}, {"!", TEST_NE}, {"!=", TEST_NE}, {"<", TEST_LT}, {">", TEST_GT}, {"&", TEST_AND},
};

// In the order they are tried; the codes are the operator numbers.
constexpr word_kind operators[] = {
    {"+", OP_ADD}, {"-", OP_SUB}, {"*", OP_MUL}, {"/", OP_DIV},
    {"&", OP_AND}, {"|", OP_OR},  {"^", OP_XOR}, {"=", OP_EQUAL},
};

bool is_ascii_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// A label is a word of two or more characters that starts with a letter or
// digit and ends in ":".
bool is_label(std::string_view t) { return t.size() >= 2 && t.back() == ':' && is_ascii_alnum(t.front()); }

// Drops trailing colons, but never the first character.
std::string trim_label(std::string_view t) {
    while (t.size() > 1 && t.back() == ':') t.remove_suffix(1);
    return std::string(t);
}

class statement_parser {
public:
    explicit statement_parser(byte_source source) : lx_(std::move(source)) {}

    void parse(script& out) {
        lx_.start();
        while (!lx_.tok_empty()) {
            command c;
            if (statement(c)) {
                c.line = static_cast<uint32_t>(lx_.line());
                out.commands.push_back(std::move(c));
            }
        }
    }

private:
    using form = void (statement_parser::*)(command&);
    struct keyword_form {
        const char* word;
        uint32_t kind;
        form parse;
    };
    static const keyword_form keywords[];

    // Matches one of the choice words; returns its 1-based position, or 0.
    uint32_t choice(std::initializer_list<const char*> words) {
        uint32_t code = 1;
        for (const char* word : words) {
            if (lx_.accept(word)) return code;
            ++code;
        }
        return 0;
    }

    // Fills c and returns true, or returns false for a DEFINE (no record).
    bool statement(command& c);

    void parse_prim(prim_expr& e);
    void parse_test(test_expr& t);
    bool parse_operator(uint32_t& code, bool required);
    void parse_floats(command& c);
    void parse_list(command& c);
    void parse_key(command& c);

    void none(command&) {}
    void dat(command& c);
    void delay(command& c);
    void diag(command& c);
    void transfer(command& c);
    void mem(command& c);
    void did(command& c);
    void condition(command& c);
    void fw_version(command& c);
    void inhale(command& c);
    void exhale(command& c);
    void text(command& c);
    void filename(command& c);
    void screen(command& c);
    void led(command& c);
    void log(command& c);
    void net(command& c);
    void set_value(command& c);
    void periodic(command& c);
    void prog(command& c);
    void read(command& c);
    void security(command& c);
    void waitkey(command& c);
    void write(command& c);
    void request(command& c);
    void jump(command& c);
    void var(command& c);

    lexer lx_;
};

const statement_parser::keyword_form statement_parser::keywords[] = {
    {"DAT_CREATE", CMD_DAT_CREATE, &statement_parser::dat},
    {"DAT_CHECK", CMD_DAT_CHECK, &statement_parser::dat},
    {"DAT_DELETE", CMD_DAT_DELETE, &statement_parser::dat},
    {"DAT_INIT", CMD_DAT_INIT, &statement_parser::dat},
    {"DELAY", CMD_DELAY, &statement_parser::delay},
    {"DIAG", CMD_DIAG, &statement_parser::diag},
    {"UPLOAD", CMD_UPLOAD, &statement_parser::transfer},
    {"MEM", CMD_MEM, &statement_parser::mem},
    {"DOWNLOAD", CMD_DOWNLOAD, &statement_parser::transfer},
    {"DID", CMD_DID, &statement_parser::did},
    {"DO", CMD_DO, &statement_parser::none},
    {"EXIT", CMD_EXIT, &statement_parser::none},
    {"WHILE", CMD_WHILE, &statement_parser::condition},
    {"ENDDO", CMD_ENDDO, &statement_parser::none},
    {"GETKEY", CMD_GETKEY, &statement_parser::none},
    {"GETTIME", CMD_GETTIME, &statement_parser::none},
    {"IF", CMD_IF, &statement_parser::condition},
    {"ELSE", CMD_ELSE, &statement_parser::none},
    {"ENDIF", CMD_ENDIF, &statement_parser::none},
    {"FW_VERSION", CMD_FW_VERSION, &statement_parser::fw_version},
    {"INHALE", CMD_INHALE, &statement_parser::inhale},
    {"EXHALE", CMD_EXHALE, &statement_parser::exhale},
    {"EXEC", CMD_EXEC, &statement_parser::text},
    {"REQ_FILE", CMD_REQ_FILE, &statement_parser::filename},
    {"LCD", CMD_LCD, &statement_parser::screen},
    {"HLCD", CMD_HLCD, &statement_parser::screen},
    {"HUD", CMD_HUD, &statement_parser::screen},
    {"LED", CMD_LED, &statement_parser::led},
    {"LOG", CMD_LOG, &statement_parser::log},
    {"NET", CMD_NET, &statement_parser::net},
    {"SET_VALUE", CMD_SET_VALUE, &statement_parser::set_value},
    {"PERIODIC", CMD_PERIODIC, &statement_parser::periodic},
    {"PROGNC", CMD_PROGNC, &statement_parser::prog},
    {"PROGNR", CMD_PROGNR, &statement_parser::prog},
    {"PROG", CMD_PROG, &statement_parser::prog},
    {"READ", CMD_READ, &statement_parser::read},
    {"SECURITY", CMD_SECURITY, &statement_parser::security},
    {"VERSION", CMD_VERSION, &statement_parser::text},
    {"VIN_VERIFY", CMD_VIN_VERIFY, &statement_parser::text},
    {"WAITKEY", CMD_WAITKEY, &statement_parser::waitkey},
    {"WRITE", CMD_WRITE, &statement_parser::write},
    {"REQUEST", CMD_REQUEST, &statement_parser::request},
    {"GOTO", CMD_GOTO, &statement_parser::jump},
    {"GOSUB", CMD_GOSUB, &statement_parser::jump},
    {"RETURN", CMD_RETURN, &statement_parser::none},
};

// statement = "DEFINE" name value-tokens | keyword arguments
//           | "VAR" "[" n "]" "=" assignment | label
bool statement_parser::statement(command& c) {
    if (lx_.accept("DEFINE")) {
        lx_.define_statement();
        return false;
    }
    for (const keyword_form& k : keywords) {
        if (lx_.accept(k.word)) {
            c.kind = k.kind;
            (this->*k.parse)(c);
            return true;
        }
    }
    if (iequals(lx_.tok(), "VAR")) {
        c.kind = CMD_VAR;
        var(c);
        return true;
    }
    if (is_label(lx_.tok())) {
        c.kind = CMD_LABEL;
        c.label = trim_label(lx_.tok());
        lx_.readtok();
        return true;
    }
    // the one message that names the line of the offending token itself
    fail(out_stream::err, "[%d] Error: Unknown command: %s\n", lx_.token_line(), lx_.tok_cstr());
}

// primary = float | integer | ("BIT"|"HEX"|"DATA"|"UDATA"|"FLOAT"|"TEXT") range
//         | value-word | "VAR" "[" n "]" | string | 'c' | "{" { n [","] } "}"
// A token with a point is tried as a float first, so it is never an integer.
void statement_parser::parse_prim(prim_expr& e) {
    e.kind = EXPR_NONE;
    const std::string_view t = lx_.tok();
    if (is_float(t)) {
        e.kind = EXPR_FLOAT_NUMBER;
        e.fvalue = convert_float(t.substr(0, float_prefix(t)));
        lx_.readtok();
        return;
    }
    if (convert_int(t, e.number) != 0) {
        e.kind = EXPR_NUMBER;
        lx_.readtok();
        return;
    }
    for (const word_kind& w : ranged_words) {
        if (lx_.accept(w.word)) {
            e.kind = w.kind;
            lx_.expect_range(e.offset, e.length);
            return;
        }
    }
    for (const word_kind& w : value_words) {
        if (lx_.accept(w.word)) {
            e.kind = w.kind;
            return;
        }
    }
    if (t.empty()) fail(out_stream::err, "[%d] Error: Invalid primary expression: %s\n", lx_.line(), lx_.tok_cstr());
    if (iequals(t, "VAR")) {
        e.kind = EXPR_VAR;
        e.var = lx_.expect_resource();
        return;
    }
    if (t.front() == '"') {
        e.kind = EXPR_STRING;
        e.str = std::string(t.substr(1, t.size() >= 2 ? t.size() - 2 : 0));
        lx_.readtok();
        return;
    }
    if (t.front() == '\'') {
        if (t.size() != 3) fail(out_stream::err, "[%d] Error: Invalid primary expression: %s\n", lx_.line(), lx_.tok_cstr());
        e.kind = EXPR_NUMBER;
        e.str = std::string(1, t[1]);
        e.number = static_cast<int8_t>(t[1]);
        lx_.readtok();
        return;
    }
    if (t == "{") {
        lx_.readtok();
        int32_t value;
        while (convert_int(lx_.tok(), value) != 0) {
            e.array.push_back(value);
            lx_.readtok();
            lx_.accept(",");
        }
        lx_.expect("}");
        e.kind = EXPR_ARRAY;
        e.length = static_cast<int32_t>(e.array.size());
        return;
    }
    fail(out_stream::err, "[%d] Error: Invalid primary expression: %s\n", lx_.line(), lx_.tok_cstr());
}

// test = primary ("=" | "!" | "!=" | "<" | ">" | "&") primary
void statement_parser::parse_test(test_expr& t) {
    parse_prim(t.lhs);
    for (const word_kind& w : comparisons) {
        if (lx_.accept(w.word)) {
            t.op = w.kind;
            parse_prim(t.rhs);
            return;
        }
    }
    fail(out_stream::err, "[%d] Error: Invalid test expression: %s\n", lx_.line(), lx_.tok_cstr());
}

// operator = "+" | "-" | "*" | "/" | "&" | "|" | "^" | "="
bool statement_parser::parse_operator(uint32_t& code, bool required) {
    for (const word_kind& w : operators) {
        if (lx_.accept(w.word)) {
            code = w.kind;
            return true;
        }
    }
    code = OP_NONE;
    if (required) fail(out_stream::err, "[%d] Error: Invalid operator: %s\n", lx_.line(), lx_.tok_cstr());
    return false;
}

// [float float], taken only when the next token is a float
void statement_parser::parse_floats(command& c) {
    if (!is_float(lx_.tok())) return;
    c.has_floats = 1;
    c.float_a = lx_.expect_float();
    c.float_b = lx_.expect_float();
}

// list = { n }, ending at the first token that is no integer
void statement_parser::parse_list(command& c) {
    while (is_number(lx_.tok())) c.bytes.push_back(lx_.expect_num());
    c.count = static_cast<int32_t>(c.bytes.size());
}

// key = "0x" hex-digits (1 to 32 bytes)
void statement_parser::parse_key(command& c) {
    const std::vector<uint8_t> key = lx_.expect_long_hex_number(c.key.size(), "security key");
    for (size_t i = 0; i < key.size(); ++i) c.key[i] = key[i];
    c.key_len = static_cast<uint32_t>(key.size());
}

// DAT_CREATE | DAT_CHECK | DAT_DELETE | DAT_INIT  ("VIN" | "DID" n)
void statement_parser::dat(command& c) {
    c.type = choice({"VIN", "DID"});
    if (c.type == DAT_DID) c.did = lx_.expect_num();
    if (c.type != 0) return;
    switch (c.kind) {
        case CMD_DAT_CREATE: fail(out_stream::err, "[%d] Error: Unknown DAT_CREATE <type>\n", lx_.line());
        case CMD_DAT_CHECK: fail(out_stream::err, "[%d] Error: Unknown DAT_CHECK <type>\n", lx_.line());
        case CMD_DAT_DELETE: fail(out_stream::err, "[%d] Error: Unknown DAT_DELETE <type>\n", lx_.line());
        default: fail(out_stream::err, "[%d] Error: Unknown DAT_INIT <type>\n", lx_.line());
    }
}

// "DELAY" n
void statement_parser::delay(command& c) { c.value = lx_.expect_num(); }

// "DIAG" ("ISO14229" | "KWP2000") n n
void statement_parser::diag(command& c) {
    c.protocol = choice({"ISO14229", "KWP2000"});
    if (c.protocol == 0) fail(out_stream::err, "[%d] Error: Unknown DIAG <type>\n", lx_.line());
    c.first_id = lx_.expect_num();
    c.second_id = lx_.expect_num();
}

// ("UPLOAD" | "DOWNLOAD") u u
void statement_parser::transfer(command& c) {
    c.first = lx_.expect_unsigned();
    c.second = lx_.expect_unsigned();
}

// "MEM" n operator ("0x" hex-digits | string)
void statement_parser::mem(command& c) {
    c.location = lx_.expect_num();
    parse_operator(c.op, true);
    if (lx_.frontpeek()) {
        for (uint8_t byte : lx_.expect_long_hex_number(255, "MEM data")) c.data.push_back(byte);
    } else {
        for (char ch : lx_.expect_string()) c.data.push_back(static_cast<int8_t>(ch));
    }
    c.count = static_cast<int32_t>(c.data.size());
}

// "DID" ("SAVE" | "RECALL" | "COMPARE" | "WRITE") n
// "DID" "MODIFY" n n n operator n
void statement_parser::did(command& c) {
    c.operation = choice({"SAVE", "RECALL", "COMPARE", "WRITE", "MODIFY"});
    if (c.operation == 0) fail(out_stream::err, "[%d] Error: Unknown DID <operation>\n", lx_.line());
    c.did = lx_.expect_num();
    if (c.operation != DID_MODIFY) return;
    c.modify_a = lx_.expect_num();
    c.modify_b = lx_.expect_num();
    parse_operator(c.modify_op, true);
    c.modify_value = lx_.expect_num();
}

// ("IF" | "WHILE") test
void statement_parser::condition(command& c) { parse_test(c.test); }

// "FW_VERSION" XX.YY
// The part after the point is read on its own with automatic base, so 1.5 is
// version 1.05 and 1.08 is 1.0 (a leading 0 selects octal and stops at 8).
void statement_parser::fw_version(command& c) {
    const std::string_view t = lx_.tok();
    int32_t whole;
    const size_t used = convert_int(t, whole);
    if (used == 0) fail(out_stream::err, "[%d] Error: expected an XX.YY version number, but found: %s\n", lx_.line(), lx_.tok_cstr());
    uint32_t v = static_cast<uint32_t>(whole) * 100u;
    if (used < t.size() && t[used] == '.') {
        int32_t part;
        convert_int(t.substr(used + 1), part);
        v += static_cast<uint32_t>(part);
    }
    lx_.readtok();
    const auto version = static_cast<int32_t>(v);
    c.major = version / 100;
    c.minor = version % 100;
}

// "INHALE" ("A" | "B")
void statement_parser::inhale(command& c) {
    c.method = choice({"A", "B"});
    if (c.method == 0) fail(out_stream::err, "[%d] Error: Unknown INHALE <method>\n", lx_.line());
}

// "EXHALE" ("A" | "B") [key]
void statement_parser::exhale(command& c) {
    c.method = choice({"A", "B"});
    if (c.method == 0) fail(out_stream::err, "[%d] Error: Unknown EXHALE <method>\n", lx_.line());
    if (lx_.frontpeek()) {
        c.has_key = 1;
        parse_key(c);
    }
}

// ("EXEC" | "VERSION" | "VIN_VERIFY") string
void statement_parser::text(command& c) { c.text = lx_.expect_string(); }

// "REQ_FILE" string
void statement_parser::filename(command& c) { c.filename = lx_.expect_string(); }

// ("LCD" | "HLCD" | "HUD") n n primary [float float]
void statement_parser::screen(command& c) {
    c.row = lx_.expect_num();
    c.column = lx_.expect_num();
    parse_prim(c.expr);
    parse_floats(c);
}

// "LED" ("GREEN" | "RED") ("ON" | "OFF" | "TOGGLE")
void statement_parser::led(command& c) {
    c.color = choice({"GREEN", "RED"});
    if (c.color == 0) fail(out_stream::err, "[%d] Error: Unknown LED <color>\n", lx_.line());
    c.state = choice({"ON", "OFF", "TOGGLE"});
    if (c.state == 0) fail(out_stream::err, "[%d] Error: Unknown LED >state>\n", lx_.line());
}

// "LOG" "FILE" primary | "LOG" ("NEW" | "ADD") primary [float float]
void statement_parser::log(command& c) {
    c.mode = choice({"FILE", "NEW", "ADD"});
    if (c.mode == 0) fail(out_stream::err, "[%d] Error: Unknown LOG <type>\n", lx_.line());
    parse_prim(c.expr);
    if (c.mode != LOG_FILE) parse_floats(c);
}

// "NET" ("CAN_HS" | "CAN_MS" | "CAN_FD_HS" | "CAN_FD_MS" | "LIN") n n
void statement_parser::net(command& c) {
    c.network = choice({"CAN_HS", "CAN_MS", "CAN_FD_HS", "CAN_FD_MS", "LIN"});
    if (c.network == 0) fail(out_stream::err, "[%d] Error: Unknown NET <type>\n", lx_.line());
    c.id_bits = lx_.expect_num();
    c.bit_rate = lx_.expect_num();
}

// "SET_VALUE" parameter n
void statement_parser::set_value(command& c) {
    c.param = choice({"TERMINATION", "INTERFRAME", "BS_TX", "STMIN_TX", "VPROG", "AMPS", "IGN_LINE", "VOLTS"});
    if (c.param == 0) fail(out_stream::err, "[%d] Error: Unknown SET_VALUE <type>\n", lx_.line());
    c.value = lx_.expect_num();
}

// "PERIODIC" ("SID" | "MSG") n list
void statement_parser::periodic(command& c) {
    c.type = choice({"SID", "MSG"});
    if (c.type == 0) fail(out_stream::err, "[%d] Error: Unknown PERIODIC <type>\n", lx_.line());
    c.period = lx_.expect_num();
    parse_list(c);
}

// ("PROG" | "PROGNC" | "PROGNR") string [key]
void statement_parser::prog(command& c) {
    c.filename = lx_.expect_string();
    if (lx_.frontpeek()) {
        c.has_key = 1;
        parse_key(c);
    }
}

// "READ" ("SID" | "MSG") ["0x" n]
// Only a hexadecimal number is taken; anything else begins the next statement.
void statement_parser::read(command& c) {
    c.type = choice({"SID", "MSG"});
    if (c.type == 0) fail(out_stream::err, "[%d] Error: Unknown READ <type>\n", lx_.line());
    c.value = lx_.frontpeek() ? lx_.expect_num() : -1;
}

// "SECURITY" n key
void statement_parser::security(command& c) {
    c.level = lx_.expect_num();
    parse_key(c);
}

// "WAITKEY" primary
void statement_parser::waitkey(command& c) { parse_prim(c.expr); }

// "WRITE" ("SID" | "MSG") list
void statement_parser::write(command& c) {
    c.type = choice({"SID", "MSG"});
    if (c.type == 0) fail(out_stream::err, "[%d] Error: Unknown WRITE <type>\n", lx_.line());
    parse_list(c);
}

// "REQUEST" list
void statement_parser::request(command& c) { parse_list(c); }

// ("GOTO" | "GOSUB") name -- whatever token follows, even none
void statement_parser::jump(command& c) {
    c.label = trim_label(lx_.tok());
    lx_.readtok();
}

// "VAR" "[" n "]" "=" primary [operator primary]
void statement_parser::var(command& c) {
    c.index = lx_.expect_resource();
    lx_.expect("=");
    parse_prim(c.assign.lhs);
    if (parse_operator(c.assign.op, false)) {
        parse_prim(c.assign.rhs);
    } else {
        c.assign.rhs.kind = EXPR_NIL;
    }
}

}  // namespace

void parse_script(std::FILE* file, script& out) { statement_parser(byte_source(file)).parse(out); }

script parse_script_text(std::string_view text) {
    script out;
    statement_parser(byte_source(text)).parse(out);
    return out;
}

}  // namespace vendrak
