// Makes a VBF file from binary images, Intel HEX and S-record files: the
// sections from the data as it lies in memory, the block checksums and the
// file checksum computed, with fixed memory whatever the size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vbf/image.h"
#include "vbf/records.h"

namespace vendrak::vbf_tool {

// What the header says. Values are written as given (a keyword, a number, or
// a braced list where the item takes one).
struct header_options {
    std::string header_file;  // header items to write first, as they stand in the file
    std::string version;      // vbf_version; "2.6" when empty
    std::optional<std::string> part_number, part_type, network, ecu_address, frame_format, call, data_format;
    std::vector<address_range> erase, omit;
    bool no_erase = false;           // no erase item even when --erase is not given
    std::vector<std::string> items;  // further items, each written with its ';'
};

struct input {
    enum class kind { binary, intel_hex, srecord, fill };
    kind type = kind::binary;
    std::string path;      // empty for a fill
    uint32_t address = 0;  // of a binary image or a fill
    uint64_t length = 0;   // of a fill
    uint8_t fill = 0xFF;
};

// FILE@ADDRESS is a binary image at ADDRESS (0x-hexadecimal or decimal);
// any other argument an Intel HEX or S-record file, told apart by its first
// character. Throws `input_error` for an argument that is neither.
input parse_input(const std::string& argument);

// ADDRESS:LENGTH[:BYTE], the length with an optional K, M or G.
input parse_fill(const std::string& argument);

// A number as written on the command line: 0x-hexadecimal or decimal, with
// a binary K, M or G after it when `size_suffix`. Throws `input_error`.
uint64_t parse_number(const std::string& text, bool size_suffix = false);

struct created_section {
    uint32_t address = 0;
    uint32_t length = 0;
    uint16_t block_checksum = 0;
};

struct created_file {
    std::vector<created_section> sections;
    uint32_t file_checksum = 0;
    uint64_t size = 0;
};

// Writes `output` (through a temporary file beside it, renamed at the end,
// so a failure leaves any earlier file as it was). Throws `input_error` for
// overlapping inputs, unreadable files and bad records.
created_file create_vbf(const std::string& output, const header_options& header, const std::vector<input>& inputs);

}  // namespace vendrak::vbf_tool
