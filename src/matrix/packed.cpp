// The eliminations on packed rows.
#include "packed.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>

#include "word_ops.hpp"

namespace quorvel::packed {

// ---------------------------------------------------------------------------
// Reduced row echelon form.
//
// The row-by-row algorithm takes pivot after pivot; for each it exchanges the
// pivot row into place and adds it into every other row holding a 1 in the
// pivot column, logging (r, i) for the rows r in ascending order.  Here the
// columns are taken one word (64 columns) at a time, as one block:
//
// 1. Find the block's pivots, in the order and with the exchanges of the
//    row-by-row algorithm.  Only the pivot candidates are looked at, and only
//    their word of this block (their "strip"), brought up to date lazily: a
//    candidate's current strip is its strip at the block's start plus the
//    strips of the pivots it was cleared with, and whether pivot s clears it
//    depends only on its current bit in pivot column s.  The pivot rows
//    themselves are computed in full (from this word on) and reduced among
//    themselves, which gives the block's reduced pivot rows P.
// 2. Every other row r becomes r + sum of P_t over the pivots t whose column
//    holds a 1 in r at the block's start: P is the identity on the pivot
//    columns, so this clears them, and it is what the sequence of clearings
//    yields.  The sums come from tables of all combinations of the pivots of
//    each byte of the strip (Method of Four Russians), eight lookups a row.
// 3. Which pivots clear row r is also a linear function of r's bits in the
//    pivot columns at the block's start: tables of the same shape give it
//    as a mask of pivots.  Transposed into one bitset of rows per pivot, with
//    the few rows that the block's exchanges move patched in by hand, the
//    masks give the log pivot by pivot, rows in ascending order.
// ---------------------------------------------------------------------------
namespace {

constexpr unsigned k_block = 64;

class BlockEliminator {
public:
    explicit BlockEliminator(PackedRows& w)
        : w_(w), n_(w.nrows()), stride_(w.stride()), log_(w.nrows()), order_(w.nrows()),
          stamp_(w.nrows(), 0), strip_(w.nrows()), applied_(w.nrows()), cleared_by_(w.nrows()),
          masks_(w.nrows()), bits_(k_block * ((w.nrows() + 63) / 64)) {
        std::iota(order_.begin(), order_.end(), Index{0});
        // Each pivot logs at most its exchange and one run of rows.
        const Index pivots = std::min(w.nrows(), w.ncols());
        log_.reserve(3 * pivots);
        log_.reserve_runs(pivots);
        time_rows_.resize(k_block * stride_);
        final_rows_.resize(k_block * stride_);
        tables_.resize(8 * 256 * stride_);
    }

    RowLog run() {
        Index i = 0;
        for (Index word = 0; word < stride_ && i < n_; ++word)
            i = block(word, i);
        w_.permute(order_);
        return std::move(log_);
    }

private:
    // The strip of physical row `r` brought up to date with pivots 0 .. K-1.
    Word current_strip(Index r) {
        if (stamp_[r] != block_id_) {
            stamp_[r] = block_id_;
            strip_[r] = w_.row(r)[word_];
            applied_[r] = 0;
            cleared_by_[r] = 0;
        }
        Word s = strip_[r];
        Word cleared = cleared_by_[r];
        for (unsigned t = applied_[r]; t < found_; ++t)
            if ((s >> column_[t]) & 1U) {
                s ^= pivot_strip_[t];
                cleared |= Word{1} << t;
            }
        strip_[r] = s;
        cleared_by_[r] = cleared;
        applied_[r] = static_cast<std::uint8_t>(found_);
        return s;
    }

    // Mask of the pivots of this block that clear a row whose strip at the
    // block's start is `strip` (and that is not one of the pivot rows).
    [[nodiscard]] Word clearing_mask(Word strip) const {
        Word mask = 0;
        for (unsigned t = 0; t < found_; ++t)
            if ((strip >> column_[t]) & 1U) {
                strip ^= pivot_strip_[t];
                mask |= Word{1} << t;
            }
        return mask;
    }

