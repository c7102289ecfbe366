// The VBF converter on files built byte by byte: the image lines each
// header item gives, the sections it keeps, and every message it prints.
#include "vbf/vbf.h"
#include "vbf/image.h"

#include "common/fatal.h"
#include "files.h"

namespace vendrak {
namespace {

using namespace vendrak_test;
using namespace std::string_literals;

uint32_t file_crc(const std::string& data) { return ~bitwise_crc(0xFFFFFFFF, data.data(), data.size()); }
std::string crc_line(const std::string& data) { return format("file_checksum=0x%08X", file_crc(data)); }

// A file with CR LF line ends, `items` in its header and the file checksum
// of `data`, its data part.
std::string vbf(const std::string& items, const std::string& data = "") {
    return "vbf_version = 2.6;\r\n\r\nheader {\r\n" + items +
           format("\r\n  file_checksum = 0x%08x;\r\n}", file_crc(data)) + data;
}

// The image lines of a header with the given lines replacing the defaults
// (matched by their key), then the erase lines and "data".
std::string image_text(const std::vector<std::string>& changed = {}, const std::vector<std::string>& erase = {}) {
    std::vector<std::string> lines = {
        "sw_part_number=",           "sw_part_type=0",          "prog_type=0",
        "data_format_identifier=0x0", "network=0,0",             "ecu_address=0x0,0x00,0x00",
        "frame_format=0",            "call=0xFFFFFFFF",         "file_checksum=0x00000000",
        "ctp_checksum=0x00000000",   "description=0x0000,0x0000", "datproc_method=0",
        "datproc_param=0",           "public_key_hash=",
    };
    for (const auto& c : changed) {
        const auto key = c.substr(0, c.find('=') + 1);
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(key); });
        EXPECT_NE(line, lines.end()) << c;
        if (line != lines.end()) *line = c;
    }
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    for (const auto& line : erase) text += line + "\n";
    return text + "data\n";
}

struct conversion {
    int status = 0;
    std::string image;
    std::string messages;
    uint32_t checksum = 0x55555555;
};

conversion convert(const std::string& bytes, const std::string& before = "", uint64_t limit = max_file_size) {
    static const scratch_dir dir;
    const std::string path = dir.side("test.vbf").string();
    write_file(path, bytes);
    conversion c;
    c.messages = written([&](std::FILE* messages) {
        c.image = written([&](std::FILE* out) {
            std::fwrite(before.data(), 1, before.size(), out);
            c.status = vbf_process(path.c_str(), out, &c.checksum, messages, limit);
        }).substr(before.size());
    });
    discard_output sink;
    vbf_image reported;
    int again = 0;
    EXPECT_EQ(written([&](std::FILE* messages) { again = vbf_process(path.c_str(), sink, reported, messages); }),
              c.messages);
    EXPECT_EQ(again, c.status);
    if (c.status == 0) {
        EXPECT_EQ(reported.file_checksum, c.checksum);
        EXPECT_EQ(reported.size, c.image.size());
        EXPECT_EQ(reported.crc, bitwise_crc(0, c.image.data(), c.image.size()));
    }
    return c;
}

// ---- Header items and the image lines they give ----

struct header_case {
    std::string items;
    std::vector<std::string> changed;
    std::vector<std::string> erase = {};
};

