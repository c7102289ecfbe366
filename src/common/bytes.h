// Little-endian, unaligned fields of the container, written and read byte by
// byte with shifts, so the output never depends on the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vendrak {

// Writes fields at fixed positions of a byte span (an opcode, a header).
class byte_writer {
public:
    explicit byte_writer(std::span<uint8_t> bytes) : bytes_(bytes) {}

    void u8(size_t at, uint32_t v) { bytes_[at] = static_cast<uint8_t>(v); }
    void u16le(size_t at, uint32_t v) {
        u8(at, v);
        u8(at + 1, v >> 8);
    }
    void u32le(size_t at, uint32_t v) {
        u16le(at, v);
        u16le(at + 2, v >> 16);
    }
    void u64le(size_t at, uint64_t v) {
        u32le(at, static_cast<uint32_t>(v));
        u32le(at + 4, static_cast<uint32_t>(v >> 32));
    }
    void bytes(size_t at, std::span<const uint8_t> src) {
        for (size_t i = 0; i < src.size(); ++i) bytes_[at + i] = src[i];
    }

private:
    std::span<uint8_t> bytes_;
};

inline uint32_t get_u16le(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8;
}
inline uint32_t get_u32le(std::span<const uint8_t> b, size_t at) {
    return get_u16le(b, at) | get_u16le(b, at + 2) << 16;
}
inline uint64_t get_u64le(std::span<const uint8_t> b, size_t at) {
    return get_u32le(b, at) | static_cast<uint64_t>(get_u32le(b, at + 4)) << 32;
}
inline uint32_t get_u32be(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | static_cast<uint32_t>(b[at + 3]);
}

// A growing byte table (string table, data table): appends at its end only.
inline void append_u8(std::vector<uint8_t>& table, uint32_t v) {
    table.push_back(static_cast<uint8_t>(v));
}
inline void append_u32le(std::vector<uint8_t>& table, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) append_u8(table, v >> shift);
}
inline void append_text(std::vector<uint8_t>& table, std::string_view text) {
    table.insert(table.end(), text.begin(), text.end());
}

}  // namespace vendrak
