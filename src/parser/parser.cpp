#include "parser/parser.h"

#include "common/fatal.h"

namespace vendrak {

void parse_script(std::FILE*, script&) { fail(out_stream::err, "parser not built yet\n"); }
script parse_script_text(std::string_view) { fail(out_stream::err, "parser not built yet\n"); }

}  // namespace vendrak
