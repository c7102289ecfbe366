// Parser tests for expressions and statements. What each statement form
// encodes and lists is in compile_statements_test.cpp; here are the
// operands, the choice words, the parse errors and where statements begin.
#include "parser_test.h"

#include <cctype>
#include <functional>

#include "parser/vocabulary.h"

namespace vendrak::testing {
namespace {

using namespace std::string_literals;
using records::ex;

// ---- expressions ----

TEST(ParserExpressions, Operands) {
    const struct {
        const char* src;
        prim_expr expected;
        std::string text = {};             // in the text pool
        std::vector<int32_t> values = {};  // in the value pool
    } cases[] = {
        {"3.0", prim_expr::float_of(3.0f)}, {"-0.5", prim_expr::float_of(-0.5f)},
        {"3", prim_expr::number_of(3)}, {"0x1F", prim_expr::number_of(31)}, {"-3", prim_expr::number_of(-3)},
        {"017", prim_expr::number_of(15)}, {"'A'", prim_expr::number_of(65)}, {"'\xE9'", prim_expr::number_of(-23)},
        {"'\"'", prim_expr::number_of(34)},
        {"\"hi 'there\"", prim_expr::string_of({0, 9}), "hi 'there"}, {"\"\"", prim_expr::string_of({0, 0})},
        {"{1,2,3}", prim_expr::array_of({0, 3}), "", {1, 2, 3}}, {"{1 2 3}", prim_expr::array_of({0, 3}), "", {1, 2, 3}},
        {"{1,2,3,}", prim_expr::array_of({0, 3}), "", {1, 2, 3}}, {"{}", prim_expr::array_of({0, 0})},
        {"{ -1 , 0x10 }", prim_expr::array_of({0, 2}), "", {-1, 16}},
        {"data[0,2]", ex(EXPR_DATA, 0, 2)}, {"BIT[1,3]", ex(EXPR_BIT, 1, 3)}, {"HEX[2,4]", ex(EXPR_HEX, 2, 4)},
        {"UDATA [0x10, 1]", ex(EXPR_UDATA, 16, 1)}, {"FLOAT[0,4]", ex(EXPR_FLOAT, 0, 4)},
        {"TEXT[5,-6]", ex(EXPR_TEXT, 5, -6)}, {"VAR[3]", prim_expr::var_of(3)}, {"var [ 15 ]", prim_expr::var_of(15)},
        {"DAT_STATUS", ex(EXPR_DAT_STATUS)}, {"vbat", ex(EXPR_VBAT)}, {"Escape", ex(EXPR_ESCAPE)},
        {"RTC", ex(EXPR_RTC)}, {"NIL", ex(EXPR_NIL)},
    };
    for (const auto& c : cases) {
        const auto one = only("WAITKEY "s + c.src);
        EXPECT_EQ(one.form<waitkey_form>().expr, c.expected) << c.src;
        EXPECT_EQ(one.s.texts, c.text) << c.src;
        EXPECT_EQ(one.s.values, c.values) << c.src;
    }
    // Every operand word, in any case.
    for (uint32_t kind = 0; kind <= EXPR_LAST; ++kind) {
        std::string word(vocabulary::operand_word(kind));
        if (word.empty()) continue;
        if (vocabulary::is_ranged(kind)) word += "[1,2]";
        for (char& ch : word) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_EQ(only("WAITKEY " + word).form<waitkey_form>().expr.kind, kind) << word;
    }
}

TEST(ParserExpressions, OperandErrors) {
    const struct {
        const char *src, *message;
    } cases[] = {
        {"'AB'", "Invalid primary expression: 'AB'"}, {"''", "Invalid primary expression: ''"},
        {"@", "Invalid primary expression: @"}, {"", "Invalid primary expression: "},
        {"{1,x}", "expected '}', but found: x"}, {"DATA[0 2]", "expected ',', but found: 2"},
        {"DATA 0", "expected '[', but found: 0"}, {"DATA[0,2", "expected ']', but found: "},
        {"HEX[x,2]", "expected a number, but found: x"}, {"VAR 1", "expected '[', but found: 1"},
        {"VAR[1", "expected ']', but found: "},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of("WAITKEY "s + c.src), "[1] Error: "s + c.message + "\n") << c.src;
}

TEST(ParserExpressions, ConditionsAndAssignments) {
    const prim_expr one = prim_expr::number_of(1), two = prim_expr::number_of(2), var2 = prim_expr::var_of(2);
    for (const vocabulary::symbol& s : vocabulary::comparisons) {
        const test_expr expected{one, two, static_cast<test_code>(s.code)};
        EXPECT_EQ(only("IF 1 "s + std::string(s.text) + " 2").form<condition_form>().test, expected) << s.text;
    }
    for (const vocabulary::symbol& s : vocabulary::operators) {
        const assignment_form expected{1, {var2, prim_expr::number_of(7), static_cast<arith_code>(s.code)}};
        EXPECT_EQ(only("VAR[1] = VAR[2] "s + std::string(s.text) + " 7").form<assignment_form>(), expected) << s.text;
    }
    EXPECT_EQ(only("while VAR[1]=KEY").form<condition_form>().test, (test_expr{prim_expr::var_of(1), ex(EXPR_KEY), TEST_EQ}));
    EXPECT_EQ(only("VAR[1] = 3+4").form<assignment_form>().assign, (arith_expr{prim_expr::number_of(3), prim_expr::number_of(4), OP_ADD}));
    // "3-4" is one word: its number is 3.
    EXPECT_EQ(only("VAR[1] = 3-4").form<assignment_form>().assign, (arith_expr{prim_expr::number_of(3), ex(EXPR_NIL), OP_NONE}));
    const script s = parse_script_text("VAR[1] = VAR[2]\nDELAY 5");
    ASSERT_EQ(s.commands.size(), 2u);
    EXPECT_EQ(std::get<assignment_form>(s.commands[0].form), (assignment_form{1, {var2, ex(EXPR_NIL), OP_NONE}}));
    EXPECT_EQ(s.commands[1].kind, CMD_DELAY);

    const struct {
        const char *src, *message;
    } errors[] = {
        {"IF VAR[1] <= 5", "Invalid test expression: <="}, {"IF VAR[1] == 5", "Invalid test expression: =="},
        {"IF VAR[1] + 5", "Invalid test expression: +"}, {"IF VAR[1]", "Invalid test expression: "},
        // a comparison run is one token, separate characters are not
        {"IF 1 ! = 2", "Invalid primary expression: ="},
        {"VAR[1] = VAR[2] -1", "Unknown command: -1"}, {"VAR[1] 5", "expected '=', but found: 5"},
    };
    for (const auto& e : errors) EXPECT_EQ(error_of(e.src), "[1] Error: "s + e.message + "\n") << e.src;
}

// ---- statements ----

TEST(ParserStatements, ChoiceWordCodes) {
    using code_of = std::function<uint32_t(const command&)>;
    const struct {
        const char *before, *after;  // the statement around the choice word
        const vocabulary::choice& words;
        code_of code;
        uint32_t longer = 0;  // the code whose form goes on with
        const char* more = "";
    } cases[] = {
        {"DAT_CREATE", "", vocabulary::dat_types, [](const command& c) { return std::get<dat_form>(c.form).type; },
         DAT_DID, " 7"},
        {"DIAG", " 1 2", vocabulary::protocols, [](const command& c) { return std::get<diag_form>(c.form).protocol; }},
        {"DID", " 1", vocabulary::did_operations, [](const command& c) { return std::get<did_form>(c.form).operation; },
         DID_MODIFY, " 2 3 + 4"},
        {"EXHALE", "", vocabulary::methods, [](const command& c) { return std::get<exhale_form>(c.form).method; }},
        {"INHALE", "", vocabulary::methods, [](const command& c) { return std::get<inhale_form>(c.form).method; }},
        {"LED", " ON", vocabulary::colors, [](const command& c) { return std::get<led_form>(c.form).color; }},
        {"LED RED", "", vocabulary::states, [](const command& c) { return std::get<led_form>(c.form).state; }},
        {"LOG", " VBAT", vocabulary::log_modes, [](const command& c) { return std::get<log_form>(c.form).mode; }},
        {"NET", " 11 500", vocabulary::networks, [](const command& c) { return std::get<net_form>(c.form).network; }},
        {"PERIODIC", " 1", vocabulary::message_types,
         [](const command& c) { return std::get<periodic_form>(c.form).type; }},
        {"READ", "", vocabulary::message_types, [](const command& c) { return std::get<read_form>(c.form).type; }},
        {"SET_VALUE", " 1", vocabulary::parameters,
         [](const command& c) { return std::get<set_value_form>(c.form).param; }},
        {"WRITE", "", vocabulary::message_types, [](const command& c) { return std::get<write_form>(c.form).type; }},
    };
    for (const auto& c : cases) {
        for (uint32_t code = 1; code <= c.words.words.size(); ++code) {
            std::string word(c.words.word(code));
            if (code % 2 == 0) word[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(word[0])));
            const std::string src = c.before + " "s + word + c.after + (code == c.longer ? c.more : "");
            const script s = parse_script_text(src);
            ASSERT_FALSE(s.commands.empty()) << src;
            EXPECT_EQ(c.code(s.commands.front()), code) << src;
        }
    }
}

TEST(ParserStatements, Values) {
    EXPECT_EQ(only("DAT_INIT did 0x10").form<dat_form>(), (dat_form{DAT_DID, 16}));
    EXPECT_EQ(only("DAT_INIT VIN").form<dat_form>(), (dat_form{DAT_VIN, 0}));
    EXPECT_EQ(only("READ SID 0x22").form<read_form>(), (read_form{MSG_SID, 34}));
    EXPECT_EQ(only("READ MSG").form<read_form>(), (read_form{MSG_MSG, -1}));
    EXPECT_EQ(only("PROG \"a.vbf\"").form<prog_form>(), (prog_form{{0, 5}, false, {}}));
    EXPECT_EQ(only("PROG \"a.vbf\" 0x0102").form<prog_form>(), (prog_form{{0, 5}, true, {0, 2}}));
    // a list takes every token whose integer conversion succeeds, labels and floats too
    const auto list = only("WRITE SID 1 10: 1.5");
    EXPECT_EQ(list.s.values, (std::vector<int32_t>{1, 10, 1}));
    EXPECT_EQ(only("GOSUB loop:").s.texts, "loop");
    for (const char* label : {"LOOP::", "1st:", "a.b-c:d_e:"}) {
        const auto one = only(label);
        EXPECT_EQ(one.cmd().kind, CMD_LABEL);
        EXPECT_EQ(one.s.texts + ":", std::string(label).substr(0, one.s.texts.size() + 1)) << label;
    }
    EXPECT_EQ(only("GOTO").s.texts, "");
}

TEST(ParserStatements, FirmwareVersion) {
    const struct {
        const char* src;
        int32_t major, minor;
    } cases[] = {
        {"2.15", 2, 15}, {"2.5", 2, 5}, {"3", 3, 0}, {"1.123", 2, 23}, {"1.08", 1, 0}, {"1.07", 1, 7},
        {"0x10.0x2", 16, 2}, {"-1.5", 0, -95},
        {"21474837", -21474835, -96},  // 2147483700 wraps to -2147483596
    };
    for (const auto& c : cases)
        EXPECT_EQ(only("FW_VERSION "s + c.src).form<fw_version_form>(), (fw_version_form{c.major, c.minor})) << c.src;
}

TEST(ParserStatements, OptionalPartsLeaveTheNextStatement) {
    const struct {
        const char* src;
        std::vector<cmd_kind> kinds;
    } cases[] = {
        {"LCD 1 1 VBAT DELAY 5", {CMD_LCD, CMD_DELAY}},
        {"WRITE SID 0x10 0x03 DELAY 5", {CMD_WRITE, CMD_DELAY}},
        {"PROG \"a.vbf\" DELAY 1", {CMD_PROG, CMD_DELAY}},
        {"EXHALE A loop:", {CMD_EXHALE, CMD_LABEL}},
        {"READ SID GETKEY", {CMD_READ, CMD_GETKEY}},
        {"LOG FILE VBAT DO", {CMD_LOG, CMD_DO}},
    };
    for (const auto& c : cases) {
        std::vector<cmd_kind> kinds;
        for (const command& r : parse_script_text(c.src).commands) kinds.push_back(r.kind);
        EXPECT_EQ(kinds, c.kinds) << c.src;
    }
}

TEST(ParserStatements, Errors) {
    const struct {
        const char *src, *message;
    } cases[] = {
        {"DAT_CREATE", "Unknown DAT_CREATE <type>"}, {"DAT_CHECK X", "Unknown DAT_CHECK <type>"},
        {"DAT_DELETE X", "Unknown DAT_DELETE <type>"}, {"DAT_INIT X", "Unknown DAT_INIT <type>"},
        {"DIAG ISO 1 2", "Unknown DIAG <type>"}, {"NET CAN 1 2", "Unknown NET <type>"},
        {"SET_VALUE X 1", "Unknown SET_VALUE <type>"}, {"PERIODIC X 1", "Unknown PERIODIC <type>"},
        {"READ X", "Unknown READ <type>"}, {"WRITE X", "Unknown WRITE <type>"},
        {"DID X 1", "Unknown DID <operation>"}, {"INHALE C", "Unknown INHALE <method>"},
        {"EXHALE C", "Unknown EXHALE <method>"}, {"LED BLUE ON", "Unknown LED <color>"},
        {"LED RED DIM", "Unknown LED >state>"}, {"LOG X VBAT", "Unknown LOG <type>"},
        {"foo", "Unknown command: foo"}, {":", "Unknown command: :"},
        {"_start:", "Unknown command: _start:"}, {"-x:", "Unknown command: -x:"},
        {"READ SID 34", "Unknown command: 34"}, {"LOG FILE VBAT 1.5", "Unknown command: 1.5"},
        {"WRITE SID 1, 2", "Unknown command: ,"}, {"EXEC 5", "expected a string, but found: 5"},
        {"PROG 'a'", "expected a string, but found: 'a'"}, {"MEM 5 \"AB\"", "Invalid operator: \"AB\""},
        {"MEM 5 = 7", "expected a string, but found: 7"}, {"DID MODIFY 1 2 3 % 4", "Invalid operator: %"},
        {"FW_VERSION x", "expected an XX.YY version number, but found: x"},
        {"SECURITY x 0x01", "expected a number, but found: x"},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.src), "[1] Error: "s + c.message + "\n") << c.src;
}

