// The last-row reduction on packed rows (rules in last_row.hpp).
//
// The reduction is called once per incoming row to test it against rows that
// are usually in echelon form already, so it never searches a row twice: the
// leading position of every row is taken from the matrix, which keeps them
// for rows that came one by one and for the result of the last reduction, or
// else found once while the working copy is made; they are kept up to date
// with the searches over them (LeadCache, KeptLeads), rows are exchanged in
// a permutation that is applied to the words once, at the end
// (DelayedPermutation), and a scan over rows whose leading positions rise is
// a binary search or a table lookup (OrderedSearch).
//
// Rows are named by their position in the reduction.
#include "last_row.hpp"
#include "packed_algorithms.hpp"
#include "simd.hpp"
#include "word_ops.hpp"

#if QUORVEL_X86_SIMD
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

namespace quorvel::packed {
namespace {

// The leading positions of rows begin .. end-1, lead[0] for row begin.  This
// pass reads the zero prefix of every row, half the matrix for a square
// echelon form, and is the one part of a reduction whose cost grows with the
// whole matrix: with AVX2 it skips zero words 8 at a time in two registers.
// The portable variant, `leading` row by row, skips them 8 at a time in
// general registers.
#if QUORVEL_X86_SIMD
__attribute__((target("avx2"))) void find_leads_avx2(const PackedRows& w, Index begin, Index end, Index* lead) {
    const Index stride = w.stride();
    const Index blocks = stride - stride % 8;
    const __m256i zero = _mm256_setzero_si256();
    for (Index r = begin; r < end; ++r) {
        const Word* row = w.row(r);
        Index k = 0;
        unsigned nonzero_words = 0;  // of the eight from word k
        for (; k < blocks; k += 8) {
            __m256i a;
            __m256i b;
            std::memcpy(&a, row + k, sizeof a);
            std::memcpy(&b, row + k + 4, sizeof b);
            const __m256i x = _mm256_or_si256(a, b);
            if (_mm256_testz_si256(x, x) == 0) {
                const int zero_words =
                    _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(a, zero))) |
                    _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(b, zero))) << 4;
                nonzero_words = ~static_cast<unsigned>(zero_words) & 0xFFU;
                break;
            }
        }
        if (nonzero_words != 0) {
            const Index word = k + static_cast<Index>(std::countr_zero(nonzero_words));
            lead[r - begin] = word * k_word_bits + lowest_bit(row[word]);
        } else {
            lead[r - begin] = leading(row, stride, k);
        }
    }
}
#endif

void find_leads(const PackedRows& w, Index begin, Index end, Index* lead) {
#if QUORVEL_X86_SIMD
    static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    if (avx2) {
        find_leads_avx2(w, begin, end, lead);
        return;
    }
#endif
    for (Index r = begin; r < end; ++r)
        lead[r - begin] = leading(w.row(r), w.stride());
}

}  // namespace

void find_leads(const PackedRows& w, Index* lead) { find_leads(w, 0, w.nrows(), lead); }

namespace {

// The leading position of the row at each position, found once and kept up
// to date by the edits.
class LeadCache {
public:
    /// Makes `copy`, of the shape of `source`, a copy of it, finding the
    /// leading positions as it goes: a few kilobytes of rows at a time are
    /// searched and then copied, so that the copy reads again from the
    /// nearest cache what the search has just read, and no row is read twice
    /// from further away.
    ///
    /// Positions that the source kept (`known`, one per row, or empty) are
    /// taken as they are, and the rows are copied in one go.
    LeadCache(const PackedRows& source, std::span<const Index> known, PackedRows& copy) {
        const Index n = source.nrows();
        if (n > k_local_rows) {
            heap_.resize(n);
            lead_ = heap_.data();
        }
        const Index stride = source.stride();
        if (known.size() == n && n != 0) {
            std::copy(known.begin(), known.end(), lead_);
            if (stride != 0)
                std::memcpy(copy.row(0), source.row(0), n * stride * sizeof(Word));
            return;
        }
        const Index rows = std::max<Index>(1, k_chunk_words / std::max<Index>(1, stride));
        for (Index r = 0; r < n; r += rows) {
            const Index end = std::min(n, r + rows);
            find_leads(source, r, end, lead_ + r);
            if (stride != 0)  // rows without columns have no words
                std::memcpy(copy.row(r), source.row(r), (end - r) * stride * sizeof(Word));
        }
    }
    LeadCache(const LeadCache&) = delete;
    LeadCache& operator=(const LeadCache&) = delete;

