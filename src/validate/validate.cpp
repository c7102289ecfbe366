#include "validate/validate.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "common/fatal.h"

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

constexpr uint32_t screen_rows = 8;
constexpr uint32_t max_var_index = 15;
constexpr uint32_t max_range_offset = 255;

// Texts are NUL-terminated in the device's view; a length counts up to the
// first NUL.
std::string_view c_text(const std::string& s) { return std::string_view(s.c_str()); }

// Validation state carried from command to command: the data-set commands
// must come in the order DAT_INIT, DAT_CREATE, then DAT_CHECK / DID / DAT_DELETE.
struct dat_state {
    bool init_seen = false;
    uint32_t init_type = 0;
    bool create_open = false;
};

const char* dat_type_word(uint32_t type) { return type == DAT_VIN ? "VIN" : "DID"; }

void check_dat(const command& cmd, const char* name, dat_state& st) {
    if (!st.init_seen) fail(out_stream::err, "[%d] Error: %s must follow DAT_INIT\n", cmd.line, name);
    if (cmd.type != st.init_type)
        fail(out_stream::err, "[%d] Error: Inconsistent %s <Type>. Expected %s got %s\n", cmd.line,
             name, dat_type_word(st.init_type), dat_type_word(cmd.type));
    if (cmd.kind != CMD_DAT_CREATE && !st.create_open)
        fail(out_stream::err, "[%d] Error: %s must follow DAT_CREATE\n", cmd.line, name);
    if (cmd.kind == CMD_DAT_CREATE) st.create_open = true;
    if (cmd.kind == CMD_DAT_DELETE) st.create_open = false;
}

// LCD and HLCD are 16 cells wide, HUD 32; all have 8 rows. A text may run on
// into the following rows but not past the last cell.
void check_screen(const command& cmd, const char* name, int64_t width) {
    if (!in_set(display_expression_set, cmd.expr.kind))
        fail(out_stream::err, "[%d] Error: Illegal %s string\n", cmd.line, name);
    if (cmd.row < 1 || cmd.row > static_cast<int32_t>(screen_rows))
        fail(out_stream::err, "[%d] Error: %s row out of range\n", cmd.line, name);
    if (cmd.column < 1 || cmd.column > width)
        fail(out_stream::err, "[%d] Error: %s column out of range\n", cmd.line, name);

    const int64_t start = (cmd.row - 1) * width + (cmd.column - 1);
    const int64_t cells = screen_rows * width;
    if (cmd.expr.kind == EXPR_STRING &&
        start + static_cast<int64_t>(c_text(cmd.expr.str).size()) > cells)
        fail(out_stream::err, "[%d] Error: %s string off screen\n", cmd.line, name);
    // Signed on purpose: a negative TEXT length passes.
    if (cmd.expr.kind == EXPR_TEXT && start + cmd.expr.length > cells)
        fail(out_stream::err, "[%d] Error: %s TEXT[] off screen\n", cmd.line, name);
}

void check_var_index(int32_t var, uint32_t line) {
    if (static_cast<uint32_t>(var) > max_var_index)
        fail(out_stream::err, "[%d] Error: VAR index out of bounds\n", line);
}

void check_assignment(const command& cmd) {
    const prim_expr& lhs = cmd.assign.lhs;
    const prim_expr& rhs = cmd.assign.rhs;
    if (static_cast<uint32_t>(cmd.index) > max_var_index)
        fail(out_stream::err, "[%d] Error: Assignment VAR index out of bounds\n", cmd.line);
    if (lhs.kind == EXPR_VAR) check_var_index(lhs.var, cmd.line);
    if (rhs.kind == EXPR_VAR) check_var_index(rhs.var, cmd.line);
    const bool combines = lhs.kind != EXPR_NIL && rhs.kind != EXPR_NIL;
    if (!in_set(var_operand_set, rhs.kind) || (combines && (cmd.assign.op < OP_ADD || cmd.assign.op > OP_XOR)) ||
        !in_set(var_operand_set, lhs.kind))
        fail(out_stream::err, "[%d] Error: Invalid arithmetic expression\n", cmd.line);
}

void check_offset(const prim_expr& e, const char* name, uint32_t line) {
    if (static_cast<uint32_t>(e.offset) > max_range_offset)
        fail(out_stream::err, "[%d] Error: Invalid %s offset\n", line, name);
}

// Lengths are compared unsigned, so a negative length fails.
void check_length(const prim_expr& e, const char* name, int32_t lo, int32_t hi, uint32_t line) {
    const uint32_t len = static_cast<uint32_t>(e.length);
    if (len < static_cast<uint32_t>(lo) || len > static_cast<uint32_t>(hi))
        fail(out_stream::err, "[%d] Error: %s length (%d) must be between %d and %d\n", line, name,
             e.length, lo, hi);
}

