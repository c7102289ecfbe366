// The option reader against glibc's getopt_long: the same command lines
// through both must give the same options and arguments, the same messages,
// the same order of the words afterwards and the same first operand. On
// Linux vendrak uses glibc's; on Windows the reader has to behave alike.
#include <getopt.h>
#include <stdlib.h>
#include <unistd.h>

#include "common/options.h"
#include "files.h"

namespace {

// Everything a caller can see of one pass over a command line.
struct pass {
    std::vector<std::string> returns;  // each call: its value, argument, index
    std::vector<std::string> words;    // argv afterwards
    int first_operand = 0;
    std::string messages;
};

template <typename Next>
pass run(const std::vector<std::string>& args, Next next) {
    std::vector<std::string> storage = args;
    storage.insert(storage.begin(), "vendrak");
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    pass p;
    int index = 0;
    const char* argument = nullptr;
    for (int c; (c = next(argc, argv.data(), index, argument)) != -1;)
        p.returns.push_back(std::to_string(c) + " " + (argument ? argument : "-") + " " + std::to_string(index));
    for (int i = 0; i < argc; ++i) p.words.push_back(argv[static_cast<size_t>(i)]);
    p.first_operand = index;
    return p;
}

const option vendrak_options[] = {{"help", no_argument, nullptr, 'h'}, {"aes", no_argument, nullptr, 'a'},
                                  {"verbose", no_argument, nullptr, 'v'}, {"outfile", required_argument, nullptr, 'o'},
                                  {}};

int flag_target = 0;
// Prefixes shared by options that differ, and by two names of one option.
const option crowded_options[] = {{"outfile", required_argument, nullptr, 'o'}, {"outer", no_argument, nullptr, 'O'},
                                  {"output", required_argument, nullptr, 'o'}, {"colour", optional_argument, nullptr, 'c'},
                                  {"color", optional_argument, nullptr, 'c'},    {"flag", no_argument, &flag_target, 7},
                                  {}};

// glibc's messages go to standard error, here into the stream of `written`.
pass through_glibc(const std::vector<std::string>& args, const char* shorts, const option* longs) {
    pass p;
    p.messages = vendrak_test::written([&](std::FILE* messages) {
        std::fflush(stderr);
        const int saved = dup(2);
        dup2(fileno(messages), 2);
        optind = 0;  // glibc starts afresh
        p = run(args, [&](int argc, char** argv, int& index, const char*& argument) {
            const int c = getopt_long(argc, argv, shorts, longs, nullptr);
            index = optind;
            argument = c == -1 ? nullptr : optarg;
            return c;
        });
        std::fflush(stderr);
        dup2(saved, 2);
        close(saved);
    });
    return p;
}

pass through_reader(const std::vector<std::string>& args, const char* shorts, const option* longs) {
    pass p;
    p.messages = vendrak_test::written([&](std::FILE* messages) {
        vendrak::option_reader reader;
        p = run(args, [&](int argc, char** argv, int& index, const char*& argument) {
            const int c = reader.next(argc, argv, shorts, longs, messages);
            index = reader.index;
            argument = reader.argument;
            return c;
        });
    });
    return p;
}

struct row {
    std::vector<std::string> args;
    bool crowded = false;  // the crowded table and "o:c::", else vendrak's
    bool posixly_correct = false;
};

const row rows[] = {
    {{}}, {{"t.vsc"}}, {{"-h"}}, {{"-vao", "x.bin", "t.vsc"}}, {{"-vaox.bin", "t.vsc", "-v"}}, {{"t.vsc", "-o"}},
    {{"-o", "-v", "t.vsc"}}, {{"-vo--", "t.vsc"}}, {{"-xvq", "-o"}}, {{"-:", "t.vsc"}},
    {{"a", "-", "b", "-v", "--", "-a", "c"}}, {{"b", "-a", "--"}}, {{"--", "-v"}}, {{"--"}}, {{"", "-v", ""}},
    {{"--out=x.bin", "t.vsc"}}, {{"--outfile", "x.bin", "t.vsc", "--verb"}}, {{"t.vsc", "--outfile"}}, {{"--outf"}},
    {{"--help=3", "t.vsc"}}, {{"--he=", "t.vsc"}}, {{"--bogus=1", "-x", "t.vsc"}}, {{"--=x", "t.vsc"}},
    {{"--=", "t.vsc"}}, {{"first.vsc", "-o", "a.bin", "second.vsc", "--aes", "third.vsc", "-v"}},
    {{"t.vsc", "-v", "-h"}, false, true}, {{"-v", "t.vsc", "-a"}, false, true}, {{"--out", "x"}, true},
    {{"--out=x", "y"}, true}, {{"--outp", "x", "y"}, true}, {{"--outpu=x", "--oute"}, true},
    {{"--col", "--colo=red", "-cblue", "-c", "x"}, true}, {{"--fl", "--flag=1"}, true}, {{"-O", "--outer", "-o"}, true},
};

class option_reader_rows : public ::testing::TestWithParam<row> {};

TEST_P(option_reader_rows, behave_as_glibc_getopt_long) {
    const row& r = GetParam();
    const char* shorts = r.crowded ? "o:c::" : "havo:";
    const option* longs = r.crowded ? crowded_options : vendrak_options;
    if (r.posixly_correct) setenv("POSIXLY_CORRECT", "1", 1);
    const pass expected = through_glibc(r.args, shorts, longs);
    flag_target = 0;
    const pass actual = through_reader(r.args, shorts, longs);
    const int flag_after_reader = flag_target;
    if (r.posixly_correct) unsetenv("POSIXLY_CORRECT");

    EXPECT_EQ(actual.returns, expected.returns);
    EXPECT_EQ(actual.words, expected.words);
    EXPECT_EQ(actual.first_operand, expected.first_operand);
    EXPECT_EQ(actual.messages, expected.messages);
    if (r.crowded && r.args.at(0) == "--fl") {
        EXPECT_EQ(flag_after_reader, 7);
    }
}

void PrintTo(const row& r, std::ostream* os) {
    for (const std::string& a : r.args) *os << '[' << a << ']';
}

INSTANTIATE_TEST_SUITE_P(command_lines, option_reader_rows, ::testing::ValuesIn(rows));

}  // namespace
