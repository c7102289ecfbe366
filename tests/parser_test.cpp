// Parser tests for the reader and tokenizer: character source and line numbers,
// DEFINE substitution, tokens and numbers. Statements and expressions are in
// parser_statement_test.cpp.
#include "parser_test.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vendrak::testing {
namespace {

using namespace std::string_literals;

std::string crlf(std::string text) {
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) text.insert(at, 1, '\r');
    return text;
}

// ---- character source and line numbers ----

TEST(ParserSource, CrLfParsesLikeLfWithTheSameLines) {
    const std::string lf =
        "DEFINE SPEED 500000\nNET CAN_HS 11 SPEED\n; note\nEXEC \"two\nlines\"\nLCD 1 1\n\"x\" /* c\n */ DELAY\n5";
    const script s = parse_script_text(lf);
    const script crlf_script = parse_script_text(crlf(lf));
    EXPECT_EQ(s.commands, crlf_script.commands);
    EXPECT_EQ(s.texts, crlf_script.texts);
    ASSERT_EQ(s.commands.size(), 4u);
    std::vector<uint32_t> lines;
    for (const command& c : s.commands) lines.push_back(c.line);
    // the floats are absent; DELAY stands on line 8
    EXPECT_EQ(lines, (std::vector<uint32_t>{2, 5, 7, 9}));
    EXPECT_EQ(std::get<net_form>(s.commands[0].form), (net_form{NET_CAN_HS, 11, 500000}));
    EXPECT_EQ(s.texts, "two\nlinesx");
    EXPECT_EQ(std::get<delay_form>(s.commands[3].form).value, 5);
    EXPECT_EQ(error_of(lf + "\nbogus"), "[10] Error: Unknown command: bogus\n");
    EXPECT_EQ(error_of(crlf(lf + "\nbogus")), "[10] Error: Unknown command: bogus\n");
    EXPECT_EQ(error_of(crlf("DO\nLED\nBLUE")), "[2] Error: Unknown LED <color>\n");
}

TEST(ParserSource, RecordLineIsWhereTheStatementsLastTokenEnds) {
    const script s = parse_script_text("DO GETKEY ENDDO\nDELAY\n\n5\n\nloop:\n");
    std::vector<uint32_t> lines;
    for (const command& c : s.commands) lines.push_back(c.line);
    EXPECT_EQ(lines, (std::vector<uint32_t>{1, 1, 1, 4, 6}));
}

