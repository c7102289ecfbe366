// Warnings that need the whole program: subroutines, jumps into blocks,
// loops that cannot end, conditions that cannot change, values read before
// anything sets them, and statements reached before what they need.
//
// The program's flow is built once, statement by statement, as program
// assembly pairs the blocks: an IF jumps past its first ELSE (or to its
// ENDIF), each ELSE past the next ELSE of its IF, a WHILE back to its DO, an
// ENDDO past the next WHILE, a jump to the first label of its name. A
// GOSUB goes to its label and, when the subroutine can return, on to the
// next statement. Every analysis below is one pass or one fixpoint over
// that graph whose states only grow, so the work is linear in the script.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include "check/findings.h"
#include "check/layout.h"
#include "parser/vocabulary.h"

namespace vendrak::check {
namespace {

constexpr uint32_t none = UINT32_MAX;

// What the may-analysis tracks per statement: which values some path has
// set (bits 0-15 the variables, then KEY and TIME), and whether some path
// has reached it before any NET or LOG NEW; `seen` marks a reached state.
constexpr uint32_t key_bit = 1u << 16, time_bit = 1u << 17, no_net_bit = 1u << 18, no_log_bit = 1u << 19,
                   seen_bit = 1u << 20;

struct node {
    uint32_t jump = none;  // the other successor: a jump, a branch, a GOSUB's label
    bool next = true;      // goes on to the next statement (a GOSUB: once its subroutine returns)
};

class flow {
public:
    flow(const parsed_script& p, findings& out) : p_(p), out_(out), n_(static_cast<uint32_t>(p.tree.commands.size())) {}

    void run() {
        build();
        returns();
        contexts();
        gosubs();
        blocks_entered();
        loops();
        conditions();
        values();
    }

private:
    const command& at(uint32_t i) const { return p_.tree.commands[i]; }
    token_position where(uint32_t i) const { return p_.at(p_.first(i)); }
    uint32_t line(uint32_t i) const { return where(i).line; }
    std::string name_of(uint32_t i) const { return std::string(p_.tree.text(std::get<label_form>(at(i).form).name)); }

    void build() {
        nodes_.assign(n_, node{});
        struct open_if {
            uint32_t statement;
            uint32_t last;  // the IF or the latest ELSE, whose jump goes past the next ELSE or to the ENDIF
        };
        std::vector<open_if> ifs;
        std::vector<uint32_t> dos, enddos;
        std::unordered_map<std::string_view, uint32_t> labels;
        for (uint32_t i = 0; i < n_; ++i)
            if (at(i).kind == CMD_LABEL) labels.try_emplace(p_.tree.text(std::get<label_form>(at(i).form).name), i);
        block_of_.assign(n_, none);
        std::vector<uint32_t> blocks;  // open IF and DO statements, innermost last
        for (uint32_t i = 0; i < n_; ++i) {
            node& x = nodes_[i];
            block_of_[i] = blocks.empty() ? none : blocks.back();
            switch (at(i).kind) {
                case CMD_IF:
                    ifs.push_back({i, i});
                    blocks.push_back(i);
                    break;
                case CMD_ELSE:
                    if (ifs.empty()) break;
                    nodes_[ifs.back().last].jump = i + 1;
                    ifs.back().last = i;
                    x.next = false;
                    break;
                case CMD_ENDIF:
                    if (ifs.empty()) break;
                    nodes_[ifs.back().last].jump = i;
                    close_block(blocks, ifs.back().statement, i);
                    ifs.pop_back();
                    break;
                case CMD_DO:
                    dos.push_back(i);
                    blocks.push_back(i);
                    break;
                case CMD_WHILE:
                    if (dos.empty()) break;
                    x.jump = dos.back();
                    for (uint32_t e : enddos) nodes_[e].jump = i + 1;
                    enddos.clear();
                    close_block(blocks, dos.back(), i);
                    dos.pop_back();
                    break;
                case CMD_ENDDO:
                    x.next = false;
                    enddos.push_back(i);
                    break;
                case CMD_GOTO:
                case CMD_GOSUB: {
                    const auto l = labels.find(p_.tree.text(std::get<label_form>(at(i).form).name));
                    x.jump = l == labels.end() ? none : l->second;
                    x.next = at(i).kind == CMD_GOSUB;
                    if (at(i).kind == CMD_GOSUB && x.jump != none) callers_[x.jump].push_back(i);
                    break;
                }
                case CMD_EXIT:
                case CMD_RETURN: x.next = false; break;
                default: break;
            }
        }
    }