// Each row: header items, the image lines they change, the erase lines.
// Keywords match as prefixes, an unknown one keeps the code before it;
// numbers take an automatic base and stop at the first other character,
// without digits they read 0; a key again overwrites, erase items append;
// blanks vanish everywhere, quotes too; "/" opens a comment only before
// "/" or "*", and drops the byte after it otherwise.
TEST(Vbf, HeaderItemsGiveImageLines) {
    const std::string p31(31, 'P'), h127(127, 'h');
    // Lists hold a thousand pairs.
    std::string erase1000 = "erase={{0,1}";
    std::vector<std::string> lines1000 = {"erase=0x00000000,0x00000001"};
    for (int i = 1; i < 1000; ++i) {
        erase1000 += format(",{%d,1}", i);
        lines1000.push_back(format("erase=0x%08X,0x00000001", i));
    }
    const header_case cases[] = {
        {"", {}}, {"sw_part_number = \"318-08832-AB\";", {"sw_part_number=318-08832-AB"}},
        {"sw_part_number = \"AB CD\t\";", {"sw_part_number=ABCD"}}, {"sw_part_number = 318;", {}},
        {"sw_part_number=\"" + p31 + "\";", {"sw_part_number=" + p31}},
        {"sw_part_number=\"A}B\";", {"sw_part_number=A}B"}}, {"sw_part_number=\"a//b\";", {"sw_part_number=a//b"}},
        {"public_key_hash = \"" + h127 + "\";", {"public_key_hash=" + h127}},
        {"sw_part_type = CARCFG;", {"sw_part_type=1"}}, {"sw_part_type = CUSTOM;", {"sw_part_type=2"}},
        {"sw_part_type = DATA;", {"sw_part_type=3"}}, {"sw_part_type = EXE;", {"sw_part_type=4"}},
        {"sw_part_type = GBL;", {"sw_part_type=5"}}, {"sw_part_type = SBL;", {"sw_part_type=6"}},
        {"sw_part_type = SIGCFG;", {"sw_part_type=7"}}, {"sw_part_type = TEST;", {"sw_part_type=8"}},
        {"sw_part_type = BOOT;", {"sw_part_type=9"}}, {"sw_part_type = EXECUTABLE;", {"sw_part_type=4"}},
        {"sw_part_type=SBL; sw_part_type=FOO;", {"sw_part_type=6"}}, {"s w_part_type =\tE X E;", {"sw_part_type=4"}},
        {"prog_type = STELLANTIS;", {"prog_type=1"}}, {"prog_type = STELLANTIS; prog_type = FORD;", {"prog_type=0"}},
        {"datproc_method = WLP3;", {"datproc_method=1"}}, {"datproc_method = WLP2;", {"datproc_method=2"}},
        {"datproc_method = AUTH;", {"datproc_method=3"}}, {"datproc_param = 0x1F;", {"datproc_param=31"}},
        {"datproc_param = 017;", {"datproc_param=15"}}, {"datproc_param = 99;", {"datproc_param=99"}},
        {"data_format_identifier = 0x00;", {"data_format_identifier=0x0"}},
        {"data_format_identifier = 0X1f;", {"data_format_identifier=0x1F"}},
        {"data_format_identifier = -1;", {"data_format_identifier=0xFFFFFFFF"}},
        {"data_format_identifier = -5;", {"data_format_identifier=0xFFFFFFFB"}},
        {"data_format_identifier = +5;", {"data_format_identifier=0x5"}},
        {"data_format_identifier = 4294967295;", {"data_format_identifier=0xFFFFFFFF"}},
        {"data_format_identifier = 0x123456789;", {"data_format_identifier=0xFFFFFFFF"}},
        {"data_format_identifier = -4294967296;", {"data_format_identifier=0xFFFFFFFF"}},
        {"data_format_identifier = 0xZ1;", {"data_format_identifier=0x0"}},
        {"data_format_identifier = 0789;", {"data_format_identifier=0x7"}},
        {"data_format_identifier = 0x12; data_format_identifier = abc;", {}}, {"network = CAN_HS;", {"network=1,0"}},
        {"network = {CAN_MS, SUB_LIN2};", {"network=2,7"}}, {"network={CAN_HS,SUB_OTHER};", {"network=1,8"}},
        {"network={CAN_HS};", {"network=1,0"}}, {"network={FOO,SUB_CAN1};", {}},
        {"network={CAN_HS,SUB_CAN1}; network=CAN_MS;", {"network=2,4"}},
        {"ecu_address = 0x7E0;", {"ecu_address=0x7E0,0x00,0x00"}},
        {"ecu_address = {0x7E0, 0x10, 0x2};", {"ecu_address=0x7E0,0x10,0x02"}},
        {"ecu_address = {0x7E0,0x10};", {"ecu_address=0x7E0,0x10,0x00"}},
        {"ecu_address = {1:0x123/3};", {"ecu_address=0x1,0x123,0x03"}},
        {"ecu_address = {1 2 3};", {"ecu_address=0x7B,0x00,0x00"}},
        {"ecu_address={1,2,3}; ecu_address=5;", {"ecu_address=0x5,0x02,0x03"}},
        {"frame_format = CAN_STANDARD;", {"frame_format=1"}}, {"frame_format = CAN_EXTENDED;", {"frame_format=2"}},
        {"call = 0x10000;", {"call=0x00010000"}}, {"call = 0;", {"call=0x00000000"}},
        {"call = 1; call = 2;", {"call=0x00000002"}}, {"ctp_crc32 = 0xdeadbeef;", {"ctp_checksum=0xDEADBEEF"}},
        {"description = {\"1234\", \"5678\"};", {"description=0x04D2,0x162E"}},
        {"description = {\"0x12\",\"0x34\"};", {"description=0x0012,0x0034"}},
        {"description = {\"0x12345\",\"1\"};", {"description=0x2345,0x0000"}},
        {"description = {\"SOP software\", \"Created\"};", {}},
        {"description = {\"9\"};", {"description=0x0009,0x0000"}},
        {"erase = {{0x8000, 0x100}};", {}, {"erase=0x00008000,0x00000100"}},
        {"erase = {{ 0x1000 , 0x20 }, { 0x3000, 0x40 }};", {},
         {"erase=0x00001000,0x00000020", "erase=0x00003000,0x00000040"}},
        {"erase={{1,2}}; erase={{3,4}};", {}, {"erase=0x00000001,0x00000002", "erase=0x00000003,0x00000004"}},
        {"erase={{16:32}};", {}, {"erase=0x00000010,0x00000020"}},
        {"erase={{1,2},;", {}, {"erase=0x00000001,0x00000002", "erase=0x00000000,0x00000000"}},
        {"erase = {{0x1000,0x200},{0x1000,0x100}}; omit = {{0x1000,0x200}};", {}, {"erase=0x00001000,0x00000100"}},
        {"erase = {{0x80001000,0x10}}; omit = {{0x1000,0x10}};", {}, {"erase=0x80001000,0x00000010"}},
        {"sw_version = 1.0; sw_part_number_DID = 0xF188;", {}},
        {"// part type\r\n sw_part_type = GBL; // trailing\n", {"sw_part_type=5"}},
        {"//c\rsw_part_type = GBL;", {"sw_part_type=5"}}, {"/* a; b */ sw_part_type = GBL;", {"sw_part_type=5"}},
        {"/*/ sw_part_type=EXE; */ sw_part_type=SBL;", {"sw_part_type=6"}},
        {"/xsw_part_type = GBL;", {"sw_part_type=5"}}, {"/ sw_part_type = GBL;", {"sw_part_type=5"}},
        {erase1000 + "};", {}, lines1000}, {"omit" + erase1000.substr(5) + "};", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.items.substr(0, 100));
        const conversion r = convert(vbf(c.items));
        EXPECT_EQ(r.messages, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.image, image_text(c.changed, c.erase) + "ENDOFVBF");
    }
    // The inspector writes codes back as keywords: a code without one has none.
    EXPECT_EQ(keyword_of(sub_networks, 2), "");
    EXPECT_EQ(keyword_of(sub_networks, 3), "SUB_MOST");
}

