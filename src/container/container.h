// The output container: its layout, header, trailer, CRC and encryption,
// shared by the compiler, which writes containers, and the inspector, which
// reads them.
//
//   offset                        length
//   0          header             64
//   64         instruction area   16 per instruction
//              string table       string_size (only when not empty)
//              data table         data_size (only when not empty)
//              blanks             up to the next multiple of 16
//   vbf_offset VBF area           vbf_size: the converted images, back to back
//              blanks             up to the next multiple of 16
//   len - 32   trailer            "CRC:" "0x%08X" " " NUL, then the maker tag
//
// Header, all fields little-endian, unaligned:
//
//   0 magic u32   4 format_byte u8   5 created i64   13 host_mac[6]
//   19 code_offset  23 code_size  27 string_offset  31 string_size
//   35 data_offset  39 data_size  43 vbf_offset     47 vbf_size  51..63 zero
//
// With -a everything before vbf_offset is encrypted with AES-128, block by
// block (ECB). The CRC in the trailer covers every byte before the trailer as
// it stands in the file: the CRC-32 table run from 0 without a final XOR.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vendrak {

struct container_header {
    uint32_t magic = 0;  // container_magic once the container is complete
    uint8_t format_byte = 0;
    int64_t created = 0;  // seconds since 1970
    std::array<uint8_t, 6> host_mac{};
    uint32_t code_offset = 0;
    uint32_t code_size = 0;
    uint32_t string_offset = 0;  // 0 for an empty table
    uint32_t string_size = 0;
    uint32_t data_offset = 0;  // 0 for an empty table
    uint32_t data_size = 0;
    uint32_t vbf_offset = 0;
    uint32_t vbf_size = 0;  // without the fill after it
};

constexpr uint32_t container_magic = 0x0600A55A;
constexpr uint8_t container_format = 16;
constexpr size_t header_size = 64;
constexpr size_t header_reserved_at = 51;  // zero from here to the end of the header
constexpr size_t trailer_size = 32;
constexpr uint8_t fill_byte = ' ';

// Trailer: "CRC:", the CRC text (blanks until it is written), a blank, a NUL,
// then the maker tag with its NUL.
constexpr size_t crc_text_at = 4;
constexpr size_t crc_text_size = 10;
constexpr size_t maker_tag_at = 16;
constexpr char maker_tag[16] = "VENDRAK v" VENDRAK_VERSION;

// The key of every encrypted container; devices hold the same key.
constexpr std::array<uint8_t, 16> aes_key = {0x3B, 0x91, 0x5E, 0xC2, 0x07, 0xD4, 0x68, 0xAF,
                                             0x1C, 0x73, 0xE0, 0x4D, 0xB6, 0x29, 0x85, 0xFA};

std::array<uint8_t, header_size> serialize_header(const container_header& h);
container_header parse_header(const uint8_t* bytes);

// `position` brought up to the next multiple of 16.
constexpr uint64_t pad16(uint64_t position) { return (position + 15) / 16 * 16; }

// Where the regions of a container lie, from their sizes.
struct container_layout {
    uint32_t code_size = 0;
    uint32_t string_offset = 0;  // 0 for an empty table
    uint32_t data_offset = 0;
    uint64_t tables_end = 0;  // the end of the last table (of the instructions when there is none)
    uint64_t vbf_offset = 0;
    uint64_t file_size = 0;
};
container_layout layout_of(uint64_t code_size, uint64_t string_size, uint64_t data_size, uint64_t vbf_size);

// The trailer as first written, with blanks where the CRC text goes.
std::array<uint8_t, trailer_size> blank_trailer();

// The CRC text: "0x" and eight upper-case hexadecimal digits.
std::array<char, crc_text_size> crc_text(uint32_t crc);
// Reads a CRC text back; false when `text` is not one.
bool parse_crc_text(std::span<const uint8_t, crc_text_size> text, uint32_t& value);

// The container register over `n` bytes: CRC-32 table, initial 0, no final XOR.
uint32_t container_crc(uint32_t reg, const uint8_t* data, size_t n);

// Encrypts (decrypts) the whole 16-byte blocks of `bytes` in place with the
// built-in key, each block alone (ECB).
void encrypt_blocks(std::span<uint8_t> bytes);
void decrypt_blocks(std::span<uint8_t> bytes);

}  // namespace vendrak
