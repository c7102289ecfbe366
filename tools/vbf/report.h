// What a VBF file holds, read by the converter that vendrak runs: the header
// items as it takes them, every section with its block checksum, the file
// checksum, and the message vendrak would stop at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vbf/image.h"
#include "vbf/vbf.h"

namespace vendrak::vbf_tool {

struct section_report {
    vbf_section section;
    uint16_t computed = 0;  // the CRC-16 of its data
};

struct file_report {
    std::string path;
    bool opened = false;
    bool accepted = false;             // vendrak converts it
    std::string message;               // vendrak's message when it does not, without "ERROR: "
    uint64_t stopped_at = 0;           // where the conversion stopped (when not accepted)
    std::optional<std::string> version;  // the value of the version item
    bool header_read = false;          // the header was read to its end
    vbf_header header;
    vendrak::header_end ended = vendrak::header_end::brace;
    uint64_t data_offset = 0;          // the first byte after the header
    uint64_t size = 0;                 // bytes read in all
    std::optional<uint32_t> computed_checksum;  // of the data part, when it was read to its end
    std::vector<section_report> sections;
    // The first header item that is not "key=value" with a key of letters,
    // digits and '_' (binary data read as header when the closing brace is
    // missing), and the offset just past the last item before it.
    std::optional<std::string> odd_item;
    uint64_t odd_item_at = 0;

    // The compression method is the high four bits of the data format
    // identifier; the block checksum of compressed data is not over the
    // bytes the file holds, so those are not compared.
    bool plain_data() const { return (header.data_format_identifier & 0xF0) == 0; }
};

// Reads `path` to its end (or to the point where vendrak stops) with fixed
// memory, whatever its size.
file_report read_vbf(const std::string& path);

// A finding of `verify`: at a byte offset of the file.
struct finding {
    uint64_t offset = 0;
    bool error = false;
    std::string text;
};

// Every finding of a file, in the order of their offsets, and vendrak's
// message last when it refuses the file. A file with an error is not whole:
// vendrak refuses it, or the ECU would (a wrong block checksum).
std::vector<finding> verify(const file_report& r);

}  // namespace vendrak::vbf_tool
