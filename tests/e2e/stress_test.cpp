// Faults through the real `vendrak` binary: a full disk and an interrupt
// while the container is written. Flash files that cannot be read and output
// paths that cannot be opened are e2e cases (cases/vbf, cases/cli).
#include <sys/ioctl.h>
#include <sys/stat.h>

#include "runs.h"

namespace {

using namespace vendrak_test;

// A device that takes no byte at all: the header is the first part that
// fails, whatever the size of the image behind it and whether the run
// encrypts, so the message is the output file's, never the copy's.
TEST(stress_faults, full_device_fails_at_the_header) {
    scratch_dir scratch;
    write_file(scratch.run() / "t.vsc", "PROG \"f.vbf\"\n");
    for (const size_t image : {size_t{0x100}, size_t{990} << 10}) {
        write_file(scratch.run() / "f.vbf", vbf_file("", section(0x00100000, pattern_bytes(image, 5))));
        for (const bool encrypted : {false, true}) {
            SCOPED_TRACE(std::to_string(image) + (encrypted ? " bytes, encrypted" : " bytes"));
            std::vector<std::string> args = {"-o", "/dev/full", "t.vsc"};
            if (encrypted) args.insert(args.begin(), "-a");
            const run_result r = run(scratch.run(), compiler(args));
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "Error: Cannot write \"/dev/full\" output file\n" + prompt);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{});
        }
    }
}

// The disk fills up in the middle of the VBF area: the copy fails, the
// output file stays as far as it was written (with magic 0, no trailer), and
// the temporary file is gone. The file size limit lets the temporary file be
// written whole but not the container: the temporary file holds the area
// behind the container's VBF offset modulo 4096 bytes, so the program takes
// more than 4096 bytes. A limit inside the program part fails its write.
TEST(stress_faults, disk_full_during_the_copy) {
    scratch_dir scratch;
    std::string script;
    for (int i = 1; i <= 300; ++i) script += "DELAY " + std::to_string(i) + "\n";
    write_file(scratch.run() / "t.vsc", script + "PROG \"big.vbf\"\n");
    write_file(scratch.run() / "big.vbf", vbf_file("", section(0x00100000, pattern_bytes(3 << 20, 8))));
    // The layout, from the plain header; an encrypted container has the same.
    ASSERT_EQ(run(scratch.run(), compiler({"-o", "whole.bin", "t.vsc"})).status, 0);
    const std::string plain = read_file(scratch.run() / "whole.bin");
    const uint32_t area_offset = u32_at(plain, 43), area_size = u32_at(plain, 47);
    ASSERT_GT(area_offset, 4096u);
    for (const bool encrypted : {false, true}) {
        SCOPED_TRACE(encrypted ? "encrypted" : "plain");
        const auto args = [&](const char* output) {
            std::vector<std::string> words = {"-o", output, "t.vsc"};
            if (encrypted) words.insert(words.begin(), "-a");
            return words;
        };
        ASSERT_EQ(run(scratch.run(), compiler(args("whole.bin"))).status, 0);
        const std::string whole = read_file(scratch.run() / "whole.bin");

        const rlim_t limit = area_offset % 4096 + area_size + 32;
        run_result r = program_run(scratch.run(), compiler(args("cut.bin")), "run", limit).finish();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Error: Cannot copy VBF files\n" + prompt);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{});
        const std::string cut = read_file(scratch.run() / "cut.bin");
        EXPECT_EQ(cut.size(), limit);
        EXPECT_EQ(u32_at(cut, 0), 0u) << "magic of an incomplete container";
        EXPECT_EQ(cut.substr(area_offset), whole.substr(area_offset, limit - area_offset));

    }
}

// The disk fills up inside the program part (16 KiB of instructions; the
// temporary file, a small image behind less than 4096 bytes, fits): the
// output file's write fails, not the copy.
TEST(stress_faults, disk_full_in_the_program_part) {
    scratch_dir scratch;
    write_file(scratch.run() / "t.vsc", times("DELAY 1\n", 1000) + "PROG \"small.vbf\"\n");
    write_file(scratch.run() / "small.vbf", vbf_file("", section(0x00100000, pattern_bytes(256, 3))));
    for (const bool encrypted : {false, true}) {
        SCOPED_TRACE(encrypted ? "encrypted" : "plain");
        std::vector<std::string> args = {"-o", "short.bin", "t.vsc"};
        if (encrypted) args.insert(args.begin(), "-a");
        const run_result r = program_run(scratch.run(), compiler(args), "run", 8192).finish();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Error: Cannot write \"short.bin\" output file\n" + prompt);
        EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{});
    }
}

// A standard output whose reader has gone (`vendrak ... | head -1`): the
// first message the run writes there ends it as an interrupt would, with
// status 1 and no temporary file left behind.
TEST(stress_faults, reader_of_the_output_gone) {
    if (launched()) GTEST_SKIP() << "Linux pipes and signals; Windows ends a run through its console events";
    scratch_dir scratch;
    write_file(scratch.run() / "t.vsc", "PROG \"missing.vbf\"\n");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        if (chdir(scratch.run().c_str()) != 0 || in < 0) _exit(126);
        signal(SIGPIPE, SIG_DFL);
        dup2(in, 0);
        dup2(ends[1], 1);
        exec_command(compiler({"t.vsc"}));
    }
    close(ends[1]);
    int wstatus = 0;
    ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(wstatus)) << "ended by signal " << WTERMSIG(wstatus);
    EXPECT_EQ(WEXITSTATUS(wstatus), 1);
    EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{});
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
    const auto interrupted = [](program_run& run, int signal = SIGINT) {
        kill(run.pid(), signal);
        kill(run.pid(), SIGCONT);
        const run_result r = run.finish();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
    };

    ASSERT_EQ(mkfifo((scratch.run() / "out.fifo").c_str(), 0600), 0);
    // Every signal that ends a run: Ctrl+C, a request to end, a hang-up, a
    // broken pipe.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        program_run run(scratch.run(), compiler({"-o", "out.fifo", "t.vsc"}), "fifo");
        const int reader = open((scratch.run() / "out.fifo").c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int queued = 0;
        // Past the 96-byte program part, the area is on its way.
        while ((ioctl(reader, FIONREAD, &queued) != 0 || queued < 4096) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_GE(queued, 4096) << "the run never began to copy the area";
        interrupted(run, signal);
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
