// The findings of checked scripts as text for people, editors and services.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "check/check.h"

namespace vendrak::check {

enum class output_format {
    // file:line:column: error: text
    // file:line:column: warning: text [-Wname]
    // as gcc prints them, which every editor's problem matcher reads.
    gnu,
    // A JSON array of objects: file, line, column, severity, name, message.
    json,
    // One SARIF 2.1.0 log with one run, for code-scanning services.
    sarif,
};

std::optional<output_format> format_named(std::string_view name);

// Writes the findings of one script after another, as they are checked:
// only the script at hand is held.
class findings_writer {
public:
    findings_writer(std::FILE* out, output_format format);
    void add(const checked_script& s);
    // Closes the JSON array or the SARIF log.
    void finish();

private:
    void put(const std::string& text);

    std::FILE* out_;
    output_format format_;
    bool empty_ = true;
};

void write_findings(std::FILE* out, output_format format, std::span<const checked_script> scripts);

}  // namespace vendrak::check