    // Finds the pivots of word `word`, starting at pivot row `first`.
    void find_pivots(Index first, Index cols) {
        found_ = 0;
        Index c = 0;
        while (c < cols && first + found_ < n_) {
            const Index top = first + found_;
            Index k = top;
            for (; k < n_; ++k)
                if ((current_strip(order_[k]) >> c) & 1U)
                    break;
            if (k == n_) {
                // Column c holds no pivot; every candidate is now up to date,
                // so their union tells the next column that can.
                Word any = 0;
                for (Index p = top; p < n_; ++p)
                    any |= strip_[order_[p]];
                any = c + 1 < 64 ? any & ~((Word{2} << c) - 1) : 0;
                if (any == 0)
                    return;
                c = lowest_bit(any);
                continue;
            }
            const unsigned t = found_;
            std::swap(order_[top], order_[k]);
            exchange_with_[t] = k;
            const Index r = order_[top];
            column_[t] = static_cast<unsigned>(c);
            pivot_strip_[t] = strip_[r];
            pivot_row_[t] = r;
            before_pivot_[t] = cleared_by_[r];

            // The pivot row as it is at this moment, from this word on ...
            const Index len = stride_ - word_;
            Word* time_row = time_rows_.data() + t * len;
            std::memcpy(time_row, w_.row(r) + word_, len * sizeof(Word));
            for (Word m = cleared_by_[r]; m != 0; m &= m - 1)
                xor_into(time_row, time_rows_.data() + lowest_bit(m) * len, len);
            // ... becomes a row of P, and clears column c in the earlier ones.
            Word* final_row = final_rows_.data() + t * len;
            std::memcpy(final_row, time_row, len * sizeof(Word));
            clears_pivots_[t] = 0;
            for (unsigned s = 0; s < t; ++s) {
                Word* earlier = final_rows_.data() + s * len;
                if ((earlier[0] >> c) & 1U) {
                    xor_into(earlier, time_row, len);
                    clears_pivots_[t] |= Word{1} << s;
                }
            }
            ++found_;
            ++c;
        }
    }

    Index block(Index word, Index first) {
        word_ = word;
        ++block_id_;
        const Index cols = std::min<Index>(64, w_.ncols() - 64 * word);
        find_pivots(first, cols);
        const unsigned found = found_;
        if (found == 0)
            return first;
        const Index len = stride_ - word_;

        // Tables per byte of the strip: every sum of that byte's pivot rows,
        // and every sum of their clearing masks.
        std::array<unsigned, 8> group_size{};
        std::array<std::array<std::uint8_t, 256>, 8> compress{};
        std::array<std::array<unsigned, 8>, 8> group_pivot{};
        std::array<const Word*, 8> table{};
        unsigned groups = 0;
        std::array<unsigned, 8> group_byte{};
        Word pivot_columns = 0;
        for (unsigned t = 0; t < found; ++t) {
            const unsigned g = column_[t] / 8;
            group_pivot[g][group_size[g]++] = t;
            pivot_columns |= Word{1} << column_[t];
        }
        Word* next_table = tables_.data();
        std::vector<Word>& unit = unit_masks_;
        unit.assign(found, 0);
        for (unsigned t = 0; t < found; ++t)
            unit[t] = clearing_mask(Word{1} << column_[t]);
        for (unsigned g = 0; g < 8; ++g) {
            if (group_size[g] == 0)
                continue;
            const unsigned byte_pivots = static_cast<unsigned>((pivot_columns >> (8 * g)) & 0xFFU);
            for (unsigned x = 1; x < 256; ++x) {
                const unsigned low = x & (0U - x);
                const unsigned bit = (byte_pivots & low) != 0
                                         ? 1U << std::popcount(byte_pivots & (low - 1))
                                         : 0U;
                compress[g][x] = static_cast<std::uint8_t>(compress[g][x & (x - 1)] | bit);
            }
            const unsigned entries = 1U << group_size[g];
            Word* rows_table = next_table;
            next_table += entries * len;
            Word* mask_table = &mask_tables_[groups][0];
            std::fill(rows_table, rows_table + len, Word{0});
            mask_table[0] = 0;
            for (unsigned x = 1; x < entries; ++x) {
                const unsigned t = group_pivot[g][lowest_bit(x)];
                const Word* from = rows_table + (x & (x - 1)) * len;
                Word* to = rows_table + x * len;
                const Word* p = final_rows_.data() + t * len;
                xor_to(to, from, p, len);
                mask_table[x] = mask_table[x & (x - 1)] ^ unit[t];
            }
            table[groups] = rows_table;
            group_byte[groups] = g;
            compress_[groups] = compress[g];
            ++groups;
        }

        // Every row but the block's pivot rows: clear the pivot columns and
        // note which pivots did it.
        std::array<const Word*, 8> sources{};
        for (Index p = 0; p < n_; ++p) {
            masks_[p] = 0;
            if (p >= first && p < first + found)
                continue;
            Word* row = w_.row(order_[p]) + word_;
            if (p + 4 < n_)
                __builtin_prefetch(w_.row(order_[p + 4]) + word_);
            const Word strip = row[0];
            if ((strip & pivot_columns) == 0)
                continue;
            Word mask = 0;
            for (unsigned q = 0; q < groups; ++q) {
                const unsigned x = compress_[q][(strip >> (8 * group_byte[q])) & 0xFFU];
                mask ^= mask_tables_[q][x];
                sources[q] = table[q] + x * len;
            }
            masks_[p] = mask;
            xor_sum_into(row, sources.data(), groups, len);
        }
        // The pivot rows: their masks before they became pivots, then P.
        for (unsigned t = 0; t < found; ++t) {
            Word* row = w_.row(pivot_row_[t]) + word_;
            pivot_masks_[t] = before_pivot_[t];
            std::memcpy(row, final_rows_.data() + t * len, len * sizeof(Word));
        }

        emit_log(first);
        return first + found;
    }

