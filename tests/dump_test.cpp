#include "dump/dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace vendrak;

namespace {

prim_expr operand(uint32_t kind, std::function<void(prim_expr&)> set = {}) {
    prim_expr e;
    e.kind = kind;
    if (set) set(e);
    return e;
}
prim_expr num(int32_t n) { return operand(EXPR_NUMBER, [=](prim_expr& e) { e.number = n; }); }
prim_expr var(int32_t i) { return operand(EXPR_VAR, [=](prim_expr& e) { e.var = i; }); }
prim_expr str(std::string s) { return operand(EXPR_STRING, [=](prim_expr& e) { e.str = s; }); }
prim_expr range(uint32_t kind, int32_t offset, int32_t length) {
    return operand(kind, [=](prim_expr& e) { e.offset = offset, e.length = length; });
}
prim_expr array(std::vector<int32_t> v) {
    return operand(EXPR_ARRAY, [=](prim_expr& e) { e.array = v, e.length = static_cast<int32_t>(v.size()); });
}
prim_expr flt(float f) { return operand(EXPR_FLOAT_NUMBER, [=](prim_expr& e) { e.fvalue = f; }); }

command make(uint32_t kind, std::function<void(command&)> set = {}) {
    command c;
    c.line = 1;
    c.kind = kind;
    if (set) set(c);
    return c;
}
command dat(uint32_t kind, uint32_t type, int32_t did) {
    return make(kind, [=](command& c) { c.type = type, c.did = did; });
}
command did_modify(int32_t did, int32_t a, int32_t b, uint32_t op, int32_t value) {
    return make(CMD_DID, [=](command& c) {
        c.operation = DID_MODIFY, c.did = did, c.modify_a = a, c.modify_b = b, c.modify_op = op, c.modify_value = value;
    });
}
// Sets the key bytes and has_key, as the statements with an optional key do.
command keyed(command c, std::vector<uint32_t> key) {
    c.has_key = 1;
    c.key_len = static_cast<uint32_t>(key.size());
    std::copy(key.begin(), key.end(), c.key.begin());
    return c;
}
command screen(uint32_t kind, int32_t row, int32_t column, prim_expr e) {
    return make(kind, [=](command& c) { c.row = row, c.column = column, c.expr = e; });
}
command with_floats(command c, float a, float b) {
    c.has_floats = 1, c.float_a = a, c.float_b = b;
    return c;
}
command byte_list(uint32_t kind, uint32_t type, std::vector<int32_t> v) {
    return make(kind, [=](command& c) { c.type = type, c.bytes = v, c.count = static_cast<int32_t>(v.size()); });
}
command cond(uint32_t kind, prim_expr lhs, uint32_t op, prim_expr rhs) {
    return make(kind, [=](command& c) { c.test = {lhs, rhs, op}; });
}
command assign(int32_t index, prim_expr lhs, uint32_t op, prim_expr rhs) {
    return make(CMD_VAR, [=](command& c) { c.index = index, c.assign = {lhs, rhs, op}; });
}
command mem(int32_t location, uint32_t op, std::vector<int32_t> data) {
    return make(CMD_MEM, [=](command& c) {
        c.location = location, c.op = op, c.data = data, c.count = static_cast<int32_t>(data.size());
    });
}

TEST(DumpPrimExpr, EveryKindListsWithOneBlank) {
    const prim_expr character = operand(EXPR_NUMBER, [](prim_expr& e) { e.number = 65, e.str = "A"; });
    const std::vector<std::pair<prim_expr, std::string>> rows = {
        {num(42), "42 "}, {num(-7), "-7 "}, {character, "65 "},
        {range(EXPR_DATA, 2, 3), "DATA[2,3] "}, {range(EXPR_TEXT, 0, 16), "TEXT[0,16] "},
        {range(EXPR_HEX, 1, 2), "HEX[1,2] "}, {range(EXPR_BIT, 3, -1), "BIT[3,-1] "},
        {range(EXPR_FLOAT, 4, 4), "FLOAT[4,4] "}, {range(EXPR_UDATA, 5, 2), "UDATA[5,2] "},
        {str("a\"b\\n"), "\"a\"b\\n\" "}, {str(""), "\"\" "},
        {array({1, 2, 255}), "{ 0x01 0x02 0xff } "}, {array({}), "{ } "}, {array({0x1AB, -1}), "{ 0x1ab 0xffffffff } "},
        {var(15), "VAR[15] "},
        {flt(1.5f), "1.500000 "}, {flt(-2.25f), "-2.250000 "}, {flt(0.1f), "0.100000 "},
        {flt(16777216.0f), "16777216.000000 "}, {flt(1e-7f), "0.000000 "},
        {operand(EXPR_NONE), "??? "}, {operand(35), "??? "}, {operand(0xFFFFFFFF), "??? "},
    };
    for (const auto& [expr, want] : rows) EXPECT_EQ(want, dump_prim_expr(expr)) << "kind " << expr.kind;

    const std::vector<std::pair<uint32_t, std::string>> keywords = {
        {EXPR_VBAT, "VBAT"}, {EXPR_KEY, "KEY"}, {EXPR_ENTER, "ENTER"}, {EXPR_ESCAPE, "ESCAPE"}, {EXPR_UP, "UP"},
        {EXPR_DOWN, "DOWN"}, {EXPR_LEFT, "LEFT"}, {EXPR_RIGHT, "RIGHT"}, {EXPR_ANY, "ANY"}, {EXPR_TIME, "TIME"},
        {EXPR_DTC, "DTC"}, {EXPR_DAC, "DAC"}, {EXPR_CH1, "CH1"}, {EXPR_CH2, "CH2"}, {EXPR_P_TIME, "P_TIME"},
        {EXPR_NIL, "NIL"}, {EXPR_DTCVAL, "DTCVAL"}, {EXPR_SERNUM, "SERNUM"}, {EXPR_DAT_STATUS, "DAT_STATUS"},
        {EXPR_AMPS, "AMPS"}, {EXPR_IGN_LINE, "IGN_LINE"}, {EXPR_VOLTS, "VOLTS"}, {EXPR_RTC, "RTC"},
    };
    for (const auto& [kind, word] : keywords) EXPECT_EQ(word + " ", dump_prim_expr(operand(kind))) << "kind " << kind;
}

TEST(DumpTestExpr, EveryComparisonSymbol) {
    const std::vector<std::pair<uint32_t, std::string>> rows = {
        {TEST_EQ, "VAR[1] = 5 "}, {TEST_NE, "VAR[1] ! 5 "}, {TEST_LT, "VAR[1] < 5 "}, {TEST_GT, "VAR[1] > 5 "},
        {TEST_AND, "VAR[1] & 5 "}, {0, "VAR[1] ??? 5 "}, {6, "VAR[1] ??? 5 "},
    };
    for (const auto& [op, want] : rows) EXPECT_EQ(want, dump_test_expr({var(1), num(5), op})) << "op " << op;
    // A comparison lists its right operand whatever its kind, NIL included.
    EXPECT_EQ("KEY = NIL ", dump_test_expr({operand(EXPR_KEY), operand(EXPR_NIL), TEST_EQ}));
}

TEST(DumpArithExpr, EveryOperatorAndTheMissingRightSide) {
    const std::vector<std::pair<uint32_t, std::string>> rows = {
        {OP_ADD, "VAR[2] + 1 "}, {OP_SUB, "VAR[2] - 1 "}, {OP_MUL, "VAR[2] * 1 "}, {OP_DIV, "VAR[2] / 1 "},
        {OP_AND, "VAR[2] & 1 "}, {OP_OR, "VAR[2] | 1 "}, {OP_XOR, "VAR[2] ^ 1 "}, {OP_EQUAL, "VAR[2] = 1 "},
        {OP_NONE, "VAR[2] ??? 1 "}, {9, "VAR[2] ??? 1 "},
    };
    for (const auto& [op, want] : rows) EXPECT_EQ(want, dump_arith_expr({var(2), num(1), op})) << "op " << op;
    // Without a right side neither operator nor operand shows; two blanks end it.
    EXPECT_EQ("7  ", dump_arith_expr({num(7), operand(EXPR_NIL), OP_NONE}));
    EXPECT_EQ("7  ", dump_arith_expr({num(7), operand(EXPR_NIL), OP_ADD}));
}

TEST(DumpCommand, EveryKindAndChoiceWord) {
    const command no_number_read = make(CMD_READ, [](command& c) { c.type = MSG_SID, c.value = -1; });
    const std::vector<std::pair<command, std::string>> rows = {
        {dat(CMD_DAT_CREATE, DAT_VIN, 0), "DAT_CREATE VIN "}, {dat(CMD_DAT_CREATE, DAT_DID, 0x1234), "DAT_CREATE DID 0x1234"},
        {dat(CMD_DAT_CHECK, DAT_DID, 0xf190), "DAT_CHECK DID 0xF190"}, {dat(CMD_DAT_DELETE, DAT_VIN, 7), "DAT_DELETE VIN "},
        {dat(CMD_DAT_INIT, 0, 5), "DAT_INIT DID 0x5"},
        {make(CMD_DELAY, [](command& c) { c.value = -250; }), "DELAY -250"},
        {make(CMD_DIAG, [](command& c) { c.protocol = 1, c.first_id = 0x7E0, c.second_id = 0x7e8; }), "DIAG ISO14229 0x7E0 0x7E8"},
        {make(CMD_DIAG, [](command& c) { c.protocol = 2, c.first_id = 0x10, c.second_id = 0; }), "DIAG KWP2000 0x10 0x0"},
        {make(CMD_DID, [](command& c) { c.operation = DID_SAVE, c.did = 0xF190, c.modify_a = 2; }), "DID SAVE 0xF190 "},
        {make(CMD_DID, [](command& c) { c.operation = DID_RECALL, c.did = 1; }), "DID RECALL 0x1 "},
        {make(CMD_DID, [](command& c) { c.operation = DID_COMPARE, c.did = 0xab; }), "DID COMPARE 0xAB "},
        {make(CMD_DID, [](command& c) { c.operation = DID_WRITE, c.did = -1; }), "DID WRITE 0xFFFFFFFF "},
        {make(CMD_DID, [](command& c) { c.operation = 6, c.did = 2; }), "DID UNKNOWN 0x2 "},
        {did_modify(0x1F, 2, 1, OP_ADD, 5), "DID MODIFY 0x1F 2 1 + 0x05 "},
        {did_modify(1, 0, -3, OP_SUB, 0xab), "DID MODIFY 0x1 0 -3 - 0xAB "},
        {did_modify(1, 0, 0, OP_MUL, 0x1ff), "DID MODIFY 0x1 0 0 * 0x1FF "},
        {did_modify(1, 0, 0, OP_DIV, 0), "DID MODIFY 0x1 0 0 / 0x00 "}, {did_modify(1, 0, 0, OP_AND, 0), "DID MODIFY 0x1 0 0 & 0x00 "},
        {did_modify(1, 0, 0, OP_OR, 0), "DID MODIFY 0x1 0 0 | 0x00 "}, {did_modify(1, 0, 0, OP_XOR, 0), "DID MODIFY 0x1 0 0 ^ 0x00 "},
        {did_modify(1, 0, 0, OP_EQUAL, 0), "DID MODIFY 0x1 0 0 = 0x00 "}, {did_modify(1, 0, 0, OP_NONE, 0), "DID MODIFY 0x1 0 0 ? 0x00 "},
        {make(CMD_DO), "DO"}, {make(CMD_ELSE), "ELSE"}, {make(CMD_ENDDO), "ENDDO"}, {make(CMD_ENDIF), "ENDIF"},
        {make(CMD_EXIT), "EXIT"}, {make(CMD_GETKEY), "GETKEY"}, {make(CMD_GETTIME), "GETTIME"}, {make(CMD_RETURN), "RETURN"},
        {make(CMD_EXHALE, [](command& c) { c.method = METHOD_A, c.key_len = 2; }), "EXHALE A "},
        {keyed(make(CMD_EXHALE, [](command& c) { c.method = METHOD_B; }), {0x12, 0x34, 0x5}), "EXHALE B 0x123405 "},
        {keyed(make(CMD_EXHALE, [](command& c) { c.method = METHOD_A; }), {}), "EXHALE A 0x "},
        {make(CMD_INHALE, [](command& c) { c.method = METHOD_A; }), "INHALE A "}, {make(CMD_INHALE), "INHALE B "},
        {make(CMD_EXEC, [](command& c) { c.text = "run \"x\""; }), "EXEC \"run \"x\"\" "},
        {make(CMD_REQ_FILE, [](command& c) { c.filename = "log.txt"; }), "REQ_FILE \"log.txt\" "},
        {make(CMD_VERSION, [](command& c) { c.text = "1.08"; }), "VERSION \"1.08\" "},
        {make(CMD_VIN_VERIFY, [](command& c) { c.text = "YV1"; }), "VIN_VERIFY \"YV1\" "},
        {make(CMD_FW_VERSION, [](command& c) { c.major = 1, c.minor = 8; }), "FW_VERSION 1.8"},
        {screen(CMD_HLCD, 2, 3, str("Hi")), "HLCD 2 3 \"Hi\" "},
        {with_floats(screen(CMD_HUD, 1, 1, var(2)), 1.5f, -2.25f), "HUD 1 1 VAR[2]  1.500000 -2.250000 "},
        {screen(CMD_LCD, 4, 20, range(EXPR_DATA, 0, 4)), "LCD 4 20 DATA[0,4] "},
        {make(CMD_LOG, [](command& c) { c.mode = LOG_FILE, c.expr = str("x.log"); }), "LOG FILE \"x.log\" "},
        {make(CMD_LOG, [](command& c) { c.mode = LOG_NEW, c.expr = operand(EXPR_TIME), c.has_floats = 2; }), "LOG NEW TIME "},
        {with_floats(make(CMD_LOG, [](command& c) { c.mode = LOG_ADD, c.expr = operand(EXPR_VBAT); }), 0.5f, 2),
         "LOG ADD VBAT  0.500000 2.000000 "},
        {make(CMD_LOG, [](command& c) { c.expr = num(42); }), "LOG 42 "},
        {cond(CMD_IF, var(1), TEST_EQ, num(5)), "IF VAR[1] = 5 "},
        {cond(CMD_WHILE, operand(EXPR_KEY), TEST_NE, operand(EXPR_ESCAPE)), "WHILE KEY ! ESCAPE "},
        {make(CMD_LED, [](command& c) { c.color = LED_GREEN, c.state = LED_ON; }), "LED GREEN ON "},
        {make(CMD_LED, [](command& c) { c.color = LED_RED, c.state = LED_OFF; }), "LED RED OFF "},
        {make(CMD_LED, [](command& c) { c.color = LED_RED, c.state = LED_TOGGLE; }), "LED RED TOGGLE "},
        {make(CMD_LED), "LED RED TOGGLE "},
        {make(CMD_NET, [](command& c) { c.network = 1, c.id_bits = 11, c.bit_rate = 500000; }), "NET CAN_HS 11 500000"},
        {make(CMD_NET, [](command& c) { c.network = 2, c.id_bits = 11, c.bit_rate = 125000; }), "NET CAN_MS 11 125000"},
        {make(CMD_NET, [](command& c) { c.network = 3, c.id_bits = 29, c.bit_rate = 2000000; }), "NET CAN_FD_HS 29 2000000"},
        {make(CMD_NET, [](command& c) { c.network = 4, c.id_bits = 29, c.bit_rate = 500000; }), "NET CAN_FD_MS 29 500000"},
        {make(CMD_NET, [](command& c) { c.network = 5, c.bit_rate = 19200; }), "NET LIN 0 19200"},
        {make(CMD_NET, [](command& c) { c.network = 6, c.bit_rate = 1; }), "NET 0 1"},
        {[] { auto c = byte_list(CMD_PERIODIC, MSG_SID, {0x3E, 0x80}); c.period = 100; return c; }(), "PERIODIC SID 100 0x3E 0x80 "},
        {[] { auto c = byte_list(CMD_PERIODIC, MSG_MSG, {0x7df, 2}); c.period = 50; return c; }(), "PERIODIC MSG 50 0x7DF 0x2 "},
        {byte_list(CMD_WRITE, MSG_SID, {0x22, 0xF1, 0x90}), "WRITE SID 0x22 0xF1 0x90 "},
        {byte_list(CMD_WRITE, MSG_MSG, {-1}), "WRITE MSG 0xFFFFFFFF "},
        {byte_list(CMD_REQUEST, 0, {0x10, 3}), "REQUEST 0x10 0x3 "}, {byte_list(CMD_REQUEST, 0, {}), "REQUEST "},
        {no_number_read, "READ SID "}, {make(CMD_READ, [](command& c) { c.type = MSG_MSG; }), "READ MSG "},
        {make(CMD_READ, [](command& c) { c.type = MSG_MSG, c.value = 8; }), "READ MSG 8 "},
        {make(CMD_PROG, [](command& c) { c.filename = "ecu.vbf", c.key_len = 1; }), "PROG \"ecu.vbf\" "},
        {keyed(make(CMD_PROGNC, [](command& c) { c.filename = "a.vbf"; }), {0xDE, 0xAD}), "PROGNC \"a.vbf\" 0xDEAD "},
        {make(CMD_PROGNR, [](command& c) { c.filename = "b.vbf"; }), "PROGNR \"b.vbf\" "},
        {[] { auto c = keyed(make(CMD_SECURITY), {0x0A, 0x0B}); c.level = 1, c.has_key = 0; return c; }(), "SECURITY 1 0x0A0B "},
        {make(CMD_SECURITY, [](command& c) { c.level = 3; }), "SECURITY 3 0x "},
        {make(CMD_SET_VALUE, [](command& c) { c.param = 1, c.value = 1; }), "SET_VALUE TERMINATION 1"},
        {make(CMD_SET_VALUE, [](command& c) { c.param = 2, c.value = 10; }), "SET_VALUE INTERFRAME 10"},
        {make(CMD_SET_VALUE, [](command& c) { c.param = 3, c.value = 8; }), "SET_VALUE BS_TX 8"},
        {make(CMD_SET_VALUE, [](command& c) { c.param = 4, c.value = 0; }), "SET_VALUE STMIN_TX 0"},
        {make(CMD_SET_VALUE, [](command& c) { c.param = 5, c.value = 18; }), "SET_VALUE VPROG 18"},
        {make(CMD_SET_VALUE, [](command& c) { c.param = 6, c.value = 2; }), "SET_VALUE AMPS 2"},
        {make(CMD_SET_VALUE, [](command& c) { c.param = 7, c.value = 1; }), "SET_VALUE IGN_LINE 1"},
        {make(CMD_SET_VALUE, [](command& c) { c.param = 8, c.value = -12; }), "SET_VALUE VOLTS -12"},
        {make(CMD_SET_VALUE, [](command& c) { c.param = 9, c.value = 5; }), "SET_VALUE 5"},
        {make(CMD_WAITKEY, [](command& c) { c.expr = operand(EXPR_ENTER); }), "WAITKEY ENTER "},
        {make(CMD_WAITKEY, [](command& c) { c.expr = operand(EXPR_ESCAPE); }), "WAITKEY ESCAPE "},
        {make(CMD_WAITKEY, [](command& c) { c.expr = operand(EXPR_UP); }), "WAITKEY UP "},
        {make(CMD_WAITKEY, [](command& c) { c.expr = operand(EXPR_DOWN); }), "WAITKEY DOWN "},
        {make(CMD_WAITKEY, [](command& c) { c.expr = operand(EXPR_LEFT); }), "WAITKEY LEFT "},
        {make(CMD_WAITKEY, [](command& c) { c.expr = operand(EXPR_RIGHT); }), "WAITKEY RIGHT "},
        {make(CMD_WAITKEY, [](command& c) { c.expr = operand(EXPR_ANY); }), "WAITKEY ANY "},
        {make(CMD_WAITKEY, [](command& c) { c.expr = operand(EXPR_KEY); }), "WAITKEY "},
        {make(CMD_GOTO, [](command& c) { c.label = "loop"; }), "GOTO loop"},
        {make(CMD_GOSUB, [](command& c) { c.label = "sub_1"; }), "GOSUB sub_1"},
        {make(CMD_LABEL, [](command& c) { c.label = "start"; }), "start:"},
        {assign(3, var(2), OP_ADD, num(1)), "VAR[3] = VAR[2] + 1 "}, {assign(3, num(7), OP_NONE, operand(EXPR_NIL)), "VAR[3] = 7  "},
        {make(CMD_UPLOAD, [](command& c) { c.first = 0x1000, c.second = 0xff; }), "UPLOAD 0x1000 0xFF"},
        {make(CMD_DOWNLOAD, [](command& c) { c.first = 0xFFFFFFFF; }), "DOWNLOAD 0xFFFFFFFF 0x0"},
        {mem(4, OP_EQUAL, {0x01, 0xab}), "MEM 4 = 0x01AB "}, {mem(-1, OP_ADD, {'O', 'K'}), "MEM -1 + 0x4F4B "},
        {mem(0, OP_OR, {}), "MEM 0 | 0x "}, {mem(1, OP_NONE, {0}), "MEM 1 ? 0x00 "},
        // Character codes of a string's bytes from 0x80 up are negative; each lists as its byte.
        {mem(4095, OP_SUB, {-23, 0x79, 0x70, 0x28}), "MEM 4095 - 0xE9797028 "},
        {make(0), "???"}, {make(48), "???"}, {make(0x80000000), "???"},
    };
    for (const auto& [cmd, want] : rows) EXPECT_EQ(want, dump_command(cmd)) << "kind " << cmd.kind;
}

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Nothing bounds a listing text: long strings, arrays and byte lists are whole.
TEST(DumpCommand, LongTextsAreNeverCut) {
    const std::string long_text(1000, 'x');
    EXPECT_EQ("LCD 1 1 \"" + long_text + "\" ", dump_command(screen(CMD_LCD, 1, 1, str(long_text))));
    EXPECT_EQ("IF \"" + long_text + "\" = \"" + long_text + "\" ",
              dump_command(cond(CMD_IF, str(long_text), TEST_EQ, str(long_text))));

    const std::vector<int32_t> values(300, 0xab);
    EXPECT_EQ("LOG ADD { " + repeat("0xab ", 300) + "} ",
              dump_command(make(CMD_LOG, [&](command& c) { c.mode = LOG_ADD, c.expr = array(values); })));
    EXPECT_EQ("REQUEST " + repeat("0xAB ", 300), dump_command(byte_list(CMD_REQUEST, 0, values)));

    command security = keyed(make(CMD_SECURITY), std::vector<uint32_t>(32, 0xC3));
    security.level = 2;
    EXPECT_EQ("SECURITY 2 0x" + repeat("C3", 32) + " ", dump_command(security));
}

std::string listing_of(const script& s) {
    std::FILE* f = std::tmpfile();
    EXPECT_NE(nullptr, f);
    dump_script(s, f);
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    std::fclose(f);
    return text;
}

TEST(DumpScript, OneFramedLinePerCommandInOrder) {
    EXPECT_EQ("", listing_of(script{}));

    script s;
    s.commands.push_back(make(CMD_DO));
    s.commands.push_back(make(CMD_NET, [](command& c) { c.line = 12, c.network = 1, c.id_bits = 11, c.bit_rate = 500000; }));
    s.commands.push_back(assign(3, num(7), OP_NONE, operand(EXPR_NIL)));
    s.commands.push_back(make(CMD_UPLOAD + 100, [](command& c) { c.line = 4000000; }));
    s.commands.push_back(screen(CMD_LCD, 1, 1, str(std::string(600, 'y'))));
    EXPECT_EQ(":1::DO\n:12::NET CAN_HS 11 500000\n:1::VAR[3] = 7  \n:4000000::???\n:1::LCD 1 1 \"" +
                  std::string(600, 'y') + "\" \n",
              listing_of(s));
}

}  // namespace
