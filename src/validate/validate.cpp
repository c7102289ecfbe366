#include "validate/validate.h"

#include <array>
#include <cstdarg>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

#include "common/fatal.h"
#include "parser/vocabulary.h"

namespace vendrak {
namespace {

// Pairs of operand kinds a condition may compare, in either order. The pair
// (0, 0) ends the table.
constexpr std::array<std::array<uint32_t, 2>, 25> VALID_TEST_EXPRESSIONS = {{
    {EXPR_KEY, EXPR_ENTER},
    {EXPR_KEY, EXPR_ESCAPE},
    {EXPR_KEY, EXPR_UP},
    {EXPR_KEY, EXPR_DOWN},
    {EXPR_KEY, EXPR_LEFT},
    {EXPR_KEY, EXPR_RIGHT},
    {EXPR_KEY, EXPR_ANY},
    {EXPR_DAT_STATUS, EXPR_NUMBER},
    {EXPR_VBAT, EXPR_NUMBER},
    {EXPR_SERNUM, EXPR_STRING},
    {EXPR_TEXT, EXPR_STRING},
    {EXPR_NUMBER, EXPR_NUMBER},
    {EXPR_DATA, EXPR_NUMBER},
    {EXPR_UDATA, EXPR_NUMBER},
    {EXPR_FLOAT, EXPR_NUMBER},
    {EXPR_HEX, EXPR_ARRAY},
    {EXPR_BIT, EXPR_NUMBER},
    {EXPR_TIME, EXPR_NUMBER},
    {EXPR_P_TIME, EXPR_NUMBER},
    {EXPR_DTC, EXPR_NUMBER},
    {EXPR_DTCVAL, EXPR_ARRAY},
    {EXPR_DAC, EXPR_NUMBER},
    {EXPR_CH1, EXPR_NUMBER},
    {EXPR_CH2, EXPR_NUMBER},
    {0, 0},
}};

// A set of expression kinds as a bit mask over the kind numbers.
constexpr uint64_t kinds(std::initializer_list<uint32_t> list) {
    uint64_t mask = 0;
    for (uint32_t k : list) mask |= uint64_t{1} << k;
    return mask;
}

constexpr bool in_set(uint64_t set, uint32_t kind) { return kind < 64 && (set >> kind & 1) != 0; }

// Operands a VAR assignment may combine, and that a VAR may be compared with.
constexpr uint64_t var_operand_set =
    kinds({EXPR_NUMBER, EXPR_DATA, EXPR_VBAT, EXPR_HEX, EXPR_TIME, EXPR_DAC, EXPR_CH1, EXPR_CH2,
           EXPR_P_TIME, EXPR_VAR, EXPR_FLOAT_NUMBER, EXPR_NIL, EXPR_DAT_STATUS});
static_assert(var_operand_set == 0x47F24016);

// Operands that LCD, HLCD, HUD and LOG can show.
constexpr uint64_t display_expression_set =
    kinds({EXPR_DATA, EXPR_TEXT, EXPR_VBAT, EXPR_STRING, EXPR_HEX, EXPR_BIT, EXPR_TIME, EXPR_FLOAT,
           EXPR_DTC, EXPR_DAC, EXPR_CH1, EXPR_CH2, EXPR_P_TIME, EXPR_VAR, EXPR_UDATA, EXPR_SERNUM,
           EXPR_DAT_STATUS, EXPR_AMPS, EXPR_IGN_LINE, EXPR_VOLTS, EXPR_RTC});
static_assert(display_expression_set == 0x7E9FEC05C);

constexpr int64_t screen_rows = 8;
constexpr uint32_t max_var_index = 15;
constexpr uint32_t max_range_offset = 255;

// The word a message names a data-set type by: DID for any type but VIN.
const char* dat_type_word(uint32_t type) { return vocabulary::dat_types.word(type == DAT_VIN ? DAT_VIN : DAT_DID).data(); }

bool contains(std::string_view text, std::string_view part) { return text.find(part) != text.npos; }

bool valid_pair(uint32_t left, uint32_t right) {
    if (left == EXPR_VAR) return in_set(var_operand_set, right);
    if (right == EXPR_VAR) return in_set(var_operand_set, left);
    for (const auto& entry : VALID_TEST_EXPRESSIONS) {
        if (entry[0] == 0 && entry[1] == 0) break;
        if ((entry[0] == left && entry[1] == right) || (entry[0] == right && entry[1] == left))
            return true;
    }
    return false;
}

// The rules, one overload per shape. The checks of a statement stop at its
// first violation; the data-set order is carried from statement to statement.
class validator {
public:
    validator(const script& s, reporter& r) : script_(s), reporter_(r) {}

