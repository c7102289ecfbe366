// vendrak-vbf's command line: the subcommands info, verify, create and
// extract over the library, writing to the given streams.
#pragma once

#include <cstdio>

namespace vendrak::vbf_tool {

// Exit status 0 when every file is sound (or was written), 1 when one is not,
// 2 for a wrong command line.
int vbf_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace vendrak::vbf_tool