void check_operand(const prim_expr& e, const prim_expr& other, uint32_t op, uint32_t line) {
    switch (e.kind) {
        case EXPR_BIT:
            check_offset(e, "BIT", line);
            // Only BIT takes a negative length.
            if (e.length < -32 || e.length > 32)
                fail(out_stream::err, "[%d] Error: %s length (%d) must be between %d and %d\n", line,
                     "BIT", e.length, -32, 32);
            if (e.length == 0) fail(out_stream::err, "[%d] Error: BIT length must not be zero\n", line);
            break;
        case EXPR_HEX:
            check_offset(e, "HEX", line);
            check_length(e, "HEX", 1, 16, line);
            if (other.kind == EXPR_ARRAY && e.length != other.length)
                fail(out_stream::err, "[%d] Error: HEX length (%d) must match the array length (%d)\n",
                     line, e.length, other.length);
            if (op != TEST_EQ && op != TEST_NE)
                fail(out_stream::err, "[%d] Error: Invalid HEX comparison operation\n", line);
            break;
        case EXPR_DATA:
            check_offset(e, "DATA", line);
            check_length(e, "DATA", 1, 4, line);
            break;
        case EXPR_UDATA:
            check_offset(e, "UDATA", line);
            check_length(e, "UDATA", 1, 4, line);
            break;
        case EXPR_ARRAY:
            check_offset(e, "ARRAY", line);
            check_length(e, "ARRAY", 1, 255, line);
            break;
        case EXPR_VAR:
            check_var_index(e.var, line);
            break;
        default:
            break;
    }
}

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

bool contains(std::string_view text, std::string_view part) { return text.find(part) != text.npos; }

}  // namespace

void validate_test_expr(const test_expr& test, uint32_t line) {
    check_operand(test.lhs, test.rhs, test.op, line);
    check_operand(test.rhs, test.lhs, test.op, line);
    if (!valid_pair(test.lhs.kind, test.rhs.kind))
        fail(out_stream::err, "[%d] Error: Invalid test expression\n", line);
}

void validate_script(const script& s) {
    dat_state dat;
    for (const command& cmd : s.commands) {
        switch (cmd.kind) {
            case CMD_DAT_INIT:
                dat.init_seen = true;
                dat.init_type = cmd.type;
                break;
            case CMD_DAT_CREATE:
                check_dat(cmd, "DAT_CREATE", dat);
                break;
            case CMD_DAT_CHECK:
                check_dat(cmd, "DAT_CHECK", dat);
                break;
            case CMD_DAT_DELETE:
                check_dat(cmd, "DAT_DELETE", dat);
                break;
            case CMD_DID:
                if (!dat.create_open)
                    fail(out_stream::err, "[%d] Error: DID command must follow DAT_CREATE\n", cmd.line);
                break;
            case CMD_DELAY:
                if (cmd.value == 0 || static_cast<uint32_t>(cmd.value) > 1000000000)
                    fail(out_stream::err, "[%d] Error: DELAY out of range\n", cmd.line);
                break;
            case CMD_LCD:
                check_screen(cmd, "LCD", 16);
                break;
            case CMD_HLCD:
                check_screen(cmd, "HLCD", 16);
                break;
            case CMD_HUD:
                check_screen(cmd, "HUD", 32);
                break;
            case CMD_IF:
            case CMD_WHILE:
                validate_test_expr(cmd.test, cmd.line);
                break;
            case CMD_LOG:
                if (!in_set(display_expression_set, cmd.expr.kind))
                    fail(out_stream::err, "[%d] Error: Illegal LOG string\n", cmd.line);
                break;
            case CMD_NET:
                // The values are not tied to the network: LIN is checked like CAN.
                if (cmd.id_bits != 8 && cmd.id_bits != 11 && cmd.id_bits != 29)
                    fail(out_stream::err, "[%d] Error: NET CAN ID Bits value must be 11 or 29.\n", cmd.line);
                if (cmd.bit_rate != 125000 && cmd.bit_rate != 500000 && cmd.bit_rate != 10400)
                    fail(out_stream::err, "[%d] Error: NET CAN Bit Rate value must be 125000 or 500000\n",
                         cmd.line);
                break;
            case CMD_PERIODIC:
                if (cmd.count > 64) fail(out_stream::err, "[%d] Error: Too many PERIODIC bytes\n", cmd.line);
                break;
            case CMD_PROG: {
                const std::string_view name = c_text(cmd.filename);
                if (!contains(name, ".VBF") && !contains(name, ".vbf"))
                    fail(out_stream::err, "[%d] Error: PROG Filename must have .VBF extension.\n", cmd.line);
                break;
            }
            case CMD_WAITKEY:
                if (cmd.expr.kind < EXPR_ENTER || cmd.expr.kind > EXPR_ANY)
                    fail(out_stream::err, "[%d] Error: Not a valid KEYTYPE key\n", cmd.line);
                break;
            case CMD_WRITE:
                if (cmd.count > 255) fail(out_stream::err, "[%d] Error: Too many WRITE bytes\n", cmd.line);
                break;
            case CMD_VAR:
                check_assignment(cmd);
                break;
            default:
                break;
        }
    }
}

}  // namespace vendrak
