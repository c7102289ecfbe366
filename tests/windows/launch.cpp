// launch.exe: starts a Windows program for the tests that run the .exe files
// from Linux through Wine, and does to the run what those tests need.
//
//   launch.exe [--lock FILE] [--event N --when PATTERN SIZE] PROGRAM ARGUMENT0 [ARGUMENT...]
//
// PROGRAM is started with the command line ARGUMENT0 ARGUMENT... (quoted so
// that the C runtime splits it back into the same words), so that the run
// sees the argument 0 it would see when started from a console, and with
// the standard handles of launch.exe. Wine itself would pass the full path
// of the .exe as argument 0.
//
// --lock FILE     holds FILE open without any sharing while the run lasts
//                 (it is created when missing).
// --event N       delivers console control event N (0 Ctrl+C, 1 Ctrl+Break,
// --when P SIZE   2 closing the console) to the run as soon as a file whose
//                 name matches the pattern P in the current directory has
//                 SIZE bytes or more. The event comes as the console sends
//                 it: on a new thread of the run, at kernelbase's
//                 CtrlRoutine. A run near its end may still finish first.
//
// The exit status is the run's; 125 when the run ended before the file
// reached its size, 126 when launch.exe itself failed.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int too_late = 125;
constexpr int failed = 126;

// One word for the command line, as the C runtime splits it: quotes around
// words with blanks or quotes, backslashes doubled before a quote.
std::wstring quoted(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

// The largest size among the files that match `pattern`; -1 when none does.
long long largest_match(const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return -1;
    long long largest = -1;
    do {
        const long long size = (static_cast<long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        if (size > largest) largest = size;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return largest;
}

// Sends console control event `event` to `process` the way the console
// does: a new thread of the process runs CtrlRoutine, which calls the
// process's control handlers in turn.
bool send_console_event(HANDLE process, DWORD event) {
    const HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll");
    const auto routine = kernelbase ? reinterpret_cast<LPTHREAD_START_ROUTINE>(
                                          reinterpret_cast<void*>(GetProcAddress(kernelbase, "CtrlRoutine")))
                                    : nullptr;
    if (routine == nullptr) return false;
    const HANDLE thread =
        CreateRemoteThread(process, nullptr, 0, routine, reinterpret_cast<void*>(static_cast<uintptr_t>(event)), 0, nullptr);
    if (thread == nullptr) return false;
    CloseHandle(thread);
    return true;
}

int fail(const wchar_t* what) {
    std::fwprintf(stderr, L"launch.exe: %ls (error %lu)\n", what, GetLastError());
    return failed;
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) return fail(L"cannot read the command line");
    std::vector<std::wstring> args(words + 1, words + count);
    LocalFree(words);

    std::wstring lock_path, pattern;
    long long size = 0;
    long event = -1;
    size_t at = 0;
    for (; at < args.size() && args[at].starts_with(L"--"); ++at) {
        if (args[at] == L"--lock" && at + 1 < args.size()) {
            lock_path = args[++at];
        } else if (args[at] == L"--event" && at + 1 < args.size()) {
            event = std::wcstol(args[++at].c_str(), nullptr, 10);
        } else if (args[at] == L"--when" && at + 2 < args.size()) {
            pattern = args[++at];
            size = std::wcstoll(args[++at].c_str(), nullptr, 10);
        } else {
            std::fwprintf(stderr, L"launch.exe: unknown option %ls\n", args[at].c_str());
            return failed;
        }
    }
    if (args.size() < at + 2 || (event >= 0) != !pattern.empty()) {
        std::fputws(L"usage: launch.exe [--lock FILE] [--event N --when PATTERN SIZE] PROGRAM ARGUMENT0 [ARGUMENT...]\n",
                    stderr);
        return failed;
    }

    HANDLE lock = INVALID_HANDLE_VALUE;
    if (!lock_path.empty()) {
        lock = CreateFileW(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lock == INVALID_HANDLE_VALUE) return fail(L"cannot lock the file");
    }

    const std::wstring& program = args[at];
    std::wstring command_line = quoted(args[at + 1]);
    for (size_t i = at + 2; i < args.size(); ++i) command_line += L" " + quoted(args[i]);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION run{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &run))
        return fail(L"cannot start the program");

    bool ended_early = false;
    if (event >= 0) {
        while (largest_match(pattern) < size) {
            if (WaitForSingleObject(run.hProcess, 0) == WAIT_OBJECT_0) {
                ended_early = true;
                break;
            }
            Sleep(1);
        }
        if (!ended_early && !send_console_event(run.hProcess, static_cast<DWORD>(event))) {
            // A run that ends meanwhile takes no more threads.
            ended_early = WaitForSingleObject(run.hProcess, 1000) == WAIT_OBJECT_0;
            if (!ended_early) {
                TerminateProcess(run.hProcess, failed);
                return fail(L"cannot send the console event");
            }
        }
    }

    WaitForSingleObject(run.hProcess, INFINITE);
    DWORD status = failed;
    GetExitCodeProcess(run.hProcess, &status);
    CloseHandle(run.hThread);
    CloseHandle(run.hProcess);
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    return ended_early ? too_late : static_cast<int>(status);
}