    [[nodiscard]] Index& operator[](Index p) { return lead_[p]; }
    [[nodiscard]] Index operator[](Index p) const { return lead_[p]; }
    [[nodiscard]] const Index* data() const { return lead_; }
    /// The positions of the `n` rows, for the matrix that the copy becomes.
    [[nodiscard]] LeadBuffer release(Index n) && {
        if (lead_ == heap_.data())
            return std::move(heap_);
        return LeadBuffer(lead_, lead_ + n);
    }

private:
    // Matrices of at most this many rows keep their positions on the stack.
    static constexpr Index k_local_rows = 64;
    // Words searched and copied at a time: 8 KiB.
    static constexpr Index k_chunk_words = 1024;
    std::array<Index, k_local_rows> local_;
    LeadBuffer heap_;
    Index* lead_ = local_.data();
};

// The first exchanges swap the words of the two rows.  Once they have moved
// more words than there are rows, the rest go into a permutation that is
// applied at the end and moves every row at most once, however often it was
// exchanged.
class DelayedPermutation {
public:
    explicit DelayedPermutation(PackedRows& w) : w_(w), n_(w.nrows()), stride_(w.stride()) {}

    /// The words of the row at position p.
    [[nodiscard]] Word* row(Index p) { return w_.row(direct_ ? p : order_[p]); }

    void exchange(Index a, Index b) {
        if (!direct_) {
            std::swap(order_[a], order_[b]);
            return;
        }
        swap_words(w_.row(a), w_.row(b), stride_);
        swapped_words_ += 2 * stride_;
        if (swapped_words_ > n_) {
            direct_ = false;
            order_.resize(n_);
            std::iota(order_.begin(), order_.end(), Index{0});
        }
    }

    /// Puts every row at its position.
    void apply() {
        if (!direct_)
            w_.permute(order_);
    }

private:
    PackedRows& w_;
    const Index n_;
    const Index stride_;
    bool direct_ = true;
    Index swapped_words_ = 0;
    std::vector<Index> order_;  // unless direct_: the stored row at each position
};

// The scan while rows 0 .. n-2 are in echelon order.  Rows left of p are
// passed over; the first row at or right of p either matches or is the
// closest candidate, as every later row lies further right; and if it is out
// of reach, the first row without a 1 is the candidate under either variant
// of (D2).
//
// The order lasts, as far as any later scan can tell: an exchange takes
// either the first row right of p, which p then replaces between a row left
// of p and one right of the old row, or a row without a 1, after which the
// last row holds no 1 and the scans are over.  And the last row's leading
// position rises in every iteration (an addition clears it, an exchange
// brings a row from further right), so the row found rises too: rows above
// the previous one lie left of the new p.
//
// The first row at or right of p is searched from the previous row on,
// galloping: matches against a reduced echelon form mostly lie a few rows
// apart.  And until an exchange moves a leading position, the matching row
// itself is looked up in a table made from the leading positions at the
// start, when there are some hundreds of rows and the rows are not much
// wider than they are many: a reduction against a full echelon form runs
// about one match per column, and the lookup has no branch to mispredict
// where a search has several.
class OrderedSearch {
public:
    /// Over the leading positions of the `n` rows of `rows`, `width` columns.
    OrderedSearch(const PackedRows& rows, const Index* lead, Index n, Index width) : last_(n == 0 ? 0 : n - 1) {
        // The table is filled in the pass that tests the order, and dropped
        // if the rows turn out not to be in order.
        const bool table = n >= k_table_rows && width <= 4 * n;
        if (table) {
            match_row_.resize(width);
            std::fill(match_row_.begin(), match_row_.end(), k_no_lead);
            match_head_.resize(width);
        }
        // In order: the leading positions rise, and no row with a 1 comes
        // after one without.
        bool ordered = true;
        bool past_zero_rows = false;
        Index with_lead = 0;
        Index next = 0;  // one more than the last leading position, or 0
        for (Index r = 0; r < last_; ++r) {
            const Index q = lead[r];
            if (q == k_no_lead) {
                past_zero_rows = true;
                continue;
            }
            ordered &= !past_zero_rows & (next <= q);
            next = q + 1;
            ++with_lead;
            if (table) {
                match_row_[q] = r;
                match_head_[q] = rows.row(r)[word_of(q)];
            }
        }
        ordered_ = ordered;
        with_lead_ = with_lead;
        if (!ordered_) {
            match_row_ = {};
            match_head_ = {};
        }
    }

