// vendrak: the command line and the run sequence.
//
// One run compiles one script into one container, or stops at the first
// error. Every run ends in `terminate`, which prints the prompts, closes the
// streams, deletes the temporary VBF file and exits with 0 or 1.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <new>

#include "common/fatal.h"
#include "compile/compile.h"
#include "driver/run_context.h"
#include "driver/writer.h"
#include "dump/dump.h"
#include "parser/parser.h"
#include "platform/platform.h"
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

// The one way a run ends.
[[noreturn]] void terminate(int code) {
    // From here on an interrupt leaves the output file as the run left it.
    platform::remove_on_interrupt(platform::cleanup_slot::output_file, nullptr);
    if (code != 0) {
        std::printf("\nERROR:%d, Press any key to continue...\n", code);
        platform::wait_for_key();
    }
    if (helpLevel > 0) {
        std::printf("\nPress any key to continue...\n");
        platform::wait_for_key();
    }
    if (context) {
        context->script_file.reset();
        context->output_file.reset();
        if (context->temp_file) {
            context->temp_file.reset();
            std::remove(context->temp_name.c_str());
            platform::remove_on_interrupt(platform::cleanup_slot::temp_file, nullptr);
        }
        context.reset();
    }
    std::exit(code != 0 ? 1 : 0);
}

void print_usage(const char* argument0) {
    const char* program_name = platform::program_name(argument0);
    std::fprintf(stderr, "\nVENDRAK Compiler Version " VENDRAK_VERSION "\nUsage: %s <options> <script file>\n", program_name);
    for (const option_row& row : long_option)
        std::fprintf(stderr, "  -%c, --%s\t %s\n", row.long_form.val, row.long_form.name, row.description);
    std::fprintf(stderr, "\n");
}

// Returns the index of the first operand.
int take_options(run_context& ctx, int argc, char** argv) {
    option options[std::size(long_option) + 1] = {};
    for (size_t i = 0; i < std::size(long_option); ++i) options[i] = long_option[i].long_form;
    option_reader reader;
    int c;
    while ((c = platform::next_option(reader, argc, argv, "havo:", options)) != -1) {
        switch (c) {
            case 'h': ++helpLevel; break;
            case 'a': ctx.aes = 1; break;
            case 'v': ++ctx.verbose; break;
            case 'o': ctx.output_name = reader.argument; break;
            default: ++helpLevel; break;  // the option parser has said what is wrong
        }
    }
    return reader.index;
}

// Scripts are read as bytes; the lexer itself takes CR LF line ends.
void open_script(run_context& ctx) {
    ctx.script_file.reset(platform::open_input(ctx.script_name));
    if (!ctx.script_file) fail(out_stream::out, "Error: Cannot open \"%s\" script file\n", ctx.script_name);
}

// The temporary file and the output file are created with interrupts held,
// so that an interrupt always finds the files that exist.
void create_temp_file(run_context& ctx) {
    platform::interrupts_held held;
    ctx.temp_file.reset(platform::create_temp_file(ctx.temp_name));
    if (!ctx.temp_file)
        fail(out_stream::out, "Error: Cannot open \"%s\" temporary VBF output file\n", ctx.temp_name.c_str());
    platform::remove_on_interrupt(platform::cleanup_slot::temp_file, ctx.temp_name.c_str());
}

// An interrupt removes the output file while it is being written, unless it
// existed before this run.
void open_output(run_context& ctx) {
    platform::interrupts_held held;
    bool created = false;
    ctx.output_file.reset(platform::open_output(ctx.output_name.c_str(), created));
    if (!ctx.output_file) fail(out_stream::out, "Error: Cannot open \"%s\" output file\n", ctx.output_name.c_str());
    if (created) platform::remove_on_interrupt(platform::cleanup_slot::output_file, ctx.output_name.c_str());
}

void close_output(run_context& ctx) {
    if (std::fclose(ctx.output_file.release()) != 0)
        fail(out_stream::out, "Error: Cannot write \"%s\" output file\n", ctx.output_name.c_str());
    platform::remove_on_interrupt(platform::cleanup_slot::output_file, nullptr);
}

// Steps 2 to 12 of a run; step 1 (the context) and 13 (the end) are main's.
void run(run_context& ctx, int argc, char** argv) {
    const int operand = take_options(ctx, argc, argv);
    if (argc < 2 || helpLevel > 0 || operand >= argc) {
        print_usage(argv[0]);
        terminate(0);
    }
    ctx.script_name = argv[operand];
    open_script(ctx);

    parse_script(ctx.script_file.get(), ctx.script);
    validate_script(ctx.script);
    compile_script(ctx.script, ctx.prog);
    if (ctx.verbose > 0) dump_script(ctx.script, stdout);

    create_temp_file(ctx);
    ctx.vbf = build_vbf_area(ctx.prog, ctx.temp_file.get(), ctx.temp_name);
    check_container_size(ctx.prog, ctx.vbf);

    open_output(ctx);
    ctx.header.created = static_cast<int64_t>(std::time(nullptr));
    ctx.header.host_mac = platform::host_mac_address();
    container_summary summary = write_container(ctx.prog, ctx.vbf, ctx.temp_file.get(), ctx.aes != 0,
                                                ctx.output_file.get(), ctx.output_name, ctx.header);
    close_output(ctx);
    std::printf("Script Size:%ld, File Size:%ld, CRC:0x%08X\n", static_cast<long>(summary.code_size),
                static_cast<long>(summary.file_size), summary.crc);
}

}  // namespace
}  // namespace vendrak

int main(int argc, char** argv) {
    using namespace vendrak;
    platform::install_interrupt_cleanup();
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
    } catch (const std::exception& e) {
        // No stage throws anything else on purpose; whatever comes still ends
        // the run through terminate, which removes the temporary file.
        std::printf("Error: %s\n", e.what());
        terminate(-1);
    } catch (...) {
        std::fputs("Error: Unexpected failure\n", stdout);
        terminate(-1);
    }
    terminate(0);
}
