#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "common/file.h"
#include "container/container.h"
#include "files.h"
#include "driver/writer.h"
#include "platform/platform.h"

namespace vendrak {
namespace {

namespace fs = std::filesystem;

TEST(container_header, serializes_packed_little_endian_fields) {
    container_header h;
    h.magic = 0x0600A55A;
    h.format_byte = 16;
    h.created = -2;  // signed seconds
    h.host_mac = {0x00, 0x1B, 0x21, 0xAA, 0xBB, 0xCC};
    h.code_offset = 64;
    h.code_size = 48;
    h.string_offset = 112;
    h.string_size = 5;
    h.data_offset = 0x01020304;
    h.data_size = 0xA0B0C0D0;
    h.vbf_offset = 128;
    h.vbf_size = 0x12345;

    const std::vector<uint8_t> expected = {
        0x5A, 0xA5, 0x00, 0x06,                          // magic
        0x10,                                            // format byte
        0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // created
        0x00, 0x1B, 0x21, 0xAA, 0xBB, 0xCC,              // host address
        0x40, 0x00, 0x00, 0x00,                          // code offset
        0x30, 0x00, 0x00, 0x00,                          // code size
        0x70, 0x00, 0x00, 0x00,                          // string offset
        0x05, 0x00, 0x00, 0x00,                          // string size
        0x04, 0x03, 0x02, 0x01,                          // data offset
        0xD0, 0xC0, 0xB0, 0xA0,                          // data size
        0x80, 0x00, 0x00, 0x00,                          // VBF offset
        0x45, 0x23, 0x01, 0x00,                          // VBF size
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,           // zero
    };
    auto bytes = serialize_header(h);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected);

