// The fast paths against the exact implementation: on every input, the
// functions of `quorvel` give what those of `quorvel::exact` give (matrix,
// log, failure message), whether or not the input takes a fast path.
#include <random>
#include <sstream>

#include "matrix/algorithms.hpp"
#include "matrix/packed_algorithms.hpp"
#include "matrix/word_ops.hpp"
#include "test_support.hpp"

namespace quorvel {
namespace {

using testing::rows;

using testing::Method;

// A printable outcome: the rows and the log, or the failure message.
std::string outcome(Method method, const Matrix& m) {
    try {
        const Elimination e = method(m);
        std::ostringstream out;
        out << e.matrix.to_string() << " log";
        for (const RowOp& op : e.log.pairs())
            out << " (" << op.target << ", " << op.source << ")";
        return out.str();
    } catch (const Panic& p) {
        return "failure: " + p.message();
    }
}

template <class Kernel>
std::string kernel_outcome(Kernel method, const Matrix& m) {
    try {
        return Matrix(method(m)).to_string();
    } catch (const Panic& p) {
        return "failure: " + p.message();
    }
}

// A reduction on packed rows run on the packed form of `m`.
template <Elimination (*Reduce)(const packed::PackedRows&)>
Elimination on_packed(const Matrix& m) {
    return Reduce(packed::PackedRows::pack(m).value());
}

template <RowLog (*Reduce)(packed::PackedRows&)>
Elimination on_packed_in_place(const Matrix& m) {
    packed::PackedRows w = packed::PackedRows::pack(m).value();
    RowLog log = Reduce(w);
    return {Matrix(std::move(w)), std::move(log)};
}

// A method run on the same rows appended one by one, as the constructor
// takes them, so that the matrix keeps their leading positions.
template <Method Run>
Elimination row_by_row(const Matrix& m) {
    MatrixBuilder builder;
    for (const Row& row : m.to_byte_rows())
        builder.append(row);
    return Run(std::move(builder).finish());
}

// Each last-row reduction beside its exact reference.
const std::vector<std::pair<Method, Method>> k_last_row_pairs = {
    {row_by_row<echelon_form_last_row>, exact::echelon_form_last_row},
    {row_by_row<echelon_form_last_row_dep>, exact::echelon_form_last_row_dep},
    {echelon_form_last_row, exact::echelon_form_last_row},
    {echelon_form_last_row_dep, exact::echelon_form_last_row_dep},
    {on_packed<packed::echelon_form_last_row>, exact::echelon_form_last_row},
    {on_packed<packed::echelon_form_last_row_dep>, exact::echelon_form_last_row_dep}};

// The last-row reductions and the rank of 0/1 rows equal the exact ones.
void expect_rules_exact(const Matrix& input) {
    for (const auto& [fast, reference] : k_last_row_pairs)
        ASSERT_EQ(outcome(fast, input), outcome(reference, input)) << input.to_string();
    ASSERT_EQ(packed::rank(packed::PackedRows::pack(input).value()), exact::rank(input));
}

class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}

    std::uint64_t below(std::uint64_t bound) { return bound == 0 ? 0 : engine_() % bound; }

    /// n x m, each entry 1 with probability `ones`.
    Matrix binary(std::size_t n, std::size_t m, double ones) {
        std::bernoulli_distribution bit(ones);
        std::vector<Row> r(n, Row(m));
        for (Row& row : r)
            for (Byte& b : row)
                b = bit(engine_) ? 1 : 0;
        return Matrix(std::move(r));
    }

    /// n x m of rank at most `rank`: sums of random subsets of `rank` rows.
    Matrix low_rank(std::size_t n, std::size_t m, std::size_t rank) {
        const std::vector<Row> basis = binary(rank, m, 0.5).to_byte_rows();
        std::vector<Row> r(n, Row(m, 0));
        for (Row& row : r)
            for (std::size_t b = 0; b < rank; ++b)
                if (below(2) == 1)
                    for (std::size_t j = 0; j < m; ++j)
                        row[j] ^= basis[b][j];
        return Matrix(std::move(r));
    }

