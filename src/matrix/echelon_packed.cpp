// Reduced row echelon forms of packed rows: the block eliminator's three
// parts (echelon_packed_blocks.hpp), block after block.
#include <algorithm>
#include <cstring>
#include <numeric>

#include "echelon_packed_blocks.hpp"

namespace quorvel::packed {
namespace {

class BlockEliminator {
public:
    explicit BlockEliminator(PackedRows& w)
        : w_(w), n_(w.nrows()), max_pivots_(static_cast<unsigned>(std::min<Index>({block::k_max_pivots, w.nrows(), w.ncols()}))),
          log_(w.nrows()), order_(w.nrows()), masks_(w.nrows()), search_(w.nrows(), w.stride(), max_pivots_),
          emitter_(w.nrows(), max_pivots_) {
        std::iota(order_.begin(), order_.end(), Index{0});
        // Each pivot logs at most its exchange and one run of rows.
        const Index pivots = std::min(w.nrows(), w.ncols());
        log_.reserve(3 * pivots);
        log_.reserve_runs(pivots);
    }

    RowLog run() {
        Index i = 0;
        for (Index word = 0; word < w_.stride() && i < n_; ++word)
            i = block(word, i);
        w_.permute(order_);
        return std::move(log_);
    }

private:
    Index block(Index word, Index first) {
        search_.find(w_, order_, first, word, pivots_);
        const unsigned found = pivots_.found;
        if (found == 0)
            return first;
        tables_.build(pivots_, search_, n_ - found);
        const Word columns = pivots_.columns;
        for (Index p = 0; p < n_; ++p) {
            if (p == first) {
                p += found - 1;
                continue;
            }
            Word* row = w_.row(order_[p]) + word;
            if (p + 4 < n_)
                __builtin_prefetch(w_.row(order_[p + 4]) + word);
            masks_[p] = (row[0] & columns) == 0 ? 0 : tables_.reduce(row);
        }
        const Index len = search_.len();
        for (unsigned t = 0; t < found; ++t)
            std::memcpy(w_.row(pivots_.row[t]) + word, search_.reduced_row(t), len * sizeof(Word));
        emitter_.emit(pivots_, first, masks_, log_);
        return first + found;
    }

    PackedRows& w_;
    const Index n_;
    const unsigned max_pivots_;
    RowLog log_;
    std::vector<Index> order_;  // order_[p]: the packed row at position p
    block::Words masks_;  // per position
    block::Pivots pivots_;
    block::PivotSearch search_;
    block::Tables tables_;
    block::LogEmitter emitter_;
};

}  // namespace

RowLog echelon_form_in_place(PackedRows& w) {
    if (w.nrows() == 0 || w.ncols() == 0)
        return RowLog(w.nrows());
    return BlockEliminator(w).run();
}

}  // namespace quorvel::packed
