#include "common/options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vendrak {
namespace {

// "-" alone and every word that does not start with '-' is an operand.
bool is_operand(const char* word) { return word[0] != '-' || word[1] == '\0'; }

bool same_option(const option& a, const option& b) {
    return a.has_arg == b.has_arg && a.flag == b.flag && a.val == b.val;
}

}  // namespace

// The skipped operands, argv[first, last), change places with the options
// read since, argv[last, index), each block keeping its order.
void option_reader::move_operands_behind_options(char** argv) {
    std::rotate(argv + first_operand_, argv + last_operand_, argv + index);
    first_operand_ += index - last_operand_;
    last_operand_ = index;
}

int option_reader::next(int argc, char** argv, const char* shorts, const option* longs, std::FILE* messages) {
    argument = nullptr;
    if (group_ != nullptr && *group_ != '\0') return short_option(argc, argv, shorts, messages);

    first_operand_ = std::min(first_operand_, index);
    last_operand_ = std::min(last_operand_, index);
    if (std::getenv("POSIXLY_CORRECT") == nullptr) {
        if (first_operand_ != last_operand_ && last_operand_ != index)
            move_operands_behind_options(argv);
        else if (last_operand_ != index)
            first_operand_ = index;
        while (index < argc && is_operand(argv[index])) ++index;
        last_operand_ = index;
    }
    // "--" is taken as the last option: it stays in front of the operands.
    if (index != argc && std::strcmp(argv[index], "--") == 0) {
        ++index;
        if (first_operand_ != last_operand_ && last_operand_ != index)
            move_operands_behind_options(argv);
        else if (first_operand_ == last_operand_)
            first_operand_ = index;
        last_operand_ = index = argc;
    }
    if (index == argc) {
        if (first_operand_ != last_operand_) index = first_operand_;
        return -1;
    }
    if (is_operand(argv[index])) return -1;  // POSIXLY_CORRECT: the options end here

    if (argv[index][1] == '-') return long_option(argc, argv, longs, messages);
    group_ = argv[index] + 1;
    return short_option(argc, argv, shorts, messages);
}

// "--name", "--name=argument" or "--name argument", where name may be any
// prefix of one long option, or of several that all mean the same.
int option_reader::long_option(int argc, char** argv, const option* longs, std::FILE* messages) {
    const char* const program = argv[0];
    const char* const name = argv[index] + 2;
    const char* const equals = std::strchr(name, '=');
    const size_t length = equals ? static_cast<size_t>(equals - name) : std::strlen(name);
    ++index;

    const option* found = nullptr;
    bool ambiguous = false;
    for (const option* o = longs; o->name != nullptr; ++o) {
        if (std::strncmp(o->name, name, length) != 0) continue;
        if (std::strlen(o->name) == length) {
            found = o;
            ambiguous = false;
            break;
        }
        if (found == nullptr)
            found = o;
        else if (!same_option(*found, *o))
            ambiguous = true;
    }
    if (ambiguous) {
        std::fprintf(messages, "%s: option '--%s' is ambiguous; possibilities:", program, name);
        for (const option* o = longs; o->name != nullptr; ++o)
            if (std::strncmp(o->name, name, length) == 0 && (o == found || !same_option(*found, *o)))
                std::fprintf(messages, " '--%s'", o->name);
        std::fputs("\n", messages);
        return '?';
    }
    if (found == nullptr) {
        std::fprintf(messages, "%s: unrecognized option '--%s'\n", program, name);
        return '?';
    }
    if (equals != nullptr) {
        if (found->has_arg == no_argument) {
            std::fprintf(messages, "%s: option '--%s' doesn't allow an argument\n", program, found->name);
            return '?';
        }
        argument = equals + 1;
    } else if (found->has_arg == required_argument) {
        if (index == argc) {
            std::fprintf(messages, "%s: option '--%s' requires an argument\n", program, found->name);
            return '?';
        }
        argument = argv[index++];
    }
    if (found->flag != nullptr) {
        *found->flag = found->val;
        return 0;
    }
    return found->val;
}

// One letter of a word of short options. An option that takes an argument
// takes the rest of the word, or else the whole next word.
int option_reader::short_option(int argc, char** argv, const char* shorts, std::FILE* messages) {
    const char* const program = argv[0];
    const char letter = *group_++;
    const char* const entry = letter == ':' ? nullptr : std::strchr(shorts, letter);
    if (*group_ == '\0') ++index;
    if (entry == nullptr) {
        std::fprintf(messages, "%s: invalid option -- '%c'\n", program, letter);
        return '?';
    }
    if (entry[1] != ':') return letter;

    const bool optional = entry[2] == ':';
    if (*group_ != '\0') {
        argument = group_;
        ++index;
    } else if (!optional) {
        if (index == argc) {
            std::fprintf(messages, "%s: option requires an argument -- '%c'\n", program, letter);
            group_ = nullptr;
            return '?';
        }
        argument = argv[index++];
    }
    group_ = nullptr;
    return letter;
}

}  // namespace vendrak
