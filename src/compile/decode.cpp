#include "compile/decode.h"

#include <algorithm>
#include "common/bit_cast.h"
#include <cmath>
#include <variant>

#include "common/fatal.h"
#include "parser/vocabulary.h"

namespace vendrak {
namespace {

namespace words = vocabulary;

constexpr uint32_t max_key_bytes = 32;
// A string token holds at most 1023 characters with its two quotes.
constexpr size_t max_script_text = 1021;
// The screen: 8 rows of 16 cells (LCD, HLCD) or 32 cells (HUD).
constexpr int32_t screen_rows = 8;

// FW_VERSION XX.YY keeps XX * 100 + YY, where YY is read with automatic base
// and may follow a negative XX: "M.m" gives major M and minor m (0..99), and
// "-K.F" the negative minors. So a minor of 100 up to 0x10000 - 100 cannot
// be written, nor a negative minor with a positive major.
bool fw_version_writable(uint32_t major, uint32_t minor) {
    if (minor <= 99) return true;
    if (minor < 0x10000 - 99) return false;
    return major == 0 || major >= 0x8000;
}

// Reads the operands of one instruction into a statement, collecting what
// cannot be decoded.
class decoder {
public:
    decoder(std::span<const uint8_t, opcode_size> op, uint32_t address, const program_tables& tables, script& pools,
            std::vector<std::string>& problems)
        : op_(op), address_(address), tables_(tables), pools_(pools), problems_(problems) {}

    command run(cmd_kind kind) {
        command c;
        c.kind = kind;
        c.form = empty_form(kind);
        std::visit([&](auto& f) { decode(kind, f); }, c.form);
        return c;
    }

    void problem(const std::string& what) {
        problems_.push_back(format("instruction at 0x%04X: %s", address_, what.c_str()));
    }

private:
    uint32_t get(field f) const { return get_field(op_, f); }
    int32_t s32(field f) const { return static_cast<int32_t>(get(f)); }

    template <typename Code>
    Code choice(field f, const words::choice& words, const char* what) {
        const uint32_t code = get(f);
        if (words.word(code).empty()) problem(format("%s code %u has no word in the script language", what, code));
        return static_cast<Code>(code);
    }

    template <typename Code, size_t N>
    Code symbol(uint32_t code, const words::symbol (&symbols)[N], const char* what) {
        if (words::first_symbol(symbols, code).empty())
            problem(format("%s code %u has no word in the script language", what, code));
        return static_cast<Code>(code);
    }

    // The NUL-terminated text at the string-table offset in `f`. No script
    // string is longer than a token allows, so the search for the NUL stops
    // there: each text costs at most that much, however many instructions
    // point into one long run of bytes.
    text_ref text(std::span<const uint8_t> bytes, field f) {
        const uint32_t offset = get_field(bytes, f);
        const auto strings = tables_.strings;
        if (offset >= strings.size()) {
            problem(format("string offset %u lies outside the string table (%zu bytes)", offset, strings.size()));
            return pools_.add_text({});
        }
        const size_t limit = std::min<size_t>(strings.size(), offset + max_script_text + 1);
        size_t end = offset;
        while (end < limit && strings[end] != 0) ++end;
        if (end == strings.size())
            problem(format("the text at string offset %u has no NUL before the end of the string table", offset));
        else if (end == limit)
            problem(format("the text at string offset %u is longer than the %zu characters of a script string",
                           offset, max_script_text));
        return pools_.add_text(
            std::string_view(reinterpret_cast<const char*>(strings.data()) + offset, end - offset));
    }

    // `count` data-table bytes from `offset`; zeros when they are not all there.
    std::span<const uint8_t> data(uint32_t offset, uint32_t count) {
        const auto table = tables_.data;
        if (uint64_t{offset} + count > table.size()) {
            problem(format("data bytes %u to %llu lie outside the data table (%zu bytes)", offset,
                           static_cast<unsigned long long>(uint64_t{offset} + count), table.size()));
            zeros_.assign(count, 0);
            return zeros_;
        }
        return table.subspan(offset, count);
    }

