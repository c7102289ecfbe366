// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320).
//
// The VBF file checksum runs the register from 0xFFFFFFFF with a final XOR of
// 0xFFFFFFFF; the container CRC runs it from 0 without a final XOR. Both use
// `crc32_update`, which only advances the register.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vendrak {

constexpr uint32_t crc32_poly = 0xEDB88320u;

// crc_tables[0] is `crctab32`; tables 1..7 serve the slice-by-8 update.
using crc_table_set = std::array<std::array<uint32_t, 256>, 8>;

constexpr crc_table_set make_crc_tables() {
    crc_table_set t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? crc32_poly ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (size_t k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

inline constexpr crc_table_set crc_tables = make_crc_tables();
inline constexpr const std::array<uint32_t, 256>& crctab32 = crc_tables[0];

// Advances the register over `n` bytes: for each byte b,
// reg = crctab32[(reg ^ b) & 0xFF] ^ (reg >> 8).
uint32_t crc32_update(uint32_t reg, const uint8_t* data, size_t n);

// Advances the register over `n` zero bytes without reading any: the
// register is a polynomial, and n zero bytes multiply it by x^(8n) modulo
// the CRC polynomial. Costs one multiplication per set bit of n.
uint32_t crc32_shift(uint32_t reg, uint64_t n);

// The register over A then B, from the register over A and the register
// that B gives from 0 (`b_size` bytes): an update is linear, so running B
// from reg_a equals running it from 0, plus reg_a carried over B's length.
inline uint32_t crc32_combine(uint32_t reg_a, uint32_t reg_b, uint64_t b_size) {
    return crc32_shift(reg_a, b_size) ^ reg_b;
}

}  // namespace vendrak
