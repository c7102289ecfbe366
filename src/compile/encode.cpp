// The encoder: one command into one 16-byte opcode, plus whatever it carries
// into the string table and the data table. The field positions are those of
// compile/opcode.h, which the decoder reads back.
#include "common/bit_cast.h"
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "common/fatal.h"
#include "compile/compile.h"

namespace vendrak {
namespace {

// Offsets into the tables that an opcode or operand holds in 16 bits.
constexpr size_t max_table_offset = 65535;
// Counts that an opcode holds in one byte.
constexpr size_t max_byte_count = 255;

class encoder {
public:
    encoder(opcode_bytes& op, const command& cmd, size_t index, const script& s, program& out, reporter& r)
        : op_(op), cmd_(cmd), index_(index), script_(s), out_(out), reporter_(r) {}

    void run() {
        op_.fill(0);
        put(fields::code, operation_of(cmd_.kind));
        std::visit([&](const auto& f) { encode(f); }, cmd_.form);
    }

private:
    void put(field f, uint32_t value) { put_field(op_, f, value); }
    static uint32_t u32(int32_t v) { return static_cast<uint32_t>(v); }

    void report(std::string message) { reporter_.report({index_, cmd_.line, std::move(message)}); }
    // The table limits: the message names the offset variable that ran out.
    void table_full(const char* index_name) {
        report(format("[%u] INTERNAL ERROR: %s exceeded!\n", cmd_.line, index_name));
    }

    // Appends a text and its NUL to the string table and returns its offset.
    // Equal texts are stored again each time: nothing is shared.
    uint32_t add_string(std::string_view text) {
        std::vector<uint8_t>& table = out_.string_table;
        if (table.size() > max_table_offset) {
            table_full("stringTableIndex");
            return 0;
        }
        const auto at = static_cast<uint32_t>(table.size());
        table.insert(table.end(), text.begin(), text.end());
        table.push_back(0);
        return at;
    }

    // Appends values as bytes (their low 8 bits) and returns where they start.
    template <typename Values>
    uint32_t add_bytes(const Values& values) {
        std::vector<uint8_t>& table = out_.data_table;
        const auto at = static_cast<uint32_t>(table.size());
        for (auto v : values) table.push_back(static_cast<uint8_t>(v));
        return at;
    }

    // The float pair of LCD, HLCD, HUD and LOG: two IEEE-754 singles.
    uint32_t add_floats(float a, float b) {
        std::vector<uint8_t>& table = out_.data_table;
        const auto at = static_cast<uint32_t>(table.size());
        for (const float f : {a, b})
            for (int shift = 0; shift < 32; shift += 8)
                table.push_back(static_cast<uint8_t>(bit_cast<uint32_t>(f) >> shift));
        return at;
    }

    // The 5-byte expression operand at `at`; its string or array goes into
    // the tables.
    void copyExpr(uint8_t at, const prim_expr& e) {
        const std::span<uint8_t> operand(op_.data() + at, expr_operand_size);
        namespace x = fields::expr;
        put_field(operand, x::kind, e.kind);
        switch (e.kind) {
            case EXPR_NUMBER:
            case EXPR_VAR:
            case EXPR_FLOAT_NUMBER:
                // The number, the variable index (16 bits) or the float's bits.
                put_field(operand, e.kind == EXPR_VAR ? x::var : x::number, u32(e.value));
                break;
            case EXPR_DATA:
            case EXPR_TEXT:
            case EXPR_HEX:
            case EXPR_BIT:
            case EXPR_FLOAT:
            case EXPR_UDATA:
                put_field(operand, x::offset, u32(e.offset()));
                put_field(operand, x::length, u32(e.length));
                break;
            case EXPR_STRING:
                put_field(operand, x::string, add_string(script_.text(e.text())));
                break;
            case EXPR_ARRAY:
                if (out_.data_table.size() > max_table_offset) {
                    table_full("dataTableIndex");
                    break;
                }
                put_field(operand, x::array_count, u32(e.length));
                put_field(operand, x::array_data, add_bytes(script_.values_of(e.elements())));
                break;
            default:
                break;
        }
    }

    // A list whose MSG form keeps its first value (the message identifier)
    // whole in the opcode; the rest go into the data table as bytes.
    std::span<const int32_t> message_values(msg_type type, values_ref list, field first) {
        std::span<const int32_t> values = script_.values_of(list);
        if (type == MSG_MSG && !values.empty()) {
            put(first, u32(values[0]));
            values = values.subspan(1);
        }
        return values;
    }

    void encode(const bare_form&) {}
    void encode(const label_form&) {}

    void encode(const condition_form& f) {
        put(fields::cmp::op, f.test.op);
        copyExpr(fields::cmp::lhs, f.test.lhs);
        copyExpr(fields::cmp::rhs, f.test.rhs);
    }

    void encode(const dat_form& f) {
        put(fields::dat::type, f.type);
        put(fields::dat::did, u32(f.did));
    }

    void encode(const delay_form& f) { put(fields::delay::value, u32(f.value)); }

    void encode(const diag_form& f) {
        put(fields::diag::protocol, f.protocol);
        put(fields::diag::first_id, u32(f.first_id));
        put(fields::diag::second_id, u32(f.second_id));
    }

