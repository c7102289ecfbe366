// The container as a library and the last steps of a run: the header's
// bytes, the size limit, the choice of the host address and the program's
// name. (Where the regions lie, every container of the e2e cases shows; the
// writer and the host address as read from the system are in
// driver_posix_test.cpp.)
#include "common/fatal.h"
#include "common/file.h"
#include "container/container.h"
#include "driver/writer.h"
#include "files.h"
#include "platform/platform.h"

namespace vendrak {
namespace {

using namespace vendrak_test;

TEST(container_header, serializes_packed_little_endian_fields) {
    const container_header h{0x0600A55A, 16, -2, {0x00, 0x1B, 0x21, 0xAA, 0xBB, 0xCC}, 64, 48, 112, 5,
                             0x01020304, 0xA0B0C0D0, 128, 0x12345};
    // Magic, format byte, created (signed), host address; the offset and the
    // size of the code, the strings, the data and the VBF area; 13 zeros.
    const std::vector<uint8_t> expected =
        hex("5A A5 00 06  10  FE FF FF FF FF FF FF FF  00 1B 21 AA BB CC  40 00 00 00 30 00 00 00 70 00 00 00 05 00 00 00"
            "  04 03 02 01 D0 C0 B0 A0 80 00 00 00 45 23 01 00  00 00 00 00 00 00 00 00 00 00 00 00 00");
    const auto bytes = serialize_header(h);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected);
    const container_header back = parse_header(bytes.data());
    EXPECT_EQ(serialize_header(back), bytes);
    EXPECT_EQ(back.created, -2);
}

// One instruction: the VBF area starts at 80; the file is the area brought
// up to a multiple of 16, plus the 32-byte trailer, and stays below 2 GiB.
TEST(container, refuses_to_reach_two_gibibytes) {
    const std::pair<uint32_t, uint64_t> rows[] = {{0, 112}, {0x7FFFFF80u, 0x7FFFFFF0u}, {0x7FFFFF81u, 0}, {0x7FFFFF90u, 0}};
    for (const auto& [vbf_end, size] : rows) {
        program prog;
        prog.instructions.resize(1);
        const vbf_area area{vbf_end, 0};
        uint64_t made = 0;
        EXPECT_EQ(error_of([&] { made = check_container_size(prog, area); }, out_stream::out),
                  size ? "" : "Error: Output container exceeds 2 GiB\n");
        EXPECT_EQ(made, size) << vbf_end;
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

// The usage names the program by the last part of argument 0.
TEST(program_name, last_part_of_argument_0) {
    for (const auto& [argument0, name] : {std::pair{"vendrak", "vendrak"}, {"/usr/bin/vendrak", "vendrak"}, {"bin/", ""}})
        EXPECT_STREQ(platform::program_name(argument0), name) << argument0;
}

// The checker's temporary stream: bytes back as written (no line-end or
// end-of-file translation), two streams apart, and on Windows a file in the
// user's temporary folder that goes with the stream.
TEST(temp_stream, binary_and_in_the_temporary_folder) {
    const std::string bytes = std::string("a\r\nb\n\x1A\0c", 8) + std::string(70000, '\n');
    const auto ours = [] {
        size_t n = 0;
#ifdef _WIN32
        for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
            n += entry.path().filename().string().starts_with("vdk");
#endif
        return n;
    };
    const size_t before = ours();
    {
        const file_ptr one(platform::temp_stream()), two(platform::temp_stream());
        ASSERT_TRUE(one && two);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), one.get()), bytes.size());
        ASSERT_EQ(std::fwrite("x", 1, 1, two.get()), 1u);
#ifdef _WIN32
        EXPECT_EQ(ours(), before + 2);
#endif
        std::rewind(one.get());
        std::string back(bytes.size() + 1, '-');
        EXPECT_EQ(std::fread(back.data(), 1, back.size(), one.get()), bytes.size());
        back.resize(bytes.size());
        EXPECT_EQ(back, bytes);
    }
    EXPECT_EQ(ours(), before);
}

}  // namespace
}  // namespace vendrak
