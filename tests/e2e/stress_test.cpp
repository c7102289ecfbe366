// Faults and load through the real `vendrak` binary: output paths that cannot
// be opened, flash files that cannot be read or that end inside a section,
// eight runs at once in one directory, very long and very deeply nested
// scripts, and DEFINE names whose values lead back to themselves.
//
// Every run gets standard input from /dev/null and a deadline; a run that
// hangs is killed and fails its test.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "container_bytes.h"
#include "launcher.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

using namespace vendrak_test;

const std::string prompt = "\nERROR:-1, Press any key to continue...\n";

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

// One started run of the binary. With a gate, the child waits until the gate
// opens before it execs, so that several runs can start at the same moment.
// With a file size limit, no file of the run can grow past it: a write that
// would fails as on a full disk.
class vendrak_run {
public:
    // `gate` is a pipe; the child waits for the end of its read side, which
    // comes when every holder has closed the write side.
    vendrak_run(const fs::path& dir, const std::vector<std::string>& args, const fs::path& capture,
                const int* gate = nullptr, rlim_t file_size_limit = RLIM_INFINITY)
        : out_(capture.string() + ".out"), err_(capture.string() + ".err") {
        pid_ = fork();
        if (pid_ == 0) {
            const rlimit limit{file_size_limit, file_size_limit};
            if (file_size_limit != RLIM_INFINITY && (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0))
                _exit(126);
            if (gate) {
                close(gate[1]);
                char ignored;
                while (read(gate[0], &ignored, 1) > 0) {
                }
                close(gate[0]);
            }
            if (chdir(dir.c_str()) != 0) _exit(126);
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0) _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            exec_command(command_for(program_or("VENDRAK_PROGRAM", VENDRAK_BINARY), args));
        }
    }

    run_result finish(std::chrono::seconds limit = std::chrono::seconds(60)) {
        int wstatus = 0;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (waitpid(pid_, &wstatus, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &wstatus, 0);
                ADD_FAILURE() << "vendrak did not finish within " << limit.count() << " s";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        run_result r;
        r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        r.out = console_text(read_file(out_));
        r.err = console_text(read_file(err_));
        fs::remove(out_);
        fs::remove(err_);
        return r;
    }

    pid_t pid() const { return pid_; }

private:
    std::string out_;
    std::string err_;
    pid_t pid_ = -1;
};

run_result run_vendrak(const scratch_dir& scratch, const std::vector<std::string>& args) {
    return vendrak_run(scratch.run(), args, scratch.side("run")).finish();
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

std::vector<std::string> leftover_temp_files(const fs::path& dir) {
    std::vector<std::string> left;
    for (const std::string& name : names_in(dir))
        if (name.rfind("vendrak.", 0) == 0) left.push_back(name);
    return left;
}


uint32_t crc_register(uint32_t reg, const std::string& bytes, size_t begin, size_t end) {
    return bitwise_crc(reg, bytes.data() + begin, end - begin);
}

// A VBF file's checksum: the standard CRC-32 of its data part.
uint32_t file_checksum(const std::string& data) { return ~crc_register(0xFFFFFFFFu, data, 0, data.size()); }

// A section as the data part holds it: head, data, block checksum.
std::string section(uint32_t address, const std::string& data) {
    return u32be(address) + u32be(static_cast<uint32_t>(data.size())) + data + "\x5A\xA5";
}

// A VBF file with the given data part; the data part starts right after the
// header's closing brace. `checksum` defaults to the right one.
std::string vbf_file(const std::string& data_part, const std::string& part_number = "31808832-AA") {
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "0x%08X", file_checksum(data_part));
    return "vbf_version = 2.6;\nheader {\n  sw_part_number = \"" + part_number +
           "\";\n  sw_part_type = EXE;\n  // the file checksum covers every byte after the brace\n"
           "  file_checksum = " + checksum + ";\n}" + data_part;
}

std::string pattern_bytes(size_t n, uint32_t seed) {
    std::string bytes(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<char>(x >> 16);
    }
    return bytes;
}

// Checks the frame of a container (length, trailer, CRC) against the
// summary line of its run.
void check_container(const std::string& bytes, const std::string& summary) {
    ASSERT_EQ(bytes.size() % 16, 0u) << "container length " << bytes.size();
    ASSERT_GE(bytes.size(), 96u);
    const size_t trailer = bytes.size() - 32;
    const uint32_t crc = crc_register(0, bytes, 0, trailer);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", crc);
    EXPECT_EQ(bytes.substr(trailer, 4), "CRC:");
    EXPECT_EQ(bytes.substr(trailer + 4, 10), text) << "trailer CRC text";
    EXPECT_EQ(bytes.substr(trailer + 14, 2), std::string(" \0", 2));
    char line[96];
    std::snprintf(line, sizeof line, ", File Size:%zu, CRC:%s\n", bytes.size(), text);
    EXPECT_NE(summary.find(line), std::string::npos) << summary;
}