    void run() {
        for (const command& c : script_.commands) {
            std::visit([&](const auto& f) { check(c, f); }, c.form);
            ++index_;
        }
    }

private:
    void report(const command& c, const char* fmt, ...) __attribute__((format(printf, 3, 4))) {
        std::va_list args;
        va_start(args, fmt);
        std::string text = vformat(fmt, args);
        va_end(args);
        reporter_.report({index_, c.line, script_error(c.line, "%s", text.c_str())});
    }

    static const char* name(const command& c) { return vocabulary::keyword(c.kind).data(); }

    void check(const command&, const bare_form&) {}
    void check(const command&, const diag_form&) {}
    void check(const command&, const inhale_form&) {}
    void check(const command&, const exhale_form&) {}
    void check(const command&, const text_form&) {}
    void check(const command&, const fw_version_form&) {}
    void check(const command&, const led_form&) {}
    void check(const command&, const request_form&) {}
    void check(const command&, const read_form&) {}
    void check(const command&, const security_form&) {}
    void check(const command&, const set_value_form&) {}
    void check(const command&, const label_form&) {}
    void check(const command&, const transfer_form&) {}
    void check(const command&, const mem_form&) {}

    // The data-set commands come in the order DAT_INIT, DAT_CREATE, then
    // DAT_CHECK / DID / DAT_DELETE, all of the type of the latest DAT_INIT.
    // The order is that of the script, not of its control flow.
    void check(const command& c, const dat_form& f) {
        if (c.kind == CMD_DAT_INIT) {
            init_seen_ = true;
            init_type_ = f.type;
            return;
        }
        if (!init_seen_) return report(c, "%s must follow DAT_INIT\n", name(c));
        if (f.type != init_type_)
            return report(c, "Inconsistent %s <Type>. Expected %s got %s\n", name(c), dat_type_word(init_type_),
                          dat_type_word(f.type));
        if (c.kind != CMD_DAT_CREATE && !create_open_) return report(c, "%s must follow DAT_CREATE\n", name(c));
        if (c.kind == CMD_DAT_CREATE) create_open_ = true;
        if (c.kind == CMD_DAT_DELETE) create_open_ = false;
    }

    void check(const command& c, const did_form&) {
        if (!create_open_) report(c, "DID command must follow DAT_CREATE\n");
    }

    // Compared unsigned, so a negative delay is out of range too.
    void check(const command& c, const delay_form& f) {
        if (f.value == 0 || static_cast<uint32_t>(f.value) > 1000000000) report(c, "DELAY out of range\n");
    }

    // LCD and HLCD are 16 cells wide, HUD 32; all have 8 rows. A text may run
    // on into the following rows but not past the last cell.
    void check(const command& c, const screen_form& f) {
        const int64_t width = c.kind == CMD_HUD ? 32 : 16;
        if (!in_set(display_expression_set, f.expr.kind)) return report(c, "Illegal %s string\n", name(c));
        if (f.row < 1 || f.row > screen_rows) return report(c, "%s row out of range\n", name(c));
        if (f.column < 1 || f.column > width) return report(c, "%s column out of range\n", name(c));

        const int64_t start = (f.row - 1) * width + (f.column - 1);
        const int64_t cells = screen_rows * width;
        if (f.expr.kind == EXPR_STRING && start + f.expr.length > cells)
            return report(c, "%s string off screen\n", name(c));
        // Signed on purpose: a negative TEXT length passes.
        if (f.expr.kind == EXPR_TEXT && start + f.expr.length > cells)
            return report(c, "%s TEXT[] off screen\n", name(c));
    }

    void check(const command& c, const log_form& f) {
        if (!in_set(display_expression_set, f.expr.kind)) report(c, "Illegal LOG string\n");
    }

    // The values are not tied to the network: LIN is checked like CAN.
    void check(const command& c, const net_form& f) {
        if (f.id_bits != 8 && f.id_bits != 11 && f.id_bits != 29)
            return report(c, "NET CAN ID Bits value must be 11 or 29.\n");
        if (f.bit_rate != 125000 && f.bit_rate != 500000 && f.bit_rate != 10400)
            return report(c, "NET CAN Bit Rate value must be 125000 or 500000\n");
    }

    // The count covers every value, the MSG identifier included.
    void check(const command& c, const periodic_form& f) {
        if (f.bytes.size > 64) report(c, "Too many PERIODIC bytes\n");
    }

    void check(const command& c, const write_form& f) {
        if (f.bytes.size > 255) report(c, "Too many WRITE bytes\n");
    }

