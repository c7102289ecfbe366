// Runs that only Windows has: the program name as a Windows console passes
// it, paths with backslashes and blanks, files locked by another process,
// and the console's control events in the middle of a run. Run by
// `make test-windows` with the launcher of runs.h (launch.exe under Wine)
// and vendrak.exe; every e2e case also runs there against the same
// expectations as on Linux, so the containers are the Linux ones.
#include <memory>

#include "runs.h"

namespace {

using namespace vendrak_test;

std::string windows_program() { return program_or("VENDRAK_PROGRAM", ""); }

// A VBF file with one section of `size` bytes of varied data.
std::string vbf_of(size_t size) {
    return vbf_file("  sw_part_number = \"31808832-AA\";\n  sw_part_type = EXE;",
                    section(0x00100000, pattern_bytes(size, 3)));
}

const std::string small_vbf = vbf_of(300);
const std::string& big_vbf() {
    static const std::string bytes = vbf_of(64 << 20);
    return bytes;
}

using file = std::pair<std::string, std::string>;  // a path under the run directory, its bytes

// A run of Windows' own: its files, what launch.exe does to it, what it must
// print, and the files it must leave.
struct windows_case {
    const char* name;
    std::vector<file> files;
    std::vector<std::string> launcher_options;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
    std::vector<std::string> unchanged;  // files whose bytes the run must not change
    std::vector<std::string> absent;     // files that must not exist afterwards
    const char* argument0 = "vendrak";
};

const std::string earlier = "an earlier container\n";
const std::string flash_script = "LCD 1 1 \"FLASH\"\nPROG \"app.vbf\"\n";

// The usage of the e2e case cli/help, for the program `name`.
std::string usage(const std::string& name) {
    const std::string text = read_file(VENDRAK_SOURCE_ROOT "/tests/e2e/cases/cli/help/stderr");
    return text.substr(0, text.find("vendrak <")) + name + text.substr(text.find(" <options>"));
}

std::vector<windows_case> windows_cases() {
    const auto cannot_open = [](const std::string& name) {
        return "Error: Cannot open \"" + name + "\" output file\n" + prompt;
    };
    std::vector<windows_case> rows = {
        // Paths with backslashes and blanks; a script's strings keep their
        // backslashes.
        {"backslashes_and_blanks",
         {{"my jobs/t.vsc", "PROG \"vbf\\app.vbf\"\r\nPROGNC \"vbf\\..\\vbf\\app.vbf\"\r\n"}, {"vbf/app.vbf", small_vbf},
          {"out dir/keep", ""}},
         {}, {"-o", "out dir\\x.bin", "my jobs\\t.vsc"}, 0, "Script Size:48, File Size:1344, CRC:0x????????\n", "", {},
         {}},
        {"output_folder_missing", {{"t.vsc", flash_script}, {"app.vbf", small_vbf}}, {},
         {"-o", "no such folder\\x.bin", "t.vsc"}, 1, cannot_open("no such folder\\x.bin"), "", {},
         {"no such folder"}},
        {"locked_output", {{"t.vsc", flash_script}, {"app.vbf", small_vbf}, {"out.bin", earlier}},
         {"--lock", "out.bin"}, {"-o", "out.bin", "t.vsc"}, 1, cannot_open("out.bin"), "", {"out.bin"}, {}},
        {"locked_flash_file", {{"t.vsc", flash_script}, {"app.vbf", small_vbf}}, {"--lock", "app.vbf"},
         {"t.vsc"}, 1, "ERROR: Cannot open \"app.vbf\" file\nError: Cannot process \"app.vbf\" file\n" + prompt, "",
         {"app.vbf"}, {"a.out"}},
        {"locked_script", {{"t.vsc", flash_script}}, {"--lock", "t.vsc"}, {"t.vsc"}, 1,
         "Error: Cannot open \"t.vsc\" script file\n" + prompt, "", {"t.vsc"}, {"a.out"}},
        // The option messages name the program by argument 0, the usage by
        // its last part after '\\' or '/'.
        {"program_name_with_backslashes", {}, {}, {"-x"}, 0, "\nPress any key to continue...\n",
         "C:\\Program Files\\vendrak\\vendrak.exe: invalid option -- 'x'\n" + usage("vendrak.exe"), {}, {},
         "C:\\Program Files\\vendrak\\vendrak.exe"},
        {"program_name_with_slashes", {}, {}, {"--aes=1"}, 0, "\nPress any key to continue...\n",
         "C:/tools/vendrak: option '--aes' doesn't allow an argument\n" + usage("vendrak"), {}, {}, "C:/tools/vendrak"},
    };
    // Ctrl+C, Ctrl+Break and closing the console while a 64 MiB flash file
    // is converted: the temporary file goes, no output is made.
    for (const char* event : {"0", "1", "2"})
        rows.push_back({"event_during_conversion", {{"t.vsc", "PROG \"big.vbf\"\n"}, {"big.vbf", ""}},
                        {"--event", event, "--when", "vendrak.*", "4096"}, {"t.vsc"}, 1, "", "", {"big.vbf"}, {"a.out"}});
    // During the copy into the container: an output file the run created
    // goes, one that was there before stays.
    rows.push_back({"event_during_copy_to_new_output", {{"t.vsc", "PROG \"big.vbf\"\n"}, {"big.vbf", ""}},
                    {"--event", "1", "--when", "new.bin", "1"}, {"-o", "new.bin", "t.vsc"}, 1, "", "", {}, {"new.bin"}});
    rows.push_back({"event_during_copy_to_old_output",
                    {{"t.vsc", "PROG \"big.vbf\"\n"}, {"big.vbf", ""}, {"old.bin", earlier}},
                    {"--event", "2", "--when", "old.bin", "4096"}, {"-o", "old.bin", "t.vsc"}, 1, "", "", {}, {}});
    return rows;
}

class windows_only : public ::testing::TestWithParam<windows_case> {};

// A console event may still come too late for a quick run: after its
// container was whole (the summary line is out), or after the run ended
// (launch.exe says 125). Such a run is made again, up to ten times.
bool too_late(const windows_case& c, const run_result& r) {
    return !c.launcher_options.empty() && c.launcher_options[0] == "--event" &&
           (r.status == 125 || r.out.find("Script Size:") != std::string::npos);
}

TEST_P(windows_only, ends_as_it_must) {
    const windows_case& c = GetParam();
    std::unique_ptr<scratch_dir> scratch;
    std::vector<std::string> before;
    run_result r;
    for (int attempt = 0; attempt == 0 || (too_late(c, r) && attempt < 10); ++attempt) {
        scratch = std::make_unique<scratch_dir>();
        for (const auto& [path, bytes] : c.files) {
            fs::create_directories((scratch->run() / path).parent_path());
            write_file(scratch->run() / path, path == "big.vbf" ? big_vbf() : bytes);
        }
        before.clear();
        for (const std::string& name : c.unchanged) before.push_back(read_file(scratch->run() / name));

        r = run(scratch->run(), command_for(windows_program(), c.args, c.launcher_options, c.argument0));
        r.out = mask_summary(r.out);
    }
    const fs::path dir = scratch->run();

    EXPECT_FALSE(too_late(c, r)) << "ten runs in a row ended before their console event";
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(leftover_temp_files(dir), std::vector<std::string>{});
    for (size_t i = 0; i < c.unchanged.size(); ++i)
        EXPECT_EQ(read_file(dir / c.unchanged[i]), before[i]) << c.unchanged[i] << " changed";
    for (const std::string& name : c.absent) EXPECT_FALSE(fs::exists(dir / name)) << name;
    if (std::string(c.name) == "backslashes_and_blanks") {
        EXPECT_TRUE(fs::exists(dir / "out dir/x.bin")) << "the container of the run";
    }
    if (std::string(c.name) == "event_during_copy_to_old_output") {
        EXPECT_GE(fs::file_size(dir / "old.bin"), 4096u) << "the output that was there before stays";
    }
}

INSTANTIATE_TEST_SUITE_P(cases, windows_only, ::testing::ValuesIn(windows_cases()), [](const auto& info) {
    const std::vector<std::string>& options = info.param.launcher_options;
    return std::string(info.param.name) + (!options.empty() && options[0] == "--event" ? "_" + options[1] : "");
});

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!launched() || windows_program().empty()) {
        std::fputs("windows_test: set VENDRAK_LAUNCHER and VENDRAK_PROGRAM (make test-windows does)\n", stderr);
        return 1;
    }
    return RUN_ALL_TESTS();
}
