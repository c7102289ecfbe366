// The round trip, decoder against encoder: compile a script with the real
// compiler, decompile the container with `vendrak-inspect --script
// --extract`, compile that script again, and compare the two containers byte
// for byte except the time and host address (header bytes 5 to 18) and the
// trailer's CRC text. Run for every e2e case that writes a container, every
// example, and the scripts below; with the programs of launcher.h when it
// names them (the Windows build).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "container_bytes.h"
#include "launcher.h"
#include "test_files.h"

#include "inspect/inspect.h"
#include "vbf/crc32.h"

namespace fs = std::filesystem;

namespace {

using namespace vendrak_test;

std::vector<std::string> lines_of(const fs::path& path) {
    std::vector<std::string> lines;
    std::istringstream text(read_file(path));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

// Runs `program` in `dir` with standard input from /dev/null and standard
// output and error into the given files (/dev/null when empty); returns its
// exit status.
int run_in(const fs::path& dir, const std::string& program, const std::vector<std::string>& args,
           const fs::path& out = {}, const fs::path& err = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out_fd = open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = open(err.empty() ? "/dev/null" : err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(dir.c_str()) != 0 || in < 0 || out_fd < 0 || err_fd < 0) _exit(126);
        dup2(in, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        exec_command(command_for(program, args));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

int compile(const fs::path& dir, const std::vector<std::string>& args) {
    return run_in(dir, program_or("VENDRAK_PROGRAM", VENDRAK_COMPILER), args);
}

// `vendrak-inspect --script --extract inspected CONTAINER` in `dir`: in this
// process, or as the program VENDRAK_INSPECT_PROGRAM names (the Windows
// build). Returns the exit status, the script and the messages.
int decompile(const fs::path& dir, const std::string& container, std::string& script, std::string& messages) {
    if (const std::string program = program_or("VENDRAK_INSPECT_PROGRAM", ""); !program.empty()) {
        const fs::path out = dir / "inspect.out", err = dir / "inspect.err";
        const int status = run_in(dir, program, {"--script", "--extract", "inspected", container}, out, err);
        script = console_text(read_file(out));
        messages = console_text(read_file(err));
        return status;
    }
    const std::string images = (dir / "inspected").string();
    const std::string path = (dir / container).string();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (!out || !err) return -1;
    const char* argv[] = {"vendrak-inspect", "--script", "--extract", images.c_str(), path.c_str()};
    const int status = vendrak::inspect::inspect_main(5, argv, out, err);
    auto text_of = [](std::FILE* f) {
        std::string text(static_cast<size_t>(std::ftell(f)), '\0');
        std::rewind(f);
        text.resize(std::fread(text.data(), 1, text.size(), f));
        std::fclose(f);
        return text;
    };
    script = text_of(out);
    messages = text_of(err);
    return status;
}

// Decompiles `container` (in `dir`) with the command line, compiles the
// script again beside it (encrypted when the container was) and compares.
void round_trip(const fs::path& dir, const std::string& container) {
    const std::string original = read_file(dir / container);
    const bool encrypted = original.size() >= 4 && original.compare(0, 4, "\x5A\xA5\x00\x06", 4) != 0;
    std::string script, messages;
    ASSERT_EQ(decompile(dir, container, script, messages), 0) << messages;
    EXPECT_EQ(messages, "");

    write_file(dir / "inspected.vsc", script);
    std::vector<std::string> args = {"-o", "inspected.out", "inspected.vsc"};
    if (encrypted) args.insert(args.begin(), "-a");
    ASSERT_EQ(compile(dir, args), 0) << "the decompiled script does not compile:\n" << script;
    EXPECT_EQ(comparable(read_file(dir / "inspected.out"), encrypted), comparable(original, encrypted))
        << "decompiled script:\n" << script;
}

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

const fs::path source_root = VENDRAK_SOURCE_ROOT;

// Every e2e case that writes a container: NAME.hex beside its arguments.
std::vector<std::string> e2e_cases() {
    std::vector<std::string> cases;
    const fs::path root = source_root / "tests/e2e/cases";
    if (!fs::exists(root)) return cases;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().extension() == ".hex" && fs::exists(entry.path().parent_path() / "args"))
            cases.push_back(fs::relative(entry.path(), root).string());
    std::sort(cases.begin(), cases.end());
    return cases;
}

class e2e_round_trip : public ::testing::TestWithParam<std::string> {};

TEST_P(e2e_round_trip, compiles_back_into_the_same_container) {
    const fs::path hex = source_root / "tests/e2e/cases" / GetParam();
    const fs::path dir = hex.parent_path();
    scratch_dir scratch;
    if (fs::exists(dir / "in")) fs::copy(dir / "in", scratch.path(), fs::copy_options::recursive);
    // Files of the source tree that the case uses, named in `copy`.
    if (fs::exists(dir / "copy"))
        for (const std::string& path : lines_of(dir / "copy"))
            fs::copy(source_root / path, scratch.path() / fs::path(path).filename());
    const std::vector<std::string> args = lines_of(dir / "args");
    ASSERT_EQ(compile(scratch.path(), args), 0);
    round_trip(scratch.path(), hex.stem().string());
}

INSTANTIATE_TEST_SUITE_P(cases, e2e_round_trip, ::testing::ValuesIn(e2e_cases()), test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(e2e_round_trip);

std::vector<std::string> examples() {
    std::vector<std::string> scripts;
    const fs::path root = source_root / "examples";
    if (!fs::exists(root)) return scripts;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().extension() == ".vsc") scripts.push_back(fs::relative(entry.path(), root).string());
    std::sort(scripts.begin(), scripts.end());
    return scripts;
}

class example_round_trip : public ::testing::TestWithParam<std::string> {};

TEST_P(example_round_trip, compiles_back_into_the_same_container) {
    scratch_dir scratch;
    fs::copy(source_root / "examples", scratch.path(), fs::copy_options::recursive);
    const fs::path script = scratch.path() / GetParam();
    ASSERT_EQ(compile(script.parent_path(), {"-o", "example.out", script.filename().string()}), 0);
    round_trip(script.parent_path(), "example.out");
}

INSTANTIATE_TEST_SUITE_P(examples, example_round_trip, ::testing::ValuesIn(examples()), test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(example_round_trip);

// A VBF file: the given header items, a file checksum, the sections.
std::string vbf_file(const std::string& items, const std::vector<std::pair<uint32_t, std::string>>& sections) {
    std::string data;
    for (const auto& [address, bytes] : sections) {
        for (uint32_t v : {address, static_cast<uint32_t>(bytes.size())})
            for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<char>(v >> shift));
        data += bytes + "\x5A\xA5";
    }
    const uint32_t crc = vendrak::crc32_update(0xFFFFFFFF, reinterpret_cast<const uint8_t*>(data.data()), data.size());
    char checksum[64];
    std::snprintf(checksum, sizeof checksum, "file_checksum = 0x%08X;\n}", crc ^ 0xFFFFFFFF);
    return "vbf_version = 2.6;\nheader {\n" + items + checksum + data;
}

struct script_case {
    const char* name;
    const char* script;
    bool encrypted;
};

// Every statement form and operand kind, the jump patterns of IF, ELSE,
// DO, ENDDO, WHILE, GOTO and GOSUB, and flash files whose sources omitted
// sections.
const script_case scripts[] = {
    {"statements", R"(DAT_INIT DID 0x10
DAT_CREATE DID 0x10
DAT_CHECK DID 5
DID SAVE 0x1234
DID MODIFY 0x10 2 8 | 0x80
DID MODIFY 0x10 2 8 - 3
DAT_DELETE DID 7
DAT_INIT VIN
DAT_CREATE VIN
DELAY 1000000000
DIAG ISO14229 0x7E0 0xFFFFFFFF
DIAG KWP2000 -5 12
EXHALE A
EXHALE B 0x0102030405
EXEC "run; now
two lines"
FW_VERSION 2.15
FW_VERSION -1.5
FW_VERSION -3.95
FW_VERSION 3
GETKEY
GETTIME
HLCD 2 3 "hi" 1.5 -2.25e-7
HUD 8 32 VBAT
LCD 1 1 TEXT[0,-5]
LCD 8 16 DATA[3,4] 3.0 1.0e39
LCD 1 1 VAR[70000]
INHALE B
LED RED TOGGLE
LOG FILE VAR[3]
LOG ADD SERNUM 0.1 -0.0
LOG NEW AMPS 3.14159274 1.4e-45
NET CAN_FD_MS 29 500000
PERIODIC SID 100 1 2 3
PERIODIC MSG 200 0x7DF 0x02 0x01
PERIODIC MSG 5
PERIODIC MSG 6 0
PERIODIC SID 7
READ SID
READ MSG 0x22
SECURITY 1 0x0A0B
VERSION "1.0"
VIN_VERIFY "WVW"
WAITKEY ENTER
WRITE SID 0x10 0x03
WRITE MSG
WRITE MSG 0x7E0
WRITE MSG 0 1 2
REQUEST 1 2 3
REQUEST
SET_VALUE VOLTS 12
SET_VALUE TERMINATION -1
VAR[1] = VAR[2] + 1
VAR[3] = 'A'
VAR[4] = 2.5 * VAR[1]
VAR[5] = -3 ^ DATA[1,2]
VAR[6] = VAR[7] + NIL
VAR[8] = VAR[1] * 0.333333343
UPLOAD 0xFFFFFFFF 1
DOWNLOAD -1 2
MEM 5 = "AB"
MEM 6 ^ 0x0102
MEM -7 + ""
REQ_FILE "x.bin"
IF KEY = ENTER
ENDIF
IF HEX[0,3] = {1,2,3}
ENDIF
IF BIT[3,-32] != 1
ENDIF
IF DTCVAL & {0xFF}
ENDIF
IF VAR[1] > 1.0e-3
ENDIF
EXIT
)",
     false},
    {"flow", R"(DO
  DO
    IF VAR[1] = 1
      ENDDO
    ELSE
      IF VAR[2] = 2
      ELSE
        GETKEY
      ELSE
        GETTIME
      ENDIF
    ENDIF
  WHILE VAR[3] = 3
  ENDDO
WHILE VAR[4] = 4
IF VAR[5] = 5
  DO
ENDIF
  GETKEY
WHILE VAR[6] = 6
DO DO WHILE VAR[7] = 7 WHILE VAR[8] = 8
GOTO inner
IF VAR[9] = 9
  IF VAR[10] = 10
    GOTO out
  ENDIF
inner:
ELSE
  GETKEY
ENDIF
IF VAR[11] = 11 DO ENDIF ENDDO WHILE VAR[12] = 12
out: GOSUB out
IF VAR[13] = 13
  IF VAR[14] = 14
  ENDIF
ENDIF
)",
     false},
    {"flash_files", R"(PROG "e.vbf"
PROGNC "f.vbf" 0x0102
PROGNR "./e.vbf"
PROG "e.vbf" 0xAABB
PROG "empty.vbf"
PROG "f.vbf"
)",
     true},
};

