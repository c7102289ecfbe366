#include "compile/compile.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/fatal.h"
#include "records.h"

namespace vendrak {
namespace {

using namespace records;

// A command of `kind` with the fields the statements after it set on `c`.
#define STMT(kind, ...) make(kind, [](command& c) { (void)c; __VA_ARGS__; })
template <typename Fill>
command make(uint32_t kind, Fill fill) {
    command c;
    c.kind = kind;
    fill(c);
    return c;
}

prim_expr arr(std::vector<int32_t> v) {
    prim_expr e = ex(EXPR_ARRAY, 0, static_cast<int32_t>(v.size()));
    e.array = std::move(v);
    return e;
}

// "0D 00 02" -> bytes.
std::vector<uint8_t> hex(const std::string& text) {
    std::vector<uint8_t> out;
    std::istringstream in(text);
    std::string b;
    while (in >> b) out.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
    return out;
}

struct encoding {
    command cmd;
    std::string opcode;   // leading bytes; the rest are 0
    std::string strings;  // appended to the string table
    std::string data;     // appended to the data table
};

TEST(Encode, EveryOperationAndOperandKind) {
    // The tables already hold 2 and 3 bytes, so offsets 2 and 3 show up.
    const encoding rows[] = {
        {STMT(CMD_IF, c.test = {num(0x01020304), var(5), TEST_NE}), "01 00 02 01 04 03 02 01 18 05", "", ""},
        {STMT(CMD_WHILE, c.test = {ex(EXPR_HEX, 0x0102, 3), arr({1, 0x1FF, -1}), TEST_EQ}),
         "01 00 01 0E 02 01 03 00 10 03 03 00", "", "01 FF FF"},
        {STMT(CMD_IF, c.test = {str("a"), str("bc"), TEST_EQ}), "01 00 01 06 02 00 00 00 06 04 00", "61 00 62 63 00", ""},
        {STMT(CMD_IF, c.test = {ex(EXPR_KEY), ex(EXPR_ANY), TEST_EQ}), "01 00 01 05 00 00 00 00 0D", "", ""},
        {STMT(CMD_DAT_CREATE, c.type = 2; c.did = 0x1234), "05 00 02 34 12", "", ""},
        {STMT(CMD_DAT_CHECK, c.type = 1), "06 00 01", "", ""},
        {STMT(CMD_DAT_DELETE, c.type = 2; c.did = 0x10), "07 00 02 10", "", ""},
        {STMT(CMD_DAT_INIT, c.type = 2; c.did = 0x12345), "08 00 02 45 23", "", ""},
        {STMT(CMD_DELAY, c.value = 1000000000), "09 00 00 CA 9A 3B", "", ""},
        {STMT(CMD_DIAG, c.protocol = 2; c.first_id = 0x7E0; c.second_id = 0x7E8), "0A 00 02 E0 07 00 00 E8 07", "", ""},
        {STMT(CMD_DID, c.operation = 5; c.did = 0x1234; c.modify_a = 2; c.modify_b = 8; c.modify_op = 6;
              c.modify_value = 0x180),
         "0B 00 05 34 12 02 08 06 80", "", ""},
        {STMT(CMD_EXHALE, c.method = 2; c.has_key = 1; c.key_len = 2; c.key[0] = 0xAB; c.key[1] = 0xCD),
         "0C 00 02 02 01 03", "", "AB CD"},
        {STMT(CMD_EXHALE, c.method = 1; c.key_len = 2; c.key[0] = 0xAB), "0C 00 01", "", ""},
        {STMT(CMD_EXEC, c.text = "hi"), "0D 00 02 00", "68 69 00", ""},
        {STMT(CMD_EXIT), "0E 00", "", ""},
        {STMT(CMD_FW_VERSION, c.major = 2; c.minor = 15), "0F 00 02 00 0F 00", "", ""},
        {STMT(CMD_GETKEY), "10 00", "", ""},
        {STMT(CMD_HLCD, c.row = 2; c.column = 3; c.expr = ex(EXPR_VBAT); c.has_floats = 1; c.float_a = 1.0f;
              c.float_b = -2.0f),
         "11 00 01 02 04 00 00 00 00 01 03", "", "00 00 80 3F 00 00 00 C0"},
        {STMT(CMD_INHALE, c.method = 2), "12 00 02", "", ""},
        {STMT(CMD_LCD, c.row = 1; c.column = 1; c.expr = str("OK")), "13 00 00 00 06 02", "4F 4B 00", ""},
        // The array precedes the floats in the data table.
        {STMT(CMD_LCD, c.row = 8; c.column = 16; c.expr = arr({7}); c.has_floats = 1; c.float_a = 0.5f),
         "13 00 07 0F 10 01 03 00 00 01 04", "", "07 00 00 00 3F 00 00 00 00"},
        {STMT(CMD_HUD, c.row = 1; c.column = 1; c.expr = ex(EXPR_VBAT); c.has_floats = 2; c.float_a = 1.0f),
         "22 00 00 00 04 00 00 00 00 02", "", ""},
        {STMT(CMD_LED, c.color = 2; c.state = 3), "14 00 02 03", "", ""},
        {STMT(CMD_LOG, c.mode = 2; c.expr = ex(EXPR_DATA, 1, 2); c.has_floats = 1; c.float_a = 1.0f; c.float_b = 1.0f),
         "15 00 02 02 01 00 02 00 01 03", "", "00 00 80 3F 00 00 80 3F"},
        {STMT(CMD_NET, c.network = 5; c.id_bits = 29; c.bit_rate = 500000), "16 00 05 1D 20 A1 07", "", ""},
        {STMT(CMD_PERIODIC, c.type = 2; c.period = 100; c.bytes = {0x7DF, 2, 0x13E}; c.count = 3),
         "17 00 02 64 00 DF 07 00 00 02 03", "", "02 3E"},
        {STMT(CMD_PERIODIC, c.type = 1; c.period = 1000; c.bytes = {0x3E, 0x80}; c.count = 2),
         "17 00 01 E8 03 00 00 00 00 02 03", "", "3E 80"},
        {STMT(CMD_PERIODIC, c.type = 2; c.period = 5), "17 00 02 05", "", ""},
        {STMT(CMD_PROG, c.filename = "a.vbf"; c.has_key = 1; c.key_len = 2; c.key[0] = 1; c.key[1] = 2),
         "18 00 02 01 03", "", "01 02"},
        {STMT(CMD_PROGNC, c.filename = "a.vbf"), "20 00", "", ""},
        {STMT(CMD_PROGNR, c.filename = "a.vbf"; c.has_key = 1; c.key_len = 1; c.key[0] = 0xFF), "21 00 01 01 03", "", "FF"},
        {STMT(CMD_READ, c.type = 1; c.value = -1), "19 00 01 FF FF FF FF", "", ""},
        {STMT(CMD_READ, c.type = 2; c.value = 0x22), "19 00 02 22", "", ""},
        {STMT(CMD_VERSION, c.text = "v1"), "1A 00 02 00", "76 31 00", ""},
        {STMT(CMD_VIN_VERIFY, c.text = ""), "1B 00 02 00", "00", ""},
        {STMT(CMD_WAITKEY, c.expr = ex(EXPR_ENTER)), "1C 00 07", "", ""},
        {STMT(CMD_WAITKEY, c.expr = num(-2)), "1C 00 01 FE FF FF FF", "", ""},
        {STMT(CMD_WAITKEY, c.expr = num('A'); c.expr.str = "A"), "1C 00 01 41", "", ""},
        {STMT(CMD_WAITKEY, c.expr = ex(EXPR_BIT, 1, -3)), "1C 00 0F 01 00 FD FF", "", ""},
        {STMT(CMD_WAITKEY, c.expr = ex(EXPR_TEXT, 0x10005, 2)), "1C 00 03 05 00 02 00", "", ""},
        {STMT(CMD_WAITKEY, c.expr = ex(EXPR_FLOAT, 4, 4)), "1C 00 12 04 00 04 00", "", ""},
        {STMT(CMD_WRITE, c.type = 1; c.bytes = {0x10, 0x03}; c.count = 2), "1D 00 01 00 00 00 00 02 03", "", "10 03"},
        {STMT(CMD_WRITE, c.type = 2; c.bytes = {0x7E0, 0x3E, 0}; c.count = 3), "1D 00 02 E0 07 00 00 02 03", "", "3E 00"},
        {STMT(CMD_WRITE, c.type = 2; c.bytes = {0x7E0}; c.count = 1), "1D 00 02 E0 07 00 00 00 03", "", ""},
        {STMT(CMD_WRITE, c.type = 2), "1D 00 02 00 00 00 00 00 03", "", ""},
        {STMT(CMD_SECURITY, c.level = 3; c.key_len = 3; c.key = {0x11, 0x22, 0x33}), "1E 00 03 03 03", "", "11 22 33"},
        {STMT(CMD_SECURITY, c.level = 5), "1E 00 05 00 03", "", ""},
        {STMT(CMD_GETTIME), "1F 00", "", ""},
        {STMT(CMD_REQUEST, c.bytes = {0x22, 0xF1, 0x90}; c.count = 3), "23 00 00 00 00 00 03 03", "", "22 F1 90"},
        {STMT(CMD_REQUEST), "23 00 00 00 00 00 00 03", "", ""},
        {STMT(CMD_SET_VALUE, c.param = 8; c.value = 12000), "24 00 08 E0 2E", "", ""},
        {STMT(CMD_VAR, c.index = 3; c.assign = {fnum(1.5f), ex(EXPR_UDATA, 2, 4), OP_MUL}),
         "25 00 03 03 19 00 00 C0 3F 1B 02 00 04 00", "", ""},
        {STMT(CMD_VAR, c.index = 1; c.assign = {var(2), ex(EXPR_NIL), OP_NONE}), "25 00 01 00 18 02 00 00 00 1A", "", ""},
        {STMT(CMD_RETURN), "26 00", "", ""},
        {STMT(CMD_UPLOAD, c.first = 0xFFFFFFFF; c.second = 1), "28 00 FF FF FF FF 01", "", ""},
        {STMT(CMD_MEM, c.location = 0x40000; c.op = OP_EQUAL; c.data = {65, 66}; c.count = 2),
         "29 00 00 00 04 00 08 02 03", "", "41 42"},
        {STMT(CMD_MEM, c.location = 5; c.op = OP_EQUAL), "29 00 05 00 00 00 08 00 03", "", ""},
        {STMT(CMD_DOWNLOAD, c.first = 0x1000; c.second = 0x20), "2A 00 00 10 00 00 20", "", ""},
        {STMT(CMD_REQ_FILE, c.filename = "log.txt"), "2B 00 02 00", "6C 6F 67 2E 74 78 74 00", ""},
    };
    for (const encoding& r : rows) {
        std::vector<uint8_t> strings = {'x', 0}, data = {0xD0, 0xD1, 0xD2};
        instruction insn;
        insn.opcode.fill(0xFF);  // every byte not named must come out 0
        make_opcode(insn, r.cmd, strings, data);

        std::vector<uint8_t> want = hex(r.opcode);
        want.resize(opcode_size);
        EXPECT_EQ(std::vector<uint8_t>(insn.opcode.begin(), insn.opcode.end()), want) << r.opcode;
        EXPECT_EQ(std::vector<uint8_t>(strings.begin() + 2, strings.end()), hex(r.strings)) << r.opcode;
        EXPECT_EQ(std::vector<uint8_t>(data.begin() + 3, data.end()), hex(r.data)) << r.opcode;
    }
}

struct limit_case {
    command cmd;
    size_t strings_before, data_before;
    std::string message;  // "" when accepted
    size_t field_at;      // where the offset lands when accepted
    uint32_t offset;
};

TEST(Encode, TableLimits) {
    const std::vector<int32_t> b255(255, 1), b256(256, 1);
    const limit_case rows[] = {
        {STMT(CMD_EXEC, c.text = "z"), 65535, 0, "", 2, 65535},
        {STMT(CMD_EXEC, c.text = "z"), 65536, 0, "[7] INTERNAL ERROR: stringTableIndex exceeded!\n", 0, 0},
        {STMT(CMD_LCD, c.expr = str("z")), 65536, 0, "[7] INTERNAL ERROR: stringTableIndex exceeded!\n", 0, 0},
        {STMT(CMD_WAITKEY, c.expr = arr({1})), 0, 65535, "", 4, 65535},
        {STMT(CMD_WAITKEY, c.expr = arr({1})), 0, 65536, "[7] INTERNAL ERROR: dataTableIndex exceeded!\n", 0, 0},
        // Offsets held in the opcode itself are 32 bits wide and unbounded.
        {STMT(CMD_WRITE, c.type = 1; c.bytes = {1}; c.count = 1), 0, 70000, "", 8, 70000},
        {make(CMD_MEM, [&](command& c) { c.data = b255; c.count = 255; }), 0, 0, "", 8, 0},
        {make(CMD_MEM, [&](command& c) { c.data = b256; c.count = 256; }), 0, 0, "[7] Error: Too many MEM bytes\n", 0, 0},
        {make(CMD_REQUEST, [&](command& c) { c.bytes = b255; c.count = 255; }), 0, 0, "", 7, 0},
        {make(CMD_REQUEST, [&](command& c) { c.bytes = b256; c.count = 256; }), 0, 0,
         "[7] Error: Too many REQUEST bytes\n", 0, 0},
    };
    for (limit_case r : rows) {
        r.cmd.line = 7;
        std::vector<uint8_t> strings(r.strings_before), data(r.data_before);
        instruction insn;
        try {
            make_opcode(insn, r.cmd, strings, data);
            EXPECT_EQ(r.message, "");
            EXPECT_EQ(r.cmd.kind == CMD_EXEC || r.cmd.kind == CMD_WAITKEY ? get_u16le(insn.opcode, r.field_at)
                                                                            : get_u32le(insn.opcode, r.field_at),
                      r.offset);
        } catch (const fatal_error& e) {
            EXPECT_EQ(e.message(), r.message);
            EXPECT_EQ(e.where(), out_stream::err);
        }
    }
}

// An instruction as the assembly tests see it: its code and, for a jump, its target.
struct step {
    uint32_t code;
    uint32_t target = 0;
    bool operator==(const step&) const = default;
};
void PrintTo(const step& s, std::ostream* os) { *os << s.code << ">" << s.target; }

program compile(std::vector<command> cmds) {
    script s;
    for (size_t i = 0; i < cmds.size(); ++i) cmds[i].line = static_cast<uint32_t>(i + 1);
    s.commands.assign(std::make_move_iterator(cmds.begin()), std::make_move_iterator(cmds.end()));
    program p;
    compile_script(s, p);
    return p;
}

std::vector<step> layout(std::vector<command> cmds) {
    const program p = compile(std::move(cmds));
    std::vector<step> steps;
    for (size_t i = 0; i < p.instructions.size(); ++i) {
        const auto& op = p.instructions[i].opcode;
        EXPECT_EQ(p.instructions[i].address, 16 * i);
        const uint32_t code = get_u16le(op, 0);
        const bool jump = code == OPC_JT || code == OPC_JF || code == OPC_JMP || code == OPC_JMPS;
        steps.push_back({code, jump ? get_u32le(op, jump_target_at) : 0});
    }
    return steps;
}

std::string failure(std::vector<command> cmds) {
    try {
        compile(std::move(cmds));
    } catch (const fatal_error& e) {
        EXPECT_EQ(e.where(), out_stream::err);
        return e.message();
    }
    return "";
}

const command IF = STMT(CMD_IF, c.test = {num(1), num(1), TEST_EQ});
const command WHILE = STMT(CMD_WHILE, c.test = {num(1), num(1), TEST_EQ});
const command ELSE = STMT(CMD_ELSE), ENDIF = STMT(CMD_ENDIF), DO = STMT(CMD_DO), ENDDO = STMT(CMD_ENDDO);
const command X = STMT(CMD_GETKEY);
command named(uint32_t kind, std::string label) { command c; c.kind = kind; c.label = std::move(label); return c; }
command GOTO(std::string l) { return named(CMD_GOTO, std::move(l)); }
command GOSUB(std::string l) { return named(CMD_GOSUB, std::move(l)); }
command LABEL(std::string l) { return named(CMD_LABEL, std::move(l)); }

TEST(Assemble, JumpLayouts) {
    const step CMP{OPC_CMP}, GETKEY{OPC_GETKEY}, EXIT{OPC_EXIT};
    auto jt = [](uint32_t t) { return step{OPC_JT, t}; };
    auto jf = [](uint32_t t) { return step{OPC_JF, t}; };
    auto jmp = [](uint32_t t) { return step{OPC_JMP, t}; };
    const struct {
        std::vector<command> script;
        std::vector<step> program;
    } rows[] = {
        {{}, {EXIT}},
        {{IF, ENDIF}, {CMP, jf(32), EXIT}},
        {{IF, X, ELSE, X, ENDIF}, {CMP, jf(64), GETKEY, jmp(80), GETKEY, EXIT}},
        // A second ELSE resumes the first ELSE's skip after its own JMP.
        {{IF, X, ELSE, X, ELSE, X, ENDIF}, {CMP, jf(64), GETKEY, jmp(96), GETKEY, jmp(112), GETKEY, EXIT}},
        {{IF, IF, X, ENDIF, X, ENDIF}, {CMP, jf(96), CMP, jf(80), GETKEY, GETKEY, EXIT}},
        {{DO, X, WHILE}, {GETKEY, CMP, jt(0), EXIT}},
        {{DO, X, ENDDO, X, WHILE}, {GETKEY, jmp(80), GETKEY, CMP, jt(0), EXIT}},
        // A pending ENDDO is taken by the next WHILE, whatever loop it closes.
        {{DO, ENDDO, DO, WHILE, WHILE}, {jmp(48), CMP, jt(16), CMP, jt(0), EXIT}},
        {{GOTO("a"), X, LABEL("a"), X, LABEL("a"), GOSUB("a")}, {jmp(32), GETKEY, GETKEY, {OPC_JMPS, 32}, EXIT}},
        {{GOTO("end"), GOSUB("Top"), LABEL("Top"), LABEL("end")}, {jmp(32), {OPC_JMPS, 32}, EXIT}},
    };
    for (const auto& r : rows) EXPECT_EQ(layout(r.script), r.program);
}

TEST(Assemble, FlashFilesAndTables) {
    const program p = compile({STMT(CMD_PROG, c.filename = "a.vbf"), STMT(CMD_EXEC, c.text = "hi"),
                               STMT(CMD_PROGNC, c.filename = "a.vbf"), STMT(CMD_EXEC, c.text = "hi"),
                               STMT(CMD_PROGNR, c.filename = "b.vbf")});
    ASSERT_EQ(p.vbfs.size(), 3u);
    const std::pair<std::string, size_t> want[] = {{"a.vbf", 0}, {"a.vbf", 2}, {"b.vbf", 4}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(p.vbfs[i].file_name, want[i].first);
        EXPECT_EQ(p.vbfs[i].instruction, want[i].second);
        EXPECT_EQ(p.vbfs[i].file_checksum, 0u);
        EXPECT_EQ(get_u32le(p.instructions[want[i].second].opcode, image_offset_at), 0u);
    }
    // Equal texts are stored once per use.
    EXPECT_EQ(p.string_table, hex("68 69 00 68 69 00"));
    EXPECT_EQ(get_u16le(p.instructions[3].opcode, 2), 3u);
    EXPECT_TRUE(p.data_table.empty());
    EXPECT_EQ(p.instructions.size(), 6u);
}

TEST(Assemble, FailuresInPassOrder) {
    const command MEM256 = STMT(CMD_MEM, c.data.assign(256, 0); c.count = 256);
    const struct {
        std::vector<command> script;
        std::string message;
    } rows[] = {
        {{X, ELSE}, "[2] Error: ELSE with no IF\n"},
        {{IF, ENDIF, ENDIF}, "[3] Error: ENDIF with no IF\n"},
        {{ENDDO}, "[1] Error: WHILE with no DO\n"},
        {{DO, WHILE, WHILE}, "[3] Error: WHILE with no DO\n"},
        {{IF, GOTO("nowhere")}, "[2] Error: Invalid label 'nowhere'\n"},
        {{LABEL("a"), GOTO("A")}, "[2] Error: Invalid label 'A'\n"},
        // The walk first, then every GOTO, then every GOSUB, then open IFs, then open DOs.
        {{GOTO("x"), ENDIF}, "[2] Error: ENDIF with no IF\n"},
        {{GOTO("x"), MEM256}, "[2] Error: Too many MEM bytes\n"},
        {{MEM256, ELSE}, "[1] Error: Too many MEM bytes\n"},
        {{GOSUB("s"), GOTO("g")}, "[2] Error: Invalid label 'g'\n"},
        {{DO, IF, GOSUB("s")}, "[3] Error: Invalid label 's'\n"},
        {{DO, IF}, "[2] Error: Unterminated IF\n"},
        {{IF, IF, X, ENDIF, IF}, "[5] Error: Unterminated IF\n"},
        {{DO, DO, X}, "[2] Error: Unterminated DO\n"},
    };
    for (const auto& r : rows) EXPECT_EQ(failure(r.script), r.message);
}

}  // namespace
}  // namespace vendrak