    values_ref values(uint32_t offset, uint32_t count, const int32_t* first = nullptr) {
        const uint32_t at = script::room(pools_.values, count + 1);
        if (first) pools_.values.push_back(*first);
        for (const uint8_t b : data(offset, count)) pools_.values.push_back(b);
        return {at, static_cast<uint32_t>(pools_.values.size() - at)};
    }

    bytes_ref bytes(uint32_t offset, uint32_t count) { return pools_.add_bytes(data(offset, count)); }

    bytes_ref key(uint32_t length, uint32_t offset) {
        if (length == 0 || length > max_key_bytes)
            problem(format("a key of %u bytes: keys hold 1 to %u bytes", length, max_key_bytes));
        return bytes(offset, std::min(length, max_key_bytes));
    }

    float single(uint32_t bits) {
        const float value = bit_cast<float>(bits);
        if (std::isnan(value)) problem("a float that is not a number cannot be written in a script");
        return value;
    }

    template <typename Form>
    void floats(Form& f, field at) {
        const std::span<const uint8_t> b = data(get(at), 8);
        f.float_a = single(get_field(b, fields::u32(0)));
        f.float_b = single(get_field(b, fields::u32(4)));
    }

    // The 5-byte expression operand at `at`.
    prim_expr operand(uint8_t at) {
        namespace x = fields::expr;
        const auto bytes = std::span<const uint8_t>(op_).subspan(at, expr_operand_size);
        const auto kind = static_cast<expr_kind>(get_field(bytes, x::kind));
        // Ranges are 16-bit fields; read as signed, so that a negative BIT
        // length comes back as the script wrote it.
        auto s16 = [&](field f) { return static_cast<int32_t>(static_cast<int16_t>(get_field(bytes, f))); };
        switch (kind) {
            case EXPR_NUMBER: return prim_expr::number_of(static_cast<int32_t>(get_field(bytes, x::number)));
            case EXPR_STRING: return prim_expr::string_of(text(bytes, x::string));
            case EXPR_ARRAY:
                return prim_expr::array_of(
                    values(get_field(bytes, x::array_data), get_field(bytes, x::array_count)));
            case EXPR_VAR: return prim_expr::var_of(static_cast<int32_t>(get_field(bytes, x::var)));
            case EXPR_FLOAT_NUMBER: return prim_expr::float_of(single(get_field(bytes, x::value)));
            default: break;
        }
        if (words::is_ranged(kind)) return prim_expr::of(kind, s16(x::offset), s16(x::length));
        if (words::operand_word(kind).empty())
            problem(format("expression kind %u is no operand of the script language", kind));
        return prim_expr::of(kind);
    }

    // A list whose MSG form kept its first value whole in the opcode; it was
    // there when `has_first`.
    values_ref message_list(uint32_t first, uint32_t count, uint32_t offset, bool has_first) {
        const auto whole = static_cast<int32_t>(first);
        return values(offset, count, has_first ? &whole : nullptr);
    }

    void decode(cmd_kind, bare_form&) {}
    void decode(cmd_kind, label_form&) {}

    void decode(cmd_kind, condition_form& f) {
        f.test.op = symbol<test_code>(get(fields::cmp::op), words::comparisons, "comparison");
        f.test.lhs = operand(fields::cmp::lhs);
        f.test.rhs = operand(fields::cmp::rhs);
    }

    void decode(cmd_kind, dat_form& f) {
        f.type = choice<dat_type>(fields::dat::type, words::dat_types, "data-set type");
        f.did = s32(fields::dat::did);
    }

    void decode(cmd_kind, delay_form& f) { f.value = s32(fields::delay::value); }

