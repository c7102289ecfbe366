#include "validate/validate.h"

#include "records.h"

namespace vendrak {
namespace {

using namespace records;
using vendrak_test::times;

command cond(prim_expr l, test_code op, prim_expr r) { return make(CMD_IF, condition_form{{l, r, op}}); }
command assign(prim_expr l, arith_code op = OP_NONE, prim_expr r = ex(EXPR_NIL)) {
    return make(CMD_VAR, assignment_form{0, {l, r, op}});
}

// The first violation's message, or "" when the script passes.
std::string verdict(const script& s) {
    return error_of([&] { validate_script(s); });
}

std::string check_text(const std::string& text) { return verdict(parse_script_text(text)); }

// One record built by hand, on line 1: the sweeps over every kind, and forms
// the parser never makes.
std::string check(const command& c) {
    script s;
    s.commands.push_back(c);
    return verdict(s);
}

TEST(Validate, EveryRuleAndMessage) {
    const struct {
        std::string script;
        std::string message;
    } rows[] = {
        // Data-set order; the rules follow script order, not control flow.
        {"DAT_CREATE DID 5", "[1] Error: DAT_CREATE must follow DAT_INIT\n"},
        {"DAT_INIT VIN\nDAT_CREATE DID 5", "[2] Error: Inconsistent DAT_CREATE <Type>. Expected VIN got DID\n"},
        {"DAT_INIT DID 1\nDAT_CREATE DID 2\nDAT_CHECK VIN", "[3] Error: Inconsistent DAT_CHECK <Type>. Expected DID got VIN\n"},
        {"DAT_INIT VIN\nDAT_CREATE VIN\nDAT_DELETE VIN\nDAT_CHECK VIN", "[4] Error: DAT_CHECK must follow DAT_CREATE\n"},
        {"DAT_INIT VIN\nDAT_DELETE VIN", "[2] Error: DAT_DELETE must follow DAT_CREATE\n"},
        {"DAT_INIT VIN\nDAT_CREATE VIN\nDAT_DELETE VIN\nDID SAVE 1", "[4] Error: DID command must follow DAT_CREATE\n"},
        {"\nDID SAVE 1", "[2] Error: DID command must follow DAT_CREATE\n"},
        {"DAT_INIT VIN DAT_INIT DID 1 IF 1 = 2 DAT_CREATE DID 2 ENDIF DAT_CHECK DID 3 DID SAVE 1 DAT_DELETE DID 2", ""},
        // DELAY, compared unsigned.
        {"DELAY 0", "[1] Error: DELAY out of range\n"}, {"DELAY 1 DELAY 1000000000", ""},
        {"DELAY 1000000001", "[1] Error: DELAY out of range\n"}, {"DELAY -1", "[1] Error: DELAY out of range\n"},
        // Screen geometry: text may run on into later rows, not past the last cell.
        {"LCD 8 1 \"0123456789abcdef\"\nLCD 1 1 \"0123456789abcdefg\"", ""},
        {"LCD 8 2 \"0123456789abcdef\"", "[1] Error: LCD string off screen\n"}, {"HUD 1 32 VBAT HLCD 8 16 RTC", ""},
        {"LCD 1 17 VBAT", "[1] Error: LCD column out of range\n"},
        {"HUD 1 33 VBAT", "[1] Error: HUD column out of range\n"},
        {"HLCD 1 0 VBAT", "[1] Error: HLCD column out of range\n"},
        {"HLCD 0 1 VBAT", "[1] Error: HLCD row out of range\n"}, {"HUD 9 1 VBAT", "[1] Error: HUD row out of range\n"},
        {"LCD 0 1 5", "[1] Error: Illegal LCD string\n"}, {"HUD 8 1 TEXT[0,32] LCD 8 16 TEXT[0,-100]", ""},
        {"HUD 8 1 TEXT[0,33]", "[1] Error: HUD TEXT[] off screen\n"},
        {"LOG ADD KEY", "[1] Error: Illegal LOG string\n"},
        // NET values are not tied to the network.
        {"NET LIN 8 10400 NET CAN_HS 11 125000 NET CAN_FD_MS 29 500000", ""},
        {"NET CAN_HS 12 500000", "[1] Error: NET CAN ID Bits value must be 11 or 29.\n"},
        {"NET LIN 11 250000", "[1] Error: NET CAN Bit Rate value must be 125000 or 500000\n"},
        {"PERIODIC MSG 10" + times(" 1", 64) + " WRITE SID" + times(" 1", 255), ""},
        {"PERIODIC SID 10" + times(" 1", 65), "[1] Error: Too many PERIODIC bytes\n"},
        {"WRITE MSG" + times(" 1", 256), "[1] Error: Too many WRITE bytes\n"},
        {"PROG \"image.vbf.bak\" PROG \"A.VBF\" PROGNC \"image.bin\"", ""},
        {"PROG \"image.Vbf\"", "[1] Error: PROG Filename must have .VBF extension.\n"},
        {"WAITKEY ENTER WAITKEY ANY", ""}, {"WAITKEY KEY", "[1] Error: Not a valid KEYTYPE key\n"},
        // VAR assignments, rule by rule; an operator is judged only between two operands.
        {"VAR[15] = VAR[1] VAR[0] = NIL = 1 VAR[2] = 1 ^ VAR[15]", ""},
        {"VAR[16] = 1", "[1] Error: Assignment VAR index out of bounds\n"},
        {"VAR[-1] = 1", "[1] Error: Assignment VAR index out of bounds\n"},
        {"VAR[0] = VAR[16] + \"x\"", "[1] Error: VAR index out of bounds\n"},
        {"VAR[0] = 1 + VAR[16]", "[1] Error: VAR index out of bounds\n"},
        {"VAR[0] = 1 = 2", "[1] Error: Invalid arithmetic expression\n"},
        {"VAR[0] = \"x\" + VAR[1]", "[1] Error: Invalid arithmetic expression\n"},
        // Conditions: each operand (left first), then the pair; pairs are swept below.
        {"WHILE ENTER < KEY IF VAR[2] & VBAT", ""}, {"WHILE VAR[2] > \"x\"", "[1] Error: Invalid test expression\n"},
        {"IF VAR[16] = 1", "[1] Error: VAR index out of bounds\n"},
        {"IF HEX[0,4] = {1,2,3}", "[1] Error: HEX length (4) must match the array length (3)\n"},
        {"IF {1,2,3} < HEX[0,3]", "[1] Error: Invalid HEX comparison operation\n"},
        {"IF HEX[255,16] ! {" + times(" 1", 16) + "}", ""}, {"IF HEX[256,1] = {1}", "[1] Error: Invalid HEX offset\n"},
        {"IF HEX[0,17] = {1}", "[1] Error: HEX length (17) must be between 1 and 16\n"},
        {"IF BIT[0,-32] = 1 IF BIT[255,32] & 1", ""},
        {"IF BIT[0,33] = 1", "[1] Error: BIT length (33) must be between -32 and 32\n"},
        {"IF BIT[0,-33] = 1", "[1] Error: BIT length (-33) must be between -32 and 32\n"},
        {"IF BIT[0,0] = \"x\"", "[1] Error: BIT length must not be zero\n"},
        {"IF BIT[-1,1] = 1", "[1] Error: Invalid BIT offset\n"},
        {"IF DATA[0,5] = VAR[16]", "[1] Error: DATA length (5) must be between 1 and 4\n"},
        {"IF 1 = DATA[0,-1]", "[1] Error: DATA length (-1) must be between 1 and 4\n"},
        {"IF UDATA[256,4] = 1", "[1] Error: Invalid UDATA offset\n"},
        {"IF UDATA[0,0] = 1", "[1] Error: UDATA length (0) must be between 1 and 4\n"},
        {"IF DTCVAL = {}", "[1] Error: ARRAY length (0) must be between 1 and 255\n"},
        {"IF DTCVAL = {" + times(" 1", 256) + "}", "[1] Error: ARRAY length (256) must be between 1 and 255\n"},
    };
    for (const auto& r : rows) EXPECT_EQ(check_text(r.script), r.message) << r.script;
}

// Kinds whose own operand checks pass with offset 0, length 1.
prim_expr sample(uint32_t kind) {
    return kind == EXPR_VAR ? prim_expr::var_of(0) : ex(static_cast<expr_kind>(kind), 0, 1);
}

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
            EXPECT_EQ(check(cond(sample(a), TEST_EQ, sample(b))), ok ? "" : "[1] Error: Invalid test expression\n")
                << a << " vs " << b;
        }
}

