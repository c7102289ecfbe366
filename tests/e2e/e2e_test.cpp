// End-to-end cases: the real `vendrak` binary on the folders under cases/.
//
// A case folder holds
//   args          command-line arguments, one per line (program name left out)
//   in/           files copied into a fresh, empty run directory
//   copy          more files for the run directory, one source-tree path a
//                 line (the bundled examples are checked this way)
//   status        expected exit status (0 when missing)
//   stdout        expected standard output (empty when missing); the CRC of
//                 the summary line is written as CRC:0x????????
//   stderr        expected standard error (empty when missing)
//   NAME.hex      expected output file NAME as a hex dump, header bytes 5 to 18
//                 (time and host address) and the trailer's CRC text masked;
//                 a container encrypted with -a is dumped decrypted
//   output_name   the output file of the run when it is not a.out
//   keeps_output  present when a failing run leaves a partly written output
//   absent        files that must not exist after the run, one per line
//
// Every run gets standard input from /dev/null. The programs run through the
// launcher of launcher.h when one is set (the Windows build under Wine).
// After every run no temporary
// "vendrak.*" file may remain. A failing run is made twice: in an empty
// directory, where it must not create the output file, and beside an existing
// output file, which it must leave byte for byte unchanged. Every container is
// checked for its length, its trailer and its CRC, independently of the
// compiler's own code.
//
// VENDRAK_E2E_UPDATE=1 writes what the runs produce into the case folders
// instead of comparing (review the diff before committing it).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
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

std::vector<std::string> read_args(const fs::path& path) {
    std::vector<std::string> args;
    if (!fs::exists(path)) return args;
    std::string text = read_file(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

run_result run_vendrak(const fs::path& dir, const std::vector<std::string>& args) {
    fs::path out_path = dir.parent_path() / (dir.filename().string() + ".stdout");
    fs::path err_path = dir.parent_path() / (dir.filename().string() + ".stderr");
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        exec_command(command_for(program_or("VENDRAK_PROGRAM", VENDRAK_BINARY), args));
    }
    run_result r;
    int wstatus = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (;;) {
        pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            ADD_FAILURE() << "vendrak did not finish within 120 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = console_text(read_file(out_path));
    r.err = console_text(read_file(err_path));
    fs::remove(out_path);
    fs::remove(err_path);
    return r;
}

std::string hex_dump(const std::string& bytes, const std::vector<bool>& masked) {
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
            auto b = static_cast<uint8_t>(bytes[i]);
            if (masked[i]) {
                text += " ??";
                ascii += '?';
            } else {
                std::snprintf(buf, sizeof buf, " %02x", b);
                text += buf;
                ascii += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
            }
        }
        text += "  |" + ascii + "|\n";
    }
    return text;
}

// Whether the command line asks for encryption (-a, --aes or a prefix of it).
bool encrypted_run(const std::vector<std::string>& args) {
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "--") break;
        if (a.rfind("--", 0) == 0) {
            if (a.size() > 2 && std::string("--aes").rfind(a, 0) == 0) return true;
            if (a.size() > 2 && std::string("--outfile").rfind(a, 0) == 0) ++k;  // its argument follows
            continue;
        }
        if (a.size() > 1 && a[0] == '-') {
            for (size_t i = 1; i < a.size(); ++i) {
                if (a[i] == 'a') return true;
                if (a[i] == 'o') {
                    if (i + 1 == a.size()) ++k;  // the output name is the next argument
                    break;                       // or the rest of this one
                }
            }
        }
    }
    return false;
}

// Checks a container's frame and CRC and returns its reviewable dump.
std::string check_container(std::string bytes, bool encrypted, const std::string& out) {
    EXPECT_EQ(bytes.size() % 16, 0u) << "container length " << bytes.size();
    EXPECT_GE(bytes.size(), 96u);
    if (bytes.size() < 96 || bytes.size() % 16 != 0) return hex_dump(bytes, std::vector<bool>(bytes.size()));

    size_t trailer = bytes.size() - 32;
    uint32_t crc = bitwise_crc(0, bytes.data(), trailer);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", crc);
    EXPECT_EQ(bytes.substr(trailer, 4), "CRC:");
    EXPECT_EQ(bytes.substr(trailer + 4, 10), text) << "trailer CRC text";
    EXPECT_EQ(bytes.substr(trailer + 14, 2), std::string(" \0", 2));
    EXPECT_NE(out.find(std::string("CRC:") + text + "\n"), std::string::npos) << "summary line CRC";

    if (encrypted) {
        EXPECT_NE(u32_at(bytes, 0), 0x0600A55Au) << "an encrypted container shows its magic";
        bytes = decrypted(std::move(bytes));
        EXPECT_LE(u32_at(bytes, 43), trailer);
    }
    std::vector<bool> masked(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) masked[i] = varies_between_runs(i, bytes.size());
    return hex_dump(bytes, masked);
}

