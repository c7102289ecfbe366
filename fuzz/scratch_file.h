// The one scratch file of a fuzzing process, removed when the process exits.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vendrak::fuzzing {

// `pattern` ends in "XXXXXX", as mkstemp wants it.
inline const char* scratch_file(const char* pattern) {
    static std::string name;
    name = pattern;
    const int fd = mkstemp(name.data());
    if (fd < 0) std::abort();
    close(fd);
    std::atexit([] { unlink(name.c_str()); });
    return name.c_str();
}

}  // namespace vendrak::fuzzing
