// Faults and load through the real `vendrak` binary: a full disk and an
// interrupt while the container is written, and eight runs at once in one
// directory. Flash files that cannot be read and output paths that cannot be
// opened are e2e cases (cases/vbf, cases/cli).
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <memory>

#include "runs.h"

namespace {

using namespace vendrak_test;

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
    scratch_dir shared, alone;
    write_file(shared.run() / "big.vbf", vbf_file("", section(0x00100000, pattern_bytes(1 << 21, 5))));
    write_file(shared.run() / "small.vbf", vbf_file("", section(0x8000, pattern_bytes(100, 7))));
    for (const char* vbf : {"big.vbf", "small.vbf"}) fs::copy(shared.run() / vbf, alone.run() / vbf);
    const auto args_of = [](int i) {
        const std::string name = "s" + std::to_string(i);
        return std::vector<std::string>{i % 4 == 3 ? "-a" : "-v", "-o", name + ".bin", name + ".vsc"};
    };
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<std::unique_ptr<program_run>> started;
    for (int i = 0; i < 8; ++i) {
        write_file(shared.run() / args_of(i)[3], "DELAY " + std::to_string(i + 1) +
                                                     (i % 2 ? "\nPROGNC \"small.vbf\"\n" : "\nPROG \"big.vbf\"\nPROGNR \"small.vbf\"\n"));
        started.push_back(std::make_unique<program_run>(shared.run(), compiler(args_of(i)), args_of(i)[2], run_setup{gate}));
    }
    close(gate[0]);
    close(gate[1]);  // opens the gate: every child sees the end of the pipe
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        const run_result r = started[static_cast<size_t>(i)]->finish();
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const std::vector<std::string> args = args_of(i);
        const std::string container = read_file(shared.run() / args[2]);
        check_container(container, r.out);
        fs::copy(shared.run() / args[3], alone.run() / args[3]);
        ASSERT_EQ(run(alone.run(), compiler(args)).status, 0);
        EXPECT_TRUE(comparable(container, i % 4 == 3) == comparable(read_file(alone.run() / args[2]), i % 4 == 3))
            << "the container differs from the one of the same script compiled alone";
    }
    EXPECT_EQ(leftover_temp_files(shared.run()), std::vector<std::string>{});
}

}  // namespace
