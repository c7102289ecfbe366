// Warnings about values: slices beyond the response, comparisons that can
// never hold, division by 0, bar limits, and requests and identities that
// cannot be what the author meant.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "check/findings.h"
#include "check/layout.h"
#include "parser/lexer.h"
#include "parser/vocabulary.h"

namespace vendrak::check {
namespace {

constexpr int64_t last_offset = 255;

bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }  // slices read the response from byte 0 to byte 255

bool is_slice(expr_kind k) {
    return k == EXPR_DATA || k == EXPR_UDATA || k == EXPR_HEX || k == EXPR_BIT || k == EXPR_FLOAT || k == EXPR_TEXT;
}

// A bar shows a value; texts have none.
bool is_value(const prim_expr& e) { return e.kind != EXPR_STRING && e.kind != EXPR_TEXT; }

std::string slice_text(const prim_expr& e) {
    return std::string(vocabulary::operand_word(e.kind)) + "[" + std::to_string(e.offset()) + "," +
           std::to_string(e.length) + "]";
}

// Conditions check a slice's offset and length; elsewhere they are taken as
// written. The same rules, and the end of the response, wherever one stands.
// `where` gives the place of the operand: laid out only for a warning.
template <typename Where>
void check_slice(const prim_expr& e, const Where& where, findings& out) {
    if (!is_slice(e.kind)) return;
    const int64_t offset = e.offset(), length = e.length;
    const int64_t bytes = e.kind == EXPR_BIT ? (std::abs(length) + 7) / 8 : length;
    const std::string shown = slice_text(e);
    if (offset < 0 || offset > last_offset) {
        out.warn(warning::slice_range, where(), "%s starts past byte %lld, the last a slice reads: offsets go from 0 to %lld",
                 shown.c_str(), static_cast<long long>(last_offset), static_cast<long long>(last_offset));
        return;
    }
    const int64_t most = e.kind == EXPR_DATA || e.kind == EXPR_UDATA ? 4 : e.kind == EXPR_HEX ? 16 : e.kind == EXPR_BIT ? 32 : 256;
    if (length == 0 || std::abs(length) > most || (length < 0 && e.kind != EXPR_BIT)) {
        out.warn(warning::slice_range, where(), "%s: the length of %s goes from 1 to %lld", shown.c_str(),
                 std::string(vocabulary::operand_word(e.kind)).c_str(), static_cast<long long>(most));
        return;
    }
    if (e.kind != EXPR_BIT && offset + bytes - 1 > last_offset)
        out.warn(warning::slice_range, where(), "%s runs past byte %lld, the last a slice reads", shown.c_str(),
                 static_cast<long long>(last_offset));
}

// The values a slice can have, when they are fewer than a number's.
struct span {
    int64_t low, high;
};
std::optional<span> values_of(const prim_expr& e) {
    const int64_t l = e.length;
    if (e.kind == EXPR_DATA && l >= 1 && l <= 3) return span{-(int64_t{1} << (8 * l - 1)), (int64_t{1} << (8 * l - 1)) - 1};
    if (e.kind == EXPR_UDATA && l >= 1 && l <= 4) return span{0, (int64_t{1} << (8 * l)) - 1};
    if (e.kind == EXPR_BIT && l >= 1 && l <= 32) return span{0, (int64_t{1} << l) - 1};
    return std::nullopt;
}

// -1: never holds, 1: always holds, 0: depends on the run.
int compare_outcome(span v, test_code op, int64_t c) {
    switch (op) {
        case TEST_EQ: return c < v.low || c > v.high ? -1 : 0;
        case TEST_NE: return c < v.low || c > v.high ? 1 : 0;
        case TEST_LT: return v.low >= c ? -1 : v.high < c ? 1 : 0;
        case TEST_GT: return v.high <= c ? -1 : v.low > c ? 1 : 0;
        default: return 0;
    }
}

test_code mirrored(test_code op) { return op == TEST_LT ? TEST_GT : op == TEST_GT ? TEST_LT : op; }

template <typename Where>
void check_comparison(const test_expr& t, const Where& where, findings& out) {
    const prim_expr *slice = &t.lhs, *other = &t.rhs;
    test_code op = t.op;
    if (t.lhs.kind == EXPR_NUMBER) std::swap(slice, other), op = mirrored(op);
    if (other->kind == EXPR_NUMBER) {
        if (const auto v = values_of(*slice)) {
            const int outcome = compare_outcome(*v, op, other->number());
            if (outcome != 0)
                out.warn(warning::never_true, where(), "this comparison %s: %s holds values from %lld to %lld only",
                         outcome < 0 ? "can never hold" : "always holds", slice_text(*slice).c_str(),
                         static_cast<long long>(v->low), static_cast<long long>(v->high));
        }
        return;
    }
    const auto text_and_string = [&](const prim_expr& a, const prim_expr& b) {
        return a.kind == EXPR_TEXT && b.kind == EXPR_STRING;
    };
    if ((text_and_string(t.lhs, t.rhs) || text_and_string(t.rhs, t.lhs)) && (t.op == TEST_EQ || t.op == TEST_NE)) {
        const prim_expr& text = t.lhs.kind == EXPR_TEXT ? t.lhs : t.rhs;
        const prim_expr& string = t.lhs.kind == EXPR_TEXT ? t.rhs : t.lhs;
        if (text.length != string.length)
            out.warn(warning::never_true, where(), "this comparison %s: %s holds %d characters, the string %d",
                     t.op == TEST_EQ ? "can never hold" : "always holds", slice_text(text).c_str(), text.length,
                     string.length);
        return;
    }
    const bool unordered = t.lhs.kind == EXPR_KEY || t.rhs.kind == EXPR_KEY || t.lhs.kind == EXPR_DTCVAL ||
                           t.rhs.kind == EXPR_DTCVAL;
    if (unordered && (t.op == TEST_LT || t.op == TEST_GT || t.op == TEST_AND))
        out.warn(warning::never_true, where(), "%s have no order: compare them with = or !",
                 t.lhs.kind == EXPR_KEY || t.rhs.kind == EXPR_KEY ? "keys" : "byte arrays");
}

// CAN networks carry 11- or 29-bit identifiers at 125000 or 500000 bit/s;
// LIN 8-bit identifiers at 10400 bit/s. vendrak takes any of the widths and
// rates with any network.
void check_network(const net_form& f, const std::function<token_position(size_t)>& part, findings& out) {
    const bool lin = f.network == NET_LIN;
    const char* name = lin ? "LIN" : "CAN";
    if ((f.id_bits == 8) != lin)
        out.warn(warning::network, part(2), "%s has no %d-bit identifiers: %s", name, f.id_bits,
                 lin ? "LIN identifiers have 8 bits" : "CAN identifiers have 11 or 29 bits, 8 is LIN's");
    if ((f.bit_rate == 10400) != lin)
        out.warn(warning::network, part(3), "%s does not run at %d bit/s: %s", name, f.bit_rate,
                 lin ? "LIN runs at 10400" : "CAN runs at 125000 or 500000, 10400 is LIN's");
}

}  // namespace

