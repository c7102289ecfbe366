// Program assembly and the encoder's limits; every statement's encoding is
// in compile_statements_test.cpp.
#include "compile/compile.h"
#include "validate/validate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "records.h"

namespace vendrak {
namespace {

using namespace records;
using vendrak_test::times;

TEST(Encode, TableLimits) {
    const std::string mem255 = "MEM 1 = \"" + std::string(255, 'm') + "\"", request255 = "REQUEST" + times(" 1", 255);
    const std::string mem256 = "MEM 1 = \"" + std::string(256, 'm') + "\"";
    const struct {
        std::string script;
        size_t strings_before, data_before;
        std::string message;  // "" when accepted
        field offset_field;   // where the offset lands when accepted
        uint32_t offset;
    } rows[] = {
        {"EXEC \"z\"", 65535, 0, "", {2, 2}, 65535},
        {"EXEC \"z\"", 65536, 0, "[2] INTERNAL ERROR: stringTableIndex exceeded!\n", {}, 0},
        {"WAITKEY {1}", 0, 65535, "", {4, 2}, 65535},
        {"WAITKEY {1}", 0, 65536, "[2] INTERNAL ERROR: dataTableIndex exceeded!\n", {}, 0},
        // Offsets held in the opcode itself are 32 bits wide and unbounded.
        {"WRITE SID 1", 0, 70000, "", {8, 4}, 70000}, {mem255, 0, 0, "", {8, 4}, 0},
        {mem256, 0, 0, "[2] Error: Too many MEM bytes\n", {}, 0}, {request255, 0, 0, "", {7, 4}, 0},
        {request255 + " 1", 0, 0, "[2] Error: Too many REQUEST bytes\n", {}, 0},
    };
    for (const auto& r : rows) {
        const one_statement one = only("\n" + r.script);
        program out;
        out.string_table.resize(r.strings_before);
        out.data_table.resize(r.data_before);
        opcode_bytes op{};
        stop_at_first stop;
        EXPECT_EQ(error_of([&] { make_opcode(op, one.cmd(), 0, one.s, out, stop); }), r.message) << r.script;
        if (r.message.empty()) {
            EXPECT_EQ(get_field(op, r.offset_field), r.offset) << r.script;
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

std::vector<step> layout(const std::string& text) {
    program p;
    compile_script(parse_script_text(text), p);
    std::vector<step> steps;
    for (size_t i = 0; i < p.instructions.size(); ++i) {
        const auto& op = p.instructions[i].opcode;
        EXPECT_EQ(p.instructions[i].address, 16 * i);
        const uint32_t code = get_field(op, fields::code);
        steps.push_back({code, is_jump(code) ? get_field(op, fields::jump_target) : 0});
    }
    return steps;
}

TEST(Assemble, JumpLayouts) {
    const step CMP{OPC_CMP}, GETKEY{OPC_GETKEY}, EXIT{OPC_EXIT};
    auto jt = [](uint32_t t) { return step{OPC_JT, t}; };
    auto jf = [](uint32_t t) { return step{OPC_JF, t}; };
    auto jmp = [](uint32_t t) { return step{OPC_JMP, t}; };
    const struct {
        const char* script;
        std::vector<step> program;
    } rows[] = {
        {"", {EXIT}},
        {"IF 1 = 1 ENDIF", {CMP, jf(32), EXIT}},
        {"IF 1 = 1 GETKEY ELSE GETKEY ENDIF", {CMP, jf(64), GETKEY, jmp(80), GETKEY, EXIT}},
        // A second ELSE resumes the first ELSE's skip after its own JMP.
        {"IF 1 = 1 GETKEY ELSE GETKEY ELSE GETKEY ENDIF",
         {CMP, jf(64), GETKEY, jmp(96), GETKEY, jmp(112), GETKEY, EXIT}},
        {"IF 1 = 1 IF 1 = 1 GETKEY ENDIF GETKEY ENDIF", {CMP, jf(96), CMP, jf(80), GETKEY, GETKEY, EXIT}},
        {"DO GETKEY WHILE 1 = 1", {GETKEY, CMP, jt(0), EXIT}},
        {"DO GETKEY ENDDO GETKEY WHILE 1 = 1", {GETKEY, jmp(80), GETKEY, CMP, jt(0), EXIT}},
        // A pending ENDDO is taken by the next WHILE, whatever loop it closes.
        {"DO ENDDO DO WHILE 1 = 1 WHILE 1 = 1", {jmp(48), CMP, jt(16), CMP, jt(0), EXIT}},
        {"GOTO a GETKEY a: GETKEY a: GOSUB a", {jmp(32), GETKEY, GETKEY, {OPC_JMPS, 32}, EXIT}},
        {"GOTO end GOSUB Top Top: end:", {jmp(32), {OPC_JMPS, 32}, EXIT}},
    };
    for (const auto& r : rows) EXPECT_EQ(layout(r.script), r.program) << r.script;
}

// 100,000 blocks nested in each other pass the validator and compile
// without running out of stack, and every jump gets its target: every IF
// jumps past the last ENDIF, to the EXIT; every WHILE back to address 0,
// where all the DOs stand.
TEST(Assemble, DeeplyNestedBlocks) {
    constexpr uint32_t depth = 100000;
    for (const auto& [open, close, jump] : {std::tuple{"IF 1 = 1\n", "ENDIF\n", step{OPC_JF, 32 * depth}},
                                            std::tuple{"DO\n", "WHILE 1 = 1\n", step{OPC_JT, 0}}}) {
        std::string text;
        for (uint32_t i = 0; i < depth; ++i) text += open;
        for (uint32_t i = 0; i < depth; ++i) text += close;
        program p;
        const script s = parse_script_text(text);
        validate_script(s);
        compile_script(s, p);
        ASSERT_EQ(p.instructions.size(), 2 * depth + 1);
        size_t wrong = 0;
        for (size_t i = 1; i < 2 * depth; i += 2)
            wrong += get_field(p.instructions[i].opcode, fields::code) != jump.code ||
                     get_field(p.instructions[i].opcode, fields::jump_target) != jump.target;
        EXPECT_EQ(wrong, 0u) << open;
    }
}

const std::string MEM256 = "MEM 1 = \"" + std::string(256, 'm') + "\"";

TEST(Assemble, FailuresInPassOrder) {
    const struct {
        std::string script;  // one statement per line
        std::string message;
    } rows[] = {
        {"GETKEY\nELSE", "[2] Error: ELSE with no IF\n"},
        {"IF 1 = 1\nENDIF\nENDIF", "[3] Error: ENDIF with no IF\n"},
        {"ENDDO", "[1] Error: WHILE with no DO\n"},
        {"DO\nWHILE 1 = 1\nWHILE 1 = 1", "[3] Error: WHILE with no DO\n"},
        {"IF 1 = 1\nGOTO nowhere", "[2] Error: Invalid label 'nowhere'\n"},
        {"a:\nGOTO A", "[2] Error: Invalid label 'A'\n"},
        // The walk first, then every GOTO, then every GOSUB, then open IFs, then open DOs.
        {"GOTO x\nENDIF", "[2] Error: ENDIF with no IF\n"},
        {"GOTO x\n" + MEM256, "[2] Error: Too many MEM bytes\n"},
        {MEM256 + "\nELSE", "[1] Error: Too many MEM bytes\n"},
        {"GOSUB s\nGOTO g", "[2] Error: Invalid label 'g'\n"},
        {"DO\nIF 1 = 1\nGOSUB s", "[3] Error: Invalid label 's'\n"},
        {"DO\nIF 1 = 1", "[2] Error: Unterminated IF\n"},
        {"IF 1 = 1\nIF 1 = 1\nGETKEY\nENDIF\nIF 1 = 1", "[5] Error: Unterminated IF\n"},
        {"DO\nDO\nGETKEY", "[2] Error: Unterminated DO\n"},
    };
    for (const auto& r : rows) {
        program p;
        EXPECT_EQ(error_of([&] { compile_script(parse_script_text(r.script), p); }), r.message) << r.script;
    }
}

// A checker collects every error, in the order vendrak would meet them, each
// with the statement it belongs to.
TEST(Assemble, CollectsEveryError) {
    const script s = parse_script_text("GETKEY\nELSE\nGOTO x\nIF 1 = 1\nIF 2 = 2\nDO\n" + MEM256 + "\nGOSUB y");
    program p;
    collect_all found;
    compile_script(s, p, found);
    std::vector<std::pair<size_t, std::string>> got;
    for (const diagnostic& d : found.found) got.emplace_back(d.statement, d.message);
    EXPECT_EQ(got, (std::vector<std::pair<size_t, std::string>>{
                       {1, "[2] Error: ELSE with no IF\n"},
                       {6, "[7] Error: Too many MEM bytes\n"},
                       {2, "[3] Error: Invalid label 'x'\n"},
                       {7, "[8] Error: Invalid label 'y'\n"},
                       {4, "[5] Error: Unterminated IF\n"},
                       {3, "[4] Error: Unterminated IF\n"},
                       {5, "[6] Error: Unterminated DO\n"},
                   }));
}

}  // namespace
}  // namespace vendrak
