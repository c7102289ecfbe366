#include "inspect/image.h"

#include <array>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include "common/bytes.h"
#include "common/fatal.h"
#include "inspect/text.h"
#include "vbf/crc32.h"

namespace vendrak::inspect {
namespace {

using ul = unsigned long;

constexpr std::string_view end_marker = "ENDOFVBF";
constexpr size_t section_head_size = 8;
constexpr size_t block_checksum_size = 2;
// What the converter's header record holds.
constexpr size_t max_part_number = 31;
constexpr size_t max_key_hash = 127;
constexpr size_t max_erase_entries = 1000;

// 0 is the default, written by leaving the item out; any other code needs
// the keyword that gives it.
bool has_keyword(std::span<const vbf_keyword> table, uint32_t code) {
    return code == 0 || !keyword_of(table, code).empty();
}

// The keys of the fixed text lines, in their order.
constexpr std::string_view line_keys[] = {
    "sw_part_number=", "sw_part_type=",   "prog_type=",     "data_format_identifier=", "network=",
    "ecu_address=",    "frame_format=",   "call=",          "file_checksum=",          "ctp_checksum=",
    "description=",    "datproc_method=", "datproc_param=", "public_key_hash="};
constexpr size_t fixed_lines = std::size(line_keys);

// Reads a decimal or "0x" hexadecimal number from the front of `s` and the
// one separator after it. Lenient on purpose: the lines are rendered again
// and compared, which catches every form the converter does not write.
uint32_t take_number(std::string_view& s) {
    int base = 10;
    if (s.starts_with("0x")) {
        base = 16;
        s.remove_prefix(2);
    }
    uint64_t value = 0;
    while (!s.empty()) {
        const char ch = s.front();
        int digit = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : 99;
        if (digit >= base) break;
        value = std::min<uint64_t>(value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit), 0x100000000u);
        s.remove_prefix(1);
    }
    if (!s.empty()) s.remove_prefix(1);
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

bool valid_text(const std::string& text) {
    for (char ch : text) {
        const auto b = static_cast<uint8_t>(ch);
        if (b < 0x21 || b > 0x7E || b == ';') return false;
    }
    return true;
}

// Checks the values no VBF header item can give.
std::string value_problem(const image_header& h) {
    if (!valid_text(h.sw_part_number) || h.sw_part_number.size() > max_part_number)
        return format("sw_part_number \"%s\" is no text the converter keeps", shown(h.sw_part_number).c_str());
    if (!valid_text(h.public_key_hash) || h.public_key_hash.size() > max_key_hash)
        return format("public_key_hash \"%s\" is no text the converter keeps", shown(h.public_key_hash).c_str());
    if (!has_keyword(sw_part_types, h.sw_part_type)) return format("sw_part_type %u has no keyword", h.sw_part_type);
    if (!has_keyword(prog_types, h.prog_type)) return format("prog_type %u has no keyword", h.prog_type);
    if (!has_keyword(networks, h.network)) return format("network %u has no keyword", h.network);
    if (!has_keyword(sub_networks, h.network_sub)) return format("sub-network %u has no keyword", h.network_sub);
    if (!has_keyword(frame_formats, h.frame_format)) return format("frame_format %u has no keyword", h.frame_format);
    if (!has_keyword(datproc_methods, h.datproc_method))
        return format("datproc_method %u has no keyword", h.datproc_method);
    if (h.erase.size() > max_erase_entries)
        return format("%zu erase lines: the converter keeps at most %zu", h.erase.size(), max_erase_entries);
    return {};
}

void put_u32be(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// The 4 bytes that take the CRC-32 register from `reg` to `final_reg`.
// Going back over one byte undoes a table step: the table's top bytes are
// all different, so the register's top byte names the entry used; four steps
// back leave the register before the bytes XORed with the bytes themselves.
std::array<uint8_t, 4> forcing_bytes(uint32_t reg, uint32_t final_reg) {
    static const std::array<uint8_t, 256> entry_of_top_byte = [] {
        std::array<uint8_t, 256> inverse{};
        for (uint32_t k = 0; k < 256; ++k) inverse[crctab32[k] >> 24] = static_cast<uint8_t>(k);
        return inverse;
    }();
    uint32_t x = final_reg;
    for (int step = 0; step < 4; ++step) {
        const uint8_t k = entry_of_top_byte[x >> 24];
        x = (x ^ crctab32[k]) << 8 | k;
    }
    x ^= reg;
    return {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x >> 16),
            static_cast<uint8_t>(x >> 24)};
}

}  // namespace

bool read_image(std::span<const uint8_t> area, uint64_t offset, const std::function<bool(uint64_t)>& is_boundary,
                image_info& image, std::string& problem) {
    image = image_info{};
    image.offset = offset;
    const std::string_view bytes(reinterpret_cast<const char*>(area.data()), area.size());

    // The text lines, up to and including "data".
    uint64_t pos = offset;
    for (;;) {
        const size_t end = pos < bytes.size() ? bytes.find('\n', pos) : std::string_view::npos;
        if (end == std::string_view::npos) {
            problem = "its text lines do not end with a line \"data\"";
            return false;
        }
        image.lines.emplace_back(bytes.substr(pos, end - pos));
        pos = end + 1;
        if (image.lines.back() == "data") break;
    }
    if (image.lines.size() <= fixed_lines) {
        problem = format("it has %zu text lines before \"data\", expected at least %zu", image.lines.size() - 1,
                         fixed_lines);
        return false;
    }
    for (size_t i = 0; i < fixed_lines; ++i) {
        if (!image.lines[i].starts_with(line_keys[i])) {
            problem = format("line %zu \"%s\" does not begin with \"%s\"", i + 1, shown(image.lines[i]).c_str(),
                             line_keys[i].data());
            return false;
        }
    }

    image_header& h = image.header;
    auto value = [&](size_t i) { return std::string_view(image.lines[i]).substr(line_keys[i].size()); };
    auto number = [&](size_t i) {
        std::string_view v = value(i);
        return take_number(v);
    };
    h.sw_part_number = value(0);
    h.sw_part_type = number(1);
    h.prog_type = number(2);
    h.data_format_identifier = number(3);
    std::string_view v = value(4);
    h.network = take_number(v);
    h.network_sub = take_number(v);
    v = value(5);
    for (uint32_t& a : h.ecu_address) a = take_number(v);
    h.frame_format = number(6);
    h.call = number(7);
    h.file_checksum = number(8);
    h.ctp_crc32 = number(9);
    v = value(10);
    for (uint16_t& d : h.description) d = static_cast<uint16_t>(take_number(v));
    h.datproc_method = number(11);
    h.datproc_param = number(12);
    h.public_key_hash = value(13);
    for (size_t i = fixed_lines; i + 1 < image.lines.size(); ++i) {
        std::string_view e = std::string_view(image.lines[i]);
        if (e.starts_with("erase=")) e.remove_prefix(6);
        const uint32_t start = take_number(e);
        h.erase.push_back({start, take_number(e)});
    }

    // Every line must be exactly what the converter writes for its values.
    const std::string expected = image_text(h);
    const std::string_view actual = bytes.substr(offset, pos - offset);
    if (expected != actual) {
        size_t line = 0;
        size_t at = 0;
        while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) {
            if (actual[at] == '\n') ++line;
            ++at;
        }
        problem = format("line %zu \"%s\" is not as the converter writes it", line + 1,
                         shown(image.lines[std::min(line, image.lines.size() - 1)]).c_str());
        return false;
    }
    if (std::string p = value_problem(h); !p.empty()) {
        problem = p;
        return false;
    }