TEST(ParserSource, MessageLines) {
    const struct {
        std::string src, message;
    } cases[] = {
        // an unknown command names its own line, other messages the line of the token before
        {"DO\n\nfoo", "[3] Error: Unknown command: foo\n"},
        {"\n/* 1\n2\n3 */ foo", "[4] Error: Unknown command: foo\n"},
        {"DO ; x\n foo", "[2] Error: Unknown command: foo\n"},
        {"DELAY\nfoo", "[1] Error: expected a number, but found: foo\n"},
        {"DO\nDELAY\n\n", "[2] Error: expected a number, but found: \n"},
        {"EXEC \"a\nb\"\nLED BLUE ON", "[3] Error: Unknown LED <color>\n"},
        {"DELAY 1\nDEFINE X\nDELAY 2", "[2] Error: expected a definition, but found nothing.\n"},
        {"DELAY 1\n" + std::string(1024, 'a'), "Token too long: " + std::string(1023, 'a') + "\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.src), c.message) << c.src;
}

TEST(ParserSource, ReadsAStreamThroughItsBufferAndKeepsRecordsBeforeAnError) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "DELAY " + std::to_string(i) + "\n";
    text += "DEFINE A DO A\nA";
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    script s;
    try {
        parse_script(f, s);
        ADD_FAILURE() << "no error";
    } catch (const fatal_error& e) {
        // A stands for DO A; the trailing A is not replaced again
        EXPECT_EQ(e.message(), "[20002] Error: Unknown command: A\n");
    }
    std::fclose(f);
    ASSERT_EQ(s.commands.size(), 20001u);
    EXPECT_EQ(s.commands[12345].line, 12346u);
    EXPECT_EQ(std::get<delay_form>(s.commands[12345].form).value, 12345);
    EXPECT_EQ(s.commands.back().kind, CMD_DO);
    EXPECT_EQ(s.commands.back().line, 20002u);
}

TEST(ParserSource, EmptyInputsAndNulBytes) {
    EXPECT_TRUE(parse_script_text("").commands.empty());
    EXPECT_TRUE(parse_script_text(" \n\t/* a */ ; b\n\v\f\r\n").commands.empty());
    EXPECT_EQ(delays("DELAY 1\0DELAY 2"s), (std::vector<int32_t>{1}));
    EXPECT_EQ(error_of("DELAY \0 2"s), "[1] Error: expected a number, but found: \n");
    // a NUL inside a string ends the token text there: "ab less its last character
    EXPECT_EQ(only("EXEC \"ab\0cd\""s).s.texts, "a");
}

// ---- DEFINE ----

TEST(ParserDefine, Substitution) {
    const struct {
        std::string src;
        std::vector<int32_t> values;
    } cases[] = {
        {"DEFINE N 4\nDELAY N", {4}},
        {"DEFINE N 4\nDELAY N;c", {4}},
        {"DEFINE D DELAY\nD 3 D 4", {3, 4}},
        {"DEFINE TWO DELAY 2\nTWO", {2}},                                // name at the end of input
        {"DEFINE X 5\nDEFINE Y X\nDEFINE X 6\nDELAY X DELAY Y", {6, 5}},  // Y keeps the old value
        {"DEFINE DELAY 7\ndelay 5", {5}},                                 // names are case-sensitive
        {"DEFINE X 5 ; note\nDELAY X", {5}},
        {"DEFINE X 1 /*\n*/ DELAY X", {1}},  // a line break in a comment ends the value
        {"DELAY 1 DEFINE X 1 2", {1}},       // last line without a line feed
        {"DELAY 1\nDEFINE X", {1}},
        // C is defined after A: the last token of A's value is replaced in turn
        {"DEFINE B 9\nDEFINE A DELAY C\nDEFINE C B\nA", {9}},
        // an empty name (read from a NUL byte) stands for the end of input, but only once
        {"DEFINE\0 DELAY 3"s, {3}},
    };
    for (const auto& c : cases) EXPECT_EQ(delays(c.src), c.values) << c.src;

    EXPECT_EQ(only("DEFINE IDX 3\nVAR[IDX] = 1").form<assignment_form>().index, 3);
    EXPECT_EQ(only("DEFINE S \"a b\"\nEXEC S").s.texts, "a b");
}

TEST(ParserDefine, Errors) {
    const struct {
        const char *src, *message;
    } cases[] = {
        {"DEFINE N 4\nDELAY n", "[2] Error: expected a number, but found: n\n"},
        {"DEFINE X\nDELAY 1", "[1] Error: expected a definition, but found nothing.\n"},
        {"DEFINE X 5\nDEFINE X X 6\nDELAY X", "[3] Error: Unknown command: 6\n"},  // X was " 5 6"
        {"DEFINE DELAY 7\nDELAY", "[2] Error: Unknown command: 7\n"},
        {"DEFINE X 1 /*\n*/ 6", "[2] Error: Unknown command: 6\n"},
        // a name that ends its own value, or a value in its chain, is left as it is
        {"DEFINE A DO A\nA", "[2] Error: Unknown command: A\n"},
        {"DEFINE A B\nDEFINE B A\nA", "[3] Error: Unknown command: B\n"},
        {"DEFINE A DO B\nDEFINE B DO A\nA", "[3] Error: Unknown command: B\n"},  // B is " DO DO B"
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.src), c.message) << c.src;
}

TEST(ParserDefine, ManyNamesParseInLinearTime) {
    std::string text;
    for (int i = 0; i < 10000; ++i) text += "DEFINE N" + std::to_string(i) + " " + std::to_string(i) + "\n";
    text += "REQUEST";
    for (int i = 0; i < 1000000; ++i) text += " N" + std::to_string(i % 10000);
    const auto start = std::chrono::steady_clock::now();
    const auto request = only(text);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(request.form<request_form>().bytes.size, 1000000u);
    EXPECT_EQ(request.s.values[123456], 3456);
    EXPECT_LT(took.count(), 30.0);
}

// ---- tokens and numbers ----

TEST(ParserNumbers, SignedWithAutomaticBaseAndClamping) {
    constexpr int32_t max = std::numeric_limits<int32_t>::max(), min = std::numeric_limits<int32_t>::min();
    const struct {
        const char* token;
        int32_t value;
    } cases[] = {
        {"0x10", 16}, {"0X1f", 31}, {"010", 8}, {"08", 0}, {"-077", -63}, {"12ms", 12}, {"1.9", 1},
        {"5-3", 5}, {"-5", -5}, {"0x", 0}, {"0xg", 0}, {"-0x10", -16}, {"2147483647", max},
        {"2147483648", max}, {"0xFFFFFFFF", max}, {"99999999999999999999999", max},
        {"-2147483648", min}, {"-2147483649", min},
    };
    for (const auto& c : cases) EXPECT_EQ(delays("DELAY "s + c.token), std::vector<int32_t>{c.value}) << c.token;
    for (const char* bad : {"-", ".5", "x1", ""}) {
        EXPECT_EQ(error_of("DELAY "s + bad), "[1] Error: expected a number, but found: "s + bad + "\n");
    }
}