    /// The matrix shapes the word-parallel code must get right.
    Matrix any(std::size_t n, std::size_t m) {
        switch (below(6)) {
        case 0: return binary(n, m, 0.5);
        case 1: return binary(n, m, 0.03);
        case 2: return binary(n, m, 0.97);
        case 3: return low_rank(n, m, below(std::min(n, m) + 1));
        case 4: {
            // Zero columns and repeated rows: pivots that skip columns and
            // exchanges with rows far below.
            Matrix a = binary(n, m, 0.5);
            std::vector<Row> r = a.to_byte_rows();
            const std::size_t skip = below(m + 1);
            for (Row& row : r)
                for (std::size_t j = 0; j < skip; j += 1 + below(3))
                    row[j] = 0;
            for (std::size_t i = 0; i + 1 < n; i += 2)
                if (below(3) == 0)
                    r[i] = Row(m, 0);
            return Matrix(std::move(r));
        }
        default: return low_rank(n, m, 1 + below(4));
        }
    }

private:
    std::mt19937_64 engine_;
};

const std::vector<std::size_t> k_sizes = {0, 1, 2, 3, 7, 8, 9, 63, 64, 65, 127, 128, 129, 191, 200};

TEST(FastPath, EchelonFormsEqualExactOnBinaryMatrices) {
    Random random(1);
    for (const std::size_t n : k_sizes)
        for (const std::size_t m : k_sizes) {
            for (int trial = 0; trial < 2; ++trial) {
                const Matrix input = random.any(n, m);
                const std::string expected = outcome(exact::echelon_form, input);
                ASSERT_EQ(outcome(echelon_form, input), expected) << n << " x " << m;
                ASSERT_EQ(outcome(row_echelon_full_matrix, input), expected) << n << " x " << m;
                // The block eliminator also where small matrices take another way.
                ASSERT_EQ(outcome(on_packed_in_place<packed::echelon_form_in_blocks>, input), expected)
                    << n << " x " << m;
            }
        }
}

TEST(FastPath, EchelonFormsEqualExactOnLargerShapes) {
    // Several blocks of pivots, tall and wide, and a rank that ends in the
    // middle of a word.
    Random random(2);
    const std::vector<std::pair<std::size_t, std::size_t>> shapes = {
        {300, 300}, {513, 130}, {70, 700}, {1, 1000}, {1000, 1}, {257, 255}};
    for (const auto& [n, m] : shapes)
        for (int trial = 0; trial < 3; ++trial) {
            const Matrix input = trial == 2 ? random.low_rank(n, m, std::min(n, m) / 2 + 1)
                                            : random.any(n, m);
            ASSERT_EQ(outcome(echelon_form, input), outcome(exact::echelon_form, input))
                << n << " x " << m;
        }
}

TEST(FastPath, KernelEqualsExact) {
    Random random(3);
    for (const std::size_t n : k_sizes)
        for (const std::size_t m : k_sizes) {
            const Matrix input = random.any(n, m);
            const Matrix reduced = exact::echelon_form(input).matrix;
            ASSERT_EQ(kernel_outcome(kernel, reduced), kernel_outcome(exact::kernel, reduced))
                << n << " x " << m;
            // Not in echelon form: each pivot's value depends on the earlier ones.
            ASSERT_EQ(kernel_outcome(kernel, input), kernel_outcome(exact::kernel, input))
                << n << " x " << m;
            // Echelon form but for 1s, at pivot and free columns, in the
            // words before that of its index, in each row from row 64 on.
            std::vector<Row> r = reduced.to_byte_rows();
            for (std::size_t t = 64; t < r.size(); ++t)
                for (std::size_t j = 0; j < std::min(m, t / 64 * 64); ++j)
                    r[t][j] = static_cast<Byte>(random.below(2));
            const Matrix mixed(std::move(r));
            ASSERT_EQ(kernel_outcome(kernel, mixed), kernel_outcome(exact::kernel, mixed)) << n << " x " << m;
            ASSERT_EQ(rank(reduced), exact::rank(reduced));
            ASSERT_EQ(rank(input), exact::rank(input));
        }
}

