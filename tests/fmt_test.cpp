// vendrak-fmt: the layout rules on examples, and the proof that formatting
// never changes a program: every example, e2e script, manual block, fuzzer
// finding, hand-written style and thousands of generated scripts compile,
// formatted, into the same container byte for byte (or are refused with the
// same message), and formatting a formatted script changes nothing.
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>

#include "compile/compile.h"
#include "driver/writer.h"
#include "files.h"
#include "fmt/cli.h"
#include "fmt/formatter.h"
#include "fmt/unchecked.h"
#include "parser/parser.h"
#include "validate/validate.h"

namespace vendrak {
namespace {

using namespace vendrak_test;

const fs::path source_root = VENDRAK_SOURCE_ROOT;

// The container of a script as vendrak writes it, with a fixed creation time
// and host address, compiled in the current directory (where its VBF files
// are looked for); or vendrak's message.
struct compiled {
    std::string container;
    std::string message;
    bool operator==(const compiled&) const = default;
};

compiled compile_text(std::string_view text) {
    compiled c;
    std::FILE* temp = std::tmpfile();
    std::FILE* out = std::tmpfile();
    try {
        const script s = parse_script_text(text);
        validate_script(s);
        program p;
        compile_script(s, p);
        const vbf_area area = build_vbf_area(p, temp, "vendrak.tmp");
        check_container_size(p, area);
        container_header header;
        write_container(p, area, temp, false, out, "a.out", header);
        c.container.resize(static_cast<size_t>(std::ftell(out)));
        std::rewind(out);
        c.container.resize(std::fread(c.container.data(), 1, c.container.size(), out));
    } catch (const fatal_error& e) {
        c.message = e.message();
    }
    std::fclose(temp);
    std::fclose(out);
    return c;
}

// "[3] Error: text\n" as vendrak-check gives it: "text".
std::string checker_text(std::string m) {
    if (m.ends_with('\n')) m.pop_back();
    if (m.starts_with('[')) m.erase(0, m.find("] ") + 2);
    if (m.starts_with("Error: ")) m.erase(0, 7);
    return m;
}

struct verdict {
    size_t scripts = 0, refused = 0, changed = 0;
    ~verdict() { std::printf("%zu scripts: %zu refused, %zu changed by the layout\n", scripts, refused, changed); }
};

// The whole property for one script, compiled in `dir`; `what` names it
// in failures.
void prove(const std::string& text, const std::string& what, verdict& v) {
    SCOPED_TRACE(what);
    ++v.scripts;
    const compiled original = compile_text(text);
    const fmt::format_result r = fmt::format_script(text);
    if (!r.ok) {
        ++v.refused;
        EXPECT_FALSE(original.message.empty()) << "refused, but vendrak compiles it: " << r.message;
        EXPECT_EQ(r.message, checker_text(original.message));
        EXPECT_TRUE(r.text.empty());
        return;
    }
    // The layout on its own must keep the program; the read-back in
    // format_script is only a safety net.
    const std::optional<std::string> laid_out = fmt::unchecked_layout(text);
    ASSERT_TRUE(laid_out.has_value() || r.text == text);
    if (laid_out) {
        EXPECT_EQ(*laid_out, r.text) << "the read-back refused the layout";
        const compiled formatted = compile_text(*laid_out);
        EXPECT_EQ(formatted.message, original.message) << *laid_out;
        EXPECT_TRUE(formatted.container == original.container) << "another container from:\n" << *laid_out;
    }
    if (r.text != text) ++v.changed;
    const fmt::format_result again = fmt::format_script(r.text);
    ASSERT_TRUE(again.ok) << again.message;
    EXPECT_EQ(again.text, r.text) << "not idempotent";
}

// Runs `body` in `dir`, where the scripts' VBF files are.
template <typename Body>
void in_directory(const fs::path& dir, Body body) {
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    body();
    fs::current_path(before);
}

std::vector<fs::path> files_under(const fs::path& root, const std::string& extension) {
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (std::error_code ec; e.is_regular_file(ec) && (extension.empty() || e.path().extension() == extension)) found.push_back(e.path());
    std::sort(found.begin(), found.end());
    return found;
}

// The blocks of the manual that hold a script.
std::vector<std::string> manual_blocks() {
    const std::string manual = read_file(source_root / "docs/language.md");
    std::vector<std::string> blocks;
    const std::regex block("```vsc[^\n]*\n([\\s\\S]*?)```");
    for (auto m = std::sregex_iterator(manual.begin(), manual.end(), block); m != std::sregex_iterator(); ++m)
        blocks.push_back(m->str(1));
    return blocks;
}

// --- The layout rules, each shown on a script.

struct layout_row {
    const char* name;
    std::string input;
    std::string output;
};

TEST(fmt_layout, canonical_layout) {
    const layout_row rows[] = {
        {"one statement per line, words in capitals, one blank",
         "led   green on delay\t100\n", "LED GREEN ON\nDELAY 100\n"},
        {"blocks indented, labels at the start of the line",
         "loop: if vbat < 12\nlcd 1 1 \"low\"\nelse\ndo getkey while key ! enter\nendif goto loop",
         "loop:\n    IF VBAT < 12\n        LCD 1 1 \"low\"\n    ELSE\n        DO\n            GETKEY\n"
         "        WHILE KEY ! ENTER\n    ENDIF\n    GOTO loop\n"},
        {"brackets and braces hug what they hold",
         "var [ 1 ] = data [ 0 , 2 ] + 1\nIF HEX[0,2] = { 0x01 ,0x02 }\nENDIF\n",
         "VAR[1] = DATA[0,2] + 1\nIF HEX[0,2] = {0x01, 0x02}\nENDIF\n"},
        {"numbers, strings and labels as written",
         "Delay 0X1f\nLCD 1 1 \"a  b\"\nMy_Label:\ngoto My_Label\n",
         "DELAY 0X1f\nLCD 1 1 \"a  b\"\nMy_Label:\n    GOTO My_Label\n"},
        {"comments stay beside their statements; blank lines fold to one",
         "\n\n; head\nDELAY 1    ; one\n\n\n\n  /* two */ DELAY 2 /* after */\nDELAY /* inside */ 3\n\n",
         "; head\nDELAY 1    ; one\n\n/* two */ DELAY 2 /* after */\nDELAY /* inside */ 3\n"},
        {"a line comment keeps its column where the statement leaves room",
         "delay   1  ; a\nvar[1]=1       ; b\nLED GREEN ON ; c\n",
         "DELAY 1    ; a\nVAR[1] = 1     ; b\nLED GREEN ON ; c\n"},
        {"a line comment inside a statement keeps its line end",
         "LCD 1 ; row, column\n 1 \"x\"\n", "LCD 1 ; row, column\n    1 \"x\"\n"},
        {"CR LF kept, trailing blanks removed",
         "if vbat < 12 \r\n  led red on  \r\nendif\r\n", "IF VBAT < 12\r\n    LED RED ON\r\nENDIF\r\n"},
        {"DEFINE lines and statements that use a name stay as written",
         "DEFINE  X   5 ; five\nif vbat < 12\nDELAY   X\nendif\n",
         "DEFINE  X   5 ; five\nIF VBAT < 12\n    DELAY   X\nENDIF\n"},
        {"statements that stay as written, one after the other, indented at their level",
         "DEFINE X 5\nif vbat < 12\n\tDELAY X\n\t\tdelay   X ; c\nendif\n",
         "DEFINE X 5\nIF VBAT < 12\n    DELAY X\n    delay   X ; c\nENDIF\n"},
        {"statements from a name's value indented where the name begins a line",
         "DEFINE TWO DELAY 1 DELAY 2\nif vbat < 12\n  TWO\n      TWO\nendif\n",
         "DEFINE TWO DELAY 1 DELAY 2\nIF VBAT < 12\n    TWO\n    TWO\nENDIF\n"},
        {"a word a DEFINE name would replace keeps its case",
         "DEFINE DELAY 7\ndelay 5\nled red on\n", "DEFINE DELAY 7\ndelay 5\nLED RED ON\n"},
        {"operators and comparisons between blanks", "VAR[1]=VAR[2]+1\nIF KEY!=ENTER\nENDIF\n",
         "VAR[1] = VAR[2] + 1\nIF KEY != ENTER\nENDIF\n"},
        {"an empty script stays empty", "\n \n\t\n", ""},
        {"a string's own line end does not decide the file's",
         "lcd 1 1 \"a\nb\"\r\ndelay 1", "LCD 1 1 \"a\nb\"\r\nDELAY 1\r\n"},
        {"a DEFINE keyword and name with carriage returns in them",
         "DEF\rINE DEL\rAY 7\ndelay 5\n", "DEF\rINE DEL\rAY 7\ndelay 5\n"},
    };
    for (const layout_row& row : rows) {
        const fmt::format_result r = fmt::format_script(row.input);
        EXPECT_TRUE(r.ok) << row.name << ": " << r.message;
        EXPECT_EQ(r.text, row.output) << row.name;
    }
}

TEST(fmt_layout, deep_blocks_stop_indenting_at_the_deepest_level) {
    std::string script, expected;
    const size_t depth = fmt::deepest_indent + 8;
    auto indent = [](size_t level) { return std::string(4 * std::min(level, fmt::deepest_indent), ' '); };
    for (size_t d = 0; d < depth; ++d) {
        script += "if var[1] = 1\n";
        expected += indent(d) + "IF VAR[1] = 1\n";
    }
    script += "delay 1\n";
    expected += indent(depth) + "DELAY 1\n";
    for (size_t d = depth; d-- > 0;) {
        script += "endif\n";
        expected += indent(d) + "ENDIF\n";
    }
    EXPECT_EQ(fmt::format_script(script).text, expected);
}

TEST(fmt_layout, refused_script_gives_the_error_and_its_place) {
    const fmt::format_result r = fmt::format_script("DELAY 1\nLED BLUE ON\n");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.empty());
    EXPECT_EQ(r.message, "Unknown LED <color>");
    EXPECT_EQ(r.line, 2u);
    EXPECT_EQ(r.column, 5u);
}

// A script of 64 KiB or more is read, checked and laid out on two threads:
// it must be formatted, or refused, exactly as the same lines are one by one.
TEST(fmt_layout, large_scripts_format_and_refuse_as_small_ones) {
    const std::string unit = "delay 5\nif var[1] > 2 ; two\n  led red on\nendif\nexec \"x\"\n";
    const std::string formatted_unit = fmt::format_script(unit).text;
    ASSERT_NE(formatted_unit, unit);
    const size_t copies = 64 * 1024 / unit.size() + 1;
    std::string script, expected;
    for (size_t i = 0; i < copies; ++i) script += unit, expected += formatted_unit;
    const uint32_t next_line = static_cast<uint32_t>(5 * copies + 1);

    EXPECT_EQ(fmt::format_script(script).text, expected);
    // The last line of a refused script, after the copies: refused while
    // the script is read, when it is checked, when it is compiled.
    for (const std::string last_line : {"LED BLUE ON\n", "GOTO nowhere\n", "ENDIF\n"}) {
        const fmt::format_result small = fmt::format_script(last_line);
        const fmt::format_result large = fmt::format_script(script + last_line);
        ASSERT_FALSE(small.ok) << last_line;
        ASSERT_FALSE(small.message.empty()) << last_line;
        EXPECT_FALSE(large.ok) << last_line;
        EXPECT_TRUE(large.text.empty()) << last_line;
        EXPECT_EQ(large.message, small.message) << last_line;
        EXPECT_EQ(large.line, next_line) << last_line;
        EXPECT_EQ(large.column, small.column) << last_line;
    }
}

// --- The proof.

TEST(fmt_proof, examples_e2e_and_test_scripts) {
    verdict v;
    std::vector<fs::path> scripts = files_under(source_root / "examples", ".vsc");
    for (const char* dir : {"tests/e2e/cases", "tests/data"}) {
        const std::vector<fs::path> more = files_under(source_root / dir, ".vsc");
        scripts.insert(scripts.end(), more.begin(), more.end());
    }
    for (const fs::path& p : scripts)
        in_directory(p.parent_path(), [&] { prove(read_file(p), p.string(), v); });
    EXPECT_GE(v.scripts, 50u);
    EXPECT_GT(v.changed, 0u);
}

TEST(fmt_proof, manual_blocks_and_fuzzer_findings) {
    verdict v;
    in_directory(source_root / "examples", [&] {
        for (const std::string& block : manual_blocks()) prove(block, "manual block:\n" + block, v);
        for (const fs::path& p : files_under(source_root / "fuzz/regressions", ""))
            prove(read_file(p), p.string(), v);
    });
    EXPECT_GE(v.scripts, 80u);
    EXPECT_GT(v.changed, 0u);
}

// Scripts in the styles people write: mixed case, tabs, CR LF, comments in
// odd places, nested blocks, DEFINEs.
TEST(fmt_proof, hand_written_styles) {
    const char* const scripts[] = {
        "define ECU_TX 0x7E0\r\ndefine ECU_RX 0x7E8\r\nNet Can_Hs 11 500000\r\n\tdiag iso14229 ECU_TX ECU_RX\r\n"
        "\tif vbat<12\r\n\t\tlcd 1 1 \"LOW\"\r\n\telse\r\n\t\tlcd 1 1 \"OK\"\r\n\tendif\r\n",
        "/* menu */ menu: lcd 1 1 \"Menu\" /* a */ waitkey /* b */ any if key = enter goto menu endif exit",
        "DO\n  DO ; inner\n    GETKEY\n    IF KEY = ESCAPE ENDDO ENDIF\n  WHILE KEY ! ENTER\nWHILE VAR[1] < 3",
        "DEFINE IDX 3\nVAR[IDX]=1\nVAR[IDX]=VAR[IDX]+1\nDEFINE IDX 4 ; again\nVAR[IDX] = 2\n",
        "DEFINE TWO DELAY 1 DELAY 2\nTWO\nif vbat < 12 TWO endif\n",
        "DEFINE OPEN IF VBAT < 12\nOPEN\n  LED RED ON\nENDIF\n",
        "DEFINE NOT !\nIF KEY NOT= ENTER\nENDIF\n",
        "DEFINE X 5\nDEFINE Y X 1\nREQUEST Y 2 3\nWRITE SID Y\n",
        "LCD\n1\n1\n\"two\nlines\"\nDELAY/**/5/*x*/DELAY 6;end",
        "IF DATA[0,1] = 'A'\n LED GREEN ON\n ELSE LED RED ON ENDIF\n\n\n\nEXIT\n",
        "SECURITY 1 0x0102 PROG \"app.vbf\" 0x0A0B\nDAT_INIT VIN DAT_CREATE DID 0x10\nDID MODIFY 0x10 2 8 | 0x80\nMEM 5 = \"ab\"\n",
        "READ SID 0x62 READ MSG\nDELAY 1\nUPLOAD 0x1000 0x20 DOWNLOAD -1 4\n",
        "log new \"f\" 1.5 2.5\nlog add time\nhud 3 5 vbat 1.5 2.5\nset_value volts 12\nfw_version 2.15\n",
        "IF VAR[1] = 1\nIF VAR[2] = 2\nIF VAR[3] = 3\nDELAY 1\nELSE\nDELAY 2\nENDIF\nENDIF\nENDIF\n",
        "delay 1 ; no line end at the end",
        "DEFINE D DEFINE\nD Z 9\nDELAY Z\n",
        "DEFINE delay DELAY\ndelay 5\nDELAY 6\n",
        "\xEF\xBB\xBF" "DELAY 1\n",
    };
    verdict v;
    in_directory(source_root / "examples", [&] {
        for (const char* s : scripts) prove(s, std::string("script:\n") + s, v);
    });
    EXPECT_EQ(v.scripts, std::size(scripts));
    EXPECT_GE(v.changed, std::size(scripts) / 2);
}

// Scripts that a differential run over mutated scripts found laid out
// into another program or not idempotently.
TEST(fmt_proof, mutated_scripts_that_broke_it) {
    const char* const scripts[] = {
        // the first line end stands inside a string
        "LCD\r\r\n1 1 \"Battery\nlow\"",
        "Lcd 1\r\n1 \"Battery\nlow\"\n",
        // a carriage return inside DEFINE or a name
        "DEFINE IF DELAY\nDEFINE GREEN !=\r\nD\rEFIne LiMIT",
        "DEFINE A ANY\n; c\ndEfi\rnE tI",
        "DEFINE DEL\rAY 7\ndelay 5\n",
        // a DEFINE from a name's value ends the script
        "DEFINE D DEFINE\nD X",
        "VAR[0]=\r5 /* c */ VAR[1] =  VAR[0]\nDEFINE vAR[\nDEFINE / DEFINE\nDEFINE , GOSUB\n/ 0\f",
    };
    verdict v;
    in_directory(source_root / "examples", [&] {
        for (const char* s : scripts) prove(s, std::string("script:\n") + s, v);
    });
    EXPECT_EQ(v.scripts, std::size(scripts));
}

// Every script of the corpus laid out at random: the room between its
// words and comments replaced by blanks, tabs, line ends (LF or CR LF),
// comments or nothing, and its words in random case; plus scripts drawn
// from statements of every form.
std::vector<std::string> generated_scripts(size_t count) {
    std::vector<std::string> corpus;
    for (const fs::path& p : files_under(source_root / "examples", ".vsc")) corpus.push_back(read_file(p));
    for (const fs::path& p : files_under(source_root / "tests/e2e/cases", ".vsc")) corpus.push_back(read_file(p));
    for (const std::string& b : manual_blocks()) corpus.push_back(b);
    const char* const statements[] = {
        "DELAY 100", "LCD 1 1 VAR[3]", "HLCD 2 1 DATA[0,4]", "HUD 3 5 VBAT 1.5 2.5", "LED GREEN ON",
        "LED RED TOGGLE", "LOG ADD TIME", "NET CAN_HS 11 500000", "DIAG ISO14229 0x7E0 0x7E8",
        "WRITE SID 0x22 0xF1 0x90", "READ SID 0x62", "REQUEST 0x10 0x03", "PERIODIC MSG 100 0x7DF 0x3E 0x80",
        "SET_VALUE VOLTS 12", "VAR[1] = VAR[1] + 1", "VAR[2] = DATA[0,2] * 3", "IF VAR[1] > 10", "ELSE", "ENDIF",
        "DO", "WHILE KEY != ENTER", "ENDDO", "WAITKEY ENTER", "DAT_INIT VIN", "DAT_CREATE VIN", "DID SAVE 0x10",
        "SECURITY 1 0x0102030405", "EXHALE A", "INHALE B", "FW_VERSION 2.15", "UPLOAD 0x1000 0x20",
        "MEM 5 = 0x0102", "GETTIME", "GETKEY", "IF BIT[3,1] = 1", "LOG FILE VAR[2]", "VAR[3] = 2.5 * VAR[1]",
        "L1:", "GOTO L1", "GOSUB L1", "RETURN", "LCD 1 1 \"READY\"", "IF HEX[0,2] = {0x01, 0x02}",
        "DEFINE N 4", "DELAY N", "VAR[N] = N", "EXIT", "; note", "/* block */", "VAR[1] = VAR[2] -1",
    };
    const char* const gaps[] = {" ", "  ", "\t", "\n", "\r\n", "\n\n\n", " ; c\n", " /* c */ ", "/**/", "\n\t "};
    std::mt19937 random(20261207);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    std::vector<std::string> out;
    while (out.size() < count) {
        std::string source;
        if (pick(3) == 0) {
            for (size_t n = 1 + pick(12); n > 0; --n) {
                source += statements[pick(std::size(statements))];
                source += pick(4) == 0 ? " " : "\n";
            }
        } else {
            source = corpus[pick(corpus.size())];
        }
        // New room between the runs of the script that are not blanks,
        // outside strings; the words' letters in random case.
        std::string text;
        bool in_string = false;
        for (size_t i = 0; i < source.size(); ++i) {
            const char c = source[i];
            if (c == '"') in_string = !in_string;
            const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
            if (!in_string && blank) {
                bool line_end = c == '\n';
                while (i + 1 < source.size() && (source[i + 1] == ' ' || source[i + 1] == '\t' ||
                                                  source[i + 1] == '\n' || source[i + 1] == '\r'))
                    line_end = source[++i] == '\n' || line_end;
                // half of the line ends stay, so that most DEFINE lines do
                text += pick(2) == 0 ? (line_end ? "\n" : " ") : pick(50) == 0 ? "" : gaps[pick(std::size(gaps))];
                continue;
            }
            text += !in_string && pick(4) == 0 && std::isalpha(static_cast<unsigned char>(c))
                        ? static_cast<char>(c ^ 0x20)
                        : c;
        }
        out.push_back(text);
    }
    return out;
}

TEST(fmt_proof, generated_scripts) {
    verdict v;
    const std::vector<std::string> scripts = generated_scripts(3000);
    in_directory(source_root / "examples", [&] {
        for (const std::string& s : scripts) {
            prove(s, "generated:\n" + s, v);
            if (testing::Test::HasFailure()) break;  // the first script that breaks it is enough
        }
    });
    EXPECT_EQ(v.scripts, scripts.size());
    // Both kinds must be well represented for the property to say much.
    EXPECT_GT(v.changed, scripts.size() / 10);
    EXPECT_GT(v.scripts - v.refused, scripts.size() / 10);
}

// --- The command line.

struct run_result {
    int status = 0;
    std::string out, err;
};

run_result run_fmt(std::vector<const char*> args, const std::string& input = "") {
    args.insert(args.begin(), "vendrak-fmt");
    std::FILE* in = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    run_result r;
    r.status = fmt::fmt_main(static_cast<int>(args.size()), args.data(), in, out, err);
    for (auto [f, s] : {std::pair{out, &r.out}, std::pair{err, &r.err}}) {
        s->resize(static_cast<size_t>(std::ftell(f)));
        std::rewind(f);
        s->resize(std::fread(s->data(), 1, s->size(), f));
        std::fclose(f);
    }
    std::fclose(in);
    return r;
}

class fmt_cli : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vendrak-fmt-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string file(const std::string& name, const std::string& text) {
        write_file(dir_ / name, text);
        return (dir_ / name).string();
    }
    fs::path dir_;
};