    void close_block(std::vector<uint32_t>& blocks, uint32_t open, uint32_t close) {
        // Blocks may cross (an ENDIF inside a DO of its IF): the closed one
        // leaves the stack wherever it stands.
        if (const auto it = std::find(blocks.rbegin(), blocks.rend(), open); it != blocks.rend())
            blocks.erase(std::next(it).base());
        block_end_[open] = close;
    }

    bool is_gosub(uint32_t i) const { return at(i).kind == CMD_GOSUB && nodes_[i].jump != none; }

    // returns_[i]: a RETURN can be reached from statement i without leaving
    // the subroutine; a GOSUB goes on only when its subroutine returns.
    void returns() {
        returns_.assign(n_ + 1, false);
        // The predecessors of each statement, all in one array: those of x
        // stand from first[x] up to first[x + 1].
        std::vector<uint32_t> first(n_ + 2, 0), preds;
        const auto each_edge = [&](auto&& edge) {
            for (uint32_t i = 0; i < n_; ++i) {
                if (is_gosub(i)) continue;
                if (nodes_[i].next) edge(i + 1, i);
                if (nodes_[i].jump != none) edge(nodes_[i].jump, i);
            }
        };
        each_edge([&](uint32_t to, uint32_t) { ++first[to + 1]; });
        for (uint32_t x = 0; x <= n_; ++x) first[x + 1] += first[x];
        preds.resize(first[n_ + 1]);
        std::vector<uint32_t> fill(first.begin(), first.end() - 1);
        each_edge([&](uint32_t to, uint32_t from) { preds[fill[to]++] = from; });
        std::vector<uint32_t> todo;
        const auto add = [&](uint32_t i) {
            if (!returns_[i]) returns_[i] = true, todo.push_back(i);
        };
        for (uint32_t i = 0; i < n_; ++i)
            if (at(i).kind == CMD_RETURN) add(i);
        while (!todo.empty()) {
            const uint32_t x = todo.back();
            todo.pop_back();
            for (uint32_t k = first[x]; k < first[x + 1]; ++k) add(preds[k]);
            if (x > 0 && is_gosub(x - 1) && returns_[nodes_[x - 1].jump]) add(x - 1);
            if (const auto c = callers_.find(x); c != callers_.end())
                for (uint32_t g : c->second)
                    if (returns_[g + 1]) add(g);
        }
    }

    bool goes_on(uint32_t i) const { return nodes_[i].next && (!is_gosub(i) || returns_[nodes_[i].jump]); }