    /// Whether rows 0 .. n-2 are in echelon order.
    [[nodiscard]] bool active() const { return ordered_; }

    /// Whether `match` may be asked: the table is there, and no exchange
    /// has moved a leading position since it was made.
    [[nodiscard]] bool exact() const { return !match_row_.empty() && !moved_; }
    void moved() { moved_ = true; }

    /// The row whose leading position is p, with its word of p, if there is
    /// one: the scan's match, while `exact()`.
    [[nodiscard]] __attribute__((always_inline)) bool match(Index p, Index& row, Word& head) {
        const Index i = match_row_[p];
        if (i == k_no_lead)
            return false;
        hint_ = i;
        row = i;
        head = match_head_[p];
        return true;
    }

    /// The scan for p with the distance bound `best`.
    [[nodiscard]] __attribute__((always_inline)) LastRowScan find(const Index* lead, Index p, Index best) {
        const Index i = lower_bound(lead, p);
        hint_ = i;
        LastRowScan s;
        if (i < with_lead_ && lead[i] == p)
            s.match = i;
        else if (i < with_lead_ && lead[i] - p < best)
            s.candidate = i;
        else if (with_lead_ < last_)
            s.candidate = with_lead_;
        return s;
    }

private:
    // The first row from hint_ on whose leading position is p or more.
    Index lower_bound(const Index* lead, Index p) const {
        Index lo = hint_;  // every row above lo lies left of p
        Index hi = with_lead_;
        for (Index step = 1; lo + step <= with_lead_; step *= 2) {
            const Index probe = lo + step - 1;
            if (lead[probe] >= p) {
                hi = probe;
                break;
            }
            lo = probe + 1;
        }
        return static_cast<Index>(std::lower_bound(lead + lo, lead + hi, p) - lead);
    }

    // Below this many rows the table costs more than the lookups save.
    static constexpr Index k_table_rows = 128;
    Index last_;
    bool ordered_ = true;
    bool moved_ = false;
    Index with_lead_ = 0;  // in order: rows 0 .. with_lead_-1 have a 1
    Index hint_ = 0;       // rows 0 .. hint_-1 lie left of the last row
    // For each column q that a row leads in: that row, and its word of q;
    // k_no_lead in match_row_ for the other columns.  Empty without a table.
    std::vector<Index, UninitialisedAllocator<Index>> match_row_;
    std::vector<Word, UninitialisedAllocator<Word>> match_head_;
};

// The scan while rows 0 .. n-2 are not in echelon order, as the rows of a
// stream of wide vectors soon are: (D3) leaves a last row that no row
// within reach lies right of where it stands.  The scan's result depends on
// the leading positions alone: the first row that leads at p matches;
// otherwise the candidate is the first row that leads in the nearest column
// right of p that any row leads in, if that column is within the bound,
// and else, under (D2) of the `Dep` variant, the first row without a 1.
// So for each column the rows leading there are counted with the first of
// them, and a bit marks the columns that some row leads in: a scan is a
// lookup and a search for the next marked bit, instead of a pass over the
// rows.  Where the variant without `Dep` meets a row without a 1, its scan
// stops there, which the columns cannot tell: those rows keep the pass.
class IndexedSearch {
public:
    /// Over the leading positions of the `n` rows of `width` columns, made
    /// only when the first n - 1 of them are not in echelon order (`ordered`
    /// false); `stops_at_zero_row`: (D2) without `Dep`.
    IndexedSearch(const Index* lead, Index n, Index width, bool ordered, bool stops_at_zero_row)
        : last_(n == 0 ? 0 : n - 1) {
        if (ordered || n < k_min_rows || width > k_max_width_per_row * n)
            return;
        Index first_zero = k_no_lead;
        for (Index r = 0; r < last_ && first_zero == k_no_lead; ++r)
            if (lead[r] == k_no_lead)
                first_zero = r;
        if (stops_at_zero_row && first_zero != k_no_lead)
            return;
        first_zero_ = first_zero;
        first_.assign(width, k_no_lead);
        count_.assign(width, 0);
        marked_.assign(words_for(width), 0);
        for (Index r = 0; r < last_; ++r)
            if (lead[r] != k_no_lead)
                insert(r, lead[r]);
    }

