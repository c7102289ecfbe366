// Operands built by hand for the tests of the stages after the parser.
#pragma once

#include <string>
#include <utility>

#include "parser/script.h"

namespace vendrak::records {

inline prim_expr ex(uint32_t kind, int32_t offset = 0, int32_t length = 0) {
    prim_expr e;
    e.kind = kind;
    e.offset = offset;
    e.length = length;
    return e;
}
inline prim_expr num(int32_t n) { prim_expr e = ex(EXPR_NUMBER); e.number = n; return e; }
inline prim_expr var(int32_t v) { prim_expr e = ex(EXPR_VAR); e.var = v; return e; }
inline prim_expr fnum(float f) { prim_expr e = ex(EXPR_FLOAT_NUMBER); e.fvalue = f; return e; }
inline prim_expr str(std::string s) { prim_expr e = ex(EXPR_STRING); e.str = std::move(s); return e; }

}  // namespace vendrak::records