    // Which statements the main flow reaches (outside every subroutine) and
    // which a subroutine reaches; a RETURN the main flow reaches has no GOSUB
    // to go back to.
    void contexts() {
        main_.assign(n_ + 1, false);
        sub_.assign(n_ + 1, false);
        std::vector<std::pair<uint32_t, bool>> todo{{0, false}};
        while (!todo.empty()) {
            const auto [i, in_sub] = todo.back();
            todo.pop_back();
            std::vector<bool>& seen = in_sub ? sub_ : main_;
            if (i > n_ || seen[i]) continue;
            seen[i] = true;
            if (i == n_) continue;
            if (goes_on(i)) todo.push_back({i + 1, in_sub});
            if (nodes_[i].jump != none) todo.push_back({nodes_[i].jump, in_sub || is_gosub(i)});
        }
        if (!out_.enabled(warning::return_without_gosub)) return;
        bool fell_in = false;
        for (const auto& [label, calls] : callers_) {
            if (label == 0 || !main_[label] || !main_[label - 1] || !goes_on(label - 1) || !returns_[label]) continue;
            fell_in = true;
            out_.warn(warning::return_without_gosub, where(label),
                      "the script runs on into subroutine %s from the line above, and its RETURN then has no GOSUB to "
                      "go back to: put EXIT or a GOTO before the label",
                      name_of(label).c_str());
        }
        if (fell_in) return;
        // A GOTO of the main flow to a label from which a RETURN is reached:
        // most often a GOSUB written as GOTO.
        bool jumped_in = false;
        for (uint32_t i = 0; i < n_; ++i) {
            if (at(i).kind != CMD_GOTO || !main_[i] || nodes_[i].jump == none || !returns_[nodes_[i].jump]) continue;
            jumped_in = true;
            const std::string name = name_of(i);
            finding* f = out_.warn(warning::return_without_gosub, where(i),
                                   "GOTO %s leads to a RETURN, which then has no GOSUB to go back to: call it with GOSUB "
                                   "%s",
                                   name.c_str(), name.c_str());
            const uint32_t keyword = p_.first(i);
            if (f != nullptr && p_.written(keyword)) {
                const token_position k = p_.at(keyword);
                f->fix.push_back({k.line, k.column, k.line, k.column + 4, "GOSUB"});
            }
        }
        if (jumped_in) return;
        for (uint32_t i = 0; i < n_; ++i)
            if (at(i).kind == CMD_RETURN && main_[i])
                out_.warn(warning::return_without_gosub, where(i), "this RETURN can be reached without a GOSUB: there is "
                                                                   "nothing to return to");
    }

    // A GOSUB whose subroutine never reaches a RETURN never comes back.
    void gosubs() {
        if (!out_.enabled(warning::gosub_return)) return;
        for (uint32_t i = 0; i < n_; ++i) {
            if (!is_gosub(i) || returns_[nodes_[i].jump] || !(main_[i] || sub_[i])) continue;
            const uint32_t label = nodes_[i].jump;
            // Between the label and the subroutine's first EXIT or RETURN.
            uint32_t end = label;
            while (end < n_ && end - label < 4096 && at(end).kind != CMD_EXIT && at(end).kind != CMD_RETURN) ++end;
            finding* f;
            if (i > label && i < end) {
                f = out_.warn(warning::gosub_return, where(i),
                              "subroutine %s calls itself here with no way out: it never reaches a RETURN",
                              name_of(label).c_str());
            } else {
                f = out_.warn(warning::gosub_return, where(i),
                              "subroutine %s never reaches a RETURN (it ends in EXIT, jumps away or loops): the "
                              "statements after this GOSUB never run",
                              name_of(label).c_str());
            }
            if (f == nullptr) continue;
            f->notes.push_back({where(label).line, where(label).column, "the subroutine begins here"});
            for (uint32_t k = label; k < end; ++k)
                if (at(k).kind == CMD_GOTO && nodes_[k].jump != none && (nodes_[k].jump < label || nodes_[k].jump > end)) {
                    f->notes.push_back({line(k), where(k).column, "GOTO " + name_of(k) + " leaves the subroutine here"});
                    break;
                }
        }
    }

    // A GOTO to a label inside an IF or DO block from outside that block.
    void blocks_entered() {
        if (!out_.enabled(warning::goto_into_block)) return;
        for (uint32_t i = 0; i < n_; ++i) {
            if (at(i).kind != CMD_GOTO || nodes_[i].jump == none) continue;
            const uint32_t block = block_of_[nodes_[i].jump];
            if (block == none) continue;
            const auto end = block_end_.find(block);
            if (end == block_end_.end() || (i > block && i < end->second)) continue;
            out_.warn(warning::goto_into_block, where(i), "GOTO %s enters the %s block of line %u from outside it%s",
                      name_of(i).c_str(), at(block).kind == CMD_IF ? "IF" : "DO", line(block),
                      at(block).kind == CMD_IF ? ": its condition is not tested" : ": the loop's DO is skipped");
        }
    }