std::string mask_summary(const std::string& out) {
    static const std::regex summary_crc("(Script Size:[0-9]+, File Size:[0-9]+, CRC:0x)[0-9A-F]{8}");
    return std::regex_replace(out, summary_crc, "$1????????");
}

std::vector<std::string> leftover_temp_files(const fs::path& dir) {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("vendrak.", 0) == 0) left.push_back(name);
    }
    return left;
}

fs::path cases_root() { return fs::path(E2E_CASES); }

std::vector<std::string> all_cases() {
    std::vector<std::string> cases;
    if (!fs::exists(cases_root())) return cases;
    for (const auto& entry : fs::recursive_directory_iterator(cases_root()))
        if (entry.is_directory() && fs::exists(entry.path() / "args"))
            cases.push_back(fs::relative(entry.path(), cases_root()).string());
    std::sort(cases.begin(), cases.end());
    return cases;
}

// Fills a run directory with the case's inputs.
void prepare(const fs::path& case_dir, const fs::path& run_dir) {
    if (fs::exists(case_dir / "in")) fs::copy(case_dir / "in", run_dir, fs::copy_options::recursive);
    for (const std::string& path : read_args(case_dir / "copy")) {
        fs::path source = fs::path(SOURCE_ROOT) / path;
        ASSERT_TRUE(fs::exists(source)) << source;
        fs::copy(source, run_dir / source.filename());
    }
}

class e2e : public ::testing::TestWithParam<std::string> {};

TEST_P(e2e, matches_expectations) {
    const fs::path dir = cases_root() / GetParam();
    const std::vector<std::string> args = read_args(dir / "args");
    const bool update = std::getenv("VENDRAK_E2E_UPDATE") != nullptr;
    const std::string output_name =
        fs::exists(dir / "output_name") ? read_args(dir / "output_name").at(0) : std::string("a.out");
    const bool output_is_local = !output_name.empty() && output_name[0] != '/';

    scratch_dir scratch;
    prepare(dir, scratch.run());
    run_result r = run_vendrak(scratch.run(), args);
    const std::string out = mask_summary(r.out);
    EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{}) << "temporary VBF file left behind";

    std::vector<fs::path> expected_outputs;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".hex") expected_outputs.push_back(entry.path());

    if (update) {
        write_file(dir / "status", std::to_string(r.status) + "\n");
        if (!out.empty() || fs::exists(dir / "stdout")) write_file(dir / "stdout", out);
        if (!r.err.empty() || fs::exists(dir / "stderr")) write_file(dir / "stderr", r.err);
        if (r.status == 0 && output_is_local && fs::exists(scratch.run() / output_name)) {
            std::string dump =
                check_container(read_file(scratch.run() / output_name), encrypted_run(args), r.out);
            write_file(dir / (fs::path(output_name).filename().string() + ".hex"), dump);
        }
        return;
    }

    for (const std::string& name : read_args(dir / "absent"))
        EXPECT_FALSE(fs::exists(scratch.run() / name)) << name << " must not exist after the run";

    int expected_status = fs::exists(dir / "status") ? std::stoi(read_file(dir / "status")) : 0;
    EXPECT_EQ(r.status, expected_status);
    EXPECT_EQ(out, fs::exists(dir / "stdout") ? read_file(dir / "stdout") : "") << "standard output";
    EXPECT_EQ(r.err, fs::exists(dir / "stderr") ? read_file(dir / "stderr") : "") << "standard error";

    for (const fs::path& expected : expected_outputs) {
        fs::path produced = scratch.run() / expected.stem();
        ASSERT_TRUE(fs::exists(produced)) << expected.stem() << " was not written";
        EXPECT_EQ(check_container(read_file(produced), encrypted_run(args), r.out), read_file(expected))
            << "container " << expected.stem();
    }

    if (expected_status != 0 && !fs::exists(dir / "keeps_output") && output_is_local) {
        EXPECT_FALSE(fs::exists(scratch.run() / output_name)) << "a failing run created its output file";

        // Once more, beside an output file that must survive unchanged.
        scratch_dir again;
        prepare(dir, again.run());
        fs::path existing = again.run() / output_name;
        if (fs::exists(existing.parent_path())) {
            const std::string sentinel = "an earlier container\n";
            write_file(existing, sentinel);
            run_result second = run_vendrak(again.run(), args);
            EXPECT_EQ(second.status, expected_status);
            EXPECT_EQ(read_file(existing), sentinel) << "a failing run changed an existing output file";
            EXPECT_EQ(leftover_temp_files(again.run()), std::vector<std::string>{});
        }
    }
}

