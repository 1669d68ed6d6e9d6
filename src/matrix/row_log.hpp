// The row-operation log: the ordered row additions (target, source) that turn
// the input of an elimination into its result.  An exchange of rows a and b is
// written as the three additions (a, b), (b, a), (a, b).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "memory.hpp"
#include "packed_rows.hpp"

namespace quorvel {

/// One logged addition: row `source` was added into row `target`.
struct RowOp {
    Index target;
    Index source;
    friend bool operator==(const RowOp&, const RowOp&) = default;
};

/// Single pairs, stored as two 32-bit indexes whenever the matrix has fewer
/// than 2^32 rows (always, in practice), which halves the memory of logs
/// that hold millions of pairs; wider matrices fall back to 64-bit indexes.
class PairList {
public:
    /// Pairs of rows of a matrix of `nrows` rows.
    explicit PairList(Index nrows) : wide_(nrows > std::numeric_limits<std::uint32_t>::max()) {}

    /// Reserves room for `pairs` pairs.  A bound too large to allocate is
    /// dropped: the list also grows as pairs arrive.
    void reserve(std::size_t pairs) {
        if (pairs > std::numeric_limits<std::size_t>::max() / 16)
            return;
        try {
            if (wide_)
                wide_pairs_.reserve(2 * pairs);
            else
                narrow_pairs_.reserve(2 * pairs);
        } catch (const std::bad_alloc&) {
        }
    }

    void push(Index target, Index source) {
        if (wide_) {
            wide_pairs_.push_back(target);
            wide_pairs_.push_back(source);
        } else {
            narrow_pairs_.push_back(static_cast<std::uint32_t>(target));
            narrow_pairs_.push_back(static_cast<std::uint32_t>(source));
        }
    }

    /// push(target, sources[k]) for k < count, in that order.
    void push_all(Index target, const Index* sources, std::size_t count) {
        if (wide_) {
            for (std::size_t k = 0; k < count; ++k)
                push(target, sources[k]);
            return;
        }
        const std::size_t at = narrow_pairs_.size();
        narrow_pairs_.resize(at + 2 * count);
        std::uint32_t* out = narrow_pairs_.data() + at;
        for (std::size_t k = 0; k < count; ++k) {
            out[2 * k] = static_cast<std::uint32_t>(target);
            out[2 * k + 1] = static_cast<std::uint32_t>(sources[k]);
        }
    }
    [[nodiscard]] std::size_t size() const { return (wide_ ? wide_pairs_.size() : narrow_pairs_.size()) / 2; }

    /// visit(target, source) for pair k.
    template <class Visit>
    void visit_pair(std::size_t k, Visit& visit) const {
        if (wide_)
            visit(wide_pairs_[2 * k], wide_pairs_[2 * k + 1]);
        else
            visit(Index{narrow_pairs_[2 * k]}, Index{narrow_pairs_[2 * k + 1]});
    }

private:
    bool wide_;
    std::vector<std::uint32_t, UninitialisedAllocator<std::uint32_t>> narrow_pairs_;
    std::vector<Index> wide_pairs_;
};

/// Row-operation log: single pairs, and runs.  A run is the pairs (r, source)
/// for every row r of a set, in ascending r, kept as a bitset of one bit per
/// row.  A Gauss-Jordan step adds its pivot row into about half the rows, so
/// a run costs about 1/32 of the memory of its pairs; the pairs are produced
/// only when the log is read.
class RowLog {
public:
    /// A log for a matrix of `nrows` rows.
    explicit RowLog(Index nrows = 0)
        : singles_(nrows), run_words_(static_cast<std::size_t>(packed::words_for(nrows))) {}

    /// Reserves room for `pairs` single pairs (see PairList::reserve).
    void reserve(std::size_t pairs) { singles_.reserve(pairs); }

    /// Reserves room for `runs` runs, on the same terms.
    void reserve_runs(std::size_t runs) {
        if (run_words_ != 0 && runs > std::numeric_limits<std::size_t>::max() / 8 / run_words_)
            return;
        try {
            runs_.reserve(runs);
            run_bits_.reserve(runs * run_words_);
        } catch (const std::bad_alloc&) {
        }
    }

    void push(Index target, Index source) { singles_.push(target, source); }

    /// Logs (target, sources[k]) for k < count, in that order.
    void push_all(Index target, const Index* sources, std::size_t count) { singles_.push_all(target, sources, count); }
    /// Logs the exchange of rows a and b as its three additions.
    void push_exchange(Index a, Index b) {
        push(a, b);
        push(b, a);
        push(a, b);
    }

    /// Logs (r, source) for every row r whose bit is set in `rows`, a bitset
    /// of packed::words_for(nrows) words (row r is packed::bit(rows, r)) that
    /// has `count` bits set, none of them at or beyond nrows.
    void push_rows(Index source, const Word* rows, std::size_t count) {
        if (count == 0)
            return;
        runs_.push_back({singles_.size(), source, run_bits_.size(), count});
        run_bits_.insert(run_bits_.end(), rows, rows + run_words_);
        run_pairs_ += count;
    }

    [[nodiscard]] std::size_t size() const { return singles_.size() + run_pairs_; }
    [[nodiscard]] bool empty() const { return size() == 0; }

    /// Calls visit(target, source) for every pair, in log order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        std::size_t k = 0;
        for (const Run& run : runs_) {
            for (; k < run.before; ++k)
                singles_.visit_pair(k, visit);
            const Word* bits = run_bits_.data() + run.first_word;
            for (std::size_t w = 0; w < run_words_; ++w)
                packed::each_set_bit(bits[w], [&](unsigned b) { visit(Index{w} * packed::k_word_bits + b, run.source); });
        }
        for (; k < singles_.size(); ++k)
            singles_.visit_pair(k, visit);
    }

    /// The pairs in log order, for tests and replay.
    [[nodiscard]] std::vector<RowOp> pairs() const {
        std::vector<RowOp> out;
        out.reserve(size());
        for_each([&](Index target, Index source) { out.push_back({target, source}); });
        return out;
    }

private:
    struct Run {
        std::size_t before;      // single pairs logged before the run
        Index source;
        std::size_t first_word;  // in run_bits_
        std::size_t count;
    };

    PairList singles_;
    std::size_t run_words_;
    std::vector<Run> runs_;
    std::vector<Word, UninitialisedAllocator<Word>> run_bits_;
    std::size_t run_pairs_ = 0;
};

}  // namespace quorvel