    container_header back = parse_header(bytes.data());
    EXPECT_EQ(serialize_header(back), bytes);
    EXPECT_EQ(back.created, -2);
}

// The smallest worked example first: 3 instructions and a 5-byte string table put
// the VBF area at 128 and the trailer right after it.
TEST(container, lays_out_the_regions) {
    struct row {
        uint64_t code, strings, data, vbf;
        uint32_t string_offset, data_offset;
        uint64_t vbf_offset, file_size;
    };
    const row rows[] = {
        {48, 5, 0, 0, 112, 0, 128, 160},    // 11 blanks before the area, none after
        {48, 0, 0, 0, 0, 0, 112, 144},      // empty tables: the area follows the instructions
        {16, 0, 3, 1, 0, 80, 96, 144},      // data table only; 15 blanks after a 1-byte area
        {16, 16, 16, 32, 80, 96, 112, 176}, // everything already on 16-byte boundaries
    };
    for (const row& r : rows) {
        const container_layout l = layout_of(r.code, r.strings, r.data, r.vbf);
        EXPECT_EQ(l.string_offset, r.string_offset) << r.code << " " << r.strings << " " << r.data;
        EXPECT_EQ(l.data_offset, r.data_offset);
        EXPECT_EQ(l.vbf_offset, r.vbf_offset);
        EXPECT_EQ(l.file_size, r.file_size);
    }
}

TEST(container, refuses_to_reach_two_gibibytes) {
    // One instruction: the VBF area starts at 80; the file is the area
    // brought up to a multiple of 16, plus the 32-byte trailer.
    struct row {
        uint32_t vbf_end;
        uint64_t size;  // 0: refused
    };
    for (row r : {row{0, 112}, row{0x7FFFFF80u, 0x7FFFFFF0u}, row{0x7FFFFF81u, 0}, row{0x7FFFFF90u, 0}}) {
        program prog;
        prog.instructions.resize(1);
        const vbf_area area{r.vbf_end, 0};
        if (r.size != 0) {
            EXPECT_EQ(check_container_size(prog, area), r.size);
            continue;
        }
        try {
            check_container_size(prog, area);
            ADD_FAILURE() << r.vbf_end << " accepted";
        } catch (const fatal_error& e) {
            EXPECT_EQ(e.message(), "Error: Output container exceeds 2 GiB\n");
            EXPECT_EQ(e.where(), out_stream::out);
        }
    }
}

// The writer copies the VBF area from where it begins in the temporary file
// and composes the CRC from the program part's register and the area's,
// never reading the area back: the trailer must still hold the CRC of the
// file's bytes. The
// output on tmpfs makes the kernel refuse the in-kernel copy across file
// systems, so the copy goes through the buffer. A temporary file that cannot
// be read, or that is shorter than the area, fails the copy and leaves the
// output with magic 0.
TEST(container_writer, copies_the_area_and_composes_the_crc) {
    struct row {
        const char* what;
        size_t area_size;
        size_t area_offset;  // where the area begins in the temporary file
        bool encrypt;
        bool on_tmpfs;
        bool temp_readable;  // the temporary file is open for reading, not only appending
        size_t temp_size;    // bytes the temporary file holds
        bool copied;
    };
    const row rows[] = {
        {"no area", 0, 0, false, false, true, 0, true},
        {"one byte, encrypted", 1, 128, true, false, true, 129, true},
        {"one block", 16, 0, false, false, true, 16, true},
        {"past the copy buffer", 300001, 128, true, false, true, 300129, true},
        {"across file systems", 300001, 128, false, true, true, 300129, true},
        {"temporary file not readable", 5000, 0, false, false, false, 5000, false},
        {"temporary file too short", 5000, 128, false, false, true, 5127, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        if (r.on_tmpfs && !fs::is_directory("/dev/shm")) continue;
        vendrak_test::scratch_dir scratch;
        const fs::path out_path = r.on_tmpfs ? fs::path("/dev/shm") / scratch.path().filename() : scratch.side("out");
        std::string area_bytes(r.area_size, '\0');
        for (size_t i = 0; i < area_bytes.size(); ++i) area_bytes[i] = static_cast<char>(i * 7 + i / 251);
        const std::string temp_bytes = std::string(r.area_offset, 'x') + area_bytes;
        vendrak_test::write_file(scratch.side("temp"), temp_bytes.substr(0, r.temp_size));

        program prog;
        prog.instructions.resize(3);
        prog.instructions[1].opcode[0] = 0x0C;
        prog.string_table = {'H', 'I', 0};
        container_header header;
        header.created = 1700000000;
        header.host_mac = {1, 2, 3, 4, 5, 6};
        const vbf_area area{static_cast<uint32_t>(r.area_size),
                            vendrak_test::bitwise_crc(0, area_bytes.data(), area_bytes.size()), r.area_offset};

        file_ptr temp(std::fopen(scratch.side("temp").string().c_str(), r.temp_readable ? "rb+" : "ab"));
        file_ptr out(std::fopen(out_path.string().c_str(), "wb+"));
        ASSERT_TRUE(temp && out);
        std::string failure;
        container_summary summary;
        try {
            summary = write_container(prog, area, temp.get(), r.encrypt, out.get(), "x.bin", header);
        } catch (const fatal_error& e) {
            failure = e.message();
        }
        out.reset();
        const std::string bytes = vendrak_test::read_file(out_path);
        fs::remove(out_path);
        if (!r.copied) {
            EXPECT_EQ(failure, "Error: Cannot copy VBF files\n");
            EXPECT_EQ(bytes.substr(0, 4), std::string(4, '\0'));
            continue;
        }
        ASSERT_EQ(failure, "");
        const size_t trailer = bytes.size() - 32;
        EXPECT_EQ(bytes.size(), summary.file_size);
        EXPECT_EQ(summary.crc, vendrak_test::bitwise_crc(0, bytes.data(), trailer));
        const auto text = crc_text(summary.crc);
        EXPECT_EQ(bytes.substr(trailer + 4, 10), std::string(text.begin(), text.end()));
        EXPECT_EQ(bytes.substr(128, r.area_size), area_bytes) << "the VBF area";
        const std::string plain = r.encrypt ? vendrak_test::decrypted(bytes) : bytes;
        EXPECT_EQ(vendrak_test::u32_at(plain, 0), container_magic);
        EXPECT_EQ(vendrak_test::u32_at(plain, 47), r.area_size);
        EXPECT_EQ(plain.substr(112, 3), std::string("HI\0", 3));
    }
}

// The host address in the header: the adapter with the lowest index, of
// those that are no loopback and have six bytes, not all zero.
TEST(host_mac, first_adapter_with_an_address) {
    const uint8_t a[] = {2, 0, 0, 0, 0, 1}, b[] = {2, 0, 0, 0, 0, 2}, zero[6] = {}, eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    using adapters = std::vector<platform::network_adapter>;
    const struct {
        adapters list;
        std::array<uint8_t, 6> chosen;
    } rows[] = {
        {{}, {}},
        {{{3, false, a}, {2, false, b}, {4, false, a}}, {2, 0, 0, 0, 0, 2}},
        {{{3, false, a}, {2, true, b}}, {2, 0, 0, 0, 0, 1}},
        {{{3, false, a}, {1, false, zero}, {2, false, eight}}, {2, 0, 0, 0, 0, 1}},
        {{{5, false, b}, {5, false, a}}, {2, 0, 0, 0, 0, 2}},
    };
    for (const auto& r : rows) EXPECT_EQ(platform::first_adapter_address(r.list), r.chosen);
}

}  // namespace
}  // namespace vendrak
