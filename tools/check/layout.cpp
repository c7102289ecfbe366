#include "check/layout.h"

#include <algorithm>
#include <string_view>
#include <variant>

#include "parser/vocabulary.h"

namespace vendrak::check {
namespace {

// Walks the tokens of one statement alongside its record: the record says
// which form was parsed, the tokens where each part of it stands.
class walker {
public:
    walker(const script_positions& p, size_t statement, statement_layout& out)
        : positions_(p), cur_(p.statements[statement].first), end_(p.statements[statement].end),
          out_(out) {}

    void walk(const command& c) {
        part();
        skip();
        std::visit([&](const auto& f) { form(c.kind, f); }, c.form);
    }

private:
    std::string_view tok() const { return cur_ < end_ ? positions_.text(cur_) : std::string_view{}; }
    void skip(size_t n = 1) { cur_ = std::min<uint32_t>(cur_ + static_cast<uint32_t>(n), end_); }
    void part() { out_.parts.push_back(std::min(cur_, end_ > 0 ? end_ - 1 : 0)); }

    void number(number_read::how as, uint8_t bits, bool list = false, bool no_sign = false) {
        if (cur_ < end_) out_.numbers.push_back({cur_, as, bits, list, no_sign});
        skip();
    }
    void integer(uint8_t bits = 32) { number(number_read::integer, bits); }
    void arg() {
        part();
        skip();
    }
    void int_arg(uint8_t bits = 32) {
        part();
        integer(bits);
    }
    // A number kept in a field of `bits` without a sign.
    void unsigned_arg(uint8_t bits) {
        part();
        number(number_read::integer, bits, false, true);
    }
    void float_pair(bool present) {
        if (!present) return;
        for (int i = 0; i < 2; ++i) {
            part();
            number(number_read::floating, 32);
        }
    }

    // One operand, as parse_prim reads it.
    void operand(const prim_expr& e) {
        part();
        if (vocabulary::is_ranged(e.kind)) {
            skip(2);  // the word and "["
            integer(16);
            skip();  // ","
            integer(16);
            skip();  // "]"
            return;
        }
        switch (e.kind) {
            case EXPR_FLOAT_NUMBER: number(number_read::floating, 32); return;
            case EXPR_NUMBER:
                // a character constant is no number read
                if (tok().starts_with('\'')) return skip();
                return integer();
            case EXPR_VAR:
                skip(2);  // "VAR" "["
                integer(16);
                skip();  // "]"
                return;
            case EXPR_ARRAY:
                skip();  // "{"
                while (cur_ < end_ && tok() != "}") {
                    if (tok() == ",") {
                        skip();
                    } else {
                        number(number_read::integer, 8, false, true);
                    }
                }
                skip();  // "}"
                return;
            default: skip(); return;
        }
    }

    // Every value but the MSG identifier (the first of a MSG list, kept
    // whole) goes to the device as one byte.
    void values(values_ref list, bool msg) {
        for (uint32_t i = 0; i < list.size; ++i) {
            part();
            number(number_read::integer, msg && i == 0 ? 32 : 8, true, !(msg && i == 0));
        }
    }

    void form(cmd_kind, const bare_form&) {}
    void form(cmd_kind, const dat_form& f) {
        arg();
        if (f.type == DAT_DID) unsigned_arg(16);
    }
    void form(cmd_kind, const delay_form&) { int_arg(); }
    void form(cmd_kind, const diag_form&) {
        arg();
        int_arg();
        int_arg();
    }
    void form(cmd_kind, const did_form& f) {
        arg();
        unsigned_arg(16);
        if (f.operation != DID_MODIFY) return;
        unsigned_arg(8);
        unsigned_arg(8);
        arg();
        unsigned_arg(8);
    }
    void form(cmd_kind, const inhale_form&) { arg(); }
    void form(cmd_kind, const exhale_form& f) {
        arg();
        if (f.has_key) arg();
    }
    void form(cmd_kind, const text_form&) { arg(); }
    void form(cmd_kind, const fw_version_form&) { arg(); }
    void form(cmd_kind, const screen_form& f) {
        int_arg();
        int_arg();
        operand(f.expr);
        float_pair(f.has_floats != 0);
    }
    void form(cmd_kind, const condition_form& f) {
        operand(f.test.lhs);
        arg();
        operand(f.test.rhs);
    }
    void form(cmd_kind, const led_form&) {
        arg();
        arg();
    }
    void form(cmd_kind, const log_form& f) {
        arg();
        operand(f.expr);
        float_pair(f.has_floats != 0);
    }
    void form(cmd_kind, const net_form&) {
        arg();
        int_arg();
        int_arg();
    }
    void form(cmd_kind, const periodic_form& f) {
        arg();
        unsigned_arg(16);
        values(f.bytes, f.type == MSG_MSG);
    }
    void form(cmd_kind, const write_form& f) {
        arg();
        values(f.bytes, f.type == MSG_MSG);
    }
    void form(cmd_kind, const request_form& f) { values(f.bytes, false); }
    void form(cmd_kind, const prog_form& f) {
        arg();
        if (f.has_key) arg();
    }
    void form(cmd_kind, const read_form& f) {
        arg();
        if (f.value != -1) int_arg();
    }
    void form(cmd_kind, const security_form&) {
        unsigned_arg(8);
        arg();
    }
    void form(cmd_kind, const set_value_form&) {
        arg();
        int_arg();
    }
    void form(cmd_kind, const waitkey_form& f) { operand(f.expr); }
    void form(cmd_kind kind, const label_form&) {
        if (kind != CMD_LABEL) arg();
    }
    // VAR "[" n "]" "=" operand [operator operand]; the keyword is VAR itself.
    void form(cmd_kind, const assignment_form& f) {
        skip();  // "["
        int_arg();
        skip(2);  // "]" "="
        operand(f.assign.lhs);
        if (f.assign.op == OP_NONE) return;
        arg();
        operand(f.assign.rhs);
    }
    void form(cmd_kind, const transfer_form&) {
        for (int i = 0; i < 2; ++i) {
            part();
            number(number_read::unsigned_integer, 32);
        }
    }
    void form(cmd_kind, const mem_form&) {
        int_arg();
        arg();
        arg();
    }

    const script_positions& positions_;
    uint32_t cur_;
    uint32_t end_;
    statement_layout& out_;
};

}  // namespace

statement_layout lay_out(const script& s, const script_positions& positions, size_t statement) {
    statement_layout layout;
    walker(positions, statement, layout).walk(s.commands[statement]);
    return layout;
}

}  // namespace vendrak::check
