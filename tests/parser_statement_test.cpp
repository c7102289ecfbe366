// Parser tests for expressions and every statement form.
#include "parser_test.h"

namespace vendrak::testing {
namespace {

using namespace std::string_literals;

prim_expr ranged(uint32_t kind, int32_t offset, int32_t length) {
    return operand(kind, [=](prim_expr& e) { e.offset = offset, e.length = length; });
}

prim_expr array(std::vector<int32_t> values) {
    return operand(EXPR_ARRAY, [&](prim_expr& e) { e.length = static_cast<int32_t>(values.size()), e.array = values; });
}

// ---- expressions ----

TEST(ParserExpressions, Operands) {
    const prim_expr one_two_three = array({1, 2, 3});
    const struct {
        const char* src;
        prim_expr expected;
    } cases[] = {
        {"3.0", operand(EXPR_FLOAT_NUMBER, [](prim_expr& e) { e.fvalue = 3.0f; })},
        {"-0.5", operand(EXPR_FLOAT_NUMBER, [](prim_expr& e) { e.fvalue = -0.5f; })},
        {"3", number(3)}, {"0x1F", number(31)}, {"-3", number(-3)}, {"017", number(15)},
        {"'A'", operand(EXPR_NUMBER, [](prim_expr& e) { e.number = 65, e.str = "A"; })},
        {"'\xE9'", operand(EXPR_NUMBER, [](prim_expr& e) { e.number = -23, e.str = "\xE9"; })},
        {"'\"'", operand(EXPR_NUMBER, [](prim_expr& e) { e.number = 34, e.str = "\""; })},
        {"\"hi 'there\"", operand(EXPR_STRING, [](prim_expr& e) { e.str = "hi 'there"; })},
        {"\"\"", operand(EXPR_STRING)},
        {"{1,2,3}", one_two_three}, {"{1 2 3}", one_two_three}, {"{1,2,3,}", one_two_three},
        {"{}", array({})}, {"{ -1 , 0x10 }", array({-1, 16})},
        {"data[0,2]", ranged(EXPR_DATA, 0, 2)}, {"BIT[1,3]", ranged(EXPR_BIT, 1, 3)},
        {"HEX[2,4]", ranged(EXPR_HEX, 2, 4)}, {"UDATA [0x10, 1]", ranged(EXPR_UDATA, 16, 1)},
        {"FLOAT[0,4]", ranged(EXPR_FLOAT, 0, 4)}, {"TEXT[5,6]", ranged(EXPR_TEXT, 5, 6)},
        {"VAR[3]", operand(EXPR_VAR, [](prim_expr& e) { e.var = 3; })},
        {"var [ 15 ]", operand(EXPR_VAR, [](prim_expr& e) { e.var = 15; })},
        {"DAT_STATUS", operand(EXPR_DAT_STATUS)}, {"VOLTS", operand(EXPR_VOLTS)}, {"AMPS", operand(EXPR_AMPS)},
        {"IGN_LINE", operand(EXPR_IGN_LINE)}, {"vbat", operand(EXPR_VBAT)}, {"SERNUM", operand(EXPR_SERNUM)},
        {"DTC", operand(EXPR_DTC)}, {"DTCVAL", operand(EXPR_DTCVAL)}, {"DAC", operand(EXPR_DAC)},
        {"CH1", operand(EXPR_CH1)}, {"CH2", operand(EXPR_CH2)}, {"KEY", operand(EXPR_KEY)},
        {"ENTER", operand(EXPR_ENTER)}, {"Escape", operand(EXPR_ESCAPE)}, {"UP", operand(EXPR_UP)},
        {"DOWN", operand(EXPR_DOWN)}, {"LEFT", operand(EXPR_LEFT)}, {"RIGHT", operand(EXPR_RIGHT)},
        {"ANY", operand(EXPR_ANY)}, {"TIME", operand(EXPR_TIME)}, {"P_TIME", operand(EXPR_P_TIME)},
        {"RTC", operand(EXPR_RTC)}, {"NIL", operand(EXPR_NIL)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(only("WAITKEY "s + c.src), cmd(CMD_WAITKEY, [&](command& r) { r.expr = c.expected; })) << c.src;
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

TEST(ParserExpressions, Conditions) {
    const struct {
        const char* op;
        uint32_t code;
    } ops[] = {{"=", TEST_EQ}, {"!", TEST_NE}, {"!=", TEST_NE}, {"<", TEST_LT}, {">", TEST_GT}, {"&", TEST_AND}};
    for (const auto& o : ops) {
        const command expected = cmd(CMD_IF, [&](command& c) { c.test = {number(1), number(2), o.code}; });
        EXPECT_EQ(only("IF 1 "s + o.op + " 2"), expected) << o.op;
    }
    EXPECT_EQ(only("while VAR[1]=KEY").test, (test_expr{operand(EXPR_VAR, [](prim_expr& e) { e.var = 1; }),
                                                        operand(EXPR_KEY), TEST_EQ}));
    for (const char* op : {"<=", "==", "<>", ">=", "+"}) {
        EXPECT_EQ(error_of("IF VAR[1] "s + op + " 5"), "[1] Error: Invalid test expression: "s + op + "\n");
    }
    EXPECT_EQ(error_of("IF VAR[1]"), "[1] Error: Invalid test expression: \n");
    // a comparison run is one token, separate characters are not
    EXPECT_EQ(error_of("IF 1 ! = 2"), "[1] Error: Invalid primary expression: =\n");
}

TEST(ParserExpressions, Assignments) {
    const struct {
        const char* op;
        uint32_t code;
    } ops[] = {{"+", OP_ADD}, {"-", OP_SUB}, {"*", OP_MUL}, {"/", OP_DIV},
               {"&", OP_AND}, {"|", OP_OR},  {"^", OP_XOR}, {"=", OP_EQUAL}};
    const prim_expr var2 = operand(EXPR_VAR, [](prim_expr& e) { e.var = 2; });
    for (const auto& o : ops) {
        const command expected = cmd(CMD_VAR, [&](command& c) { c.index = 1, c.assign = {var2, number(7), o.code}; });
        EXPECT_EQ(only("VAR[1] = VAR[2] "s + o.op + " 7"), expected) << o.op;
    }
    EXPECT_EQ(only("VAR[1] = 3+4").assign, (arith_expr{number(3), number(4), OP_ADD}));
    EXPECT_EQ(only("VAR[1] = 3-4").assign, (arith_expr{number(3), operand(EXPR_NIL), OP_NONE}));
    const script s = parse_script_text("VAR[1] = VAR[2]\nDELAY 5");
    ASSERT_EQ(s.commands.size(), 2u);
    EXPECT_EQ(s.commands[0], cmd(CMD_VAR, [&](command& c) { c.index = 1, c.assign = {var2, operand(EXPR_NIL), 0}; }));
    EXPECT_EQ(s.commands[1].kind, CMD_DELAY);
    EXPECT_EQ(error_of("VAR[1] = VAR[2] -1"), "[1] Error: Unknown command: -1\n");
    EXPECT_EQ(error_of("VAR[1] 5"), "[1] Error: expected '=', but found: 5\n");
}

// ---- statements ----

TEST(ParserStatements, ChoiceWordCodes) {
    const struct {
        const char *before, *after;  // the statement around the choice word
        std::vector<const char*> words;
        uint32_t command::*field;  // receives the 1-based position of the word
    } cases[] = {
        {"DAT_CREATE", "", {"VIN", "did 7"}, &command::type},
        {"DIAG", " 1 2", {"ISO14229", "kwp2000"}, &command::protocol},
        {"DID", " 1", {"SAVE", "RECALL", "COMPARE", "WRITE", "MODIFY 1 2 3 +"}, &command::operation},
        {"EXHALE", "", {"A", "b"}, &command::method},
        {"INHALE", "", {"a", "B"}, &command::method},
        {"LED", " ON", {"green", "RED"}, &command::color},
        {"LED RED", "", {"ON", "OFF", "toggle"}, &command::state},
        {"LOG", " VBAT", {"FILE", "new", "ADD"}, &command::mode},
        {"NET", " 11 500", {"CAN_HS", "CAN_MS", "CAN_FD_HS", "can_fd_ms", "LIN"}, &command::network},
        {"PERIODIC", " 1", {"SID", "msg"}, &command::type},
        {"READ", "", {"sid", "MSG"}, &command::type},
        {"SET_VALUE", " 1",
         {"TERMINATION", "INTERFRAME", "BS_TX", "STMIN_TX", "VPROG", "AMPS", "IGN_LINE", "volts"}, &command::param},
        {"WRITE", "", {"SID", "Msg"}, &command::type},
    };
    for (const auto& c : cases) {
        for (uint32_t code = 1; code <= c.words.size(); ++code) {
            const std::string src = c.before + " "s + c.words[code - 1] + c.after;
            EXPECT_EQ(only(src).*c.field, code) << src;
        }
    }
}

TEST(ParserStatements, EveryForm) {
    const struct {
        const char* src;
        command expected;
    } cases[] = {
        {"DAT_INIT did 0x10", cmd(CMD_DAT_INIT, [](command& c) { c.type = DAT_DID, c.did = 16; })},
        {"DELAY 5", cmd(CMD_DELAY, [](command& c) { c.value = 5; })},
        {"DIAG ISO14229 0x7E0 0x7E8", cmd(CMD_DIAG, [](command& c) { c.protocol = 1, c.first_id = 0x7E0, c.second_id = 0x7E8; })},
        {"DID MODIFY 0x10 2 8 | 0x80", cmd(CMD_DID, [](command& c) {
             c.operation = DID_MODIFY, c.did = 16, c.modify_a = 2, c.modify_b = 8, c.modify_op = OP_OR, c.modify_value = 128;
         })},
        {"DO", cmd(CMD_DO)}, {"ELSE", cmd(CMD_ELSE)}, {"ENDDO", cmd(CMD_ENDDO)}, {"ENDIF", cmd(CMD_ENDIF)},
        {"EXIT", cmd(CMD_EXIT)}, {"GETKEY", cmd(CMD_GETKEY)}, {"GETTIME", cmd(CMD_GETTIME)}, {"RETURN", cmd(CMD_RETURN)},
        {"EXHALE b 0x0102", cmd(CMD_EXHALE, [](command& c) { c.method = METHOD_B, c.has_key = 1, c.key_len = 2, c.key[0] = 1, c.key[1] = 2; })},
        {"EXEC \"run\"", cmd(CMD_EXEC, [](command& c) { c.text = "run"; })},
        {"HLCD 1 2 VBAT", cmd(CMD_HLCD, [](command& c) { c.row = 1, c.column = 2, c.expr = operand(EXPR_VBAT); })},
        {"HUD 1 2 KEY 2.0 3.0", cmd(CMD_HUD, [](command& c) {
             c.row = 1, c.column = 2, c.expr = operand(EXPR_KEY), c.has_floats = 1, c.float_a = 2.0f, c.float_b = 3.0f;
         })},
        {"LCD 1 1 \"READY\"", cmd(CMD_LCD, [](command& c) { c.row = 1, c.column = 1, c.expr = operand(EXPR_STRING, [](prim_expr& e) { e.str = "READY"; }); })},
        {"led green on", cmd(CMD_LED, [](command& c) { c.color = LED_GREEN, c.state = LED_ON; })},
        {"LOG FILE \"l\"", cmd(CMD_LOG, [](command& c) { c.mode = LOG_FILE, c.expr = operand(EXPR_STRING, [](prim_expr& e) { e.str = "l"; }); })},
        {"LOG NEW VBAT 1.5 2.5", cmd(CMD_LOG, [](command& c) {
             c.mode = LOG_NEW, c.expr = operand(EXPR_VBAT), c.has_floats = 1, c.float_a = 1.5f, c.float_b = 2.5f;
         })},
        {"NET LIN 11 19200", cmd(CMD_NET, [](command& c) { c.network = NET_LIN, c.id_bits = 11, c.bit_rate = 19200; })},
        {"PERIODIC SID 100 0x3E 0x80", cmd(CMD_PERIODIC, [](command& c) { c.type = MSG_SID, c.period = 100, c.count = 2, c.bytes = {0x3E, 0x80}; })},
        {"PROG \"ecu.vbf\"", cmd(CMD_PROG, [](command& c) { c.filename = "ecu.vbf"; })},
        {"PROGNC \"a.vbf\" 0x0102", cmd(CMD_PROGNC, [](command& c) { c.filename = "a.vbf", c.has_key = 1, c.key_len = 2, c.key[0] = 1, c.key[1] = 2; })},
        {"PROGNR \"b.vbf\"", cmd(CMD_PROGNR, [](command& c) { c.filename = "b.vbf"; })},
        {"READ SID 0x22", cmd(CMD_READ, [](command& c) { c.type = MSG_SID, c.value = 34; })},
        {"READ MSG", cmd(CMD_READ, [](command& c) { c.type = MSG_MSG, c.value = -1; })},
        {"REQ_FILE \"f.bin\"", cmd(CMD_REQ_FILE, [](command& c) { c.filename = "f.bin"; })},
        {"REQUEST 0x22 0xF1 0x90", cmd(CMD_REQUEST, [](command& c) { c.count = 3, c.bytes = {0x22, 0xF1, 0x90}; })},
        {"REQUEST", cmd(CMD_REQUEST)},
        {"SECURITY 1 0x0102", cmd(CMD_SECURITY, [](command& c) { c.level = 1, c.key_len = 2, c.key[0] = 1, c.key[1] = 2; })},
        {"VERSION \"1.0\"", cmd(CMD_VERSION, [](command& c) { c.text = "1.0"; })},
        {"VIN_VERIFY \"WVW\"", cmd(CMD_VIN_VERIFY, [](command& c) { c.text = "WVW"; })},
        {"WRITE SID 0x10 0x03", cmd(CMD_WRITE, [](command& c) { c.type = MSG_SID, c.count = 2, c.bytes = {0x10, 3}; })},
        // a list takes every token whose integer conversion succeeds, labels and floats too
        {"WRITE SID 1 10: 1.5", cmd(CMD_WRITE, [](command& c) { c.type = MSG_SID, c.count = 3, c.bytes = {1, 10, 1}; })},
        {"GOSUB loop:", cmd(CMD_GOSUB, [](command& c) { c.label = "loop"; })},
        {"GOTO", cmd(CMD_GOTO)},
        {"LOOP::", cmd(CMD_LABEL, [](command& c) { c.label = "LOOP"; })},
        {"1st:", cmd(CMD_LABEL, [](command& c) { c.label = "1st"; })},
        {"a.b-c:d_e:", cmd(CMD_LABEL, [](command& c) { c.label = "a.b-c:d_e"; })},
        {"MEM 5 = \"AB\"", cmd(CMD_MEM, [](command& c) { c.location = 5, c.op = OP_EQUAL, c.count = 2, c.data = {65, 66}; })},
        {"MEM 1 ^ \"\"", cmd(CMD_MEM, [](command& c) { c.location = 1, c.op = OP_XOR; })},
        {"MEM 1 & \"\xE9\"", cmd(CMD_MEM, [](command& c) { c.location = 1, c.op = OP_AND, c.count = 1, c.data = {-23}; })},
        {"UPLOAD 1 2", cmd(CMD_UPLOAD, [](command& c) { c.first = 1, c.second = 2; })},
        {"DOWNLOAD 0x10 0x20", cmd(CMD_DOWNLOAD, [](command& c) { c.first = 16, c.second = 32; })},
    };
    for (const auto& c : cases) EXPECT_EQ(only(c.src), c.expected) << c.src;
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
    for (const auto& c : cases) {
        const command fw = only("FW_VERSION "s + c.src);
        EXPECT_EQ(fw, cmd(CMD_FW_VERSION, [&](command& r) { r.major = c.major, r.minor = c.minor; })) << c.src;
    }
}

TEST(ParserStatements, OptionalPartsLeaveTheNextStatement) {
    const struct {
        const char* src;
        std::vector<uint32_t> kinds;
    } cases[] = {
        {"LCD 1 1 VBAT DELAY 5", {CMD_LCD, CMD_DELAY}},
        {"WRITE SID 0x10 0x03 DELAY 5", {CMD_WRITE, CMD_DELAY}},
        {"PROG \"a.vbf\" DELAY 1", {CMD_PROG, CMD_DELAY}},
        {"EXHALE A loop:", {CMD_EXHALE, CMD_LABEL}},
        {"READ SID GETKEY", {CMD_READ, CMD_GETKEY}},
        {"LOG FILE VBAT DO", {CMD_LOG, CMD_DO}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> kinds;
        for (const command& r : parse_script_text(c.src).commands) {
            EXPECT_EQ(r.has_floats + r.has_key, 0u) << c.src;
            kinds.push_back(r.kind);
        }
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

}  // namespace
}  // namespace vendrak::testing
