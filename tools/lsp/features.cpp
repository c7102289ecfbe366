// Hover, definitions, references, completion and symbols: all from the
// outline of the text as it stands, so they work in a script that does not
// compile yet.
#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_set>

#include "lsp/document.h"
#include "lsp/help.h"
#include "parser/vocabulary.h"

namespace vendrak::lsp {
namespace {

namespace words = vocabulary;

// The protocol's numbers for the kinds of symbols and completion items.
enum symbol_kind { symbol_function = 12, symbol_constant = 14 };
enum item_kind { item_function = 3, item_keyword = 14, item_enum_member = 20, item_constant = 21 };

std::string_view raw(const document& d, size_t k) {
    const word& w = d.words.words[k];
    return std::string_view(d.text).substr(w.begin, w.end - w.begin);
}

bool is_keyword(const document& d, size_t k, std::string_view keyword) {
    return d.words.words[k].kind == word::name && words::same_word(raw(d, k), keyword);
}

// A name word that reads `name`, letter case and all.
bool is_name(const document& d, size_t k, std::string_view name) {
    const std::string_view r = raw(d, k);
    if (d.words.words[k].kind != word::name) return false;
    return r.find('\r') == r.npos ? r == name : word_text(d.text, d.words.words[k]) == name;
}

// The symbol of `list` (ordered by word) that sits at word `k`, or null.
const symbol* symbol_at(const std::vector<symbol>& list, size_t k) {
    auto found = std::lower_bound(list.begin(), list.end(), k, [](const symbol& s, size_t w) { return s.word < w; });
    return found != list.end() && found->word == k ? &*found : nullptr;
}

json location(const document& d, size_t begin, size_t end) { return {{"uri", d.uri}, {"range", d.range(begin, end)}}; }

// A label's range is its name, without the colon.
json symbol_location(const document& d, const symbol& s) {
    const size_t begin = d.words.words[s.word].begin;
    return location(d, begin, begin + s.name.size());
}

// The DEFINE line of a name as written: "DEFINE SPEED 500000".
std::string define_text(const document& d, const symbol& s) {
    const size_t begin = s.word > 0 ? d.words.words[s.word - 1].begin : d.words.words[s.word].begin;
    return d.text.substr(begin, s.end - begin);
}

std::string plain(std::string_view markdown) {
    std::string out(markdown);
    std::erase(out, '`');
    return out;
}

json item(std::string label, int kind) { return {{"label", std::move(label)}, {"kind", kind}}; }

// Words offered in the letter case of what has been typed of them.
std::string in_case_of(std::string_view word, bool lower) {
    std::string out(word);
    if (lower) std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

}  // namespace

// A word is replaced by the last DEFINE of its name whose value ends before
// it (inside its own value a name still has its old value); a word that no
// DEFINE replaces is a label when it is one or a jump names it.
meaning meaning_at(const document& d, size_t offset) {
    const size_t k = d.words.word_at(offset);
    if (k == d.words.words.size() || d.words.words[k].kind != word::name) return {};
    const std::string text = word_text(d.text, d.words.words[k]);
    const symbol* in_force = nullptr;
    for (const symbol& s : d.words.defines) {
        if (s.word > k) break;
        if (s.name != text) continue;
        if (s.word == k) {
            in_force = &s;  // the name being defined
            break;
        }
        if (s.end <= d.words.words[k].begin) in_force = &s;
    }
    if (in_force) return {meaning::define, text, in_force};
    const symbol* at = symbol_at(d.words.labels, k);
    if (!at) at = symbol_at(d.words.jumps, k);
    if (!at) return {};
    // Jumps go to the first label of a name.
    auto first = std::find_if(d.words.labels.begin(), d.words.labels.end(), [&](const symbol& s) { return s.name == at->name; });
    return {meaning::label, at->name, first == d.words.labels.end() ? nullptr : &*first};
}

json hover(const document& d, size_t offset, bool markdown) {
    const size_t k = d.words.word_at(offset);
    if (k == d.words.words.size() || d.words.words[k].kind != word::name) return nullptr;
    const word& w = d.words.words[k];
    std::string value;
    const meaning m = meaning_at(d, offset);
    if (m.what == meaning::define) {
        const std::string line = define_text(d, *m.definition);
        value = markdown ? "```vsc\n" + line + "\n```" : line;
    } else if (m.what == meaning::label) {
        // A label, or a word a jump takes as one, even a keyword's.
        value = markdown ? "label `" + m.name + "`" : "label " + m.name;
        value += m.definition ? ", line " + std::to_string(d.lines.position_of(d.words.words[m.definition->word].begin).line + 1)
                              : ": not in the script";
    } else if (const auto help = help_for(raw(d, k))) {
        value = markdown ? "```vsc\n" + help->syntax + "\n```\n" + std::string(help->summary)
                         : help->syntax + "\n\n" + plain(help->summary);
    } else {
        return nullptr;
    }
    return {{"contents", {{"kind", markdown ? "markdown" : "plaintext"}, {"value", value}}}, {"range", d.range(w.begin, w.end)}};
}

json definition(const document& d, size_t offset) {
    const meaning m = meaning_at(d, offset);
    return m.definition ? symbol_location(d, *m.definition) : json(nullptr);
}

json references(const document& d, size_t offset, bool with_declarations) {
    const meaning m = meaning_at(d, offset);
    json out = json::array();
    if (m.what == meaning::label) {
        // Labels and jumps in the order they stand.
        auto label = d.words.labels.begin();
        for (const symbol& jump : d.words.jumps) {
            for (; with_declarations && label != d.words.labels.end() && label->word < jump.word; ++label)
                if (label->name == m.name) out.push_back(symbol_location(d, *label));
            if (jump.name == m.name) out.push_back(symbol_location(d, jump));
        }
        for (; with_declarations && label != d.words.labels.end(); ++label)
            if (label->name == m.name) out.push_back(symbol_location(d, *label));
    } else if (m.what == meaning::define) {
        // Every word of the name from its first DEFINE on.
        const symbol& first = *std::find_if(d.words.defines.begin(), d.words.defines.end(),
                                            [&](const symbol& s) { return s.name == m.name; });
        for (size_t k = first.word; k < d.words.words.size(); ++k) {
            const word& w = d.words.words[k];
            if (!is_name(d, k, m.name)) continue;
            if (!with_declarations && symbol_at(d.words.defines, k)) continue;
            out.push_back(location(d, w.begin, w.end));
        }
    }
    return out;
}

json symbols(const document& d, bool hierarchical) {
    json out = json::array();
    auto add = [&](const symbol& s, int kind, size_t begin, size_t end) {
        const size_t name_begin = d.words.words[s.word].begin;
        const json selection = d.range(name_begin, name_begin + s.name.size());
        if (hierarchical)
            out.push_back({{"name", s.name}, {"kind", kind}, {"range", d.range(begin, end)}, {"selectionRange", selection}});
        else
            out.push_back({{"name", s.name}, {"kind", kind}, {"location", {{"uri", d.uri}, {"range", selection}}}});
    };
    auto label = d.words.labels.begin();
    auto define = d.words.defines.begin();
    while (label != d.words.labels.end() || define != d.words.defines.end()) {
        if (define == d.words.defines.end() || (label != d.words.labels.end() && label->word < define->word)) {
            const word& w = d.words.words[label->word];
            add(*label++, symbol_function, w.begin, w.end);
        } else {
            // A DEFINE runs from its keyword to the end of its value.
            const size_t begin = d.words.words[define->word > 0 ? define->word - 1 : define->word].begin;
            add(*define, symbol_constant, begin, define->end);
            ++define;
        }
    }
    return out;
}

json completion(const document& d, size_t offset) {
    json items = json::array();
    if (d.words.in_comment(offset)) return items;
    const size_t count = d.words.words.size();
    // The word being typed, if any, and the two words before it.
    size_t k = d.words.word_at(offset);
    std::string_view typed;
    if (k != count) {
        const word& w = d.words.words[k];
        const bool closed = w.end - w.begin >= 2 && d.text[w.end - 1] == d.text[w.begin];
        if (w.kind == word::quoted && offset > w.begin && (offset < w.end || !closed)) return items;  // in a string
        if (w.kind == word::name && offset > w.begin) typed = std::string_view(d.text).substr(w.begin, offset - w.begin);
        if (w.kind != word::name || offset == w.begin) k = w.begin < offset ? k + 1 : k;
    } else {
        k = static_cast<size_t>(std::lower_bound(d.words.words.begin(), d.words.words.end(), offset,
                                                 [](const word& w, size_t o) { return w.begin < o; }) -
                                d.words.words.begin());
    }
    const bool lower = !typed.empty() && typed[0] >= 'a' && typed[0] <= 'z';
    const size_t none = count;
    const size_t prev1 = k >= 1 ? k - 1 : none, prev2 = k >= 2 ? k - 2 : none;

    auto offer_choice = [&](const words::choice& c) {
        for (std::string_view w : c.words) items.push_back(item(in_case_of(w, lower), item_enum_member));
    };
    auto statement_of = [&](size_t i) -> const words::statement* {
        if (i == none || d.words.words[i].kind != word::name) return nullptr;
        const cmd_kind kind = words::statement_kind(raw(d, i));
        return kind == 0 ? nullptr : &words::statements[kind];
    };

    if (prev1 != none && is_keyword(d, prev1, words::define_keyword)) return items;  // a new name
    if (prev1 != none && (is_keyword(d, prev1, "GOTO") || is_keyword(d, prev1, "GOSUB"))) {
        std::unordered_set<std::string_view> seen;
        for (const symbol& s : d.words.labels)
            if (seen.insert(s.name).second) items.push_back(item(s.name, item_function));
        return items;
    }
    // Choice slots follow their keyword: LED color state.
    if (const words::statement* s = statement_of(prev2); s && !s->choices.empty() && s->choices[0]->code(raw(d, prev1)) != 0) {
        if (s->choices.size() > 1) {
            offer_choice(*s->choices[1]);
            return items;
        }
    } else if (const words::statement* s = statement_of(prev1); s && !s->choices.empty()) {
        offer_choice(*s->choices[0]);
        return items;
    }

    for (const words::statement& s : words::statements) {
        if (s.keyword.empty()) continue;
        json keyword = item(in_case_of(s.keyword, lower), item_keyword);
        if (const auto help = help_for(s.keyword)) {
            keyword["detail"] = help->syntax.substr(0, help->syntax.find('\n'));
            keyword["documentation"] = plain(help->summary);
        }
        items.push_back(std::move(keyword));
    }
    items.push_back(item(in_case_of(words::define_keyword, lower), item_keyword));
    std::unordered_set<std::string_view> seen;
    for (const symbol& s : d.words.defines) {
        if (d.words.words[s.word].begin >= offset) break;
        if (seen.insert(s.name).second) items.push_back(item(s.name, item_constant));
    }
    return items;
}

}  // namespace vendrak::lsp