// n-1 rows in echelon form (reduced or not, a row dropped so that a zero row
// ends them, a zero row put among them or two of them exchanged) and a last
// row that is or is not a sum of them; and random matrices.  Widths 512 and
// 1024 end in a whole block of the eight words searched at once for a lead.
TEST(FastPath, LastRowReductionsEqualExact) {
    Random random(4);
    for (const std::size_t n : std::vector<std::size_t>{1, 2, 3, 5, 64, 65, 70, 130})
        for (const std::size_t m :
             std::vector<std::size_t>{1, 2, 3, 8, 63, 64, 65, 127, 128, 129, 130, 257, 512, 577, 1024})
            for (int trial = 0; trial < 10; ++trial) {
                std::vector<Row> r;
                if (trial < 8) {
                    // Half of them start right of a run of zero columns.
                    r = random.any(n - 1, m).to_byte_rows();
                    const std::size_t zero_columns = random.below(2) == 1 ? random.below(m + 1) : 0;
                    for (Row& row : r)
                        std::fill_n(row.begin(), zero_columns, Byte{0});
                    r = exact::echelon_form(Matrix(std::move(r))).matrix.to_byte_rows();
                    if (trial % 4 == 1 && !r.empty())
                        r.erase(r.begin() + static_cast<std::ptrdiff_t>(random.below(r.size())));
                    if (trial % 4 == 2)
                        for (std::size_t i = 1; i < r.size(); ++i)  // not reduced
                            if (random.below(2) == 1)
                                for (std::size_t j = 0; j < m; ++j)
                                    r[i - 1][j] ^= r[i][j];
                    if (trial % 4 == 3 && r.size() > 1) {
                        if (random.below(2) == 1)
                            r[random.below(r.size() - 1)] = Row(m, 0);
                        else
                            std::swap(r[random.below(r.size())], r[random.below(r.size())]);
                    }
                    Row last = random.binary(1, m, 0.5).to_byte_rows()[0];
                    if (trial >= 4) {
                        last.assign(m, 0);
                        for (const Row& row : r)
                            if (random.below(2) == 1)
                                for (std::size_t j = 0; j < m; ++j)
                                    last[j] ^= row[j];
                    }
                    r.resize(n - 1, Row(m, 0));
                    r.push_back(std::move(last));
                } else {
                    r = random.any(n, m).to_byte_rows();
                }
                expect_rules_exact(Matrix(std::move(r)));
            }
}

// The cases each rule of the reductions turns on, on 0/1 rows.
TEST(FastPath, LastRowRulesEqualExact) {
    for (const Matrix& input : {
             Matrix(), rows({{0, 0}}), rows({{1, 1}}), rows({{}, {}}), rows({{1, 0}, {1, 0}}),
             rows({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}}), rows({{1}, {1}, {1}}),
             rows({{1, 1, 0}, {0, 0, 0}, {0, 1, 1}}), rows({{0, 1}, {1, 0}}),
             rows({{0, 0, 0}, {1, 0, 1}, {1, 0, 0}}), rows({{1, 0, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 0}}),
             rows({{0, 1, 0}, {0, 1, 1}, {0, 0, 0}}), rows({{0, 0, 1}, {0, 0, 1}, {0, 0, 0}}),
             rows({{0, 0, 1, 0}, {0, 1, 0, 0}, {0, 1, 1, 0}, {1, 0, 0, 0}}),
             rows({{1, 0, 0}, {0, 0, 1}, {0, 1, 0}}),
             // Rows too far to the right are passed over; the last row goes
             // to the zero row, and the leading positions above stop rising.
             rows({{0, 0, 0, 1}, {0, 0, 0, 0}, {1, 0, 0, 0}}),
             rows({{0, 0, 0, 0, 1}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {1, 1, 0, 0, 1}}),
             rows({{0, 0, 1, 0}, {0, 0, 0, 1}, {0, 0, 0, 0}, {1, 0, 0, 0}})})
        expect_rules_exact(input);
    // Enough rows, out of order, for the index of their leading positions:
    // the nearest row right of the last row's 1 at the bound of (D1) and
    // just within it, with and without a row without a 1.
    for (std::size_t gap = 62; gap <= 64; ++gap)
        for (const bool zero_row : {false, true}) {
            std::vector<Row> r(64, Row(256, 0));
            for (std::size_t i = 0; i < 63; ++i)
                r[i][100 + (i * 5) % 63] = 1;
            if (zero_row)
                r[40].assign(256, 0);
            r[63][100 - gap] = 1;
            expect_rules_exact(Matrix(std::move(r)));
        }
}