    /// Whether the rows are indexed.
    [[nodiscard]] bool active() const { return !first_.empty(); }

    /// The scan for p with the distance bound `best`.
    [[nodiscard]] LastRowScan find(Index p, Index best) const {
        LastRowScan s;
        if (first_[p] != k_no_lead) {
            s.match = first_[p];
            return s;
        }
        const Index c = next_marked(p + 1);
        if (c != k_no_lead && c - p < best)
            s.candidate = first_[c];
        else
            s.candidate = first_zero_;
        return s;
    }

    /// Row r, one of rows 0 .. n-2, led at `from` and now leads at `to`;
    /// `lead` holds the new positions.
    void moved(const Index* lead, Index r, Index from, Index to) {
        if (from == to)
            return;
        if (from == k_no_lead) {
            if (r == first_zero_)
                first_zero_ = first_of(lead, k_no_lead);
        } else if (--count_[from] == 0) {
            first_[from] = k_no_lead;
            marked_[word_of(from)] &= ~(Word{1} << bit_of(from));
        } else if (first_[from] == r) {
            first_[from] = first_of(lead, from);
        }
        if (to == k_no_lead)
            first_zero_ = std::min(first_zero_, r);
        else
            insert(r, to);
    }

private:
    void insert(Index r, Index q) {
        ++count_[q];
        first_[q] = std::min(first_[q], r);
        marked_[word_of(q)] |= Word{1} << bit_of(q);
    }

    // The first of rows 0 .. n-2 that leads at q (k_no_lead: without a 1).
    [[nodiscard]] Index first_of(const Index* lead, Index q) const {
        for (Index r = 0; r < last_; ++r)
            if (lead[r] == q)
                return r;
        return k_no_lead;
    }

    // The first marked column from c on, or k_no_lead.
    [[nodiscard]] Index next_marked(Index c) const {
        Index w = word_of(c);
        if (w >= marked_.size())
            return k_no_lead;
        Word bits = marked_[w] & (~Word{0} << bit_of(c));
        while (bits == 0) {
            if (++w == marked_.size())
                return k_no_lead;
            bits = marked_[w];
        }
        return w * k_word_bits + lowest_bit(bits);
    }

    // Below this many rows a pass over them costs less than the index; and
    // the index is not made for rows many times wider than they are many.
    static constexpr Index k_min_rows = 64;
    static constexpr Index k_max_width_per_row = 16;
    Index last_;
    Index first_zero_ = k_no_lead;  // the first of rows 0 .. n-2 without a 1
    std::vector<Index> first_;      // first_[c]: the first row that leads at c
    std::vector<std::uint32_t> count_;
    std::vector<Word> marked_;  // bit c: some row leads at c
};

// The leading position of the row at each position and the two searches
// over them, kept up to date as the reduction adds and exchanges rows.
class KeptLeads {
public:
    /// Over `copy`, which becomes a copy of `source` (LeadCache), whose rows'
    /// leading positions are `known` if it kept them; `stops_at_zero_row`:
    /// (D2) without `Dep`.
    KeptLeads(const PackedRows& source, std::span<const Index> known, PackedRows& copy, bool stops_at_zero_row)
        : n_(source.nrows()), lead_(source, known, copy), search_(source, lead_.data(), n_, source.ncols()),
          index_(lead_.data(), n_, source.ncols(), search_.active(), stops_at_zero_row) {}

    [[nodiscard]] Index operator[](Index p) const { return lead_[p]; }
    /// The positions of the rows, once the rows are done with.
    [[nodiscard]] LeadBuffer release() && { return std::move(lead_).release(n_); }

