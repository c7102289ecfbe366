// Faults and load through the real `vendrak` binary: output paths that cannot
// be opened, a full disk and an interrupt while the container is written,
// eight runs at once in one directory, and very deeply nested scripts.
// Flash files that cannot be read are e2e cases (cases/vbf).
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <memory>

#include "runs.h"

namespace {

using namespace vendrak_test;

const std::string good_vbf = vbf_file("  sw_part_number = \"31808832-AA\";", section(0x00010000, pattern_bytes(64, 1)));

// An output name that cannot be opened fails in the last step, after the
// flash file has been converted into the temporary file: the message, the
// prompt, status 1, nothing created and the temporary file gone.
TEST(stress_faults, output_path_that_cannot_be_opened) {
    // A missing directory, a path through a regular file, an existing directory.
    for (const std::string name : {"missing/deeper/x.bin", "plain.txt/x.bin", "outdir", "outdir/"}) {
        SCOPED_TRACE(name);
        scratch_dir scratch;
        write_file(scratch.run() / "t.vsc", "LCD 1 1 \"FLASH\"\nPROG \"ok.vbf\"\n");
        write_file(scratch.run() / "ok.vbf", good_vbf);
        write_file(scratch.run() / "plain.txt", "not a directory\n");
        fs::create_directory(scratch.run() / "outdir");
        const std::set<std::string> before = names_in(scratch.run());

        const run_result r = run(scratch.run(), compiler({"-o", name, "t.vsc"}));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Error: Cannot open \"" + name + "\" output file\n" + prompt);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(names_in(scratch.run()), before) << "a file was left or removed";
        EXPECT_TRUE(fs::is_empty(scratch.run() / "outdir"));
        EXPECT_EQ(read_file(scratch.run() / "plain.txt"), "not a directory\n");
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
    write_file(scratch.run() / "big.vbf", vbf_file("", section(0x00100000, pattern_bytes(3 << 20, 8))));
    ASSERT_EQ(run(scratch.run(), compiler({"-o", "whole.bin", "t.vsc"})).status, 0);
    const std::string whole = read_file(scratch.run() / "whole.bin");
    const uint32_t area_offset = u32_at(whole, 43), area_size = u32_at(whole, 47);
    ASSERT_GT(area_offset, 4096u);

    const rlim_t limit = area_offset % 4096 + area_size + 32;
    const run_result r = program_run(scratch.run(), compiler({"-o", "cut.bin", "t.vsc"}), "run", {nullptr, limit}).finish();
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
    write_file(scratch.run() / "big.vbf", vbf_file("", section(0x00100000, pattern_bytes(64 << 20, 9))));
    const auto still_running = [](pid_t pid) {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    };
    const auto interrupted = [](program_run& run) {
        kill(run.pid(), SIGINT);
        kill(run.pid(), SIGCONT);
        const run_result r = run.finish();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
    };

    ASSERT_EQ(mkfifo((scratch.run() / "out.fifo").c_str(), 0600), 0);
    {
        program_run run(scratch.run(), compiler({"-o", "out.fifo", "t.vsc"}), "fifo");
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

    ASSERT_EQ(run(scratch.run(), compiler({"-o", "whole.bin", "t.vsc"})).status, 0);
    const uintmax_t whole = fs::file_size(scratch.run() / "whole.bin");
    bool caught = false;
    for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
        const fs::path out = scratch.run() / "new.bin";
        program_run run(scratch.run(), compiler({"-o", "new.bin", "t.vsc"}), "new");
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
    write_file(shared.run() / "big.vbf", vbf_file("sw_part_number = \"BIG\";", section(0x00100000, pattern_bytes(1 << 21, 5)) +
                                                                             section(0x00300000, pattern_bytes(4096, 6))));
    write_file(shared.run() / "small.vbf", vbf_file("sw_part_number = \"SMALL\";", section(0x8000, pattern_bytes(100, 7))));

    std::vector<std::vector<std::string>> args(runs);
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<std::unique_ptr<program_run>> started;
    for (int i = 0; i < runs; ++i) {
        std::string script = "LCD 1 1 \"RUN " + std::to_string(i) + "\"\n";
        for (int k = 0; k <= i; ++k) script += "DELAY " + std::to_string(100 * i + k + 1) + "\n";
        script += (i % 2 == 0) ? "PROG \"big.vbf\"\n" : "PROGNC \"small.vbf\"\n";
        if (i % 3 == 0) script += "PROGNR \"small.vbf\"\nPROG \"big.vbf\"\n";
        script += "WRITE MSG 0x7E0 " + std::to_string(i) + " 2 3\n";
        const std::string name = "s" + std::to_string(i);
        write_file(shared.run() / (name + ".vsc"), script);
        args[i] = {"-o", name + ".bin", name + ".vsc"};
        if (i % 4 == 3) args[i].insert(args[i].begin(), "-a");
        started.push_back(std::make_unique<program_run>(shared.run(), compiler(args[i]), name, run_setup{gate}));
    }
    close(gate[0]);
    close(gate[1]);  // opens the gate: every child sees the end of the pipe
    std::vector<run_result> results;
    for (auto& run : started) results.push_back(run->finish());

    EXPECT_EQ(leftover_temp_files(shared.run()), std::vector<std::string>{});
    for (int i = 0; i < runs; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        ASSERT_EQ(results[i].status, 0) << results[i].out << results[i].err;
        EXPECT_EQ(results[i].err, "");
        const std::string output = args[i][args[i].size() - 2];
        const std::string container = read_file(shared.run() / output);
        check_container(container, results[i].out);

        scratch_dir alone;
        for (const std::string& file : std::vector<std::string>{"big.vbf", "small.vbf", args[i].back()})
            fs::copy(shared.run() / file, alone.run() / file);
        ASSERT_EQ(run(alone.run(), compiler(args[i])).status, 0);
        const bool encrypted = args[i].front() == "-a";
        EXPECT_TRUE(comparable(container, encrypted) == comparable(read_file(alone.run() / output), encrypted))
            << "the container differs from the one of the same script compiled alone";
    }
}

// 100,000 blocks nested in each other, 200,001 instructions: they compile
// without running out of stack, and every jump gets its target: every IF
// jumps past the last ENDIF, to the EXIT; every WHILE back to address 0,
// where all the DOs stand (a DO emits no instruction).
TEST(stress_size, deeply_nested_blocks) {
    constexpr size_t depth = 100000;
    const struct {
        std::string open, close;
        uint8_t jump_code;  // of the second instruction of each pair
        uint32_t target;
    } rows[] = {
        {"IF VAR[0] = 0\n", "ENDIF\n", 3, static_cast<uint32_t>(2 * depth * 16)},
        {"DO\n", "WHILE VAR[1] < 10\n", 2, 0},
    };
    for (const auto& w : rows) {
        SCOPED_TRACE(w.open);
        scratch_dir scratch;
        std::string script;
        for (size_t i = 0; i < depth; ++i) script += w.open;
        for (size_t i = 0; i < depth; ++i) script += w.close;
        write_file(scratch.run() / "t.vsc", script);

        const run_result r = run(scratch.run(), compiler({"t.vsc"}));
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const std::string container = read_file(scratch.run() / "a.out");
        const size_t code_size = (2 * depth + 1) * 16;  // CMP and a jump per block, EXIT
        EXPECT_EQ(r.out.substr(0, r.out.find(',')), "Script Size:" + std::to_string(code_size));
        ASSERT_EQ(container.size(), 64 + code_size + 32);
        check_container(container, r.out);
        EXPECT_EQ(u32_at(container, 43), 64 + code_size) << "the VBF area follows the instructions";
        size_t wrong = 0;
        for (size_t at = 64; at < 64 + 32 * depth; at += 32)
            wrong += container[at] != 1 || container[at + 16] != w.jump_code || u32_at(container, at + 18) != w.target;
        EXPECT_EQ(wrong, 0u);
    }
}

}  // namespace
