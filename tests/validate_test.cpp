#include "validate/validate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/fatal.h"

namespace vendrak {
namespace {

prim_expr ex(uint32_t kind, int32_t offset = 0, int32_t length = 0) {
    prim_expr e;
    e.kind = kind;
    e.offset = offset;
    e.length = length;
    return e;
}
prim_expr num(int32_t n) { prim_expr e = ex(EXPR_NUMBER); e.number = n; return e; }
prim_expr var(int32_t v) { prim_expr e = ex(EXPR_VAR); e.var = v; return e; }
prim_expr str(std::string s) { prim_expr e = ex(EXPR_STRING); e.str = std::move(s); return e; }
prim_expr arr(int32_t n) { prim_expr e = ex(EXPR_ARRAY, 0, n); e.array.assign(n, 1); return e; }

command cmd(uint32_t kind) { command c; c.kind = kind; return c; }
command dat(uint32_t kind, uint32_t type) { command c = cmd(kind); c.type = type; return c; }
command delay(int32_t v) { command c = cmd(CMD_DELAY); c.value = v; return c; }
command screen(uint32_t kind, int32_t row, int32_t column, prim_expr e) {
    command c = cmd(kind); c.row = row; c.column = column; c.expr = std::move(e); return c;
}
command with_expr(uint32_t kind, prim_expr e) { command c = cmd(kind); c.expr = std::move(e); return c; }
command cond(prim_expr l, uint32_t op, prim_expr r, uint32_t kind = CMD_IF) {
    command c = cmd(kind); c.test = {std::move(l), std::move(r), op}; return c;
}
command assign(int32_t index, prim_expr l, uint32_t op = OP_NONE, prim_expr r = ex(EXPR_NIL)) {
    command c = cmd(CMD_VAR); c.index = index; c.assign = {std::move(l), std::move(r), op}; return c;
}
command net(int32_t bits, int32_t rate) { command c = cmd(CMD_NET); c.id_bits = bits; c.bit_rate = rate; return c; }
command list(uint32_t kind, int32_t n) { command c = cmd(kind); c.count = n; c.bytes.assign(n, 0); return c; }
command prog(uint32_t kind, std::string name) { command c = cmd(kind); c.filename = std::move(name); return c; }

// Validates the commands, numbered as lines 1, 2, ...; returns the message
// of the first violation, or "" when the script passes.
std::string check(std::vector<command> cmds) {
    script s;
    for (size_t i = 0; i < cmds.size(); ++i) cmds[i].line = static_cast<uint32_t>(i + 1);
    s.commands = std::move(cmds);
    try {
        validate_script(s);
    } catch (const fatal_error& e) {
        EXPECT_EQ(e.where(), out_stream::err);
        return e.message();
    }
    return "";
}

struct row {
    std::vector<command> script;
    std::string message;
};

TEST(Validate, EveryRuleAndMessage) {
    const std::string s16(16, 'x'), s17(17, 'x');
    const row rows[] = {
        // Data-set order; the rules follow script order, not control flow.
        {{dat(CMD_DAT_CREATE, DAT_DID)}, "[1] Error: DAT_CREATE must follow DAT_INIT\n"},
        {{dat(CMD_DAT_INIT, DAT_VIN), dat(CMD_DAT_CREATE, DAT_DID)},
         "[2] Error: Inconsistent DAT_CREATE <Type>. Expected VIN got DID\n"},
        {{dat(CMD_DAT_INIT, DAT_DID), dat(CMD_DAT_CREATE, DAT_DID), dat(CMD_DAT_CHECK, DAT_VIN)},
         "[3] Error: Inconsistent DAT_CHECK <Type>. Expected DID got VIN\n"},
        {{dat(CMD_DAT_INIT, DAT_VIN), dat(CMD_DAT_CREATE, DAT_VIN), dat(CMD_DAT_DELETE, DAT_VIN),
          dat(CMD_DAT_CHECK, DAT_VIN)},
         "[4] Error: DAT_CHECK must follow DAT_CREATE\n"},
        {{dat(CMD_DAT_INIT, DAT_VIN), dat(CMD_DAT_DELETE, DAT_VIN)}, "[2] Error: DAT_DELETE must follow DAT_CREATE\n"},
        {{dat(CMD_DAT_INIT, DAT_VIN), dat(CMD_DAT_CREATE, DAT_VIN), dat(CMD_DAT_DELETE, DAT_VIN), cmd(CMD_DID)},
         "[4] Error: DID command must follow DAT_CREATE\n"},
        {{cmd(CMD_DID)}, "[1] Error: DID command must follow DAT_CREATE\n"},
        {{dat(CMD_DAT_INIT, DAT_VIN), dat(CMD_DAT_INIT, DAT_DID), cond(num(1), TEST_EQ, num(2)),
          dat(CMD_DAT_CREATE, DAT_DID), cmd(CMD_ENDIF), dat(CMD_DAT_CHECK, DAT_DID), cmd(CMD_DID),
          dat(CMD_DAT_DELETE, DAT_DID)},
         ""},
        // DELAY, compared unsigned.
        {{delay(0)}, "[1] Error: DELAY out of range\n"},
        {{delay(1), delay(1000000000)}, ""},
        {{delay(1000000001)}, "[1] Error: DELAY out of range\n"},
        {{delay(-1)}, "[1] Error: DELAY out of range\n"},
        // Screen geometry: text may run on into later rows, not past the last cell.
        {{screen(CMD_LCD, 8, 1, str(s16)), screen(CMD_LCD, 1, 1, str(s17))}, ""},
        {{screen(CMD_LCD, 8, 2, str(s16))}, "[1] Error: LCD string off screen\n"},
        {{screen(CMD_HUD, 1, 32, ex(EXPR_VBAT)), screen(CMD_HLCD, 8, 16, ex(EXPR_RTC))}, ""},
        {{screen(CMD_LCD, 1, 17, ex(EXPR_VBAT))}, "[1] Error: LCD column out of range\n"},
        {{screen(CMD_HUD, 1, 33, ex(EXPR_VBAT))}, "[1] Error: HUD column out of range\n"},
        {{screen(CMD_HLCD, 1, 0, ex(EXPR_VBAT))}, "[1] Error: HLCD column out of range\n"},
        {{screen(CMD_HLCD, 0, 1, ex(EXPR_VBAT))}, "[1] Error: HLCD row out of range\n"},
        {{screen(CMD_HUD, 9, 1, ex(EXPR_VBAT))}, "[1] Error: HUD row out of range\n"},
        {{screen(CMD_LCD, 0, 1, num(1))}, "[1] Error: Illegal LCD string\n"},
        {{screen(CMD_HUD, 8, 1, ex(EXPR_TEXT, 0, 32)), screen(CMD_LCD, 8, 16, ex(EXPR_TEXT, 0, -100))}, ""},
        {{screen(CMD_HUD, 8, 1, ex(EXPR_TEXT, 0, 33))}, "[1] Error: HUD TEXT[] off screen\n"},
        {{with_expr(CMD_LOG, ex(EXPR_KEY))}, "[1] Error: Illegal LOG string\n"},
        // NET values are not tied to the network.
        {{net(8, 10400), net(11, 125000), net(29, 500000)}, ""},
        {{net(12, 500000)}, "[1] Error: NET CAN ID Bits value must be 11 or 29.\n"},
        {{net(11, 250000)}, "[1] Error: NET CAN Bit Rate value must be 125000 or 500000\n"},
        {{list(CMD_PERIODIC, 64), list(CMD_WRITE, 255)}, ""},
        {{list(CMD_PERIODIC, 65)}, "[1] Error: Too many PERIODIC bytes\n"},
        {{list(CMD_WRITE, 256)}, "[1] Error: Too many WRITE bytes\n"},
        {{prog(CMD_PROG, "image.vbf.bak"), prog(CMD_PROG, "A.VBF"), prog(CMD_PROGNC, "image.bin")}, ""},
        {{prog(CMD_PROG, "image.Vbf")}, "[1] Error: PROG Filename must have .VBF extension.\n"},
        {{with_expr(CMD_WAITKEY, ex(EXPR_ENTER)), with_expr(CMD_WAITKEY, ex(EXPR_ANY))}, ""},
        {{with_expr(CMD_WAITKEY, ex(EXPR_KEY))}, "[1] Error: Not a valid KEYTYPE key\n"},
        // VAR assignments, rule by rule.
        {{assign(15, var(1)), assign(0, ex(EXPR_NIL), OP_NONE, num(1)), assign(2, num(1), OP_XOR, var(15))}, ""},
        {{assign(16, num(1))}, "[1] Error: Assignment VAR index out of bounds\n"},
        {{assign(-1, num(1))}, "[1] Error: Assignment VAR index out of bounds\n"},
        {{assign(0, var(16), OP_ADD, str("x"))}, "[1] Error: VAR index out of bounds\n"},
        {{assign(0, num(1), OP_ADD, var(16))}, "[1] Error: VAR index out of bounds\n"},
        {{assign(0, num(1), OP_EQUAL, num(2))}, "[1] Error: Invalid arithmetic expression\n"},
        {{assign(0, num(1), OP_NONE, num(2))}, "[1] Error: Invalid arithmetic expression\n"},
        // Conditions: each operand (left first), then the pair.
        // Pairs are judged by the sweep below; here WHILE and the other operators.
        {{cond(ex(EXPR_ENTER), TEST_LT, ex(EXPR_KEY), CMD_WHILE), cond(var(2), TEST_AND, ex(EXPR_VBAT))}, ""},
        {{cond(var(2), TEST_GT, str("x"), CMD_WHILE)}, "[1] Error: Invalid test expression\n"},
        {{cond(var(16), TEST_EQ, num(1))}, "[1] Error: VAR index out of bounds\n"},
        {{cond(ex(EXPR_HEX, 0, 4), TEST_EQ, arr(3))}, "[1] Error: HEX length (4) must match the array length (3)\n"},
        {{cond(arr(3), TEST_LT, ex(EXPR_HEX, 0, 3))}, "[1] Error: Invalid HEX comparison operation\n"},
        {{cond(ex(EXPR_HEX, 255, 16), TEST_NE, arr(16))}, ""},
        {{cond(ex(EXPR_HEX, 256, 1), TEST_EQ, arr(1))}, "[1] Error: Invalid HEX offset\n"},
        {{cond(ex(EXPR_HEX, 0, 17), TEST_EQ, arr(17))}, "[1] Error: HEX length (17) must be between 1 and 16\n"},
        {{cond(ex(EXPR_BIT, 0, -32), TEST_EQ, num(1)), cond(ex(EXPR_BIT, 0, 32), TEST_AND, num(1))}, ""},
        {{cond(ex(EXPR_BIT, 0, 33), TEST_EQ, num(1))}, "[1] Error: BIT length (33) must be between -32 and 32\n"},
        {{cond(ex(EXPR_BIT, 0, -33), TEST_EQ, num(1))}, "[1] Error: BIT length (-33) must be between -32 and 32\n"},
        {{cond(ex(EXPR_BIT, 0, 0), TEST_EQ, str("x"))}, "[1] Error: BIT length must not be zero\n"},
        {{cond(ex(EXPR_BIT, -1, 1), TEST_EQ, num(1))}, "[1] Error: Invalid BIT offset\n"},
        {{cond(ex(EXPR_DATA, 0, 5), TEST_EQ, var(16))}, "[1] Error: DATA length (5) must be between 1 and 4\n"},
        {{cond(num(1), TEST_EQ, ex(EXPR_DATA, 0, -1))}, "[1] Error: DATA length (-1) must be between 1 and 4\n"},
        {{cond(ex(EXPR_UDATA, 256, 4), TEST_EQ, num(1))}, "[1] Error: Invalid UDATA offset\n"},
        {{cond(ex(EXPR_UDATA, 0, 0), TEST_EQ, num(1))}, "[1] Error: UDATA length (0) must be between 1 and 4\n"},
        {{cond(ex(EXPR_DTCVAL), TEST_EQ, arr(0))}, "[1] Error: ARRAY length (0) must be between 1 and 255\n"},
        {{cond(ex(EXPR_DTCVAL), TEST_EQ, arr(256))}, "[1] Error: ARRAY length (256) must be between 1 and 255\n"},
        {{cond(ex(EXPR_DTCVAL), TEST_EQ, ex(EXPR_ARRAY, 256, 1))}, "[1] Error: Invalid ARRAY offset\n"},
    };
    for (const row& r : rows) EXPECT_EQ(check(r.script), r.message) << "expected: " << r.message;
}

// Kinds whose own operand checks pass with offset 0, length 1.
prim_expr sample(uint32_t kind) { return kind == EXPR_ARRAY ? arr(1) : kind == EXPR_VAR ? var(0) : ex(kind, 0, 1); }

TEST(Validate, ComparablePairs) {
    // The pairs a condition accepts, in either order; VAR pairs go by the VAR operand set.
    const std::pair<uint32_t, uint32_t> allowed[] = {
        {5, 7}, {5, 8}, {5, 9}, {5, 10}, {5, 11}, {5, 12}, {5, 13}, {30, 1}, {4, 1}, {29, 6}, {3, 6}, {1, 1},
        {2, 1}, {27, 1}, {18, 1}, {14, 16}, {15, 1}, {17, 1}, {23, 1}, {19, 1}, {28, 16}, {20, 1}, {21, 1}, {22, 1}};
    const uint64_t var_operand_set = 0x47F24016;
    for (uint32_t a = 0; a <= EXPR_RTC; ++a)
        for (uint32_t b = 0; b <= EXPR_RTC; ++b) {
            bool ok = false;
            for (auto [x, y] : allowed) ok = ok || (a == x && b == y) || (a == y && b == x);
            if (a == EXPR_VAR) ok = (var_operand_set >> b & 1) != 0;
            if (b == EXPR_VAR) ok = (var_operand_set >> a & 1) != 0;
            EXPECT_EQ(check({cond(sample(a), TEST_EQ, sample(b))}), ok ? "" : "[1] Error: Invalid test expression\n")
                << a << " vs " << b;
        }
}

TEST(Validate, OperandSets) {
    const uint64_t var_operand_set = 0x47F24016, display_set = 0x7E9FEC05C;
    for (uint32_t k = 0; k <= EXPR_RTC; ++k) {
        const bool in_var = (var_operand_set >> k & 1) != 0, in_display = (display_set >> k & 1) != 0;
        const char* invalid = "[1] Error: Invalid arithmetic expression\n";
        EXPECT_EQ(check({assign(0, sample(k))}), in_var ? "" : invalid) << k;
        EXPECT_EQ(check({assign(0, num(1), OP_ADD, sample(k))}), in_var ? "" : invalid) << k;
        EXPECT_EQ(check({with_expr(CMD_LOG, sample(k))}), in_display ? "" : "[1] Error: Illegal LOG string\n") << k;
        EXPECT_EQ(check({screen(CMD_HLCD, 1, 1, sample(k))}), in_display ? "" : "[1] Error: Illegal HLCD string\n")
            << k;
    }
}

}  // namespace
}  // namespace vendrak
