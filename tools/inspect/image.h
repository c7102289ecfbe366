// The converted images of the VBF area: reading one back into its header
// values and sections, and writing a VBF file that converts into exactly the
// same image.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "vbf/image.h"

namespace vendrak::inspect {

struct image_section {
    uint32_t address = 0;
    uint32_t length = 0;
    uint64_t at = 0;  // where its 8-byte head stands, from the start of the VBF area
    uint16_t block_checksum = 0;
};

// The header values that the image's text lines carry (its omit list stays
// empty: omitted sections leave no trace in an image).
using image_header = vbf_header;

struct image_info {
    uint64_t offset = 0;  // from the start of the VBF area
    uint64_t size = 0;
    std::vector<std::string> lines;  // the text lines, "data" last, without their line feeds
    image_header header;
    std::vector<image_section> sections;
    std::vector<uint32_t> users;  // addresses of the programming instructions that name it
};

// Reads the image at `offset` of the VBF area `area`. The end marker
// "ENDOFVBF" could also begin a section head; it is taken as the end where
// `is_boundary` says the image may end after it. Returns false and sets
// `problem` when the bytes are not an image as the converter writes it.
bool read_image(std::span<const uint8_t> area, uint64_t offset, const std::function<bool(uint64_t)>& is_boundary,
                image_info& image, std::string& problem);

// A VBF file whose conversion gives back `image` byte for byte: the header
// items rebuilt from the text lines, the sections as they are, and a file
// checksum equal to the image's. When the sections alone do not give that
// checksum (the source had omitted sections), an omitted section is added
// whose data makes it come out right. Throws std::runtime_error when the
// image holds a value that no header item can give.
std::vector<uint8_t> rebuild_vbf(const image_info& image, std::span<const uint8_t> area);

}  // namespace vendrak::inspect
