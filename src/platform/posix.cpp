// The platform layer on Linux and the other POSIX systems.
#include <fcntl.h>
#include <getopt.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"

#if defined(__linux__)
#include <linux/if_packet.h>
#elif defined(__APPLE__)
#include <net/if_dl.h>
#endif

namespace vendrak::platform {

int next_option(option_reader& reader, int argc, char** argv, const char* shorts, const option* longs) {
#if defined(__GLIBC__)
    const int c = getopt_long(argc, argv, shorts, longs, nullptr);
    reader.index = optind;
    reader.argument = optarg;
    return c;
#else
    return reader.next(argc, argv, shorts, longs, stderr);
#endif
}

std::array<uint8_t, 6> host_mac_address() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::vector<network_adapter> adapters;
    for (ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_addr == nullptr) continue;
        const bool loopback = (ifa->ifa_flags & IFF_LOOPBACK) != 0;
#if defined(__linux__)
        if (ifa->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(ifa->ifa_addr);
        adapters.push_back({static_cast<unsigned>(ll->sll_ifindex), loopback, {ll->sll_addr, ll->sll_halen}});
#elif defined(__APPLE__)
        if (ifa->ifa_addr->sa_family != AF_LINK) continue;
        const auto* dl = reinterpret_cast<const sockaddr_dl*>(ifa->ifa_addr);
        adapters.push_back({dl->sdl_index, loopback, {reinterpret_cast<const uint8_t*>(LLADDR(dl)), dl->sdl_alen}});
#else
        (void)loopback;
#endif
    }
    const std::array<uint8_t, 6> best = first_adapter_address(adapters);
    freeifaddrs(list);
    return best;
}

std::FILE* open_input(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    struct stat st;
    // A directory opens as a stream here; it is no input file either.
    if (f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

std::FILE* open_output(const char* path, bool& created) {
    struct stat st;
    created = stat(path, &st) != 0;
    return std::fopen(path, "wb+");
}

std::FILE* create_temp_file(std::string& name) {
    const std::string template_name = name;
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        name = template_name;
        return nullptr;
    }
    std::FILE* f = fdopen(fd, "wb+");
    if (!f) {
        close(fd);
        std::remove(name.c_str());
    }
    return f;
}

std::FILE* temp_stream() { return std::tmpfile(); }

void binary_standard_streams() {}

int64_t tell(std::FILE* stream) { return ftello(stream); }

bool seek(std::FILE* stream, uint64_t position) {
    return position <= static_cast<uint64_t>(INT64_MAX) && fseeko(stream, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool truncate(std::FILE* stream, uint64_t length) {
    return std::fflush(stream) == 0 && ftruncate(fileno(stream), static_cast<off_t>(length)) == 0;
}

namespace {

#if defined(__linux__)
// In-kernel copy: the bytes never pass through this process. Stops at the
// first call that copies nothing (the kernel or the filesystem refuses, or
// the source has ended) and returns how far it came.
uint64_t kernel_copy(int in, uint64_t in_at, int out, uint64_t out_at, uint64_t n) {
    auto in_off = static_cast<loff_t>(in_at);
    auto out_off = static_cast<loff_t>(out_at);
    uint64_t done = 0;
    while (done < n) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, 1u << 30));
        const ssize_t got = copy_file_range(in, &in_off, out, &out_off, want, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<uint64_t>(got);
    }
    return done;
}
#else
uint64_t kernel_copy(int, uint64_t, int, uint64_t, uint64_t) { return 0; }
#endif

// Copies through one buffer with positioned reads and writes, from `in_at`
// of `in` to `out_at` of `out`.
uint64_t buffer_copy(int in, uint64_t in_at, int out, uint64_t out_at, uint64_t n) {
    std::vector<char> buffer(copy_chunk);
    uint64_t done = 0;
    while (done < n) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, buffer.size()));
        const ssize_t got = pread(in, buffer.data(), want, static_cast<off_t>(in_at + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (ssize_t written = 0; written < got;) {
            const ssize_t w = pwrite(out, buffer.data() + written, static_cast<size_t>(got - written),
                                     static_cast<off_t>(out_at + done + static_cast<uint64_t>(written)));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return done + static_cast<uint64_t>(written);
            written += w;
        }
        done += static_cast<uint64_t>(got);
    }
    return done;
}

// Through the streams themselves, for an output without positions (a pipe,
// a terminal).
bool stream_copy(std::FILE* from, uint64_t from_at, std::FILE* to, uint64_t n) {
    if (!seek(from, from_at)) return false;
    std::vector<char> buffer(copy_chunk);
    uint64_t done = 0;
    while (done < n) {
        const size_t got = std::fread(buffer.data(), 1, static_cast<size_t>(std::min<uint64_t>(n - done, buffer.size())), from);
        if (got == 0 || std::fwrite(buffer.data(), 1, got, to) != got) return false;
        done += got;
    }
    return true;
}

}  // namespace

