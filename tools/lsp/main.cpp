// vendrak-lsp: the language server of vendrak scripts, on standard input
// and output.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "lsp/server.h"
#include "platform/platform.h"

namespace {

constexpr const char* usage_text =
    "Usage: vendrak-lsp [--stdio]\n"
    "\n"
    "The language server of vendrak scripts: an editor starts it and talks to\n"
    "it over standard input and output with the Language Server Protocol. It\n"
    "reports the errors and warnings of vendrak-check as a script is typed\n"
    "(the VBF files it programs are checked when it is opened and saved), and\n"
    "answers hover, go to definition, find references, document symbols,\n"
    "completion, quick fixes, rename, formatting, semantic tokens, folding\n"
    "ranges, signature help and document highlights. The exit status is 0\n"
    "after a shutdown request, 1 when the input ends or exit comes without\n"
    "one, and 2 for a wrong command line.\n"
    "\n"
    "      --stdio      talk over standard input and output (the only way)\n"
    "  -h, --help       print this text\n"
    "      --version    print the version\n";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            std::cout << usage_text;
            return 0;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::cout << "vendrak-lsp " VENDRAK_VERSION "\n";
            return 0;
        }
        // VS Code's client adds --stdio, and --clientProcessId for some set-ups.
        if (std::strcmp(a, "--stdio") != 0 && std::strncmp(a, "--clientProcessId=", 18) != 0) {
            std::cerr << "vendrak-lsp: unknown option " << a << "\n" << usage_text;
            return 2;
        }
    }
    // Messages are framed by their length in bytes: no line-end translation.
    vendrak::platform::binary_standard_streams();
    std::ios::sync_with_stdio(false);
    // The worker threads are never stopped: the process ends as soon as the
    // session does, whatever check is running (a VBF check of a big flash
    // file takes seconds), and nothing is written after the last message.
    vendrak::lsp::worker_thread checks, flash_checks;
    // 50 ms: longer than the gap between the changes of one burst (an
    // editor's replace-all, a paste, fast typing), short beside a check.
    vendrak::lsp::server server(std::cout, checks, flash_checks, std::chrono::milliseconds(50));
    int status = 1;
    try {
        status = vendrak::lsp::serve(std::cin, server);
    } catch (const std::exception& e) {
        std::cerr << "vendrak-lsp: " << e.what() << "\n";
    }
    server.close();
    std::_Exit(status);
}
