// Reduced row echelon forms of packed rows: the block eliminator's three
// parts (echelon_packed_blocks.hpp), pivot search, tables and log, the
// driver that runs them block after block, and the row-by-row algorithm for
// matrices of at most 64 rows of one word.
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

// The number of 1s of a word, inline: without -mpopcnt, std::popcount is a
// call into the compiler's library, made here once a row of every block.
unsigned ones(Word x) {
    x -= (x >> 1) & 0x5555555555555555ULL;
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<unsigned>((x * 0x0101010101010101ULL) >> 56);
}

}  // namespace

std::array<Word, k_max_pivots> Pivots::unit_masks() const {
    // A single 1 in column[t] is cleared by pivot t, which leaves pivot t's
    // strip without that 1: no earlier pivot column, and so whatever later
    // pivots clear that.
    std::array<Word, k_max_pivots> unit;
    for (unsigned t = found; t-- > 0;) {
        Word mask = Word{1} << t;
        each_set_bit(strip[t] & columns & ~low_bits(column[t] + 1), [&](unsigned c) { mask ^= unit[at[c]]; });
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

void PivotSearch::start_block(const PackedRows& w, Index word, Pivots& p) {
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
}

void PivotSearch::find(const PackedRows& w, std::vector<Index>& order, Index first, Index word,
                       Pivots& p) {
    start_block(w, word, p);
    const Index n = w.nrows();
    const Index cols = std::min<Index>(k_word_bits, w.ncols() - word * k_word_bits);
    Index c = 0;
    while (c < cols && first + p.found < n) {
        const Index top = first + p.found;
        Index k = top;
        while (k < n && ((current_strip(w, order[k], p) >> c) & 1U) == 0)
            ++k;
        if (k == n) {
            c = next_column(order, top, n, c);
            continue;
        }
        take_pivot(w, order, top, k, static_cast<unsigned>(c), p);
        ++c;
    }
    reduce_pivot_rows(p);
}

// Column c holds no pivot, and every candidate is now up to date, so their
// union tells the next column that can; k_word_bits when none can.
Index PivotSearch::next_column(const std::vector<Index>& order, Index top, Index n, Index c) const {
    Word any = 0;
    for (Index q = top; q < n; ++q)
        any |= candidates_[order[q]].strip;
    any &= ~low_bits(static_cast<unsigned>(c) + 1);
    return any == 0 ? k_word_bits : lowest_bit(any);
}

// The candidate at position k becomes the next pivot, in column c, and is
// exchanged into position top.
void PivotSearch::take_pivot(const PackedRows& w, std::vector<Index>& order, Index top, Index k,
                             unsigned c, Pivots& p) {
    const unsigned t = p.found;
    std::swap(order[top], order[k]);
    const Index r = order[top];
    const Candidate& cand = candidates_[r];
    p.exchange_with[t] = k;
    p.column[t] = c;
    p.at[c] = static_cast<std::uint8_t>(t);
    p.strip[t] = cand.strip;
    p.row[t] = r;
    p.before[t] = cand.cleared_by;
    p.columns |= Word{1} << c;

    // The pivot row as it is at this moment: its row at the block's start
    // plus the rows of the pivots that cleared it, each as it was when it
    // cleared it.
    Word* row = rows_.data() + t * len_;
    std::memcpy(row, w.row(r) + word_, len_ * sizeof(Word));
    add_pivot_rows(row, cand.cleared_by);
    ++p.found;
}

void PivotSearch::add_pivot_rows(Word* row, Word pivots) const {
    std::array<const Word*, k_max_pivots> sources;
    unsigned count = 0;
    each_set_bit(pivots, [&](unsigned t) { sources[count++] = rows_.data() + t * len_; });
    add_rows(row, sources.data(), count, len_);
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
    for (unsigned s = 0; s < p.found; ++s) {
        each_set_bit(cleared_by[s], [&](unsigned t) { p.clears[t] |= Word{1} << s; });
        add_pivot_rows(rows_.data() + s * len_, cleared_by[s]);
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
    std::array<unsigned, 8> group_byte{};
    const Index words = choose_groups(p.columns, users, group_byte);
    if (storage_.size() < words)
        storage_.resize(words);
    Word* next = storage_.data();
    Word* next_mask = masks_.data();
    for (unsigned q = 0; q < groups_; ++q) {
        const unsigned g = group_byte[q];
        const auto byte_pivots = static_cast<unsigned>((p.columns >> (8 * g)) & 0xFFU);
        compress_[q] = byte_pivots == 0xFFU ? identity_bytes().data() : fill_compress(compress_storage_[q], byte_pivots);
        shift_[q] = 8 * g;
        table_[q] = next;
        mask_table_[q] = next_mask;
        const unsigned entries = fill_table(p.at.data() + 8 * g, byte_pivots, next, next_mask);
        next += entries * len_;
        next_mask += entries;
    }
    // Eight tables of 256 entries, one after the other, in byte order.
    full_ = groups_ == 8 && p.columns == ~Word{0};
}

// A table of 2^k rows for the k pivots of a byte costs about three row
// passes an entry to build, and saves each row that uses it about k/2 - 1
// row reads: built only where that pays, and within the budget.
Index Tables::choose_groups(Word columns, Index users, std::array<unsigned, 8>& group_byte) {
    const Index budget = std::max(users * len_, k_budget_words);
    groups_ = 0;
    direct_columns_ = 0;
    Index words = 0;
    for (unsigned g = 0; g < 8; ++g) {
        const Word byte_columns = columns & (Word{0xFF} << (8 * g));
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
    return words;
}

// Every byte value as its own index: the indexes of a byte of eight pivots,
// the common case in a dense block.
const std::array<std::uint8_t, 256>& Tables::identity_bytes() {
    static const std::array<std::uint8_t, 256> identity = [] {
        std::array<std::uint8_t, 256> bytes{};
        for (unsigned x = 0; x < 256; ++x)
            bytes[x] = static_cast<std::uint8_t>(x);
        return bytes;
    }();
    return identity;
}

// compress[x]: the index, among the table's entries, of the byte value x,
// made of x's bits in the pivot columns of the byte `byte_pivots`.
const std::uint8_t* Tables::fill_compress(std::array<std::uint8_t, 256>& compress, unsigned byte_pivots) {
    // place[b]: the bit of column b among the byte's pivots (0 for another
    // column), counted once rather than for each of the 255 entries.
    std::array<unsigned, 8> place{};
    unsigned below = 0;
    for (unsigned b = 0; b < 8; ++b) {
        const unsigned is_pivot = byte_pivots >> b & 1U;
        place[b] = is_pivot << below;
        below += is_pivot;
    }
    compress[0] = 0;
    for (unsigned x = 1; x < 256; ++x)
        compress[x] = static_cast<std::uint8_t>(compress[x & (x - 1)] | place[lowest_bit(x)]);
    return compress.data();
}

// Entry x of the table of a byte (whose pivots are at[b] for its columns b
// in `byte_pivots`): the sum of the reduced rows of the pivots in x's bits,
// built from entry x without its lowest bit, and the mask of the pivots that
// clear it.  Returns the number of entries.
unsigned Tables::fill_table(const std::uint8_t* at, unsigned byte_pivots, Word* rows, Word* mask) const {
    const unsigned k = ones(byte_pivots);
    std::array<const Word*, 8> pivot_rows{};
    std::array<Word, 8> units{};
    unsigned i = 0;
    each_set_bit(byte_pivots, [&](unsigned b) {
        pivot_rows[i] = reduced_ + at[b] * len_;
        units[i++] = unit_[at[b]];
    });
    fill_sums(rows, pivot_rows.data(), k, len_);
    const unsigned entries = 1U << k;
    mask[0] = 0;
    for (unsigned x = 1; x < entries; ++x)
        mask[x] = mask[x & (x - 1)] ^ units[lowest_bit(x)];
    return entries;
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
    each_set_bit(strip & direct_columns_, [&](unsigned column) {
        const unsigned t = at_[column];
        mask ^= unit_[t];
        sources[count++] = reduced_ + t * len_;
    });
    add_rows(row, sources.data(), count, len_);
    return mask;
}

// ---------------------------------------------------------------------------
// Log emission.
// ---------------------------------------------------------------------------
LogEmitter::LogEmitter(Index nrows, unsigned max_pivots)
    : nrows_(nrows), chunks_(words_for(nrows)), bits_(max_pivots * chunks_) {}

namespace {

// The positions that a block's exchanges touch, sorted, each in its slot.
class Touched {
public:
    Touched(const Pivots& p, Index first) {
        for (unsigned t = 0; t < p.found; ++t) {
            at_[size_++] = first + t;
            at_[size_++] = p.exchange_with[t];
        }
        std::sort(at_.begin(), at_.begin() + size_);
        size_ = static_cast<unsigned>(std::unique(at_.begin(), at_.begin() + size_) - at_.begin());
        // The slots of each step's two positions, found once: the pivot
        // positions' in one pass, the others by search.
        for (unsigned s = 0; s < size_; ++s)
            if (at_[s] >= first && at_[s] < first + p.found)
                pivot_slot_[at_[s] - first] = s;
        for (unsigned t = 0; t < p.found; ++t) {
            const Index other = p.exchange_with[t];
            other_slot_[t] = other >= first && other < first + p.found ? pivot_slot_[other - first] : slot(other);
        }
    }

    [[nodiscard]] unsigned size() const { return size_; }
    [[nodiscard]] Index operator[](unsigned s) const { return at_[s]; }
    [[nodiscard]] unsigned slot(Index position) const {
        return static_cast<unsigned>(std::lower_bound(at_.begin(), at_.begin() + size_, position) - at_.begin());
    }
    /// The slot of position first + t, and that of the position it is
    /// exchanged with at step t.
    [[nodiscard]] unsigned pivot_slot(unsigned t) const { return pivot_slot_[t]; }
    [[nodiscard]] unsigned other_slot(unsigned t) const { return other_slot_[t]; }

private:
    std::array<Index, 2 * k_max_pivots> at_;
    unsigned size_ = 0;
    std::array<unsigned, k_max_pivots> pivot_slot_;
    std::array<unsigned, k_max_pivots> other_slot_;
};

// earlier[s] bit t: pivot t clears pivot row s (s < t).
std::array<Word, k_max_pivots> cleared_later(const Pivots& p) {
    std::array<Word, k_max_pivots> earlier{};
    for (unsigned t = 0; t < p.found; ++t)
        each_set_bit(p.clears[t], [&](unsigned s) { earlier[s] |= Word{1} << t; });
    return earlier;
}

}  // namespace

void LogEmitter::emit(const Pivots& p, Index first, Words& masks, RowLog& log) {
    patch_exchanged(p, first, masks);
    const std::array<std::size_t, k_max_pivots> count = transpose_to_runs(p.found, masks);
    for (unsigned t = 0; t < p.found; ++t) {
        if (p.exchange_with[t] != first + t)
            log.push_exchange(first + t, p.exchange_with[t]);
        log.push_rows(first + t, bits_.data() + t * chunks_, count[t]);
    }
}

// The positions that the block's exchanges touch hold other rows while the
// block runs than at its end.  For each, the word of the pivots that clear
// whatever row holds it at each step is pieced together from the rows that
// hold it in turn, then written over its mask.
void LogEmitter::patch_exchanged(const Pivots& p, Index first, Words& masks) {
    const unsigned found = p.found;
    const Touched touched(p, first);
    const unsigned m = touched.size();
    // Rows are named by the position they hold at the block's end; a pivot
    // row's mask before it became a pivot is the pivots that cleared it.
    const auto mask_of = [&](Index final_position) {
        return final_position >= first && final_position < first + found ? p.before[final_position - first]
                                                                          : masks[final_position];
    };
    // holder[s]: the row that holds the position of slot s at the block's start.
    std::array<Index, 2 * k_max_pivots> holder;
    for (unsigned s = 0; s < m; ++s)
        holder[s] = touched[s];
    for (unsigned t = found; t-- > 0;)
        std::swap(holder[touched.pivot_slot(t)], holder[touched.other_slot(t)]);
    const std::array<Word, k_max_pivots> earlier = cleared_later(p);

    std::array<Word, 2 * k_max_pivots> word;
    std::array<unsigned, 2 * k_max_pivots> since;  // step from which the holder holds it
    std::array<bool, 2 * k_max_pivots> done;
    std::fill_n(word.begin(), m, Word{0});
    std::fill_n(since.begin(), m, 0U);
    std::fill_n(done.begin(), m, false);
    for (unsigned t = 0; t < found; ++t) {
        const unsigned a = touched.pivot_slot(t);
        const unsigned b = touched.other_slot(t);
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
}

// bits_[t * chunks_ + c]: the rows 64c .. 64c+63 that pivot t clears, from
// the masks of the rows, 64 rows by 64 pivots at a time; returns how many
// rows each pivot clears.
std::array<std::size_t, k_max_pivots> LogEmitter::transpose_to_runs(unsigned found, const Words& masks) {
    std::array<std::size_t, k_max_pivots> count{};
    std::array<Word, k_word_bits> square;
    for (Index c = 0; c < chunks_; ++c) {
        const Index base = c * k_word_bits;
        const Index rows = std::min<Index>(k_word_bits, nrows_ - base);
        Word any = 0;
        for (Index k = 0; k < rows; ++k) {
            square[k] = masks[base + k];
            any |= square[k];
        }
        Word* out = bits_.data() + c;
        if (any == 0 || rows * found <= 256) {
            // None, or few bits: set them one by one rather than transpose
            // 64 x 64.
            for (unsigned t = 0; t < found; ++t)
                out[t * chunks_] = 0;
            for (Index k = 0; any != 0 && k < rows; ++k)
                each_set_bit(square[k], [&](unsigned t) {
                    out[t * chunks_] |= Word{1} << k;
                    ++count[t];
                });
            continue;
        }
        std::fill(square.begin() + static_cast<std::ptrdiff_t>(rows), square.end(), Word{0});
        transpose64(square.data());
        for (unsigned t = 0; t < found; ++t) {
            out[t * chunks_] = square[t];
            count[t] += ones(square[t]);
        }
    }
    return count;
}

}  // namespace block

// ---------------------------------------------------------------------------
// The three parts, block after block.
// ---------------------------------------------------------------------------
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
        if (tables_.full())
            reduce_rows(first, word, [this](Word* row) { return tables_.reduce_full(row); });
        else
            reduce_rows(first, word, [this](Word* row) { return tables_.reduce(row); });
        const Index len = search_.len();
        for (unsigned t = 0; t < found; ++t)
            std::memcpy(w_.row(pivots_.row[t]) + word, search_.reduced_row(t), len * sizeof(Word));
        emitter_.emit(pivots_, first, masks_, log_);
        return first + found;
    }

    // Every row but the block's pivot rows, with reduce(row) of the tables.
    template <class Reduce>
    void reduce_rows(Index first, Index word, Reduce&& reduce) {
        const unsigned found = pivots_.found;
        const Word columns = pivots_.columns;
        for (Index p = 0; p < n_; ++p) {
            if (p == first) {
                p += found - 1;
                continue;
            }
            Word* row = w_.row(order_[p]) + word;
            if (p + 4 < n_)
                __builtin_prefetch(w_.row(order_[p + 4]) + word);
            masks_[p] = (row[0] & columns) == 0 ? 0 : reduce(row);
        }
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

// The row-by-row algorithm itself, for rows of one word and at most 64 of
// them: the rows of column c that hold a 1 are one word, so finding the
// pivot is one search and the additions run without a branch.  On such
// small matrices the block eliminator's fixed costs (its workspace, tables
// and transposes) would be most of the call.
RowLog echelon_form_small(PackedRows& w) {
    const Index n = w.nrows();
    RowLog log(n);
    // Each pivot logs at most its exchange and one run of rows.
    const Index pivots = std::min(n, w.ncols());
    log.reserve(3 * pivots);
    log.reserve_runs(pivots);
    Word* rows = w.row(0);
    Index top = 0;
    for (unsigned c = 0; c < w.ncols() && top < n; ++c) {
        Word holders = 0;  // bit r: row r holds a 1 in column c
        for (Index r = 0; r < n; ++r)
            holders |= ((rows[r] >> c) & 1U) << r;
        holders &= ~low_bits(static_cast<unsigned>(top));
        if (holders == 0)
            continue;
        const Index k = lowest_bit(holders);
        if (k != top) {
            std::swap(rows[k], rows[top]);
            log.push_exchange(top, k);
        }
        const Word pivot = rows[top];
        Word cleared = 0;
        for (Index r = 0; r < n; ++r) {
            const Word clear = r == top ? 0 : Word{0} - ((rows[r] >> c) & 1U);
            rows[r] ^= pivot & clear;
            cleared |= (clear & 1U) << r;
        }
        log.push_rows(top, &cleared, block::ones(cleared));
        ++top;
    }
    return log;
}

}  // namespace

RowLog echelon_form_in_blocks(PackedRows& w) {
    if (w.nrows() == 0 || w.ncols() == 0)
        return RowLog(w.nrows());
    return BlockEliminator(w).run();
}

RowLog echelon_form_in_place(PackedRows& w) {
    if (w.stride() == 1 && w.nrows() <= k_word_bits)
        return echelon_form_small(w);
    return echelon_form_in_blocks(w);
}

}  // namespace quorvel::packed
