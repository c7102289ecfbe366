// vendrak-vbf: record files read into the right bytes at the right
// addresses, files made from them that vendrak converts and vendrak-inspect
// gives back, and the verdicts on real and damaged files, with vendrak's own
// message wherever vendrak refuses a file.
#include <gtest/gtest.h>

#include <map>

#include "files.h"
#include "runs.h"
#include "common/file.h"
#include "vbf/cli.h"
#include "vbf/records.h"
#include "vbf/report.h"

namespace {

using namespace vendrak_test;
using vendrak::vbf_tool::input_error;
using vendrak::vbf_tool::record_format;

// vendrak-vbf in-process, from `dir`.
main_run vbf(const fs::path& dir, const std::vector<std::string>& args) {
    const fs::path here = fs::current_path();
    fs::current_path(dir);
    main_run r = run_main(vendrak::vbf_tool::vbf_main, "vendrak-vbf", args);
    fs::current_path(here);
    return r;
}

// The data of a record file, byte by byte at its address.
std::map<uint32_t, uint8_t> memory_of(const std::string& text, record_format format) {
    std::map<uint32_t, uint8_t> m;
    const vendrak::file_ptr f(std::tmpfile());
    std::fwrite(text.data(), 1, text.size(), f.get());
    std::rewind(f.get());
    vendrak::vbf_tool::read_records(f.get(), "in", format, [&](uint32_t a, std::span<const uint8_t> d, uint64_t) {
        for (uint8_t b : d) m[a++] = b;
    });
    return m;
}

// One record with its checksum, written here independently of the tool.
std::string intel(uint8_t type, uint16_t offset, const std::string& data) {
    std::string bytes = std::string{static_cast<char>(data.size()), static_cast<char>(offset >> 8),
                                    static_cast<char>(offset), static_cast<char>(type)} + data;
    uint8_t sum = 0;
    for (char c : bytes) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    bytes += static_cast<char>(-sum);
    std::string line = ":";
    for (char c : bytes) line += vendrak::format("%02X", static_cast<uint8_t>(c));
    return line + "\r\n";
}
std::string srec(char type, uint32_t address, size_t address_size, const std::string& data) {
    std::string bytes(1, static_cast<char>(address_size + data.size() + 1));
    for (size_t i = address_size; i-- > 0;) bytes += static_cast<char>(address >> (8 * i));
    bytes += data;
    uint8_t sum = 0;
    for (char c : bytes) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    bytes += static_cast<char>(~sum);
    std::string line = std::string("S") + type;
    for (char c : bytes) line += vendrak::format("%02X", static_cast<uint8_t>(c));
    return line + "\n";
}
std::string be16(uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v)}; }