const std::string good_vbf = vbf_file(section(0x00010000, pattern_bytes(64, 1)));

// An output name that cannot be opened fails in the last step, after the
// flash file has been converted into the temporary file: the message, the
// prompt, status 1, nothing created and the temporary file gone.
TEST(stress_faults, output_path_that_cannot_be_opened) {
    const std::vector<std::string> names = {
        "missing/deeper/x.bin",  // a directory that does not exist
        "plain.txt/x.bin",       // a path through a regular file
        "outdir",                // an existing directory
        "outdir/",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        scratch_dir scratch;
        write_file(scratch.run() / "t.vsc", "LCD 1 1 \"FLASH\"\nPROG \"ok.vbf\"\n");
        write_file(scratch.run() / "ok.vbf", good_vbf);
        write_file(scratch.run() / "plain.txt", "not a directory\n");
        fs::create_directory(scratch.run() / "outdir");
        const std::set<std::string> before = names_in(scratch.run());

        const run_result r = run_vendrak(scratch, {"-o", name, "t.vsc"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Error: Cannot open \"" + name + "\" output file\n" + prompt);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(names_in(scratch.run()), before) << "a file was left or removed";
        EXPECT_TRUE(fs::is_empty(scratch.run() / "outdir"));
        EXPECT_EQ(read_file(scratch.run() / "plain.txt"), "not a directory\n");
    }
}

// The second flash file of the script cannot be read, after the first one
// has been converted: the converter's message, the driver's, the prompt.
TEST(stress_faults, flash_file_that_cannot_be_read) {
    struct row {
        std::string name;
        std::function<void(const fs::path&)> make;
        std::string message;
    };
    const auto open_message = [](const std::string& name) { return "ERROR: Cannot open \"" + name + "\" file\n"; };
    std::vector<row> rows = {
        {"absent.vbf", [](const fs::path&) {}, open_message("absent.vbf")},
        {"dangling.vbf", [](const fs::path& d) { fs::create_symlink("nowhere.vbf", d / "dangling.vbf"); },
         open_message("dangling.vbf")},
        {"loop.vbf", [](const fs::path& d) { fs::create_symlink("loop.vbf", d / "loop.vbf"); },
         open_message("loop.vbf")},
        {"dir.vbf", [](const fs::path& d) { fs::create_directory(d / "dir.vbf"); }, open_message("dir.vbf")},
        {"linked_dir.vbf",
         [](const fs::path& d) {
             fs::create_directory(d / "real_dir");
             fs::create_directory_symlink("real_dir", d / "linked_dir.vbf");
         },
         open_message("linked_dir.vbf")},
        {"ok.vbf/inner.vbf", [](const fs::path&) {}, open_message("ok.vbf/inner.vbf")},
    };
    // A file that opens but whose first read fails: reading it ends at once,
    // so not even the version item is there.
    if (fs::exists("/proc/self/mem"))
        rows.push_back({"unreadable.vbf",
                        [](const fs::path& d) { fs::create_symlink("/proc/self/mem", d / "unreadable.vbf"); },
                        "ERROR: Cannot parse version entry ()\n"});

    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        scratch_dir scratch;
        write_file(scratch.run() / "t.vsc", "PROG \"ok.vbf\"\nPROGNC \"" + r.name + "\"\n");
        write_file(scratch.run() / "ok.vbf", good_vbf);
        r.make(scratch.run());
        const std::set<std::string> before = names_in(scratch.run());

        const run_result result = run_vendrak(scratch, {"t.vsc"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, r.message + "Error: Cannot process \"" + r.name + "\" file\n" + prompt);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(names_in(scratch.run()), before) << "no output and no temporary file may remain";
    }
}

// A data part that stops inside a section: in a head (missing bytes count as
// 0), in the data, or in the block checksum.
TEST(stress_faults, flash_file_ending_inside_a_section) {
    struct row {
        const char* what;
        std::string data_part;
        std::string message;
    };
    const std::string head_16 = u32be(0x00002000) + u32be(16);
    const std::vector<row> rows = {
        {"head of 5 bytes", std::string("\x00\x00\x10\x00\x00", 5),
         "ERROR: Cannot read block_checksum (section address=00001000, length=0)\n"},
        {"5 of 16 data bytes", head_16 + pattern_bytes(5, 2),
         "ERROR: Cannot read data at index 5 (section address=00002000, length=16)\n"},
        {"1 of 2 checksum bytes", head_16 + pattern_bytes(16, 3) + "\x12",
         "ERROR: Cannot read block_checksum (section address=00002000, length=16)\n"},
        {"no data after a whole section", section(0x00003000, "\xAA\xBB") + u32be(0x00004000) + u32be(256),
         "ERROR: Cannot read data at index 0 (section address=00004000, length=256)\n"},
        {"a length of 4 GiB", u32be(0x80000000) + u32be(0xFFFFFFFF) + "abc",
         "ERROR: Cannot read data at index 3 (section address=80000000, length=4294967295)\n"},
        {"cut past the first 256 KiB", u32be(0x00010000) + u32be(0x00100000) + pattern_bytes(300000, 4),
         "ERROR: Cannot read data at index 300000 (section address=00010000, length=1048576)\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        scratch_dir scratch;
        write_file(scratch.run() / "t.vsc", "PROG \"t.vbf\"\n");
        write_file(scratch.run() / "t.vbf", vbf_file(r.data_part));

        const run_result result = run_vendrak(scratch, {"t.vsc"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, r.message + "Error: Cannot process \"t.vbf\" file\n" + prompt);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(names_in(scratch.run()), (std::set<std::string>{"t.vbf", "t.vsc"}));
    }
}

// The disk fills up while the VBF area is copied into the container: the
// copy fails, the output file stays as far as it was written (with magic 0,
// no trailer), and the temporary file is gone. The file size limit lets the
// temporary file be written whole but not the container: the temporary file
// holds the area behind the container's VBF offset modulo 4096 bytes, so the
// program takes more than 4096 bytes.
TEST(stress_faults, disk_full_during_the_copy) {
    scratch_dir scratch;
    std::string script;
    for (int i = 1; i <= 300; ++i) script += "DELAY " + std::to_string(i) + "\n";
    write_file(scratch.run() / "t.vsc", script + "PROG \"big.vbf\"\n");
    write_file(scratch.run() / "big.vbf", vbf_file(section(0x00100000, pattern_bytes(3 << 20, 8))));
    ASSERT_EQ(run_vendrak(scratch, {"-o", "whole.bin", "t.vsc"}).status, 0);
    const std::string whole = read_file(scratch.run() / "whole.bin");
    const uint32_t area_offset = u32_at(whole, 43), area_size = u32_at(whole, 47);
    ASSERT_GT(area_offset, 4096u);

    const rlim_t limit = area_offset % 4096 + area_size + 32;
    const run_result r =
        vendrak_run(scratch.run(), {"-o", "cut.bin", "t.vsc"}, scratch.side("run"), nullptr, limit).finish();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Error: Cannot copy VBF files\n" + prompt);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{});
    const std::string cut = read_file(scratch.run() / "cut.bin");
    EXPECT_EQ(cut.size(), limit);
    EXPECT_EQ(u32_at(cut, 0), 0u) << "magic of an incomplete container";
    EXPECT_EQ(cut.substr(area_offset), whole.substr(area_offset, limit - area_offset));
}

// An interrupt while the VBF area is copied removes the temporary file, and
// the output file when the run created it, and ends the run with status 1.
// An output that is a FIFO nobody reads holds the run in the copy for sure;
// it existed before the run and stays. An output file the run creates is
// caught by stopping the run as soon as the file appears, while it is still
// shorter than the whole container.
TEST(stress_faults, interrupt_during_the_copy) {
    if (launched()) GTEST_SKIP() << "Linux signals and FIFOs; the console events of Windows are tested by windows_test";
    scratch_dir scratch;
    write_file(scratch.run() / "t.vsc", "PROG \"big.vbf\"\n");
    write_file(scratch.run() / "big.vbf", vbf_file(section(0x00100000, pattern_bytes(64 << 20, 9))));
    const auto still_running = [](pid_t pid) {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    };
    const auto interrupted = [](vendrak_run& run) {
        kill(run.pid(), SIGINT);
        kill(run.pid(), SIGCONT);
        const run_result r = run.finish();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
    };

    ASSERT_EQ(mkfifo((scratch.run() / "out.fifo").c_str(), 0600), 0);
    {
        vendrak_run run(scratch.run(), {"-o", "out.fifo", "t.vsc"}, scratch.side("fifo"));
        const int reader = open((scratch.run() / "out.fifo").c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int queued = 0;
        // Past the 96-byte program part, the area is on its way.
        while ((ioctl(reader, FIONREAD, &queued) != 0 || queued < 4096) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_GE(queued, 4096) << "the run never began to copy the area";
        interrupted(run);
        close(reader);
        EXPECT_TRUE(fs::exists(scratch.run() / "out.fifo"));
        EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{});
    }

    ASSERT_EQ(run_vendrak(scratch, {"-o", "whole.bin", "t.vsc"}).status, 0);
    const uintmax_t whole = fs::file_size(scratch.run() / "whole.bin");
    bool caught = false;
    for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
        const fs::path out = scratch.run() / "new.bin";
        vendrak_run run(scratch.run(), {"-o", "new.bin", "t.vsc"}, scratch.side("new"));
        std::error_code ec;
        while (!fs::exists(out, ec) && still_running(run.pid())) {
        }
        kill(run.pid(), SIGSTOP);
        caught = fs::file_size(out, ec) < whole && still_running(run.pid());
        if (!caught) {
            kill(run.pid(), SIGCONT);
            run.finish();
            fs::remove(out, ec);
            continue;
        }
        interrupted(run);
        EXPECT_FALSE(fs::exists(out)) << "the output file the run created";
        EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{});
    }
    EXPECT_TRUE(caught) << "no run was caught while writing its container";
}

// Eight runs of different scripts start at the same moment in one directory,
// sharing its flash files. Each container must be whole and equal to the one
// its script gives when compiled alone, and no temporary file may remain.
TEST(stress_concurrency, eight_runs_at_once_in_one_directory) {
    constexpr int runs = 8;
    scratch_dir shared;
    const std::string big = vbf_file(section(0x00100000, pattern_bytes(1 << 21, 5)) +
                                     section(0x00300000, pattern_bytes(4096, 6)), "BIG");
    const std::string small = vbf_file(section(0x00008000, pattern_bytes(100, 7)), "SMALL");
    write_file(shared.run() / "big.vbf", big);
    write_file(shared.run() / "small.vbf", small);

    std::vector<std::vector<std::string>> args(runs);
    for (int i = 0; i < runs; ++i) {
        std::string script = "LCD 1 1 \"RUN " + std::to_string(i) + "\"\n";
        for (int k = 0; k <= i; ++k) script += "DELAY " + std::to_string(100 * i + k + 1) + "\n";
        script += (i % 2 == 0) ? "PROG \"big.vbf\"\n" : "PROGNC \"small.vbf\"\n";
        if (i % 3 == 0) script += "PROGNR \"small.vbf\"\nPROG \"big.vbf\"\n";
        script += "WRITE MSG 0x7E0 " + std::to_string(i) + " 2 3\n";
        const std::string name = "s" + std::to_string(i) + ".vsc";
        write_file(shared.run() / name, script);
        args[i] = {"-o", "out" + std::to_string(i) + ".bin", name};
        if (i % 4 == 3) args[i].insert(args[i].begin(), "-a");
    }

    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<std::unique_ptr<vendrak_run>> started;
    for (int i = 0; i < runs; ++i)
        started.push_back(
            std::make_unique<vendrak_run>(shared.run(), args[i], shared.side("s" + std::to_string(i)), gate));
    close(gate[0]);
    close(gate[1]);  // opens the gate: every child sees the end of the pipe
    std::vector<run_result> results;
    for (auto& run : started) results.push_back(run->finish());

    EXPECT_EQ(leftover_temp_files(shared.run()), std::vector<std::string>{});
    for (int i = 0; i < runs; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        ASSERT_EQ(results[i].status, 0) << results[i].out << results[i].err;
        EXPECT_EQ(results[i].err, "");
        const std::string container = read_file(shared.run() / ("out" + std::to_string(i) + ".bin"));
        check_container(container, results[i].out);

        scratch_dir alone;
        for (const char* file : {"big.vbf", "small.vbf"}) fs::copy(shared.run() / file, alone.run() / file);
        fs::copy(shared.run() / args[i].back(), alone.run() / args[i].back());
        const run_result single = run_vendrak(alone, args[i]);
        ASSERT_EQ(single.status, 0);
        const bool encrypted = args[i].front() == "-a";
        EXPECT_TRUE(comparable(container, encrypted) ==
                    comparable(read_file(alone.run() / ("out" + std::to_string(i) + ".bin")), encrypted))
            << "the container differs from the one of the same script compiled alone";
    }
}

// A script of 1,000,000 statements: every instruction in its place.
TEST(stress_size, a_million_statements) {
    constexpr uint32_t statements = 1000000;
    scratch_dir scratch;
    std::string script;
    script.reserve(statements * 16);
    for (uint32_t i = 1; i <= statements; ++i) script += "DELAY " + std::to_string(i) + "\n";
    write_file(scratch.run() / "t.vsc", script);

    const run_result r = run_vendrak(scratch, {"t.vsc"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string container = read_file(scratch.run() / "a.out");
    // 1,000,000 DELAYs and the closing EXIT, no tables: the VBF area starts
    // right after the instruction area, and the trailer follows it.
    const uint32_t code_size = (statements + 1) * 16;
    EXPECT_EQ(r.out.substr(0, r.out.find(',')), "Script Size:" + std::to_string(code_size));
    ASSERT_EQ(container.size(), 64 + code_size + 32u);
    check_container(container, r.out);
    EXPECT_EQ(u32_at(container, 23), code_size);
    EXPECT_EQ(u32_at(container, 43), 64 + code_size);
    uint32_t misplaced = 0;
    for (uint32_t i = 0; i < statements; ++i) {
        const size_t at = 64 + size_t{i} * 16;
        if (container[at] != 9 || container[at + 1] != 0 || u32_at(container, at + 2) != i + 1) ++misplaced;
    }
    EXPECT_EQ(misplaced, 0u) << "DELAY instructions out of order or wrong";
    EXPECT_EQ(container[64 + size_t{statements} * 16], 14) << "the closing EXIT";
}

// 100,000 blocks nested in each other compile without running out of stack,
// and every jump gets its target.
TEST(stress_size, deeply_nested_blocks) {
    constexpr size_t depth = 100000;
    struct row {
        const char* what;
        std::string open;
        std::string close;
        uint8_t jump_code;       // of the second instruction of each pair
        bool jumps_to_the_end;   // IF: past everything; WHILE: back to the start
    };
    const std::vector<row> rows = {
        {"IF", "IF VAR[0] = 0\n", "ENDIF\n", 3, true},
        {"DO", "DO\n", "WHILE VAR[1] < 10\n", 2, false},
    };
    for (const row& w : rows) {
        SCOPED_TRACE(w.what);
        scratch_dir scratch;
        std::string script;
        for (size_t i = 0; i < depth; ++i) script += w.open;
        for (size_t i = 0; i < depth; ++i) script += w.close;
        write_file(scratch.run() / "t.vsc", script);

        const run_result r = run_vendrak(scratch, {"t.vsc"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const std::string container = read_file(scratch.run() / "a.out");
        const size_t code_size = (2 * depth + 1) * 16;  // CMP and a jump per block, EXIT
        ASSERT_EQ(container.size(), 64 + code_size + 32);
        check_container(container, r.out);
        size_t wrong = 0;
        for (size_t i = 0; i < depth; ++i) {
            const size_t cmp = 64 + 32 * i;
            const size_t jump = cmp + 16;
            // Every IF jumps past the last ENDIF, to the EXIT; every WHILE
            // jumps back to address 0, where all the DOs stand (a DO emits
            // no instruction).
            const uint32_t target = w.jumps_to_the_end ? static_cast<uint32_t>(2 * depth * 16) : 0;
            if (container[cmp] != 1 || container[jump] != w.jump_code || u32_at(container, jump + 2) != target)
                ++wrong;
        }
        EXPECT_EQ(wrong, 0u);
    }
}

// A DEFINE whose value ends in its own name, or in a name whose value leads
// back to it, is replaced once; the name then stands as a plain word.
TEST(stress_define, loops_end_with_the_plain_name) {
    struct row {
        std::string script;
        std::string message;
    };
    const std::vector<row> rows = {
        {"DEFINE A DO A\nA\n", "[2] Error: Unknown command: A\n"},
        // B's value is " A", then A's value is " A" (B replaced while it is
        // read); B leads to A, whose value ends in A again.
        {"DEFINE B A\nDEFINE A B\nB\n", "[3] Error: Unknown command: A\n"},
        // A name mentioned first in its own first definition is not yet
        // defined there.
        {"DEFINE A A DO\nDELAY 5\nA\n", "[3] Error: Unknown command: A\n"},
    };
    for (const row& w : rows) {
        SCOPED_TRACE(w.script);
        scratch_dir scratch;
        write_file(scratch.run() / "t.vsc", w.script);
        const run_result r = run_vendrak(scratch, {"t.vsc"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, w.message);
        EXPECT_EQ(r.out, prompt);
        EXPECT_EQ(names_in(scratch.run()), std::set<std::string>{"t.vsc"});
    }
}

}  // namespace