void warn_values(const parsed_script& p, findings& out) {
    uint32_t last_request = UINT32_MAX;  // the service of the request just before, when known
    // The DID that the latest DAT_INIT DID named, and where: the statements
    // of its sequence name the same one.
    std::optional<std::pair<int32_t, token_position>> data_set;
    for (size_t i = 0; i < p.tree.commands.size(); ++i) {
        const command& c = p.tree.commands[i];
        const auto part = [&](size_t k) { return p.at(lay_out(p.tree, p.positions, i).part(k)); };
        const auto at = [&](size_t k) { return [&part, k] { return part(k); }; };
        const uint32_t request = last_request;
        last_request = UINT32_MAX;
        switch (c.kind) {
            case CMD_LCD:
            case CMD_HLCD:
            case CMD_HUD: {
                const auto& f = std::get<screen_form>(c.form);
                check_slice(f.expr, at(3), out);
                if (f.has_floats && f.float_a >= f.float_b && is_value(f.expr))
                    out.warn(warning::bar_limits, part(4), "the bar's low limit %g is not below its high limit %g",
                             static_cast<double>(f.float_a), static_cast<double>(f.float_b));
                break;
            }
            case CMD_LOG: {
                const auto& f = std::get<log_form>(c.form);
                check_slice(f.expr, at(2), out);
                if (f.has_floats && f.float_a >= f.float_b && is_value(f.expr))
                    out.warn(warning::bar_limits, part(3), "the bar's low limit %g is not below its high limit %g",
                             static_cast<double>(f.float_a), static_cast<double>(f.float_b));
                break;
            }
            case CMD_VAR: {
                const arith_expr& a = std::get<assignment_form>(c.form).assign;
                check_slice(a.lhs, at(2), out);
                check_slice(a.rhs, at(4), out);
                const bool zero = (a.rhs.kind == EXPR_NUMBER && a.rhs.number() == 0) ||
                                  (a.rhs.kind == EXPR_FLOAT_NUMBER && a.rhs.fvalue() == 0.0f);
                if (a.op == OP_DIV && zero) out.warn(warning::divide_by_zero, part(4), "division by 0");
                break;
            }
            case CMD_NET: check_network(std::get<net_form>(c.form), part, out); break;
            case CMD_DAT_INIT:
            case CMD_DAT_CREATE:
            case CMD_DAT_CHECK:
            case CMD_DAT_DELETE: {
                const auto& f = std::get<dat_form>(c.form);
                if (c.kind == CMD_DAT_INIT) {
                    data_set.reset();
                    if (f.type == DAT_DID) data_set.emplace(f.did, part(2));
                } else if (f.type == DAT_DID && data_set && (f.did & 0xFFFF) != (data_set->first & 0xFFFF)) {
                    finding* w = out.warn(warning::data_set, part(2),
                                          "this data set was begun with DID 0x%04X, not 0x%04X: the statements of one "
                                          "sequence name one DID",
                                          static_cast<unsigned>(data_set->first & 0xFFFF), static_cast<unsigned>(f.did & 0xFFFF));
                    if (w != nullptr)
                        w->notes.push_back({data_set->second.line, data_set->second.column, "DAT_INIT names its DID here"});
                }
                break;
            }
            case CMD_IF:
            case CMD_WHILE: check_comparison(std::get<condition_form>(c.form).test, at(1), out); break;
            case CMD_VIN_VERIFY: {
                const auto& f = std::get<text_form>(c.form);
                if (f.text.size != 17)
                    out.warn(warning::vin_length, part(1), "a VIN has 17 characters; this one has %u", f.text.size);
                break;
            }
            case CMD_WRITE: {
                const auto& f = std::get<write_form>(c.form);
                const uint32_t id = f.type == MSG_MSG ? 1 : 0;  // MSG: the identifier comes first
                if (f.bytes.size <= id)
                    out.warn(warning::empty_request, part(0), "this WRITE %s sends no bytes: the list ends at the next word "
                                                              "that is not a number",
                             f.type == MSG_MSG ? "MSG" : "SID");
                else if (f.type == MSG_SID)
                    last_request = static_cast<uint32_t>(p.tree.values_of(f.bytes)[0]) & 0xFF;
                break;
            }
            case CMD_REQUEST: {
                const auto& f = std::get<request_form>(c.form);
                if (f.bytes.size == 0)
                    out.warn(warning::empty_request, part(0),
                             "this REQUEST sends no bytes: the list ends at the next word that is not a number");
                else
                    last_request = static_cast<uint32_t>(p.tree.values_of(f.bytes)[0]) & 0xFF;
                break;
            }
            case CMD_READ: {
                const auto& f = std::get<read_form>(c.form);
                if (f.type != MSG_SID || f.value < 0 || request == UINT32_MAX) break;
                const uint32_t positive = (request + 0x40) & 0xFF;
                const auto got = static_cast<uint32_t>(f.value);
                if (got != positive && got != 0x7F && !(request >= 0x40 && request < 0x80))
                    out.warn(warning::read_reply, part(2),
                             "READ SID 0x%02X cannot answer the request 0x%02X just sent: its reply is 0x%02X (0x7F when "
                             "refused)",
                             got, request, positive);
                break;
            }
            default: break;
        }
    }
}

