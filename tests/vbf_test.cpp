#include "vbf/vbf.h"

#include <gtest/gtest.h>

#include "test_files.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/fatal.h"

namespace vendrak {
namespace {

namespace fs = std::filesystem;

// --- A small VBF file builder -------------------------------------------

// The file checksum of the test files, from the polynomial bit by bit.
uint32_t file_crc(const std::string& data) {
    return vendrak_test::bitwise_crc(0xFFFFFFFF, data.data(), data.size()) ^ 0xFFFFFFFF;
}

// One section: big-endian start and length, the data, two checksum bytes.
std::string section(uint32_t start, const std::string& data) {
    return vendrak_test::u32be(start) + vendrak_test::u32be(static_cast<uint32_t>(data.size())) + data + "\xC3\x3C";
}

// A complete file with CRLF line ends and its correct file checksum.
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
        bool found = false;
        for (auto& line : lines)
            if (line.starts_with(key)) line = c, found = true;
        EXPECT_TRUE(found) << c;
    }
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    for (const auto& line : erase) text += line + "\n";
    return text + "data\n";
}

// --- Running the converter ----------------------------------------------

std::string read_all(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    for (int c; (c = std::getc(f)) != EOF;) s.push_back(static_cast<char>(c));
    return s;
}

struct conversion {
    int status = 0;
    std::string image;
    std::string messages;
    uint32_t checksum = 0x55555555;
};

class VbfTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vendrak_vbf_test." + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write_file(const std::string& bytes, const std::string& name = "test.vbf") {
        const auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Converts `path` into a fresh stream that already holds `before`.
    static conversion convert_path(const std::string& path, const std::string& before = "",
                                   uint64_t limit = max_file_size) {
        std::FILE* out = std::tmpfile();
        std::FILE* messages = std::tmpfile();
        std::fwrite(before.data(), 1, before.size(), out);
        conversion c;
        c.status = vbf_process(path.c_str(), out, &c.checksum, messages, limit);
        c.image = read_all(out).substr(before.size());
        c.messages = read_all(messages);
        // Into a sink that keeps nothing the file gives the same result, and
        // the size and container register reported are those of the image.
        discard_output sink;
        vbf_image reported;
        EXPECT_EQ(vbf_process(path.c_str(), sink, reported, messages), c.status);
        if (c.status == 0) {
            EXPECT_EQ(reported.file_checksum, c.checksum);
            EXPECT_EQ(reported.size, c.image.size());
            EXPECT_EQ(reported.crc, vendrak_test::bitwise_crc(0, c.image.data(), c.image.size()));
        }
        std::fclose(out);
        std::fclose(messages);
        return c;
    }

    conversion convert(const std::string& bytes) { return convert_path(write_file(bytes)); }

    fs::path dir_;
};

// --- Header items and the image lines they give --------------------------

struct header_case {
    const char* name;
    std::string items;
    std::vector<std::string> changed;
    std::vector<std::string> erase = {};
};