// ---- Sections ----

TEST(Vbf, SectionsKeptAndOmitted) {
    const std::string one = "\x00\x00\x10\x00" "\x00\x00\x00\x03" "\x01\x02\x03" "\x5A\xA5"s;
    const std::string empty = "\x00\x00\x20\x00" "\x00\x00\x00\x00" "\x5A\xA5"s;
    const std::string a = section(0x1000, std::string(0x200, 'a'));  // omitted: same length
    const std::string b = section(0x1000, std::string(0x201, 'b'));  // kept: longer
    const std::string c = section(0x1000, std::string(0x1FF, 'c'));  // omitted: shorter
    const std::string d = section(0x2000, "dddd");                   // kept: other start
    const std::string e = section(0x3000, std::string(0x200, 'e'));  // omitted by the second entry
    // Past the 256 KiB the converter copies at a time.
    const std::string big = section(0x80000000, pattern_bytes(300000, 1)) + section(0x10, "x");
    const struct {
        const char* name;
        std::string items, data, kept;
        std::vector<std::string> changed = {};
    } rows[] = {
        {"sections as they stand", "sw_part_type = EXE;", one + empty, one + empty, {"sw_part_type=4"}},
        {"omitted sections still count in the checksum",
         "omit = {{0x1000, 0x200}, {0x3000, 0x10}}; omit = {{0x3000, 0x300}};", a + b + c + d + e, b + d},
        {"long sections across copy blocks", "", big, big},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<std::string> changed = r.changed;
        changed.push_back(crc_line(r.data));
        const conversion result = convert(vbf(r.items, r.data));
        EXPECT_EQ(result.messages, "");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.checksum, file_crc(r.data));
        EXPECT_EQ(result.image, image_text(changed) + r.kept + "ENDOFVBF");
    }
    // A header that ends with the file: no data part, checksum 0.
    const conversion cut = convert("vbf_version=1;header{sw_part_type=EXE;");
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.checksum, 0u);
    EXPECT_EQ(cut.image, image_text({"sw_part_type=4"}) + "ENDOFVBF");
}

// ---- Failures ----

