// The words of the script language: every statement keyword, choice word,
// operand word, comparison and operator, spelled once. The parser reads
// them, the listing and the decompiler write them, and an editor can offer
// them: each statement lists the choice words its slots accept, in order.
//
// Words are matched without regard to ASCII case; they are written as they
// stand here.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "parser/script.h"

namespace vendrak::vocabulary {

constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool same_word(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    return true;
}

// The choice words of one slot of a statement; the word of code 1 first.
// `slot` is how messages name the slot: "Unknown LED <color>".
struct choice {
    std::string_view slot;
    std::span<const std::string_view> words;

    // The word of `code`; "" for a code without one.
    constexpr std::string_view word(uint32_t code) const {
        return code >= 1 && code <= words.size() ? words[code - 1] : std::string_view{};
    }
    // The code of `text`, or 0 when it is none of the words.
    constexpr uint32_t code(std::string_view text) const {
        for (size_t i = 0; i < words.size(); ++i)
            if (same_word(words[i], text)) return static_cast<uint32_t>(i + 1);
        return 0;
    }
};

inline constexpr std::string_view dat_type_words[] = {"VIN", "DID"};
inline constexpr std::string_view protocol_words[] = {"ISO14229", "KWP2000"};
inline constexpr std::string_view did_operation_words[] = {"SAVE", "RECALL", "COMPARE", "WRITE", "MODIFY"};
inline constexpr std::string_view method_words[] = {"A", "B"};
inline constexpr std::string_view color_words[] = {"GREEN", "RED"};
inline constexpr std::string_view state_words[] = {"ON", "OFF", "TOGGLE"};
inline constexpr std::string_view log_mode_words[] = {"FILE", "NEW", "ADD"};
inline constexpr std::string_view network_words[] = {"CAN_HS", "CAN_MS", "CAN_FD_HS", "CAN_FD_MS", "LIN"};
inline constexpr std::string_view message_type_words[] = {"SID", "MSG"};
inline constexpr std::string_view parameter_words[] = {"TERMINATION", "INTERFRAME", "BS_TX", "STMIN_TX",
                                                       "VPROG",       "AMPS",       "IGN_LINE", "VOLTS"};

inline constexpr choice dat_types{"<type>", dat_type_words};
inline constexpr choice protocols{"<type>", protocol_words};
inline constexpr choice did_operations{"<operation>", did_operation_words};
inline constexpr choice methods{"<method>", method_words};
inline constexpr choice colors{"<color>", color_words};
// The message has always named this slot so.
inline constexpr choice states{">state>", state_words};
inline constexpr choice log_modes{"<type>", log_mode_words};
inline constexpr choice networks{"<type>", network_words};
inline constexpr choice message_types{"<type>", message_type_words};
inline constexpr choice parameters{"<type>", parameter_words};

static_assert(dat_types.code("did") == DAT_DID && protocols.code("KWP2000") == DIAG_KWP2000);
static_assert(did_operations.code("MODIFY") == DID_MODIFY && methods.code("b") == METHOD_B);
static_assert(colors.code("RED") == LED_RED && states.code("TOGGLE") == LED_TOGGLE);
static_assert(log_modes.code("ADD") == LOG_ADD && networks.code("LIN") == NET_LIN);
static_assert(message_types.code("MSG") == MSG_MSG && parameters.code("VOLTS") == PARAM_VOLTS);

// A statement: its keyword and the choice slots it has, in order. Labels
// have no keyword.
struct statement {
    cmd_kind kind;
    std::string_view keyword;
    std::span<const choice* const> choices = {};
};

inline constexpr const choice* dat_slots[] = {&dat_types};
inline constexpr const choice* diag_slots[] = {&protocols};
inline constexpr const choice* did_slots[] = {&did_operations};
inline constexpr const choice* method_slots[] = {&methods};
inline constexpr const choice* led_slots[] = {&colors, &states};
inline constexpr const choice* log_slots[] = {&log_modes};
inline constexpr const choice* net_slots[] = {&networks};
inline constexpr const choice* message_slots[] = {&message_types};
inline constexpr const choice* parameter_slots[] = {&parameters};

// Indexed by kind.
inline constexpr statement statements[] = {
    {cmd_kind{}, ""},
    {CMD_DAT_CREATE, "DAT_CREATE", dat_slots},
    {CMD_DAT_CHECK, "DAT_CHECK", dat_slots},
    {CMD_DAT_DELETE, "DAT_DELETE", dat_slots},
    {CMD_DAT_INIT, "DAT_INIT", dat_slots},
    {CMD_DELAY, "DELAY"},
    {CMD_DIAG, "DIAG", diag_slots},
    {CMD_DID, "DID", did_slots},
    {CMD_DO, "DO"},
    {CMD_ELSE, "ELSE"},
    {CMD_ENDDO, "ENDDO"},
    {CMD_ENDIF, "ENDIF"},
    {CMD_EXHALE, "EXHALE", method_slots},
    {CMD_EXEC, "EXEC"},
    {CMD_EXIT, "EXIT"},
    {CMD_FW_VERSION, "FW_VERSION"},
    {CMD_GETKEY, "GETKEY"},
    {CMD_GETTIME, "GETTIME"},
    {CMD_HLCD, "HLCD"},
    {CMD_HUD, "HUD"},
    {CMD_IF, "IF"},
    {CMD_INHALE, "INHALE", method_slots},
    {CMD_LCD, "LCD"},
    {CMD_LED, "LED", led_slots},
    {CMD_LOG, "LOG", log_slots},
    {CMD_NET, "NET", net_slots},
    {CMD_PERIODIC, "PERIODIC", message_slots},
    {CMD_PROG, "PROG"},
    {CMD_PROGNC, "PROGNC"},
    {CMD_PROGNR, "PROGNR"},
    {CMD_READ, "READ", message_slots},
    {CMD_SECURITY, "SECURITY"},
    {CMD_VERSION, "VERSION"},
    {CMD_VIN_VERIFY, "VIN_VERIFY"},
    {CMD_WAITKEY, "WAITKEY"},
    {CMD_WHILE, "WHILE"},
    {CMD_WRITE, "WRITE", message_slots},
    {CMD_REQUEST, "REQUEST"},
    {CMD_SET_VALUE, "SET_VALUE", parameter_slots},
    {CMD_GOTO, "GOTO"},
    {CMD_LABEL, ""},
    {CMD_VAR, "VAR"},
    {CMD_RETURN, "RETURN"},
    {CMD_GOSUB, "GOSUB"},
    {CMD_UPLOAD, "UPLOAD"},
    {CMD_MEM, "MEM"},
    {CMD_DOWNLOAD, "DOWNLOAD"},
    {CMD_REQ_FILE, "REQ_FILE"},
};

constexpr bool indexed_by_kind() {
    for (size_t k = 1; k < std::size(statements); ++k)
        if (statements[k].kind != k) return false;
    return std::size(statements) == CMD_LAST + 1;
}
static_assert(indexed_by_kind(), "every kind has its row, in kind order");

// The keyword of a kind; "" for labels and for a number that is no kind.
constexpr std::string_view keyword(uint32_t kind) {
    return kind < std::size(statements) ? statements[kind].keyword : std::string_view{};
}

// The kind whose keyword `text` is, or 0.
cmd_kind statement_kind(std::string_view text);

// The keyword that begins a definition; it makes no statement of its own.
inline constexpr std::string_view define_keyword = "DEFINE";

// Operand words by expression kind: the word of a kind that is written as
// one word, or the word before the bracketed range "[offset,length]" of a
// ranged kind. "" for the kinds written otherwise: numbers, strings, arrays,
// VAR[n] and floats.
inline constexpr std::string_view operand_words[] = {
    "",       "",      "DATA",   "TEXT",  "VBAT",       "KEY",  "",         "ENTER", "ESCAPE",
    "UP",     "DOWN",  "LEFT",   "RIGHT", "ANY",        "HEX",  "BIT",      "",      "TIME",
    "FLOAT",  "DTC",   "DAC",    "CH1",   "CH2",        "P_TIME", "",       "",      "NIL",
    "UDATA",  "DTCVAL", "SERNUM", "DAT_STATUS", "AMPS", "IGN_LINE", "VOLTS", "RTC",
};
static_assert(std::size(operand_words) == EXPR_LAST + 1);

// The operand `VAR[n]` begins with the same word as the statement.
inline constexpr std::string_view var_word = "VAR";

constexpr bool is_ranged(uint32_t kind) {
    return kind == EXPR_DATA || kind == EXPR_TEXT || kind == EXPR_HEX || kind == EXPR_BIT || kind == EXPR_FLOAT ||
           kind == EXPR_UDATA;
}

constexpr std::string_view operand_word(uint32_t kind) {
    return kind < std::size(operand_words) ? operand_words[kind] : std::string_view{};
}

// The expression kind whose word `text` is, or EXPR_NONE.
expr_kind operand_kind(std::string_view text);

// A symbol and its code.
struct symbol {
    std::string_view text;
    uint32_t code;
};

// The comparisons of a condition. TEST_NE has two spellings: the listing
// shows a code by its first, the decompiler writes its last ("!=").
inline constexpr symbol comparisons[] = {
    {"=", TEST_EQ}, {"!", TEST_NE}, {"!=", TEST_NE}, {"<", TEST_LT}, {">", TEST_GT}, {"&", TEST_AND},
};

// The arithmetic operators, in the order the parser tries them.
inline constexpr symbol operators[] = {
    {"+", OP_ADD}, {"-", OP_SUB}, {"*", OP_MUL}, {"/", OP_DIV}, {"&", OP_AND}, {"|", OP_OR}, {"^", OP_XOR}, {"=", OP_EQUAL},
};

// The first and the last spelling of a code; "" for a code without one.
template <size_t N>
constexpr std::string_view first_symbol(const symbol (&symbols)[N], uint32_t code) {
    for (const symbol& s : symbols)
        if (s.code == code) return s.text;
    return {};
}
template <size_t N>
constexpr std::string_view last_symbol(const symbol (&symbols)[N], uint32_t code) {
    std::string_view last;
    for (const symbol& s : symbols)
        if (s.code == code) last = s.text;
    return last;
}

}  // namespace vendrak::vocabulary
