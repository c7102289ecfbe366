#include "check/format.h"

#include <algorithm>
#include <string>
#include <vector>

namespace vendrak::check {
namespace {

constexpr std::string_view error_rule = "error";

// The length of the valid UTF-8 sequence at `at`, or 0.
size_t utf8_length(std::string_view s, size_t at) {
    const auto b = static_cast<unsigned char>(s[at]);
    const size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 && b >= 0xC2 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n == 0 || at + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[at + k]) & 0xC0) != 0x80) return 0;
    return n;
}

// A JSON string. Messages are bytes as the script holds them; a byte that is
// not part of valid UTF-8 becomes U+FFFD.
std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const char c = s[i];
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
            out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : escaped;
        } else if (b >= 0x80) {
            const size_t n = utf8_length(s, i);
            if (n == 0) {
                out += "\\ufffd";
                ++i;
                continue;
            }
            out.append(s, i, n);
            i += n;
            continue;
        } else {
            out += c;
        }
        ++i;
    }
    return out + '"';
}

std::string_view severity_name(severity s) { return s == severity::error ? "error" : "warning"; }

// One line each: control characters would break the line a problem matcher
// reads, so they are shown as \xNN.
void write_gnu(std::FILE* out, const checked_script& s) {
    for (const finding& f : s.findings) {
        char place[32] = "";
        if (f.line != 0) std::snprintf(place, sizeof place, ":%u:%u", f.line, f.column);
        std::string line = s.name;
        line += place;
        line += ": ";
        line += severity_name(f.level);
        line += ": ";
        for (const char c : f.message) {
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
                line += escaped;
            } else {
                line += c;
            }
        }
        if (f.level == severity::warning) line += " [-W" + std::string(name_of(f.name)) + "]";
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    }
}

std::string json_object(const checked_script& s, const finding& f) {
    const std::string line = f.line == 0 ? "null" : std::to_string(f.line);
    const std::string column = f.line == 0 ? "null" : std::to_string(f.column);
    return "  {\"file\": " + json_string(s.name) + ", \"line\": " + line + ", \"column\": " + column +
           ", \"severity\": \"" + std::string(severity_name(f.level)) + "\", \"name\": " +
           (f.level == severity::warning ? json_string(name_of(f.name)) : "null") +
           ", \"message\": " + json_string(f.message) + "}";
}

// A file name as a URI reference: relative names stay relative, with every
// byte but the unreserved ones and "/" percent-encoded; absolute names
// become file: URIs.
std::string uri_of(std::string_view name) {
    std::string uri = name.starts_with('/') ? "file://" : "";
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || c == '-' ||
                           c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            uri += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", b);
            uri += escaped;
        }
    }
    return uri;
}

// SARIF counts columns in UTF-16 code units; findings count bytes.
class utf16_columns {
public:
    explicit utf16_columns(std::string_view text) : text_(text) {
        line_starts_.push_back(0);
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n') line_starts_.push_back(i + 1);
    }

    uint32_t column(uint32_t line, uint32_t byte_column) const {
        if (line == 0 || line > line_starts_.size() || byte_column == 0) return std::max<uint32_t>(byte_column, 1);
        const size_t start = line_starts_[line - 1];
        const size_t end = std::min(text_.size(), start + byte_column - 1);
        uint32_t units = 1;
        for (size_t i = start; i < end;) {
            const size_t n = utf8_length(text_, i);
            units += n == 4 ? 2 : 1;
            i += n == 0 ? 1 : n;
        }
        return units;
    }

private:
    std::string_view text_;
    std::vector<size_t> line_starts_;
};

std::string sarif_head() {
    std::string text =
        "{\n"
        "  \"$schema\": \"https://json.schemastore.org/sarif-2.1.0.json\",\n"
        "  \"version\": \"2.1.0\",\n"
        "  \"runs\": [\n"
        "    {\n"
        "      \"tool\": {\n"
        "        \"driver\": {\n"
        "          \"name\": \"vendrak-check\",\n"
        "          \"version\": \"" VENDRAK_VERSION "\",\n"
        "          \"rules\": [\n";
    auto rule = [&](std::string_view id, std::string_view summary, std::string_view level, bool last) {
        text += "            {\"id\": " + json_string(id) + ", \"shortDescription\": {\"text\": " + json_string(summary) +
                "}, \"defaultConfiguration\": {\"level\": \"" + std::string(level) + "\"}}" + (last ? "\n" : ",\n");
    };
    rule(error_rule, "errors that make vendrak refuse the script", "error", false);
    for (size_t i = 0; i < warning_count; ++i)
        rule(warning_table()[i].name, warning_table()[i].summary, "warning", i + 1 == warning_count);
    return text +
           "          ]\n"
           "        }\n"
           "      },\n"
           "      \"columnKind\": \"utf16CodeUnits\",\n"
           "      \"results\": [";
}

// One result; its rule is the warning, or "error" (rule 0).
std::string sarif_result(const checked_script& s, const utf16_columns& columns, const finding& f) {
    const bool warned = f.level == severity::warning;
    std::string text = "        {\"ruleId\": " + json_string(warned ? name_of(f.name) : error_rule) +
                       ", \"ruleIndex\": " + std::to_string(warned ? static_cast<size_t>(f.name) + 1 : 0) +
                       ", \"level\": \"" + std::string(severity_name(f.level)) + "\", \"message\": {\"text\": " +
                       json_string(f.message) + "}, \"locations\": [{\"physicalLocation\": {\"artifactLocation\": {\"uri\": " +
                       json_string(uri_of(s.name)) + "}";
    if (f.line != 0)
        text += ", \"region\": {\"startLine\": " + std::to_string(f.line) +
                ", \"startColumn\": " + std::to_string(columns.column(f.line, f.column)) + "}";
    return text + "}}]}";
}

}  // namespace

std::optional<output_format> format_named(std::string_view name) {
    if (name == "gnu") return output_format::gnu;
    if (name == "json") return output_format::json;
    if (name == "sarif") return output_format::sarif;
    return std::nullopt;
}

findings_writer::findings_writer(std::FILE* out, output_format format) : out_(out), format_(format) {
    if (format_ == output_format::json) put("[");
    if (format_ == output_format::sarif) put(sarif_head());
}

void findings_writer::add(const checked_script& s) {
    if (format_ == output_format::gnu) return write_gnu(out_, s);
    std::string text;
    const utf16_columns columns(format_ == output_format::sarif ? std::string_view(s.text) : std::string_view());
    for (const finding& f : s.findings) {
        text += empty_ ? "\n" : ",\n";
        empty_ = false;
        text += format_ == output_format::json ? json_object(s, f) : sarif_result(s, columns, f);
    }
    put(text);
}

void findings_writer::finish() {
    if (format_ == output_format::json) put(empty_ ? "]\n" : "\n]\n");
    if (format_ == output_format::sarif) put(std::string(empty_ ? "]\n" : "\n      ]\n") + "    }\n  ]\n}\n");
}

void findings_writer::put(const std::string& text) { std::fwrite(text.data(), 1, text.size(), out_); }

void write_findings(std::FILE* out, output_format format, std::span<const checked_script> scripts) {
    findings_writer writer(out, format);
    for (const checked_script& s : scripts) writer.add(s);
    writer.finish();
}

}  // namespace vendrak::check