    // Appends the block's log: for each pivot its exchange, then the rows it
    // clears in ascending order.
    void emit_log(Index first) {
        const unsigned found = found_;
        const Index chunks = (n_ + 63) / 64;
        // bits_[t * chunks + c]: the rows 64c .. 64c+63 that pivot t clears.
        std::array<Word, 64> square{};
        for (Index c = 0; c < chunks; ++c) {
            const Index base = 64 * c;
            const Index count = std::min<Index>(64, n_ - base);
            Word any = 0;
            for (Index k = 0; k < count; ++k) {
                square[k] = masks_[base + k];
                any |= square[k];
            }
            if (any == 0) {
                for (unsigned t = 0; t < found; ++t)
                    bits_[t * chunks + c] = 0;
                continue;
            }
            for (Index k = count; k < 64; ++k)
                square[k] = 0;
            transpose64(square.data());
            for (unsigned t = 0; t < found; ++t)
                bits_[t * chunks + c] = square[t];
        }

        // The positions that the block's exchanges touch hold other rows
        // while the block runs than at its end; set their bits pivot by
        // pivot from the rows that hold them at that moment.  Rows are named
        // here by the position they hold at the block's end.
        touched_.clear();
        for (unsigned t = 0; t < found; ++t) {
            touched_.push_back(first + t);
            touched_.push_back(exchange_with_[t]);
        }
        std::sort(touched_.begin(), touched_.end());
        touched_.erase(std::unique(touched_.begin(), touched_.end()), touched_.end());
        const auto slot = [&](Index position) {
            return static_cast<std::size_t>(
                std::lower_bound(touched_.begin(), touched_.end(), position) - touched_.begin());
        };
        holder_.assign(touched_.begin(), touched_.end());
        for (unsigned t = found; t-- > 0;)
            std::swap(holder_[slot(first + t)], holder_[slot(exchange_with_[t])]);
        const auto mask_of = [&](Index final_position) {
            return final_position >= first && final_position < first + found
                       ? pivot_masks_[final_position - first]
                       : masks_[final_position];
        };

        for (unsigned t = 0; t < found; ++t) {
            std::swap(holder_[slot(first + t)], holder_[slot(exchange_with_[t])]);
            Word* bits = bits_.data() + t * chunks;
            for (std::size_t s = 0; s < touched_.size(); ++s) {
                const Index position = touched_[s];
                bool clears = false;
                if (position < first + t)
                    clears = ((clears_pivots_[t] >> (position - first)) & 1U) != 0;
                else if (position > first + t)
                    clears = ((mask_of(holder_[s]) >> t) & 1U) != 0;
                const Word bit = Word{1} << (position % 64);
                bits[position / 64] = clears ? bits[position / 64] | bit : bits[position / 64] & ~bit;
            }
            std::size_t count = 0;
            for (Index c = 0; c < chunks; ++c)
                count += static_cast<std::size_t>(std::popcount(bits[c]));
            if (exchange_with_[t] != first + t)
                log_.push_exchange(first + t, exchange_with_[t]);
            log_.push_rows(first + t, bits, count);
        }
    }

    PackedRows& w_;
    const Index n_;
    const Index stride_;
    RowLog log_;
    std::vector<Index> order_;  // order_[p]: the packed row at position p

    // Lazily updated strips of the pivot candidates, per packed row.
    std::vector<std::uint32_t> stamp_;
    std::vector<Word> strip_;
    std::vector<std::uint8_t> applied_;
    std::vector<Word> cleared_by_;
    std::uint32_t block_id_ = 0;

