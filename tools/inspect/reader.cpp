#include "inspect/reader.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "common/fatal.h"
#include "compile/opcode.h"
#include "inspect/text.h"

namespace vendrak::inspect {
namespace {

using ull = unsigned long long;

constexpr size_t block_size = 16;

std::string_view as_text(std::span<const uint8_t> bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Checks that a fill holds blanks only; reports the first byte that is not.
void check_fill(const std::vector<uint8_t>& bytes, uint64_t from, uint64_t to, const char* what,
                std::vector<std::string>& defects) {
    for (uint64_t at = from; at < to && at < bytes.size(); ++at) {
        if (bytes[at] != fill_byte) {
            defects.push_back(format("the fill %s holds 0x%02X at offset %llu, not a blank", what, bytes[at], ull{at}));
            return;
        }
    }
}

}  // namespace

container_view read_container(std::vector<uint8_t> file, std::vector<std::string>& defects) {
    container_view c;
    c.bytes = std::move(file);
    std::vector<uint8_t>& bytes = c.bytes;
    const uint64_t length = bytes.size();

    if (length < header_size + trailer_size) {
        defects.push_back(format("the file holds %llu bytes, too few for a %zu-byte header and a %zu-byte trailer",
                                 ull{length}, header_size, trailer_size));
        if (length >= header_size) {
            c.has_header = true;
            c.header = parse_header(bytes.data());
        }
        return c;
    }
    c.has_header = true;
    if (length % block_size != 0)
        defects.push_back(format("the file length %llu is not a multiple of 16", ull{length}));

    // The trailer and the CRC over everything before it, as stored.
    const uint64_t trailer = length - trailer_size;
    const std::span<const uint8_t> tail(&bytes[trailer], trailer_size);
    if (std::memcmp(tail.data(), "CRC:", 4) != 0)
        defects.push_back(format("the trailer does not begin with \"CRC:\" but with \"%s\"",
                                 shown(as_text(tail.first(4))).c_str()));
    c.computed_crc = container_crc(0, bytes.data(), trailer);
    c.crc_text_ok = parse_crc_text(tail.subspan<crc_text_at, crc_text_size>(), c.stored_crc);
    if (!c.crc_text_ok)
        defects.push_back(format("the trailer's CRC text \"%s\" is not 0x and eight upper-case hexadecimal digits",
                                 shown(as_text(tail.subspan(crc_text_at, crc_text_size))).c_str()));
    else if (c.stored_crc != c.computed_crc)
        defects.push_back(format("CRC mismatch: the trailer says 0x%08X, the bytes before it give 0x%08X",
                                 c.stored_crc, c.computed_crc));
    if (tail[crc_text_at + crc_text_size] != fill_byte || tail[crc_text_at + crc_text_size + 1] != 0)
        defects.push_back("trailer bytes 14 and 15 are not a blank and a NUL");
    const auto tag = tail.subspan(maker_tag_at);
    c.maker_tag = shown(as_text(tag.first(static_cast<size_t>(std::find(tag.begin(), tag.end(), 0) - tag.begin()))));

    // A container written with -a shows its magic only after decryption.
    const uint32_t plain_magic = get_u32le(bytes, 0);
    if (plain_magic != container_magic) {
        std::array<uint8_t, block_size> block;
        std::copy_n(bytes.begin(), block_size, block.begin());
        decrypt_blocks(block);
        if (get_u32le(block, 0) == container_magic) {
            c.encrypted = true;
            decrypt_blocks(std::span(bytes).first(header_size));
        } else {
            defects.push_back(format("magic is 0x%08X, expected 0x%08X (nor does the first block decrypt to it)",
                                     plain_magic, container_magic));
        }
    }
    c.header = parse_header(bytes.data());
    const container_header& h = c.header;
    if (c.encrypted) {
        // Everything before the VBF area is encrypted; a damaged vbf_offset
        // leaves the rest as it is.
        uint64_t end = h.vbf_offset;
        if (end % block_size != 0 || end > trailer) end = std::min<uint64_t>(trailer, length / block_size * block_size);
        if (end > header_size) decrypt_blocks(std::span(bytes).subspan(header_size, static_cast<size_t>(end - header_size)));
    }

    if (h.format_byte != container_format)
        defects.push_back(format("format byte is %u, expected %u", h.format_byte, container_format));
    if (std::any_of(bytes.begin() + header_reserved_at, bytes.begin() + header_size, [](uint8_t b) { return b != 0; }))
        defects.push_back("header bytes 51 to 63 are not all zero");

    // The regions follow each other: instructions, strings, data, fill, VBF
    // area, fill, trailer. Each stated offset is checked against where its
    // region must begin; the regions are then taken as stated where they
    // lie inside the file.
    auto inside = [&](uint64_t offset, uint64_t size) { return offset + size <= trailer; };
    if (h.code_offset != header_size)
        defects.push_back(format("code_offset is %u, expected %zu", h.code_offset, header_size));
    if (h.code_size % opcode_size != 0)
        defects.push_back(format("code_size %u is not a multiple of 16", h.code_size));
    if (h.code_size == 0) defects.push_back("code_size is 0: every program ends with an EXIT instruction");
    uint64_t position = uint64_t{header_size} + h.code_size;
    if (!inside(h.code_offset, h.code_size))
        defects.push_back(format("the instruction area (offset %u, %u bytes) runs past the trailer at %llu",
                                 h.code_offset, h.code_size, ull{trailer}));
    else
        c.code = {h.code_offset, uint64_t{h.code_size} / opcode_size * opcode_size};

    auto table = [&](const char* name, uint32_t offset, uint32_t size, region& out) {
        if (size == 0) {
            if (offset != 0) defects.push_back(format("%s_offset is %u for an empty table, expected 0", name, offset));
            return;
        }
        if (offset != position)
            defects.push_back(format("%s_offset is %u, expected %llu", name, offset, ull{position}));
        if (!inside(offset, size))
            defects.push_back(format("the %s table (offset %u, %u bytes) runs past the trailer at %llu", name, offset,
                                     size, ull{trailer}));
        else
            out = {offset, size};
        position += size;
    };
    table("string", h.string_offset, h.string_size, c.strings);
    table("data", h.data_offset, h.data_size, c.data);

    const uint64_t vbf_offset = pad16(position);
    if (h.vbf_offset != vbf_offset)
        defects.push_back(format("vbf_offset is %u, expected %llu (the end of the tables brought up to a multiple of 16)",
                                 h.vbf_offset, ull{vbf_offset}));
    const uint64_t vbf_end = uint64_t{h.vbf_offset} + h.vbf_size;
    if (pad16(vbf_end) != trailer)
        defects.push_back(format("the VBF area (offset %u, %u bytes) with its fill ends at %llu, but the trailer "
                                 "begins at %llu",
                                 h.vbf_offset, h.vbf_size, ull{pad16(vbf_end)}, ull{trailer}));
    if (inside(h.vbf_offset, h.vbf_size)) {
        c.vbf = {h.vbf_offset, h.vbf_size};
        c.vbf_in_file = true;
    }

    if (position <= h.vbf_offset && h.vbf_offset <= trailer) check_fill(bytes, position, h.vbf_offset, "before the VBF area", defects);
    if (vbf_end <= trailer) check_fill(bytes, vbf_end, trailer, "after the VBF area", defects);
    return c;
}

}  // namespace vendrak::inspect
