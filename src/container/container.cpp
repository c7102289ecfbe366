#include "container/container.h"

#include <algorithm>
#include <cstring>

#include "aes/aes.h"
#include "common/bytes.h"
#include "vbf/crc32.h"

namespace vendrak {

std::array<uint8_t, header_size> serialize_header(const container_header& h) {
    std::array<uint8_t, header_size> bytes{};
    byte_writer w(bytes);
    w.u32le(0, h.magic);
    w.u8(4, h.format_byte);
    w.u64le(5, static_cast<uint64_t>(h.created));
    w.bytes(13, h.host_mac);
    w.u32le(19, h.code_offset);
    w.u32le(23, h.code_size);
    w.u32le(27, h.string_offset);
    w.u32le(31, h.string_size);
    w.u32le(35, h.data_offset);
    w.u32le(39, h.data_size);
    w.u32le(43, h.vbf_offset);
    w.u32le(47, h.vbf_size);
    return bytes;
}

container_header parse_header(const uint8_t* bytes) {
    std::span<const uint8_t> b(bytes, header_size);
    container_header h;
    h.magic = get_u32le(b, 0);
    h.format_byte = b[4];
    h.created = static_cast<int64_t>(get_u64le(b, 5));
    std::memcpy(h.host_mac.data(), bytes + 13, 6);
    h.code_offset = get_u32le(b, 19);
    h.code_size = get_u32le(b, 23);
    h.string_offset = get_u32le(b, 27);
    h.string_size = get_u32le(b, 31);
    h.data_offset = get_u32le(b, 35);
    h.data_size = get_u32le(b, 39);
    h.vbf_offset = get_u32le(b, 43);
    h.vbf_size = get_u32le(b, 47);
    return h;
}

container_layout layout_of(uint64_t code_size, uint64_t string_size, uint64_t data_size, uint64_t vbf_size) {
    container_layout l;
    uint64_t position = header_size + code_size;
    if (string_size != 0) {
        l.string_offset = static_cast<uint32_t>(position);
        position += string_size;
    }
    if (data_size != 0) {
        l.data_offset = static_cast<uint32_t>(position);
        position += data_size;
    }
    l.code_size = static_cast<uint32_t>(code_size);
    l.tables_end = position;
    l.vbf_offset = pad16(position);
    l.file_size = pad16(l.vbf_offset + vbf_size) + trailer_size;
    return l;
}

std::array<uint8_t, trailer_size> blank_trailer() {
    std::array<uint8_t, trailer_size> t{'C', 'R', 'C', ':'};
    std::fill_n(t.begin() + crc_text_at, crc_text_size + 1, fill_byte);
    std::copy(std::begin(maker_tag), std::end(maker_tag), t.begin() + maker_tag_at);
    return t;
}

std::array<char, crc_text_size> crc_text(uint32_t crc) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::array<char, crc_text_size> text{'0', 'x'};
    for (size_t i = 0; i < 8; ++i) text[2 + i] = digits[(crc >> (28 - 4 * i)) & 0xF];
    return text;
}

bool parse_crc_text(std::span<const uint8_t, crc_text_size> text, uint32_t& value) {
    if (text[0] != '0' || text[1] != 'x') return false;
    value = 0;
    for (size_t i = 2; i < crc_text_size; ++i) {
        const uint8_t c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        value = value << 4 | digit;
    }
    return true;
}

uint32_t container_crc(uint32_t reg, const uint8_t* data, size_t n) { return crc32_update(reg, data, n); }

void encrypt_blocks(std::span<uint8_t> bytes) {
    const aes128_key key(aes_key.data());
    for (size_t at = 0; at + 16 <= bytes.size(); at += 16) key.encrypt(&bytes[at], &bytes[at]);
}

void decrypt_blocks(std::span<uint8_t> bytes) {
    const aes128_key key(aes_key.data());
    for (size_t at = 0; at + 16 <= bytes.size(); at += 16) key.decrypt(&bytes[at], &bytes[at]);
}

}  // namespace vendrak
