// Runs that only Windows has: paths with backslashes, blanks and drive
// letters, output files that are read-only or locked by another process,
// the console's control events in the middle of a run, and the program name
// as a Windows console passes it. Run by `make test-windows` with the
// launcher of runs.h (launch.exe under Wine) and vendrak.exe. Where a run
// succeeds, the same run on Linux (the `vendrak` built beside this test, on
// the same files with '/' for '\' and a folder for the drive) must give the
// same output and the same container (time, host address and CRC text aside).
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <memory>

#include "runs.h"

namespace {

using namespace vendrak_test;

// Runs `c` in `dir`, the summary's CRC masked.
run_result masked_run(const fs::path& dir, const command& c) {
    run_result r = run(dir, c);
    r.out = mask_summary(r.out);
    return r;
}

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

// The Wine prefix's drive V:, a folder of the scratch directory while it
// lives.
class drive_v {
public:
    explicit drive_v(const fs::path& folder) {
        const char* prefix = std::getenv("WINEPREFIX");
        link_ = fs::path(prefix ? prefix : std::string(std::getenv("HOME")) + "/.wine") / "dosdevices" / "v:";
        fs::remove(link_);
        fs::create_directory_symlink(folder, link_);
    }
    ~drive_v() {
        std::error_code ignored;
        fs::remove(link_, ignored);
    }

private:
    fs::path link_;
};

// Makes `path` read-only as Windows sees it. Wine maps the read-only
// attribute to the file's write permissions; root writes regardless, so for
// root the file is made immutable. False when that is not possible here.
bool make_read_only(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (geteuid() != 0) return true;
    const int fd = open(path.c_str(), O_RDONLY);
    int flags = 0;
    const bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                      (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (fd >= 0) close(fd);
    return done;
}

void make_writable(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) close(fd);
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
}

// The same text with Windows paths made Linux paths: drive V: is the folder
// "drive" beside the run directory.
std::string linux_form(std::string text) {
    for (size_t at; (at = text.find("V:\\")) != std::string::npos;) text.replace(at, 3, "../drive/");
    for (char& c : text)
        if (c == '\\') c = '/';
    return text;
}

struct file {
    std::string path;  // under the scratch directory: run/ is where vendrak runs, drive/ is V:
    std::string bytes;
};

void write_files(const fs::path& root, const std::vector<file>& files, bool for_linux) {
    fs::create_directories(root / "run");
    fs::create_directories(root / "drive");
    for (const file& f : files) {
        const fs::path path = root / (for_linux ? linux_form(f.path) : f.path);
        fs::create_directories(path.parent_path());
        // Scripts name paths; flash files are bytes.
        write_file(path, for_linux && path.extension() == ".vsc" ? linux_form(f.bytes) : f.bytes);
    }
}

// A run that must give what the same run gives on Linux.
struct same_as_linux_case {
    const char* name;
    std::vector<file> files;
    std::vector<std::string> args;
    std::string output;  // the container under the scratch directory
};

const same_as_linux_case same_as_linux_cases[] = {
    {"backslashes",
     {{"run/sub/t.vsc", "LCD 1 1 \"FLASH\"\r\nPROG \"vbf\\app.vbf\"\r\nPROGNC \"vbf\\..\\vbf\\app.vbf\"\r\n"},
      {"run/vbf/app.vbf", small_vbf}, {"run/out/keep", ""}},
     {"-v", "-o", "out\\x.bin", "sub\\t.vsc"}, "run/out/x.bin"},
    {"blanks",
     {{"run/my scripts/flash job.vsc", "PROG \"my vbf\\app 1.vbf\"\nLCD 2 1 \"two words\"\n"},
      {"run/my vbf/app 1.vbf", small_vbf}, {"run/out dir/keep", ""}},
     {"--outfile", "out dir\\my file.bin", "my scripts\\flash job.vsc"}, "run/out dir/my file.bin"},
    {"another_drive",
     {{"drive/jobs/t.vsc", "PROG \"V:\\images\\app.vbf\"\nDELAY 5\n"}, {"drive/images/app.vbf", small_vbf}},
     {"-a", "-o", "V:\\x.bin", "V:\\jobs\\t.vsc"}, "drive/x.bin"},
    {"usage_error_on_another_drive", {{"drive/t.vsc", "LCD 1 1 \"X\"\n"}}, {"V:\\t.vsc", "-q"}, ""},
    {"script_missing_on_another_drive", {}, {"V:\\none.vsc"}, ""},
};

class windows_same_as_linux : public ::testing::TestWithParam<same_as_linux_case> {};

TEST_P(windows_same_as_linux, gives_what_linux_gives) {
    const same_as_linux_case& c = GetParam();
    scratch_dir scratch;
    const fs::path windows = scratch.side("windows"), linux = scratch.side("linux");
    write_files(windows, c.files, false);
    write_files(linux, c.files, true);
    const drive_v drive(windows / "drive");

    std::vector<std::string> linux_argv{"vendrak"};
    for (const std::string& a : c.args) linux_argv.push_back(linux_form(a));
    const run_result expected = masked_run(linux / "run", command{VENDRAK_COMPILER, linux_argv});
    const run_result actual = masked_run(windows / "run", command_for(windows_program(), c.args));

    // The messages name the paths as they were given.
    EXPECT_EQ(actual.status, expected.status);
    EXPECT_EQ(linux_form(actual.out), expected.out);
    EXPECT_EQ(linux_form(actual.err), expected.err);
    EXPECT_EQ(leftover_temp_files(windows / "run"), std::vector<std::string>{});
    if (!c.output.empty()) {
        const bool encrypted = std::find(c.args.begin(), c.args.end(), "-a") != c.args.end();
        ASSERT_TRUE(fs::exists(windows / c.output)) << c.output;
        const std::string produced = read_file(windows / c.output), reference = read_file(linux / c.output);
        EXPECT_EQ(comparable(produced, encrypted), comparable(reference, encrypted));
        // Both pick the same adapter of this host: header bytes 13 to 18.
        const auto host_address = [&](const std::string& bytes) {
            return (encrypted ? decrypted(bytes) : bytes).substr(13, 6);
        };
        EXPECT_EQ(host_address(produced), host_address(reference));
    }
}

INSTANTIATE_TEST_SUITE_P(cases, windows_same_as_linux, ::testing::ValuesIn(same_as_linux_cases),
                         [](const auto& info) { return std::string(info.param.name); });

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
    const char* read_only = nullptr;     // a file made read-only first
};