    void decode(cmd_kind, diag_form& f) {
        f.protocol = choice<diag_protocol>(fields::diag::protocol, words::protocols, "protocol");
        f.first_id = s32(fields::diag::first_id);
        f.second_id = s32(fields::diag::second_id);
    }

    void decode(cmd_kind, did_form& f) {
        namespace d = fields::did;
        f.operation = choice<did_operation>(d::operation, words::did_operations, "DID operation");
        f.did = s32(d::did);
        if (f.operation != DID_MODIFY) return;
        f.modify_a = s32(d::modify_a);
        f.modify_b = s32(d::modify_b);
        f.modify_op = symbol<arith_code>(get(d::modify_op), words::operators, "operator");
        f.modify_value = s32(d::modify_value);
    }

    void decode(cmd_kind, inhale_form& f) {
        f.method = choice<key_method>(fields::inhale::method, words::methods, "method");
    }

    void decode(cmd_kind, exhale_form& f) {
        namespace e = fields::exhale;
        f.method = choice<key_method>(e::method, words::methods, "method");
        f.has_key = get(e::key_flag) != 0;
        if (f.has_key) f.key = key(get(e::key_length), get(e::key));
    }

    void decode(cmd_kind, text_form& f) { f.text = text(op_, fields::text::string); }

    void decode(cmd_kind, fw_version_form& f) {
        f.major = s32(fields::fw_version::major);
        f.minor = s32(fields::fw_version::minor);
        if (!fw_version_writable(get(fields::fw_version::major), get(fields::fw_version::minor)))
            problem(format("FW_VERSION with major %d and minor %d cannot be written as XX.YY", f.major, f.minor));
    }

    // A TEXT length is a 16-bit field: one that would run off the screen
    // read as positive was negative.
    void decode(cmd_kind kind, screen_form& f) {
        namespace s = fields::screen;
        f.row = s32(s::row) + 1;
        f.column = s32(s::column) + 1;
        f.expr = operand(s::expr);
        const int32_t width = kind == CMD_HUD ? 32 : 16;
        if (f.expr.kind == EXPR_TEXT && (f.row - 1) * width + (f.column - 1) + f.expr.length > screen_rows * width)
            f.expr.length -= 0x10000;
        f.has_floats = static_cast<uint8_t>(get(s::has_floats));
        if (f.has_floats == 1) floats(f, s::floats);
    }

    void decode(cmd_kind, led_form& f) {
        f.color = choice<led_color>(fields::led::color, words::colors, "LED colour");
        f.state = choice<led_state>(fields::led::state, words::states, "LED state");
    }

    void decode(cmd_kind, log_form& f) {
        namespace l = fields::log;
        f.mode = choice<log_mode>(l::mode, words::log_modes, "LOG mode");
        f.expr = operand(l::expr);
        f.has_floats = static_cast<uint8_t>(get(l::has_floats));
        if (f.has_floats == 1) floats(f, l::floats);
    }

    void decode(cmd_kind, net_form& f) {
        f.network = choice<net_network>(fields::net::network, words::networks, "network");
        f.id_bits = s32(fields::net::id_bits);
        f.bit_rate = s32(fields::net::bit_rate);
    }

    // The encoder writes the fields after the period only for a list with
    // values; the first value of a MSG list was there when any is set.
    void decode(cmd_kind, periodic_form& f) {
        namespace p = fields::periodic;
        f.type = choice<msg_type>(p::type, words::message_types, "PERIODIC type");
        f.period = s32(p::period);
        const uint32_t first = get(p::first), count = get(p::count), offset = get(p::data);
        if (f.type == MSG_MSG)
            f.bytes = message_list(first, count, offset, first != 0 || count != 0 || offset != 0);
        else if (count != 0 || offset != 0)
            f.bytes = message_list(0, count, offset, false);
    }

    // The data offset is always written: only the identifier or a count
    // shows a first MSG value.
    void decode(cmd_kind, write_form& f) {
        namespace w = fields::write;
        f.type = choice<msg_type>(w::type, words::message_types, "WRITE type");
        const uint32_t first = get(w::first), count = get(w::count);
        f.bytes = message_list(first, count, get(w::data), f.type == MSG_MSG && (first != 0 || count != 0));
    }

