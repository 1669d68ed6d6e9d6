#include "matrix/matrix.hpp"

#include "test_support.hpp"

namespace quorvel {
namespace {

using testing::failure_of;
using testing::index_message;
using testing::rows;

TEST(MatrixRecord, ShapeFollowsRowZero) {
    EXPECT_EQ(Matrix().nrows(), 0U);
    EXPECT_EQ(Matrix().ncols(), 0U);
    const Matrix ragged = rows({{1, 0, 1}, {1}});
    EXPECT_EQ(ragged.ncols(), 3U);
    EXPECT_EQ(ragged.get(1, 0), 1);
    EXPECT_EQ(failure_of([&] { (void)ragged.get(1, 1); }), index_message(1, 1));
    EXPECT_EQ(failure_of([&] { (void)ragged.get(2, 0); }), index_message(2, 2));
    EXPECT_EQ(rows({{1}, {0, 1, 1}}).get(1, 2), 1);
}

TEST(MatrixRecord, SubMatrixChecksOrderBeforeLength) {
    const Matrix m = rows({{1, 1, 0}, {0}, {1}});
    EXPECT_EQ(m.sub_matrix(0, 1), rows({{1, 1, 0}}));
    EXPECT_EQ(m.sub_matrix(3, 3).nrows(), 0U);
    EXPECT_EQ(failure_of([&] { (void)m.sub_matrix(2, 1); }), "slice index starts at 2 but ends at 1");
    EXPECT_EQ(failure_of([&] { (void)m.sub_matrix(1, 4); }),
              "range end index 4 out of range for slice of length 3");
    EXPECT_EQ(failure_of([&] { (void)m.sub_matrix(5, 4); }), "slice index starts at 5 but ends at 4");
    EXPECT_EQ(failure_of([&] { (void)m.sub_matrix(4, 4); }),
              "range end index 4 out of range for slice of length 3");
}

TEST(MatrixRecord, PrintsLikePythonLists) {
    EXPECT_EQ(Matrix().to_string(), "[]");
    EXPECT_EQ(rows({{}}).to_string(), "[[]]");
    EXPECT_EQ(rows({{1, 0}, {255, 2}}).to_string(), "[[1, 0], [255, 2]]");
}

TEST(RowEdits, AddRowsChecksSourceThenTarget) {
    Matrix m = rows({{1, 0, 1}, {1, 1, 0}});
    m.add_rows(1, 0);
    EXPECT_EQ(m, rows({{1, 0, 1}, {0, 1, 1}}));
    m.add_rows(0, 0);
    EXPECT_EQ(m, rows({{0, 0, 0}, {0, 1, 1}}));

    Matrix two = rows({{1}, {1}});
    EXPECT_EQ(failure_of([&] { two.add_rows(5, 7); }), index_message(2, 7));
    EXPECT_EQ(failure_of([&] { two.add_rows(5, 1); }), index_message(2, 5));
    Matrix empty_source = rows({{1}, {}});
    EXPECT_EQ(failure_of([&] { empty_source.add_rows(5, 1); }), index_message(0, 0));

    Matrix no_columns = rows({{}, {1}});
    no_columns.add_rows(5, 7);
    EXPECT_EQ(no_columns, rows({{}, {1}}));
}

TEST(RowEdits, AddRowsKeepsPartialEdit) {
    Matrix short_source = rows({{1, 1, 1}, {1}});
    EXPECT_EQ(failure_of([&] { short_source.add_rows(0, 1); }), index_message(1, 1));
    EXPECT_EQ(short_source, rows({{0, 1, 1}, {1}}));

    Matrix longer_target = rows({{1, 1}, {1, 0, 1}});
    longer_target.add_rows(1, 0);
    EXPECT_EQ(longer_target, rows({{1, 1}, {0, 1, 1}}));

    Matrix bytes = rows({{1}, {3}});
    bytes.add_rows(1, 0);
    EXPECT_EQ(bytes.get(1, 0), 2);
}

TEST(RowEdits, SwapZeroTestAndAppends) {
    Matrix m = rows({{1, 0, 1}, {1}});
    m.swap_rows(0, 1);
    EXPECT_EQ(m.ncols(), 1U);
    EXPECT_EQ(failure_of([&] { m.swap_rows(0, 2); }), index_message(2, 2));
    EXPECT_FALSE(rows({{0, 2}}).is_zero_row(0));
    EXPECT_TRUE(rows({{}}).is_zero_row(0));
    EXPECT_FALSE(rows({{0}, {0, 0, 1}}).is_zero_row(1));

    Matrix three = rows({{0}, {0}, {0}});
    EXPECT_EQ(failure_of([&] { three.append_column({1}); }), index_message(1, 1));
    EXPECT_EQ(three, rows({{0, 1}, {0}, {0}}));
    Matrix none;
    none.append_column({1, 1});
    EXPECT_EQ(none.nrows(), 0U);
    none.append_row({});
    EXPECT_EQ(none.nrows(), 1U);
    EXPECT_EQ(none.ncols(), 0U);
}

}  // namespace
}  // namespace quorvel
