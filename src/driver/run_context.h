// The run context: everything one run of the compiler owns, from the options
// to the compiled program and the open streams.
#pragma once

#include <string>

#include "common/file.h"
#include "compile/compile.h"
#include "container/container.h"
#include "driver/writer.h"
#include "parser/script.h"

namespace vendrak {

struct run_context {
    container_header header;
    int verbose = 0;                    // number of -v options
    const char* script_name = nullptr;  // the script argument itself
    file_ptr script_file;
    std::string output_name = "a.out";
    file_ptr output_file;
    std::string temp_name = "vendrak.XXXXXX";
    file_ptr temp_file;
    vendrak::script script;
    program prog;                       // instructions, flash files, string and data tables
    vbf_area vbf;                       // the converted images in the temporary file
    int aes = 0;                        // 1: encrypt the container
};

}  // namespace vendrak