    void decode(cmd_kind, request_form& f) { f.bytes = values(get(fields::request::data), get(fields::request::count)); }

    void decode(cmd_kind, prog_form& f) {
        namespace p = fields::prog;
        f.has_key = get(p::key_flag) != 0;
        if (f.has_key) f.key = key(get(p::key_length), get(p::key));
    }

    // Only a "0x" number is taken as the value, and the number reader stops
    // at 0x7FFFFFFF; 0xFFFFFFFF stands for no value.
    void decode(cmd_kind, read_form& f) {
        f.type = choice<msg_type>(fields::read::type, words::message_types, "READ type");
        f.value = s32(fields::read::value);
        if (f.value < -1) problem(format("READ value 0x%X cannot be written in a script", get(fields::read::value)));
    }

    void decode(cmd_kind, security_form& f) {
        namespace s = fields::security;
        f.level = s32(s::level);
        f.key = key(get(s::key_length), get(s::key));
    }

    void decode(cmd_kind, set_value_form& f) {
        f.param = choice<set_value_param>(fields::set_value::param, words::parameters, "SET_VALUE parameter");
        f.value = s32(fields::set_value::value);
    }

    void decode(cmd_kind, waitkey_form& f) { f.expr = operand(fields::waitkey::expr); }

    void decode(cmd_kind, assignment_form& f) {
        namespace v = fields::var;
        f.index = s32(v::index);
        f.assign.op = static_cast<arith_code>(get(v::op));
        f.assign.lhs = operand(v::lhs);
        f.assign.rhs = operand(v::rhs);
        if (f.assign.op != OP_NONE)
            symbol<arith_code>(f.assign.op, words::operators, "operator");
        else if (f.assign.rhs.kind != EXPR_NIL)
            problem("an assignment without an operator has a second operand");
    }

    void decode(cmd_kind, transfer_form& f) {
        f.first = get(fields::transfer::first);
        f.second = get(fields::transfer::second);
    }

    void decode(cmd_kind, mem_form& f) {
        namespace m = fields::mem;
        f.location = s32(m::location);
        f.op = symbol<arith_code>(get(m::op), words::operators, "operator");
        f.data = bytes(get(m::data), get(m::count));
    }

    std::span<const uint8_t, opcode_size> op_;
    uint32_t address_;
    const program_tables& tables_;
    script& pools_;
    std::vector<std::string>& problems_;
    std::vector<uint8_t> zeros_;
};

}  // namespace

decoded_instruction decode_instruction(std::span<const uint8_t, opcode_size> op, uint32_t address) {
    decoded_instruction d;
    d.address = address;
    d.code = static_cast<uint16_t>(get_field(op, fields::code));
    if (is_jump(d.code)) d.target = get_field(op, fields::jump_target);
    if (is_programming(d.code)) d.image_offset = get_field(op, fields::prog::image);
    return d;
}

std::string_view operation_name(uint32_t code) {
    switch (code) {
        case OPC_CMP: return "CMP";
        case OPC_JT: return "JT";
        case OPC_JF: return "JF";
        case OPC_JMP: return "JMP";
        case OPC_JMPS: return "JMPS";
        default: return vocabulary::keyword(kind_of_operation(code));
    }
}

command decode_statement(std::span<const uint8_t, opcode_size> op, uint32_t address, const program_tables& tables,
                         script& pools, std::vector<std::string>& problems) {
    decoder d(op, address, tables, pools, problems);
    const uint32_t code = get_field(op, fields::code);
    const cmd_kind kind = kind_of_operation(code);
    if (kind == 0) {
        if (!is_jump(code)) d.problem(format("unknown operation code %u", code));
        return {};
    }
    return d.run(kind);
}

}  // namespace vendrak