    // What a statement changes that a condition can read, as bits: the
    // variables, KEY, TIME, the response, and "leaves or is entered".
    static constexpr uint32_t reply_bit = 1u << 21, jump_bit = 1u << 22;
    uint32_t changes(uint32_t i) const {
        const command& c = at(i);
        switch (c.kind) {
            case CMD_VAR: return 1u << (std::get<assignment_form>(c.form).index & 15);
            case CMD_GETKEY: return key_bit;
            case CMD_GETTIME: return time_bit;
            case CMD_GOTO:
            case CMD_GOSUB:
            case CMD_LABEL:
            case CMD_ENDDO:
            case CMD_EXIT:
            case CMD_RETURN: return jump_bit;
            case CMD_READ:
            case CMD_WRITE:
            case CMD_REQUEST:
            case CMD_PERIODIC:
            case CMD_DID:
            case CMD_DAT_CREATE:
            case CMD_DAT_CHECK:
            case CMD_DAT_DELETE:
            case CMD_DAT_INIT:
            case CMD_MEM:
            case CMD_UPLOAD:
            case CMD_DOWNLOAD:
            case CMD_SECURITY:
            case CMD_PROG:
            case CMD_PROGNC:
            case CMD_PROGNR:
            case CMD_INHALE:
            case CMD_EXHALE:
            case CMD_DIAG:
            case CMD_NET:
            case CMD_VERSION:
            case CMD_VIN_VERIFY:
            case CMD_FW_VERSION:
            case CMD_EXEC:
            case CMD_REQ_FILE: return reply_bit;
            default: return 0;
        }
    }

    // What an operand of a condition needs to change, as changes() gives
    // it; 0: it changes by itself (a measured value) or cannot change.
    static uint32_t needs(const prim_expr& e) {
        switch (e.kind) {
            case EXPR_VAR: return 1u << (e.var() & 15);
            case EXPR_KEY: return key_bit;
            case EXPR_TIME: return time_bit;
            case EXPR_DATA:
            case EXPR_UDATA:
            case EXPR_HEX:
            case EXPR_BIT:
            case EXPR_FLOAT:
            case EXPR_TEXT:
            case EXPR_DTC:
            case EXPR_DTCVAL:
            case EXPR_DAT_STATUS: return reply_bit;
            default: return 0;
        }
    }

    static bool is_constant(const prim_expr& e) {
        switch (e.kind) {
            case EXPR_NUMBER:
            case EXPR_FLOAT_NUMBER:
            case EXPR_STRING:
            case EXPR_ARRAY:
            case EXPR_NIL:
            case EXPR_ENTER:
            case EXPR_ESCAPE:
            case EXPR_UP:
            case EXPR_DOWN:
            case EXPR_LEFT:
            case EXPR_RIGHT:
            case EXPR_ANY: return true;
            default: return false;
        }
    }

    static std::string what_changes(const prim_expr& e) {
        switch (e.kind) {
            case EXPR_VAR: return "no statement of the loop sets VAR[" + std::to_string(e.var()) + "]";
            case EXPR_KEY: return "there is no GETKEY in the loop to read KEY again";
            case EXPR_TIME: return "there is no GETTIME in the loop to read TIME again";
            default: return "nothing in the loop reads a new response";
        }
    }

    // A loop whose condition reads only what the loop does not change runs
    // for ever once it runs again. A loop with a jump, ENDDO, EXIT, RETURN
    // or label inside may end otherwise: it is left alone.
    void loops() {
        if (!out_.enabled(warning::endless_loop)) return;
        // Each loop's changes, gathered innermost first: linear in the script
        // however deep the nesting.
        std::vector<uint32_t> mask(n_, 0);
        std::vector<uint32_t> open;
        for (uint32_t i = 0; i < n_; ++i) {
            if (at(i).kind == CMD_WHILE && !open.empty()) {
                const uint32_t d = open.back();
                open.pop_back();
                if (!open.empty()) mask[open.back()] |= mask[d];
                check_loop(d, i, mask[d]);
                continue;
            }
            if (!open.empty()) mask[open.back()] |= changes(i);
            if (at(i).kind == CMD_DO) open.push_back(i);
        }
    }

