// The decoder: instructions back into the statements they were compiled
// from, reading the fields where compile/opcode.h places them. Used by the
// container inspector (listing, decompiler) and by anything that shows what
// an instruction holds.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compile/opcode.h"
#include "parser/script.h"

namespace vendrak {

// The two tables of a program, as a container holds them.
struct program_tables {
    std::span<const uint8_t> strings;
    std::span<const uint8_t> data;
};

// What an instruction holds besides the operands of its statement.
struct decoded_instruction {
    uint32_t address = 0;
    uint16_t code = 0;
    uint32_t target = 0;        // OPC_JT, OPC_JF, OPC_JMP, OPC_JMPS
    uint32_t image_offset = 0;  // OPC_PROG, OPC_PROGNC, OPC_PROGNR
};

decoded_instruction decode_instruction(std::span<const uint8_t, opcode_size> op, uint32_t address);

// "LCD", "JF", ...; "" for a code of no operation.
std::string_view operation_name(uint32_t code);

// The statement an instruction was compiled from, with its texts and bytes
// added to the pools of `pools`: for OPC_CMP an IF holding the condition;
// for a jump or an unknown code no statement (kind 0). Every operand that
// cannot be decoded, or that no script can write, adds a line
// "instruction at 0x....: ..." to `problems`.
command decode_statement(std::span<const uint8_t, opcode_size> op, uint32_t address, const program_tables& tables,
                         script& pools, std::vector<std::string>& problems);

}  // namespace vendrak