// Where each statement and each of its tokens begins, for a checker: bytes
// from the start of the line, counting from 1, tabs and carriage returns
// included. A token from a DEFINE value stands where its name stood.
TEST(ParserStatements, Positions) {
    script_positions positions;
    const script s = parse_script_text(
        "DEFINE SHOW LCD 1\n\tDO  SHOW 2 \"a\r\nb\" ;c\r\n  x: /* \n */ GOTO\nx", &positions);
    std::vector<std::pair<uint32_t, uint32_t>> starts;
    for (const command& c : s.commands) starts.emplace_back(c.line, c.column);
    EXPECT_EQ(starts, (std::vector<std::pair<uint32_t, uint32_t>>{{2, 2}, {3, 6}, {4, 3}, {6, 5}}));

    ASSERT_EQ(positions.statements.size(), 4u);
    auto tokens_of = [&](size_t i) {
        const auto [first, end] = positions.statements[i];
        return std::vector<token_position>(positions.tokens.begin() + first, positions.tokens.begin() + end);
    };
    // LCD 1 (from the value, at SHOW), then 2 and the string.
    EXPECT_EQ(tokens_of(1), (std::vector<token_position>{{2, 6}, {2, 6}, {2, 11}, {2, 13}}));
    EXPECT_EQ(tokens_of(3), (std::vector<token_position>{{5, 5}, {6, 1}}));
}

}  // namespace
}  // namespace vendrak::testing