    // The current block.
    Index word_ = 0;
    unsigned found_ = 0;
    std::array<unsigned, k_block> column_{};
    std::array<Word, k_block> pivot_strip_{};
    std::array<Index, k_block> pivot_row_{};
    std::array<Index, k_block> exchange_with_{};
    std::array<Word, k_block> before_pivot_{};   // pivots that cleared it before
    std::array<Word, k_block> clears_pivots_{};  // earlier pivot rows it clears
    std::array<Word, k_block> pivot_masks_{};
    std::vector<Word> time_rows_;
    std::vector<Word> final_rows_;
    std::vector<Word> tables_;
    std::array<std::array<Word, 256>, 8> mask_tables_{};
    std::array<std::array<std::uint8_t, 256>, 8> compress_{};
    std::vector<Word> unit_masks_;
    std::vector<Word> masks_;  // per position
    std::vector<Word> bits_;
    std::vector<Index> touched_;
    std::vector<Index> holder_;
};

}  // namespace

RowLog echelon_form_in_place(PackedRows& w) { return BlockEliminator(w).run(); }

// ---------------------------------------------------------------------------
// Kernel.
//
// The pivot map is visited in ascending column order, so the value given to
// pivot column p of the vector of free column f is
//   a_p = parity(row_q & v)  (v[p] is still 0 then),
// where v holds 1 at f and the values of the pivots before p.  For all free
// columns at once: let A_t be the bitset over columns whose bit f is a_{p_t}
// for free column f.  Then A_t = (row_t restricted to the free columns) plus
// the A_s of the earlier pivots s whose column holds a 1 in row_t.  On an
// echelon form no row has a 1 in an earlier pivot column and A_t is just the
// free part of row_t.
// ---------------------------------------------------------------------------
PackedRows kernel(const PackedRows& m) {
    const Index n = m.nrows();
    const Index width = m.ncols();
    const Index stride = m.stride();

    // Staircase walk.
    std::vector<Index> pivots;  // pivots[t]: the column of pivot t, held by row t
    for (Index j = 0; j < width && pivots.size() < n; ++j)
        if ((m.row(pivots.size())[j / 64] >> (j % 64)) & 1U)
            pivots.push_back(j);
    const Index rank = pivots.size();
    if (width == rank)
        return {};

    std::vector<Word> free_columns(stride, 0);
    for (Index j = 0; j < width; ++j)
        free_columns[j / 64] |= Word{1} << (j % 64);
    std::vector<Word> earlier_pivots(stride, 0);
    for (const Index p : pivots)
        free_columns[p / 64] &= ~(Word{1} << (p % 64));

    // values[t * stride ...]: A_t.
    std::vector<Word> values(rank * stride);
    for (Index t = 0; t < rank; ++t) {
        const Word* row = m.row(t);
        Word* a = values.data() + t * stride;
        bool dependent = false;
        for (Index k = 0; k < stride; ++k) {
            a[k] = row[k] & free_columns[k];
            dependent = dependent || (row[k] & earlier_pivots[k]) != 0;
        }
        if (dependent)
            for (Index s = 0; s < t; ++s)
                if ((row[pivots[s] / 64] >> (pivots[s] % 64)) & 1U)
                    xor_into(a, values.data() + s * stride, stride);
        earlier_pivots[pivots[t] / 64] |= Word{1} << (pivots[t] % 64);
    }

    // Vector of free column f: 1 at f, bit f of A_t at pivot column p_t.
    // A_t is read 64 pivots by 64 free columns at a time, transposed.
    PackedRows basis(width - rank, width);
    std::fill(basis.row(0), basis.row(0) + basis.nrows() * stride, Word{0});
    std::array<Word, 64> square{};
    Index next_vector = 0;
    for (Index k = 0; k < stride; ++k) {
        if (free_columns[k] == 0)
            continue;
        const Index first_vector = next_vector;
        for (Word f = free_columns[k]; f != 0; f &= f - 1)
            basis.row(next_vector++)[k] = Word{1} << lowest_bit(f);
        for (Index t0 = 0; t0 < rank; t0 += 64) {
            const Index count = std::min<Index>(64, rank - t0);
            Word any = 0;
            for (Index t = 0; t < count; ++t) {
                square[t] = values[(t0 + t) * stride + k];
                any |= square[t];
            }
            if (any == 0)
                continue;
            for (Index t = count; t < 64; ++t)
                square[t] = 0;
            transpose64(square.data());
            // square[b]: for free column 64k + b, the pivots t0 + t set.
            Index vector = first_vector;
            for (Word f = free_columns[k]; f != 0; f &= f - 1, ++vector) {
                Word* v = basis.row(vector);
                for (Word set = square[lowest_bit(f)]; set != 0; set &= set - 1) {
                    const Index p = pivots[t0 + lowest_bit(set)];
                    v[p / 64] |= Word{1} << (p % 64);
                }
            }
        }
    }
    return basis;
}

}  // namespace quorvel::packed
