#include "compile/compile.h"

#include "common/fatal.h"

namespace vendrak {

void compile_script(const script&, program&) { fail(out_stream::err, "compiler not built yet\n"); }
void make_opcode(instruction&, const command&, std::vector<uint8_t>&, std::vector<uint8_t>&) {}
void copyExpr(const prim_expr&, std::span<uint8_t, expr_operand_size>, std::vector<uint8_t>&,
              std::vector<uint8_t>&, uint32_t) {}

}  // namespace vendrak