void PrintTo(const script_case& c, std::ostream* os) { *os << c.name; }

class script_round_trip : public ::testing::TestWithParam<script_case> {};

TEST_P(script_round_trip, compiles_back_into_the_same_container) {
    const script_case& c = GetParam();
    scratch_dir scratch;
    const fs::path dir = scratch.path();
    write_file(dir / "t.vsc", c.script);
    write_file(dir / "e.vbf", vbf_file(R"(  sw_part_number = "AB CD/12"; // a comment
  sw_part_type = EXE; prog_type = STELLANTIS; data_format_identifier = 0x10;
  network = {CAN_MS,SUB_LIN2}; ecu_address = {0x7E0,0x10,0x2}; frame_format = CAN_EXTENDED;
  call = 0x8000; ctp_crc32 = 0xDEADBEEF; description = {"4321","0xBEEF"};
  datproc_method = AUTH; datproc_param = 77; public_key_hash = "abcdef0123";
  erase = {{0x1000,0x100},{0x2000,0x9},{0x2000,0x10}}; omit = {{0x2000,0x9}};
)",
                                       {{0x1000, "hello"}, {0x2000, "omitted!!"}, {0x3000, ""}, {0x1010, "ENDOFVBF"}}));
    write_file(dir / "f.vbf", vbf_file(R"(network = {XXXXXX,SUB_OTHER}; description = {"0xABCD"0x12"};
  omit = {{0xFFFFFF00,0x10}}; erase = {{0xFFFFFF00,0x100}};
)",
                                       {{0xFFFFFF00, "gone"}, {0x10, "a"}}));
    write_file(dir / "empty.vbf", vbf_file("", {}));
    std::vector<std::string> args = {"t.vsc"};
    if (c.encrypted) args.insert(args.begin(), "-a");
    ASSERT_EQ(compile(dir, args), 0) << c.script;
    round_trip(dir, "a.out");
}

INSTANTIATE_TEST_SUITE_P(scripts, script_round_trip, ::testing::ValuesIn(scripts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
