// The last-row reduction, written once over the rows it works on.
//
// Iteration after iteration the last row either has its leading entry
// cleared by the row above with the same leading position (the matching row),
// or is exchanged with the row whose leading entry lies closest to its right
// (the candidate).  Once the last row holds no 1, one upward pass over
// neighbouring rows puts the rows in order.  At most `width` iterations run,
// the width being that of row 0; when they run out, there is no upward pass.
//
// One procedure serves both methods; the `Dep` variant
// (`echelon_form_last_row_dep`) differs in five rules:
//   (D1) the initial best distance is n - 1 instead of n;
//   (D2) a row without a 1 met in the scan becomes the candidate only if
//        there is none yet, and the scan goes on instead of stopping;
//   (D3) an iteration without a match or a candidate returns the rows as
//        they are instead of failing;
//   (D4) the upward pass starts at row n - 2 instead of n - 1;
//   (D5) equal leading positions in the upward pass are added only when the
//        shared position is the last column.
//
// The rows come through a policy, `Rows`, one per storage
// (last_row_bytes.cpp, last_row_packed.cpp), that offers:
//   Index count() const             n, the number of rows
//   Index width() const             the length of row 0 as it is now
//   Index leading(Index i)          the column of the first entry of row i
//                                   that equals 1, or k_no_lead
//   bool is_zero(Index i)           every entry of row i is 0
//   void add(Index target, Index source, Index lead)
//                                   adds row source into row target, both
//                                   with their first 1 in column `lead`
//   void exchange(Index a, Index b) exchanges two whole rows
//   static constexpr bool k_ordered_scan, and when it is true:
//   bool ordered()                  rows 0 .. n-2 are in echelon order
//   LastRowScan ordered_scan(Index p, Index best)
//                                   the scan's result, found faster
//   Index add_matches(RowLog& log, Index budget)
//                                   runs and logs iterations, at most
//                                   `budget`, while each finds a matching
//                                   row that a faster way can look up, and
//                                   returns how many ran (0 without one)
//   bool indexed()                  the rows are not in order, and
//   LastRowScan indexed_scan(Index p, Index best)
//                                   gives the scan's result from an index
//   Index unsettled()               after a reduction that took the ordered
//                                   scans: the position that an exchange with
//                                   a row without a 1 gave the last row's
//                                   leading entry, or 0 when there was none
#pragma once

#include <algorithm>
#include <vector>

#include "failure.hpp"
#include "row_log.hpp"
#include "types.hpp"

