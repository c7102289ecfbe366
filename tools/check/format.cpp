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
void put_escaped(std::string& line, std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            line += escaped;
        } else {
            line += c;
        }
    }
}

std::string gnu_place(const std::string& file, uint32_t line, uint32_t column) {
    char place[32] = "";
    if (line != 0) std::snprintf(place, sizeof place, ":%u:%u", line, column);
    return file + place + ": ";
}

// Each finding, then its notes as gcc prints them: "file:line:column: note: text".
void write_gnu(std::FILE* out, const checked_script& s) {
    for (const finding& f : s.findings) {
        std::string line = gnu_place(s.name, f.line, f.column);
        line += severity_name(f.level);
        line += ": ";
        put_escaped(line, f.message);
        if (f.level == severity::warning) line += " [-W" + std::string(name_of(f.name)) + "]";
        line += '\n';
        for (const note& n : f.notes) {
            line += gnu_place(s.name, n.line, n.column) + "note: ";
            put_escaped(line, n.message);
            line += '\n';
        }
        std::fwrite(line.data(), 1, line.size(), out);
    }
}

std::string json_notes(const finding& f) {
    std::string text = "[";
    for (const note& n : f.notes)
        text += std::string(text.size() > 1 ? ", " : "") + "{\"line\": " + std::to_string(n.line) +
                ", \"column\": " + std::to_string(n.column) + ", \"message\": " + json_string(n.message) + "}";
    return text + "]";
}

std::string json_fix(const finding& f) {
    std::string text = "[";
    for (const edit& e : f.fix)
        text += std::string(text.size() > 1 ? ", " : "") + "{\"line\": " + std::to_string(e.line) +
                ", \"column\": " + std::to_string(e.column) + ", \"end_line\": " + std::to_string(e.end_line) +
                ", \"end_column\": " + std::to_string(e.end_column) + ", \"text\": " + json_string(e.text) + "}";
    return text + "]";
}

std::string json_object(const checked_script& s, const finding& f) {
    const std::string line = f.line == 0 ? "null" : std::to_string(f.line);
    const std::string column = f.line == 0 ? "null" : std::to_string(f.column);
    return "  {\"file\": " + json_string(s.name) + ", \"line\": " + line + ", \"column\": " + column +
           ", \"severity\": \"" + std::string(severity_name(f.level)) + "\", \"name\": " +
           (f.level == severity::warning ? json_string(name_of(f.name)) : "null") +
           ", \"message\": " + json_string(f.message) + ", \"notes\": " + json_notes(f) + ", \"fix\": " + json_fix(f) + "}";
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
        const size_t line_end = line < line_starts_.size() ? line_starts_[line] - 1 : text_.size();
        const size_t end = std::min(line_end, start + byte_column - 1);
        // A column past the line's end (an edit that appends) counts on.
        uint32_t units = 1 + static_cast<uint32_t>(start + byte_column - 1 - end);
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

std::string sarif_region(const utf16_columns& columns, uint32_t line, uint32_t column) {
    return "\"region\": {\"startLine\": " + std::to_string(line) +
           ", \"startColumn\": " + std::to_string(columns.column(line, column)) + "}";
}

// One result; its rule is the warning, or "error" (rule 0). Notes become
// related locations, the fix one SARIF fix of replacements.
std::string sarif_result(const checked_script& s, const utf16_columns& columns, const finding& f) {
    const bool warned = f.level == severity::warning;
    const std::string uri = json_string(uri_of(s.name));
    std::string text = "        {\"ruleId\": " + json_string(warned ? name_of(f.name) : error_rule) +
                       ", \"ruleIndex\": " + std::to_string(warned ? static_cast<size_t>(f.name) + 1 : 0) +
                       ", \"level\": \"" + std::string(severity_name(f.level)) + "\", \"message\": {\"text\": " +
                       json_string(f.message) + "}, \"locations\": [{\"physicalLocation\": {\"artifactLocation\": {\"uri\": " +
                       uri + "}";
    if (f.line != 0) text += ", " + sarif_region(columns, f.line, f.column);
    text += "}}]";
    if (!f.notes.empty()) {
        text += ", \"relatedLocations\": [";
        for (size_t k = 0; k < f.notes.size(); ++k) {
            const note& n = f.notes[k];
            text += std::string(k ? ", " : "") + "{\"id\": " + std::to_string(k) +
                    ", \"physicalLocation\": {\"artifactLocation\": {\"uri\": " + uri + "}";
            if (n.line != 0) text += ", " + sarif_region(columns, n.line, n.column);
            text += "}, \"message\": {\"text\": " + json_string(n.message) + "}}";
        }
        text += "]";
    }
    if (!f.fix.empty()) {
        text += ", \"fixes\": [{\"description\": {\"text\": " + json_string(f.message) +
                "}, \"artifactChanges\": [{\"artifactLocation\": {\"uri\": " + uri + "}, \"replacements\": [";
        for (size_t k = 0; k < f.fix.size(); ++k) {
            const edit& e = f.fix[k];
            text += std::string(k ? ", " : "") + "{\"deletedRegion\": {\"startLine\": " + std::to_string(e.line) +
                    ", \"startColumn\": " + std::to_string(columns.column(e.line, e.column)) +
                    ", \"endLine\": " + std::to_string(e.end_line) +
                    ", \"endColumn\": " + std::to_string(columns.column(e.end_line, e.end_column)) +
                    "}, \"insertedContent\": {\"text\": " + json_string(e.text) + "}}";
        }
        text += "]}]}]";
    }
    return text + "}";
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
