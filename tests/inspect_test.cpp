// vendrak-inspect on a container written here byte by byte: what it shows of
// a sound one, and the one line it reports for each kind of damage.
#include <cstring>

#include "container/container.h"
#include "files.h"
#include "inspect/inspect.h"

namespace {

using vendrak::inspect::inspect_container;
using vendrak_test::hex32;

// The container CRC of the first `n` bytes, bit by bit.
uint32_t reference_crc(const std::vector<uint8_t>& bytes, size_t n) { return vendrak_test::bitwise_crc(0, bytes.data(), n); }
void set_crc(std::vector<uint8_t>& c) {
    const std::string text = hex32(reference_crc(c, c.size() - 32));
    std::memcpy(&c[c.size() - 28], text.data(), 10);
}

void put_u32(std::vector<uint8_t>& c, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) c[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// LCD 1 1 "HI", a GOTO to the closing EXIT, the EXIT: 48 bytes of
// instructions at 64, "HI" and its NUL at 112, blanks up to the empty VBF
// area at 128, the trailer at 128.
std::vector<uint8_t> sound_container() {
    std::vector<uint8_t> c(160, 0);
    put_u32(c, 0, 0x0600A55A);
    c[4] = 16;
    put_u32(c, 5, 1700000000);  // created
    c[13] = 0x02;               // host_mac 02:00:00:00:00:01
    c[18] = 0x01;
    put_u32(c, 19, 64);   // code_offset
    put_u32(c, 23, 48);   // code_size
    put_u32(c, 27, 112);  // string_offset
    put_u32(c, 31, 3);    // string_size
    put_u32(c, 43, 128);  // vbf_offset
    const uint8_t program[48] = {
        0x13, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,     // LCD row 0, column 0, string at 0
        0x04, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // JMP 0x20
        0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,     // EXIT
    };
    std::memcpy(&c[64], program, sizeof program);
    std::memcpy(&c[112], "HI", 3);
    std::fill(c.begin() + 115, c.begin() + 128, ' ');
    std::memcpy(&c[128], "CRC:", 4);
    c[142] = ' ';
    std::memcpy(&c[144], "VENDRAK v0.0.36", 16);
    set_crc(c);
    return c;
}

bool has_line(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

TEST(inspect, shows_and_decompiles_a_sound_container) {
    const auto r = inspect_container(sound_container(), "t.out");
    EXPECT_EQ(r.defects, std::vector<std::string>{});
    const std::string listing = vendrak::inspect::listing(r);
    for (const char* line : {
             "container   t.out, 160 bytes",
             "magic       0x0600A55A",
             "created     2023-11-14 22:13:20 UTC (1700000000)",
             "host_mac    02:00:00:00:00:01",
             "code        offset 64, size 48 (3 instructions)",
             "strings     offset 112, size 3",
             "vbf         offset 128, size 0 (0 images)",
             "0000  13 00 00 00 06 00 00 00  00 00 00 00 00 00 00 00  LCD 1 1 \"HI\"",
             "0010  04 00 20 00 00 00 00 00  00 00 00 00 00 00 00 00  JMP 0x0020",
             "0020  0E 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  EXIT",
         })
        EXPECT_TRUE(has_line(listing, line)) << line << "\nin\n" << listing;
    EXPECT_EQ(vendrak::inspect::script_text(r, ""),
              "; decompiled from t.out by vendrak-inspect: 3 instructions, 3 string bytes, 0 data bytes, 0 images\n"
              "LCD 1 1 \"HI\"\n"
              "GOTO L0020\n"
              "L0020:\n");
}

struct damage {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> change;
    bool crc_fixed;  // the CRC text is brought up to date after the change
    std::string defect;
};

TEST(inspect, reports_each_damage_in_one_line) {
    const std::vector<uint8_t> sound = sound_container();
    const uint32_t sound_crc = reference_crc(sound, 128);
    std::vector<uint8_t> flipped = sound;
    flipped[113] ^= 0x01;
    const uint32_t flipped_crc = reference_crc(flipped, 128);

    const damage rows[] = {
        {"cut inside a block", [](auto& c) { c.resize(150); }, false, "the file length 150 is not a multiple of 16"},
        {"cut below header and trailer", [](auto& c) { c.resize(90); }, false,
         "the file holds 90 bytes, too few for a 64-byte header and a 32-byte trailer"},
        {"last block cut", [](auto& c) { c.resize(144); }, false,
         "the trailer does not begin with \"CRC:\" but with \"HI\\x00 \""},
        {"flipped byte", [](auto& c) { c[113] ^= 0x01; }, false,
         "CRC mismatch: the trailer says " + hex32(sound_crc) + ", the bytes before it give " + hex32(flipped_crc)},
        {"CRC text", [](auto& c) { std::memcpy(&c[132], "0x1234567g", 10); }, false,
         "the trailer's CRC text \"0x1234567g\" is not 0x and eight upper-case hexadecimal digits"},
        {"trailer end", [](auto& c) { c[143] = ' '; }, false, "trailer bytes 14 and 15 are not a blank and a NUL"},
        {"magic", [](auto& c) { c[0] = 0x5B; }, true,
         "magic is 0x0600A55B, expected 0x0600A55A (nor does the first block decrypt to it)"},
        {"format byte", [](auto& c) { c[4] = 17; }, true, "format byte is 17, expected 16"},
        {"reserved header byte", [](auto& c) { c[63] = 1; }, true, "header bytes 51 to 63 are not all zero"},
        {"code_offset", [](auto& c) { put_u32(c, 19, 80); }, true, "code_offset is 80, expected 64"},
        {"code_size", [](auto& c) { put_u32(c, 23, 40); }, true, "code_size 40 is not a multiple of 16"},
        {"string_offset", [](auto& c) { put_u32(c, 27, 113); }, true, "string_offset is 113, expected 112"},
        {"data_offset of an empty table", [](auto& c) { put_u32(c, 35, 115); }, true,
         "data_offset is 115 for an empty table, expected 0"},
        {"vbf_offset", [](auto& c) { put_u32(c, 43, 144); }, true,
         "vbf_offset is 144, expected 128 (the end of the tables brought up to a multiple of 16)"},
        {"vbf_size", [](auto& c) { put_u32(c, 47, 16); }, true,
         "the VBF area (offset 128, 16 bytes) with its fill ends at 144, but the trailer begins at 128"},
        {"fill", [](auto& c) { c[120] = 0; }, true, "the fill before the VBF area holds 0x00 at offset 120, not a blank"},
        {"unknown opcode", [](auto& c) { c[64] = 99; }, true, "instruction at 0x0000: unknown operation code 99"},
        {"jump into an instruction", [](auto& c) { c[82] = 0x18; }, true,
         "instruction at 0x0010: jump target 0x0018 falls inside the instruction at 0x0010"},
        {"jump out of the program", [](auto& c) { c[82] = 0x30; }, true,
         "instruction at 0x0010: jump target 0x0030 lies outside the instruction area (48 bytes)"},
        {"string reference", [](auto& c) { c[69] = 3; }, true,
         "instruction at 0x0000: string offset 3 lies outside the string table (3 bytes)"},
        {"image offset", [](auto& c) { c[64] = 0x18, c[68] = 0, c[72] = 5; }, true,
         "instruction at 0x0000: image offset 5 lies outside the VBF area (0 bytes)"},
        {"unused operand byte", [](auto& c) { c[78] = 1; }, true,
         "instruction at 0x0000: byte 14 is 0x01, but the compiler writes 0x00 for \"LCD 1 1 \"HI\"\""},
        {"unused table byte", [](auto& c) { c[113] = 0; }, true,
         "the string table holds 3 bytes, but the program's statements make 2"},
        {"JF without CMP", [](auto& c) { c[80] = 3; }, true, "instruction at 0x0010: JF does not follow a CMP"},
        {"no closing EXIT", [](auto& c) { c[96] = 0x10; }, true, "the program does not end with EXIT"},
    };
    for (const damage& row : rows) {
        std::vector<uint8_t> c = sound;
        row.change(c);
        if (row.crc_fixed) set_crc(c);
        const auto defects = inspect_container(c).defects;
        EXPECT_NE(std::find(defects.begin(), defects.end(), row.defect), defects.end())
            << row.name << ": expected \"" << row.defect << "\", got\n"
            << ::testing::PrintToString(defects);
    }
}

// Every byte the format fixes is checked: changing any byte before the maker
// tag, or cutting the file anywhere, leaves at least one defect; and nothing
// read from a damaged file reaches past its end (run under the sanitizers).
TEST(inspect, finds_every_changed_byte_and_every_cut) {
    const std::vector<uint8_t> sound = sound_container();
    for (size_t at = 0; at < sound.size(); ++at) {
        for (uint8_t value : {0x00, 0x01, 0x20, 0x7F, 0xFF}) {
            if (sound[at] == value) continue;
            std::vector<uint8_t> c = sound;
            c[at] = value;
            const auto r = inspect_container(c);
            (void)vendrak::inspect::listing(r);
            if (at < sound.size() - 16) {
                EXPECT_FALSE(r.defects.empty()) << "byte " << at << " = " << int{value};
            }
        }
    }
    for (size_t length = 0; length < sound.size(); ++length) {
        const auto r = inspect_container(std::vector<uint8_t>(sound.begin(), sound.begin() + length));
        (void)vendrak::inspect::listing(r);
        EXPECT_FALSE(r.defects.empty()) << "cut at " << length;
    }
}

}  // namespace