TEST(Vbf, FailureMessages) {
    const std::string p32(32, 'P'), h128(128, 'h');
    std::string erase1000 = "erase={{0,1}", omit1001 = "omit={{0,1}";
    for (int i = 1; i < 1000; ++i) erase1000 += ",{" + std::to_string(i) + ",1}";
    omit1001 += erase1000.substr(12) + ",{7,7}";
    // The version item holds at most 32767 characters, the text up to the
    // header brace at most 32766.
    const std::string version = "vbf_version=" + std::string(32767 - 12, '1'), start = std::string(32760, 'x') + "header";
    for (const std::string& fits : {version + ";header{}", "vbf_version=1;" + start + "{}"})
        EXPECT_EQ(convert(fits).image, image_text() + "ENDOFVBF");
    const struct {
        const char* name;
        std::string file;
        std::string message;
    } cases[] = {
        {"empty file", "", "ERROR: Cannot parse version entry ()\n"},
        {"only a comment", "// vbf_version=1;", "ERROR: Cannot parse version entry ()\n"},
        {"version without semicolon", "vbf_version = 1.0", "ERROR: Cannot parse version entry (vbf_version=1.0)\n"},
        {"version too long", version + "1;header{}", "ERROR: Cannot parse version entry (" + version + ")\n"},
        {"no version key", "version = 1.0; header {}", "ERROR: Cannot determine VBF version (version=1.0)\n"},
        {"no opening brace", "vbf_version=1;\r\nheader\r\n", "ERROR: Cannot parse header start (header)\n"},
        {"header start too long", "vbf_version=1;x" + start + "{}", "ERROR: Cannot parse header start (x" + start + ")\n"},
        {"no header word", "vbf_version=1; hdr { }", "ERROR: Cannot determine VBF header start (hdr{)\n"},
        {"text between header and brace", "vbf_version=1; header x {",
         "ERROR: Cannot determine VBF header start (headerx{)\n"},
        {"part number too long", vbf("sw_part_number = \"" + p32 + "\";"),
         "ERROR: VBF header value too long (sw_part_number=\"" + p32 + "\")\n"},
        {"key hash too long", vbf("public_key_hash = \"" + h128 + "\";"),
         "ERROR: VBF header value too long (public_key_hash=\"" + h128 + "\")\n"},
        {"1001 erase pairs over two items", vbf(erase1000 + "}; erase={{5,5}};"), "ERROR: Too many erase entries\n"},
        {"1001 omit pairs", vbf(omit1001 + "};"), "ERROR: Too many omit entries\n"},
        // The header ends at its first empty item; what follows is the data part.
        {"wrong file checksum", "vbf_version=1;header{file_checksum=0x12345678;}" + section(0x1000, "abc"),
         "ERROR: Calculated checksum (BE120652) does not match file_checksum (12345678)\n"},
        {"empty item", "vbf_version=1;header{;sw_part_type=GBL;file_checksum=0;}",
         "ERROR: Cannot read data at index 26 (section address=73775F70, length=1634890847)\n"},
        {"data cut short", vbf("", u32be(0x1000) + u32be(10) + "abcd"),
         "ERROR: Cannot read data at index 4 (section address=00001000, length=10)\n"},
        {"data cut past the first copy block", vbf("", u32be(0xFFFFFFF0) + u32be(300001) + pattern_bytes(290000, 2)),
         "ERROR: Cannot read data at index 290000 (section address=FFFFFFF0, length=300001)\n"},
        {"a length of 4 GiB", vbf("", u32be(0x80000000) + u32be(0xFFFFFFFF) + "abc"),
         "ERROR: Cannot read data at index 3 (section address=80000000, length=4294967295)\n"},
        {"block checksum cut short", vbf("", u32be(0x1000) + u32be(3) + "abc\x01"),
         "ERROR: Cannot read block_checksum (section address=00001000, length=3)\n"},
        {"short head of 3 bytes", vbf("", "\x00\x01\x02"s),
         "ERROR: Cannot read block_checksum (section address=00010200, length=0)\n"},
        {"short head of 7 bytes", vbf("", "\x00\x00\x10\x00\x00\x00\x01"s),
         "ERROR: Cannot read data at index 0 (section address=00001000, length=256)\n"},
        {"short head after a section", vbf("", section(0x1000, "ab") + "\xAA"),
         "ERROR: Cannot read block_checksum (section address=AA000000, length=0)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const conversion r = convert(c.file);
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.messages, c.message);
        EXPECT_EQ(r.checksum, 0x55555555u);
    }
}

// The image goes at the current position of the stream, which must stay
// below the limit.
TEST(Vbf, OutputLimit) {
    const std::string data = section(0x1000, std::string(16, 'z')), before(100, '-');
    const std::string image = image_text({crc_line(data)}) + data + "ENDOFVBF";
    const conversion fits = convert(vbf("", data), before, before.size() + image.size() + 1);
    EXPECT_EQ(fits.status, 0);
    EXPECT_EQ(fits.image, image);
    EXPECT_EQ(error_of([&] { convert(vbf("", data), before, before.size() + image.size()); }, out_stream::out),
              "Error: Output container exceeds 2 GiB\n");
}

}  // namespace
}  // namespace vendrak
