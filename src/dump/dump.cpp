// The listing: turns each record of the script tree back into one line of
// readable text. It only reads the tree and never fails; a kind or code it
// has no text for shows as "???".
//
// Texts grow as needed, so strings, arrays and byte lists are listed whole.
// Numbers go through printf conversions, so "%X" of a negative field shows
// its 32-bit pattern and "%f" shows a float promoted to double, six decimals.
#include "dump/dump.h"

#include <cstddef>
#include <variant>

#include "common/fatal.h"
#include "parser/vocabulary.h"

namespace vendrak {
namespace {

namespace words = vocabulary;

constexpr const char* UNKNOWN = "???";

// The word of `code` and a blank; a code without a word lists as the word
// of `otherwise`, or as nothing when that is 0.
void append_word(std::string& out, const words::choice& choice, uint32_t code, uint32_t otherwise = 0) {
    std::string_view word = choice.word(code);
    if (word.empty()) word = choice.word(otherwise);
    if (word.empty()) return;
    out += word;
    out += ' ';
}

// The operator of DID MODIFY and MEM: its symbol and a blank.
void append_operator(std::string& out, uint32_t op) {
    const std::string_view symbol = words::first_symbol(words::operators, op);
    out += symbol.empty() ? "?" : symbol;
    out += ' ';
}

// "0x%X " for each value of a byte list.
void append_hex_list(std::string& out, std::span<const int32_t> values) {
    for (const int32_t v : values) out += format("0x%X ", static_cast<unsigned>(v));
}

// "0x" and each byte as two upper-case digits, then a blank (keys, MEM data).
void append_hex_bytes(std::string& out, std::span<const uint8_t> bytes) {
    out += "0x";
    for (const uint8_t b : bytes) out += format("%02X", b);
    out += ' ';
}

// A keyword and a quoted text with a blank after it (EXEC, PROG, ...).
void append_quoted(std::string& out, std::string_view keyword, std::string_view text) {
    out += keyword;
    out += " \"";
    out += text;
    out += "\" ";
}

class lister {
public:
    lister(const command& c, const script& s, std::string& out) : c_(c), s_(s), out_(out) {}

    void run() {
        if (words::keyword(c_.kind).empty() && c_.kind != CMD_LABEL) {
            out_ = UNKNOWN;
            return;
        }
        std::visit([&](const auto& f) { list(f); }, c_.form);
    }

private:
    std::string_view keyword() const { return words::keyword(c_.kind); }

    void keyword_and_blank() {
        out_ += keyword();
        out_ += ' ';
    }

    // The screen and log floats, when the statement carries them.
    template <typename Form>
    void floats(const Form& f) {
        if (f.has_floats == 1)
            out_ += format(" %f %f ", static_cast<double>(f.float_a), static_cast<double>(f.float_b));
    }

    void list(const bare_form&) { out_ += keyword(); }

    void list(const dat_form& f) {
        keyword_and_blank();
        if (f.type == DAT_VIN) return append_word(out_, words::dat_types, DAT_VIN);
        out_ += words::dat_types.word(DAT_DID);
        out_ += format(" 0x%X", static_cast<unsigned>(f.did));
    }

    void list(const delay_form& f) {
        keyword_and_blank();
        out_ += format("%d", f.value);
    }

    void list(const diag_form& f) {
        keyword_and_blank();
        append_word(out_, words::protocols, f.protocol, DIAG_KWP2000);
        out_ += format("0x%X 0x%X", static_cast<unsigned>(f.first_id), static_cast<unsigned>(f.second_id));
    }

    void list(const did_form& f) {
        keyword_and_blank();
        const std::string_view operation = words::did_operations.word(f.operation);
        out_ += operation.empty() ? "UNKNOWN" : operation;
        out_ += format(" 0x%X ", static_cast<unsigned>(f.did));
        if (f.operation != DID_MODIFY) return;
        out_ += format("%d %d ", f.modify_a, f.modify_b);
        append_operator(out_, f.modify_op);
        out_ += format("0x%02X ", static_cast<unsigned>(f.modify_value));
    }

    void list(const inhale_form& f) {
        keyword_and_blank();
        append_word(out_, words::methods, f.method, METHOD_B);
    }

    void list(const exhale_form& f) {
        keyword_and_blank();
        append_word(out_, words::methods, f.method, METHOD_B);
        if (f.has_key) append_hex_bytes(out_, s_.bytes_of(f.key));
    }

    void list(const text_form& f) { append_quoted(out_, keyword(), s_.text(f.text)); }

    void list(const fw_version_form& f) {
        keyword_and_blank();
        out_ += format("%d.%d", f.major, f.minor);
    }

    void list(const screen_form& f) {
        out_ = keyword();
        out_ += format(" %d %d ", f.row, f.column);
        out_ += dump_prim_expr(f.expr, s_);
        floats(f);
    }

    void list(const condition_form& f) {
        keyword_and_blank();
        out_ += dump_test_expr(f.test, s_);
    }

    void list(const led_form& f) {
        keyword_and_blank();
        append_word(out_, words::colors, f.color, LED_RED);
        append_word(out_, words::states, f.state, LED_TOGGLE);
    }

    void list(const log_form& f) {
        keyword_and_blank();
        append_word(out_, words::log_modes, f.mode);
        out_ += dump_prim_expr(f.expr, s_);
        floats(f);
    }