TEST_F(VbfTest, HeaderItemsGiveImageLines) {
    const std::string p31(31, 'P'), h127(127, 'h');
    const header_case cases[] = {
        {"defaults", "", {}},
        {"part number", "sw_part_number = \"318-08832-AB\";", {"sw_part_number=318-08832-AB"}},
        {"blanks dropped inside quotes", "sw_part_number = \"AB CD\t\";", {"sw_part_number=ABCD"}},
        {"part number needs its quote", "sw_part_number = 318;", {}},
        {"part number of 31 characters", "sw_part_number=\"" + p31 + "\";", {"sw_part_number=" + p31}},
        {"closing brace inside an item", "sw_part_number=\"A}B\";", {"sw_part_number=A}B"}},
        {"slashes inside an item", "sw_part_number=\"a//b\";", {"sw_part_number=a//b"}},
        {"key hash of 127 characters", "public_key_hash = \"" + h127 + "\";", {"public_key_hash=" + h127}},
        {"CARCFG", "sw_part_type = CARCFG;", {"sw_part_type=1"}},
        {"CUSTOM", "sw_part_type = CUSTOM;", {"sw_part_type=2"}},
        {"DATA", "sw_part_type = DATA;", {"sw_part_type=3"}},
        {"EXE", "sw_part_type = EXE;", {"sw_part_type=4"}},
        {"GBL", "sw_part_type = GBL;", {"sw_part_type=5"}},
        {"SBL", "sw_part_type = SBL;", {"sw_part_type=6"}},
        {"SIGCFG", "sw_part_type = SIGCFG;", {"sw_part_type=7"}},
        {"TEST", "sw_part_type = TEST;", {"sw_part_type=8"}},
        {"BOOT", "sw_part_type = BOOT;", {"sw_part_type=9"}},
        {"keyword matches as a prefix", "sw_part_type = EXECUTABLE;", {"sw_part_type=4"}},
        {"unknown keyword keeps the code", "sw_part_type=SBL; sw_part_type=FOO;", {"sw_part_type=6"}},
        {"blanks inside the key", "s w_part_type =\tE X E;", {"sw_part_type=4"}},
        {"STELLANTIS", "prog_type = STELLANTIS;", {"prog_type=1"}},
        {"FORD sets 0 again", "prog_type = STELLANTIS; prog_type = FORD;", {"prog_type=0"}},
        {"WLP3", "datproc_method = WLP3;", {"datproc_method=1"}},
        {"WLP2", "datproc_method = WLP2;", {"datproc_method=2"}},
        {"AUTH", "datproc_method = AUTH;", {"datproc_method=3"}},
        {"hexadecimal parameter", "datproc_param = 0x1F;", {"datproc_param=31"}},
        {"octal parameter", "datproc_param = 017;", {"datproc_param=15"}},
        {"decimal parameter", "datproc_param = 99;", {"datproc_param=99"}},
        {"hexadecimal 0x00", "data_format_identifier = 0x00;", {"data_format_identifier=0x0"}},
        {"upper-case prefix", "data_format_identifier = 0X1f;", {"data_format_identifier=0x1F"}},
        {"minus one", "data_format_identifier = -1;", {"data_format_identifier=0xFFFFFFFF"}},
        {"minus five", "data_format_identifier = -5;", {"data_format_identifier=0xFFFFFFFB"}},
        {"plus sign", "data_format_identifier = +5;", {"data_format_identifier=0x5"}},
        {"largest value", "data_format_identifier = 4294967295;", {"data_format_identifier=0xFFFFFFFF"}},
        {"beyond 32 bits", "data_format_identifier = 0x123456789;", {"data_format_identifier=0xFFFFFFFF"}},
        {"negative beyond 32 bits", "data_format_identifier = -4294967296;", {"data_format_identifier=0xFFFFFFFF"}},
        {"0x without digits reads 0", "data_format_identifier = 0xZ1;", {"data_format_identifier=0x0"}},
        {"octal stops at 8", "data_format_identifier = 0789;", {"data_format_identifier=0x7"}},
        {"no digits overwrite with 0", "data_format_identifier = 0x12; data_format_identifier = abc;", {}},
        {"network without brace", "network = CAN_HS;", {"network=1,0"}},
        {"network braced", "network = {CAN_MS, SUB_LIN2};", {"network=2,7"}},
        {"every sub network", "network={CAN_HS,SUB_OTHER};", {"network=1,8"}},
        {"sub network past the item", "network={CAN_HS};", {"network=1,0"}},
        {"sub network at a fixed place", "network={FOO,SUB_CAN1};", {}},
        {"primary again keeps sub", "network={CAN_HS,SUB_CAN1}; network=CAN_MS;", {"network=2,4"}},
        {"ecu address", "ecu_address = 0x7E0;", {"ecu_address=0x7E0,0x00,0x00"}},
        {"ecu address triple", "ecu_address = {0x7E0, 0x10, 0x2};", {"ecu_address=0x7E0,0x10,0x02"}},
        {"ecu address pair", "ecu_address = {0x7E0,0x10};", {"ecu_address=0x7E0,0x10,0x00"}},
        {"ecu address any separator", "ecu_address = {1:0x123/3};", {"ecu_address=0x1,0x123,0x03"}},
        {"ecu address blanks vanish", "ecu_address = {1 2 3};", {"ecu_address=0x7B,0x00,0x00"}},
        {"single ecu address keeps 2 and 3", "ecu_address={1,2,3}; ecu_address=5;", {"ecu_address=0x5,0x02,0x03"}},
        {"CAN_STANDARD", "frame_format = CAN_STANDARD;", {"frame_format=1"}},
        {"CAN_EXTENDED", "frame_format = CAN_EXTENDED;", {"frame_format=2"}},
        {"call", "call = 0x10000;", {"call=0x00010000"}},
        {"call of 0", "call = 0;", {"call=0x00000000"}},
        {"a key again overwrites", "call = 1; call = 2;", {"call=0x00000002"}},
        {"ctp_crc32", "ctp_crc32 = 0xdeadbeef;", {"ctp_checksum=0xDEADBEEF"}},
        {"description numbers", "description = {\"1234\", \"5678\"};", {"description=0x04D2,0x162E"}},
        {"description hexadecimal", "description = {\"0x12\",\"0x34\"};", {"description=0x0012,0x0034"}},
        {"description low 16 bits", "description = {\"0x12345\",\"1\"};", {"description=0x2345,0x0000"}},
        {"description text", "description = {\"SOP software\", \"Created\"};", {}},
        {"description second past the item", "description = {\"9\"};", {"description=0x0009,0x0000"}},
        {"erase", "erase = {{0x8000, 0x100}};", {}, {"erase=0x00008000,0x00000100"}},
        {"erase pairs",
         "erase = {{ 0x1000 , 0x20 }, { 0x3000, 0x40 }};",
         {},
         {"erase=0x00001000,0x00000020", "erase=0x00003000,0x00000040"}},
        {"erase items append",
         "erase={{1,2}}; erase={{3,4}};",
         {},
         {"erase=0x00000001,0x00000002", "erase=0x00000003,0x00000004"}},
        {"erase separator of any kind", "erase={{16:32}};", {}, {"erase=0x00000010,0x00000020"}},
        {"erase pair past the item",
         "erase={{1,2},;",
         {},
         {"erase=0x00000001,0x00000002", "erase=0x00000000,0x00000000"}},
        {"omit hides the same erase pair",
         "erase = {{0x1000,0x200},{0x1000,0x100}}; omit = {{0x1000,0x200}};",
         {},
         {"erase=0x00001000,0x00000100"}},
        {"unknown keys", "sw_version = 1.0; sw_part_number_DID = 0xF188;", {}},
        {"line comment", "// part type\r\n  sw_part_type = GBL; // trailing\n", {"sw_part_type=5"}},
        {"line comment ends at CR", "//c\rsw_part_type = GBL;", {"sw_part_type=5"}},
        {"block comment", "/* a; b */ sw_part_type = GBL;", {"sw_part_type=5"}},
        {"/*/ does not close", "/*/ sw_part_type=EXE; */ sw_part_type=SBL;", {"sw_part_type=6"}},
        {"slash and another byte dropped", "/xsw_part_type = GBL;", {"sw_part_type=5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const conversion r = convert(vbf(c.items));
        EXPECT_EQ(r.messages, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.image, image_text(c.changed, c.erase) + "ENDOFVBF");
    }
}

// The header ends at its first empty item; what follows is the data part.
TEST_F(VbfTest, EmptyItemEndsTheHeader) {
    const conversion r = convert("vbf_version=1;header{;sw_part_type=GBL;file_checksum=0;}");
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.messages, "ERROR: Cannot read data at index 26 (section address=73775F70, length=1634890847)\n");
}

// --- Sections, omit list and checksum --------------------------------------

using namespace std::string_literals;

TEST_F(VbfTest, SectionsAreCopiedAsTheyStand) {
    const std::string one = "\x00\x00\x10\x00" "\x00\x00\x00\x03" "\x01\x02\x03" "\xC3\x3C"s;
    const std::string empty = "\x00\x00\x20\x00" "\x00\x00\x00\x00" "\xC3\x3C"s;
    ASSERT_EQ(section(0x1000, "\x01\x02\x03") + section(0x2000, ""), one + empty);
    const conversion r = convert(vbf("sw_part_type = EXE;", one + empty));
    const uint32_t crc = file_crc(one + empty);
    EXPECT_EQ(r.messages, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.checksum, crc);
    EXPECT_EQ(r.image, image_text({"sw_part_type=4", format("file_checksum=0x%08X", crc)}) + one + empty + "ENDOFVBF");
}

TEST_F(VbfTest, OmittedSectionsStillCountInTheChecksum) {
    const std::string a = section(0x1000, std::string(0x200, 'a'));  // omitted: same length
    const std::string b = section(0x1000, std::string(0x201, 'b'));  // kept: longer
    const std::string c = section(0x1000, std::string(0x1FF, 'c'));  // omitted: shorter
    const std::string d = section(0x2000, "dddd");                   // kept: other start
    const std::string e = section(0x3000, std::string(0x200, 'e'));  // omitted by the second entry
    const std::string data = a + b + c + d + e;
    const std::string items = "omit = {{0x1000, 0x200}, {0x3000, 0x10}}; omit = {{0x3000, 0x300}};";
    const conversion r = convert(vbf(items, data));
    EXPECT_EQ(r.messages, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.image, image_text({format("file_checksum=0x%08X", file_crc(data))}) + b + d + "ENDOFVBF");
}

TEST_F(VbfTest, LongSectionsAndShortReadsAcrossBlocks) {
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    const std::string data = section(0x80000000, big) + section(0x10, "x");
    conversion r = convert(vbf("", data));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.image, image_text({format("file_checksum=0x%08X", file_crc(data))}) + data + "ENDOFVBF");

    // 150000 bytes announced, 140000 present: index 140000 is the first missing.
    r = convert(vbf("", vendrak_test::u32be(0xFFFFFFF0) + vendrak_test::u32be(150000) + big.substr(0, 140000)));
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.messages, "ERROR: Cannot read data at index 140000 (section address=FFFFFFF0, length=150000)\n");
}

