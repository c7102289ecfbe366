// The block checksum of a VBF section: CRC-16/CCITT-FALSE (polynomial
// 0x1021, initial value 0xFFFF, no reflection, no final XOR) over the
// section's data, as flash tools write it. The converter passes it through;
// vendrak-vbf writes and verifies it, vendrak-check verifies it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vendrak {

// crc16_tables[0] is the byte table; table k gives a byte's effect followed
// by k zero bytes, for the eight-byte steps of `crc16_update`.
inline constexpr std::array<std::array<uint16_t, 256>, 8> crc16_tables = [] {
    std::array<std::array<uint16_t, 256>, 8> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        t[0][i] = static_cast<uint16_t>(crc);
    }
    for (size_t k = 1; k < 8; ++k)
        for (uint32_t i = 0; i < 256; ++i)
            t[k][i] = static_cast<uint16_t>(t[k - 1][i] << 8 ^ t[0][t[k - 1][i] >> 8]);
    return t;
}();
inline constexpr const std::array<uint16_t, 256>& crc16_table = crc16_tables[0];

// Advances the register `crc` (0xFFFF to begin) over `n` bytes, eight at a
// time where it can.
inline uint16_t crc16_update(uint16_t crc, const uint8_t* data, size_t n) {
    const auto& t = crc16_tables;
    for (; n >= 8; n -= 8, data += 8) {
        crc = static_cast<uint16_t>(t[7][(crc >> 8 ^ data[0]) & 0xFF] ^ t[6][(crc ^ data[1]) & 0xFF] ^ t[5][data[2]] ^
                                    t[4][data[3]] ^ t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]]);
    }
    for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>(crc << 8 ^ crc16_table[(crc >> 8 ^ data[i]) & 0xFF]);
    return crc;
}

static_assert(crc16_table[1] == 0x1021);

}  // namespace vendrak
