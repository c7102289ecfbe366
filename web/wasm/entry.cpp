// The page's way into the compiler, the checker, the inspector and the
// formatter: each call takes its input from memory and leaves its results
// as parts the page reads (vendrak_part), never through vendrak's command
// line (no prompt, no file in a current directory).
//
// The VBF files a script programs are put by the page into the in-memory
// file system under the job directory, named as the script names them; the
// compiler's temporary VBF file and its container are unnamed in-memory
// streams. What vendrak prints on its standard output and standard error
// is printed here the same way, for the page to collect in order; the -v
// listing is a part of its own.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "check/format.h"
#include "common/fatal.h"
#include "compile/compile.h"
#include "driver/writer.h"
#include "dump/dump.h"
#include "inspect/inspect.h"
#include "lsp/help.h"
#include "parser/parser.h"
#include "parser/vocabulary.h"
#include "validate/validate.h"
#if __has_include("fmt/formatter.h")
#include "fmt/formatter.h"
#define VENDRAK_WEB_FORMAT 1
#endif

namespace vendrak::web {
namespace {

// The results of the last call.
std::vector<std::string> parts;

// Everything written to a stream, read back as bytes.
std::string contents(std::FILE* stream) {
    std::string bytes;
    std::rewind(stream);
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stream)) > 0) bytes.append(buf, n);
    return bytes;
}

struct stream_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using stream = std::unique_ptr<std::FILE, stream_closer>;

// The compile of one run of `vendrak [-a] [-v] script`, from the script's
// text on: the same stages, messages and summary line as the driver.
void compile(std::string_view text, bool encrypt, bool listing, std::string& listing_text, std::string& container) {
    script s = parse_script_text(text);
    validate_script(s);
    program prog;
    compile_script(s, prog);
    if (listing) {
        stream out(std::tmpfile());
        if (!out) throw std::bad_alloc();
        dump_script(s, out.get());
        listing_text = contents(out.get());
    }
    stream temp(std::tmpfile());
    if (!temp) fail(out_stream::out, "Error: Cannot open \"%s\" temporary VBF output file\n", "vendrak.XXXXXX");
    const vbf_area area = build_vbf_area(prog, temp.get(), "vendrak.XXXXXX");
    check_container_size(prog, area);
    stream out(std::tmpfile());
    if (!out) fail(out_stream::out, "Error: Cannot open \"%s\" output file\n", "a.out");
    container_header header;
    header.created = static_cast<int64_t>(std::time(nullptr));
    // A page has no network adapter to take an address from.
    header.host_mac = {};
    const container_summary summary = write_container(prog, area, temp.get(), encrypt, out.get(), "a.out", header);
    container = contents(out.get());
    std::printf("Script Size:%ld, File Size:%ld, CRC:0x%08X\n", static_cast<long>(summary.code_size),
                static_cast<long>(summary.file_size), summary.crc);
}

}  // namespace
}  // namespace vendrak::web

using namespace vendrak;

