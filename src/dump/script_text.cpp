#include "dump/script_text.h"

#include <charconv>
#include <initializer_list>
#include <cmath>
#include <span>
#include <variant>

#include "common/fatal.h"
#include "common/float_chars.h"
#include "parser/vocabulary.h"

namespace vendrak {
namespace {

namespace words = vocabulary;

// The pieces joined. (Joining with "literal" + std::string trips a false
// alarm of g++ 12 at -O3, -Wrestrict.)
std::string cat(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (const std::string_view piece : pieces) text += piece;
    return text;
}

// A word, or a visible stand-in for a code that has none.
std::string word_or_code(std::string_view word, uint32_t code) {
    return word.empty() ? format("<code %u>", code) : std::string(word);
}
std::string word_of(const words::choice& choice, uint32_t code) { return word_or_code(choice.word(code), code); }
template <size_t N>
std::string symbol_of(const words::symbol (&symbols)[N], uint32_t code) {
    return word_or_code(words::last_symbol(symbols, code), code);
}

// Positive numbers in hexadecimal, negative ones in decimal: the number
// reader clamps "0x" values above 0x7FFFFFFF, while "-1" reads back exactly.
std::string hex_number(int32_t v) { return v < 0 ? format("%d", v) : format("0x%X", static_cast<uint32_t>(v)); }

// FW_VERSION XX.YY keeps XX * 100 + YY, where YY is read with automatic base
// and may follow a negative XX: written without leading zeros, "M.m" gives
// major M and minor m (0..99), and "-K.F" gives the negative minors.
std::string fw_version_text(uint32_t major, uint32_t minor) {
    if (minor <= 99) return format("%u.%u", major, minor);
    // minor is -m (1..99) as 16 bits; then major must be -k with k >= 0.
    const uint32_t m = 0x10000 - minor;
    if (minor < 0x10000 - 99 || (major != 0 && major < 0x8000)) return format("<major %u minor %u>", major, minor);
    const uint32_t k = major == 0 ? 0 : 0x10000 - major;
    return format("-%u.%u", k + 1, 100 - m);
}

std::string key_text(std::span<const uint8_t> key) {
    std::string text = " 0x";
    for (const uint8_t b : key) text += format("%02X", b);
    return text;
}

std::string byte_list(std::span<const int32_t> values) {
    std::string text;
    for (const int32_t v : values) text += format(" 0x%02X", static_cast<uint32_t>(v) & 0xFF);
    return text;
}

std::string quoted(std::string_view text) { return cat({"\"", text, "\""}); }

class writer {
public:
    writer(const command& c, const script& s) : c_(c), s_(s) {}

    std::string run() {
        if (words::keyword(c_.kind).empty() && c_.kind != CMD_LABEL) return format("<statement kind %u>", c_.kind);
        return std::visit([&](const auto& f) { return text(f); }, c_.form);
    }

private:
    std::string_view keyword() const { return words::keyword(c_.kind); }

    template <typename Form>
    std::string floats(const Form& f) const {
        return f.has_floats == 1 ? cat({" ", float_text(f.float_a), " ", float_text(f.float_b)}) : std::string{};
    }

    std::string text(const bare_form&) { return std::string(keyword()); }

    std::string text(const dat_form& f) {
        if (f.type == DAT_DID)
            return cat({keyword(), " ", words::dat_types.word(DAT_DID), format(" 0x%X", static_cast<uint32_t>(f.did))});
        return cat({keyword(), " ", word_of(words::dat_types, f.type)});
    }

    std::string text(const delay_form& f) { return cat({keyword(), format(" %d", f.value)}); }

    std::string text(const diag_form& f) {
        return cat({keyword(), " ", word_of(words::protocols, f.protocol), " ", hex_number(f.first_id), " ",
                    hex_number(f.second_id)});
    }

    std::string text(const did_form& f) {
        std::string text = cat({keyword(), " ", word_of(words::did_operations, f.operation),
                                format(" 0x%X", static_cast<uint32_t>(f.did))});
        if (f.operation == DID_MODIFY)
            text += cat({format(" %d %d ", f.modify_a, f.modify_b), symbol_of(words::operators, f.modify_op),
                         format(" %d", f.modify_value)});
        return text;
    }

    std::string text(const inhale_form& f) { return cat({keyword(), " ", word_of(words::methods, f.method)}); }

    std::string text(const exhale_form& f) {
        return cat({keyword(), " ", word_of(words::methods, f.method), f.has_key ? key_text(s_.bytes_of(f.key)) : ""});
    }

    std::string text(const text_form& f) { return cat({keyword(), " ", quoted(s_.text(f.text))}); }

    std::string text(const fw_version_form& f) {
        return cat({keyword(), " ", fw_version_text(static_cast<uint32_t>(f.major) & 0xFFFF,
                                                   static_cast<uint32_t>(f.minor) & 0xFFFF)});
    }

    std::string text(const screen_form& f) {
        return cat({keyword(), format(" %d %d ", f.row, f.column), operand_text(f.expr, s_), floats(f)});
    }

    std::string text(const condition_form& f) { return cat({keyword(), " ", condition_text(f.test, s_)}); }

    std::string text(const led_form& f) {
        return cat({keyword(), " ", word_of(words::colors, f.color), " ", word_of(words::states, f.state)});
    }