    void check_loop(uint32_t d, uint32_t w, uint32_t changed) {
        if (changed & jump_bit) return;
        const test_expr& t = std::get<condition_form>(at(w).form).test;
        if (known(t) == 0) return;  // the loop runs once
        for (const prim_expr* e : {&t.lhs, &t.rhs}) {
            const uint32_t need = needs(*e);
            if (!is_constant(*e) && need == 0) return;  // measured: may change by itself
            if (need & changed) return;
        }
        std::string why;
        for (const prim_expr* e : {&t.lhs, &t.rhs})
            if (!is_constant(*e)) why = what_changes(*e);
        if (why.empty()) why = "its condition compares constants";
        finding* f = out_.warn(warning::endless_loop, where(w),
                               "this loop cannot end once it repeats: %s, and nothing leaves it", why.c_str());
        if (f != nullptr) f->notes.push_back({line(d), where(d).column, "the loop begins here"});
    }

    // The result of a condition when it does not depend on the run: 0 false,
    // 1 true, -1 not known.
    static int known(const test_expr& t) {
        if (t.lhs.kind == EXPR_NUMBER && t.rhs.kind == EXPR_NUMBER) {
            const int32_t a = t.lhs.number(), b = t.rhs.number();
            return t.op == TEST_EQ ? a == b : t.op == TEST_NE ? a != b : t.op == TEST_LT ? a < b : t.op == TEST_GT ? a > b : (a & b) != 0;
        }
        if (t.lhs == t.rhs && !is_constant(t.lhs) && t.op != TEST_AND) return t.op == TEST_EQ ? 1 : 0;
        const auto zero = [](const prim_expr& e) { return e.kind == EXPR_NUMBER && e.number() == 0; };
        if (t.op == TEST_AND && (zero(t.lhs) || zero(t.rhs))) return 0;
        return -1;
    }

    // IF and WHILE conditions whose result is known when the script is
    // compiled. An always-true WHILE is a loop meant to run for ever (the
    // loop check above looks at those).
    void conditions() {
        if (!out_.enabled(warning::constant_condition)) return;
        for (uint32_t i = 0; i < n_; ++i) {
            if (at(i).kind != CMD_IF && at(i).kind != CMD_WHILE) continue;
            const int result = known(std::get<condition_form>(at(i).form).test);
            if (result < 0 || (at(i).kind == CMD_WHILE && result == 1)) continue;
            const token_position w = p_.at(p_.first(i) + 1);
            if (at(i).kind == CMD_IF)
                out_.warn(warning::constant_condition, w, "this condition is always %s: %s", result ? "true" : "false",
                          result ? "the IF tests nothing" : "the statements up to its ELSE or ENDIF never run");
            else
                out_.warn(warning::constant_condition, w, "this condition is always false: the loop runs once");
        }
    }

    // The may-analysis: what some path has set on arriving at each
    // statement. A value read where no path has set it is read before
    // anything sets it; a statement that needs the network reached where
    // some path has opened none comes too early.
    void values() {
        const bool unset = out_.enabled(warning::unset), order = out_.enabled(warning::order);
        if (!unset && !order) return;
        // What the subroutines set and open, for the statement after a GOSUB.
        uint32_t sub_sets = 0;
        bool sub_net = false, sub_log = false;
        for (uint32_t i = 0; i < n_; ++i) {
            if (!sub_[i]) continue;
            sub_sets |= sets(i);
            sub_net = sub_net || at(i).kind == CMD_NET;
            sub_log = sub_log || is_log(i, LOG_NEW);
        }
        std::vector<uint32_t> state(n_ + 1, 0);
        std::vector<uint32_t> todo;
        const auto join = [&](uint32_t i, uint32_t s) {
            if (i > n_ || (state[i] | s) == state[i]) return;
            state[i] |= s;
            todo.push_back(i);
        };
        join(0, seen_bit | no_net_bit | no_log_bit);
        while (!todo.empty()) {
            const uint32_t i = todo.back();
            todo.pop_back();
            if (i == n_) continue;
            uint32_t s = state[i] | sets(i);
            if (at(i).kind == CMD_NET) s &= ~no_net_bit;
            if (is_log(i, LOG_NEW)) s &= ~no_log_bit;
            if (is_gosub(i)) {
                join(nodes_[i].jump, s);
                if (returns_[nodes_[i].jump])
                    join(i + 1, (s | sub_sets) & ~(sub_net ? no_net_bit : 0) & ~(sub_log ? no_log_bit : 0));
                continue;
            }
            if (nodes_[i].next) join(i + 1, s);
            if (nodes_[i].jump != none) join(nodes_[i].jump, s);
        }
        // Only an order that the script gets wrong: a script with no NET (or
        // no LOG NEW) at all leaves it to the device.
        bool early_net = true, early_log = true;
        for (uint32_t i = 0; i < n_; ++i) {
            early_net = early_net && at(i).kind != CMD_NET;
            early_log = early_log && !is_log(i, LOG_NEW);
        }
        for (uint32_t i = 0; i < n_; ++i) {
            if (!(state[i] & seen_bit)) continue;
            if (unset) check_reads(i, state[i]);
            if (!order) continue;
            const cmd_kind k = at(i).kind;
            const bool needs_net = k == CMD_DIAG || k == CMD_READ || k == CMD_WRITE || k == CMD_REQUEST ||
                                   k == CMD_PROG || k == CMD_PROGNC || k == CMD_PROGNR || k == CMD_PERIODIC;
            if (needs_net && (state[i] & no_net_bit) && !early_net) {
                early_net = true;
                out_.warn(warning::order, where(i), "%s can be reached before any NET: open the network first",
                          std::string(vocabulary::keyword(k)).c_str());
            }
            if (is_log(i, LOG_ADD) && (state[i] & no_log_bit) && !early_log) {
                early_log = true;
                out_.warn(warning::order, where(i), "LOG ADD can be reached before any LOG NEW: start the log first");
            }
        }
    }

