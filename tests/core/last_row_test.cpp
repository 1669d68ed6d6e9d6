// The last-row reduction on ragged rows, where row 0 can change length when
// it is exchanged with the last row: which length each rule reads.
#include "matrix/algorithms.hpp"

#include "test_support.hpp"

namespace quorvel {
namespace {

using testing::failure_of, testing::index_message, testing::ops, testing::rows,
      testing::expect_result, testing::Method;

// The iteration limit is row 0's length at the start (2), although row 0 has
// length 1 after the first exchange: a second iteration runs, and ends the
// reduction without an upward pass.
TEST(LastRowRagged, IterationLimitIsReadOnce) {
    const Matrix input = rows({{0, 1}, {}, {1}});
    const Matrix output = rows({{1}, {0, 1}, {}});
    const std::vector<RowOp> log = ops({{0, 2}, {2, 0}, {0, 2}, {1, 2}, {2, 1}, {1, 2}});
    expect_result(exact::echelon_form_last_row, input, output, log);
    expect_result(exact::echelon_form_last_row_dep, input, output, log);
}

// Rule D5 of the dep variant takes the last column from row 0 as it stands
// when the rule applies (here length 2 after the exchange, so column 1), not
// from the width read at the start (3).
TEST(LastRowRagged, DepLastColumnFollowsRowZero) {
    expect_result(exact::echelon_form_last_row_dep, rows({{0, 1, 0}, {0, 1}, {0, 1}, {1, 1}}),
                  rows({{1, 1}, {0, 1}, {0, 0}, {0, 0, 0}}),
                  ops({{0, 3}, {3, 0}, {0, 3}, {3, 1}, {2, 1}}));
    // With the width read at the start, column 1 would not be the last one
    // and the addition, over row 0's 4 entries, would fail on the 3-entry row.
    expect_result(exact::echelon_form_last_row_dep, rows({{0, 0}, {0, 1, 0, 1}, {0, 1, 1}, {0, 0, 1, 1}}),
                  rows({{0, 1, 0, 1}, {0, 0, 1, 1}, {0, 1, 1}, {0, 0}}),
                  ops({{0, 3}, {3, 0}, {0, 3}, {1, 0}, {0, 1}, {1, 0}}));
    // Here row 0 grows in the exchange, from 2 entries to 3.
    expect_result(exact::echelon_form_last_row_dep, rows({{0, 0}, {0, 1}, {0, 1}, {0, 0, 1}}),
                  rows({{0, 1}, {0, 0, 1}, {0, 1}, {0, 0}}),
                  ops({{0, 3}, {3, 0}, {0, 3}, {1, 0}, {0, 1}, {1, 0}}));
}

TEST(LastRowRagged, AdditionsCheckAgainstRowZero) {
    for (Method method : {exact::echelon_form_last_row, exact::echelon_form_last_row_dep}) {
        // Reduction phase: the matching row 0 is added over its 3 entries.
        EXPECT_EQ(failure_of([&] { (void)method(rows({{1, 1, 1}, {1}})); }), index_message(1, 1));
        // A longer last row keeps its length; its tail is not added into.
        expect_result(method, rows({{1, 0}, {1, 0, 0}}), rows({{1, 0}, {0, 0, 0}}), ops({{1, 0}}));
    }
    // Upward pass: only the first method adds rows with equal leading
    // positions away from the last column.
    EXPECT_EQ(failure_of([&] { (void)exact::echelon_form_last_row(rows({{0, 1, 0}, {0, 1}, {0, 0, 0}})); }),
              index_message(2, 2));
    expect_result(exact::echelon_form_last_row_dep, rows({{0, 1, 0}, {0, 1}, {0, 0, 0}}),
                  rows({{0, 1, 0}, {0, 1}, {0, 0, 0}}), {});
}

}  // namespace
}  // namespace quorvel
