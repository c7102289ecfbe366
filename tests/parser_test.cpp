// What the parser reads: one table of scripts, each with its -v listing
// (":line::text" per statement) or the message of its parse error. Every row
// is read a second time with CR LF line ends and must give the same. What
// each statement encodes is in compile_statements_test.cpp; where statements
// and their tokens begin, in the findings of check_test.cpp and lsp_test.cpp.
#include "records.h"

namespace vendrak {
namespace {

using namespace std::string_literals;
using records::error_of;
using vendrak_test::times;

std::string read_as(const std::string& text) {
    std::string listing;
    const std::string message = error_of([&] { listing = records::listing_of(parse_script_text(text)); });
    return message.empty() ? listing : message;
}

std::string crlf(std::string text) {
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) text.insert(at, 1, '\r');
    return text;
}

struct row {
    std::string script, read;
};

const std::string a1023(1023, 'a'), f64(64, 'f'), f66(66, 'f');
const std::string long_text = "a'b\\n" + std::string(1000, 'x'), ab300 = times(" 0xAB", 300), c3 = times("C3", 32);
const std::string long_value = "DEFINE A" + times(" 1", 30000) + "\nWRITE MSG 0x7E0";

const row rows[] = {
    // Lines: a record stands on the line where its last token ends; an
    // unknown command names its own line, other messages the line of the
    // token before.
    {"DEFINE SPEED 500000\nNET CAN_HS 11 SPEED\n; note\nEXEC \"two\nlines\"\nLCD 1 1\n\"x\" /* c\n */ DELAY\n5",
     ":2::NET CAN_HS 11 500000\n:5::EXEC \"two\nlines\" \n:7::LCD 1 1 \"x\" \n:9::DELAY 5\n"},
    {"DO GETKEY ENDDO\nDELAY\n\n5\n\nloop:\n", ":1::DO\n:1::GETKEY\n:1::ENDDO\n:4::DELAY 5\n:6::loop:\n"},
    {"DO\n\nfoo", "[3] Error: Unknown command: foo\n"}, {"\n/* 1\n2\n3 */ foo", "[4] Error: Unknown command: foo\n"},
    {"DO ; x\n foo", "[2] Error: Unknown command: foo\n"}, {"DO\nLED\nBLUE", "[2] Error: Unknown LED <color>\n"},
    {"DELAY\nfoo", "[1] Error: expected a number, but found: foo\n"},
    {"DO\nDELAY\n\n", "[2] Error: expected a number, but found: \n"},
    {"EXEC \"a\nb\"\nLED BLUE ON", "[3] Error: Unknown LED <color>\n"},
    {"DELAY 1\nDEFINE X\nDELAY 2", "[2] Error: expected a definition, but found nothing.\n"},
    // Empty scripts, comments, keyword case, NUL bytes.
    {"", ""}, {" \n\t/* a */ ; b\n\v\f\r\n", ""}, {"DELAY /* c */ 5", ":1::DELAY 5\n"}, {"DELAY ; c\n5", ":2::DELAY 5\n"},
    {"DELAY /*/ 5", ":1::DELAY 5\n"}, {"/**/DELAY/**/5", ":1::DELAY 5\n"}, {"DELAY 5 /* open", ":1::DELAY 5\n"},
    {"DELAY 5 ; last", ":1::DELAY 5\n"}, {"delay 5 DeLaY 6", ":1::DELAY 5\n:1::DELAY 6\n"},
    {"DELAY 1\0DELAY 2"s, ":1::DELAY 1\n"}, {"DELAY \0 2"s, "[1] Error: expected a number, but found: \n"},
    // A NUL inside a string ends the token text there: "ab less its last character.
    {"EXEC \"ab\0cd\""s, ":1::EXEC \"a\" \n"},
    // A "/" that opens no comment is a token of its own, after any token.
    {"VAR[1] = 100 / 7", ":1::VAR[1] = 100 / 7 \n"},
    // DEFINE: names are case-sensitive and replaced by the value they have
    // where they are used; a comment or a line break ends the value.
    {"DEFINE N 4\nDELAY N;c\nDEFINE D DELAY\nD 3 D 4", ":2::DELAY 4\n:4::DELAY 3\n:4::DELAY 4\n"},
    {"DEFINE TWO DELAY 2\nTWO", ":2::DELAY 2\n"},
    {"DEFINE X 5\nDEFINE Y X\nDEFINE X 6\nDELAY X DELAY Y", ":4::DELAY 6\n:4::DELAY 5\n"},
    {"DEFINE DELAY 7\ndelay 5", ":2::DELAY 5\n"}, {"DEFINE X 5 ; note\nDELAY X", ":2::DELAY 5\n"},
    {"DEFINE X 1 /*\n*/ DELAY X", ":2::DELAY 1\n"}, {"DELAY 1 DEFINE X 1 2", ":1::DELAY 1\n"},
    {"DELAY 1\nDEFINE X", ":1::DELAY 1\n"},
    // C is defined after A: the last token of A's value is replaced in turn.
    {"DEFINE B 9\nDEFINE A DELAY C\nDEFINE C B\nA", ":4::DELAY 9\n"},
    // An empty name (read from a NUL byte) stands for the end of input, but only once.
    {"DEFINE\0 DELAY 3"s, ":1::DELAY 3\n"},
    {"DEFINE IDX 3\nVAR[IDX] = 1\nDEFINE S \"a b\"\nEXEC S", ":2::VAR[3] = 1  \n:4::EXEC \"a b\" \n"},
    {"DEFINE N 4\nDELAY n", "[2] Error: expected a number, but found: n\n"},
    {"DEFINE X\nDELAY 1", "[1] Error: expected a definition, but found nothing.\n"},
    {"DEFINE X 5\nDEFINE X X 6\nDELAY X", "[3] Error: Unknown command: 6\n"},  // X was " 5 6"
    {"DEFINE DELAY 7\nDELAY", "[2] Error: Unknown command: 7\n"}, {"DEFINE X 1 /*\n*/ 6", "[2] Error: Unknown command: 6\n"},
    // A name that ends its own value, or a value in its chain, is left as it
    // is; a name used in its own first definition is not defined there yet.
    {"DEFINE A DO A\nA", "[2] Error: Unknown command: A\n"}, {"DEFINE A B\nDEFINE B A\nA", "[3] Error: Unknown command: B\n"},
    {"DEFINE A DO B\nDEFINE B DO A\nA", "[3] Error: Unknown command: B\n"},  // B is " DO DO B"
    {"DEFINE A A DO\nDELAY 5\nA", "[3] Error: Unknown command: A\n"},
    // The "/" of a comment after a DEFINE value never becomes a token.
    {"DEFINE / 7\nDEFINE A 1 /* c */\nVAR[1] = A + 2\nVAR[2] = 3 / 2", "[4] Error: Unknown command: 7\n"},
    // Substitutions deliver at most 1 MiB plus 64 times the script bytes read
    // so far: 18 doublings fit, the 19th (line 20) does not; a 60,000-byte
    // value may be used 81 times on the line after its definition.
    {"DEFINE A 1\n" + times("DEFINE A A A\n", 18), ""},
    {"DEFINE A 1\n" + times("DEFINE A A A\n", 40), "[20] Error: DEFINE substitutions too long\n"},
    {long_value + times(" A", 82), "[2] Error: DEFINE substitutions too long\n"},
    // Signed numbers: automatic base, the digits up to the first other
    // character, clamped to 32 bits.
    {"DELAY 0x10 DELAY 0X1f DELAY 010 DELAY 08 DELAY -077 DELAY 12ms DELAY 1.9 DELAY 5-3 DELAY -5 DELAY 0x DELAY 0xg",
     ":1::DELAY 16\n:1::DELAY 31\n:1::DELAY 8\n:1::DELAY 0\n:1::DELAY -63\n:1::DELAY 12\n:1::DELAY 1\n:1::DELAY 5\n"
     ":1::DELAY -5\n:1::DELAY 0\n:1::DELAY 0\n"},
    {"DELAY -0x10 DELAY 2147483647 DELAY 2147483648 DELAY 0xFFFFFFFF DELAY 99999999999999999999999\n"
     "DELAY -2147483648 DELAY -2147483649",
     ":1::DELAY -16\n:1::DELAY 2147483647\n:1::DELAY 2147483647\n:1::DELAY 2147483647\n:1::DELAY 2147483647\n"
     ":2::DELAY -2147483648\n:2::DELAY -2147483648\n"},
    {"DELAY -", "[1] Error: expected a number, but found: -\n"}, {"DELAY .5", "[1] Error: expected a number, but found: .5\n"},
    {"DELAY x1", "[1] Error: expected a number, but found: x1\n"}, {"DELAY", "[1] Error: expected a number, but found: \n"},
    // Unsigned numbers wrap a minus sign modulo 2^32.
    {"UPLOAD 0xFFFFFFFF -1\nUPLOAD 4294967296 -4294967295\nDOWNLOAD -4294967296 017",
     ":1::UPLOAD 0xFFFFFFFF 0xFFFFFFFF\n:2::UPLOAD 0xFFFFFFFF 0x1\n:3::DOWNLOAD 0xFFFFFFFF 0xF\n"},
    {"UPLOAD x 1", "[1] Error: expected unsigned number, but found: x\n"},
    {"DOWNLOAD 1", "[1] Error: expected unsigned number, but found: \n"},
    // Floats: the longest prefix that reads as one.
    {"LCD 1 1 VBAT 1.5e3 -.5\nLCD 1 1 VBAT .5e1 2.5E-1\nHUD 1 1 VBAT 1.2.3 0x1.8\nHLCD 1 1 VBAT 1.5e 1.5e-\n"
     "LCD 1 1 VBAT 1.e5 3.5e38",
     ":1::LCD 1 1 VBAT  1500.000000 -0.500000 \n:2::LCD 1 1 VBAT  5.000000 0.250000 \n"
     ":3::HUD 1 1 VBAT  1.200000 0.000000 \n:4::HLCD 1 1 VBAT  1.500000 1.500000 \n:5::LCD 1 1 VBAT  1.000000 inf \n"},
    {"LCD 1 1 VBAT 2.0 3", "[1] Error: expected a float, but found: 3\n"},
    {"LCD 1 1 VBAT 2.0 1e5", "[1] Error: expected a float, but found: 1e5\n"},
    {"HUD 1 1 VBAT 2.0", "[1] Error: expected a float, but found: \n"},
    // Keys and MEM data: "0x" and an even number of hexadecimal digits.
    {"SECURITY 1 0x0102 SECURITY 2 0xaBcD SECURITY 3 0x" + f64,
     ":1::SECURITY 1 0x0102 \n:1::SECURITY 2 0xABCD \n:1::SECURITY 3 0x" + times("FF", 32) + " \n"},
    {"SECURITY 1 0x" + f66, "[1] Error: invalid security key length: 0x" + f66 + "\n"},
    {"SECURITY 1 0x1", "[1] Error: invalid security key length: 0x1\n"},
    {"SECURITY 1 0x", "[1] Error: invalid security key length: 0x\n"},
    {"SECURITY 1 0x123", "[1] Error: invalid security key length: 0x123\n"},
    {"SECURITY 1 0xZZ", "[1] Error: invalid security hex value: 0xZZ\n"},
    {"SECURITY 1 0x12G4", "[1] Error: invalid security hex value: 0x12G4\n"},
    {"SECURITY 1 0X0102", "[1] Error: expected a security key, but found: 0X0102\n"},
    {"SECURITY 1", "[1] Error: expected a security key, but found: \n"},
    {"MEM 1 = 0x" + std::string(510, '7'), ":1::MEM 1 = 0x" + std::string(510, '7') + " \n"},
    {"MEM 1 = 0x" + std::string(512, '7'), "[1] Error: invalid MEM data length: 0x" + std::string(512, '7') + "\n"},
    // Tokens hold 1023 bytes; an unclosed string takes one 0xFF byte per
    // step at the end of input.
    {"GOTO " + a1023, ":1::GOTO " + a1023 + "\n"}, {"GOTO " + a1023 + "a", "Token too long: " + a1023 + "\n"},
    {"DELAY 1\n" + a1023 + "a", "Token too long: " + a1023 + "\n"},
    {"EXEC \"" + std::string(1021, 's') + "\"", ":1::EXEC \"" + std::string(1021, 's') + "\" \n"},
    {"EXEC \"" + std::string(1022, 's') + "\"", "Token too long: \"" + std::string(1022, 's') + "\n"},
    {"EXEC \"abc", "Token too long: \"abc" + std::string(1019, '\xFF') + "\n"},
    {"LCD 1 1 'x", "Token too long: 'x" + std::string(1021, '\xFF') + "\n"},
    // Nothing bounds a listing text: strings, arrays, byte lists and keys are whole.
    {"LCD 1 1 \"" + long_text + "\"\nIF \"" + long_text + "\" = \"\"\nLOG ADD {" + ab300 + "}\nREQUEST" + ab300 +
         "\nSECURITY 2 0x" + c3,
     ":1::LCD 1 1 \"" + long_text + "\" \n:2::IF \"" + long_text + "\" = \"\" \n:3::LOG ADD { " + times("0xab ", 300) +
         "} \n:4::REQUEST " + times("0xAB ", 300) + "\n:5::SECURITY 2 0x" + c3 + " \n"},
    // Operands.
    {"LOG FILE 3.0 LOG FILE -0.5 LOG FILE 3 LOG FILE 0x1F LOG FILE -3 LOG FILE 017 LOG FILE 'A' LOG FILE '\xE9'\n"
     "LOG FILE 16777216.0 LOG FILE 1.0e-7 LOG FILE -2.25",
     ":1::LOG FILE 3.000000 \n:1::LOG FILE -0.500000 \n:1::LOG FILE 3 \n:1::LOG FILE 31 \n:1::LOG FILE -3 \n"
     ":1::LOG FILE 15 \n:1::LOG FILE 65 \n:1::LOG FILE -23 \n:2::LOG FILE 16777216.000000 \n:2::LOG FILE 0.000000 \n"
     ":2::LOG FILE -2.250000 \n"},
    {"LOG FILE '\"' LOG FILE \"hi 'there\" LOG FILE \"\" LOG FILE {1,2,3} LOG FILE {1 2 3,} LOG FILE {}\n"
     "LOG FILE { -1 , 0x10 }",
     ":1::LOG FILE 34 \n:1::LOG FILE \"hi 'there\" \n:1::LOG FILE \"\" \n:1::LOG FILE { 0x01 0x02 0x03 } \n"
     ":1::LOG FILE { 0x01 0x02 0x03 } \n:1::LOG FILE { } \n:2::LOG FILE { 0xffffffff 0x10 } \n"},
    {"LOG FILE data[0,2] LOG FILE BIT[1,3] LOG FILE HEX[2,4] LOG FILE UDATA [0x10, 1] LOG FILE FLOAT[0,4]\n"
     "LOG FILE TEXT[5,-6] LOG FILE VAR[3] LOG FILE var [ 15 ] LOG FILE DAT_STATUS LOG FILE vbat LOG FILE Escape\n"
     "LOG FILE RTC LOG FILE NIL LOG FILE p_time",
     ":1::LOG FILE DATA[0,2] \n:1::LOG FILE BIT[1,3] \n:1::LOG FILE HEX[2,4] \n:1::LOG FILE UDATA[16,1] \n"
     ":1::LOG FILE FLOAT[0,4] \n:2::LOG FILE TEXT[5,-6] \n:2::LOG FILE VAR[3] \n:2::LOG FILE VAR[15] \n"
     ":2::LOG FILE DAT_STATUS \n:2::LOG FILE VBAT \n:2::LOG FILE ESCAPE \n:3::LOG FILE RTC \n:3::LOG FILE NIL \n"
     ":3::LOG FILE P_TIME \n"},
    {"LOG FILE 'AB'", "[1] Error: Invalid primary expression: 'AB'\n"},
    {"LOG FILE ''", "[1] Error: Invalid primary expression: ''\n"},
    {"LOG FILE @", "[1] Error: Invalid primary expression: @\n"},
    {"LOG FILE", "[1] Error: Invalid primary expression: \n"},
    {"LOG FILE {1,x}", "[1] Error: expected '}', but found: x\n"},
    {"LOG FILE DATA[0 2]", "[1] Error: expected ',', but found: 2\n"},
    {"LOG FILE DATA 0", "[1] Error: expected '[', but found: 0\n"},
    {"LOG FILE DATA[0,2", "[1] Error: expected ']', but found: \n"},
    {"LOG FILE HEX[x,2]", "[1] Error: expected a number, but found: x\n"},
    {"LOG FILE VAR 1", "[1] Error: expected '[', but found: 1\n"}, {"LOG FILE VAR[1", "[1] Error: expected ']', but found: \n"},
    // Conditions and assignments; "3-4" is one word, its number 3.
    {"IF 1 = 2 IF 1 ! 2 IF 1 != 2 IF 1 < 2 IF 1 > 2 IF 1 & 2 while VAR[1]=KEY",
     ":1::IF 1 = 2 \n:1::IF 1 ! 2 \n:1::IF 1 ! 2 \n:1::IF 1 < 2 \n:1::IF 1 > 2 \n:1::IF 1 & 2 \n:1::WHILE VAR[1] = KEY \n"},
    {"VAR[1] = VAR[2] + 7 VAR[1] = 2 - 7 VAR[1] = 2 * 7 VAR[1] = 2 / 7 VAR[1] = 2 & 7 VAR[1] = 2 | 7\n"
     "VAR[1] = 2 ^ 7 VAR[1] = 2 = 7 VAR[1] = 3+4 VAR[1] = 3-4 VAR[1] = VAR[2]\nDELAY 5",
     ":1::VAR[1] = VAR[2] + 7 \n:1::VAR[1] = 2 - 7 \n:1::VAR[1] = 2 * 7 \n:1::VAR[1] = 2 / 7 \n:1::VAR[1] = 2 & 7 \n"
     ":1::VAR[1] = 2 | 7 \n:2::VAR[1] = 2 ^ 7 \n:2::VAR[1] = 2 = 7 \n:2::VAR[1] = 3 + 4 \n:2::VAR[1] = 3  \n"
     ":2::VAR[1] = VAR[2]  \n:3::DELAY 5\n"},
    {"IF VAR[1] <= 5", "[1] Error: Invalid test expression: <=\n"},
    {"IF VAR[1] == 5", "[1] Error: Invalid test expression: ==\n"},
    {"IF VAR[1] + 5", "[1] Error: Invalid test expression: +\n"}, {"IF VAR[1]", "[1] Error: Invalid test expression: \n"},
    // A comparison run is one token, separate characters are not.
    {"IF 1 ! = 2", "[1] Error: Invalid primary expression: =\n"},
    {"VAR[1] = VAR[2] -1", "[1] Error: Unknown command: -1\n"}, {"VAR[1] 5", "[1] Error: expected '=', but found: 5\n"},
    // Statement values. A list takes every token whose integer conversion
    // succeeds, labels and floats too; trailing colons leave a label, never
    // its first character.
    {"DAT_INIT did 0x10 DAT_INIT VIN READ SID 0x22 READ MSG PROG \"a.vbf\" PROG \"a.vbf\" 0x0102",
     ":1::DAT_INIT DID 0x10\n:1::DAT_INIT VIN \n:1::READ SID 34 \n:1::READ MSG \n:1::PROG \"a.vbf\" \n"
     ":1::PROG \"a.vbf\" 0x0102 \n"},
    {"WRITE SID 1 10: 1.5\nGOSUB loop: GOTO :: LOOP:: 1st: a.b-c:d_e: GOTO",
     ":1::WRITE SID 0x1 0xA 0x1 \n:2::GOSUB loop\n:2::GOTO :\n:2::LOOP:\n:2::1st:\n:2::a.b-c:d_e:\n:2::GOTO \n"},
    // FW_VERSION XX.YY: the minor number is read with automatic base and
    // then taken modulo 100 into the major.
    {"FW_VERSION 2.15 FW_VERSION 2.5 FW_VERSION 3 FW_VERSION 1.123 FW_VERSION 1.08 FW_VERSION 1.07\n"
     "FW_VERSION 0x10.0x2 FW_VERSION -1.5 FW_VERSION 21474837",
     ":1::FW_VERSION 2.15\n:1::FW_VERSION 2.5\n:1::FW_VERSION 3.0\n:1::FW_VERSION 2.23\n:1::FW_VERSION 1.0\n"
     ":1::FW_VERSION 1.7\n:2::FW_VERSION 16.2\n:2::FW_VERSION 0.-95\n:2::FW_VERSION -21474835.-96\n"},
    // Optional parts leave the next statement alone.
    {"LCD 1 1 VBAT DELAY 5 WRITE SID 0x10 0x03 DELAY 5 PROG \"a.vbf\" DELAY 1 EXHALE A loop: READ SID GETKEY\n"
     "LOG FILE VBAT DO",
     ":1::LCD 1 1 VBAT \n:1::DELAY 5\n:1::WRITE SID 0x10 0x3 \n:1::DELAY 5\n:1::PROG \"a.vbf\" \n:1::DELAY 1\n"
     ":1::EXHALE A \n:1::loop:\n:1::READ SID \n:1::GETKEY\n:2::LOG FILE VBAT \n:2::DO\n"},
    {"DAT_CREATE", "[1] Error: Unknown DAT_CREATE <type>\n"}, {"DAT_CHECK X", "[1] Error: Unknown DAT_CHECK <type>\n"},
    {"DAT_DELETE X", "[1] Error: Unknown DAT_DELETE <type>\n"}, {"DAT_INIT X", "[1] Error: Unknown DAT_INIT <type>\n"},
    {"DIAG ISO 1 2", "[1] Error: Unknown DIAG <type>\n"}, {"NET CAN 1 2", "[1] Error: Unknown NET <type>\n"},
    {"SET_VALUE X 1", "[1] Error: Unknown SET_VALUE <type>\n"}, {"PERIODIC X 1", "[1] Error: Unknown PERIODIC <type>\n"},
    {"READ X", "[1] Error: Unknown READ <type>\n"}, {"WRITE X", "[1] Error: Unknown WRITE <type>\n"},
    {"DID X 1", "[1] Error: Unknown DID <operation>\n"}, {"INHALE C", "[1] Error: Unknown INHALE <method>\n"},
    {"EXHALE C", "[1] Error: Unknown EXHALE <method>\n"}, {"LED BLUE ON", "[1] Error: Unknown LED <color>\n"},
    {"LED RED DIM", "[1] Error: Unknown LED >state>\n"}, {"LOG X VBAT", "[1] Error: Unknown LOG <type>\n"},
    {"foo", "[1] Error: Unknown command: foo\n"}, {":", "[1] Error: Unknown command: :\n"},
    {"_start:", "[1] Error: Unknown command: _start:\n"}, {"-x:", "[1] Error: Unknown command: -x:\n"},
    {"READ SID 34", "[1] Error: Unknown command: 34\n"}, {"LOG FILE VBAT 1.5", "[1] Error: Unknown command: 1.5\n"},
    {"WRITE SID 1, 2", "[1] Error: Unknown command: ,\n"}, {"EXEC 5", "[1] Error: expected a string, but found: 5\n"},
    {"PROG 'a'", "[1] Error: expected a string, but found: 'a'\n"},
    {"MEM 5 \"AB\"", "[1] Error: Invalid operator: \"AB\"\n"}, {"MEM 5 = 7", "[1] Error: expected a string, but found: 7\n"},
    {"DID MODIFY 1 2 3 % 4", "[1] Error: Invalid operator: %\n"},
    {"FW_VERSION x", "[1] Error: expected an XX.YY version number, but found: x\n"},
    {"SECURITY x 0x01", "[1] Error: expected a number, but found: x\n"},
};

TEST(Parser, ReadsEveryRowAsListed) {
    for (const row& r : rows) {
        EXPECT_EQ(read_as(r.script), r.read) << r.script.substr(0, 200);
        if (r.script.find('\r') == std::string::npos) {
            EXPECT_EQ(read_as(crlf(r.script)), r.read) << "with CR LF: " << r.script.substr(0, 200);
        }
    }
}

// The token offsets a formatter lays the text out by: for every row, with LF
// and CR LF, the same tokens and statements as script_positions, each token
// at the byte whose line and column script_positions gives (a token read
// from a DEFINE value at the name's); the statements read one at a time are
// those of the whole parse.
TEST(Parser, TokenOffsetsAndStatementByStatementReadingAgreeWithTheWholeParse) {
    for (const row& r : rows) {
        for (const std::string& text : {r.script, crlf(r.script)}) {
            script_positions positions;
            token_offsets offsets;
            error_of([&] { parse_script_text(text, &offsets); });
            // the rows whose names double their values many times over are read above
            if (offsets.tokens.size() > 4 * text.size()) continue;
            error_of([&] { parse_script_text(text, &positions); });
            const std::string shown = text.substr(0, 100);
            ASSERT_EQ(offsets.tokens.size(), positions.tokens.size()) << shown;
            ASSERT_EQ(offsets.statements.size(), positions.statements.size()) << shown;
            for (size_t st = 0; st < offsets.statements.size(); ++st) {
                EXPECT_EQ(offsets.statements[st].first, positions.statements[st].first) << shown;
                EXPECT_EQ(offsets.statements[st].end, positions.statements[st].end) << shown;
            }
            std::vector<uint32_t> line_starts{0};
            for (size_t i = 0; i < text.size(); ++i)
                if (text[i] == '\n') line_starts.push_back(static_cast<uint32_t>(i + 1));
            for (size_t k = 0; k < offsets.tokens.size(); ++k) {
                const uint32_t at = offsets.tokens[k];
                // the end of the input, after the last line end, has no byte of its own
                if (k + 1 == offsets.tokens.size() && positions.text(k).empty()) continue;
                const auto line = std::upper_bound(line_starts.begin(), line_starts.end(), at) - 1;
                const token_position place{static_cast<uint32_t>(line - line_starts.begin() + 1),
                                           static_cast<uint32_t>(at - *line + 1)};
                EXPECT_EQ(place, positions.tokens[k]) << shown << "\ntoken " << k << ": " << positions.text(k);
            }
            EXPECT_TRUE(std::is_sorted(offsets.from_define.begin(), offsets.from_define.end())) << shown;

            script one_by_one;
            const std::string error = error_of([&] {
                read_script_text(text, one_by_one, [&](const command& c) {
                    one_by_one.commands.push_back(c);
                    return true;
                });
            });
            EXPECT_EQ(error.empty() ? records::listing_of(one_by_one) : error, r.read) << shown;
        }
    }
}

TEST(Parser, TokensReadFromADefineValue) {
    const struct {
        std::string script;
        std::vector<uint32_t> tokens, from_define;
    } cases[] = {
        // the end of the input stands at the last byte
        {"DELAY 5", {0, 6, 6}, {}},
        // The value's tokens stand where the name does. The line end that
        // ends a DEFINE's value ends it as a token of its own, recorded
        // where the value's last token stands.
        {"DEFINE N 4\nDELAY N", {0, 7, 9, 9, 11, 17, 17}, {5}},
        {"DEFINE D DELAY 2\nD D", {0, 7, 9, 15, 15, 17, 17, 19, 19, 19}, {5, 6, 7, 8}},
        // a name inside a string is not replaced
        {"DEFINE S 1\nEXEC \"S\"", {0, 7, 9, 9, 11, 16, 18}, {}},
    };
    for (const auto& c : cases) {
        token_offsets offsets;
        parse_script_text(c.script, &offsets);
        EXPECT_EQ(offsets.tokens, c.tokens) << c.script;
        EXPECT_EQ(offsets.from_define, c.from_define) << c.script;
    }
}

// Reading one statement at a time stops where the reader is told to, before
// the error a later statement would give.
TEST(Parser, StatementByStatementReadingStopsWhenTold) {
    script pools;
    size_t seen = 0;
    EXPECT_EQ(error_of([&] { read_script_text("DELAY 1 DELAY 2 foo", pools, [&](const command&) { return ++seen < 2; }); }),
              "");
    EXPECT_EQ(seen, 2u);
    seen = 0;
    EXPECT_EQ(error_of([&] { read_script_text("DELAY 1 DELAY 2 foo", pools, [&](const command&) { return ++seen < 3; }); }),
              "[1] Error: Unknown command: foo\n");
}

// 81 uses of the 60,000-byte value above: a row whose listing is too long to write out.
TEST(Parser, LongDefineValueUsedToTheLimit) {
    EXPECT_EQ(error_of([] { EXPECT_EQ(parse_script_text(long_value + times(" A", 81)).values.size(), 81u * 30000 + 1); }),
              "");
}

}  // namespace
}  // namespace vendrak
