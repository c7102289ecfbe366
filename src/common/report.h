// Where the checking stages send the errors they find in a script.
//
// The validator and program assembly report each error through a reporter.
// `vendrak` stops at the first one: `stop_at_first` throws it as a fatal
// error on the error stream, so the run ends exactly there. A checker that
// wants every error of a script collects them instead, and each stage then
// goes on with the next statement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/fatal.h"

namespace vendrak {

struct diagnostic {
    size_t statement = 0;  // index of the statement in the script
    uint32_t line = 0;     // the line the message names
    std::string message;   // the whole message, "[12] Error: ...\n"
};

class reporter {
public:
    virtual void report(diagnostic d) = 0;

protected:
    ~reporter() = default;
};

class stop_at_first final : public reporter {
public:
    void report(diagnostic d) override { throw fatal_error(out_stream::err, std::move(d.message)); }
};

class collect_all final : public reporter {
public:
    void report(diagnostic d) override { found.push_back(std::move(d)); }
    std::vector<diagnostic> found;
};

}  // namespace vendrak
