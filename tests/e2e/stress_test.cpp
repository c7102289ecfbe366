// Faults through the real `vendrak` binary: a full disk and an interrupt
// while the container is written. Flash files that cannot be read and output
// paths that cannot be opened are e2e cases (cases/vbf, cases/cli).
#include <sys/ioctl.h>
#include <sys/stat.h>

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
    const run_result r = program_run(scratch.run(), compiler({"-o", "cut.bin", "t.vsc"}), "run", limit).finish();
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

}  // namespace
