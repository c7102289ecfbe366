// The command line's options, read by the rules of GNU getopt_long.
//
// vendrak's options behave alike on every system: grouped short options,
// arguments attached or in the next word, long options shortened to any
// unambiguous prefix, "--" ending the options, and options after the
// operands (the words are permuted so that the operands come last, in their
// order). A bad option is reported on `messages` in getopt_long's own words,
// with argument 0 as the program's name. The platform layer uses the C
// library's getopt_long where it has one with these words, and this reader
// elsewhere (Windows).
//
// What vendrak does not use is left out: a leading '+', '-' or ':' in the
// short options and "W;". POSIXLY_CORRECT in the environment stops at the
// first operand, as it does for getopt_long.
#pragma once

#include <getopt.h>

#include <cstdio>

namespace vendrak {

class option_reader {
public:
    // The word to be read next; once `next` has returned -1, the first
    // operand (`argc` when there is none).
    int index = 1;
    // The argument of the option just returned, or null.
    const char* argument = nullptr;

    // Returns the letter (or `val`) of the next option, '?' for a bad one,
    // and -1 when no option is left. `longs` ends with an all-zero row.
    int next(int argc, char** argv, const char* shorts, const option* longs, std::FILE* messages);

private:
    int long_option(int argc, char** argv, const option* longs, std::FILE* messages);
    int short_option(int argc, char** argv, const char* shorts, std::FILE* messages);
    void move_operands_behind_options(char** argv);

    const char* group_ = nullptr;  // the rest of a word of grouped short options
    // The operands skipped so far: argv[first_operand_, last_operand_).
    int first_operand_ = 1;
    int last_operand_ = 1;
};

}  // namespace vendrak
