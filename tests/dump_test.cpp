// The listing of what the statement table (compile_statements_test.cpp) does
// not show: codes and kinds no script makes, texts of any length, and the
// framing of dump_script.
#include "dump/dump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "records.h"

namespace vendrak {
namespace {

using namespace records;

TEST(Dump, CodesAndKindsWithoutAWord) {
    const script none;
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
        {make(CMD_DAT_INIT, dat_form{dat_type{}, 5}), "DAT_INIT DID 0x5"},
        {make(CMD_DIAG, diag_form{diag_protocol{}, 16, 0}), "DIAG KWP2000 0x10 0x0"},
        {make(CMD_DID, did_form{did_operation{6}, OP_ADD, 2, 0, 0, 0}), "DID UNKNOWN 0x2 "},
        {make(CMD_DID, did_form{DID_MODIFY, OP_NONE, 1, 0, 0, 0}), "DID MODIFY 0x1 0 0 ? 0x00 "},
        {make(CMD_INHALE, inhale_form{}), "INHALE B "},
        {make(CMD_LED, led_form{}), "LED RED TOGGLE "},
        {make(CMD_NET, net_form{net_network{6}, 0, 1}), "NET 0 1"},
        {make(CMD_SET_VALUE, set_value_form{set_value_param{9}, 5}), "SET_VALUE 5"},
        {make(CMD_READ, read_form{msg_type{}, 0}), "READ MSG "},
        {make(cmd_kind{}, bare_form{}), "???"},
        {make(static_cast<cmd_kind>(48), bare_form{}), "???"},
    };
    for (const auto& r : rows) EXPECT_EQ(dump_command(r.cmd, none), r.listing);

    const struct {
        float value;
        std::string listing;
    } floats[] = {{16777216.0f, "16777216.000000 "}, {1e-7f, "0.000000 "}, {-2.25f, "-2.250000 "}};
    for (const auto& f : floats) EXPECT_EQ(dump_prim_expr(prim_expr::float_of(f.value), none), f.listing);
}

// Nothing bounds a listing text: strings, arrays, byte lists and keys are whole.
TEST(Dump, LongTextsAreNeverCut) {
    std::string ones, bytes, upper, key;
    for (int i = 0; i < 300; ++i) ones += " 0xAB", bytes += "0xab ", upper += "0xAB ";
    for (int i = 0; i < 32; ++i) key += "C3";
    const std::string text = "a'b\\n" + std::string(1000, 'x');
    const struct {
        std::string script, listing;
    } rows[] = {
        {"LCD 1 1 \"" + text + "\"", "LCD 1 1 \"" + text + "\" "},
        {"IF \"" + text + "\" = \"" + text + "\"", "IF \"" + text + "\" = \"" + text + "\" "},
        {"LOG ADD {" + ones + "}", "LOG ADD { " + bytes + "} "},
        {"REQUEST" + ones, "REQUEST " + upper},
        {"SECURITY 2 0x" + key, "SECURITY 2 0x" + key + " "},
    };
    for (const auto& r : rows) {
        const one_statement one = only(r.script);
        EXPECT_EQ(dump_command(one.cmd(), one.s), r.listing);
    }
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

TEST(Dump, OneFramedLinePerCommandInOrder) {
    EXPECT_EQ("", listing_of(script{}));
    script s = parse_script_text("DO\n\n\nNET CAN_HS 11 500000 VAR[3] = 7\nLCD 1 1 \"" + std::string(600, 'y') + "\"");
    s.commands.push_back(make(static_cast<cmd_kind>(144), bare_form{}, 4000000));
    EXPECT_EQ(":1::DO\n:4::NET CAN_HS 11 500000\n:4::VAR[3] = 7  \n:5::LCD 1 1 \"" + std::string(600, 'y') +
                  "\" \n:4000000::???\n",
              listing_of(s));
}

}  // namespace
}  // namespace vendrak
