// The code generator: one 16-byte opcode per command, the jumps of the
// control-flow statements, the string table, the data table and the list of
// flash files the program names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/report.h"
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

// Compiles a validated script into `out` (which starts empty). Stops at the
// first error with a `fatal_error` on the error stream.
void compile_script(const script& s, program& out);

// The same, reporting every error to `r`: each misplaced block statement and
// undefined label, each statement the encoder refuses, each unterminated
// block. The program is only meant for use when nothing was reported.
void compile_script(const script& s, program& out, reporter& r);

// Encodes `cmd`, statement `index` of `s`, into `op` (every byte not named
// 0), appending to the tables of `out` whatever it carries beyond the opcode.
// Kinds without an operation of their own (see operation_of) are laid out
// by compile_script instead and encode as nothing.
void make_opcode(opcode_bytes& op, const command& cmd, size_t index, const script& s, program& out, reporter& r);

}  // namespace vendrak
