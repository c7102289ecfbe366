// End-to-end cases: the real `vendrak` binary on the folders under cases/.
//
// A case folder holds
//   args          command-line arguments, one per line (program name left out)
//   in/           files copied into a fresh, empty run directory (symbolic
//                 links as links)
//   copy          more files for the run directory, one source-tree path a line
//   status        expected exit status (0 when missing)
//   stdout        expected standard output (empty when missing), the summary's
//                 CRC written as CRC:0x????????
//   stderr        expected standard error (empty when missing)
//   NAME.hex      expected output file NAME as a hex dump, header bytes 5 to 18
//                 (time and host address) and the trailer's CRC text masked
//   encrypted     present when the run encrypts: NAME.hex dumps it decrypted
//   output_name   the output file of the run when it is not a.out
//   keeps_output  present when a failing run leaves a partly written output
//   absent        files that must not exist after the run, one per line
//   decompiled.vsc  the script `vendrak-inspect --script` makes of the
//                 container, where the case pins it
//
// Every run leaves no temporary "vendrak.*" file and the files of in/ as
// they were. A failing run is made twice: in an empty directory, where it
// must not create the output file, and beside an existing output file,
// which it must leave unchanged. Every
// container is checked for its length, trailer and CRC, and makes the round
// trip: `vendrak-inspect --script --extract` decompiles it, and the script
// compiles back into the same container.
//
// VENDRAK_E2E_UPDATE=1 writes what the runs produce into the case folders
// instead of comparing (review the diff before committing it).
#include <sys/stat.h>

#include "runs.h"

namespace {

using namespace vendrak_test;

const fs::path cases_root = VENDRAK_SOURCE_ROOT "/tests/e2e/cases";

std::vector<std::string> lines_of(const fs::path& path) {
    std::vector<std::string> lines;
    std::istringstream text(fs::exists(path) ? read_file(path) : "");
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

std::string hex_dump(std::string bytes, bool encrypted) {
    if (encrypted) bytes = decrypted(std::move(bytes));
    std::string text;
    char buf[32];
    for (size_t row = 0; row < bytes.size(); row += 16) {
        std::snprintf(buf, sizeof buf, "%08zx ", row);
        text += buf;
        std::string ascii;
        for (size_t i = row; i < row + 16; ++i) {
            if (i - row == 8) text += ' ';
            if (i >= bytes.size()) {
                text += "   ";
                continue;
            }
            const auto b = static_cast<uint8_t>(bytes[i]);
            const bool masked = bytes.size() >= 96 && varies_between_runs(i, bytes.size());
            std::snprintf(buf, sizeof buf, " %02x", b);
            text += masked ? " ??" : buf;
            ascii += masked ? '?' : (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
        }
        text += "  |" + ascii + "|\n";
    }
    return text;
}

// Decompiles the container `name` in `dir`, compiles the script again
// beside it (encrypted when the container was) and compares the two.
void round_trip(const fs::path& dir, const std::string& name, bool encrypted, const fs::path& expected_script) {
    const std::string inspector = program_or("VENDRAK_INSPECT_PROGRAM", VENDRAK_INSPECTOR);
    if (inspector.empty()) return;  // built without the tools
    const run_result script =
        run(dir, command_for(inspector, {"--script", "--extract", "inspected", name}, {}, "vendrak-inspect"));
    ASSERT_EQ(script.status, 0) << script.err;
    EXPECT_EQ(script.err, "");
    if (fs::exists(expected_script)) {
        EXPECT_EQ(script.out, read_file(expected_script)) << "the decompiled script";
    }
    write_file(dir / "inspected.vsc", script.out);
    std::vector<std::string> args = {"-o", "inspected.out", "inspected.vsc"};
    if (encrypted) args.insert(args.begin(), "-a");
    const run_result again = run(dir, compiler(args));
    ASSERT_EQ(again.status, 0) << "the decompiled script does not compile:\n" << script.out << again.out;
    EXPECT_EQ(comparable(read_file(dir / "inspected.out"), encrypted), comparable(read_file(dir / name), encrypted))
        << "decompiled script:\n" << script.out;
}

// Fills a run directory with the case's inputs.
void prepare(const fs::path& case_dir, const fs::path& run_dir) {
    if (fs::exists(case_dir / "in"))
        fs::copy(case_dir / "in", run_dir, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const std::string& path : lines_of(case_dir / "copy"))
        fs::copy(fs::path(VENDRAK_SOURCE_ROOT) / path, run_dir / fs::path(path).filename());
}

class e2e : public ::testing::TestWithParam<std::string> {};

TEST_P(e2e, matches_expectations) {
    const fs::path dir = cases_root / GetParam();
    const std::vector<std::string> args = lines_of(dir / "args");
    const bool encrypted = fs::exists(dir / "encrypted");
    const std::string output_name = fs::exists(dir / "output_name") ? lines_of(dir / "output_name").at(0) : "a.out";
    const bool output_is_local = output_name[0] != '/';

    scratch_dir scratch;
    prepare(dir, scratch.run());
    const run_result r = run(scratch.run(), compiler(args));
    const std::string out = mask_summary(r.out);
    EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{}) << "temporary VBF file left behind";

    if (std::getenv("VENDRAK_E2E_UPDATE")) {
        write_file(dir / "status", std::to_string(r.status) + "\n");
        if (!out.empty() || fs::exists(dir / "stdout")) write_file(dir / "stdout", out);
        if (!r.err.empty() || fs::exists(dir / "stderr")) write_file(dir / "stderr", r.err);
        if (r.status == 0 && output_is_local && fs::exists(scratch.run() / output_name))
            write_file(dir / (fs::path(output_name).filename().string() + ".hex"),
                       hex_dump(read_file(scratch.run() / output_name), encrypted));
        return;
    }

    if (fs::exists(dir / "in"))
        for (const auto& input : fs::recursive_directory_iterator(dir / "in"))
            if (!input.is_symlink() && input.is_regular_file()) {
                EXPECT_EQ(read_file(scratch.run() / fs::relative(input.path(), dir / "in")), read_file(input.path()))
                    << input.path() << " changed";
            }
    for (const std::string& name : lines_of(dir / "absent"))
        EXPECT_FALSE(fs::exists(scratch.run() / name)) << name << " must not exist after the run";
    const int expected_status = fs::exists(dir / "status") ? std::stoi(read_file(dir / "status")) : 0;
    EXPECT_EQ(r.status, expected_status);
    EXPECT_EQ(out, fs::exists(dir / "stdout") ? read_file(dir / "stdout") : "") << "standard output";
    EXPECT_EQ(r.err, fs::exists(dir / "stderr") ? read_file(dir / "stderr") : "") << "standard error";

    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".hex") continue;
        const std::string name = entry.path().stem().string();
        ASSERT_TRUE(fs::exists(scratch.run() / name)) << name << " was not written";
        const std::string bytes = read_file(scratch.run() / name);
        check_container(bytes, r.out);
        EXPECT_EQ(u32_at(bytes, 0) != 0x0600A55Au, encrypted) << "the magic shows unless the container is encrypted";
        EXPECT_EQ(hex_dump(bytes, encrypted), read_file(entry.path())) << "container " << name;
        round_trip(scratch.run(), name, encrypted, dir / "decompiled.vsc");
    }

