// The last-row reductions on packed rows.
//
// One procedure serves both reductions; the `dep` variant differs in five
// rules:
//   (D1) the initial best distance is n - 1 instead of n;
//   (D2) a row without a 1 met in the scan becomes the candidate only if
//        there is none yet, and the scan goes on instead of stopping;
//   (D3) an iteration without a match or a candidate returns the rows as
//        they are instead of failing;
//   (D4) the upward pass starts at row n - 2 instead of n - 1;
//   (D5) equal leading positions in the upward pass are added only when the
//        shared position is the last column.
//
// Rows are named by their position in the reduction; `order_[p]` is the
// stored row now at position p, and `lead_[p]` its leading position.
#include "packed_algorithms.hpp"
#include "word_ops.hpp"

#include "simd.hpp"

#if QUORVEL_X86_SIMD
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

namespace quorvel::packed {
namespace {

// Whether leading positions `above` and `below` of neighbouring rows are in
// echelon order, k_no_lead counting as larger than every position: strictly
// rising, with rows without a 1 only after all rows with one.
bool in_order(Index above, Index below) {
    return above < below || (above == k_no_lead && below == k_no_lead);
}

// The leading position of every row.  This pass reads the zero prefix of
// every row, half the matrix for a square echelon form, and is the one part
// of a reduction whose cost grows with the whole matrix: with AVX2 it skips
// zero words 8 at a time in two registers.  The portable variant, `leading`
// row by row, skips them 8 at a time in general registers.
#if QUORVEL_X86_SIMD
__attribute__((target("avx2"))) void find_leads_avx2(const PackedRows& w, Index* lead) {
    const Index stride = w.stride();
    const __m256i zero = _mm256_setzero_si256();
    for (Index r = 0; r < w.nrows(); ++r) {
        const Word* row = w.row(r);
        Index found = k_no_lead;
        Index k = 0;
        for (; k + 8 <= stride; k += 8) {
            __m256i a;
            __m256i b;
            std::memcpy(&a, row + k, sizeof a);
            std::memcpy(&b, row + k + 4, sizeof b);
            const __m256i x = _mm256_or_si256(a, b);
            if (_mm256_testz_si256(x, x) == 0) {
                // The first non-zero word of the eight, without a branch.
                const int zero_words =
                    _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(a, zero))) |
                    _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(b, zero))) << 4;
                const Index word = k + static_cast<Index>(std::countr_one(static_cast<unsigned>(zero_words)));
                found = word * k_word_bits + lowest_bit(row[word]);
                break;
            }
        }
        lead[r] = k + 8 <= stride ? found : leading(row, stride, k);
    }
}

#endif

void find_leads(const PackedRows& w, Index* lead) {
#if QUORVEL_X86_SIMD
    static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    if (avx2) {
        find_leads_avx2(w, lead);
        return;
    }
#endif
    for (Index r = 0; r < w.nrows(); ++r)
        lead[r] = leading(w.row(r), w.stride());
}

template <bool Dep>
class LastRowReduction {
public:
    explicit LastRowReduction(PackedRows& w)
        : w_(w), n_(w.nrows()), last_(n_ - 1), stride_(w.stride()), log_(n_) {}

    RowLog run() {
        // The last-row index n - 1, wrapped as an unsigned index, fails the check.
        check_index(last_, n_);
        const Index limit = w_.ncols();
        if (limit == 0)
            return std::move(log_);
        log_.reserve(3 * (limit + last_));
        if (n_ > k_local_rows) {
            heap_.resize(n_);
            lead_ = heap_.data();
        }
        find_leads(w_, lead_);
        bool ordered = true;
        for (Index p = 1; p < last_; ++p)
            ordered &= in_order(lead_[p - 1], lead_[p]);
        ordered_ = ordered;
        while (with_lead_ < last_ && lead_[with_lead_] != k_no_lead)
            ++with_lead_;

        bool last_row_cleared = false;
        for (Index iteration = 0; iteration < limit; ++iteration) {
            const Index p = lead_[last_];
            if (p == k_no_lead) {
                last_row_cleared = true;
                break;
            }
            const auto [match, candidate] = ordered_ ? scan_ordered(p) : scan(p);
            if (match != k_none) {
                add(last_, match, p);
                lead_[last_] = leading(row(last_), stride_, word_of(p));
            } else if (candidate != k_none) {
                exchange_with_last(candidate);
            } else if constexpr (Dep) {
                return finish();  // (D3)
            } else {
                panic(k_unwrap_none);
            }
        }
        if (last_row_cleared)
            upward_pass(limit);
        return finish();
    }

private:
    static constexpr Index k_none = k_no_lead;
    // Matrices of at most this many rows keep their positions on the stack.
    static constexpr Index k_local_rows = 64;

    struct Scan {
        Index match = k_none;
        Index candidate = k_none;
    };

    [[nodiscard]] Index initial_best() const { return Dep ? n_ - 1 : n_; }  // (D1)

    Word* row(Index p) { return w_.row(direct_ ? p : order_[p]); }

