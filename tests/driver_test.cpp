#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "driver/container.h"

namespace vendrak {
namespace {

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

TEST(container, pads_with_blanks_to_the_next_block) {
    struct row {
        size_t written;
        size_t expected_length;
    };
    for (row r : {row{0, 0}, row{1, 16}, row{15, 16}, row{16, 16}, row{17, 32}, row{112 + 5, 128}}) {
        std::FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        std::string text(r.written, 'x');
        std::fwrite(text.data(), 1, text.size(), f);
        padForAES(f);
        EXPECT_EQ(static_cast<size_t>(std::ftell(f)), r.expected_length) << r.written;
        std::rewind(f);
        std::string all(r.expected_length, '\0');
        EXPECT_EQ(std::fread(all.data(), 1, all.size(), f), all.size());
        EXPECT_EQ(all, text + std::string(r.expected_length - r.written, ' '));
        std::fclose(f);
        EXPECT_EQ(pad16(r.written), r.expected_length);
    }
}

TEST(container, crc_starts_at_zero_without_final_xor) {
    const std::string check = "123456789";
    EXPECT_EQ(container_crc(0, reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x2DFD2D88u);
    const std::vector<uint8_t> zeros(1000);
    EXPECT_EQ(container_crc(0, zeros.data(), zeros.size()), 0u);
}

TEST(container, refuses_to_reach_two_gibibytes) {
    // One instruction: the VBF area starts at 80; the file is the area
    // brought up to a multiple of 16, plus the 32-byte trailer.
    struct row {
        uint32_t vbf_end;
        uint64_t size;  // 0: refused
    };
    for (row r : {row{0, 112}, row{0x7FFFFF80u, 0x7FFFFFF0u}, row{0x7FFFFF81u, 0}, row{0x7FFFFF90u, 0}}) {
        run_context ctx;
        ctx.prog.instructions.resize(1);
        ctx.vbf_end = r.vbf_end;
        if (r.size != 0) {
            EXPECT_EQ(check_container_size(ctx), r.size);
            continue;
        }
        try {
            check_container_size(ctx);
            ADD_FAILURE() << r.vbf_end << " accepted";
        } catch (const fatal_error& e) {
            EXPECT_EQ(e.message(), "Error: Output container exceeds 2 GiB\n");
            EXPECT_EQ(e.where(), out_stream::out);
        }
    }
}

}  // namespace
}  // namespace vendrak