    void list(const net_form& f) {
        keyword_and_blank();
        append_word(out_, words::networks, f.network);
        out_ += format("%d %d", f.id_bits, f.bit_rate);
    }

    void list(const periodic_form& f) {
        keyword_and_blank();
        append_word(out_, words::message_types, f.type, MSG_MSG);
        out_ += format("%d ", f.period);
        append_hex_list(out_, s_.values_of(f.bytes));
    }

    void list(const write_form& f) {
        keyword_and_blank();
        append_word(out_, words::message_types, f.type, MSG_MSG);
        append_hex_list(out_, s_.values_of(f.bytes));
    }

    void list(const request_form& f) {
        keyword_and_blank();
        append_hex_list(out_, s_.values_of(f.bytes));
    }

    // A READ without a number holds -1; no number is listed for 0 either.
    void list(const read_form& f) {
        keyword_and_blank();
        append_word(out_, words::message_types, f.type, MSG_MSG);
        if (f.value > 0) out_ += format("%d ", f.value);
    }

    void list(const prog_form& f) {
        append_quoted(out_, keyword(), s_.text(f.filename));
        if (f.has_key) append_hex_bytes(out_, s_.bytes_of(f.key));
    }

    void list(const security_form& f) {
        keyword_and_blank();
        out_ += format("%d ", f.level);
        append_hex_bytes(out_, s_.bytes_of(f.key));
    }

    void list(const set_value_form& f) {
        keyword_and_blank();
        append_word(out_, words::parameters, f.param);
        out_ += format("%d", f.value);
    }

    // WAITKEY names only the key kinds; any other operand lists as nothing.
    void list(const waitkey_form& f) {
        keyword_and_blank();
        if (f.expr.kind >= EXPR_ENTER && f.expr.kind <= EXPR_ANY) {
            out_ += words::operand_word(f.expr.kind);
            out_ += ' ';
        }
    }

    void list(const label_form& f) {
        if (c_.kind == CMD_LABEL) {
            out_ = s_.text(f.name);
            out_ += ':';
            return;
        }
        keyword_and_blank();
        out_ += s_.text(f.name);
    }

    void list(const assignment_form& f) {
        out_ = words::var_word;
        out_ += format("[%d] = ", f.index);
        out_ += dump_arith_expr(f.assign, s_);
    }

    void list(const transfer_form& f) {
        out_ = keyword();
        out_ += format(" 0x%X 0x%X", f.first, f.second);
    }

    void list(const mem_form& f) {
        keyword_and_blank();
        out_ += format("%d ", f.location);
        append_operator(out_, f.op);
        append_hex_bytes(out_, s_.bytes_of(f.data));
    }

    const command& c_;
    const script& s_;
    std::string& out_;
};

}  // namespace

std::string dump_prim_expr(const prim_expr& expr, const script& s) {
    std::string out;
    const std::string_view word = words::operand_word(expr.kind);
    if (words::is_ranged(expr.kind)) {
        out = word;
        out += format("[%d,%d]", expr.offset(), expr.length);
    } else if (!word.empty()) {
        out = word;
    } else {
        switch (expr.kind) {
            case EXPR_NUMBER: out = format("%d", expr.number()); break;
            case EXPR_STRING:
                // Quoted as it stands: nothing inside is escaped.
                out = '"';
                out += s.text(expr.text());
                out += '"';
                break;
            case EXPR_ARRAY:
                out = "{ ";
                for (const int32_t v : s.values_of(expr.elements())) out += format("0x%02x ", static_cast<unsigned>(v));
                out += '}';
                break;
            case EXPR_VAR:
                out = words::var_word;
                out += format("[%d]", expr.var());
                break;
            case EXPR_FLOAT_NUMBER: out = format("%f", static_cast<double>(expr.fvalue())); break;
            default: out = UNKNOWN; break;
        }
    }
    out += ' ';
    return out;
}

std::string dump_test_expr(const test_expr& test, const script& s) {
    std::string out = dump_prim_expr(test.lhs, s);
    const std::string_view symbol = words::first_symbol(words::comparisons, test.op);
    out += symbol.empty() ? UNKNOWN : symbol;
    out += ' ';
    out += dump_prim_expr(test.rhs, s);
    return out;
}

// Without an operator (rhs NIL) neither symbol nor rhs is listed, but the
// blank between them still is: "7  ".
std::string dump_arith_expr(const arith_expr& assign, const script& s) {
    std::string out = dump_prim_expr(assign.lhs, s);
    const bool has_rhs = assign.rhs.kind != EXPR_NIL;
    if (has_rhs) {
        const std::string_view symbol = words::first_symbol(words::operators, assign.op);
        out += symbol.empty() ? UNKNOWN : symbol;
    }
    out += ' ';
    if (has_rhs) out += dump_prim_expr(assign.rhs, s);
    return out;
}

std::string dump_command(const command& cmd, const script& s) {
    std::string out;
    lister(cmd, s, out).run();
    return out;
}

void dump_script(const script& s, std::FILE* out) {
    std::string line;
    for (const command& cmd : s.commands) {
        line.clear();
        lister(cmd, s, line).run();
        std::fprintf(out, ":%d::%s\n", static_cast<int>(cmd.line), line.c_str());
    }
}

}  // namespace vendrak