    void encode(const did_form& f) {
        namespace d = fields::did;
        put(d::operation, f.operation);
        put(d::did, u32(f.did));
        put(d::modify_a, u32(f.modify_a));
        put(d::modify_b, u32(f.modify_b));
        put(d::modify_op, f.modify_op);
        put(d::modify_value, u32(f.modify_value));
    }

    void encode(const inhale_form& f) { put(fields::inhale::method, f.method); }

    void encode(const exhale_form& f) {
        namespace e = fields::exhale;
        put(e::method, f.method);
        put(e::key_flag, f.has_key);
        if (!f.has_key) return;
        put(e::key_length, f.key.size);
        put(e::key, add_bytes(script_.bytes_of(f.key)));
    }

    void encode(const text_form& f) { put(fields::text::string, add_string(script_.text(f.text))); }

    void encode(const fw_version_form& f) {
        put(fields::fw_version::major, u32(f.major));
        put(fields::fw_version::minor, u32(f.minor));
    }

    // Expression operands are encoded before the float pair, so the tables
    // fill in that order.
    void encode(const screen_form& f) {
        namespace s = fields::screen;
        put(s::row, u32(f.row - 1));
        put(s::column, u32(f.column - 1));
        copyExpr(s::expr, f.expr);
        put(s::has_floats, f.has_floats);
        if (f.has_floats == 1) put(s::floats, add_floats(f.float_a, f.float_b));
    }

    void encode(const led_form& f) {
        put(fields::led::color, f.color);
        put(fields::led::state, f.state);
    }

    void encode(const log_form& f) {
        namespace l = fields::log;
        put(l::mode, f.mode);
        copyExpr(l::expr, f.expr);
        put(l::has_floats, f.has_floats);
        if (f.has_floats == 1) put(l::floats, add_floats(f.float_a, f.float_b));
    }

    void encode(const net_form& f) {
        put(fields::net::network, f.network);
        put(fields::net::id_bits, u32(f.id_bits));
        put(fields::net::bit_rate, u32(f.bit_rate));
    }

    // Without any value, nothing beyond the period is written.
    void encode(const periodic_form& f) {
        namespace p = fields::periodic;
        put(p::type, f.type);
        put(p::period, u32(f.period));
        if (f.bytes.size == 0) return;
        const std::span<const int32_t> values = message_values(f.type, f.bytes, p::first);
        put(p::count, static_cast<uint32_t>(values.size()));
        put(p::data, add_bytes(values));
    }

    // An empty MSG list leaves the identifier 0.
    void encode(const write_form& f) {
        namespace w = fields::write;
        put(w::type, f.type);
        const std::span<const int32_t> values = message_values(f.type, f.bytes, w::first);
        put(w::count, static_cast<uint32_t>(values.size()));
        put(w::data, add_bytes(values));
    }

    void encode(const request_form& f) {
        if (f.bytes.size > max_byte_count) report(script_error(cmd_.line, "Too many REQUEST bytes\n"));
        put(fields::request::count, f.bytes.size);
        put(fields::request::data, add_bytes(script_.values_of(f.bytes)));
    }

    // The image offset is the driver's; it stays 0 here.
    void encode(const prog_form& f) {
        namespace p = fields::prog;
        put(p::key_flag, f.has_key);
        if (!f.has_key) return;
        put(p::key_length, f.key.size);
        put(p::key, add_bytes(script_.bytes_of(f.key)));
    }

    void encode(const read_form& f) {
        put(fields::read::type, f.type);
        put(fields::read::value, u32(f.value));
    }

    void encode(const security_form& f) {
        namespace s = fields::security;
        put(s::level, u32(f.level));
        put(s::key_length, f.key.size);
        put(s::key, add_bytes(script_.bytes_of(f.key)));
    }

    void encode(const set_value_form& f) {
        put(fields::set_value::param, f.param);
        put(fields::set_value::value, u32(f.value));
    }

    void encode(const waitkey_form& f) { copyExpr(fields::waitkey::expr, f.expr); }

    void encode(const assignment_form& f) {
        namespace v = fields::var;
        put(v::index, u32(f.index));
        put(v::op, f.assign.op);
        copyExpr(v::lhs, f.assign.lhs);
        copyExpr(v::rhs, f.assign.rhs);
    }

    void encode(const transfer_form& f) {
        put(fields::transfer::first, f.first);
        put(fields::transfer::second, f.second);
    }

    // A string operand is not bounded by the front end; the count field
    // holds one byte.
    void encode(const mem_form& f) {
        namespace m = fields::mem;
        if (f.data.size > max_byte_count) report(script_error(cmd_.line, "Too many MEM bytes\n"));
        put(m::location, u32(f.location));
        put(m::op, f.op);
        put(m::count, f.data.size);
        put(m::data, add_bytes(script_.bytes_of(f.data)));
    }

    opcode_bytes& op_;
    const command& cmd_;
    size_t index_;
    const script& script_;
    program& out_;
    reporter& reporter_;
};

}  // namespace

void make_opcode(opcode_bytes& op, const command& cmd, size_t index, const script& s, program& out, reporter& r) {
    encoder(op, cmd, index, s, out, r).run();
}

}  // namespace vendrak