    // Row at position `source` into the row at position `target`, both with
    // their leading position at or after column `from`.
    void add(Index target, Index source, Index from) {
        const Index word = word_of(from);
        xor_into(row(target) + word, row(source) + word, stride_ - word);
        log_.push(target, source);
    }

    // The first exchanges swap the words of the two rows.  Once they have
    // moved more words than there are rows, the rest go into a permutation
    // that is applied at the end and moves every row at most once, however
    // often it was exchanged.
    void exchange(Index a, Index b) {
        if (direct_) {
            swap_words(w_.row(a), w_.row(b), stride_);
            swapped_words_ += 2 * stride_;
            if (swapped_words_ > n_) {
                direct_ = false;
                order_.resize(n_);
                std::iota(order_.begin(), order_.end(), Index{0});
            }
        } else {
            std::swap(order_[a], order_[b]);
        }
        std::swap(lead_[a], lead_[b]);
    }

    // The scan of rows 0 .. n-2 in increasing order for the last row's
    // leading position p, one row after the other.
    [[nodiscard]] Scan scan(Index p) const {
        Scan s;
        Index best = initial_best();
        for (Index i = 0; i < last_; ++i) {
            const Index q = lead_[i];
            if (q == p) {
                s.match = i;
                break;
            }
            if (q == k_no_lead) {  // (D2)
                if (s.candidate == k_none)
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

    // The same scan while rows 0 .. n-2 are in echelon order.  Rows left of
    // p are passed over; the first row at or right of p either matches or is
    // the closest candidate, as every later row lies further right; and if it
    // is out of reach, the first row without a 1 is the candidate under
    // either variant of (D2).
    //
    // The last row's leading position rises in every iteration (an addition
    // clears it, an exchange brings a row from further right), so the search
    // starts where the previous one ended and gallops: matches against a
    // reduced echelon form mostly lie a few rows apart.
    [[nodiscard]] Scan scan_ordered(Index p) {
        Index lo = hint_;  // every row above lo lies left of p
        Index hi = with_lead_;
        for (Index step = 1; lo + step <= with_lead_; step *= 2) {
            const Index probe = lo + step - 1;
            if (lead_[probe] >= p) {
                hi = probe;
                break;
            }
            lo = probe + 1;
        }
        const Index i = static_cast<Index>(std::lower_bound(lead_ + lo, lead_ + hi, p) - lead_);
        hint_ = i;
        Scan s;
        if (i < with_lead_ && lead_[i] == p)
            s.match = i;
        else if (i < with_lead_ && lead_[i] - p < initial_best())
            s.candidate = i;
        else if (with_lead_ < last_)
            s.candidate = with_lead_;
        return s;
    }

    // Exchanges the last row with the row at position k.  Rows 0 .. n-2 stay
    // in echelon order, as far as any later scan can tell: a scan in order
    // takes either the first row right of p, which p then replaces between
    // a row left of p and one right of the old row, or a row without a 1,
    // after which the last row holds no 1 and the scans are over.
    void exchange_with_last(Index k) {
        exchange(last_, k);
        log_.push_exchange(k, last_);
    }

    // One pass over neighbouring rows from the bottom up.  In a 0/1 row "zero
    // row" and "no leading position" are the same test, so the pass never
    // meets a row that is not zero yet has no 1.
    void upward_pass(Index limit) {
        // (D4).  The pass begins with a zero last row, so on 0/1 rows the
        // first step of `echelon_form_last_row` finds nothing to do.
        const Index start = Dep ? n_ - 1 : n_;
        for (Index t = start; t-- > 1;) {
            const Index u = t - 1;
            const Index pt = lead_[t];
            if (pt == k_no_lead)
                continue;
            const Index pu = lead_[u];
            if (pu == k_no_lead || pt < pu) {
                exchange(t, u);
                log_.push_exchange(t, u);
            } else if (pt == pu && (!Dep || pt + 1 == limit)) {  // (D5)
                // Row t is not read again: the pass moves on to u and above.
                add(t, u, pt);
            }
        }
    }

    RowLog finish() {
        if (!direct_)
            w_.permute(order_);
        return std::move(log_);
    }

    PackedRows& w_;
    const Index n_;
    const Index last_;
    const Index stride_;
    RowLog log_;
    bool direct_ = true;
    Index swapped_words_ = 0;
    std::array<Index, k_local_rows> local_;
    std::vector<Index> heap_;
    Index* lead_ = local_.data();  // leading position of the row at each position
    std::vector<Index> order_;     // unless direct_: the row at each position
    bool ordered_ = true;  // rows 0 .. n-2 are in echelon order
    Index with_lead_ = 0;  // while ordered: rows 0 .. with_lead_-1 have a 1
    Index hint_ = 0;       // while ordered: rows 0 .. hint_-1 lie left of the last row
};

}  // namespace

RowLog echelon_form_last_row_in_place(PackedRows& w) { return LastRowReduction<false>(w).run(); }

RowLog echelon_form_last_row_dep_in_place(PackedRows& w) { return LastRowReduction<true>(w).run(); }

}  // namespace quorvel::packed
