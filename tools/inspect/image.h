// The converted images of the VBF area: reading one back into its header
// values and sections, and writing a VBF file that converts into exactly the
// same image.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vendrak::inspect {

struct image_section {
    uint32_t address = 0;
    uint32_t length = 0;
    uint64_t at = 0;  // where its 8-byte head stands, from the start of the VBF area
    uint16_t block_checksum = 0;
};

// The header values that the image's text lines carry.
struct image_header {
    std::string sw_part_number;
    uint32_t sw_part_type = 0;
    uint32_t prog_type = 0;
    uint32_t data_format_identifier = 0;
    uint32_t network = 0;
    uint32_t network_sub = 0;
    uint32_t ecu_address[3] = {0, 0, 0};
    uint32_t frame_format = 0;
    uint32_t call = 0xFFFFFFFF;
    uint32_t file_checksum = 0;
    uint32_t ctp_crc32 = 0;
    uint16_t description[2] = {0, 0};
    uint32_t datproc_method = 0;
    uint32_t datproc_param = 0;
    std::string public_key_hash;
    std::vector<std::pair<uint32_t, uint32_t>> erase;  // (start, length)
};

struct image_info {
    uint64_t offset = 0;  // from the start of the VBF area
    uint64_t size = 0;
    std::vector<std::string> lines;  // the text lines, "data" last, without their line feeds
    image_header header;
    std::vector<image_section> sections;
    std::vector<uint32_t> users;  // addresses of the programming instructions that name it
};

// The text lines of an image as the converter writes them, "data" included.
std::string image_text(const image_header& h);

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
