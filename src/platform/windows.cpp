// The platform layer on Windows.
//
// Files are opened through CreateFile so that they can be deleted while
// open: the temporary VBF file is created delete-on-close (it goes with its
// last handle, however the process ends), and the output file shares
// deletion, so that an interrupt can remove it while it is being written.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace vendrak::platform {

// MinGW's getopt_long reports bad options in other words than glibc's; the
// reader of common/options.h gives the same messages as on Linux.
int next_option(option_reader& reader, int argc, char** argv, const char* shorts, const option* longs) {
    return reader.next(argc, argv, shorts, longs, stderr);
}

std::array<uint8_t, 6> host_mac_address() {
    const ULONG flags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                        GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return {};
    std::vector<network_adapter> adapters;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr; a = a->Next) {
        // An adapter without IPv4 has no IPv4 index; its IPv6 index counts then.
        adapters.push_back({a->IfIndex != 0 ? a->IfIndex : a->Ipv6IfIndex, a->IfType == IF_TYPE_SOFTWARE_LOOPBACK,
                            {a->PhysicalAddress, a->PhysicalAddressLength}});
    }
    return first_adapter_address(adapters);
}

namespace {

// A stream on an open handle; closes the handle when no stream results.
std::FILE* stream_on(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "wb+");
    if (!f) _close(fd);
    return f;
}

}  // namespace

std::FILE* open_input(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    return std::fopen(path, "rb");
}

std::FILE* open_output(const char* path, bool& created) {
    const HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    created = h != INVALID_HANDLE_VALUE && GetLastError() != ERROR_ALREADY_EXISTS;
    return stream_on(h);
}

std::FILE* create_temp_file(std::string& name) {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::string template_name = name;
    const size_t x_at = name.size() - 6;
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint64_t seed = static_cast<uint64_t>(counter.QuadPart) ^ (uint64_t{GetCurrentProcessId()} << 32);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        for (size_t i = 0; i < 6; ++i) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            name[x_at + i] = letters[(seed >> 33) % (sizeof letters - 1)];
        }
        const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) return stream_on(h);
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    name = template_name;
    return nullptr;
}

// A delete-on-close file of a unique name in the directory GetTempPath
// gives (TMP, TEMP, USERPROFILE or the Windows directory), named by
// GetTempFileName, which creates it; it is opened again as the stream.
std::FILE* temp_stream() {
    wchar_t directory[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
    if (length == 0 || length > MAX_PATH) return nullptr;
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(directory, L"vdk", 0, name) == 0) return nullptr;
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, sharing, nullptr, TRUNCATE_EXISTING,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        return nullptr;
    }
    return stream_on(h);
}

void binary_standard_streams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

int64_t tell(std::FILE* stream) { return _ftelli64(stream); }

bool seek(std::FILE* stream, uint64_t position) {
    return position <= static_cast<uint64_t>(INT64_MAX) &&
           _fseeki64(stream, static_cast<__int64>(position), SEEK_SET) == 0;
}

bool truncate(std::FILE* stream, uint64_t length) {
    return std::fflush(stream) == 0 && _chsize_s(_fileno(stream), static_cast<__int64>(length)) == 0;
}

bool copy_file_area(std::FILE* from, uint64_t from_at, std::FILE* to, uint64_t n) {
    if (n == 0) return true;
    // The bytes go through the streams; the area is flushed at its end, so
    // that a full disk while it is written fails the copy, as on POSIX
    // systems, and never a later write.
    if (std::fflush(from) != 0 || std::fflush(to) != 0 || !seek(from, from_at)) return false;
    std::vector<char> buffer(copy_chunk);
    uint64_t done = 0;
    while (done < n) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, buffer.size()));
        const size_t got = std::fread(buffer.data(), 1, want, from);
        if (got == 0 || std::fwrite(buffer.data(), 1, got, to) != got) return false;
        done += got;
    }
    return std::fflush(to) == 0;
}

bool utc_time(int64_t seconds, std::tm& out) {
    const __time64_t t = seconds;
    return _gmtime64_s(&out, &t) == 0;
}

const char* program_name(const char* argument0) {
    const char* name = argument0;
    for (const char* p = argument0; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

void wait_for_key() {
    std::fflush(stdout);
    std::getchar();
}

namespace {

// The console's control handler runs on a thread of its own: `cleanup_lock`
// keeps it out while a file is being created and registered.
SRWLOCK cleanup_lock = SRWLOCK_INIT;
const char* volatile cleanup_paths[2] = {nullptr, nullptr};

BOOL WINAPI on_console_event(DWORD) {
    AcquireSRWLockExclusive(&cleanup_lock);
    for (const char* path : cleanup_paths)
        if (path) DeleteFileA(path);
    // Ends at once: no stream of the interrupted run is flushed or closed by
    // this thread, and the handles' closing removes what was deleted.
    TerminateProcess(GetCurrentProcess(), 1);
    return TRUE;
}

}  // namespace

void install_interrupt_cleanup() { SetConsoleCtrlHandler(on_console_event, TRUE); }

void remove_on_interrupt(cleanup_slot slot, const char* path) { cleanup_paths[static_cast<int>(slot)] = path; }

// Only the main thread holds interrupts, so one count serves, and holds
// nest as on POSIX.
namespace {
int held_depth = 0;
}

void hold_interrupts() {
    if (held_depth++ == 0) AcquireSRWLockExclusive(&cleanup_lock);
}

void release_interrupts() {
    if (--held_depth == 0) ReleaseSRWLockExclusive(&cleanup_lock);
}

bool replace_file(const std::string& path, std::string_view data, std::string& error) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "No such file";
        return false;
    }
    std::string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = path + ".new" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes & ~FILE_ATTRIBUTE_READONLY,
                        nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (h == INVALID_HANDLE_VALUE) {
        error = "Cannot create a file beside it";
        return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < data.size();) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD written = 0;
        ok = WriteFile(h, data.data() + done, want, &written, nullptr) && written > 0;
        done += written;
    }
    ok = FlushFileBuffers(h) && ok;
    CloseHandle(h);
    ok = ok && MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        error = "Cannot write the file";
        DeleteFileA(temp.c_str());
    }
    return ok;
}

}  // namespace vendrak::platform
