#include "inspect/flow.h"

#include <algorithm>
#include <initializer_list>
#include <span>
#include <string_view>

#include "common/fatal.h"
#include "parser/vocabulary.h"

namespace vendrak::inspect {
namespace {

// What an instruction becomes in the script. Only two jumps need structure:
// a JF comes only from IF (its ENDIF, or an ELSE, sits at the target) and a
// JT only from WHILE (its DO sits at the target). A JMP is an ELSE or an
// ENDDO where the pattern is theirs, else a GOTO to a made-up label, which
// gives the same bytes; a JMPS is a GOSUB.
enum class role : uint8_t { statement, if_cmp, while_cmp, condition_jump, else_jump, enddo_jump, goto_jump, gosub_jump };

// Maximum over a fixed array of values, by ranges, in logarithmic time.
class range_max {
public:
    explicit range_max(const std::vector<uint32_t>& values) : n_(values.size()), tree_(2 * n_) {
        std::copy(values.begin(), values.end(), tree_.begin() + static_cast<std::ptrdiff_t>(n_));
        for (size_t i = n_; i-- > 1;) tree_[i] = std::max(tree_[2 * i], tree_[2 * i + 1]);
    }

    // The maximum over [lo, hi); 0 for an empty range.
    uint32_t query(size_t lo, size_t hi) const {
        uint32_t m = 0;
        for (lo += n_, hi += n_; lo < hi; lo /= 2, hi /= 2) {
            if (lo % 2 == 1) m = std::max(m, tree_[lo++]);
            if (hi % 2 == 1) m = std::max(m, tree_[--hi]);
        }
        return m;
    }

private:
    size_t n_;
    std::vector<uint32_t> tree_;
};

std::string label_name(uint32_t address) { return format("L%04X", address); }

}  // namespace

decompiled_script decompile(const std::vector<decoded_instruction>& program,
                            const std::function<std::string(size_t)>& statement_text,
                            std::vector<std::string>& problems) {
    const size_t n = program.size();
    const size_t problems_before = problems.size();
    auto problem = [&](uint32_t address, const std::string& what) {
        problems.push_back(format("instruction at 0x%04X: %s", address, what.c_str()));
    };
    auto code = [&](size_t i) { return program[i].code; };
    if (n == 0) return {};

    // Every condition is a CMP directly followed by its JF or JT; no jump
    // lands between the two, since a statement cannot be placed there.
    std::vector<bool> second_half(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t address = program[i].address;
        if (code(i) == OPC_CMP && (i + 1 == n || (code(i + 1) != OPC_JF && code(i + 1) != OPC_JT)))
            problem(address, "CMP is not followed by JF or JT");
        if (code(i) == OPC_JF || code(i) == OPC_JT) {
            if (i == 0 || code(i - 1) != OPC_CMP)
                problem(address, std::string(operation_name(code(i))) + " does not follow a CMP");
            else
                second_half[i] = true;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        if (!is_jump(code(i))) continue;
        const uint32_t address = program[i].address;
        const uint32_t target = program[i].target;
        if (target % opcode_size != 0 || target / opcode_size >= n) {
            problem(address, format("jump target 0x%04X is not an instruction address", target));
            continue;
        }
        if (second_half[target / opcode_size])
            problem(address, format("jump target 0x%04X lies between a CMP and its %s", target,
                                    operation_name(code(target / opcode_size)).data()));
        else if (code(i) == OPC_JF && target <= address)
            problem(address, format("JF target 0x%04X does not lie after the JF", target));
        else if (code(i) == OPC_JT && target >= address)
            problem(address, format("JT target 0x%04X does not lie before its CMP", target));
    }
    if (code(n - 1) != OPC_EXIT) problems.push_back("the program does not end with EXIT");
    if (problems.size() != problems_before) return {};

    auto target_index = [&](size_t i) { return program[i].target / static_cast<uint32_t>(opcode_size); };
    // DOs at each JT target, the loop that closes last first (it encloses
    // the others); the next JT after each instruction (it resolves every
    // ENDDO before it); and where each IF ends without an ELSE.
    // loops_at(t) lists the JTs whose target is t: loop_jts[loop_first[t],
    // loop_first[t + 1]), closing order descending.
    std::vector<uint32_t> loop_first(n + 1, 0);
    for (size_t i = 0; i < n; ++i)
        if (code(i) == OPC_JT) ++loop_first[target_index(i) + 1];
    for (size_t t = 0; t < n; ++t) loop_first[t + 1] += loop_first[t];
    std::vector<uint32_t> loop_jts(loop_first[n]);
    std::vector<uint32_t> fill(loop_first.begin(), loop_first.end() - 1);
    std::vector<uint32_t> next_jt(n);
    std::vector<uint32_t> if_end(n, 0);
    uint32_t next = static_cast<uint32_t>(n);
    for (size_t i = n; i-- > 0;) {
        next_jt[i] = next;
        if (code(i) == OPC_JT) {
            loop_jts[fill[target_index(i)]++] = static_cast<uint32_t>(i);
            next = static_cast<uint32_t>(i);
        }
        if (code(i) == OPC_JF) if_end[i - 1] = target_index(i);
    }
    auto loops_at = [&](size_t t) {
        return std::span<const uint32_t>(loop_jts).subspan(loop_first[t], loop_first[t + 1] - loop_first[t]);
    };
    const range_max if_ends(if_end);

    // Walk the program as the compiler walked the script, with the same two
    // stacks: the open IFs with their pending target, the open loops by the
    // index of the JT that closes them. Blocks must nest; a JMP becomes an
    // ELSE only when the IF it extends still nests with every other IF.
    std::vector<role> roles(n, role::statement);
    std::vector<uint32_t> endifs(n, 0);
    std::vector<bool> label(n);
    struct open_if {
        uint32_t pending;  // index of the pending jump's target
        uint32_t start;    // index of its CMP
    };
    struct open_loop {
        uint32_t jt;     // index of the JT that closes it
        uint32_t start;  // index of its first instruction
    };
    std::vector<open_if> ifs;
    std::vector<open_loop> dos;
    for (size_t i = 0; i < n; ++i) {
        while (!ifs.empty() && ifs.back().pending == i) {
            ++endifs[i];
            ifs.pop_back();
        }
        for (uint32_t jt : loops_at(i)) {
            if (!dos.empty() && dos.back().jt < jt) {
                problem(program[jt].address, format("the loop from 0x%04X crosses the loop closed at 0x%04X",
                                                    program[i].address, program[dos.back().jt].address));
                return {};
            }
            dos.push_back({jt, static_cast<uint32_t>(i)});
        }
        if (i + 1 == n) break;
        const uint32_t address = program[i].address;
        switch (code(i)) {
            case OPC_CMP:
                roles[i + 1] = role::condition_jump;
                if (code(i + 1) == OPC_JF) {
                    const uint32_t end = target_index(i + 1);
                    if (!ifs.empty() && end > ifs.back().pending) {
                        problem(address, format("the IF ending at 0x%04X crosses the IF ending at 0x%04X",
                                                end * static_cast<uint32_t>(opcode_size),
                                                ifs.back().pending * static_cast<uint32_t>(opcode_size)));
                        return {};
                    }
                    ifs.push_back({end, static_cast<uint32_t>(i)});
                    roles[i] = role::if_cmp;
                } else {
                    if (dos.empty() || dos.back().jt != i + 1) {
                        problem(address, "the loop of this WHILE crosses another loop");
                        return {};
                    }
                    dos.pop_back();
                    roles[i] = role::while_cmp;
                }
                ++i;
                break;
            case OPC_JMP: {
                const uint32_t to = target_index(i);
                const bool ends_then_part = !ifs.empty() && ifs.back().pending == i + 1 && to >= i + 1;
                // An IF inside a loop keeps its ELSE part inside it too: the
                // same JMP then reads as the loop's ENDDO.
                const bool leaves_loop =
                    !dos.empty() && !ifs.empty() && ifs.back().start >= dos.back().start && to >= dos.back().jt;
                if (ends_then_part && !leaves_loop && (ifs.size() < 2 || to <= ifs[ifs.size() - 2].pending) &&
                    if_ends.query(i + 1, to) <= to) {
                    roles[i] = role::else_jump;
                    ifs.back().pending = to;
                } else if (!dos.empty() && next_jt[i] < n && to == next_jt[i] + 1) {
                    roles[i] = role::enddo_jump;
                } else {
                    roles[i] = role::goto_jump;
                    label[to] = true;
                }
                break;
            }
            case OPC_JMPS:
                roles[i] = role::gosub_jump;
                label[target_index(i)] = true;
                break;
            default:
                break;
        }
    }
    if (!ifs.empty() || !dos.empty()) {
        problems.push_back("the program's IF or loop blocks do not close");
        return {};
    }

    decompiled_script out;
    int depth = 0;
    auto line = [&](int indent, std::initializer_list<std::string_view> pieces, uint32_t address) {
        out.text.append(2 * static_cast<size_t>(std::max(indent, 0)), ' ');
        for (const std::string_view piece : pieces) out.text += piece;
        out.text += '\n';
        out.line_address.push_back(address);
    };
    const auto word = vocabulary::keyword;
    for (size_t i = 0; i < n; ++i) {
        const decoded_instruction& insn = program[i];
        const uint32_t address = insn.address;
        for (uint32_t k = 0; k < endifs[i]; ++k) line(--depth, {word(CMD_ENDIF)}, address);
        if (label[i]) line(0, {label_name(address), ":"}, address);
        for (size_t k = 0; k < loops_at(i).size(); ++k) line(depth++, {word(CMD_DO)}, address);
        // The closing EXIT is added by the compiler.
        if (i + 1 == n) break;
        switch (roles[i]) {
            case role::if_cmp:
                line(depth++, {word(CMD_IF), " ", statement_text(i)}, address);
                ++i;
                break;
            case role::while_cmp:
                line(--depth, {word(CMD_WHILE), " ", statement_text(i)}, address);
                ++i;
                break;
            case role::else_jump:
                line(depth - 1, {word(CMD_ELSE)}, address);
                break;
            case role::enddo_jump:
                line(depth, {word(CMD_ENDDO)}, address);
                break;
            case role::goto_jump:
                line(depth, {word(CMD_GOTO), " ", label_name(insn.target)}, address);
                break;
            case role::gosub_jump:
                line(depth, {word(CMD_GOSUB), " ", label_name(insn.target)}, address);
                break;
            case role::condition_jump:
            case role::statement:
                line(depth, {statement_text(i)}, address);
                break;
        }
    }
    return out;
}

}  // namespace vendrak::inspect