bool copy_file_area(std::FILE* from, uint64_t from_at, std::FILE* to, uint64_t n) {
    if (n == 0) return true;
    if (std::fflush(from) != 0 || std::fflush(to) != 0) return false;
    const int64_t at = tell(to);
    // Through a stream, the copied bytes have all reached the output only
    // once it is flushed: a failure there is the copy's, never a later
    // write's.
    if (at < 0) return stream_copy(from, from_at, to, n) && std::fflush(to) == 0;
    const int in = fileno(from), out = fileno(to);
    uint64_t done = kernel_copy(in, from_at, out, static_cast<uint64_t>(at), n);
    if (done < n) done += buffer_copy(in, from_at + done, out, static_cast<uint64_t>(at) + done, n - done);
    return seek(to, static_cast<uint64_t>(at) + done) && done == n;
}

bool utc_time(int64_t seconds, std::tm& out) {
    const auto t = static_cast<std::time_t>(seconds);
    return t == seconds && gmtime_r(&t, &out) != nullptr;
}

const char* program_name(const char* argument0) {
    const char* slash = std::strrchr(argument0, '/');
    return slash ? slash + 1 : argument0;
}

void wait_for_key() {
    std::fflush(stdout);
    std::getchar();
}

// What an interrupt removes. The handler only reads these; they are set
// while interrupts are held.
namespace {

const char* volatile cleanup_paths[2] = {nullptr, nullptr};
sigset_t held_previous;
int held_depth = 0;

// The signals that end a run as an interrupt does: Ctrl+C, a request to end,
// the terminal hanging up, and a reader of the standard output (a pipe) that
// has gone, which would otherwise kill the run at its next message.
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void on_interrupt(int) {
    for (const char* path : cleanup_paths)
        if (path) unlink(path);
    _exit(1);
}

}  // namespace

void install_interrupt_cleanup() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : ending_signals) {
        // A hang-up or a broken pipe that the caller chose to ignore (nohup,
        // a shell's trap) stays ignored: the run then goes on, and a write
        // to the gone reader fails instead.
        struct sigaction previous {};
        if ((signal == SIGHUP || signal == SIGPIPE) && sigaction(signal, nullptr, &previous) == 0 &&
            previous.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
}

void remove_on_interrupt(cleanup_slot slot, const char* path) { cleanup_paths[static_cast<int>(slot)] = path; }

void hold_interrupts() {
    if (held_depth++ > 0) return;
    sigset_t held;
    sigemptyset(&held);
    for (int signal : ending_signals) sigaddset(&held, signal);
    sigprocmask(SIG_BLOCK, &held, &held_previous);
}

void release_interrupts() {
    if (--held_depth == 0) sigprocmask(SIG_SETMASK, &held_previous, nullptr);
}

bool replace_file(const std::string& link, std::string_view data, std::string& error) {
    struct stat old_stat;
    if (stat(link.c_str(), &old_stat) != 0) {
        error = std::strerror(errno);
        return false;
    }
    // A symbolic link stays one: the file it leads to is replaced.
    std::string path = link;
    if (char* real = realpath(link.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, old_stat.st_mode & 07777) == 0;
    for (size_t done = 0; ok && done < data.size();) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    if (!ok) error = std::strerror(errno);
    if (close(fd) != 0 && ok) {
        ok = false;
        error = std::strerror(errno);
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = std::strerror(errno);
    }
    if (!ok) unlink(temp.c_str());
    return ok;
}

}  // namespace vendrak::platform