    // The kept sections, then the end marker.
    for (;;) {
        if (pos + section_head_size > area.size()) {
            problem = "it does not end with ENDOFVBF before the end of the VBF area";
            return false;
        }
        const uint32_t address = get_u32be(area, pos);
        const uint32_t length = get_u32be(area, pos + 4);
        const uint64_t section_end = pos + section_head_size + length + block_checksum_size;
        if (bytes.substr(pos, end_marker.size()) == end_marker &&
            (section_end > area.size() || is_boundary(pos + end_marker.size()))) {
            image.size = pos + end_marker.size() - offset;
            return true;
        }
        if (section_end > area.size()) {
            problem = format("its section at 0x%08X of %u bytes runs past the end of the VBF area", address, length);
            return false;
        }
        const auto block_checksum = static_cast<uint16_t>(area[section_end - 2] << 8 | area[section_end - 1]);
        image.sections.push_back({address, length, pos, block_checksum});
        pos = section_end;
    }
}

std::vector<uint8_t> rebuild_vbf(const image_info& image, std::span<const uint8_t> area) {
    const image_header& h = image.header;
    if (std::string p = value_problem(h); !p.empty()) throw std::runtime_error(p);

    std::string text = "vbf_version=2.6;\nheader {\n";
    auto item = [&](const std::string& s) { text += "    " + s + ";\n"; };
    // A final double quote is removed from the text, so one is always added.
    if (!h.sw_part_number.empty()) item("sw_part_number=\"" + h.sw_part_number + "\"");
    if (h.sw_part_type != 0) item("sw_part_type=" + std::string(keyword_of(sw_part_types, h.sw_part_type)));
    if (h.prog_type != 0) item("prog_type=" + std::string(keyword_of(prog_types, h.prog_type)));
    if (h.data_format_identifier != 0) item(format("data_format_identifier=0x%X", h.data_format_identifier));
    // The sub-network keyword is read at a fixed place, after a primary
    // keyword of six characters; six other letters leave the primary at 0.
    if (h.network_sub != 0) {
        const std::string primary = h.network != 0 ? std::string(keyword_of(networks, h.network)) : "NONE__";
        item("network={" + primary + "," + std::string(keyword_of(sub_networks, h.network_sub)) + "}");
    } else if (h.network != 0) {
        item("network=" + std::string(keyword_of(networks, h.network)));
    }
    if (h.ecu_address[0] != 0 || h.ecu_address[1] != 0 || h.ecu_address[2] != 0)
        item(format("ecu_address={0x%X,0x%X,0x%X}", h.ecu_address[0], h.ecu_address[1], h.ecu_address[2]));
    if (h.frame_format != 0) item("frame_format=" + std::string(keyword_of(frame_formats, h.frame_format)));
    if (h.call != 0xFFFFFFFF) item(format("call=0x%08X", h.call));
    item(format("file_checksum=0x%08X", h.file_checksum));
    if (h.ctp_crc32 != 0) item(format("ctp_crc32=0x%08X", h.ctp_crc32));
    // The second description value is read from the 22nd character of the
    // item on: after a first value of four characters and "," in quotes, or
    // after one of six characters and a single quote.
    if (h.description[0] != 0 || h.description[1] != 0) {
        const unsigned first = h.description[0];
        std::string head = first <= 0xFF                     ? format("0x%02X\",\"", first)
                           : first >= 1000 && first <= 9999 ? format("%u\",\"", first)
                                                             : format("0x%04X\"", first);
        item("description={\"" + head + format("0x%04X\"}", unsigned{h.description[1]}));
    }
    if (h.datproc_method != 0) item("datproc_method=" + std::string(keyword_of(datproc_methods, h.datproc_method)));
    if (h.datproc_param != 0) item(format("datproc_param=%u", h.datproc_param));
    if (!h.public_key_hash.empty()) item("public_key_hash=\"" + h.public_key_hash + "\"");
    for (const auto& [start, length] : h.erase) item(format("erase={{0x%08X,0x%08X}}", start, length));

    // The data part: the kept sections byte for byte.
    std::vector<uint8_t> data;
    for (const image_section& s : image.sections) {
        const auto from = area.begin() + static_cast<std::ptrdiff_t>(s.at);
        data.insert(data.end(), from, from + section_head_size + s.length + block_checksum_size);
    }
    uint32_t reg = crc32_update(0xFFFFFFFF, data.data(), data.size());
    if ((reg ^ 0xFFFFFFFF) != h.file_checksum) {
        // The source had omitted sections. One omitted section, at an
        // address no kept section starts at and with an omit entry that no
        // erase line repeats, carries 2 data bytes and its 2 block checksum
        // bytes: those last 4 bytes make the checksum come out right.
        constexpr uint32_t omit_length = 0x100;
        std::unordered_set<uint32_t> starts;
        for (const image_section& s : image.sections) starts.insert(s.address);
        std::unordered_set<uint64_t> erased;
        for (const auto& [start, length] : h.erase) erased.insert(uint64_t{start} << 32 | length);
        uint32_t address = 0xFFFFFF00;
        while (starts.contains(address) || erased.contains(uint64_t{address} << 32 | omit_length)) --address;
        item(format("omit={{0x%08X,0x%08X}}", address, omit_length));

        const size_t head_at = data.size();
        put_u32be(data, address);
        put_u32be(data, 2);
        reg = crc32_update(reg, data.data() + head_at, section_head_size);
        const auto forced = forcing_bytes(reg, h.file_checksum ^ 0xFFFFFFFF);
        data.insert(data.end(), forced.begin(), forced.end());
        if ((crc32_update(0xFFFFFFFF, data.data(), data.size()) ^ 0xFFFFFFFF) != h.file_checksum)
            throw std::logic_error("the forced file checksum does not come out");
    }
    // The data part begins right after the header's closing brace.
    text += "}";

    std::vector<uint8_t> file(text.begin(), text.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

}  // namespace vendrak::inspect