const std::string earlier = "an earlier container\n";
const std::string flash_script = "LCD 1 1 \"FLASH\"\nPROG \"app.vbf\"\n";

std::string usage(const std::string& name) {
    return "\nVENDRAK Compiler Version " VENDRAK_VERSION "\nUsage: " + name +
           " <options> <script file>\n  -h, --help\t Help\n  -a, --aes\t AES encrypt program binary\n"
           "  -v, --verbose\t Increase debug verbosity\n  -o, --outfile\t Set output filename\n\n";
}

std::vector<windows_case> windows_cases() {
    const auto cannot_open = [](const std::string& name) {
        return "Error: Cannot open \"" + name + "\" output file\n" + prompt;
    };
    std::vector<windows_case> rows = {
        {"read_only_output", {{"run/t.vsc", flash_script}, {"run/app.vbf", small_vbf}, {"run/out.bin", earlier}}, {},
         {"-o", "out.bin", "t.vsc"}, 1, cannot_open("out.bin"), "", {"out.bin"}, {}, "vendrak", "run/out.bin"},
        {"output_folder_missing", {{"run/t.vsc", flash_script}, {"run/app.vbf", small_vbf}}, {},
         {"-o", "no such folder\\x.bin", "t.vsc"}, 1, cannot_open("no such folder\\x.bin"), "", {},
         {"no such folder"}},
        {"locked_output", {{"run/t.vsc", flash_script}, {"run/app.vbf", small_vbf}, {"run/out.bin", earlier}},
         {"--lock", "out.bin"}, {"-o", "out.bin", "t.vsc"}, 1, cannot_open("out.bin"), "", {"out.bin"}, {}},
        {"locked_flash_file", {{"run/t.vsc", flash_script}, {"run/app.vbf", small_vbf}}, {"--lock", "app.vbf"},
         {"t.vsc"}, 1, "ERROR: Cannot open \"app.vbf\" file\nError: Cannot process \"app.vbf\" file\n" + prompt, "",
         {"app.vbf"}, {"a.out"}},
        {"locked_script", {{"run/t.vsc", flash_script}}, {"--lock", "t.vsc"}, {"t.vsc"}, 1,
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
        rows.push_back({"event_during_conversion", {{"run/t.vsc", "PROG \"big.vbf\"\n"}, {"run/big.vbf", ""}},
                        {"--event", event, "--when", "vendrak.*", "4096"}, {"t.vsc"}, 1, "", "", {"big.vbf"}, {"a.out"}});
    // During the copy into the container: an output file the run created
    // goes, one that was there before stays.
    rows.push_back({"event_during_copy_to_new_output", {{"run/t.vsc", "PROG \"big.vbf\"\n"}, {"run/big.vbf", ""}},
                    {"--event", "1", "--when", "new.bin", "1"}, {"-o", "new.bin", "t.vsc"}, 1, "", "", {}, {"new.bin"}});
    rows.push_back({"event_during_copy_to_old_output",
                    {{"run/t.vsc", "PROG \"big.vbf\"\n"}, {"run/big.vbf", ""}, {"run/old.bin", earlier}},
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
        std::vector<file> files = c.files;
        for (file& f : files)
            if (f.path == "run/big.vbf") f.bytes = big_vbf();
        write_files(scratch->path(), files, false);
        if (c.read_only && !make_read_only(scratch->path() / c.read_only))
            GTEST_SKIP() << "cannot make a file read-only for root here (no immutable flag)";
        before.clear();
        for (const std::string& name : c.unchanged) before.push_back(read_file(scratch->run() / name));

        r = masked_run(scratch->run(), command_for(windows_program(), c.args, c.launcher_options, c.argument0));
        if (c.read_only) make_writable(scratch->path() / c.read_only);
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
    if (std::string(c.name) == "event_during_copy_to_old_output") {
        EXPECT_GE(fs::file_size(dir / "old.bin"), 4096u) << "the output that was there before stays";
    }
}

INSTANTIATE_TEST_SUITE_P(cases, windows_only, ::testing::ValuesIn(windows_cases()), [](const auto& info) {
    const std::vector<std::string>& options = info.param.launcher_options;
    return std::string(info.param.name) + (!options.empty() && options[0] == "--event" ? "_" + options[1] : "");
});

// The process of the run in `dir`: Wine shows a program's command line as
// the process's, and the launcher's own names launch.exe.
pid_t run_in(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::error_code ec;
        if (fs::read_symlink(entry.path() / "cwd", ec) != dir || ec) continue;
        if (read_file(entry.path() / "cmdline").starts_with(std::string("vendrak\0", 8)))
            return static_cast<pid_t>(std::stoi(entry.path().filename().string()));
    }
    return 0;
}

// Ctrl+C in the terminal that runs Wine: Wine turns SIGINT into the console's
// Ctrl+C event for the program. launch.exe waits for the run as Windows
// would, until its handles are closed.
TEST(windows_terminal, ctrl_c_during_conversion) {
    scratch_dir scratch;
    write_files(scratch.path(), {{"run/t.vsc", "PROG \"big.vbf\"\n"}, {"run/big.vbf", big_vbf()}}, false);
    const fs::path dir = scratch.run();
    run_result r;
    const auto whole = [&] { return r.out.find("Script Size:") != std::string::npos; };
    for (int attempt = 0; attempt == 0 || (whole() && attempt < 10); ++attempt) {
        program_run started(dir, command_for(windows_program(), {"t.vsc"}));
        bool sent = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!sent && std::chrono::steady_clock::now() < deadline) {
            const std::vector<std::string> temp = leftover_temp_files(dir);
            std::error_code ec;
            if (!temp.empty() && fs::file_size(dir / temp.front(), ec) >= 4096 && !ec) {
                const pid_t run = run_in(dir);
                sent = run > 0 && kill(run, SIGINT) == 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        r = started.finish();
        ASSERT_TRUE(sent) << "the conversion never began";
        if (whole()) fs::remove(dir / "a.out");  // the interrupt came too late
    }
    EXPECT_FALSE(whole()) << "ten runs in a row were whole before their interrupt";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(leftover_temp_files(dir), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(dir / "a.out"));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!launched() || windows_program().empty()) {
        std::fputs("windows_test: set VENDRAK_LAUNCHER and VENDRAK_PROGRAM (make test-windows does)\n", stderr);
        return 1;
    }
    return RUN_ALL_TESTS();
}
