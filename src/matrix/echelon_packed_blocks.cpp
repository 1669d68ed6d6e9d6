// The three parts of the block eliminator: pivot search, tables, log.
#include "echelon_packed_blocks.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>

#include "word_ops.hpp"

namespace quorvel::packed {
namespace block {
namespace {

// dst ^= the rows of `sources`, eight at a time.
void add_rows(Word* dst, const Word* const* sources, unsigned count, Index len) {
    for (unsigned k = 0; k < count; k += 8)
        xor_sum_into(dst, sources + k, std::min(8U, count - k), len);
}

}  // namespace

std::array<Word, k_max_pivots> Pivots::unit_masks() const {
    // A single 1 in column[t] is cleared by pivot t, which leaves pivot t's
    // strip without that 1: no earlier pivot column, and so whatever later
    // pivots clear that.
    std::array<Word, k_max_pivots> unit;
    for (unsigned t = found; t-- > 0;) {
        Word mask = Word{1} << t;
        for (Word x = strip[t] & columns & ~low_bits(column[t] + 1); x != 0; x &= x - 1)
            mask ^= unit[at[lowest_bit(x)]];
        unit[t] = mask;
    }
    return unit;
}

// ---------------------------------------------------------------------------
// Pivot search.
// ---------------------------------------------------------------------------
PivotSearch::PivotSearch(Index nrows, Index stride, unsigned max_pivots)
    : candidates_(nrows), rows_(max_pivots * stride) {
    for (Candidate& c : candidates_)
        c.stamp = 0;
}

Word PivotSearch::current_strip(const PackedRows& w, Index r, const Pivots& p) {
    Candidate& c = candidates_[r];
    if (c.stamp != block_) {
        c = {w.row(r)[word_], 0, block_, 0};
    }
    if (c.applied == p.found)
        return c.strip;
    // Pivots applied..found-1, in order: each one's strip is 0 in the
    // columns of the pivots before it, so only the pivot columns from
    // column[applied] on are looked at, lowest first.
    const Word pending = p.columns & ~low_bits(p.column[c.applied]);
    Word s = c.strip;
    Word cleared = c.cleared_by;
    for (Word x = s & pending; x != 0;) {
        const unsigned j = lowest_bit(x);
        const unsigned t = p.at[j];
        s ^= p.strip[t];
        cleared |= Word{1} << t;
        x = s & pending & ~low_bits(j + 1);
    }
    c.strip = s;
    c.cleared_by = cleared;
    c.applied = p.found;
    return s;
}

void PivotSearch::find(const PackedRows& w, std::vector<Index>& order, Index first, Index word,
                       Pivots& p) {
    if (++block_ == 0) {
        // After 2^32 blocks: no stamp may look current.
        for (Candidate& c : candidates_)
            c.stamp = 0;
        block_ = 1;
    }
    word_ = word;
    len_ = w.stride() - word;
    p.found = 0;
    p.columns = 0;
    const Index n = w.nrows();
    const Index cols = std::min<Index>(k_word_bits, w.ncols() - word * k_word_bits);
    std::array<const Word*, k_max_pivots> sources;
    Index c = 0;
    while (c < cols && first + p.found < n) {
        const Index top = first + p.found;
        Index k = top;
        for (; k < n; ++k)
            if ((current_strip(w, order[k], p) >> c) & 1U)
                break;
        if (k == n) {
            // Column c holds no pivot; every candidate is now up to date,
            // so their union tells the next column that can.
            Word any = 0;
            for (Index q = top; q < n; ++q)
                any |= candidates_[order[q]].strip;
            any &= ~low_bits(static_cast<unsigned>(c) + 1);
            if (any == 0)
                break;
            c = lowest_bit(any);
            continue;
        }
        const unsigned t = p.found;
        std::swap(order[top], order[k]);
        const Index r = order[top];
        const Candidate& cand = candidates_[r];
        p.exchange_with[t] = k;
        p.column[t] = static_cast<unsigned>(c);
        p.at[c] = static_cast<std::uint8_t>(t);
        p.strip[t] = cand.strip;
        p.row[t] = r;
        p.before[t] = cand.cleared_by;
        p.columns |= Word{1} << c;

        // The pivot row as it is at this moment: its row at the block's
        // start plus the rows of the pivots that cleared it, each as it was
        // when it cleared it.
        Word* row = rows_.data() + t * len_;
        std::memcpy(row, w.row(r) + word, len_ * sizeof(Word));
        unsigned count = 0;
        for (Word m = cand.cleared_by; m != 0; m &= m - 1)
            sources[count++] = rows_.data() + lowest_bit(m) * len_;
        add_rows(row, sources.data(), count, len_);
        ++p.found;
        ++c;
    }
    reduce_pivot_rows(p);
}

// Pivot t clears column[t] in the earlier pivot rows that hold a 1 there at
// that moment.  Which ones it is depends only on their strips: worked out on
// strips first, then each row is reduced in one pass.
void PivotSearch::reduce_pivot_rows(Pivots& p) {
    std::array<Word, k_max_pivots> cleared_by{};
    for (unsigned s = 0; s < p.found; ++s) {
        p.clears[s] = 0;
        const Word later = p.columns & ~low_bits(p.column[s] + 1);
        Word strip = p.strip[s];
        for (Word x = strip & later; x != 0;) {
            const unsigned j = lowest_bit(x);
            const unsigned t = p.at[j];
            strip ^= p.strip[t];
            cleared_by[s] |= Word{1} << t;
            x = strip & later & ~low_bits(j + 1);
        }
    }
    // In ascending order, row s can be overwritten in place: the rows after
    // it, which it is built from, are still as they were.
    std::array<const Word*, k_max_pivots> sources;
    for (unsigned s = 0; s < p.found; ++s) {
        unsigned count = 0;
        for (Word m = cleared_by[s]; m != 0; m &= m - 1) {
            const unsigned t = lowest_bit(m);
            sources[count++] = rows_.data() + t * len_;
            p.clears[t] |= Word{1} << s;
        }
        add_rows(rows_.data() + s * len_, sources.data(), count, len_);
    }
}

// ---------------------------------------------------------------------------
// Tables.
// ---------------------------------------------------------------------------
void Tables::build(const Pivots& p, const PivotSearch& search, Index users) {
    unit_ = p.unit_masks();
    at_ = p.at;
    reduced_ = search.reduced_row(0);
    len_ = search.len();
    groups_ = 0;
    direct_columns_ = 0;

    // A table of 2^k rows for the k pivots of a byte costs about three row
    // passes an entry to build, and saves each row that uses it about k/2 - 1
    // row reads: built only where that pays, and within the budget.
    const Index budget = std::max(users * len_, k_budget_words);
    std::array<unsigned, 8> group_byte{};
    Index words = 0;
    for (unsigned g = 0; g < 8; ++g) {
        const Word byte_columns = p.columns & (Word{0xFF} << (8 * g));
        const auto k = static_cast<unsigned>(std::popcount(byte_columns));
        if (k == 0)
            continue;
        const Index entries = Index{1} << k;
        if (k >= 3 && 2 * users * (k - 2) > 6 * entries && words + entries * len_ <= budget) {
            group_byte[groups_++] = g;
            words += entries * len_;
        } else {
            direct_columns_ |= byte_columns;
        }
    }
    if (storage_.size() < words)
        storage_.resize(words);

    Word* next = storage_.data();
    Word* next_mask = masks_.data();
    for (unsigned q = 0; q < groups_; ++q) {
        const unsigned g = group_byte[q];
        const auto byte_pivots = static_cast<unsigned>((p.columns >> (8 * g)) & 0xFFU);
        std::array<std::uint8_t, 256>& compress = compress_[q];
        compress[0] = 0;
        for (unsigned x = 1; x < 256; ++x) {
            const unsigned low = x & (0U - x);
            const unsigned bit = (byte_pivots & low) != 0 ? 1U << std::popcount(byte_pivots & (low - 1)) : 0U;
            compress[x] = static_cast<std::uint8_t>(compress[x & (x - 1)] | bit);
        }
        // Entry x: the sum of the reduced rows of the pivots in x's bits,
        // built from entry x without its lowest bit.
        const unsigned entries = 1U << std::popcount(byte_pivots);
        std::array<unsigned, 8> pivot{};
        unsigned k = 0;
        for (unsigned b = byte_pivots; b != 0; b &= b - 1)
            pivot[k++] = p.at[8 * g + static_cast<unsigned>(std::countr_zero(b))];
        Word* rows = next;
        Word* mask = next_mask;
        next += entries * len_;
        next_mask += entries;
        std::fill(rows, rows + len_, Word{0});
        mask[0] = 0;
        for (unsigned x = 1; x < entries; ++x) {
            const unsigned t = pivot[static_cast<unsigned>(std::countr_zero(x))];
            xor_to(rows + x * len_, rows + (x & (x - 1)) * len_, reduced_ + t * len_, len_);
            mask[x] = mask[x & (x - 1)] ^ unit_[t];
        }
        shift_[q] = 8 * g;
        table_[q] = rows;
        mask_table_[q] = mask;
    }
}

Word Tables::reduce(Word* row) const {
    const Word strip = row[0];
    std::array<const Word*, 8 + k_max_pivots> sources;
    unsigned count = 0;
    Word mask = 0;
    for (unsigned q = 0; q < groups_; ++q) {
        const unsigned x = compress_[q][(strip >> shift_[q]) & 0xFFU];
        mask ^= mask_table_[q][x];
        sources[count++] = table_[q] + x * len_;
    }
    for (Word x = strip & direct_columns_; x != 0; x &= x - 1) {
        const unsigned t = at_[lowest_bit(x)];
        mask ^= unit_[t];
        sources[count++] = reduced_ + t * len_;
    }
    add_rows(row, sources.data(), count, len_);
    return mask;
}

// ---------------------------------------------------------------------------
// Log emission.
// ---------------------------------------------------------------------------
LogEmitter::LogEmitter(Index nrows, unsigned max_pivots)
    : nrows_(nrows), chunks_(words_for(nrows)), bits_(max_pivots * chunks_) {}

void LogEmitter::emit(const Pivots& p, Index first, Words& masks, RowLog& log) {
    const unsigned found = p.found;

    // The positions that the block's exchanges touch hold other rows while
    // the block runs than at its end.  For each, the word of the pivots that
    // clear whatever row holds it at each step is pieced together from the
    // rows that hold it in turn, then written over its mask.
    std::array<Index, 2 * k_max_pivots> touched;
    unsigned m = 0;
    for (unsigned t = 0; t < found; ++t) {
        touched[m++] = first + t;
        touched[m++] = p.exchange_with[t];
    }
    std::sort(touched.begin(), touched.begin() + m);
    m = static_cast<unsigned>(std::unique(touched.begin(), touched.begin() + m) - touched.begin());
    const auto slot = [&](Index position) {
        return static_cast<unsigned>(std::lower_bound(touched.begin(), touched.begin() + m, position) -
                                     touched.begin());
    };
    // Rows are named by the position they hold at the block's end; a pivot
    // row's mask before it became a pivot is the pivots that cleared it.
    const auto mask_of = [&](Index final_position) {
        return final_position >= first && final_position < first + found ? p.before[final_position - first]
                                                                          : masks[final_position];
    };
    std::array<Index, 2 * k_max_pivots> holder;
    std::copy(touched.begin(), touched.begin() + m, holder.begin());
    for (unsigned t = found; t-- > 0;)
        std::swap(holder[slot(first + t)], holder[slot(p.exchange_with[t])]);
    // earlier[s] bit t: pivot t clears pivot row s (s < t).
    std::array<Word, k_max_pivots> earlier{};
    for (unsigned t = 0; t < found; ++t)
        for (Word x = p.clears[t]; x != 0; x &= x - 1)
            earlier[lowest_bit(x)] |= Word{1} << t;

    std::array<Word, 2 * k_max_pivots> word;
    std::array<unsigned, 2 * k_max_pivots> since;  // step from which the holder holds it
    std::array<bool, 2 * k_max_pivots> done;
    std::fill_n(word.begin(), m, Word{0});
    std::fill_n(since.begin(), m, 0U);
    std::fill_n(done.begin(), m, false);
    for (unsigned t = 0; t < found; ++t) {
        const unsigned a = slot(first + t);
        const unsigned b = slot(p.exchange_with[t]);
        word[a] |= mask_of(holder[a]) & low_bits(t) & ~low_bits(since[a]);
        if (b != a) {
            word[b] |= mask_of(holder[b]) & low_bits(t) & ~low_bits(since[b]);
            std::swap(holder[a], holder[b]);
            since[b] = t;
        }
        // From step t on position first + t holds pivot t, which clears
        // nothing at its own step.
        word[a] |= earlier[t] & ~low_bits(t + 1);
        done[a] = true;
    }
    for (unsigned s = 0; s < m; ++s)
        if (!done[s])
            word[s] |= mask_of(holder[s]) & low_bits(found) & ~low_bits(since[s]);
    for (unsigned s = 0; s < m; ++s)
        masks[touched[s]] = word[s];

    // bits_[t * chunks_ + c]: the rows 64c .. 64c+63 that pivot t clears.
    std::array<std::size_t, k_max_pivots> count{};
    std::array<Word, 64> square;
    for (Index c = 0; c < chunks_; ++c) {
        const Index base = c * k_word_bits;
        const Index rows = std::min<Index>(k_word_bits, nrows_ - base);
        Word any = 0;
        for (Index k = 0; k < rows; ++k) {
            square[k] = masks[base + k];
            any |= square[k];
        }
        if (any == 0) {
            for (unsigned t = 0; t < found; ++t)
                bits_[t * chunks_ + c] = 0;
            continue;
        }
        if (rows * found <= 256) {
            // Few bits: set them one by one rather than transpose 64 x 64.
            Word* out = bits_.data() + c;
            for (unsigned t = 0; t < found; ++t)
                out[t * chunks_] = 0;
            for (Index k = 0; k < rows; ++k)
                for (Word x = square[k]; x != 0; x &= x - 1) {
                    const unsigned t = lowest_bit(x);
                    out[t * chunks_] |= Word{1} << k;
                    ++count[t];
                }
            continue;
        }
        std::fill(square.begin() + static_cast<std::ptrdiff_t>(rows), square.end(), Word{0});
        transpose64(square.data());
        for (unsigned t = 0; t < found; ++t) {
            bits_[t * chunks_ + c] = square[t];
            count[t] += static_cast<std::size_t>(std::popcount(square[t]));
        }
    }
    for (unsigned t = 0; t < found; ++t) {
        if (p.exchange_with[t] != first + t)
            log.push_exchange(first + t, p.exchange_with[t]);
        log.push_rows(first + t, bits_.data() + t * chunks_, count[t]);
    }
}

}  // namespace block
}  // namespace quorvel::packed
