// The converted image of a VBF file: the header record that its text lines
// carry, the keywords of the header's coded values, and the text lines
// themselves. Shared by the converter, which writes images, and the container
// inspector, which reads them back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vendrak {

struct address_range {
    uint32_t start = 0;
    uint32_t length = 0;
};

// The header record: every field at its default until an item sets it.
struct vbf_header {
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
    std::vector<address_range> erase;
    std::vector<address_range> omit;
};

struct vbf_keyword {
    std::string_view text;
    uint32_t code;
};

inline constexpr vbf_keyword sw_part_types[] = {{"CARCFG", 1}, {"CUSTOM", 2}, {"DATA", 3}, {"EXE", 4},  {"GBL", 5},
                                                {"SBL", 6},    {"SIGCFG", 7}, {"TEST", 8}, {"BOOT", 9}};
inline constexpr vbf_keyword prog_types[] = {{"FORD", 0}, {"STELLANTIS", 1}};
inline constexpr vbf_keyword networks[] = {{"CAN_HS", 1}, {"CAN_MS", 2}};
// The sub-network codes go on where the primary network codes stop.
inline constexpr vbf_keyword sub_networks[] = {{"SUB_MOST", 3}, {"SUB_CAN1", 4}, {"SUB_CAN2", 5},
                                               {"SUB_LIN1", 6}, {"SUB_LIN2", 7}, {"SUB_OTHER", 8}};
inline constexpr vbf_keyword frame_formats[] = {{"CAN_STANDARD", 1}, {"CAN_EXTENDED", 2}};
inline constexpr vbf_keyword datproc_methods[] = {{"WLP3", 1}, {"WLP2", 2}, {"AUTH", 3}};

// The keyword that gives `code`, or "" when no keyword does.
constexpr std::string_view keyword_of(std::span<const vbf_keyword> table, uint32_t code) {
    for (const vbf_keyword& k : table)
        if (k.code == code) return k.text;
    return {};
}

// The text lines of the image, up to and including "data". An erase entry
// that the omit list repeats exactly is not listed.
std::string image_text(const vbf_header& h);

}  // namespace vendrak
