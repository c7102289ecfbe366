#include "driver/container.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

#include "aes/aes.h"
#include "common/bytes.h"
#include "common/fatal.h"
#include "vbf/crc32.h"
#include "vbf/vbf.h"

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

void padForAES(std::FILE* stream) {
    static const char blanks[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    off_t position = ftello(stream);
    if (position >= 0 && position % 16 != 0) std::fwrite(blanks, 1, 16 - position % 16, stream);
}

uint32_t container_crc(uint32_t reg, const uint8_t* data, size_t n) { return crc32_update(reg, data, n); }

void build_vbf_area(run_context& ctx) {
    std::FILE* temp = ctx.temp_file.get();
    program& prog = ctx.prog;
    // Image offset of the first entry of each (file name, checksum): a file
    // that several programming instructions name is stored once.
    std::unordered_map<std::string, uint32_t> first_image;
    ctx.vbf_end = 0;
    for (vbf_entry& entry : prog.vbfs) {
        opcode_bytes& opcode = prog.instructions[entry.instruction].opcode;
        byte_writer(opcode).u32le(image_offset_at, ctx.vbf_end);

        if (vbf_process(entry.file_name.c_str(), temp, &entry.file_checksum) == -1)
            fail(out_stream::out, "Error: Cannot process \"%s\" file\n", entry.file_name.c_str());
        if (std::ferror(temp))
            fail(out_stream::out, "Error: Cannot write \"%s\" temporary VBF output file\n", ctx.temp_name.c_str());

        // Names cannot hold a NUL, so name, NUL, checksum bytes is unique.
        std::string key = entry.file_name;
        key.push_back('\0');
        for (int shift = 0; shift < 32; shift += 8) key.push_back(static_cast<char>(entry.file_checksum >> shift));

        auto [earlier, inserted] = first_image.try_emplace(std::move(key), ctx.vbf_end);
        if (!inserted) {
            // The same image is already in the area: point at it and let the
            // next image overwrite this copy (the final cut drops the rest).
            byte_writer(opcode).u32le(image_offset_at, earlier->second);
            if (fseeko(temp, ctx.vbf_end, SEEK_SET) != 0)
                fail(out_stream::out, "Error: Cannot write \"%s\" temporary VBF output file\n",
                     ctx.temp_name.c_str());
        } else {
            off_t end = ftello(temp);
            if (end < 0 || static_cast<uint64_t>(end) >= max_file_size)
                fail(out_stream::out, "Error: Output container exceeds 2 GiB\n");
            ctx.vbf_end = static_cast<uint32_t>(end);
        }
    }
    if (std::fflush(temp) != 0 || std::ferror(temp))
        fail(out_stream::out, "Error: Cannot write \"%s\" temporary VBF output file\n", ctx.temp_name.c_str());
    if (ftruncate(fileno(temp), ctx.vbf_end) != 0) fail(out_stream::out, "Error: Cannot open resize VBF container\n");
}

namespace {

struct layout {
    uint32_t code_size = 0;
    uint32_t string_offset = 0;
    uint32_t data_offset = 0;
    uint64_t vbf_offset = 0;
    uint64_t file_size = 0;
};

layout layout_of(const run_context& ctx) {
    const program& prog = ctx.prog;
    layout l;
    uint64_t position = header_size;
    uint64_t code_size = opcode_size * static_cast<uint64_t>(prog.instructions.size());
    position += code_size;
    if (!prog.string_table.empty()) {
        l.string_offset = static_cast<uint32_t>(position);
        position += prog.string_table.size();
    }
    if (!prog.data_table.empty()) {
        l.data_offset = static_cast<uint32_t>(position);
        position += prog.data_table.size();
    }
    l.code_size = static_cast<uint32_t>(code_size);
    l.vbf_offset = pad16(position);
    l.file_size = pad16(l.vbf_offset + ctx.vbf_end) + trailer_size;
    return l;
}

// Writes to the output container; any failure ends the run, so a run never
// reports success for a container that was not written whole.
class output_writer {
public:
    explicit output_writer(run_context& ctx) : file_(ctx.output_file.get()), name_(ctx.output_name) {}

    void write(const void* data, size_t n) {
        if (n != 0 && std::fwrite(data, 1, n, file_) != n) failed();
    }
    void seek(uint64_t position) {
        if (fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0) failed();
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

uint64_t check_container_size(const run_context& ctx) {
    uint64_t size = layout_of(ctx).file_size;
    if (size >= max_file_size) fail(out_stream::out, "Error: Output container exceeds 2 GiB\n");
    return size;
}

container_summary write_container(run_context& ctx) {
    const program& prog = ctx.prog;
    const layout l = layout_of(ctx);
    container_header& h = ctx.header;

    h = container_header{};
    h.format_byte = container_format;
    h.created = static_cast<int64_t>(std::time(nullptr));
    h.host_mac = host_mac_address();
    h.string_size = static_cast<uint32_t>(prog.string_table.size());
    h.data_size = static_cast<uint32_t>(prog.data_table.size());
    h.vbf_size = ctx.vbf_end;

    // The program part: the header placeholder, the instructions, the tables
    // and the blanks up to the VBF area. Until the container is complete its
    // header carries magic 0 and no offsets.
    std::vector<uint8_t> part(l.vbf_offset, ' ');
    auto placeholder = serialize_header(h);
    auto at = std::copy(placeholder.begin(), placeholder.end(), part.begin());
    for (const instruction& insn : prog.instructions) at = std::copy(insn.opcode.begin(), insn.opcode.end(), at);
    at = std::copy(prog.string_table.begin(), prog.string_table.end(), at);
    std::copy(prog.data_table.begin(), prog.data_table.end(), at);

    output_writer out(ctx);
    out.write(part.data(), part.size());

    // The final form of the program part, as the file will hold it at the end.
    h.magic = container_magic;
    h.code_offset = header_size;
    h.code_size = l.code_size;
    h.string_offset = l.string_offset;
    h.data_offset = l.data_offset;
    h.vbf_offset = static_cast<uint32_t>(l.vbf_offset);
    auto header = serialize_header(h);
    std::copy(header.begin(), header.end(), part.begin());
    size_t rewrite = header_size;
    if (ctx.aes) {
        for (size_t block = 0; block < part.size(); block += 16)
            AES128_ECB_encrypt(&part[block], aes_key.data(), &part[block]);
        rewrite = part.size();
    }
    uint32_t crc = container_crc(0, part.data(), part.size());

    // The VBF area, copied in chunks through one buffer; the CRC runs on over
    // the bytes as they go out.
    std::FILE* temp = ctx.temp_file.get();
    if (std::fflush(temp) != 0 || fseeko(temp, 0, SEEK_SET) != 0)
        fail(out_stream::out, "Error: Cannot copy VBF files\n");
    std::vector<uint8_t> chunk(vbf_copy_chunk);
    uint64_t copied = 0;
    for (;;) {
        size_t n = std::fread(chunk.data(), 1, chunk.size(), temp);
        if (n == 0) break;
        if (std::fwrite(chunk.data(), 1, n, out.file()) != n) fail(out_stream::out, "Error: Cannot copy VBF files\n");
        crc = container_crc(crc, chunk.data(), n);
        copied += n;
    }
    if (copied != ctx.vbf_end) fail(out_stream::out, "Error: Cannot copy VBF files\n");

    uint64_t fill = pad16(copied) - copied;
    static const uint8_t blanks[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                       ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    out.write(blanks, fill);
    crc = container_crc(crc, blanks, fill);

    uint8_t trailer[trailer_size] = {'C', 'R', 'C', ':'};
    std::memset(trailer + 4, ' ', 11);
    std::memcpy(trailer + 16, maker_tag, sizeof maker_tag);
    out.write(trailer, sizeof trailer);

    out.seek(0);
    out.write(part.data(), rewrite);

    char crc_text[11];
    std::snprintf(crc_text, sizeof crc_text, "0x%08X", crc);
    out.seek(l.file_size - 28);
    out.write(crc_text, 10);
    out.finish();

    return container_summary{l.code_size, l.file_size, crc};
}

}  // namespace vendrak
