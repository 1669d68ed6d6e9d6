#include "binary.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "word_ops.hpp"

namespace quorvel::binary {
namespace {

constexpr Index k_none = std::numeric_limits<Index>::max();

// Index of the first entry equal to 1 at or after `from`, or k_none.
Index leading(const Row& row, Index from = 0) {
    if (from >= row.size())
        return k_none;
    const void* one = std::memchr(row.data() + from, 1, row.size() - from);
    return one == nullptr ? k_none : static_cast<Index>(static_cast<const Byte*>(one) - row.data());
}

// Leading positions of rows 0 .. n-2 as a sequence, k_none counting as
// larger than every position: while it rises strictly (rows without a 1 all
// at the end), a scan of the reduction phase is a binary search.
bool in_order(Index above, Index below) { return above < below || (above == k_none && below == k_none); }

template <bool Dep>
std::optional<Elimination> reduce_last_row(const Matrix& input) {
    const Index n = input.nrows();
    const Index last = n - 1;
    const Index limit = input.ncols();

    // The working copy, checked and with each row's leading position found
    // while the row is still in the cache.
    std::vector<Row> rows;
    rows.reserve(n);
    std::vector<Index> lead(n);
    for (Index i = 0; i < n; ++i) {
        const Row& row = input.row_unchecked(i);
        if (row.size() != limit)
            return std::nullopt;
        rows.push_back(row);
        if (!packed::all_binary(rows.back().data(), limit))
            return std::nullopt;
        lead[i] = leading(rows.back());
    }
    Matrix w(std::move(rows));
    RowLog log(n);
    log.reserve(3 * limit + 3 * last);

    bool ordered = true;
    for (Index i = 1; i < last && ordered; ++i)
        ordered = in_order(lead[i - 1], lead[i]);
    // While ordered: rows 0 .. with_lead-1 have a leading position.
    Index with_lead = static_cast<Index>(std::find(lead.begin(), lead.begin() + static_cast<std::ptrdiff_t>(last), k_none) - lead.begin());

    bool last_row_cleared = false;
    for (Index iteration = 0; iteration < limit; ++iteration) {
        const Index p = lead[last];
        if (p == k_none) {
            last_row_cleared = true;
            break;
        }
        const Index bound = Dep ? n - 1 : n;  // (D1)
        Index match = k_none;
        Index candidate = k_none;
        if (ordered) {
            const auto first_at_or_after = std::lower_bound(
                lead.begin(), lead.begin() + static_cast<std::ptrdiff_t>(with_lead), p);
            const auto i = static_cast<Index>(first_at_or_after - lead.begin());
            if (i < with_lead && lead[i] == p)
                match = i;
            else if (i < with_lead && lead[i] - p < bound)
                candidate = i;
            else if (with_lead < last)
                candidate = with_lead;  // (D2): the first row without a 1
        } else {
            Index best = bound;
            for (Index i = 0; i < last; ++i) {
                const Index q = lead[i];
                if (q == p) {
                    match = i;
                    break;
                }
                if (q == k_none) {  // (D2)
                    if (candidate == k_none)
                        candidate = i;
                    if (Dep)
                        continue;
                    break;
                }
                if (q > p && q - p < best) {
                    candidate = i;
                    best = q - p;
                }
            }
        }
        if (match != k_none) {
            Row& target = w.row_unchecked(last);
            packed::xor_bytes(target.data() + p, w.row_unchecked(match).data() + p, limit - p);
            log.push(last, match);
            lead[last] = leading(target, p + 1);
        } else if (candidate != k_none) {
            w.swap_rows(last, candidate);
            std::swap(lead[last], lead[candidate]);
            log.push_exchange(candidate, last);
            if (ordered) {
                const Index k = candidate;
                if (lead[last] == k_none)
                    ++with_lead;
                ordered = (k == 0 || in_order(lead[k - 1], lead[k])) &&
                          (k + 2 > last || in_order(lead[k], lead[k + 1]));
            }
        } else if constexpr (Dep) {
            return Elimination{std::move(w), std::move(log)};  // (D3)
        } else {
            return std::nullopt;
        }
    }
    if (!last_row_cleared)
        return Elimination{std::move(w), std::move(log)};

    // Upward pass; in a 0/1 row "zero row" and "no leading position" agree.
    const Index start = Dep ? n - 1 : n;  // (D4)
    for (Index t = start; t-- > 1;) {
        const Index u = t - 1;
        const Index pt = lead[t];
        if (pt == k_none)
            continue;
        const Index pu = lead[u];
        if (pu == k_none || pt < pu) {
            w.swap_rows(t, u);
            std::swap(lead[t], lead[u]);
            log.push_exchange(t, u);
        } else if (pt == pu) {
            if (!Dep || pt + 1 == limit) {  // (D5)
                Row& target = w.row_unchecked(t);
                packed::xor_bytes(target.data() + pt, w.row_unchecked(u).data() + pt, limit - pt);
                log.push(t, u);
                lead[t] = leading(target, pt + 1);
            }
        }
    }
    return Elimination{std::move(w), std::move(log)};
}

}  // namespace

std::optional<Elimination> echelon_form_last_row(const Matrix& m) {
    return reduce_last_row<false>(m);
}

std::optional<Elimination> echelon_form_last_row_dep(const Matrix& m) {
    return reduce_last_row<true>(m);
}

Index rank(const Matrix& m) {
    std::vector<Index> leading_columns;
    leading_columns.reserve(m.nrows());
    Index widest = 0;
    for (const Row& row : m.rows()) {
        const Index j = leading(row);
        if (j != k_none) {
            leading_columns.push_back(j);
            widest = std::max(widest, j + 1);
        }
    }
    // Count distinct columns with a bitset when that is small, else sort.
    if (widest <= 64 * leading_columns.size() + 64) {
        std::vector<std::uint64_t> seen((widest + 63) / 64, 0);
        Index distinct = 0;
        for (const Index j : leading_columns) {
            const std::uint64_t bit = std::uint64_t{1} << (j % 64);
            distinct += (seen[j / 64] & bit) == 0 ? Index{1} : Index{0};
            seen[j / 64] |= bit;
        }
        return distinct;
    }
    std::sort(leading_columns.begin(), leading_columns.end());
    return static_cast<Index>(std::unique(leading_columns.begin(), leading_columns.end()) -
                              leading_columns.begin());
}

}  // namespace quorvel::binary