TEST(Validate, OperandSets) {
    const uint64_t var_operand_set = 0x47F24016, display_set = 0x7E9FEC05C;
    for (uint32_t k = 0; k <= EXPR_RTC; ++k) {
        const bool in_var = (var_operand_set >> k & 1) != 0, in_display = (display_set >> k & 1) != 0;
        const char* invalid = "[1] Error: Invalid arithmetic expression\n";
        EXPECT_EQ(check(assign(sample(k))), in_var ? "" : invalid) << k;
        EXPECT_EQ(check(assign(prim_expr::number_of(1), OP_ADD, sample(k))), in_var ? "" : invalid) << k;
        EXPECT_EQ(check(make(CMD_LOG, log_form{LOG_ADD, 0, sample(k), 0, 0})),
                  in_display ? "" : "[1] Error: Illegal LOG string\n")
            << k;
        EXPECT_EQ(check(make(CMD_HLCD, screen_form{1, 1, sample(k), 0, 0, 0})),
                  in_display ? "" : "[1] Error: Illegal HLCD string\n")
            << k;
    }
    EXPECT_EQ(check(assign(prim_expr::number_of(1), OP_NONE, prim_expr::number_of(2))),
              "[1] Error: Invalid arithmetic expression\n");
}

// A checker gets the first violation of every statement.
TEST(Validate, CollectsTheFirstErrorOfEachStatement) {
    const script s = parse_script_text(
        "DELAY 0\nLCD 0 17 VBAT\nDELAY 5\nDID SAVE 1\nIF VAR[16] = \"x\"\nDAT_INIT VIN\nDAT_CHECK DID 1\n"
        // An operand that fails ends its condition: the pair is not judged.
        "IF DATA[0,5] = \"x\"\nIF BIT[-1,1] = \"x\"\nIF BIT[0,0] = \"x\"\nIF HEX[256,1] = \"x\"\nIF HEX[0,2] = {}\n"
        "IF HEX[0,1] < \"x\"");
    collect_all found;
    validate_script(s, found);
    std::vector<std::pair<size_t, std::string>> got;
    for (const diagnostic& d : found.found) got.emplace_back(d.statement, d.message);
    EXPECT_EQ(got, (std::vector<std::pair<size_t, std::string>>{
                       {0, "[1] Error: DELAY out of range\n"},
                       {1, "[2] Error: LCD row out of range\n"},
                       {3, "[4] Error: DID command must follow DAT_CREATE\n"},
                       {4, "[5] Error: VAR index out of bounds\n"},
                       {6, "[7] Error: Inconsistent DAT_CHECK <Type>. Expected VIN got DID\n"},
                       {7, "[8] Error: DATA length (5) must be between 1 and 4\n"},
                       {8, "[9] Error: Invalid BIT offset\n"},
                       {9, "[10] Error: BIT length must not be zero\n"},
                       {10, "[11] Error: Invalid HEX offset\n"},
                       {11, "[12] Error: HEX length (2) must match the array length (0)\n"},
                       {12, "[13] Error: Invalid HEX comparison operation\n"},
                   }));
}

}  // namespace
}  // namespace vendrak
