// The last steps of a run where they meet the system: the container writer
// on files, tmpfs and pipes, and the host address as the kernel lists the
// interfaces. POSIX only; on Windows the e2e cases run under Wine.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "common/fatal.h"
#include "common/file.h"
#include "container/container.h"
#include "driver/writer.h"
#include "files.h"
#include "platform/platform.h"

namespace vendrak {
namespace {

using namespace vendrak_test;

// The writer copies the VBF area from where it begins in the temporary file
// and composes the CRC from the program part's register and the area's,
// never reading the area back: the trailer must still hold the CRC of the
// file's bytes. An output on tmpfs makes the kernel refuse the in-kernel copy
// across file systems, so the copy goes through the buffer; into a pipe it
// goes through the streams, and the run fails when it comes back to write
// the header. A temporary file that cannot be read, or that is shorter than
// the area, fails the copy and leaves the output with magic 0.
TEST(container_writer, copies_the_area_and_composes_the_crc) {
    enum class kind { file, tmpfs, append_only, pipe };
    const std::string copy_failed = "Error: Cannot copy VBF files\n", header_failed = "Error: Cannot write \"x.bin\" output file\n";
    struct row {
        const char* what;
        size_t area_size;
        size_t area_offset;  // where the area begins in the temporary file
        bool encrypt;
        kind out, temp;
        size_t temp_size;  // bytes the temporary file holds
        std::string failure;
    };
    const row rows[] = {
        {"no area", 0, 0, false, kind::file, kind::file, 0, ""},
        {"one byte, encrypted", 1, 128, true, kind::file, kind::file, 129, ""},
        {"one block", 16, 0, false, kind::file, kind::file, 16, ""},
        {"past the copy buffer", 300001, 128, true, kind::file, kind::file, 300129, ""},
        {"across file systems", 300001, 128, false, kind::tmpfs, kind::file, 300129, ""},
        {"into a pipe", 5000, 128, false, kind::pipe, kind::file, 5128, header_failed},
        {"temporary file not readable", 5000, 0, false, kind::file, kind::append_only, 5000, copy_failed},
        {"temporary file too short", 5000, 128, false, kind::file, kind::file, 5127, copy_failed},
        {"temporary file too short, into a pipe", 5000, 128, false, kind::pipe, kind::file, 5127, copy_failed},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        if (r.out == kind::tmpfs && !fs::is_directory("/dev/shm")) continue;
        scratch_dir scratch;
        const fs::path out_path = r.out == kind::tmpfs ? fs::path("/dev/shm") / scratch.path().filename() : scratch.side("out");
        const std::string area_bytes = pattern_bytes(r.area_size, 4);
        const std::string temp_bytes = (std::string(r.area_offset, 'x') + area_bytes).substr(0, r.temp_size);
        write_file(scratch.side("temp"), temp_bytes);

        program prog;
        prog.instructions.resize(3);
        prog.instructions[1].opcode[0] = 0x0C;
        prog.string_table = {'H', 'I', 0};
        container_header header;
        header.created = 1700000000;
        header.host_mac = {1, 2, 3, 4, 5, 6};
        const vbf_area area{static_cast<uint32_t>(r.area_size),
                            bitwise_crc(0, area_bytes.data(), area_bytes.size()), r.area_offset};

        file_ptr temp(std::fopen(scratch.side("temp").string().c_str(), r.temp == kind::append_only ? "ab" : "rb+"));
        if (r.out == kind::pipe) {
            ASSERT_EQ(mkfifo(out_path.c_str(), 0600), 0);
        }
        const int reader = r.out == kind::pipe ? open(out_path.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        file_ptr out(std::fopen(out_path.string().c_str(), r.out == kind::pipe ? "wb" : "wb+"));
        ASSERT_TRUE(temp && out);
        container_summary summary;
        const std::string failure = error_of(
            [&] { summary = write_container(prog, area, temp.get(), r.encrypt, out.get(), "x.bin", header); },
            out_stream::out);
        out.reset();
        std::string bytes;
        if (reader < 0) bytes = read_file(out_path);
        for (char buffer[4096]; reader >= 0;) {
            const ssize_t n = read(reader, buffer, sizeof buffer);
            if (n <= 0) break;
            bytes.append(buffer, static_cast<size_t>(n));
        }
        if (reader >= 0) close(reader);
        fs::remove(out_path);
        EXPECT_EQ(failure, r.failure);
        if (!r.failure.empty()) {
            EXPECT_EQ(bytes.substr(0, 4), std::string(4, '\0')) << "the magic before the header is rewritten";
        }
        if (!r.failure.empty() && r.failure != header_failed) continue;
        EXPECT_EQ(bytes.substr(128, r.area_size), area_bytes) << "the VBF area";
        if (!r.failure.empty()) continue;
        const size_t trailer = bytes.size() - 32;
        EXPECT_EQ(bytes.size(), summary.file_size);
        EXPECT_EQ(summary.crc, bitwise_crc(0, bytes.data(), trailer));
        const auto text = crc_text(summary.crc);
        EXPECT_EQ(bytes.substr(trailer + 4, 10), std::string(text.begin(), text.end()));
        const std::string plain = r.encrypt ? decrypted(bytes) : bytes;
        EXPECT_EQ(u32_at(plain, 0), container_magic);
        EXPECT_EQ(u32_at(plain, 47), r.area_size);
        EXPECT_EQ(plain.substr(112, 3), std::string("HI\0", 3));
    }
}

// The host address as the kernel lists the interfaces in /sys/class/net:
// the lowest index that is no loopback and has six bytes, not all zero.
TEST(host_mac, reads_the_interfaces_of_this_host) {
    if (!fs::is_directory("/sys/class/net")) GTEST_SKIP() << "no /sys/class/net here";
    std::array<uint8_t, 6> expected{};
    long lowest = LONG_MAX;
    for (const auto& interface : fs::directory_iterator("/sys/class/net")) {
        const auto number = [&](const char* name) { return std::stol(read_file(interface.path() / name), nullptr, 0); };
        std::string address = read_file(interface.path() / "address");
        std::replace(address.begin(), address.end(), ':', ' ');
        const std::vector<uint8_t> bytes = hex(address);
        if ((number("flags") & 0x8) != 0 || bytes.size() != 6 || number("ifindex") >= lowest ||
            std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }))
            continue;
        lowest = number("ifindex");
        std::copy(bytes.begin(), bytes.end(), expected.begin());
    }
    EXPECT_EQ(platform::host_mac_address(), expected);
}

}  // namespace
}  // namespace vendrak