TEST(VbfRecords, AddressesOfEveryRecordKind) {
    const std::string d = "\x01\x02\x03\x04";
    struct row {
        const char* name;
        record_format format;
        std::string text;
        uint32_t first;      // the address of d's first byte
        const char* error;   // a piece of the message, when the file is refused
    };
    const std::string eof = intel(1, 0, "");
    const row rows[] = {
        {"plain data", record_format::intel_hex, intel(0, 0x1234, d) + eof, 0x1234, nullptr},
        {"segment base", record_format::intel_hex, intel(2, 0, be16(0x1000)) + intel(0, 0x10, d) + eof, 0x10010, nullptr},
        {"linear base", record_format::intel_hex, intel(4, 0, be16(0x8001)) + intel(0, 0xFFFE, d) + eof, 0x8001FFFE, nullptr},
        {"start addresses carry nothing", record_format::intel_hex,
         intel(5, 0, "\0\0\0\0") + intel(3, 0, "\0\0\0\0") + intel(0, 8, d) + eof, 8, nullptr},
        {"no end record", record_format::intel_hex, intel(0, 0, d), 0, "in:1: no end-of-file record"},
        {"record after the end", record_format::intel_hex, eof + intel(0, 0, d), 0, "in:2: a record after"},
        {"wrong checksum", record_format::intel_hex, ":0400000001020304F1\n" + eof, 0, "in:1: wrong record checksum 0xF1, expected 0xF2"},
        {"short record", record_format::intel_hex, ":0400000001F1\n", 0, "in:1: the record's length"},
        {"not hex", record_format::intel_hex, ":04000000010203G4F2\n", 0, "'G' is not a hex digit"},
        {"beyond 4 GiB", record_format::intel_hex, intel(4, 0, be16(0xFFFF)) + intel(0, 0xFFFE, d) + eof, 0, "runs past"},
        {"S1", record_format::srecord, srec('0', 0, 2, "hdr") + srec('1', 0x1234, 2, d) + srec('9', 0, 2, ""), 0x1234, nullptr},
        {"S2", record_format::srecord, srec('2', 0x123456, 3, d) + srec('5', 1, 2, ""), 0x123456, nullptr},
        {"S3", record_format::srecord, srec('3', 0xFFFFFFFC, 4, d) + srec('7', 0, 4, ""), 0xFFFFFFFC, nullptr},
        {"S-record checksum", record_format::srecord, "S1070000010203040F\n", 0, "in:1: wrong record checksum 0x0F, expected 0xEE"},
        {"S4", record_format::srecord, "S4030000FC\n", 0, "unknown record type S4"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        if (r.error) {
            try {
                memory_of(r.text, r.format);
                ADD_FAILURE() << "accepted";
            } catch (const input_error& e) {
                EXPECT_NE(std::string(e.what()).find(r.error), std::string::npos) << e.what();
            }
            continue;
        }
        const std::map<uint32_t, uint8_t> expected = {{r.first, 1}, {r.first + 1, 2}, {r.first + 2, 3}, {r.first + 3, 4}};
        EXPECT_EQ(memory_of(r.text, r.format), expected);
    }
}

// Sections of a VBF file as `info --format json` lists them: "address:length".
std::vector<std::string> sections_of(const fs::path& dir, const std::string& file) {
    const vendrak::vbf_tool::file_report r = vendrak::vbf_tool::read_vbf((dir / file).string());
    EXPECT_TRUE(r.accepted) << r.message;
    std::vector<std::string> out;
    for (const auto& s : r.sections) {
        out.push_back(vendrak::format("%08X:%u", s.section.address, s.section.length));
        EXPECT_EQ(s.section.block_checksum, s.computed);
    }
    return out;
}

TEST(VbfCreate, RecordFilesRoundTripAtTheirAddresses) {
    scratch_dir s;
    const fs::path d = s.run();
    // 0x1FFF0..0x2000F crosses a 64 KiB segment in 16-byte records given
    // out of order; 0x30000 starts a new section after a gap; the S-record
    // file continues the first run exactly where the HEX file ends.
    const std::string a = pattern_bytes(32, 1), b = pattern_bytes(100, 2), c = pattern_bytes(50, 3);
    write_file(d / "in.hex", intel(2, 0, be16(0x1000)) + intel(0, 0xFFF0, a.substr(0, 16)) + intel(4, 0, be16(3)) +
                                 intel(0, 0, b) + intel(4, 0, be16(2)) + intel(0, 0, a.substr(16)) + intel(1, 0, ""));
    write_file(d / "in.s19", srec('2', 0x20010, 3, c));
    write_file(d / "raw.bin", a);
    ASSERT_EQ(vbf(d, {"create", "-o", "out.vbf", "in.hex", "in.s19", "raw.bin@0x40000"}).status, 0);
    EXPECT_EQ(sections_of(d, "out.vbf"), (std::vector<std::string>{"0001FFF0:82", "00030000:100", "00040000:32"}));
    const main_run x = vbf(d, {"extract", "--hex", "-o", "parts", "out.vbf"});
    ASSERT_EQ(x.status, 0) << x.err;
    EXPECT_EQ(read_file(d / "parts/0001FFF0.bin"), a + c);
    EXPECT_EQ(read_file(d / "parts/00030000.bin"), b);
    EXPECT_EQ(read_file(d / "parts/00040000.bin"), a);
    std::map<uint32_t, uint8_t> expected;
    for (size_t i = 0; i < b.size(); ++i) expected[0x30000 + static_cast<uint32_t>(i)] = static_cast<uint8_t>(b[i]);
    EXPECT_EQ(memory_of(read_file(d / "parts/00030000.hex"), record_format::intel_hex), expected);
}

TEST(VbfCreate, OverlapsAndBadInputsLeaveNoFile) {
    scratch_dir s;
    const fs::path d = s.run();
    write_file(d / "a.bin", pattern_bytes(64, 1));
    write_file(d / "old.vbf", "keep me");
    struct row {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const row rows[] = {
        {{"a.bin@0x100", "a.bin@0x13F"}, 1, "a.bin overlaps a.bin: both hold data at 0x0000013F"},
        {{"a.bin@0x100", "--fill", "0x0:0x101"}, 1, "overlaps the fill: both hold data at 0x00000100"},
        {{"a.bin@0xFFFFFFF0"}, 1, "runs past address 0xFFFFFFFF"},
        {{"a.bin"}, 1, "a.bin: neither Intel HEX nor S-record; give a binary image as a.bin@ADDRESS"},
        {{"a.bin@1x0"}, 1, "not a number"},
        {{"missing.bin@0"}, 1, "missing.bin: cannot open the file"},
        {{}, 2, "create needs an input"},
    };
    for (const row& r : rows) {
        std::vector<std::string> args = {"create", "-o", "old.vbf"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const main_run t = vbf(d, args);
        EXPECT_EQ(t.status, r.status) << r.message;
        EXPECT_NE(t.err.find(r.message), std::string::npos) << t.err;
        EXPECT_EQ(read_file(d / "old.vbf"), "keep me");
        EXPECT_FALSE(fs::exists(d / "old.vbf.part"));
    }
}

// The header options come out as vendrak reads them; without any, the
// header names the file and erases exactly the sections.
TEST(VbfCreate, HeaderAsVendrakReadsIt) {
    scratch_dir s;
    const fs::path d = s.run();
    write_file(d / "a.bin", pattern_bytes(16, 1));
    write_file(d / "items.txt", "  // from the supplier\n  sw_part_type = SBL;\n  call = 0x20000000;\n");
    write_file(d / "sum.txt", "  file_checksum = 0x0;\n");
    using ranges = std::vector<std::pair<uint32_t, uint32_t>>;
    const auto pairs = [](const std::vector<vendrak::address_range>& list) {
        ranges out;
        for (const auto& r : list) out.emplace_back(r.start, r.length);
        return out;
    };
    const auto read = [&](std::vector<std::string> options) {
        options.insert(options.begin(), {"create", "-o", "h.vbf", "a.bin@0x1000", "--fill", "0x3000:8"});
        const main_run t = vbf(d, options);
        EXPECT_EQ(t.status, 0) << t.err;
        const vendrak::vbf_tool::file_report r = vendrak::vbf_tool::read_vbf((d / "h.vbf").string());
        EXPECT_TRUE(r.accepted) << r.message;
        return r.header;
    };
    vendrak::vbf_header h = read({});
    EXPECT_EQ(h.sw_part_number, "h");
    EXPECT_EQ(h.sw_part_type, 4u);
    EXPECT_EQ(pairs(h.erase), (ranges{{0x1000, 16}, {0x3000, 8}}));
    h = read({"--part-number", "31808832-AB", "--part-type", "DATA", "--network", "{CAN_MS,SUB_LIN2}", "--ecu-address",
              "{0x7E0,0x10,0x2}", "--frame-format", "CAN_EXTENDED", "--call", "0x8000", "--data-format", "0x10",
              "--erase", "0x0:1M", "--erase", "0x200000:0x100", "--omit", "0x3000:8", "--item", "ctp_crc32 = 0x55"});
    EXPECT_EQ(h.sw_part_number, "31808832-AB");
    EXPECT_EQ(h.sw_part_type, 3u);
    EXPECT_EQ(h.network, 2u);
    EXPECT_EQ(h.network_sub, 7u);
    EXPECT_EQ(std::vector<uint32_t>(h.ecu_address, h.ecu_address + 3), (std::vector<uint32_t>{0x7E0, 0x10, 0x2}));
    EXPECT_EQ(h.frame_format, 2u);
    EXPECT_EQ(h.call, 0x8000u);
    EXPECT_EQ(h.data_format_identifier, 0x10u);
    EXPECT_EQ(h.ctp_crc32, 0x55u);
    EXPECT_EQ(pairs(h.erase), (ranges{{0, 0x100000}, {0x200000, 0x100}}));
    EXPECT_EQ(pairs(h.omit), (ranges{{0x3000, 8}}));
    h = read({"--header", "items.txt", "--no-erase"});
    EXPECT_EQ(h.sw_part_type, 6u);
    EXPECT_EQ(h.call, 0x20000000u);
    EXPECT_TRUE(h.sw_part_number.empty());
    EXPECT_TRUE(h.erase.empty());
    const main_run refused = vbf(d, {"create", "-o", "x.vbf", "--header", "sum.txt", "a.bin@0"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("sum.txt: holds a file_checksum item"), std::string::npos) << refused.err;
}

// Intel HEX as extract writes it: at most 16 bytes a record, an extended
// linear address record wherever the upper address bits change, read back
// into the same bytes.
TEST(VbfRecords, HexWriterCrossesSegments) {
    const std::string data = pattern_bytes(70, 9);
    const std::string text = written([&](std::FILE* f) {
        vendrak::vbf_tool::hex_writer w(f);
        w.write(0x1FFE8, {reinterpret_cast<const uint8_t*>(data.data()), data.size()});
        w.finish();
    });
    std::map<uint32_t, uint8_t> expected;
    for (size_t i = 0; i < data.size(); ++i) expected[0x1FFE8 + static_cast<uint32_t>(i)] = static_cast<uint8_t>(data[i]);
    EXPECT_EQ(memory_of(text, record_format::intel_hex), expected);
    EXPECT_TRUE(text.starts_with(":020000040001F9\n:10FFE800")) << text;
    EXPECT_NE(text.find(":020000040002F8\n:10000000"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with(":00000001FF\n"));
}

// A file made by create is one vendrak converts, and the VBF file that
// vendrak-inspect rebuilds from the container holds the same data part.
TEST(VbfCreate, VendrakConvertsWhatCreateMakes) {
    scratch_dir s;
    const fs::path d = s.run();
    write_file(d / "app.bin", pattern_bytes(70000, 7));
    const main_run made = vbf(d, {"create", "-o", "ecu.vbf", "--part-number", "31808832-AB", "--network",
                                  "{CAN_HS,SUB_CAN1}", "--ecu-address", "0x7E0", "app.bin@0x8000", "--fill", "0x20000:300:0"});
    ASSERT_EQ(made.status, 0) << made.err;
    write_file(d / "job.vsc", "PROG \"ecu.vbf\"\n");
    const run_result compiled = run(d, compiler({"-o", "job.out", "job.vsc"}));
    ASSERT_EQ(compiled.status, 0) << compiled.out;
    const std::string inspector = program_or("VENDRAK_INSPECT_PROGRAM", VENDRAK_INSPECTOR);
    if (inspector.empty()) GTEST_SKIP() << "built without vendrak-inspect";
    const run_result inspected = run(d, command_for(inspector, {"-q", "-x", "images", "job.out"}, {}, "vendrak-inspect"));
    ASSERT_EQ(inspected.status, 0) << inspected.err;
    const auto data_part = [&](const std::string& file) {
        const vendrak::vbf_tool::file_report r = vendrak::vbf_tool::read_vbf((d / file).string());
        EXPECT_TRUE(r.accepted) << file << ": " << r.message;
        return read_file(d / file).substr(r.data_offset);
    };
    EXPECT_EQ(data_part("images/image1.vbf"), data_part("ecu.vbf"));
    EXPECT_EQ(sections_of(d, "images/image1.vbf"), (std::vector<std::string>{"00008000:70000", "00020000:300"}));
    const main_run info = vbf(d, {"info", "ecu.vbf"});
    EXPECT_NE(info.out.find("CAN_HS (1), sub-network SUB_CAN1 (4)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("31808832-AB"), std::string::npos) << info.out;
}

// What vendrak prints for a file, without its "ERROR: " and the lines after.
std::string vendrak_message(const fs::path& d, const std::string& file) {
    write_file(d / "job.vsc", "PROG \"" + file + "\"\n");
    const run_result r = run(d, compiler({"-o", "job.out", "job.vsc"}));
    if (r.status == 0) return "";
    const std::string line = r.out.substr(0, r.out.find('\n'));
    return line.starts_with("ERROR: ") ? line.substr(7) : line;
}

TEST(VbfVerify, VerdictsOnGoodAndDamagedFiles) {
    scratch_dir s;
    const fs::path d = s.run();
    const std::string items = "  sw_part_type = EXE;";
    const std::string one = section(0x8000, pattern_bytes(300, 1), 0x1234);
    const std::string good_block = section(0x9000, "123456789", 0x29B1);  // the check value of CRC-16/CCITT-FALSE
    const std::string data_at = ":" + std::to_string(vbf_file(items, "").size()) + ": ";
    std::string no_brace = vbf_file(items, good_block);
    no_brace.erase(no_brace.rfind('}'), 1);
    // Without its closing brace, the header runs on into binary data up to
    // a ';' and a '}' that stand in it.
    std::string junk_header = vbf_file(items, section(0x9000, "\x01zz;}123456789"));
    junk_header.erase(junk_header.find("\n}") + 1, 1);
    struct row {
        const char* name;
        std::string bytes;
        int status;
        std::vector<std::string> findings;  // pieces of the lines, in order
    };
    const row rows[] = {
        {"good.vbf", vbf_file(items, good_block), 0, {}},
        {"block.vbf", vbf_file(items, one), 1,
         {data_at + "error: section at 0x00008000 (300 bytes): its block checksum is 0x1234, the CRC-16 of its data is 0x"}},
        {"compressed.vbf", vbf_file(items + " data_format_identifier = 0x10;", one), 0, {}},
        {"cut.vbf", vbf_file(items, one).substr(0, 200), 1, {": error: Cannot read data at index"}},
        {"cut_checksum.vbf", vbf_file(items, good_block).substr(0, vbf_file(items, "").size() + 18), 1, {": error: Cannot read block_checksum"}},
        {"sum.vbf", vbf_file(items, good_block, "0x12345678"), 1, {data_at + "error: Calculated checksum ("}},
        {"no_brace.vbf", no_brace, 1, {": error: the header has no closing brace", ": error: Calculated checksum"}},
        {"junk_header.vbf", junk_header, 1, {": error: \"zz\" is no header item", ": error: Cannot read data at index"}},
        {"empty.vbf", "", 1, {}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        write_file(d / r.name, r.bytes);
        const main_run t = vbf(d, {"verify", "-q", r.name});
        EXPECT_EQ(t.status, r.status) << t.out;
        size_t at = 0;
        for (const std::string& piece : r.findings) {
            at = t.out.find(piece, at);
            EXPECT_NE(at, std::string::npos) << piece << "\n" << t.out;
        }
        const std::string message = vendrak_message(d, r.name);
        EXPECT_EQ(message.empty(), r.status == 0 || r.name == std::string("block.vbf")) << message;
        // vendrak's own message is the last finding, as vendrak prints it.
        if (!message.empty()) {
            EXPECT_TRUE(t.out.ends_with(": error: " + message + "\n")) << t.out << message;
        }
        if (r.status == 0 && r.findings.empty()) {
            EXPECT_EQ(t.out, "");
        }
    }
    EXPECT_EQ(vbf(d, {"verify", "--quiet", "good.vbf"}).status, 0);
}

// Every real VBF file the project holds (tests/data, taken from public
// projects) and the examples: sound for verify, accepted by info, and
// converted by vendrak.
TEST(VbfVerify, PublicFilesAreSound) {
    scratch_dir s;
    const fs::path d = s.run();
    size_t files = 0;
    for (const char* folder : {"tests/data", "examples"}) {
        for (const auto& entry : fs::directory_iterator(fs::path(VENDRAK_SOURCE_ROOT) / folder)) {
            if (entry.path().extension() != ".vbf") continue;
            SCOPED_TRACE(entry.path().string());
            ++files;
            const std::string name = entry.path().filename().string();
            fs::copy_file(entry.path(), d / name, fs::copy_options::overwrite_existing);
            const main_run v = vbf(d, {"verify", name});
            EXPECT_EQ(v.status, 0);
            EXPECT_TRUE(v.out.starts_with(name + ": ok, ")) << v.out;
            const main_run i = vbf(d, {"info", name});
            EXPECT_EQ(i.status, 0);
            EXPECT_NE(i.out.find("(matches the data part)"), std::string::npos) << i.out;
            EXPECT_EQ(vendrak_message(d, name), "");
        }
    }
    EXPECT_GE(files, 4u);
}

TEST(VbfInfo, JsonListsEveryFile) {
    scratch_dir s;
    const fs::path d = s.run();
    write_file(d / "a.vbf", vbf_file("  sw_part_number = \"X\\\"1\";  erase = {{0x10,0x20}};", section(0x10, "123456789", 0x29B1)));
    const main_run t = vbf(d, {"info", "--format=json", "a.vbf", "none.vbf"});
    EXPECT_EQ(t.status, 1);
    EXPECT_EQ(vbf(d, {"info", "--format", "text", "a.vbf"}).out, vbf(d, {"info", "a.vbf"}).out);
    for (const char* piece : {"\"file\": \"a.vbf\", \"accepted\": true", "\"sw_part_number\": \"X\\\\\\\"1\"",
                              "\"erase\": [{\"start\": 16, \"length\": 32}]",
                              "\"sections\": [{\"address\": 16, \"length\": 9", "\"matches\": true",
                              "\"file\": \"none.vbf\", \"accepted\": false, \"message\": \"Cannot open \\\"none.vbf\\\" file\""})
        EXPECT_NE(t.out.find(piece), std::string::npos) << piece << "\n" << t.out;
}

}  // namespace
