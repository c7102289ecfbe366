#include "vbf/crc32.h"

namespace vendrak {

namespace {

uint32_t load_u32le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

// Slice-by-8: eight bytes per step through the eight tables, where table k
// advances a byte that still has k zero bytes to pass. The register is
// reflected, so the first byte of the block meets its low byte; the words are
// assembled by shifts and the result never depends on the host's byte order.
uint32_t crc32_update(uint32_t reg, const uint8_t* data, size_t n) {
    const auto& t = crc_tables;
    while (n >= 8) {
        const uint32_t lo = reg ^ load_u32le(data);
        const uint32_t hi = load_u32le(data + 4);
        reg = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        data += 8;
        n -= 8;
    }
    while (n-- > 0) reg = crctab32[(reg ^ *data++) & 0xFF] ^ (reg >> 8);
    return reg;
}

}  // namespace vendrak