// The cipher checked by a second, independent implementation: openssl
// decrypts the program part of an encrypted container back into the plain one.
TEST(e2e_encryption, openssl_decrypts_the_program_part) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
    scratch_dir plain, encrypted;
    const std::string script = "LCD 2 3 \"KEY\"\nWRITE MSG 0x7E0 1 2 3\nDELAY 100\n";
    write_file(plain.run() / "t.vsc", script);
    write_file(encrypted.run() / "t.vsc", script);
    ASSERT_EQ(run_vendrak(plain.run(), {"t.vsc"}).status, 0);
    ASSERT_EQ(run_vendrak(encrypted.run(), {"--aes", "t.vsc"}).status, 0);

    std::string clear = read_file(plain.run() / "a.out");
    std::string cipher = read_file(encrypted.run() / "a.out");
    ASSERT_EQ(clear.size(), cipher.size());
    size_t vbf_offset = u32_at(clear, 43);
    write_file(encrypted.run() / "part.enc", cipher.substr(0, vbf_offset));
    std::string command = "cd '" + encrypted.run().string() +
                          "' && openssl enc -d -aes-128-ecb -nopad -K 3B915EC207D468AF1C73E04DB62985FA "
                          "-in part.enc -out part.dec";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string decrypted = read_file(encrypted.run() / "part.dec");
    ASSERT_EQ(decrypted.size(), vbf_offset);
    for (size_t i = 5; i < 19; ++i) decrypted[i] = clear[i];  // time and host address
    EXPECT_EQ(decrypted, clear.substr(0, vbf_offset));
    EXPECT_NE(cipher.substr(0, 4), clear.substr(0, 4));
    // Everything from the VBF area on stays plain; only the CRC text differs.
    EXPECT_EQ(cipher.substr(vbf_offset, cipher.size() - vbf_offset - 28), clear.substr(vbf_offset, clear.size() - vbf_offset - 28));
}

// A signal while a flash file is being read removes the temporary file and
// ends the run with status 1 before any output exists. The flash file is a
// FIFO that nobody writes, so the run is sure to be waiting in it.
TEST(e2e_signals, interrupted_run_leaves_no_file_behind) {
    if (launched()) GTEST_SKIP() << "Linux signals; the console events of Windows are tested by windows_test";
    for (int signal_number : {SIGTERM, SIGINT}) {
        scratch_dir scratch;
        write_file(scratch.run() / "t.vsc", "PROG \"slow.vbf\"\n");
        ASSERT_EQ(mkfifo((scratch.run() / "slow.vbf").c_str(), 0600), 0);

        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(scratch.run().c_str()) != 0) _exit(126);
            int in = open("/dev/null", O_RDONLY);
            dup2(in, 0);
            exec_command(command_for(VENDRAK_BINARY, {"t.vsc"}));
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (leftover_temp_files(scratch.run()).empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(leftover_temp_files(scratch.run()).size(), 1u) << "the run never created its temporary file";
        kill(pid, signal_number);
        int wstatus = 0;
        waitpid(pid, &wstatus, 0);
        ASSERT_TRUE(WIFEXITED(wstatus)) << "killed by signal " << WTERMSIG(wstatus);
        EXPECT_EQ(WEXITSTATUS(wstatus), 1);
        EXPECT_EQ(leftover_temp_files(scratch.run()), std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(scratch.run() / "a.out"));
    }
}

std::string case_name(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(cases, e2e, ::testing::ValuesIn(all_cases()), case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(e2e);

}  // namespace
