// The output container.
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
#include <cstdint>
#include <cstdio>

#include "driver/run_context.h"

namespace vendrak {

constexpr uint32_t container_magic = 0x0600A55A;
constexpr uint8_t container_format = 16;
constexpr size_t header_size = 64;
constexpr size_t trailer_size = 32;
constexpr size_t vbf_copy_chunk = 0x20000;

// The key of every encrypted container; devices hold the same key.
constexpr std::array<uint8_t, 16> aes_key = {0x3B, 0x91, 0x5E, 0xC2, 0x07, 0xD4, 0x68, 0xAF,
                                             0x1C, 0x73, 0xE0, 0x4D, 0xB6, 0x29, 0x85, 0xFA};

// Trailer bytes 16 to 31: the maker tag with its NUL.
constexpr char maker_tag[16] = "VENDRAK v" VENDRAK_VERSION;

std::array<uint8_t, header_size> serialize_header(const container_header& h);
container_header parse_header(const uint8_t* bytes);

// Blanks up to the next multiple of 16 of `position`.
constexpr uint64_t pad16(uint64_t position) { return (position + 15) / 16 * 16; }

// Writes 16 - (position mod 16) blanks when the stream's position is not a
// multiple of 16.
void padForAES(std::FILE* stream);

// The container register over `n` bytes: CRC-32 table, initial 0, no final XOR.
uint32_t container_crc(uint32_t reg, const uint8_t* data, size_t n);

// Converts every flash file of the program into `ctx.temp_file`, shares the
// images of entries with the same file name and checksum, writes each image
// offset into its programming instruction and cuts the file to `ctx.vbf_end`.
void build_vbf_area(run_context& ctx);

// The length the container will have; fails when it would reach 2 GiB.
uint64_t check_container_size(const run_context& ctx);

struct container_summary {
    uint32_t code_size = 0;
    uint64_t file_size = 0;
    uint32_t crc = 0;
};

// Writes the whole container into the open `ctx.output_file` (encrypting it
// when `ctx.aes` is set), flushes it and reports what the summary line shows.
container_summary write_container(run_context& ctx);

// The hardware address of the host's first network adapter; zeros when there
// is none.
std::array<uint8_t, 6> host_mac_address();

}  // namespace vendrak