    /// The row at position p now leads at q.
    void set(Index p, Index q) {
        const Index before = lead_[p];
        lead_[p] = q;
        if (p + 1 < n_ && indexed())
            index_.moved(lead_.data(), p, before, q);
    }

    /// The rows at positions a and b were exchanged.
    void exchange(Index a, Index b) {
        search_.moved();
        if (lead_[b] == k_no_lead && lead_[a] != k_no_lead)
            unsettled_ = b;
        std::swap(lead_[a], lead_[b]);
        if (indexed()) {
            if (a + 1 < n_)
                index_.moved(lead_.data(), a, lead_[b], lead_[a]);
            if (b + 1 < n_)
                index_.moved(lead_.data(), b, lead_[a], lead_[b]);
        }
    }

    [[nodiscard]] bool ordered() const { return search_.active(); }
    [[nodiscard]] bool indexed() const { return index_.active(); }
    [[nodiscard]] LastRowScan indexed_scan(Index p, Index best) const { return index_.find(p, best); }
    [[nodiscard]] __attribute__((always_inline)) LastRowScan ordered_scan(Index p, Index best) {
        return search_.find(lead_.data(), p, best);
    }
    /// The matching row's table (OrderedSearch::exact() and match()).
    [[nodiscard]] bool exact() const { return search_.exact(); }
    [[nodiscard]] __attribute__((always_inline)) bool match(Index p, Index& row, Word& head) {
        return search_.match(p, row, head);
    }
    /// The position that an exchange with a row without a 1 gave the last
    /// row's leading entry, or 0 when there was none.
    [[nodiscard]] Index unsettled() const { return unsettled_; }

private:
    const Index n_;
    LeadCache lead_;
    OrderedSearch search_;
    IndexedSearch index_;  // active only when the rows are not in order
    Index unsettled_ = 0;
};

// Adds words word+1 .. of rows[0 .. count-1] into `to`, eight rows at a
// time.
void add_rest(DelayedPermutation& words, Index stride, Word* to, Index word, const Index* rows, unsigned count) {
    const Index rest = stride - word - 1;
    if (rest == 0)
        return;
    std::array<const Word*, 8> from;
    for (unsigned k = 0; k < count; k += 8) {
        const unsigned batch = std::min(8U, count - k);
        for (unsigned b = 0; b < batch; ++b)
            from[b] = words.row(rows[k + b]) + word + 1;
        xor_sum_into(to + word + 1, from.data(), batch, rest);
    }
}

// The rows of the reduction (the policy of last_row.hpp): their words, in
// the order that the exchanges leave, and their kept leading positions.
// On 0/1 rows "zero row" and "no leading position" are the same test, so the
// upward pass never meets a row that is not zero yet has no 1.
class PackedLastRows {
public:
    static constexpr bool k_ordered_scan = true;

    /// Over `copy`, which becomes a copy of `source`, whose rows' leading
    /// positions are `known` if it kept them; `stops_at_zero_row`: (D2)
    /// without `Dep`.
    PackedLastRows(const PackedRows& source, std::span<const Index> known, PackedRows& copy, bool stops_at_zero_row)
        : n_(source.nrows()), width_(source.ncols()), stride_(source.stride()),
          lead_(source, known, copy, stops_at_zero_row), rows_(copy) {}

    [[nodiscard]] Index count() const { return n_; }
    [[nodiscard]] Index width() const { return width_; }
    [[nodiscard]] Index leading(Index p) const { return lead_[p]; }
    [[nodiscard]] bool is_zero(Index p) const { return lead_[p] == k_no_lead; }
    /// The leading position of the row at each position, once the rows are
    /// done with.
    [[nodiscard]] LeadBuffer release_leads() && { return std::move(lead_).release(); }

