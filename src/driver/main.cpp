// vendrak: the command line and the run sequence.
//
// One run compiles one script into one container, or stops at the first
// error. Every run ends in `terminate`, which prints the prompts, closes the
// streams, deletes the temporary VBF file and exits with 0 or 1.
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common/fatal.h"
#include "compile/compile.h"
#include "driver/container.h"
#include "driver/run_context.h"
#include "dump/dump.h"
#include "parser/parser.h"
#include "validate/validate.h"

namespace vendrak {
namespace {

std::unique_ptr<run_context> context;
// Help requests and unusable options; greater than 0 prints the usage and
// waits for a key before exiting.
int helpLevel = 0;

struct option_row {
    option long_form;
    const char* description;
};

const option_row long_option[] = {
    {{"help", no_argument, nullptr, 'h'}, "Help"},
    {{"aes", no_argument, nullptr, 'a'}, "AES encrypt program binary"},
    {{"verbose", no_argument, nullptr, 'v'}, "Increase debug verbosity"},
    {{"outfile", required_argument, nullptr, 'o'}, "Set output filename"},
};

// What the signal handler removes: the temporary VBF file while it exists,
// and the output file while this run is writing one it created itself.
volatile sig_atomic_t temp_made = 0;
char temp_path[32];
volatile sig_atomic_t output_made = 0;
const char* output_path = nullptr;

extern "C" void on_signal(int) {
    if (temp_made) unlink(temp_path);
    if (output_made) unlink(output_path);
    _exit(1);
}

void install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Holds SIGINT and SIGTERM back while a file is created and recorded, so the
// handler never misses a file that exists.
class signals_held {
public:
    signals_held() {
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    ~signals_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

private:
    sigset_t previous_;
};

void wait_for_key() {
    std::fflush(stdout);
    std::getchar();
}

// The one way a run ends.
[[noreturn]] void terminate(int code) {
    output_made = 0;
    if (code != 0) {
        std::printf("\nERROR:%d, Press any key to continue...\n", code);
        wait_for_key();
    }
    if (helpLevel > 0) {
        std::printf("\nPress any key to continue...\n");
        wait_for_key();
    }
    if (context) {
        context->script_file.reset();
        context->output_file.reset();
        if (context->temp_file) {
            context->temp_file.reset();
            std::remove(context->temp_name.c_str());
            temp_made = 0;
        }
        context.reset();
    }
    std::exit(code != 0 ? 1 : 0);
}

void print_usage(const char* argument0) {
    const char* slash = std::strrchr(argument0, '/');
    const char* program_name = slash ? slash + 1 : argument0;
    std::fprintf(stderr, "\nVENDRAK Compiler Version " VENDRAK_VERSION "\nUsage: %s <options> <script file>\n", program_name);
    for (const option_row& row : long_option)
        std::fprintf(stderr, "  -%c, --%s\t %s\n", row.long_form.val, row.long_form.name, row.description);
    std::fprintf(stderr, "\n");
}

void take_options(run_context& ctx, int argc, char** argv) {
    option options[std::size(long_option) + 1] = {};
    for (size_t i = 0; i < std::size(long_option); ++i) options[i] = long_option[i].long_form;
    int c;
    while ((c = getopt_long(argc, argv, "havo:", options, nullptr)) != -1) {
        switch (c) {
            case 'h': ++helpLevel; break;
            case 'a': ctx.aes = 1; break;
            case 'v': ++ctx.verbose; break;
            case 'o': ctx.output_name = optarg; break;
            default: ++helpLevel; break;  // the option parser has said what is wrong
        }
    }
}

void open_script(run_context& ctx) {
    ctx.script_file.reset(std::fopen(ctx.script_name, "r"));
    struct stat st;
    if (ctx.script_file && fstat(fileno(ctx.script_file.get()), &st) == 0 && S_ISDIR(st.st_mode))
        ctx.script_file.reset();
    if (!ctx.script_file) fail(out_stream::out, "Error: Cannot open \"%s\" script file\n", ctx.script_name);
}

void create_temp_file(run_context& ctx) {
    signals_held held;
    int fd = mkstemp(ctx.temp_name.data());
    if (fd < 0) {
        ctx.temp_name = "vendrak.XXXXXX";
        fail(out_stream::out, "Error: Cannot open \"%s\" temporary VBF output file\n", ctx.temp_name.c_str());
    }
    ctx.temp_file.reset(fdopen(fd, "wb+"));
    if (!ctx.temp_file) {
        close(fd);
        std::remove(ctx.temp_name.c_str());
        fail(out_stream::out, "Error: Cannot open \"%s\" temporary VBF output file\n", ctx.temp_name.c_str());
    }
    std::snprintf(temp_path, sizeof temp_path, "%s", ctx.temp_name.c_str());
    temp_made = 1;
}

void open_output(run_context& ctx) {
    signals_held held;
    struct stat st;
    bool existed = stat(ctx.output_name.c_str(), &st) == 0;
    ctx.output_file.reset(std::fopen(ctx.output_name.c_str(), "wb+"));
    if (!ctx.output_file) fail(out_stream::out, "Error: Cannot open \"%s\" output file\n", ctx.output_name.c_str());
    if (!existed) {
        ctx.output_created = true;
        output_path = ctx.output_name.c_str();
        output_made = 1;
    }
}

void close_output(run_context& ctx) {
    if (std::fclose(ctx.output_file.release()) != 0)
        fail(out_stream::out, "Error: Cannot write \"%s\" output file\n", ctx.output_name.c_str());
    output_made = 0;
}

// Steps 2 to 12 of a run; step 1 (the context) and 13 (the end) are main's.
void run(run_context& ctx, int argc, char** argv) {
    take_options(ctx, argc, argv);
    if (argc < 2 || helpLevel > 0 || optind >= argc) {
        print_usage(argv[0]);
        terminate(0);
    }
    ctx.script_name = argv[optind];
    open_script(ctx);

    parse_script(ctx.script_file.get(), ctx.script);
    validate_script(ctx.script);
    compile_script(ctx.script, ctx.prog);
    if (ctx.verbose > 0) dump_script(ctx.script, stdout);

    create_temp_file(ctx);
    build_vbf_area(ctx);
    check_container_size(ctx);

    open_output(ctx);
    container_summary summary = write_container(ctx);
    close_output(ctx);
    std::printf("Script Size:%ld, File Size:%ld, CRC:0x%08X\n", static_cast<long>(summary.code_size),
                static_cast<long>(summary.file_size), summary.crc);
}

}  // namespace
}  // namespace vendrak

int main(int argc, char** argv) {
    using namespace vendrak;
    install_signal_handlers();
    helpLevel = 0;
    try {
        context = std::make_unique<run_context>();
        run(*context, argc, argv);
    } catch (const fatal_error& e) {
        std::FILE* stream = e.where() == out_stream::err ? stderr : stdout;
        std::fwrite(e.message().data(), 1, e.message().size(), stream);
        terminate(-1);
    } catch (const std::bad_alloc&) {
        std::fputs("Error: Out of memory\n", stdout);
        terminate(-1);
    }
    terminate(0);
}