extern "C" {

// The `index`-th result of the last call and its length in bytes.
EMSCRIPTEN_KEEPALIVE const char* vendrak_part(int index) {
    return index >= 0 && static_cast<size_t>(index) < web::parts.size() ? web::parts[index].data() : "";
}
EMSCRIPTEN_KEEPALIVE size_t vendrak_part_size(int index) {
    return index >= 0 && static_cast<size_t>(index) < web::parts.size() ? web::parts[index].size() : 0;
}

// Compiles the script; relative VBF file names are taken from the current
// directory, where the page has put the files. Returns vendrak's exit
// status; parts: the -v listing, the container (empty on an error).
EMSCRIPTEN_KEEPALIVE int vendrak_compile(const char* text, size_t size, int encrypt, int listing) {
    web::parts.assign(2, std::string{});
    int status = 0;
    try {
        web::compile(std::string_view(text, size), encrypt != 0, listing != 0, web::parts[0], web::parts[1]);
    } catch (const fatal_error& e) {
        std::FILE* stream = e.where() == out_stream::err ? stderr : stdout;
        std::fwrite(e.message().data(), 1, e.message().size(), stream);
        status = -1;
    } catch (const std::bad_alloc&) {
        std::fputs("Error: Out of memory\n", stdout);
        status = -1;
    } catch (const std::exception& e) {
        std::printf("Error: %s\n", e.what());
        status = -1;
    }
    if (status != 0) {
        web::parts[1].clear();
        std::printf("\nERROR:%d, Press any key to continue...\n", status);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return status != 0 ? 1 : 0;
}

// The findings of vendrak-check --format=json for the script `name`, VBF
// files as for vendrak_compile. Returns 1 when there is an error; part 0:
// the JSON array.
EMSCRIPTEN_KEEPALIVE int vendrak_check(const char* text, size_t size, const char* name) {
    web::parts.assign(1, std::string{});
    check::checked_script checked;
    checked.name = name;
    checked.text.assign(text, size);
    checked.findings = check::check_script(checked.text, checked.name, check::check_options{});
    web::stream out(std::tmpfile());
    if (!out) return 1;
    check::write_findings(out.get(), check::output_format::json, std::span(&checked, 1));
    web::parts[0] = web::contents(out.get());
    for (const check::finding& f : checked.findings)
        if (f.level == check::severity::error) return 1;
    return 0;
}

// What vendrak-inspect says of the container `name`. Returns its exit status (0:
// valid); parts: the report (each defect and the verdict, as -q prints
// them), the disassembly (the default listing), the script (-s, empty for a
// container with defects).
EMSCRIPTEN_KEEPALIVE int vendrak_inspect(const uint8_t* bytes, size_t size, const char* name) {
    web::parts.assign(3, std::string{});
    const inspect::inspection r = inspect::inspect_container(std::vector<uint8_t>(bytes, bytes + size), name);
    for (const std::string& d : r.defects) web::parts[0] += "defect: " + d + "\n";
    const size_t n = r.defects.size();
    web::parts[0] += n == 0 ? "valid container\n" : format("%zu defect%s\n", n, n == 1 ? "" : "s");
    web::parts[1] = inspect::listing(r) + "\n";
    if (n == 0) {
        try {
            web::parts[2] = inspect::script_text(r, "");
        } catch (const std::exception& e) {
            web::parts[0] += std::string("vendrak-inspect: ") + e.what() + "\n";
            return 1;
        }
    }
    return n == 0 ? 0 : 1;
}

// The help of a statement keyword. Returns 1 when it has one; parts: its
// syntax lines, its sentence.
EMSCRIPTEN_KEEPALIVE int vendrak_help(const char* word) {
    web::parts.assign(2, std::string{});
    const std::optional<lsp::keyword_help> help = lsp::help_for(word);
    if (!help) return 0;
    web::parts[0] = help->syntax;
    web::parts[1] = std::string(help->summary);
    return 1;
}

// The words of the language for the editor's highlighting, each list
// separated by blanks; parts: the statement keywords and DEFINE, the choice
// words, the operand words.
EMSCRIPTEN_KEEPALIVE void vendrak_words() {
    web::parts.assign(3, std::string{});
    const auto add = [](std::string& list, std::string_view word) {
        if (word.empty() || (" " + list + " ").find(" " + std::string(word) + " ") != std::string::npos) return;
        if (!list.empty()) list += ' ';
        list += word;
    };
    for (const vocabulary::statement& st : vocabulary::statements) {
        add(web::parts[0], st.keyword);
        for (const vocabulary::choice* c : st.choices)
            for (std::string_view w : c->words) add(web::parts[1], w);
    }
    add(web::parts[0], vocabulary::define_keyword);
    for (std::string_view w : vocabulary::operand_words) add(web::parts[2], w);
}

#ifdef VENDRAK_WEB_FORMAT
// The script in its canonical layout. Returns 1 when vendrak takes the
// script; parts: the text, or the error with its line and column ("line
// column message").
EMSCRIPTEN_KEEPALIVE int vendrak_format(const char* text, size_t size) {
    web::parts.assign(2, std::string{});
    const fmt::format_result r = fmt::format_script(std::string_view(text, size));
    if (r.ok) {
        web::parts[0] = r.text;
        return 1;
    }
    web::parts[1] = format("%u %u %s", r.line, r.column, r.message.c_str());
    return 0;
}
#endif

}  // extern "C"
