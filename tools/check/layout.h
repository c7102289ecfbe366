// Where the parts of a statement stand among its tokens, and how the parser
// read each number in it. Private to the checker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "parser/parser.h"
#include "parser/script.h"

namespace vendrak::check {

struct number_read {
    enum how : uint8_t { integer, unsigned_integer, floating };
    uint32_t token = 0;   // index into script_positions::tokens
    how as = integer;
    // The bits of the field that keeps the number: 8 or 16; 32 keeps it whole.
    uint8_t field_bits = 32;
    bool list_element = false;  // a number of a WRITE, REQUEST or PERIODIC list
    // The field keeps no sign (a byte, a DID, a period, a level): a negative
    // number reaches the device as a large one.
    bool unsigned_field = false;
};

// parts[0] is the statement's first token (its keyword, or the label); then
// one entry per argument, in the order they are written, each the index of
// the argument's first token:
//
//   DAT_*       type [did]              DIAG       protocol id id
//   DELAY       n                       DID        operation did [a b operator value]
//   INHALE      method                  EXHALE     method [key]
//   EXEC ...    string                  FW_VERSION version
//   LCD ...     row column operand [float float]
//   IF, WHILE   operand comparison operand
//   LED         color state             LOG        mode operand [float float]
//   NET         network bits rate       PERIODIC   type period values...
//   WRITE       type values...          REQUEST    values...
//   PROG ...    file [key]              READ       type [n]
//   SECURITY    level key               SET_VALUE  parameter n
//   WAITKEY     operand                 GOTO GOSUB name
//   VAR         index operand [operator operand]
//   UPLOAD ...  u u                     MEM        location operator data
//
// An argument that the statement leaves out has no entry.
struct statement_layout {
    std::vector<uint32_t> parts;
    std::vector<number_read> numbers;

    // The first token of argument k, or of the statement when it has none.
    uint32_t part(size_t k) const { return k < parts.size() ? parts[k] : parts[0]; }
};

statement_layout lay_out(const script& s, const script_positions& positions, size_t statement);

}  // namespace vendrak::check
