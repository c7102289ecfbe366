// The block checksum of a VBF section: CRC-16/CCITT-FALSE (polynomial
// 0x1021, initial value 0xFFFF, no reflection, no final XOR) over the
// section's data, as flash tools write it. The converter passes it through;
// vbfgen writes it and vendrak-check verifies it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vendrak {

inline constexpr std::array<uint16_t, 256> crc16_table = [] {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}();

// Advances the register `crc` (0xFFFF to begin) over `n` bytes.
inline uint16_t crc16_update(uint16_t crc, const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>(crc << 8 ^ crc16_table[(crc >> 8 ^ data[i]) & 0xFF]);
    return crc;
}

static_assert(crc16_table[1] == 0x1021);

}  // namespace vendrak
