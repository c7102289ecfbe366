#include "lsp/document.h"

#include <algorithm>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "parser/parser.h"
#include "parser/vocabulary.h"

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

void document::read() {
    if (read_generation == generation) return;
    read_generation = generation;
    script_positions positions;
    bool whole = true;
    try {
        parse_script_text(text, &positions);
    } catch (const std::exception&) {
        whole = false;
    }
    auto offset_of_token = [&](size_t token) {
        return lines.offset_of_place(positions.tokens[token].line, positions.tokens[token].column);
    };
    // Where the compiler's reading ends: the first token of the statement it
    // refused.
    size_t reached = text.size();
    if (!whole) {
        const size_t next = positions.statements.empty() ? 0 : positions.statements.back().end;
        reached = next < positions.tokens.size() ? offset_of_token(next) : 0;
    }
    // The word a token of the compiler begins; none for a token that a
    // DEFINE name stands for, whose text in the file is the name.
    auto word_of = [&](uint32_t token) -> std::optional<size_t> {
        const size_t k = words.word_at(offset_of_token(token));
        if (k == words.words.size() || words.words[k].begin != offset_of_token(token)) return std::nullopt;
        if (word_text(text, words.words[k]) != positions.text(token)) return std::nullopt;
        return k;
    };
    std::vector<symbol> labels, jumps;
    auto add = [&](std::vector<symbol>& to, uint32_t token) {
        if (const auto k = word_of(token))
            to.push_back({std::string(label_name(word_text(text, words.words[*k]))), *k, words.words[*k].end});
    };
    for (const script_positions::range& s : positions.statements) {
        if (s.first >= s.end) continue;
        const std::string_view first = positions.text(s.first);
        const cmd_kind kind = vocabulary::statement_kind(first);
        if ((kind == CMD_GOTO || kind == CMD_GOSUB) && s.first + 1 < s.end)
            add(jumps, s.first + 1);
        else if (kind == 0 && first.size() > 1 && first.back() == ':')
            add(labels, s.first);
    }
    auto rest = [&](std::vector<symbol>& to, const std::vector<symbol>& scanned) {
        for (const symbol& s : scanned)
            if (words.words[s.word].begin >= reached) to.push_back(s);
    };
    rest(labels, words.labels);
    rest(jumps, words.jumps);
    words.labels = std::move(labels);
    words.jumps = std::move(jumps);
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

json document::word_range(uint32_t line, uint32_t column) const {
    const size_t begin = lines.offset_of_place(line, column);
    const size_t end = line == 0 ? begin : std::min(word_end(text, begin), begin + longest_word);
    return range(begin, end);
}

json diagnostic(const document& d, const check::finding& f) {
    json out = {{"range", d.word_range(f.line, f.column)},
                {"severity", f.level == check::severity::error ? 1 : 2},
                {"source", "vendrak"},
                {"message", f.message}};
    if (f.level == check::severity::warning) out["code"] = check::name_of(f.name);
    // Where the cause stands, or what the finding names is defined.
    json related = json::array();
    for (const check::note& n : f.notes)
        related.push_back({{"location", {{"uri", d.uri}, {"range", d.word_range(n.line, n.column)}}}, {"message", n.message}});
    if (!related.empty()) out["relatedInformation"] = std::move(related);
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
    for (const check::finding& f : all) list.push_back(diagnostic(d, f));
    json params = {{"uri", d.uri}, {"diagnostics", std::move(list)}};
    params["version"] = d.version;
    return params;
}

}  // namespace vendrak::lsp