    // Only PROG: PROGNC and PROGNR name any file. A substring test, case as
    // written.
    void check(const command& c, const prog_form& f) {
        if (c.kind != CMD_PROG) return;
        const std::string_view file = script_.text(f.filename);
        if (!contains(file, ".VBF") && !contains(file, ".vbf"))
            report(c, "PROG Filename must have .VBF extension.\n");
    }

    void check(const command& c, const waitkey_form& f) {
        if (f.expr.kind < EXPR_ENTER || f.expr.kind > EXPR_ANY) report(c, "Not a valid KEYTYPE key\n");
    }

    bool var_index_ok(const command& c, int32_t var) {
        if (static_cast<uint32_t>(var) <= max_var_index) return true;
        report(c, "VAR index out of bounds\n");
        return false;
    }

    void check(const command& c, const assignment_form& f) {
        const prim_expr& lhs = f.assign.lhs;
        const prim_expr& rhs = f.assign.rhs;
        if (static_cast<uint32_t>(f.index) > max_var_index)
            return report(c, "Assignment VAR index out of bounds\n");
        if (lhs.kind == EXPR_VAR && !var_index_ok(c, lhs.var())) return;
        if (rhs.kind == EXPR_VAR && !var_index_ok(c, rhs.var())) return;
        const bool combines = lhs.kind != EXPR_NIL && rhs.kind != EXPR_NIL;
        if (!in_set(var_operand_set, rhs.kind) || (combines && (f.assign.op < OP_ADD || f.assign.op > OP_XOR)) ||
            !in_set(var_operand_set, lhs.kind))
            report(c, "Invalid arithmetic expression\n");
    }

    bool offset_ok(const command& c, const prim_expr& e, const char* what) {
        if (static_cast<uint32_t>(e.offset()) <= max_range_offset) return true;
        report(c, "Invalid %s offset\n", what);
        return false;
    }

    // Lengths are compared unsigned, so a negative length fails.
    bool length_ok(const command& c, const prim_expr& e, const char* what, int32_t lo, int32_t hi) {
        const auto length = static_cast<uint32_t>(e.length);
        if (length >= static_cast<uint32_t>(lo) && length <= static_cast<uint32_t>(hi)) return true;
        report(c, "%s length (%d) must be between %d and %d\n", what, e.length, lo, hi);
        return false;
    }

    bool operand_ok(const command& c, const prim_expr& e, const prim_expr& other, test_code op) {
        switch (e.kind) {
            case EXPR_BIT:
                if (!offset_ok(c, e, "BIT")) return false;
                // Only BIT takes a negative length.
                if (e.length < -32 || e.length > 32) {
                    report(c, "%s length (%d) must be between %d and %d\n", "BIT", e.length, -32, 32);
                    return false;
                }
                if (e.length == 0) {
                    report(c, "BIT length must not be zero\n");
                    return false;
                }
                return true;
            case EXPR_HEX:
                if (!offset_ok(c, e, "HEX") || !length_ok(c, e, "HEX", 1, 16)) return false;
                if (other.kind == EXPR_ARRAY && e.length != other.length) {
                    report(c, "HEX length (%d) must match the array length (%d)\n", e.length, other.length);
                    return false;
                }
                if (op != TEST_EQ && op != TEST_NE) {
                    report(c, "Invalid HEX comparison operation\n");
                    return false;
                }
                return true;
            case EXPR_DATA: return offset_ok(c, e, "DATA") && length_ok(c, e, "DATA", 1, 4);
            case EXPR_UDATA: return offset_ok(c, e, "UDATA") && length_ok(c, e, "UDATA", 1, 4);
            // An array has no range offset to check: its `value` is where
            // its elements are kept.
            case EXPR_ARRAY: return length_ok(c, e, "ARRAY", 1, 255);
            case EXPR_VAR: return var_index_ok(c, e.var());
            default: return true;
        }
    }

    // Each operand by itself, left then right; then the pair.
    void check(const command& c, const condition_form& f) {
        const test_expr& t = f.test;
        if (!operand_ok(c, t.lhs, t.rhs, t.op) || !operand_ok(c, t.rhs, t.lhs, t.op)) return;
        if (!valid_pair(t.lhs.kind, t.rhs.kind)) report(c, "Invalid test expression\n");
    }

    const script& script_;
    reporter& reporter_;
    size_t index_ = 0;
    bool init_seen_ = false;
    uint32_t init_type_ = 0;
    bool create_open_ = false;
};

}  // namespace

void validate_script(const script& s) {
    stop_at_first r;
    validate_script(s, r);
}

void validate_script(const script& s, reporter& r) { validator(s, r).run(); }

bool is_var_operand(uint32_t kind) { return in_set(var_operand_set, kind); }

}  // namespace vendrak
