#include "driver/writer.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/bytes.h"
#include "common/fatal.h"
#include "platform/platform.h"
#include "vbf/crc32.h"
#include "vbf/vbf.h"

namespace vendrak {

namespace {

container_layout layout_of(const program& prog, const vbf_area& area) {
    return vendrak::layout_of(opcode_size * static_cast<uint64_t>(prog.instructions.size()), prog.string_table.size(),
                              prog.data_table.size(), area.size);
}

}  // namespace

vbf_area build_vbf_area(program& prog, std::FILE* temp, const std::string& temp_name) {
    const auto cannot_write = [&] {
        fail(out_stream::out, "Error: Cannot write \"%s\" temporary VBF output file\n", temp_name.c_str());
    };
    // Image offset of the first entry of each (file name, checksum): a file
    // that several programming instructions name is stored once.
    std::unordered_map<std::string, uint32_t> first_image;
    vbf_area area;
    area.offset = layout_of(prog, area).vbf_offset % area_alignment;
    if (!platform::seek(temp, area.offset)) cannot_write();
    for (vbf_entry& entry : prog.vbfs) {
        opcode_bytes& opcode = prog.instructions[entry.instruction].opcode;
        byte_writer(opcode).u32le(image_offset_at, area.size);

        // The image goes right after the kept ones; the output ends the run
        // before the area would reach 2 GiB.
        stream_output out(temp, area.size, max_file_size);
        vbf_image image;
        if (vbf_process(entry.file_name.c_str(), out, image) == -1)
            fail(out_stream::out, "Error: Cannot process \"%s\" file\n", entry.file_name.c_str());
        if (std::ferror(temp)) cannot_write();
        entry.file_checksum = image.file_checksum;

        // Names cannot hold a NUL, so name, NUL, checksum bytes is unique.
        std::string key = entry.file_name;
        key.push_back('\0');
        for (int shift = 0; shift < 32; shift += 8) key.push_back(static_cast<char>(entry.file_checksum >> shift));

        auto [earlier, inserted] = first_image.try_emplace(std::move(key), area.size);
        if (!inserted) {
            // The same image is already in the area: point at it and let the
            // next image overwrite this copy (the final cut drops the rest).
            // Its bytes never count in the area's register.
            byte_writer(opcode).u32le(image_offset_at, earlier->second);
            if (!platform::seek(temp, area.offset + area.size)) cannot_write();
        } else {
            area.crc = crc32_combine(area.crc, image.crc, image.size);
            area.size += static_cast<uint32_t>(image.size);
        }
    }
    if (std::fflush(temp) != 0 || std::ferror(temp)) cannot_write();
    if (!platform::truncate(temp, area.offset + area.size)) fail(out_stream::out, "Error: Cannot open resize VBF container\n");
    return area;
}

namespace {

// Writes to the output container; any failure ends the run, so a run never
// reports success for a container that was not written whole.
class output_writer {
public:
    output_writer(std::FILE* file, const std::string& name) : file_(file), name_(name) {}

    void write(const void* data, size_t n) {
        if (n != 0 && std::fwrite(data, 1, n, file_) != n) failed();
    }
    void seek(uint64_t position) {
        if (!platform::seek(file_, position)) failed();
    }
    void finish() {
        if (std::fflush(file_) != 0 || std::ferror(file_)) failed();
    }
    [[noreturn]] void failed() { fail(out_stream::out, "Error: Cannot write \"%s\" output file\n", name_.c_str()); }
    std::FILE* file() { return file_; }

private:
    std::FILE* file_;
    const std::string& name_;
};

}  // namespace

uint64_t check_container_size(const program& prog, const vbf_area& area) {
    const uint64_t size = layout_of(prog, area).file_size;
    if (size >= max_file_size) fail(out_stream::out, "Error: Output container exceeds 2 GiB\n");
    return size;
}

container_summary write_container(const program& prog, const vbf_area& area, std::FILE* temp, bool encrypt,
                                  std::FILE* out_file, const std::string& output_name, container_header& header) {
    const container_layout l = layout_of(prog, area);
    container_header h;
    h.format_byte = container_format;
    h.created = header.created;
    h.host_mac = header.host_mac;
    h.string_size = static_cast<uint32_t>(prog.string_table.size());
    h.data_size = static_cast<uint32_t>(prog.data_table.size());
    h.vbf_size = area.size;

    // The program part: the header placeholder, the instructions, the tables
    // and the blanks up to the VBF area. Until the container is complete its
    // header carries magic 0 and no offsets.
    std::vector<uint8_t> part(l.vbf_offset, fill_byte);
    const auto placeholder = serialize_header(h);
    auto at = std::copy(placeholder.begin(), placeholder.end(), part.begin());
    for (const instruction& insn : prog.instructions) at = std::copy(insn.opcode.begin(), insn.opcode.end(), at);
    at = std::copy(prog.string_table.begin(), prog.string_table.end(), at);
    std::copy(prog.data_table.begin(), prog.data_table.end(), at);

    output_writer out(out_file, output_name);
    out.write(part.data(), part.size());

    // The final form of the program part, as the file will hold it at the end.
    h.magic = container_magic;
    h.code_offset = header_size;
    h.code_size = l.code_size;
    h.string_offset = l.string_offset;
    h.data_offset = l.data_offset;
    h.vbf_offset = static_cast<uint32_t>(l.vbf_offset);
    const auto final_header = serialize_header(h);
    std::copy(final_header.begin(), final_header.end(), part.begin());
    size_t rewrite = header_size;
    if (encrypt) {
        encrypt_blocks(part);
        rewrite = part.size();
    }

    // The CRC runs over the program part, then over the VBF area, whose
    // register the conversion has already computed: it is carried over the
    // area's length instead of reading the area back.
    uint32_t crc = container_crc(0, part.data(), part.size());
    // The program part reaches the file before the area is copied, so that a
    // failure names the part whose bytes failed, whatever the stream buffers.
    out.finish();
    if (!platform::copy_file_area(temp, area.offset, out.file(), area.size)) fail(out_stream::out, "Error: Cannot copy VBF files\n");
    crc = crc32_combine(crc, area.crc, area.size);

    static constexpr uint8_t blanks[16] = {fill_byte, fill_byte, fill_byte, fill_byte, fill_byte, fill_byte,
                                           fill_byte, fill_byte, fill_byte, fill_byte, fill_byte, fill_byte,
                                           fill_byte, fill_byte, fill_byte, fill_byte};
    const uint64_t fill = pad16(area.size) - area.size;
    out.write(blanks, fill);
    crc = container_crc(crc, blanks, fill);

    const auto trailer = blank_trailer();
    out.write(trailer.data(), trailer.size());

    out.seek(0);
    out.write(part.data(), rewrite);

    const auto text = crc_text(crc);
    out.seek(l.file_size - trailer_size + crc_text_at);
    out.write(text.data(), text.size());
    out.finish();

    header = h;
    return container_summary{l.code_size, l.file_size, crc};
}

}  // namespace vendrak