TEST(ParserNumbers, Unsigned) {
    const struct {
        const char* token;
        uint32_t value;
    } cases[] = {
        {"0xFFFFFFFF", 4294967295u}, {"-1", 4294967295u}, {"4294967296", 4294967295u},
        {"-4294967295", 1u}, {"-4294967296", 4294967295u}, {"017", 15u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(only("UPLOAD "s + c.token + " 1").form<transfer_form>().first, c.value) << c.token;
        EXPECT_EQ(only("DOWNLOAD 1 "s + c.token).form<transfer_form>().second, c.value) << c.token;
    }
    EXPECT_EQ(error_of("UPLOAD x 1"), "[1] Error: expected unsigned number, but found: x\n");
    EXPECT_EQ(error_of("DOWNLOAD 1"), "[1] Error: expected unsigned number, but found: \n");
}

TEST(ParserNumbers, Floats) {
    const struct {
        const char* token;
        float value;
    } cases[] = {
        {"1.5e3", 1500.0f}, {"2.0", 2.0f}, {"-.5", -0.5f}, {".5e1", 5.0f}, {"2.5E-1", 0.25f},
        {"1.2.3", 1.2f}, {"0x1.8", 0.0f}, {"1.5e", 1.5f}, {"1.5e-", 1.5f}, {"1.e5", 1.0f},
        // just above the midpoint between 1 and the next float: rounding via double would give 1
        {"1.0000000596046447755", 0x1.000002p0f},
        {"3.5e38", std::numeric_limits<float>::infinity()},
    };
    for (const auto& c : cases) {
        const screen_form lcd = only("LCD 1 1 VBAT "s + c.token + " 0.5").form<screen_form>();
        EXPECT_EQ(lcd.has_floats, 1u) << c.token;
        EXPECT_EQ(lcd.float_a, c.value) << c.token;
        EXPECT_EQ(lcd.float_b, 0.5f);
    }
    EXPECT_EQ(error_of("LCD 1 1 VBAT 2.0 3"), "[1] Error: expected a float, but found: 3\n");
    EXPECT_EQ(error_of("LCD 1 1 VBAT 2.0 1e5"), "[1] Error: expected a float, but found: 1e5\n");
    EXPECT_EQ(error_of("HUD 1 1 VBAT 2.0"), "[1] Error: expected a float, but found: \n");
}

TEST(ParserNumbers, HexByteStrings) {
    const struct {
        std::string token;
        std::vector<uint8_t> key;  // empty: the message below
        std::string message;
    } cases[] = {
        {"0x0102", {1, 2}, ""},
        {"0xaBcD", {0xAB, 0xCD}, ""},
        {"0x" + std::string(64, 'f'), std::vector<uint8_t>(32, 255), ""},
        {"0x" + std::string(66, 'f'), {}, "invalid security key length: 0x" + std::string(66, 'f')},
        {"0x1", {}, "invalid security key length: 0x1"},
        {"0x", {}, "invalid security key length: 0x"},
        {"0x123", {}, "invalid security key length: 0x123"},
        {"0xZZ", {}, "invalid security hex value: 0xZZ"},
        {"0x12G4", {}, "invalid security hex value: 0x12G4"},
        {"0X0102", {}, "expected a security key, but found: 0X0102"},
        {"", {}, "expected a security key, but found: "},
    };
    for (const auto& c : cases) {
        const std::string src = "SECURITY 1 " + c.token;
        if (!c.message.empty()) {
            EXPECT_EQ(error_of(src), "[1] Error: " + c.message + "\n");
            continue;
        }
        const auto one = only(src);
        EXPECT_EQ(one.form<security_form>().key, (bytes_ref{0, static_cast<uint32_t>(c.key.size())}));
        EXPECT_EQ(one.s.bytes, c.key) << c.token;
    }
    EXPECT_EQ(only("MEM 1 = 0x" + std::string(510, '7')).s.bytes, std::vector<uint8_t>(255, 0x77));
    EXPECT_EQ(error_of("MEM 1 = 0x" + std::string(512, '7')),
              "[1] Error: invalid MEM data length: 0x" + std::string(512, '7') + "\n");
}

TEST(ParserTokens, LengthLimit) {
    EXPECT_EQ(only("GOTO " + std::string(1023, 'a')).s.texts, std::string(1023, 'a'));
    EXPECT_EQ(error_of("GOTO " + std::string(1024, 'a')), "Token too long: " + std::string(1023, 'a') + "\n");
    EXPECT_EQ(only("EXEC \"" + std::string(1021, 's') + "\"").s.texts, std::string(1021, 's'));
    EXPECT_EQ(error_of("EXEC \"" + std::string(1022, 's') + "\""), "Token too long: \"" + std::string(1022, 's') + "\n");
    // an unclosed string takes one 0xFF byte per step at the end of input
    EXPECT_EQ(error_of("EXEC \"abc"), "Token too long: \"abc" + std::string(1019, '\xFF') + "\n");
    EXPECT_EQ(error_of("LCD 1 1 'x"), "Token too long: 'x" + std::string(1021, '\xFF') + "\n");
}

TEST(ParserTokens, CommentsAndKeywordCase) {
    for (const char* src : {"DELAY /* c */ 5", "DELAY ; c\n5", "DELAY /*/ 5", "/**/DELAY/**/5", "DELAY 5 /* open",
                            "DELAY 5 ; last", "delay 5", "DeLaY 5", "DELAY\r\n5\r\n"}) {
        EXPECT_EQ(delays(src), std::vector<int32_t>{5}) << src;
    }
}

}  // namespace
}  // namespace vendrak::testing
