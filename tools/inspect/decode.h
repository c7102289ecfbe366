// Decoding instructions back into statements of the script language, and the
// script text of statements and operands.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "compile/opcode.h"
#include "parser/script.h"

namespace vendrak::inspect {

struct program_tables {
    std::span<const uint8_t> strings;
    std::span<const uint8_t> data;
};

struct decoded_instruction {
    uint32_t address = 0;
    uint16_t code = 0;
    // The statement the instruction was compiled from; for OPC_CMP an IF
    // holding the condition; empty (kind 0) for the jumps and unknown codes.
    command cmd;
    uint32_t target = 0;        // OPC_JT, OPC_JF, OPC_JMP, OPC_JMPS
    uint32_t image_offset = 0;  // OPC_PROG, OPC_PROGNC, OPC_PROGNR
};

bool is_jump(uint16_t code);
bool is_programming(uint16_t code);
// "LCD", "JF", ...; empty for an unknown code.
std::string operation_name(uint16_t code);

// Decodes one 16-byte instruction, reading its texts and bytes from the
// tables. Every operand that cannot be decoded, or that no script can write,
// adds a line "instruction at 0x....: ..." to `problems`.
decoded_instruction decode_instruction(std::span<const uint8_t, opcode_size> op, uint32_t address,
                                       const program_tables& tables, std::vector<std::string>& problems);

// Script text, written so that the parser reads back the same record.
std::string float_text(float value);
std::string operand_text(const prim_expr& expr);
std::string condition_text(const test_expr& test);
std::string statement_text(const command& cmd);

// The instruction as the listing shows it: statements in script syntax,
// CMP with its condition, jumps with their target address.
std::string instruction_text(const decoded_instruction& insn);

}  // namespace vendrak::inspect
