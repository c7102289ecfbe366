#include "fmt/diff.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace vendrak::fmt {
namespace {

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t from = 0;
    while (from < text.size()) {
        const size_t lf = text.find('\n', from);
        const size_t end = lf == text.npos ? text.size() : lf + 1;
        lines.push_back(text.substr(from, end - from));
        from = end;
    }
    return lines;
}

enum class op : uint8_t { keep, remove, add };

// The shortest edit script (Myers) between a and b. The search keeps one
// row of furthest points per edit count, so memory grows with the product
// of the lengths and the number of edits; past a budget the middle is
// given as one removal and one addition, which is still a correct diff.
using lines = std::span<const std::string_view>;

std::vector<op> edit_script(lines a, lines b) {
    const auto n = static_cast<std::ptrdiff_t>(a.size()), m = static_cast<std::ptrdiff_t>(b.size());
    const std::ptrdiff_t max = n + m, offset = max + 1;
    constexpr size_t budget = size_t{1} << 23;  // furthest points kept, over every row
    std::vector<std::vector<std::ptrdiff_t>> trace;
    std::vector<std::ptrdiff_t> v(static_cast<size_t>(2 * max + 3), 0);
    size_t kept = 0;
    bool found = false;
    for (std::ptrdiff_t d = 0; d <= max && !found; ++d) {
        kept += v.size();
        if (kept > budget) break;
        for (std::ptrdiff_t k = -d; k <= d; k += 2) {
            std::ptrdiff_t x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                               : v[offset + k - 1] + 1;
            std::ptrdiff_t y = x - k;
            while (x < n && y < m && a[x] == b[y]) ++x, ++y;
            v[offset + k] = x;
            if (x >= n && y >= m) found = true;
        }
        trace.push_back(v);
    }
    std::vector<op> ops;
    if (!found) {
        ops.insert(ops.end(), a.size(), op::remove);
        ops.insert(ops.end(), b.size(), op::add);
        return ops;
    }
    std::ptrdiff_t x = n, y = m;
    for (auto d = static_cast<std::ptrdiff_t>(trace.size()) - 1; d >= 0; --d) {
        const std::vector<std::ptrdiff_t>& row = trace[static_cast<size_t>(d)];
        const std::ptrdiff_t k = x - y;
        if (d == 0) {
            while (x > 0 && y > 0) ops.push_back(op::keep), --x, --y;
            break;
        }
        const std::vector<std::ptrdiff_t>& prev = trace[static_cast<size_t>(d - 1)];
        (void)row;
        const bool down = k == -d || (k != d && prev[offset + k - 1] < prev[offset + k + 1]);
        const std::ptrdiff_t prev_k = down ? k + 1 : k - 1;
        const std::ptrdiff_t prev_x = prev[offset + prev_k], prev_y = prev_x - prev_k;
        while (x > prev_x && y > prev_y) ops.push_back(op::keep), --x, --y;
        ops.push_back(down ? op::add : op::remove);
        x = prev_x;
        y = prev_y;
    }
    std::reverse(ops.begin(), ops.end());
    return ops;
}

