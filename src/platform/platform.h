// Every call into the operating system that vendrak and its tools make.
//
// posix.cpp implements it for Linux and the other POSIX systems, windows.cpp
// for Windows; the build picks one. All files are handled as bytes (binary
// mode) on both, so the same inputs give the same container everywhere.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "common/options.h"

namespace vendrak::platform {

// Reads the next option of the command line with the rules and the words of
// GNU getopt_long (see common/options.h): the C library's own under glibc,
// the reader of common/options.h elsewhere.
int next_option(option_reader& reader, int argc, char** argv, const char* shorts, const option* longs);

// The hardware address of the host's first network adapter: of the adapters
// that are not a loopback and have a six-byte address that is not all zeros,
// the one with the lowest interface index. Six zeros when there is none.
std::array<uint8_t, 6> host_mac_address();

// A network adapter as the system lists it, and the choice above among a
// list of them.
struct network_adapter {
    uint32_t index = 0;
    bool loopback = false;
    std::span<const uint8_t> address;
};

inline std::array<uint8_t, 6> first_adapter_address(std::span<const network_adapter> adapters) {
    std::array<uint8_t, 6> best{};
    uint32_t best_index = UINT32_MAX;
    for (const network_adapter& a : adapters) {
        if (a.loopback || a.address.size() != 6) continue;
        if (std::all_of(a.address.begin(), a.address.end(), [](uint8_t b) { return b == 0; })) continue;
        if (a.index < best_index) {
            best_index = a.index;
            std::copy(a.address.begin(), a.address.end(), best.begin());
        }
    }
    return best;
}

// Opens `path` for reading bytes; null when it cannot be opened or is a
// directory.
std::FILE* open_input(const char* path);

// Creates or truncates `path` for reading and writing bytes ("wb+"); null on
// failure. `created` tells whether the file did not exist before.
std::FILE* open_output(const char* path, bool& created);

// Creates a new file from `name`, a template that ends in "XXXXXX", in the
// current directory: the X are replaced so that the name is unique, and the
// file is created exclusively. Returns a binary read/write stream and leaves
// the name of the file in `name`. On failure returns null; `name` then holds
// the template, or the name of a file that was made but could not be opened
// as a stream (and is removed again).
std::FILE* create_temp_file(std::string& name);

// An anonymous binary read/write stream that is deleted when it is closed
// or the process ends, for text a program collects and reads back. Unlike
// std::tmpfile() on Windows, which creates its file in the root of the
// current drive (not writable for a user on most machines), it lives in the
// user's temporary directory there. Null on failure.
std::FILE* temp_stream();

// Puts standard input and output into binary mode, so that bytes pass
// unchanged (Windows' console streams turn "\n" into "\r\n" on output and
// back on input otherwise); nothing to do on POSIX systems. For programs
// whose output is framed by byte counts, as the language server's messages
// are.
void binary_standard_streams();

// 64-bit stream positions. `tell` gives -1 on failure.
int64_t tell(std::FILE* stream);
bool seek(std::FILE* stream, uint64_t position);

// Cuts the file of `stream` to `length` bytes, after writing out what the
// stream still buffers.
bool truncate(std::FILE* stream, uint64_t length);

// Copies `n` bytes from offset `from_at` of `from` to the current position of
// `to` and leaves `to` positioned after them, every copied byte written out
// of the stream. False when a write fails, and when `from` cannot be read or
// ends before `n` bytes; `to` then holds what was copied. Flush `to` before:
// bytes it still buffers are written out first, and their failure is then
// the copy's. With `n` 0 nothing
// happens. On Linux the kernel copies (copy_file_range) where the files
// allow it, fastest when both offsets are the same modulo the page size;
// otherwise the bytes go through one buffer of `copy_chunk` bytes.
constexpr size_t copy_chunk = 0x20000;
bool copy_file_area(std::FILE* from, uint64_t from_at, std::FILE* to, uint64_t n);

// UTC calendar time of `seconds` since 1970; false when it has none.
bool utc_time(int64_t seconds, std::tm& out);

// The program's name as the usage shows it: `argument0` without its
// directory part (up to the last '/', on Windows also '\\').
const char* program_name(const char* argument0);

// Flushes standard output and reads one character from standard input;
// returns at once when standard input is empty or closed.
void wait_for_key();

// Interrupts: Ctrl+C, SIGTERM, SIGHUP and SIGPIPE (a standard output whose
// reader has gone), on Windows Ctrl+C, Ctrl+Break and closing the console,
// remove the files registered here and end the process with status 1. A
// SIGHUP or SIGPIPE that the caller ignores stays ignored. Register a file while an `interrupts_held` is alive, so that no
// interrupt falls between its creation and its registration.
enum class cleanup_slot { temp_file, output_file };
void install_interrupt_cleanup();
// `path` must stay valid until the slot is cleared with null.
void remove_on_interrupt(cleanup_slot slot, const char* path);

void hold_interrupts();
void release_interrupts();

class interrupts_held {
public:
    interrupts_held() { hold_interrupts(); }
    ~interrupts_held() { release_interrupts(); }
    interrupts_held(const interrupts_held&) = delete;
    interrupts_held& operator=(const interrupts_held&) = delete;
};

// Replaces the contents of the existing file `path` with `data`: writes a
// new file beside it and renames it over the old one, so that a reader sees
// either the old or the new contents, never a part. The new file keeps the
// old one's permission bits; where `path` is a symbolic link, the file it
// leads to is replaced and the link kept. False on failure (`error` says why), and the
// old file is then left as it was, with no file beside it.
bool replace_file(const std::string& path, std::string_view data, std::string& error);

}  // namespace vendrak::platform