    // An output name that is one of the inputs (a folder) is left as it was.
    if (expected_status != 0 && !fs::exists(dir / "keeps_output") && output_is_local &&
        !fs::exists(dir / "in" / output_name)) {
        EXPECT_FALSE(fs::exists(scratch.run() / output_name)) << "a failing run created its output file";

        // Once more, beside an output file that must survive unchanged.
        scratch_dir again;
        prepare(dir, again.run());
        const fs::path existing = again.run() / output_name;
        if (fs::is_directory(existing.parent_path())) {
            const std::string sentinel = "an earlier container\n";
            write_file(existing, sentinel);
            EXPECT_EQ(run(again.run(), compiler(args)).status, expected_status);
            EXPECT_EQ(read_file(existing), sentinel) << "a failing run changed an existing output file";
            EXPECT_EQ(leftover_temp_files(again.run()), std::vector<std::string>{});
        }
    }
}

std::vector<std::string> all_cases() {
    std::vector<std::string> cases;
    for (const auto& entry : fs::recursive_directory_iterator(cases_root))
        if (!entry.is_symlink() && entry.is_directory() && fs::exists(entry.path() / "args"))
            cases.push_back(fs::relative(entry.path(), cases_root).string());
    std::sort(cases.begin(), cases.end());
    return cases;
}

INSTANTIATE_TEST_SUITE_P(cases, e2e, ::testing::ValuesIn(all_cases()), [](const auto& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

// A signal while a flash file is being read removes the temporary file and
// ends the run with status 1 before any output exists. The flash file is a
// FIFO that nobody writes, so the run is sure to be waiting in it.
TEST(e2e_signals, interrupted_run_leaves_no_file_behind) {
    if (launched()) GTEST_SKIP() << "Linux signals; the console events of Windows are tested by windows_test";
    for (int signal_number : {SIGTERM, SIGINT}) {
        scratch_dir scratch;
        write_file(scratch.run() / "t.vsc", "PROG \"slow.vbf\"\n");
        ASSERT_EQ(mkfifo((scratch.run() / "slow.vbf").c_str(), 0600), 0);
        program_run started(scratch.run(), compiler({"t.vsc"}));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (leftover_temp_files(scratch.run()).empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(leftover_temp_files(scratch.run()).size(), 1u) << "the run never created its temporary file";
        kill(started.pid(), signal_number);
        EXPECT_EQ(started.finish().status, 1);
        EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(scratch.run() / "a.out"));
    }
}

}  // namespace