TEST_F(VbfTest, ChecksumMismatchAfterTheWholeImage) {
    const std::string data = section(0x1000, "abc");
    const std::string file = "vbf_version=1;header{file_checksum=0x12345678;}" + data;
    const conversion r = convert(file);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.checksum, 0x55555555u);
    EXPECT_EQ(r.messages, format("ERROR: Calculated checksum (%08X) does not match file_checksum (12345678)\n",
                                 file_crc(data)));
    EXPECT_EQ(r.image, image_text({"file_checksum=0x12345678"}) + data + "ENDOFVBF");
}

TEST_F(VbfTest, HeaderEndingWithTheFile) {
    const conversion r = convert("vbf_version=1;header{sw_part_type=EXE;");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.checksum, 0u);
    EXPECT_EQ(r.image, image_text({"sw_part_type=4"}) + "ENDOFVBF");
}

TEST_F(VbfTest, NullChecksumPointer) {
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(vbf_process(write_file(vbf("")).c_str(), out, nullptr, stdout), 0);
    std::fclose(out);
}

// --- Failures ----------------------------------------------------------------

struct failure_case {
    const char* name;
    std::string file;
    std::string message;
};

TEST_F(VbfTest, FailureMessages) {
    const std::string p32(32, 'P'), h128(128, 'h');
    std::string erase1000 = "erase={{0,1}", omit1001 = "omit={{0,1}";
    for (int i = 1; i < 1000; ++i) erase1000 += ",{" + std::to_string(i) + ",1}";
    omit1001 += erase1000.substr(12) + ",{7,7}";
    const failure_case cases[] = {
        {"empty file", "", "ERROR: Cannot parse version entry ()\n"},
        {"only a comment", "// vbf_version=1;", "ERROR: Cannot parse version entry ()\n"},
        {"version without semicolon", "vbf_version = 1.0", "ERROR: Cannot parse version entry (vbf_version=1.0)\n"},
        {"no version key", "version = 1.0; header {}", "ERROR: Cannot determine VBF version (version=1.0)\n"},
        {"no opening brace", "vbf_version=1;\r\nheader\r\n", "ERROR: Cannot parse header start (header)\n"},
        {"no header word", "vbf_version=1; hdr { }", "ERROR: Cannot determine VBF header start (hdr{)\n"},
        {"text between header and brace", "vbf_version=1; header x {",
         "ERROR: Cannot determine VBF header start (headerx{)\n"},
        {"part number too long", vbf("sw_part_number = \"" + p32 + "\";"),
         "ERROR: VBF header value too long (sw_part_number=\"" + p32 + "\")\n"},
        {"key hash too long", vbf("public_key_hash = \"" + h128 + "\";"),
         "ERROR: VBF header value too long (public_key_hash=\"" + h128 + "\")\n"},
        {"1001 erase pairs over two items", vbf(erase1000 + "}; erase={{5,5}};"), "ERROR: Too many erase entries\n"},
        {"1001 omit pairs", vbf(omit1001 + "};"), "ERROR: Too many omit entries\n"},
        {"data cut short", vbf("", vendrak_test::u32be(0x1000) + vendrak_test::u32be(10) + "abcd"),
         "ERROR: Cannot read data at index 4 (section address=00001000, length=10)\n"},
        {"block checksum cut short", vbf("", vendrak_test::u32be(0x1000) + vendrak_test::u32be(3) + "abc\x01"),
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

TEST_F(VbfTest, ListsHoldAThousandPairs) {
    std::string items = "erase={{0,1}";
    std::vector<std::string> lines = {"erase=0x00000000,0x00000001"};
    for (int i = 1; i < 1000; ++i) {
        items += format(",{%d,1}", i);
        lines.push_back(format("erase=0x%08X,0x00000001", i));
    }
    items += "};";
    const std::string omit = "omit" + items.substr(5);
    EXPECT_EQ(convert(vbf(items)).image, image_text({}, lines) + "ENDOFVBF");
    EXPECT_EQ(convert(vbf(omit)).image, image_text() + "ENDOFVBF");
}

// The version item holds at most 32767 characters; the text up to the header
// brace at most 32766 before the brace.
TEST_F(VbfTest, ItemAndHeaderStartLengths) {
    const std::string version = "vbf_version=" + std::string(32767 - 12, '1');
    EXPECT_EQ(convert(version + ";header{}").status, 0);
    const conversion too_long = convert(version + "1;header{}");
    EXPECT_EQ(too_long.messages, "ERROR: Cannot parse version entry (" + version + ")\n");

    const std::string start = std::string(32760, 'x') + "header";
    EXPECT_EQ(convert("vbf_version=1;" + start + "{}").status, 0);
    const conversion start_too_long = convert("vbf_version=1;x" + start + "{}");
    EXPECT_EQ(start_too_long.messages, "ERROR: Cannot parse header start (x" + start + ")\n");
}

TEST_F(VbfTest, UnopenablePaths) {
    const std::string missing = (dir_ / "missing.vbf").string();
    EXPECT_EQ(convert_path(missing).messages, "ERROR: Cannot open \"" + missing + "\" file\n");
    const conversion r = convert_path(dir_.string());
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.messages, "ERROR: Cannot open \"" + dir_.string() + "\" file\n");
}

// The image goes at the current position of the stream, which must stay below
// the limit.
TEST_F(VbfTest, OutputLimit) {
    const std::string data = section(0x1000, std::string(16, 'z'));
    const std::string path = write_file(vbf("", data));
    const std::string before(100, '-');
    const std::string image = image_text({format("file_checksum=0x%08X", file_crc(data))}) + data + "ENDOFVBF";

    const conversion fits = convert_path(path, before, before.size() + image.size() + 1);
    EXPECT_EQ(fits.status, 0);
    EXPECT_EQ(fits.image, image);
    try {
        convert_path(path, before, before.size() + image.size());
        ADD_FAILURE() << "no fatal error";
    } catch (const fatal_error& e) {
        EXPECT_EQ(e.where(), out_stream::out);
        EXPECT_EQ(e.message(), "Error: Output container exceeds 2 GiB\n");
    }
}

// --- A real file -------------------------------------------------------------

// reference.vbf (dsch/vbftool, MIT): version JLR3.0, CRLF lines, "//"
// comments, unknown keys, one section of 254 bytes at 0x10000.
TEST_F(VbfTest, ReferenceFile) {
    const char* root = std::getenv("VENDRAK_SOURCE_DIR");
    const fs::path source = root ? fs::path(root) : fs::path(__FILE__).parent_path().parent_path();
    const fs::path path = source / "tests" / "data" / "reference.vbf";
    ASSERT_TRUE(fs::exists(path)) << path;

    std::string data = "\x00\x01\x00\x00" "\x00\x00\x00\xFE"s;
    for (int b = 1; b <= 0xFE; ++b) data += static_cast<char>(b);
    data += "\x5C\x1D";
    const conversion r = convert_path(path.string());
    EXPECT_EQ(r.messages, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.checksum, 0xC5CD7964u);
    EXPECT_EQ(r.image,
              "sw_part_number=318-08832-AB\n"
              "sw_part_type=4\n"
              "prog_type=0\n"
              "data_format_identifier=0x0\n"
              "network=1,0\n"
              "ecu_address=0x723,0x00,0x00\n"
              "frame_format=1\n"
              "call=0x00010000\n"
              "file_checksum=0xC5CD7964\n"
              "ctp_checksum=0x00000000\n"
              "description=0x0000,0x0000\n"
              "datproc_method=0\n"
              "datproc_param=0\n"
              "public_key_hash=\n"
              "erase=0x00010000,0x00020000\n"
              "data\n" +
                  data + "ENDOFVBF");
}

}  // namespace
}  // namespace vendrak