TEST_F(fmt_cli, stdout_stdin_and_refused_scripts) {
    const std::string messy = file("messy.vsc", "led green on delay 5");
    const std::string bad = file("bad.vsc", "DELAY 1\nLED BLUE ON\n");
    run_result r = run_fmt({messy.c_str()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "LED GREEN ON\nDELAY 5\n");
    r = run_fmt({}, "if vbat < 12 exit endif");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "IF VBAT < 12\n    EXIT\nENDIF\n");
    r = run_fmt({"-", bad.c_str(), messy.c_str()}, "delay 1");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "DELAY 1\nDELAY 1\nLED BLUE ON\nLED GREEN ON\nDELAY 5\n");
    EXPECT_EQ(r.err, bad + ":2:5: error: Unknown LED <color>\n");
    EXPECT_EQ(read_file(bad), "DELAY 1\nLED BLUE ON\n");
    r = run_fmt({"-i", bad.c_str()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(bad), "DELAY 1\nLED BLUE ON\n");
}

TEST_F(fmt_cli, check_prints_a_diff_and_fails) {
    const std::string clean = file("clean.vsc", "DELAY 1\n");
    const std::string messy = file("messy.vsc", "DELAY 1\nDELAY 2\nDELAY 3\nDELAY 4\nled green on\nDELAY 5\n");
    run_result r = run_fmt({"--check", clean.c_str()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    r = run_fmt({"--check", clean.c_str(), messy.c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "--- " + messy + ".orig\n+++ " + messy +
                         "\n@@ -2,5 +2,5 @@\n DELAY 2\n DELAY 3\n DELAY 4\n-led green on\n+LED GREEN ON\n DELAY 5\n");
    EXPECT_EQ(read_file(messy), "DELAY 1\nDELAY 2\nDELAY 3\nDELAY 4\nled green on\nDELAY 5\n");
    r = run_fmt({"--check"}, "delay 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "--- <stdin>.orig\n+++ <stdin>\n@@ -1 +1 @@\n-delay 1\n\\ No newline at end of file\n+DELAY 1\n");
}

// A long script with a change every tenth line: the diff names only the
// changed lines, each in its own hunk at its own line numbers.
TEST_F(fmt_cli, check_on_a_long_script_gives_small_hunks) {
    std::string text;
    const size_t lines = 20000;
    for (size_t i = 1; i <= lines; ++i)
        text += i % 2 == 0 ? "DELAY 1\n" : (i % 10 == 5 ? "delay " : "DELAY ") + std::to_string(i) + "\n";
    const run_result r = run_fmt({"--check", file("long.vsc", text).c_str()});
    EXPECT_EQ(r.status, 1);
    size_t removed = 0, added = 0, hunks = 0;
    std::istringstream diff(r.out);
    std::string line, last_hunk;
    for (std::getline(diff, line), std::getline(diff, line); std::getline(diff, line);) {
        removed += line.starts_with('-');
        added += line.starts_with('+');
        if (line.starts_with("@@")) ++hunks, last_hunk = line;
    }
    EXPECT_EQ(removed, lines / 10);
    EXPECT_EQ(added, lines / 10);
    EXPECT_EQ(hunks, lines / 10);
    EXPECT_EQ(last_hunk, "@@ -19992,7 +19992,7 @@");
}

TEST_F(fmt_cli, in_place_keeps_the_mode_and_leaves_formatted_files_alone) {
    const std::string messy = file("messy.vsc", "led green on\r\n");
    const std::string clean = file("clean.vsc", "DELAY 1\n");
    fs::permissions(messy, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::permissions(clean, fs::perms::owner_read);  // read-only: must not be written
    const auto clean_time = fs::last_write_time(clean);
    const run_result r = run_fmt({"-i", messy.c_str(), clean.c_str()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(messy), "LED GREEN ON\r\n");
    EXPECT_EQ(fs::status(messy).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(fs::last_write_time(clean), clean_time);
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++files;
    EXPECT_EQ(files, 2u) << "a file was left beside the scripts";
    fs::permissions(clean, fs::perms::owner_all);

    // through a symbolic link: the link stays, the file it leads to changes
    fs::create_directories(dir_ / "real");
    const std::string target = file("real/target.vsc", "delay 2\n");
    fs::create_symlink("real/target.vsc", dir_ / "link.vsc");
    EXPECT_EQ(run_fmt({(dir_ / "link.vsc").c_str()}).status, 0);
    EXPECT_EQ(run_fmt({"-i", (dir_ / "link.vsc").c_str()}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.vsc"));
    EXPECT_EQ(read_file(target), "DELAY 2\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), fs::directory_iterator()), 1);
}

TEST_F(fmt_cli, wrong_command_lines) {
    for (const std::vector<const char*>& args : {std::vector<const char*>{"-i"}, {"-i", "--check", "a.vsc"}, {"-x"},
                                                   {"-i", "-"}}) {
        const run_result r = run_fmt(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_TRUE(r.err.starts_with("vendrak-fmt: ")) << r.err;
    }
    const run_result missing = run_fmt({(dir_ / "none.vsc").c_str()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, (dir_ / "none.vsc").string() + ": error: cannot read the file\n");
}

}  // namespace
}  // namespace vendrak