namespace quorvel {

/// What the scan for the last row's leading position p found: the matching
/// row, or else the candidate for an exchange; k_no_lead where there is none.
struct LastRowScan {
    Index match = k_no_lead;
    Index candidate = k_no_lead;
};

namespace last_row {

/// (D1): the bound on the distance of a candidate from p.
template <bool Dep>
constexpr Index initial_best(Index n) {
    return Dep ? n - 1 : n;
}

/// The scan of rows 0 .. n-2 in increasing order for the last row's leading
/// position p, one row after the other.
template <bool Dep, class Rows>
LastRowScan scan(Rows& rows, Index p) {
    const Index best_bound = initial_best<Dep>(rows.count());
    if constexpr (Rows::k_ordered_scan) {
        if (rows.ordered())
            return rows.ordered_scan(p, best_bound);
        if (rows.indexed())
            return rows.indexed_scan(p, best_bound);
    }
    LastRowScan s;
    Index best = best_bound;
    for (Index i = 0; i + 1 < rows.count(); ++i) {
        const Index q = rows.leading(i);
        if (q == p) {
            s.match = i;
            break;
        }
        if (q == k_no_lead) {  // (D2)
            if (s.candidate == k_no_lead)
                s.candidate = i;
            if (Dep)
                continue;
            break;
        }
        if (q > p && q - p < best) {
            s.candidate = i;
            best = q - p;
        }
    }
    return s;
}

/// The reduction phase: true when it ends with a last row without a 1, which
/// the upward pass then follows; false when the iterations run out or (D3)
/// ends them.
template <bool Dep, class Rows>
bool reduce(Rows& rows, RowLog& log, Index limit) {
    const Index last = rows.count() - 1;
    for (Index iteration = 0; iteration < limit; ++iteration) {
        if constexpr (Rows::k_ordered_scan) {
            iteration += rows.add_matches(log, limit - iteration);
            if (iteration == limit)
                break;
        }
        const Index p = rows.leading(last);
        if (p == k_no_lead)
            return true;
        const LastRowScan s = scan<Dep>(rows, p);
        if (s.match != k_no_lead) {
            rows.add(last, s.match, p);
            log.push(last, s.match);
        } else if (s.candidate != k_no_lead) {
            rows.exchange(last, s.candidate);
            log.push_exchange(s.candidate, last);
        } else if constexpr (Dep) {
            return false;  // (D3)
        } else {
            panic(k_unwrap_none);
        }
    }
    return false;
}

/// One pass over neighbouring rows, from the bottom up: t runs from n - 1,
/// or n - 2 for `Dep` (D4), down to 1.
///
/// After ordered scans the rows are in echelon order but for one row, the
/// one that an exchange with a row without a 1 left at `unsettled()`, whose
/// leading position is no other row's: the steps below it only move it up
/// to its place, every other step changes nothing, and the pass can start
/// at that row and end at the first step that leaves the rows as they are.
template <bool Dep, class Rows>
void upward_pass(Rows& rows, RowLog& log) {
    const Index n = rows.count();
    Index start = Dep ? n - 1 : n;
    bool settle = false;
    if constexpr (Rows::k_ordered_scan) {
        if (rows.ordered()) {
            start = std::min(start, rows.unsettled() + 1);
            settle = true;
        }
    }
    for (Index t = start; t-- > 1;) {
        const Index u = t - 1;
        if (rows.is_zero(t)) {
            if (settle)
                return;
            continue;
        }
        const Index pt = rows.leading(t);
        if (pt == k_no_lead)
            panic(k_unwrap_none);
        const Index pu = rows.leading(u);
        if (pu == k_no_lead || pt < pu) {
            rows.exchange(t, u);
            log.push_exchange(t, u);
        } else if (pt == pu && (!Dep || pt + 1 == rows.width())) {  // (D5)
            rows.add(t, u, pt);
            log.push(t, u);
        } else if (settle) {
            return;
        }
    }
}

}  // namespace last_row

/// Reduces the last row of `rows` and returns the log; `rows` holds the
/// result.  Fails on rows without rows, and as (D3) says.
template <bool Dep, class Rows>
[[nodiscard]] RowLog reduce_last_row(Rows& rows) {
    const Index n = rows.count();
    // The last-row index n - 1, wrapped as an unsigned index, fails the check.
    check_index(n - 1, n);
    RowLog log(n);
    const Index limit = rows.width();
    // At most three pairs per iteration and per step of the upward pass.
    log.reserve(3 * (limit + n - 1));
    if (last_row::reduce<Dep>(rows, log, limit))
        last_row::upward_pass<Dep>(rows, log);
    return log;
}

/// The number of distinct positions other than k_no_lead among `leads`, the
/// leading positions of some rows: the rank of a matrix in echelon form, read
/// off the same leading positions as the reduction reads.  Reorders `leads`.
[[nodiscard]] inline Index distinct_leading_positions(std::vector<Index>& leads) {
    // An echelon form gives them rising, rows without a 1 anywhere: one pass.
    Index distinct = 0;
    Index previous = k_no_lead;
    bool rising = true;
    for (const Index q : leads) {
        if (q == k_no_lead)
            continue;
        if (previous != k_no_lead && q <= previous) {
            rising = false;
            break;
        }
        ++distinct;
        previous = q;
    }
    if (rising)
        return distinct;
    const auto end = std::remove(leads.begin(), leads.end(), k_no_lead);
    std::sort(leads.begin(), end);
    return static_cast<Index>(std::unique(leads.begin(), end) - leads.begin());
}

}  // namespace quorvel
