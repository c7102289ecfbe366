#include "lsp/document.h"

#include <algorithm>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace vendrak::lsp {
namespace {

// A word of the compiler is at most 1023 bytes; a range never runs further,
// even for a quote that is never closed.
constexpr size_t longest_word = 1023;

auto place_order(const check::finding& f) { return std::tie(f.line, f.column, f.level, f.name, f.message); }
bool before(const check::finding& a, const check::finding& b) { return place_order(a) < place_order(b); }

// The VBF findings placed on the current text: each on the nearest line that
// reads as its line did, none where no line does.
std::vector<check::finding> carry(const std::vector<flash_finding>& flash, std::string_view text) {
    std::unordered_map<std::string_view, std::vector<uint32_t>> lines;
    for (const flash_finding& f : flash) lines.try_emplace(f.line_text);
    uint32_t number = 1;
    for (size_t begin = 0; begin <= text.size(); ++number) {
        const size_t end = std::min(text.find('\n', begin), text.size());
        if (auto found = lines.find(text.substr(begin, end - begin)); found != lines.end()) found->second.push_back(number);
        begin = end + 1;
    }
    std::vector<check::finding> out;
    for (const flash_finding& f : flash) {
        if (f.found.line == 0) {
            out.push_back(f.found);
            continue;
        }
        const std::vector<uint32_t>& candidates = lines[f.line_text];
        if (candidates.empty()) continue;
        auto next = std::lower_bound(candidates.begin(), candidates.end(), f.found.line);
        if (next == candidates.end() || (next != candidates.begin() && f.found.line - *std::prev(next) < *next - f.found.line))
            --next;
        out.push_back(f.found);
        out.back().line = *next;
    }
    return out;
}

}  // namespace

void document::set_text(std::string new_text) {
    text = std::move(new_text);
    ++generation;
    lines = text_index(text);
    words = scan_outline(text);
}

std::optional<size_t> document::offset_in(const text_index& lines, const json& p) {
    const json& line = p.at("line");
    const json& character = p.at("character");
    if (!line.is_number_unsigned() || !character.is_number_unsigned())
        throw invalid_params("line and character must be whole numbers from 0");
    const auto clamp = [](const json& n) { return static_cast<uint32_t>(std::min<uint64_t>(n.get<uint64_t>(), UINT32_MAX)); };
    return lines.offset_of({clamp(line), clamp(character)});
}

json document::range(size_t begin, size_t end) const {
    const position b = lines.position_of(begin);
    const position e = lines.position_of(end);
    return {{"start", {{"line", b.line}, {"character", b.character}}}, {"end", {{"line", e.line}, {"character", e.character}}}};
}

std::vector<flash_finding> flash_only(std::vector<check::finding> all, std::vector<check::finding> script_only,
                                      std::string_view text) {
    std::sort(all.begin(), all.end(), before);
    std::sort(script_only.begin(), script_only.end(), before);
    std::vector<check::finding> flash;
    std::set_difference(all.begin(), all.end(), script_only.begin(), script_only.end(), std::back_inserter(flash), before);
    // Sorted by line, so one walk over the text finds every line.
    std::vector<flash_finding> out;
    uint32_t line = 1;
    size_t begin = 0;
    for (check::finding& f : flash) {
        for (; line < f.line && begin <= text.size(); ++line) begin = std::min(text.find('\n', begin), text.size()) + 1;
        std::string_view line_text;
        if (f.line != 0 && begin <= text.size()) line_text = text.substr(begin, text.find('\n', begin) - begin);
        out.push_back({std::move(f), std::string(line_text)});
    }
    return out;
}

json diagnostics(const document& d) {
    std::vector<check::finding> all = d.script_findings;
    const std::vector<check::finding> carried = carry(d.flash_findings, d.text);
    all.insert(all.end(), carried.begin(), carried.end());
    std::stable_sort(all.begin(), all.end(), [](const check::finding& a, const check::finding& b) {
        return std::tie(a.line, a.column) < std::tie(b.line, b.column);
    });
    json list = json::array();
    for (const check::finding& f : all) {
        const size_t begin = d.lines.offset_of_place(f.line, f.column);
        const size_t end = f.line == 0 ? begin : std::min(word_end(d.text, begin), begin + longest_word);
        json diagnostic = {{"range", d.range(begin, end)},
                           {"severity", f.level == check::severity::error ? 1 : 2},
                           {"source", "vendrak"},
                           {"message", f.message}};
        if (f.level == check::severity::warning) diagnostic["code"] = check::name_of(f.name);
        list.push_back(std::move(diagnostic));
    }
    json params = {{"uri", d.uri}, {"diagnostics", std::move(list)}};
    params["version"] = d.version;
    return params;
}

}  // namespace vendrak::lsp
