// One table for every statement form: each row is a script line with the
// 16 bytes and table bytes the encoder writes for it, its -v listing line,
// and the line the decompiler writes for the decoded instruction. Each row
// also checks that the decoded statement encodes into the same bytes and
// that the decompiled line compiles into them.
#include "compile/compile.h"
#include "compile/decode.h"
#include "dump/script_text.h"
#include "records.h"

namespace vendrak {
namespace {

using namespace records;

struct row {
    const char* script;
    // The leading bytes of the opcode (the rest are 0), then after "|" the
    // bytes appended to the string table, and after a second "|" those
    // appended to the data table; nullptr: no instruction of its own.
    const char* bytes;
    std::string listing;
    std::string decompiled = "";  // "": the script line itself
};

// The tables already hold 2 and 3 bytes, so offsets 2 and 3 show up.
struct encoded {
    opcode_bytes op{};
    program tables;
};

opcode_bytes opcode_of(const char* text) {
    opcode_bytes op{};
    const std::vector<uint8_t> bytes = hex(text);
    std::copy(bytes.begin(), bytes.end(), op.begin());
    return op;
}

encoded encode(const command& c, const script& s) {
    encoded e;
    e.tables.string_table = {'x', 0};
    e.tables.data_table = {0xD0, 0xD1, 0xD2};
    e.op.fill(0xFF);  // every byte not named must come out 0
    stop_at_first r;
    make_opcode(e.op, c, 0, s, e.tables, r);
    return e;
}

const row rows[] = {
    {"IF 0x01020304 != VAR[5]", "01 00 02 01 04 03 02 01 18 05", "IF 16909060 ! VAR[5] ", "IF 16909060 != VAR[5]"},
    {"WHILE HEX[0x0102,3] = {1, 0x1FF, -1}", "01 00 01 0E 02 01 03 00 10 03 03 00 | | 01 FF FF",
     "WHILE HEX[258,3] = { 0x01 0x1ff 0xffffffff } ", "WHILE HEX[258,3] = {0x01, 0xFF, 0xFF}"},
    {"IF \"a\" = \"bc\"", "01 00 01 06 02 00 00 00 06 04 00 | 61 00 62 63 00", "IF \"a\" = \"bc\" "},
    {"IF key < any", "01 00 03 05 00 00 00 00 0D", "IF KEY < ANY ", "IF KEY < ANY"},
    {"IF DTCVAL & {}", "01 00 05 1C 00 00 00 00 10 00 03 00", "IF DTCVAL & { } "},
    {"DAT_CREATE DID 0x1234", "05 00 02 34 12", "DAT_CREATE DID 0x1234"},
    {"DAT_CHECK vin", "06 00 01", "DAT_CHECK VIN ", "DAT_CHECK VIN"},
    {"DAT_DELETE DID 16", "07 00 02 10", "DAT_DELETE DID 0x10", "DAT_DELETE DID 0x10"},
    {"DAT_INIT DID 0x12345", "08 00 02 45 23", "DAT_INIT DID 0x12345", "DAT_INIT DID 0x2345"},
    {"DELAY 1000000000", "09 00 00 CA 9A 3B", "DELAY 1000000000"},
    {"DELAY -250", "09 00 06 FF FF FF", "DELAY -250"},
    {"DIAG KWP2000 0x7E0 0x7e8", "0A 00 02 E0 07 00 00 E8 07", "DIAG KWP2000 0x7E0 0x7E8", "DIAG KWP2000 0x7E0 0x7E8"},
    {"DIAG ISO14229 -5 0", "0A 00 01 FB FF FF FF", "DIAG ISO14229 0xFFFFFFFB 0x0", "DIAG ISO14229 -5 0x0"},
    {"DID SAVE 0xF190", "0B 00 01 90 F1", "DID SAVE 0xF190 "},
    {"DID MODIFY 0x1234 2 8 | 0x180", "0B 00 05 34 12 02 08 06 80",
     "DID MODIFY 0x1234 2 8 | 0x180 ", "DID MODIFY 0x1234 2 8 | 128"},
    {"EXHALE b 0xABCD", "0C 00 02 02 01 03 | | AB CD", "EXHALE B 0xABCD ", "EXHALE B 0xABCD"},
    {"EXHALE A", "0C 00 01", "EXHALE A "},
    {"EXEC \"hi\"", "0D 00 02 00 | 68 69 00", "EXEC \"hi\" "},
    {"EXIT", "0E 00", "EXIT"},
    {"FW_VERSION 2.15", "0F 00 02 00 0F 00", "FW_VERSION 2.15"},
    {"FW_VERSION -1.5", "0F 00 00 00 A1 FF", "FW_VERSION 0.-95"},
    // The smallest negative minor, and one below a negative major.
    {"FW_VERSION -1.1", "0F 00 00 00 9D FF", "FW_VERSION 0.-99"},
    {"FW_VERSION -3.95", "0F 00 FE FF FB FF", "FW_VERSION -2.-5"},
    {"GETKEY", "10 00", "GETKEY"},
    {"HLCD 2 3 VBAT 1.0 -2.0", "11 00 01 02 04 00 00 00 00 01 03 | | 00 00 80 3F 00 00 00 C0",
     "HLCD 2 3 VBAT  1.000000 -2.000000 "},
    {"INHALE B", "12 00 02", "INHALE B "},
    {"LCD 1 1 \"OK\"", "13 00 00 00 06 02 | 4F 4B 00", "LCD 1 1 \"OK\" "},
    // Just above the midpoint between 1 and the next float: rounding through
    // a double would give 1. Floats beyond the range are infinite.
    {"LCD 1 1 VBAT 1.0000000596046447755 3.5e38", "13 00 00 00 04 00 00 00 00 01 03 | | 01 00 80 3F 00 00 80 7F",
     "LCD 1 1 VBAT  1.000000 inf ", "LCD 1 1 VBAT 1.0000001 1.0e39"},
    // The array precedes the floats in the data table.
    {"LCD 8 16 {7} 0.5 0.0", "13 00 07 0F 10 01 03 00 00 01 04 | | 07 00 00 00 3F 00 00 00 00",
     "LCD 8 16 { 0x07 }  0.500000 0.000000 ", "LCD 8 16 {0x07} 0.5 0.0"},
    // A TEXT length that would run off the screen was negative.
    {"LCD 8 1 TEXT[0,-65436]", "13 00 07 00 03 00 00 64 00", "LCD 8 1 TEXT[0,-65436] "},
    {"HUD 1 32 TEXT[0,-5]", "22 00 00 1F 03 00 00 FB FF", "HUD 1 32 TEXT[0,-5] "},
    {"LED red toggle", "14 00 02 03", "LED RED TOGGLE ", "LED RED TOGGLE"},
    {"LOG NEW DATA[1,2] 1.0 1.0", "15 00 02 02 01 00 02 00 01 03 | | 00 00 80 3F 00 00 80 3F",
     "LOG NEW DATA[1,2]  1.000000 1.000000 "},
    {"LOG ADD SERNUM 0.1 -0.0", "15 00 03 1D 00 00 00 00 01 03 | | CD CC CC 3D 00 00 00 80",
     "LOG ADD SERNUM  0.100000 -0.000000 "},
    // An operand holds a VAR index in 16 bits.
    {"LOG FILE VAR[70000]", "15 00 01 18 70 11", "LOG FILE VAR[70000] ", "LOG FILE VAR[4464]"},
    // Floats come back in their shortest form that reads as the same float.
    {"LOG NEW AMPS 3.14159274 1.4e-45", "15 00 02 1F 00 00 00 00 01 03 | | DB 0F 49 40 01 00 00 00",
     "LOG NEW AMPS  3.141593 0.000000 ", "LOG NEW AMPS 3.1415927 1.0e-45"},
    {"HLCD 2 3 \"hi\" 1.5 -2.25e-7", "11 00 01 02 06 02 00 00 00 01 03 | 68 69 00 | 00 00 C0 3F 87 97 71 B4",
     "HLCD 2 3 \"hi\"  1.500000 -0.000000 ", "HLCD 2 3 \"hi\" 1.5 -2.25e-07"},
    {"NET LIN 29 500000", "16 00 05 1D 20 A1 07", "NET LIN 29 500000"},
    {"PERIODIC MSG 100 0x7DF 2 0x13E", "17 00 02 64 00 DF 07 00 00 02 03 | | 02 3E",
     "PERIODIC MSG 100 0x7DF 0x2 0x13E ", "PERIODIC MSG 100 0x7DF 0x02 0x3E"},
    {"PERIODIC SID 1000 0x3E 0x80", "17 00 01 E8 03 00 00 00 00 02 03 | | 3E 80", "PERIODIC SID 1000 0x3E 0x80 "},
    {"PERIODIC MSG 5", "17 00 02 05", "PERIODIC MSG 5 "},
    // The file name is the driver's: the decoder finds none.
    {"PROG \"a.vbf\" 0x0102", "18 00 02 01 03 | | 01 02", "PROG \"a.vbf\" 0x0102 ", "PROG \"\" 0x0102"},
    {"PROGNC \"a.vbf\"", "20 00", "PROGNC \"a.vbf\" ", "PROGNC \"\""},
    {"PROGNR \"b.vbf\" 0xFF", "21 00 01 01 03 | | FF", "PROGNR \"b.vbf\" 0xFF ", "PROGNR \"\" 0xFF"},
    {"READ SID", "19 00 01 FF FF FF FF", "READ SID "},
    {"READ MSG 0x22", "19 00 02 22", "READ MSG 34 "},
    {"VERSION \"v1\"", "1A 00 02 00 | 76 31 00", "VERSION \"v1\" "},
    {"VIN_VERIFY \"\"", "1B 00 02 00 | 00", "VIN_VERIFY \"\" "},
    {"WAITKEY ENTER", "1C 00 07", "WAITKEY ENTER "},
    {"WAITKEY -2", "1C 00 01 FE FF FF FF", "WAITKEY "},
    {"WAITKEY 'A'", "1C 00 01 41", "WAITKEY ", "WAITKEY 65"},
    {"WAITKEY BIT[1,-3]", "1C 00 0F 01 00 FD FF", "WAITKEY "},
    {"WAITKEY FLOAT[4,4]", "1C 00 12 04 00 04 00", "WAITKEY "},
    {"WAITKEY 1.5", "1C 00 19 00 00 C0 3F", "WAITKEY "},
    {"WRITE SID 0x10 0x03", "1D 00 01 00 00 00 00 02 03 | | 10 03", "WRITE SID 0x10 0x3 "},
    {"WRITE MSG 0x7E0 0x3E 0", "1D 00 02 E0 07 00 00 02 03 | | 3E 00",
     "WRITE MSG 0x7E0 0x3E 0x0 ", "WRITE MSG 0x7E0 0x3E 0x00"},
    // An empty MSG list leaves the identifier 0.
    {"WRITE MSG", "1D 00 02 00 00 00 00 00 03", "WRITE MSG "},
    {"SECURITY 3 0x112233", "1E 00 03 03 03 | | 11 22 33", "SECURITY 3 0x112233 "},
    {"GETTIME", "1F 00", "GETTIME"},
    {"REQUEST 0x22 0xF1 0x90", "23 00 00 00 00 00 03 03 | | 22 F1 90", "REQUEST 0x22 0xF1 0x90 "},
    {"REQUEST", "23 00 00 00 00 00 00 03", "REQUEST "},
    {"SET_VALUE volts 12000", "24 00 08 E0 2E", "SET_VALUE VOLTS 12000", "SET_VALUE VOLTS 12000"},
    {"VAR[3] = 1.5 * UDATA[2,4]", "25 00 03 03 19 00 00 C0 3F 1B 02 00 04 00", "VAR[3] = 1.500000 * UDATA[2,4] "},
    {"VAR[1] = VAR[2]", "25 00 01 00 18 02 00 00 00 1A", "VAR[1] = VAR[2]  "},
    {"RETURN", "26 00", "RETURN"},
    {"UPLOAD 0xFFFFFFFF 1", "28 00 FF FF FF FF 01", "UPLOAD 0xFFFFFFFF 0x1", "UPLOAD 0xFFFFFFFF 0x1"},
    {"DOWNLOAD -1 0x20", "2A 00 FF FF FF FF 20", "DOWNLOAD 0xFFFFFFFF 0x20", "DOWNLOAD 0xFFFFFFFF 0x20"},
    {"MEM 0x40000 = \"AB\"", "29 00 00 00 04 00 08 02 03 | | 41 42", "MEM 262144 = 0x4142 ", "MEM 0x40000 = 0x4142"},
    {"MEM -7 + \"\"", "29 00 F9 FF FF FF 01 00 03", "MEM -7 + 0x "},
    // Character codes from 0x80 up list as their byte.
    {"MEM 4095 - \"\xE9yp(\"", "29 00 FF 0F 00 00 02 04 03 | | E9 79 70 28",
     "MEM 4095 - 0xE9797028 ", "MEM 0xFFF - 0xE9797028"},
    {"REQ_FILE \"log.txt\"", "2B 00 02 00 | 6C 6F 67 2E 74 78 74 00", "REQ_FILE \"log.txt\" "},
    // Laid out by program assembly, not by the encoder.
    {"DO", nullptr, "DO"},
    {"ELSE", nullptr, "ELSE"},
    {"ENDDO", nullptr, "ENDDO"},
    {"ENDIF", nullptr, "ENDIF"},
    {"GOTO loop:", nullptr, "GOTO loop", "GOTO loop"},
    {"GOSUB sub_1", nullptr, "GOSUB sub_1"},
    {"a.b-c:d_e::", nullptr, "a.b-c:d_e:", "a.b-c:d_e:"},
};

std::vector<uint8_t> appended(const std::vector<uint8_t>& table, size_t before) {
    return std::vector<uint8_t>(table.begin() + static_cast<std::ptrdiff_t>(before), table.end());
}

TEST(Statements, EncodeListDecodeAndDecompile) {
    for (const row& r : rows) {
        SCOPED_TRACE(r.script);
        const std::string decompiled = r.decompiled.empty() ? r.script : r.decompiled;
        const one_statement parsed = only(r.script);
        EXPECT_EQ(dump_command(parsed.cmd(), parsed.s), r.listing);
        if (r.bytes == nullptr) {
            EXPECT_EQ(operation_of(parsed.cmd().kind), 0);
            EXPECT_EQ(statement_text(parsed.cmd(), parsed.s), decompiled);
            continue;
        }

        const encoded e = encode(parsed.cmd(), parsed.s);
        std::string parts[3];
        std::istringstream bytes(r.bytes);
        for (std::string& part : parts) std::getline(bytes, part, '|');
        EXPECT_EQ(e.op, opcode_of(parts[0].c_str()));
        EXPECT_EQ(appended(e.tables.string_table, 2), hex(parts[1]));
        EXPECT_EQ(appended(e.tables.data_table, 3), hex(parts[2]));

        script pools;
        std::vector<std::string> problems;
        const command decoded = decode_statement(
            e.op, 0x40, program_tables{e.tables.string_table, e.tables.data_table}, pools, problems);
        EXPECT_EQ(problems, std::vector<std::string>{});
        EXPECT_EQ(decoded.kind, parsed.cmd().kind == CMD_WHILE ? CMD_IF : parsed.cmd().kind);
        const encoded again = encode(decoded, pools);
        EXPECT_EQ(again.op, e.op);
        EXPECT_EQ(again.tables.string_table, e.tables.string_table);
        EXPECT_EQ(again.tables.data_table, e.tables.data_table);

        // A condition decodes as IF whatever its statement was.
        std::string text = statement_text(decoded, pools);
        if (parsed.cmd().kind == CMD_WHILE) text.replace(0, 2, "WHILE");
        EXPECT_EQ(text, decompiled);
        const one_statement reparsed = only(decompiled);
        EXPECT_EQ(encode(reparsed.cmd(), reparsed.s).op, e.op);
    }
}

// What the decoder reports for bytes that no script can have made.
TEST(Statements, DecodeProblems) {
    const struct {
        const char* opcode;
        std::string problem;
    } rows[] = {
        {"63 00", "unknown operation code 99"},
        {"14 00 03 01", "LED colour code 3 has no word in the script language"},
        {"01 00 06 01 00 00 00 00 01", "comparison code 6 has no word in the script language"},
        {"1C 00 23", "expression kind 35 is no operand of the script language"},
        {"1C 00 19 00 00 C0 7F", "a float that is not a number cannot be written in a script"},
        {"0D 00 09 00", "string offset 9 lies outside the string table (4 bytes)"},
        {"0D 00 02 00", "the text at string offset 2 has no NUL before the end of the string table"},
        {"1E 00 01 00 03", "a key of 0 bytes: keys hold 1 to 32 bytes"},
        {"23 00 00 00 00 00 02 02", "data bytes 2 to 4 lie outside the data table (3 bytes)"},
        {"0F 00 01 00 64 00", "FW_VERSION with major 1 and minor 100 cannot be written as XX.YY"},
        {"19 00 01 FE FF FF FF", "READ value 0xFFFFFFFE cannot be written in a script"},
        {"25 00 01 00 01 02 00 00 00 01 03", "an assignment without an operator has a second operand"},
    };
    const std::vector<uint8_t> strings = {'a', 0, 'b', 'c'}, data = {1, 2, 3};
    for (const auto& r : rows) {
        script pools;
        std::vector<std::string> problems;
        decode_statement(opcode_of(r.opcode), 0x30, program_tables{strings, data}, pools, problems);
        EXPECT_EQ(problems, std::vector<std::string>{"instruction at 0x0030: " + r.problem}) << r.opcode;
    }
}

// The listing of records no script makes: codes and kinds without a word,
// floats marked neither present nor absent. The listing frames each command
// with its line.
TEST(Statements, ListRecordsNoScriptMakes) {
    const prim_expr seven = prim_expr::number_of(7), nil = ex(EXPR_NIL);
    const struct {
        command cmd;
        std::string listing;
    } rows[] = {
        {make(CMD_WAITKEY, waitkey_form{ex(EXPR_NONE)}), "WAITKEY "},
        {make(CMD_LOG, log_form{log_mode{}, 0, ex(static_cast<expr_kind>(35)), 0, 0}), "LOG ??? "},
        {make(CMD_IF, condition_form{{seven, seven, test_code{6}}}), "IF 7 ??? 7 "},
        {make(CMD_VAR, assignment_form{3, {seven, seven, OP_NONE}}), "VAR[3] = 7 ??? 7 "},
        // Without a right side neither operator nor operand shows; two blanks end it.
        {make(CMD_VAR, assignment_form{3, {seven, nil, OP_ADD}}), "VAR[3] = 7  "},
        {make(CMD_DID, did_form{did_operation{6}, OP_ADD, 2, 0, 0, 0}), "DID UNKNOWN 0x2 "},
        {make(CMD_DID, did_form{DID_MODIFY, OP_NONE, 1, 0, 0, 0}), "DID MODIFY 0x1 0 0 ? 0x00 "},
        {make(CMD_NET, net_form{net_network{6}, 0, 1}), "NET 0 1"},
        {make(CMD_SET_VALUE, set_value_form{set_value_param{9}, 5}), "SET_VALUE 5"},
        {make(CMD_HUD, screen_form{1, 1, ex(EXPR_VBAT), 2, 1.5f, 2.5f}), "HUD 1 1 VBAT "},
        {make(cmd_kind{}, bare_form{}), "???"},
        {make(static_cast<cmd_kind>(48), bare_form{}), "???"},
    };
    script s;
    std::string listing;
    for (const auto& r : rows) {
        s.commands.push_back(r.cmd);
        s.commands.back().line = static_cast<uint32_t>(s.commands.size()) * 1000000;
        listing.append(":").append(std::to_string(s.commands.back().line)).append("::").append(r.listing).append("\n");
    }
    EXPECT_EQ(listing_of(s), listing);
    // Floats marked neither present nor absent go into the opcode as they
    // are, without their values.
    EXPECT_EQ(encode(rows[9].cmd, s).op, opcode_of("22 00 00 00 04 00 00 00 00 02"));
}

}  // namespace
}  // namespace vendrak
