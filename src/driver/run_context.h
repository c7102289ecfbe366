// The run context: everything one run of the compiler owns, from the options
// to the compiled program and the open streams.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/file.h"
#include "compile/compile.h"
#include "parser/script.h"

namespace vendrak {

// The 64-byte header at offset 0 of the container; see container.h for its
// byte layout.
struct container_header {
    uint32_t magic = 0;
    uint8_t format_byte = 0;
    int64_t created = 0;
    std::array<uint8_t, 6> host_mac{};
    uint32_t code_offset = 0;
    uint32_t code_size = 0;
    uint32_t string_offset = 0;
    uint32_t string_size = 0;
    uint32_t data_offset = 0;
    uint32_t data_size = 0;
    uint32_t vbf_offset = 0;
    uint32_t vbf_size = 0;
};

struct run_context {
    container_header header;
    int verbose = 0;                    // number of -v options
    const char* script_name = nullptr;  // the script argument itself
    file_ptr script_file;
    std::string output_name = "a.out";
    file_ptr output_file;
    bool output_created = false;        // the output file did not exist before this run
    std::string temp_name = "vendrak.XXXXXX";
    file_ptr temp_file;
    vendrak::script script;
    program prog;                       // instructions, flash files, string and data tables
    uint32_t vbf_end = 0;               // end of the converted images in the temporary file
    int aes = 0;                        // 1: encrypt the container
};

}  // namespace vendrak
