#include "parser/vocabulary.h"

#include <array>

namespace vendrak::vocabulary {
namespace {

// Words by their text in an open-addressing hash table built at compile
// time, so that finding the keyword of a token costs one hash and about one
// comparison, not a walk through every keyword.
template <size_t Slots>
class word_index {
public:
    constexpr void add(std::string_view word, uint32_t code) {
        if (word.empty()) return;
        size_t slot = hash(word) % Slots;
        while (!slots_[slot].word.empty()) slot = (slot + 1) % Slots;
        slots_[slot] = {word, static_cast<uint8_t>(code)};
        ++count_;
    }

    constexpr size_t count() const { return count_; }

    // The code of `text` (ASCII case ignored), or 0.
    constexpr uint8_t find(std::string_view text) const {
        for (size_t slot = hash(text) % Slots;; slot = (slot + 1) % Slots) {
            const entry& e = slots_[slot];
            if (e.word.empty()) return 0;
            if (same_word(e.word, text)) return e.code;
        }
    }

private:
    struct entry {
        std::string_view word;
        uint8_t code = 0;
    };

    // FNV-1a over the upper-case letters.
    static constexpr size_t hash(std::string_view text) {
        uint32_t h = 2166136261u;
        for (const char c : text) h = (h ^ static_cast<uint8_t>(ascii_upper(c))) * 16777619u;
        return h;
    }

    std::array<entry, Slots> slots_{};
    size_t count_ = 0;
};

constexpr auto statement_index = [] {
    word_index<128> index;
    for (const statement& s : statements) index.add(s.keyword, s.kind);
    return index;
}();
static_assert(statement_index.count() < 128 / 2, "the table stays at most half full");
static_assert(statement_index.find("prognc") == CMD_PROGNC && statement_index.find("VAR") == CMD_VAR);

constexpr auto operand_index = [] {
    word_index<64> index;
    for (size_t kind = 0; kind < std::size(operand_words); ++kind) index.add(operand_words[kind], kind);
    return index;
}();
static_assert(operand_index.count() < 64 / 2, "the table stays at most half full");
static_assert(operand_index.find("Dtcval") == EXPR_DTCVAL && operand_index.find("VAR") == EXPR_NONE);

}  // namespace

cmd_kind statement_kind(std::string_view text) { return static_cast<cmd_kind>(statement_index.find(text)); }

expr_kind operand_kind(std::string_view text) { return static_cast<expr_kind>(operand_index.find(text)); }

}  // namespace vendrak::vocabulary