    std::string text(const log_form& f) {
        return cat({keyword(), " ", word_of(words::log_modes, f.mode), " ", operand_text(f.expr, s_), floats(f)});
    }

    std::string text(const net_form& f) {
        return cat({keyword(), " ", word_of(words::networks, f.network), format(" %d %d", f.id_bits, f.bit_rate)});
    }

    // The MSG identifier is written whole; the other values as bytes.
    std::string message_list(msg_type type, values_ref list) {
        std::span<const int32_t> values = s_.values_of(list);
        std::string text;
        if (type == MSG_MSG && !values.empty()) {
            text = cat({" ", hex_number(values[0])});
            values = values.subspan(1);
        }
        return text + byte_list(values);
    }

    std::string text(const periodic_form& f) {
        return cat({keyword(), " ", word_of(words::message_types, f.type), format(" %d", f.period),
                    message_list(f.type, f.bytes)});
    }

    std::string text(const write_form& f) {
        return cat({keyword(), " ", word_of(words::message_types, f.type), message_list(f.type, f.bytes)});
    }

    std::string text(const request_form& f) { return cat({keyword(), byte_list(s_.values_of(f.bytes))}); }

    std::string text(const prog_form& f) {
        return cat({keyword(), " ", quoted(s_.text(f.filename)), f.has_key ? key_text(s_.bytes_of(f.key)) : ""});
    }

    std::string text(const read_form& f) {
        return cat({keyword(), " ", word_of(words::message_types, f.type),
                    f.value == -1 ? std::string{} : format(" 0x%X", static_cast<uint32_t>(f.value))});
    }

    std::string text(const security_form& f) { return cat({keyword(), format(" %d", f.level), key_text(s_.bytes_of(f.key))}); }

    std::string text(const set_value_form& f) {
        return cat({keyword(), " ", word_of(words::parameters, f.param), format(" %d", f.value)});
    }

    std::string text(const waitkey_form& f) { return cat({keyword(), " ", operand_text(f.expr, s_)}); }

    std::string text(const label_form& f) {
        if (c_.kind == CMD_LABEL) return cat({s_.text(f.name), ":"});
        return cat({keyword(), " ", s_.text(f.name)});
    }

    std::string text(const assignment_form& f) {
        std::string text = cat({words::var_word, format("[%d] = ", f.index), operand_text(f.assign.lhs, s_)});
        if (f.assign.op != OP_NONE || f.assign.rhs.kind != EXPR_NIL)
            text += cat({" ", symbol_of(words::operators, f.assign.op), " ", operand_text(f.assign.rhs, s_)});
        return text;
    }

    std::string text(const transfer_form& f) { return cat({keyword(), format(" 0x%X 0x%X", f.first, f.second)}); }

    // A string of no characters is the one way to write no data bytes.
    std::string text(const mem_form& f) {
        const std::span<const uint8_t> data = s_.bytes_of(f.data);
        std::string text = data.empty() ? "\"\"" : "0x";
        for (const uint8_t b : data) text += format("%02X", b);
        return cat({keyword(), " ", hex_number(f.location), " ", symbol_of(words::operators, f.op), " ", text});
    }

    const command& c_;
    const script& s_;
};

}  // namespace

// Shortest text that reads back as the same single-precision value, always
// with a point (or the parser takes an integer) and never with "+" (which
// ends a word). Infinity is written as a value beyond the float range.
std::string float_text(float value) {
    if (std::isinf(value)) return value < 0 ? "-1.0e39" : "1.0e39";
    if (std::isnan(value)) return "<not a number>";
    char buf[64];
    const auto result = float_to_chars(buf, buf + sizeof buf, value);
    const std::string text(buf, result.ptr);
    const size_t e = text.find('e');
    std::string mantissa = text.substr(0, e);
    std::string exponent = e == std::string::npos ? std::string{} : text.substr(e);
    if (mantissa.find('.') == std::string::npos) mantissa += ".0";
    if (exponent.size() > 1 && exponent[1] == '+') exponent.erase(1, 1);
    return mantissa + exponent;
}

std::string operand_text(const prim_expr& e, const script& s) {
    switch (e.kind) {
        case EXPR_NUMBER: return format("%d", e.number());
        case EXPR_STRING: return quoted(s.text(e.text()));
        case EXPR_ARRAY: {
            std::string text = "{";
            bool first = true;
            for (const int32_t v : s.values_of(e.elements())) {
                text += format(first ? "0x%02X" : ", 0x%02X", static_cast<uint32_t>(v) & 0xFF);
                first = false;
            }
            return text + "}";
        }
        case EXPR_VAR: return cat({words::var_word, format("[%d]", e.var())});
        case EXPR_FLOAT_NUMBER: return float_text(e.fvalue());
        default: break;
    }
    const std::string_view w = words::operand_word(e.kind);
    if (w.empty()) return format("<operand kind %u>", e.kind);
    if (words::is_ranged(e.kind))
        return format("%.*s[%d,%d]", static_cast<int>(w.size()), w.data(), e.offset(), e.length);
    return std::string(w);
}

std::string condition_text(const test_expr& test, const script& s) {
    return cat({operand_text(test.lhs, s), " ", symbol_of(words::comparisons, test.op), " ", operand_text(test.rhs, s)});
}

std::string statement_text(const command& cmd, const script& s) { return writer(cmd, s).run(); }

}  // namespace vendrak
