#include "matrix/matrix.hpp"

#include <random>

#include "matrix/algorithms.hpp"

#include "test_support.hpp"

namespace quorvel {
namespace {

using testing::failure_of;
using testing::index_message;
using testing::rows;

// Every case runs on both representations: the rows packed whenever they
// allow it, and the same rows held as bytes.  Results compare by contents.
class Storage : public ::testing::TestWithParam<bool> {
protected:
    static Matrix make(std::initializer_list<std::initializer_list<int>> list) {
        return GetParam() ? testing::rows(list) : testing::byte_rows(list);
    }
};

INSTANTIATE_TEST_SUITE_P(Representations, Storage, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "packed" : "bytes"; });

TEST_P(Storage, ShapeFollowsRowZero) {
    EXPECT_EQ(Matrix().nrows(), 0U);
    EXPECT_EQ(Matrix().ncols(), 0U);
    const Matrix ragged = make({{1, 0, 1}, {1}});
    EXPECT_EQ(ragged.ncols(), 3U);
    EXPECT_EQ(ragged.get(1, 0), 1);
    EXPECT_EQ(failure_of([&] { (void)ragged.get(1, 1); }), index_message(1, 1));
    EXPECT_EQ(failure_of([&] { (void)ragged.get(2, 0); }), index_message(2, 2));
    EXPECT_EQ(make({{1}, {0, 1, 1}}).get(1, 2), 1);
    const Matrix square = make({{1, 0}, {0, 1}});
    EXPECT_EQ(square.is_packed(), GetParam());
    EXPECT_EQ(square.get(1, 1), 1);
    EXPECT_EQ(failure_of([&] { (void)square.get(0, 2); }), index_message(2, 2));
    EXPECT_EQ(failure_of([&] { (void)square.get(2, 0); }), index_message(2, 2));
}

TEST_P(Storage, SubMatrixChecksOrderBeforeLength) {
    for (const Matrix& m : {make({{1, 1, 0}, {0}, {1}}), make({{1, 1, 0}, {0, 0, 0}, {1, 0, 1}})}) {
        EXPECT_EQ(m.sub_matrix(0, 1), rows({{1, 1, 0}}));
        EXPECT_EQ(m.sub_matrix(3, 3).nrows(), 0U);
        EXPECT_EQ(m.sub_matrix(3, 3).ncols(), 0U);
        EXPECT_EQ(failure_of([&] { (void)m.sub_matrix(2, 1); }), "slice index starts at 2 but ends at 1");
        EXPECT_EQ(failure_of([&] { (void)m.sub_matrix(1, 4); }),
                  "range end index 4 out of range for slice of length 3");
        EXPECT_EQ(failure_of([&] { (void)m.sub_matrix(5, 4); }), "slice index starts at 5 but ends at 4");
        EXPECT_EQ(failure_of([&] { (void)m.sub_matrix(4, 4); }),
                  "range end index 4 out of range for slice of length 3");
    }
    EXPECT_EQ(make({{1, 1, 0}, {0, 0, 0}, {1, 0, 1}}).sub_matrix(1, 3), rows({{0, 0, 0}, {1, 0, 1}}));
}

TEST_P(Storage, PrintsLikePythonLists) {
    EXPECT_EQ(Matrix().to_string(), "[]");
    EXPECT_EQ(make({{}}).to_string(), "[[]]");
    EXPECT_EQ(make({{1, 0}, {255, 2}}).to_string(), "[[1, 0], [255, 2]]");
    EXPECT_EQ(make({{1, 0}, {0, 1}}).to_string(), "[[1, 0], [0, 1]]");
}

TEST_P(Storage, AddRowsChecksSourceThenTarget) {
    Matrix m = make({{1, 0, 1}, {1, 1, 0}});
    m.add_rows(1, 0);
    EXPECT_EQ(m, rows({{1, 0, 1}, {0, 1, 1}}));
    m.add_rows(0, 0);
    EXPECT_EQ(m, rows({{0, 0, 0}, {0, 1, 1}}));

    Matrix two = make({{1}, {1}});
    EXPECT_EQ(failure_of([&] { two.add_rows(5, 7); }), index_message(2, 7));
    EXPECT_EQ(failure_of([&] { two.add_rows(5, 1); }), index_message(2, 5));
    Matrix empty_source = make({{1}, {}});
    EXPECT_EQ(failure_of([&] { empty_source.add_rows(5, 1); }), index_message(0, 0));

    Matrix no_columns = make({{}, {1}});
    no_columns.add_rows(5, 7);
    EXPECT_EQ(no_columns, rows({{}, {1}}));
    Matrix empty_rows = make({{}, {}});
    empty_rows.add_rows(5, 7);
    EXPECT_EQ(empty_rows, rows({{}, {}}));
}

TEST_P(Storage, AddRowsKeepsPartialEdit) {
    Matrix short_source = make({{1, 1, 1}, {1}});
    EXPECT_EQ(failure_of([&] { short_source.add_rows(0, 1); }), index_message(1, 1));
    EXPECT_EQ(short_source, rows({{0, 1, 1}, {1}}));

    Matrix longer_target = make({{1, 1}, {1, 0, 1}});
    longer_target.add_rows(1, 0);
    EXPECT_EQ(longer_target, rows({{1, 1}, {0, 1, 1}}));

    Matrix bytes = make({{1}, {3}});
    bytes.add_rows(1, 0);
    EXPECT_EQ(bytes.get(1, 0), 2);
}

TEST_P(Storage, SwapZeroTestAndAppends) {
    Matrix m = make({{1, 0, 1}, {1}});
    m.swap_rows(0, 1);
    EXPECT_EQ(m.ncols(), 1U);
    EXPECT_EQ(failure_of([&] { m.swap_rows(0, 2); }), index_message(2, 2));
    Matrix square = make({{1, 0}, {1, 1}});
    square.swap_rows(0, 1);
    square.swap_rows(1, 1);
    EXPECT_EQ(square, rows({{1, 1}, {1, 0}}));
    EXPECT_FALSE(make({{0, 2}}).is_zero_row(0));
    EXPECT_TRUE(make({{}}).is_zero_row(0));
    EXPECT_FALSE(make({{0}, {0, 0, 1}}).is_zero_row(1));
    EXPECT_TRUE(make({{0, 1}, {0, 0}}).is_zero_row(1));
    EXPECT_FALSE(make({{0, 1}, {0, 0}}).is_zero_row(0));
    EXPECT_EQ(failure_of([&] { (void)square.is_zero_row(2); }), index_message(2, 2));

    Matrix three = make({{0}, {0}, {0}});
    EXPECT_EQ(failure_of([&] { three.append_column(Row{1}); }), index_message(1, 1));
    EXPECT_EQ(three, rows({{0, 1}, {0}, {0}}));
    Matrix odd_entry = make({{0}, {1}});
    odd_entry.append_column(Row{1, 7, 1});
    EXPECT_EQ(odd_entry, rows({{0, 1}, {1, 7}}));
    Matrix none;
    none.append_column(Row{1, 1});
    EXPECT_EQ(none.nrows(), 0U);
    none.append_row(Row{});
    EXPECT_EQ(none.nrows(), 1U);
    EXPECT_EQ(none.ncols(), 0U);
    none.append_column(Row{1});
    none.append_row(Row{0});
    none.append_row(Row{0, 1});
    none.append_row(Row{2});
    EXPECT_EQ(none, rows({{1}, {0}, {0, 1}, {2}}));
}

// Random edits, the same on a packed matrix and on its twin held as bytes,
// at widths around whole words: after every edit the two hold the same
// rows, and every failure is the same.  Edits that break the packed form
// (a row of another length, an entry 2, a short column) come in now and
// then, so each transition from packed to bytes is met at every width.
TEST(StorageTransitions, PackedAndBytesAgreeOnEveryEdit) {
    std::mt19937_64 random(7);
    const auto below = [&](std::uint64_t n) { return n == 0 ? 0 : random() % n; };
    for (const Index width : std::vector<Index>{0, 1, 63, 64, 65, 127, 128, 129, 191, 192, 193, 320, 577}) {
        for (int trial = 0; trial < 20; ++trial) {
            std::vector<Row> start(below(5), Row(width));
            for (Row& row : start)
                for (Byte& b : row)
                    b = static_cast<Byte>(below(2));
            Matrix packed_first(start);
            Matrix bytes = Matrix::from_byte_rows(start);
            ASSERT_TRUE(packed_first.is_packed());
            for (int step = 0; step < 40; ++step) {
                const Index n = packed_first.nrows();
                const Index a = below(n + 1), b = below(n + 1);
                const bool odd = below(12) == 0;
                Row v(below(8) == 0 ? below(n + 2) : std::max<Index>(n, width) + below(2));
                for (Byte& x : v)
                    x = static_cast<Byte>(below(2));
                if (odd && !v.empty())
                    v[below(v.size())] = 2;
                Row new_row(n == 0 ? width : packed_first.ncols());
                for (Byte& x : new_row)
                    x = static_cast<Byte>(below(2));
                if (odd && below(2) == 0)
                    new_row.resize(new_row.size() + 1 + below(3), 1);
                else if (odd && !new_row.empty())
                    new_row[below(new_row.size())] = 3;
                const auto edit = [&](Matrix& m) -> std::string {
                    return failure_of([&] {
                        switch (step % 7) {
                        case 0: m.add_rows(a, b); break;
                        case 1: m.swap_rows(a, b); break;
                        case 2: m.append_row(new_row); break;
                        case 3: m.append_column(v); break;
                        case 4: (void)m.get(a, b); break;
                        case 5: (void)m.is_zero_row(a); break;
                        default: m = m.sub_matrix(std::min(a, b), std::max(a, b)); break;
                        }
                    });
                };
                ASSERT_EQ(edit(packed_first), edit(bytes)) << width << " step " << step;
                ASSERT_EQ(packed_first, bytes) << width << " step " << step;
                ASSERT_EQ(packed_first.to_string(), bytes.to_string());
                ASSERT_EQ(packed_first.to_byte_rows(), bytes.to_byte_rows());
                if (step % 7 == 6)
                    bytes = Matrix::from_byte_rows(bytes.to_byte_rows());
            }
        }
    }
}

// kernel() trusts an elimination's result to be reduced until its first edit.
TEST(StorageTransitions, EveryEditForgetsThatTheRowsWereReduced) {
    for (int edit = 0; edit < 4; ++edit) {
        Matrix m = echelon_form(rows({{1, 0}, {1, 1}})).matrix;
        ASSERT_TRUE(m.known_reduced());
        switch (edit) {
        case 0: m.add_rows(0, 1); break;
        case 1: m.swap_rows(0, 1); break;
        case 2: m.append_row(Row{1, 1}); break;
        default: m.append_column(Row{1, 1}); break;
        }
        EXPECT_FALSE(m.known_reduced()) << edit;
    }
}

}  // namespace
}  // namespace quorvel
