// Reading a container file: its frame (length, trailer, CRC), its header and
// the regions the header places, with the program part decrypted in memory
// when the container was written with -a.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "container/container.h"

namespace vendrak::inspect {

// A stretch of the file: [offset, offset + size).
struct region {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t end() const { return offset + size; }
};

struct container_view {
    std::vector<uint8_t> bytes;  // the file; its program part decrypted when it was encrypted
    bool encrypted = false;      // the first block decrypted to the magic with the built-in key
    bool has_header = false;     // the file is long enough to hold a header
    container_header header;
    bool crc_text_ok = false;    // the trailer holds "0x" and eight hexadecimal digits
    uint32_t stored_crc = 0;     // the trailer's CRC text
    uint32_t computed_crc = 0;   // the CRC of every byte before the trailer, as stored
    std::string maker_tag;
    // The regions the header gives, or empty ones where they do not lie
    // inside the file before the trailer.
    region code, strings, data, vbf;
    bool vbf_in_file = false;  // the VBF area the header gives lies inside the file

    std::span<const uint8_t> view(region r) const {
        return std::span<const uint8_t>(bytes).subspan(static_cast<size_t>(r.offset), static_cast<size_t>(r.size));
    }
};

// Reads and checks the frame and the header of `file`; appends one line per
// defect found.
container_view read_container(std::vector<uint8_t> file, std::vector<std::string>& defects);

}  // namespace vendrak::inspect