// Lines that stand once in each text, matched in the order of both: the
// longest such sequence (patience sorting), as pairs of indexes.
std::vector<std::pair<size_t, size_t>> anchors(lines a, lines b) {
    struct seen {
        size_t in_a = 0, in_b = 0, at_a = 0, at_b = 0;
    };
    std::unordered_map<std::string_view, seen> count;
    count.reserve(a.size() + b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        seen& c = count[a[i]];
        ++c.in_a;
        c.at_a = i;
    }
    for (size_t j = 0; j < b.size(); ++j) {
        if (const auto f = count.find(b[j]); f != count.end()) {
            ++f->second.in_b;
            f->second.at_b = j;
        }
    }
    std::vector<std::pair<size_t, size_t>> unique;  // in the order of a
    for (size_t i = 0; i < a.size(); ++i)
        if (const seen& c = count[a[i]]; c.in_a == 1 && c.in_b == 1) unique.emplace_back(i, c.at_b);
    // The longest run increasing in b: the top of each pile, and each
    // entry's predecessor.
    std::vector<size_t> tops, before(unique.size());
    for (size_t k = 0; k < unique.size(); ++k) {
        const auto pile = std::lower_bound(tops.begin(), tops.end(), unique[k].second,
                                           [&](size_t t, size_t b_index) { return unique[t].second < b_index; });
        before[k] = pile == tops.begin() ? SIZE_MAX : *(pile - 1);
        if (pile == tops.end()) {
            tops.push_back(k);
        } else {
            *pile = k;
        }
    }
    std::vector<std::pair<size_t, size_t>> chain;
    for (size_t k = tops.empty() ? SIZE_MAX : tops.back(); k != SIZE_MAX; k = before[k]) chain.push_back(unique[k]);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

// The edit script between a and b: their common beginning and end kept, the
// rest cut at the anchors, each piece searched on its own. A formatted
// script keeps most of its lines, so the pieces stay small and the search
// within its budget.
std::vector<op> diff_lines(lines a, lines b) {
    std::vector<op> ops;
    auto piece = [&](lines x, lines y) {
        size_t head = 0;
        while (head < x.size() && head < y.size() && x[head] == y[head]) ++head;
        size_t tail = 0;
        while (tail < x.size() - head && tail < y.size() - head && x[x.size() - 1 - tail] == y[y.size() - 1 - tail])
            ++tail;
        ops.insert(ops.end(), head, op::keep);
        const std::vector<op> middle =
            edit_script(x.subspan(head, x.size() - head - tail), y.subspan(head, y.size() - head - tail));
        ops.insert(ops.end(), middle.begin(), middle.end());
        ops.insert(ops.end(), tail, op::keep);
    };
    size_t i = 0, j = 0;
    for (const auto& [ai, bj] : anchors(a, b)) {
        piece(a.subspan(i, ai - i), b.subspan(j, bj - j));
        ops.push_back(op::keep);
        i = ai + 1;
        j = bj + 1;
    }
    piece(a.subspan(i), b.subspan(j));
    return ops;
}

void append_line(std::string& out, char mark, std::string_view line) {
    out += mark;
    out.append(line);
    if (!line.ends_with('\n')) out += "\n\\ No newline at end of file\n";
}

}  // namespace

std::string unified_diff(std::string_view before, std::string_view after, std::string_view old_name,
                         std::string_view new_name) {
    if (before == after) return {};
    const std::vector<std::string_view> a = lines_of(before), b = lines_of(after);
    const std::vector<op> ops = diff_lines(a, b);

    std::string out;
    out.append("--- ").append(old_name).append("\n+++ ").append(new_name).append("\n");
    constexpr size_t context = 3;
    size_t i = 0;
    size_t counted = 0, old_line = 0, new_line = 0;  // the lines of both texts before ops[counted]
    while (i < ops.size()) {
        if (ops[i] == op::keep) {
            ++i;
            continue;
        }
        // A hunk: from `context` lines before this change to `context` lines
        // after the last change that is at most 2 * context lines further.
        const size_t start = i >= context ? i - context : 0;
        size_t end = i;
        for (size_t j = i; j < ops.size(); ++j) {
            if (ops[j] != op::keep) {
                end = j + 1;
            } else if (j - end > 2 * context) {
                break;
            }
        }
        end = std::min(ops.size(), end + context);
        // line numbers of the hunk's start in both texts
        for (; counted < start; ++counted) {
            if (ops[counted] != op::add) ++old_line;
            if (ops[counted] != op::remove) ++new_line;
        }
        size_t old_count = 0, new_count = 0;
        for (size_t j = start; j < end; ++j) {
            if (ops[j] != op::add) ++old_count;
            if (ops[j] != op::remove) ++new_count;
        }
        auto range = [](size_t line, size_t count) {
            // an empty range names the line before it
            return std::to_string(count == 0 ? line : line + 1) + (count == 1 ? "" : "," + std::to_string(count));
        };
        out += "@@ -" + range(old_line, old_count) + " +" + range(new_line, new_count) + " @@\n";
        size_t oi = old_line, ni = new_line;
        for (size_t j = start; j < end; ++j) {
            switch (ops[j]) {
                case op::keep: append_line(out, ' ', a[oi++]), ++ni; break;
                case op::remove: append_line(out, '-', a[oi++]); break;
                case op::add: append_line(out, '+', b[ni++]); break;
            }
        }
        i = end;
    }
    return out;
}

}  // namespace vendrak::fmt
