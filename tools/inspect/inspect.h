// vendrak-inspect: what a container holds, whether it is sound, and the
// script and VBF files it was compiled from.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "compile/decode.h"
#include "inspect/image.h"
#include "inspect/reader.h"

namespace vendrak::inspect {

struct inspection {
    std::string name;  // the container's file name, for the listing
    container_view container;
    std::vector<decoded_instruction> program;  // every instruction of the instruction area; its statement is
                                               // decoded when it is needed (statement_of)
    std::vector<image_info> images;            // in VBF-area order, which is the order of their first use
    std::vector<std::string> defects;          // one line each; none for a valid container
};

// Reads the container in `file`, decrypting it when it was written with -a,
// decodes its program and images and verifies all of it: the frame, the
// header, every instruction and reference, every image, and finally that
// the decompiled script compiles back into the same program.
inspection inspect_container(std::vector<uint8_t> file, std::string name = "container");

// The statement of instruction `index`, its texts and bytes in `pools`.
command statement_of(const inspection& r, size_t index, script& pools);

// The instruction as the listing shows it: statements in script syntax,
// CMP with its condition, jumps with their target address.
std::string instruction_text(const inspection& r, size_t index);

// The header, one line per instruction and the images, as the default
// output shows them.
std::string listing(const inspection& r);

// The file name of the `index`-th image (counting from 1).
std::string image_file_name(size_t index);

// The script that compiles back into the program of a valid container. Its
// programming statements name the image files in `image_dir` ("" names them
// without a directory). Throws std::runtime_error when `image_dir` cannot
// stand in a script string.
std::string script_text(const inspection& r, const std::string& image_dir);

// Writes each image as a VBF file into `dir` (created when missing).
// Throws std::runtime_error on failure.
void extract_images(const inspection& r, const std::filesystem::path& dir);

// The command line: vendrak-inspect [options] <container>. Returns the exit
// status: 0 for a valid container, 1 otherwise.
int inspect_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace vendrak::inspect