// Inputs that must not take a fast path: rows of other lengths, entries
// other than 0 and 1 anywhere, including the very last entry.
TEST(FastPath, OtherInputsKeepExactResults) {
    Random random(5);
    const std::vector<Method> fast = {echelon_form, row_echelon_full_matrix, echelon_form_last_row,
                                      echelon_form_last_row_dep};
    const std::vector<Method> reference = {exact::echelon_form, exact::row_echelon_full_matrix,
                                           exact::echelon_form_last_row,
                                           exact::echelon_form_last_row_dep};
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t n = 1 + random.below(70);
        const std::size_t m = random.below(70);
        std::vector<Row> r = random.any(n, m).to_byte_rows();
        const std::size_t i = random.below(n);
        switch (trial % 4) {
        case 0: r[i].resize(random.below(m + 3)); break;
        case 1: r[n - 1].push_back(1); break;
        case 2:
            if (m > 0)
                r[i][random.below(m)] = static_cast<Byte>(2 + random.below(254));
            break;
        default:
            if (m > 0)
                r[n - 1][m - 1] = 2;
            break;
        }
        const Matrix input(std::move(r));
        for (std::size_t k = 0; k < fast.size(); ++k)
            ASSERT_EQ(outcome(fast[k], input), outcome(reference[k], input))
                << k << ": " << input.to_string();
        ASSERT_EQ(kernel_outcome(kernel, input), kernel_outcome(exact::kernel, input))
            << input.to_string();
        ASSERT_EQ(rank(input), exact::rank(input));
    }
    EXPECT_EQ(outcome(echelon_form_last_row, Matrix()), outcome(exact::echelon_form_last_row, Matrix()));
    EXPECT_EQ(outcome(echelon_form_last_row_dep, Matrix()),
              outcome(exact::echelon_form_last_row_dep, Matrix()));
}

TEST(FastPath, TransposeMovesEveryBit) {
    std::mt19937_64 engine(11);
    for (int round = 0; round < 20; ++round) {
        // One bit alone, then sparse random rows, which show a misplaced bit.
        std::array<Word, 64> a{};
        a[5] = Word{1} << 63;
        if (round > 0)
            for (Word& w : a)
                w = engine() & engine();
        std::array<Word, 64> t = a;
        packed::transpose64(t.data());
        for (unsigned i = 0; i < 64; ++i)
            for (unsigned j = 0; j < 64; ++j)
                ASSERT_EQ((t[j] >> i) & 1U, (a[i] >> j) & 1U) << round << " " << i << " " << j;
    }
}

TEST(FastPath, FailuresOfBinaryInput) {
    // (D3) of echelon_form_last_row on 0/1 input: the message of the exact path.
    for (const Matrix& input : {rows({{1, 1}}), rows({{0, 1}, {1, 0}}), rows({{1, 0, 0}, {0, 0, 1}, {0, 1, 0}})})
        for (Method method : {echelon_form_last_row, on_packed<packed::echelon_form_last_row>})
            EXPECT_EQ(outcome(method, input), "failure: called `Option::unwrap()` on a `None` value");
}

// The leading positions that a matrix keeps stay those of its rows through
// every edit, through the streaming reduction, and until it moves to bytes.
TEST(StorageTransitions, KeptLeadingPositionsFollowEveryEdit) {
    Random random(8);
    int checked = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const Index m = 257 + random.below(140);
        MatrixBuilder builder;
        for (const Row& row : random.binary(4, m, 0.02).to_byte_rows())
            builder.append(row);
        Matrix a = std::move(builder).finish();
        for (int step = 0; step < 30; ++step) {
            const Index n = a.nrows();
            switch (random.below(5)) {
            case 0: a.add_rows(random.below(n), random.below(n)); break;
            case 1: a.swap_rows(random.below(n), random.below(n)); break;
            case 2: a.append_row(random.binary(1, a.ncols(), 0.02).to_byte_rows()[0]); break;
            case 3: a = echelon_form_last_row_dep(a).matrix; break;
            default: a = a.sub_matrix(0, n); break;  // forgets them
            }
            const std::span<const Index> kept = a.known_leads();
            if (kept.empty())
                continue;
            ASSERT_EQ(kept.size(), a.nrows());
            for (Index i = 0; i < a.nrows(); ++i)
                ASSERT_EQ(kept[i], a.leading(i)) << trial << " " << step;
            ++checked;
        }
        a.append_column(Row(a.nrows(), 1));
        EXPECT_TRUE(a.known_leads().empty());
    }
    EXPECT_GT(checked, 300);
}

// A freed buffer of a few hundred KiB serves the next request of its rounded
// size, one a row longer too, and no request of another size; such buffers
// start at a quarter of a page.
TEST(StorageTransitions, FreedBuffersServeRequestsOfTheirSize) {
    EXPECT_EQ(large_block_size(k_large_block + 1), k_large_block * 9 / 8);
    using Words = std::vector<Word, UninitialisedAllocator<Word>>;
    const auto address = [](const Words& words) { return reinterpret_cast<std::uintptr_t>(words.data()); };
    const std::uintptr_t freed = address(Words(40000));
    EXPECT_EQ(freed % 1024, 0U);
    EXPECT_NE(address(Words(80000)), freed);
    EXPECT_EQ(address(Words(40024)), freed);
}

}  // namespace
}  // namespace quorvel
