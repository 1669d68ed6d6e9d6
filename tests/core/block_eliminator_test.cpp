// The three parts of the block eliminator, each against a plain model.
#include "matrix/echelon_packed_blocks.hpp"
#include "matrix/word_ops.hpp"

#include <numeric>
#include <random>

#include "test_support.hpp"

namespace quorvel::packed::block {
namespace {

Matrix random_matrix(std::mt19937_64& random, std::size_t n, std::size_t m, unsigned density) {
    std::vector<Row> rows(n, Row(m));
    for (Row& row : rows)
        for (Byte& b : row)
            b = random() % 8 < density ? 1 : 0;
    return Matrix(std::move(rows));
}

Word bit(Word w, Index k) { return (w >> k) & 1U; }

// Within one word of columns the block's pivots and reduced pivot rows are
// those of the exact echelon form of the candidate rows.
TEST(PivotSearch, FindsThePivotsAndReducedRowsOfTheExactForm) {
    std::mt19937_64 random(11);
    for (const auto& [n, m] : std::vector<std::pair<std::size_t, std::size_t>>{{5, 3}, {40, 64}, {130, 64}, {70, 9}})
        for (const Index first : {Index{0}, Index{1}, Index{4}})
            for (const unsigned density : {1U, 4U, 7U}) {
                const Matrix input = random_matrix(random, n, m, density);
                const PackedRows w = *PackedRows::pack(input);
                std::vector<Index> order(n);
                std::iota(order.begin(), order.end(), Index{0});
                Pivots p;
                PivotSearch search(n, w.stride(), 64);
                search.find(w, order, first, 0, p);

                const PackedRows expected =
                    *PackedRows::pack(exact::echelon_form(input.sub_matrix(first, n)).matrix);
                unsigned rank = 0;
                while (rank < expected.nrows() && expected.row(rank)[0] != 0)
                    ++rank;
                ASSERT_EQ(p.found, rank) << input.to_string();
                for (unsigned t = 0; t < p.found; ++t) {
                    EXPECT_EQ(p.column[t], lowest_bit(expected.row(t)[0]));
                    EXPECT_EQ(search.reduced_row(t)[0], expected.row(t)[0]) << t << input.to_string();
                    EXPECT_EQ(order[first + t], p.row[t]);
                }
            }
}

// Every row, with or without tables, gains the reduced rows of the pivots in
// its strip and is cleared by the pivots that the row-by-row algorithm
// would take.
TEST(Tables, ReduceLikeTheRowByRowAlgorithm) {
    std::mt19937_64 random(12);
    for (const Index users : {Index{0}, Index{40}, Index{5000}}) {
        const PackedRows w = *PackedRows::pack(random_matrix(random, 90, 200, 4));
        std::vector<Index> order(w.nrows());
        std::iota(order.begin(), order.end(), Index{0});
        Pivots p;
        PivotSearch search(w.nrows(), w.stride(), 64);
        search.find(w, order, 0, 0, p);
        Tables tables;
        tables.build(p, search, users);
        EXPECT_EQ(tables.tabled_groups() != 0, users == 5000) << users;
        for (int trial = 0; trial < 50; ++trial) {
            Words row(w.stride());
            for (Word& x : row)
                x = random();
            Words expected = row;
            Word strip = row[0];
            Word mask = 0;
            for (unsigned t = 0; t < p.found; ++t)
                if (bit(row[0], p.column[t]) != 0) {
                    for (Index k = 0; k < w.stride(); ++k)
                        expected[k] ^= search.reduced_row(t)[k];
                }
            for (unsigned t = 0; t < p.found; ++t)
                if (bit(strip, p.column[t]) != 0) {
                    strip ^= p.strip[t];
                    mask |= Word{1} << t;
                }
            EXPECT_EQ(tables.reduce(row.data()), mask);
            EXPECT_EQ(row, expected);
        }
    }
}

// The log against the block replayed step by step: exchange, then every
// position whose current row the pivot clears.
TEST(LogEmitter, LogsTheBlockStepByStep) {
    std::mt19937_64 random(13);
    for (int trial = 0; trial < 300; ++trial) {
        const Index n = 1 + random() % 150;
        const Index first = random() % n;
        Pivots p;
        p.found = static_cast<unsigned>(1 + random() % std::min<Index>(64, n - first));
        for (unsigned t = 0; t < p.found; ++t) {
            // Mostly no exchange, as on random input.
            p.exchange_with[t] = random() % 3 == 0 ? first + t + random() % (n - first - t) : first + t;
            p.before[t] = random() & ((Word{1} << t) - 1);
            p.clears[t] = random() & ((Word{1} << t) - 1);
        }
        Words masks(n);
        for (Word& m : masks)
            m = random() % 4 == 0 ? 0 : random() & (p.found == 64 ? ~Word{0} : (Word{1} << p.found) - 1);

        std::vector<RowOp> expected;
        std::vector<Index> holder(n);  // holder[q]: the end position of the row at q
        std::iota(holder.begin(), holder.end(), Index{0});
        for (unsigned t = p.found; t-- > 0;)
            std::swap(holder[first + t], holder[p.exchange_with[t]]);
        for (unsigned t = 0; t < p.found; ++t) {
            const Index pivot = first + t;
            std::swap(holder[pivot], holder[p.exchange_with[t]]);
            const Index other = p.exchange_with[t];
            if (other != pivot)
                expected.insert(expected.end(), {{pivot, other}, {other, pivot}, {pivot, other}});
            for (Index q = 0; q < n; ++q) {
                const Index h = holder[q];
                const Word m = q >= first && q < pivot ? p.clears[t] >> (q - first)
                               : q == pivot            ? 0
                               : h >= first && h < first + p.found ? p.before[h - first] >> t
                                                                   : masks[h] >> t;
                if ((m & 1U) != 0)
                    expected.push_back({q, pivot});
            }
        }
        RowLog log(n);
        LogEmitter(n, 64).emit(p, first, masks, log);
        ASSERT_EQ(log.pairs(), expected) << "trial " << trial;
    }
}

}  // namespace
}  // namespace quorvel::packed::block