    // Only the words from the leading position's on are added, and searched
    // for the new one.  The next iteration waits for the new leading
    // position, mostly in the first word added: that word goes first.
    void add(Index target, Index source, Index lead) {
        const Index word = word_of(lead);
        Word* to = rows_.row(target);
        const Word* from = rows_.row(source);
        // Against an echelon form the next matches follow a few rows further
        // down: their first words are fetched while this addition runs.
        if (source + k_ahead < n_)
            __builtin_prefetch(rows_.row(source + k_ahead) + word);
        const Word head = to[word] ^ from[word];
        to[word] = head;
        xor_into(to + word + 1, from + word + 1, stride_ - word - 1);
        lead_.set(target, head != 0 ? word * k_word_bits + lowest_bit(head) : packed::leading(to, stride_, word + 1));
    }

    void exchange(Index a, Index b) {
        lead_.exchange(a, b);
        rows_.exchange(a, b);
    }

    /// Runs the iterations of the reduction, at most `budget` of them, for
    /// as long as each finds a matching row, and returns how many ran.
    ///
    /// While the last row's leading position stays in one word, the chain
    /// from one iteration to the next is that word alone: its lowest 1, the
    /// matching row's word there (from the table), their XOR.  The rest of
    /// the rows found is added once the word is clear, all of them in one
    /// go, where their loads no longer wait for one another.
    [[nodiscard]] __attribute__((always_inline)) Index add_matches(RowLog& log, Index budget) {
        if (!lead_.exact() || lead_[n_ - 1] == k_no_lead)
            return 0;
        return run_matches(log, budget);
    }

    [[nodiscard]] bool ordered() const { return lead_.ordered(); }
    [[nodiscard]] bool indexed() const { return lead_.indexed(); }
    [[nodiscard]] LastRowScan indexed_scan(Index p, Index best) const { return lead_.indexed_scan(p, best); }
    [[nodiscard]] Index unsettled() const { return lead_.unsettled(); }
    [[nodiscard]] __attribute__((always_inline)) LastRowScan ordered_scan(Index p, Index best) {
        return lead_.ordered_scan(p, best);
    }

    /// Puts the words in their final order.
    void finish() { rows_.apply(); }

private:
    // add_matches() once the table has a match to look for.
    [[gnu::noinline]] Index run_matches(RowLog& log, Index budget) {
        const Index last = n_ - 1;
        Word* to = rows_.row(last);
        std::array<Index, k_word_bits> found;  // one per 1 of the word at most
        unsigned pending = 0;
        Index word = word_of(lead_[last]);
        Word head = to[word];
        Index done = 0;
        for (; done < budget; ++done) {
            Index row = 0;
            Word row_head = 0;
            if (!lead_.match(word * k_word_bits + lowest_bit(head), row, row_head))
                break;
            head ^= row_head;
            found[pending++] = row;
            if (head != 0)
                continue;
            to[word] = 0;
            log.push_all(last, found.data(), pending);
            add_rest(rows_, stride_, to, word, found.data(), pending);
            pending = 0;
            const Index next = packed::leading(to, stride_, word + 1);
            if (next == k_no_lead) {
                lead_.set(last, k_no_lead);
                return done + 1;
            }
            word = word_of(next);
            head = to[word];
        }
        to[word] = head;
        log.push_all(last, found.data(), pending);
        add_rest(rows_, stride_, to, word, found.data(), pending);
        lead_.set(last, word * k_word_bits + lowest_bit(head));
        return done;
    }

    static constexpr Index k_ahead = 4;
    const Index n_;
    const Index width_;
    const Index stride_;
    KeptLeads lead_;
    DelayedPermutation rows_;
};

template <bool Dep>
Elimination reduce_copy(const PackedRows& source, std::span<const Index> known) {
    PackedRows copy(source.nrows(), source.ncols());
    PackedLastRows rows(source, known, copy, !Dep);
    RowLog log = reduce_last_row<Dep>(rows);
    rows.finish();
    if (!KnownLeads::kept_for(source.ncols()))
        return {Matrix(std::move(copy)), std::move(log)};
    return {Matrix::with_leads(std::move(copy), std::move(rows).release_leads()), std::move(log)};
}

}  // namespace

Elimination echelon_form_last_row(const PackedRows& w, std::span<const Index> known) {
    return reduce_copy<false>(w, known);
}
Elimination echelon_form_last_row_dep(const PackedRows& w, std::span<const Index> known) {
    return reduce_copy<true>(w, known);
}

}  // namespace quorvel::packed