void warn_redefines(const raw_script& raw, findings& out) {
    if (!out.enabled(warning::redefine)) return;
    std::unordered_map<std::string_view, const raw_define*> seen;
    for (const raw_define& d : raw.defines) {
        if (d.name.text.empty()) continue;
        const auto [it, added] = seen.try_emplace(d.name.text, &d);
        if (added) continue;
        if (it->second->value != d.value) {
            const std::string name(d.name.text), before(it->second->value);
            finding* f = out.warn(warning::redefine, d.name.at,
                                  "%s is defined again with another value: from here on it stands for this one, and "
                                  "above it for %s",
                                  name.c_str(), before.c_str());
            if (f != nullptr) f->notes.push_back({it->second->name.at.line, it->second->name.at.column, "defined here before"});
        }
        it->second = &d;
    }
}

void warn_define_names(const raw_script& raw, findings& out) {
    const bool numbers = out.enabled(warning::define_number), strings = out.enabled(warning::define_in_string);
    if (!numbers && !strings) return;
    // The first definition of each name: strings after it hold the name as text.
    std::unordered_map<std::string_view, const raw_define*> names;
    for (const raw_define& d : raw.defines) {
        const std::string_view name = d.name.text;
        if (name.empty()) continue;
        names.try_emplace(name, &d);
        int32_t value = 0;
        const bool signed_digit = name.size() > 1 && (name[0] == '-' || name[0] == '+') && is_decimal_digit(name[1]);
        if (numbers && (is_decimal_digit(name[0]) || signed_digit) && convert_int(name, value) == name.size()) {
            const std::string shown(name), meant(d.value);
            out.warn(warning::define_number, d.name.at,
                     "the name of this DEFINE is the number %s: from here on every %s stands for %s; a DEFINE takes "
                     "the name first, then its value",
                     shown.c_str(), shown.c_str(), meant.c_str());
        }
    }
    if (!strings || names.empty()) return;
    const auto after = [](token_position a, token_position b) {
        return a.line != b.line ? a.line > b.line : a.column > b.column;
    };
    const auto is_word_char = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_decimal_digit(c) || c == '_';
    };
    for (const raw_string& s : raw.strings) {
        if (!s.closed) continue;
        // Each word of the text that reads as a name made of several words
        // (SW_PART, ECU_TX): a plain word (ECU, PASS) on a screen is most
        // often meant as the word.
        const raw_define* named = nullptr;
        for (size_t i = 0; i < s.text.size() && named == nullptr;) {
            if (!is_word_char(s.text[i])) {
                ++i;
                continue;
            }
            size_t end = i;
            while (end < s.text.size() && is_word_char(s.text[end])) ++end;
            const std::string_view word = s.text.substr(i, end - i);
            if (const auto it = names.find(word);
                it != names.end() && word.find('_') != word.npos && after(s.at, it->second->at))
                named = it->second;
            i = end;
        }
        if (named == nullptr) continue;
        const std::string name(named->name.text), value(named->value);
        finding* f = out.warn(warning::define_in_string, s.at,
                              "%s is written inside a string, where a DEFINE name is not replaced: the text shows %s, "
                              "not %s",
                              name.c_str(), name.c_str(), value.c_str());
        if (f != nullptr) f->notes.push_back({named->name.at.line, named->name.at.column, "defined here"});
    }
}

}  // namespace vendrak::check