    bool is_log(uint32_t i, log_mode mode) const {
        return at(i).kind == CMD_LOG && std::get<log_form>(at(i).form).mode == mode;
    }

    uint32_t sets(uint32_t i) const {
        switch (at(i).kind) {
            case CMD_VAR: return 1u << (std::get<assignment_form>(at(i).form).index & 15);
            case CMD_GETKEY: return key_bit;
            case CMD_GETTIME: return time_bit;
            default: return 0;
        }
    }

    void check_reads(uint32_t i, uint32_t s) {
        const command& c = at(i);
        const auto read = [&](const prim_expr& e, size_t part) {
            uint32_t bit = 0;
            std::string what;
            if (e.kind == EXPR_VAR && e.var() >= 0 && e.var() < 16) {
                bit = 1u << e.var();
                what = "VAR[" + std::to_string(e.var()) + "] is read here before any statement sets it";
            } else if (e.kind == EXPR_KEY) {
                bit = key_bit;
                what = "KEY is read here before any GETKEY has read a key";
            } else if (e.kind == EXPR_TIME) {
                bit = time_bit;
                what = "TIME is read here before any GETTIME has read the time";
            }
            if (bit == 0 || (s & bit)) return;
            s |= bit;  // once per statement and value
            const uint32_t token = lay_out(p_.tree, p_.positions, i).part(part);
            out_.warn(warning::unset, p_.at(token), "%s, on every path to it", what.c_str());
        };
        if (const auto* f = std::get_if<condition_form>(&c.form)) {
            read(f->test.lhs, 1);
            read(f->test.rhs, 3);
        } else if (const auto* f = std::get_if<assignment_form>(&c.form)) {
            read(f->assign.lhs, 2);
            read(f->assign.rhs, 4);
        } else if (const auto* f = std::get_if<screen_form>(&c.form)) {
            read(f->expr, 3);
        } else if (const auto* f = std::get_if<log_form>(&c.form)) {
            read(f->expr, 2);
        }
    }

    const parsed_script& p_;
    findings& out_;
    uint32_t n_;
    std::vector<node> nodes_;
    std::unordered_map<uint32_t, std::vector<uint32_t>> callers_;  // label -> its GOSUBs
    std::vector<uint32_t> block_of_;                                // the innermost IF or DO around each statement
    std::unordered_map<uint32_t, uint32_t> block_end_;              // IF -> ENDIF, DO -> WHILE
    std::vector<bool> returns_, main_, sub_;
};

}  // namespace

void warn_flow(const parsed_script& p, findings& out) { flow(p, out).run(); }

}  // namespace vendrak::check
