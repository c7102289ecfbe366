// The container as a library and the last steps of a run: the header's
// bytes, the size limit, the writer, and the host address. (Where the
// regions lie, every container of the e2e cases shows.)
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
        uint64_t made = 0;
        EXPECT_EQ(error_of([&] { made = check_container_size(prog, vbf_area{vbf_end, 0}); }, out_stream::out),
                  size ? "" : "Error: Output container exceeds 2 GiB\n");
        EXPECT_EQ(made, size) << vbf_end;
    }
}

// The writer copies the VBF area from where it begins in the temporary file
// and composes the CRC from the program part's register and the area's,
// never reading the area back: the trailer must still hold the CRC of the
// file's bytes. The output on tmpfs makes the kernel refuse the in-kernel copy across file
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
        scratch_dir scratch;
        const fs::path out_path = r.on_tmpfs ? fs::path("/dev/shm") / scratch.path().filename() : scratch.side("out");
        const std::string area_bytes = pattern_bytes(r.area_size, 4);
        const std::string temp_bytes = std::string(r.area_offset, 'x') + area_bytes;
        write_file(scratch.side("temp"), temp_bytes.substr(0, r.temp_size));

        program prog;
        prog.instructions.resize(3);
        prog.instructions[1].opcode[0] = 0x0C;
        prog.string_table = {'H', 'I', 0};
        container_header header;
        header.created = 1700000000;
        header.host_mac = {1, 2, 3, 4, 5, 6};
        const vbf_area area{static_cast<uint32_t>(r.area_size),
                            bitwise_crc(0, area_bytes.data(), area_bytes.size()), r.area_offset};

        file_ptr temp(std::fopen(scratch.side("temp").string().c_str(), r.temp_readable ? "rb+" : "ab"));
        file_ptr out(std::fopen(out_path.string().c_str(), "wb+"));
        ASSERT_TRUE(temp && out);
        container_summary summary;
        const std::string failure = error_of(
            [&] { summary = write_container(prog, area, temp.get(), r.encrypt, out.get(), "x.bin", header); },
            out_stream::out);
        out.reset();
        const std::string bytes = read_file(out_path);
        fs::remove(out_path);
        if (!r.copied) {
            EXPECT_EQ(failure, "Error: Cannot copy VBF files\n");
            EXPECT_EQ(bytes.substr(0, 4), std::string(4, '\0'));
            continue;
        }
        ASSERT_EQ(failure, "");
        const size_t trailer = bytes.size() - 32;
        EXPECT_EQ(bytes.size(), summary.file_size);
        EXPECT_EQ(summary.crc, bitwise_crc(0, bytes.data(), trailer));
        const auto text = crc_text(summary.crc);
        EXPECT_EQ(bytes.substr(trailer + 4, 10), std::string(text.begin(), text.end()));
        EXPECT_EQ(bytes.substr(128, r.area_size), area_bytes) << "the VBF area";
        const std::string plain = r.encrypt ? decrypted(bytes) : bytes;
        EXPECT_EQ(u32_at(plain, 0), container_magic);
        EXPECT_EQ(u32_at(plain, 47), r.area_size);
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
