// The code generator: one 16-byte opcode per command, the jumps of the
// control-flow statements, the string table, the data table and the list of
// flash files the program names.
//
// Errors end the compilation with a `fatal_error` on the error stream.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "compile/opcode.h"
#include "parser/script.h"

namespace vendrak {

// One flash file named by a programming instruction.
struct vbf_entry {
    std::string file_name;       // the file name as the PROG statement gives it
    size_t instruction = 0;      // index of the programming instruction in `instructions`
    uint32_t file_checksum = 0;  // filled in when the file is converted
};

// The compiled program.
struct program {
    std::vector<instruction> instructions;  // addresses 0, 16, 32, ... without gaps
    std::vector<vbf_entry> vbfs;            // in instruction order
    std::vector<uint8_t> string_table;      // NUL-terminated texts, back to back
    std::vector<uint8_t> data_table;        // raw bytes
};

// Compiles a validated script into `out` (which starts empty).
void compile_script(const script& s, program& out);

// Encodes one command into `insn.opcode` (its address already set), appending
// to the two tables whatever the command carries beyond the opcode.
void make_opcode(instruction& insn, const command& cmd, std::vector<uint8_t>& string_table,
                 std::vector<uint8_t>& data_table);

// Writes the 5-byte expression operand of `expr` at `operand` and appends its
// string or array to the tables; `line` is used only in the limit messages.
void copyExpr(const prim_expr& expr, std::span<uint8_t, expr_operand_size> operand,
              std::vector<uint8_t>& string_table, std::vector<uint8_t>& data_table, uint32_t line);

}  // namespace vendrak
