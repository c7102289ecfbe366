#include "vbf/vbf.h"

#include "vbf/crc32.h"

namespace vendrak {

uint32_t crc32_update(uint32_t reg, const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) reg = crctab32[(reg ^ data[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

int vbf_process(const char* path, std::FILE*, uint32_t*, std::FILE* messages, uint64_t) {
    std::fprintf(messages, "ERROR: Cannot open \"%s\" file\n", path);
    return -1;
}

}  // namespace vendrak
