#include "matrix/algorithms.hpp"

#include "test_support.hpp"

namespace quorvel {
namespace {

using testing::failure_of, testing::index_message, testing::ops, testing::rows, testing::Method;

struct Case {
    const char* name;
    Matrix input;
    Matrix output;
    std::vector<RowOp> log;
};

void expect_result(Method method, const Case& c) {
    SCOPED_TRACE(c.name);
    testing::expect_result(method, c.input, c.output, c.log);
}

TEST(EchelonForm, ExamplesShared) {
    const std::vector<Case> cases = {
        {"no rows", Matrix(), Matrix(), {}},
        {"empty rows", rows({{}, {}}), rows({{}, {}}), {}},
        {"identity", rows({{1, 0}, {0, 1}}), rows({{1, 0}, {0, 1}}), {}},
        {"zeros", rows({{0, 0}, {0, 0}}), rows({{0, 0}, {0, 0}}), {}},
        {"exchange", rows({{0, 1}, {1, 0}}), rows({{1, 0}, {0, 1}}), ops({{0, 1}, {1, 0}, {0, 1}})},
        {"clear both ways", rows({{1, 1}, {1, 0}}), rows({{1, 0}, {0, 1}}), ops({{1, 0}, {0, 1}})},
        {"dependent", rows({{1, 0, 1}, {0, 1, 1}, {1, 1, 0}}),
         rows({{1, 0, 1}, {0, 1, 1}, {0, 0, 0}}), ops({{2, 0}, {2, 1}})},
        {"exchange then clear", rows({{0, 1, 1}, {1, 1, 0}, {1, 0, 1}}),
         rows({{1, 0, 1}, {0, 1, 1}, {0, 0, 0}}),
         ops({{0, 1}, {1, 0}, {0, 1}, {2, 0}, {0, 1}, {2, 1}})},
        {"empty column", rows({{0, 0, 1}, {0, 1, 1}, {0, 1, 0}}),
         rows({{0, 1, 0}, {0, 0, 1}, {0, 0, 0}}),
         ops({{0, 1}, {1, 0}, {0, 1}, {2, 0}, {0, 1}, {2, 1}})},
        {"equal rows", rows({{1, 1}, {1, 1}, {1, 1}}), rows({{1, 1}, {0, 0}, {0, 0}}),
         ops({{1, 0}, {2, 0}})},
        {"clear above", rows({{1, 1, 1}, {0, 1, 1}}), rows({{1, 0, 0}, {0, 1, 1}}), ops({{0, 1}})},
        {"longer row last", rows({{1, 1}, {1, 0, 1}}), rows({{1, 0}, {0, 1, 1}}),
         ops({{1, 0}, {0, 1}})},
    };
    for (const Case& c : cases) {
        expect_result(exact::echelon_form, c);
        expect_result(exact::row_echelon_full_matrix, c);
    }
}

TEST(EchelonForm, RaggedAndNonBinaryDiffer) {
    expect_result(exact::echelon_form, {"long pivot", rows({{0, 1}, {1, 0, 1}, {1, 0, 0}}),
                                        rows({{1, 0, 1}, {0, 1}, {0, 0, 1}}),
                                        ops({{0, 1}, {1, 0}, {0, 1}, {2, 0}})});
    expect_result(exact::row_echelon_full_matrix,
                  {"long pivot", rows({{0, 1}, {1, 0, 1}, {1, 0, 0}}),
                   rows({{1, 0, 1}, {0, 1}, {0, 0, 0}}), ops({{0, 1}, {1, 0}, {0, 1}, {2, 0}})});
    expect_result(exact::row_echelon_full_matrix,
                  {"short pivot", rows({{0, 1}, {1, 1, 1}, {1, 0, 1}}),
                   rows({{1, 0, 1}, {0, 1}, {0, 0, 1}}),
                   ops({{0, 1}, {1, 0}, {0, 1}, {2, 0}, {0, 1}, {2, 1}})});
    expect_result(exact::echelon_form, {"two", rows({{2, 1}, {1, 1}}), rows({{3, 0}, {2, 1}}),
                                        ops({{0, 1}, {1, 0}, {0, 1}, {0, 1}})});
    expect_result(exact::row_echelon_full_matrix,
                  {"two", rows({{2, 1}, {1, 1}}), rows({{2, 1}, {1, 0}}), ops({{1, 0}})});

    const Matrix short_pivot = rows({{0, 1}, {1, 1, 1}, {1, 0, 1}});
    EXPECT_EQ(failure_of([&] { (void)exact::echelon_form(short_pivot); }), index_message(2, 2));
    for (Method method : {exact::echelon_form, exact::row_echelon_full_matrix}) {
        EXPECT_EQ(failure_of([&] { (void)method(rows({{1, 0, 1}, {1, 1}})); }), index_message(2, 2));
        EXPECT_EQ(failure_of([&] { (void)method(rows({{0, 1}, {1}})); }), index_message(1, 1));
    }
}

TEST(LastRow, Examples) {
    const std::vector<Case> shared = {
        {"zero row", rows({{0, 0}}), rows({{0, 0}}), {}},
        {"no columns", rows({{}, {}}), rows({{}, {}}), {}},
        {"match", rows({{1, 0}, {1, 0}}), rows({{1, 0}, {0, 0}}), ops({{1, 0}})},
        {"every row", rows({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}}),
         rows({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}}), ops({{3, 0}, {3, 1}, {3, 2}})},
        {"limit", rows({{1}, {1}, {1}}), rows({{1}, {1}, {0}}), ops({{2, 0}})},
        {"zero row exchange", rows({{1, 1, 0}, {0, 0, 0}, {0, 1, 1}}),
         rows({{1, 1, 0}, {0, 1, 1}, {0, 0, 0}}), ops({{1, 2}, {2, 1}, {1, 2}})},
        {"last column", rows({{0, 0, 1}, {0, 0, 1}, {0, 0, 0}}),
         rows({{0, 0, 1}, {0, 0, 0}, {0, 0, 0}}), ops({{1, 0}})},
        {"tie", rows({{0, 0, 1, 0}, {0, 1, 0, 0}, {0, 1, 1, 0}, {1, 0, 0, 0}}),
         rows({{1, 0, 0, 0}, {0, 0, 1, 0}, {0, 1, 1, 0}, {0, 0, 0, 0}}),
         ops({{1, 3}, {3, 1}, {1, 3}, {3, 2}, {3, 0}, {1, 0}, {0, 1}, {1, 0}})},
        {"two above", rows({{0, 2}, {1, 0}, {0, 0}}), rows({{1, 0}, {0, 2}, {0, 0}}),
         ops({{1, 0}, {0, 1}, {1, 0}})},
    };
    for (const Case& c : shared) {
        expect_result(exact::echelon_form_last_row, c);
        expect_result(exact::echelon_form_last_row_dep, c);
    }

    expect_result(exact::echelon_form_last_row_dep, {"one row", rows({{1, 1}}), rows({{1, 1}}), {}});
    expect_result(exact::echelon_form_last_row_dep,
                  {"bound", rows({{0, 1}, {1, 0}}), rows({{0, 1}, {1, 0}}), {}});
    expect_result(exact::echelon_form_last_row,
                  {"zero row first", rows({{0, 0, 0}, {1, 0, 1}, {1, 0, 0}}),
                   rows({{1, 0, 0}, {0, 0, 1}, {0, 0, 0}}), ops({{0, 2}, {2, 0}, {0, 2}, {1, 0}})});
    expect_result(exact::echelon_form_last_row_dep,
                  {"zero row first", rows({{0, 0, 0}, {1, 0, 1}, {1, 0, 0}}),
                   rows({{1, 0, 1}, {0, 0, 1}, {0, 0, 0}}),
                   ops({{2, 1}, {0, 2}, {2, 0}, {0, 2}, {1, 0}, {0, 1}, {1, 0}})});
    const Matrix closest = rows({{1, 0, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 0}});
    const Matrix ordered = rows({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}});
    expect_result(exact::echelon_form_last_row,
                  {"closest", closest, ordered, ops({{1, 3}, {3, 1}, {1, 3}})});
    expect_result(exact::echelon_form_last_row_dep,
                  {"closest", closest, ordered,
                   ops({{2, 3}, {3, 2}, {2, 3}, {1, 3}, {3, 1}, {1, 3}, {2, 1}, {1, 2}, {2, 1}})});
    expect_result(exact::echelon_form_last_row,
                  {"equal leads", rows({{0, 1, 0}, {0, 1, 1}, {0, 0, 0}}),
                   rows({{0, 1, 0}, {0, 0, 1}, {0, 0, 0}}), ops({{1, 0}})});
    expect_result(exact::echelon_form_last_row_dep,
                  {"equal leads", rows({{0, 1, 0}, {0, 1, 1}, {0, 0, 0}}),
                   rows({{0, 1, 0}, {0, 1, 1}, {0, 0, 0}}), {}});
    expect_result(exact::echelon_form_last_row_dep,
                  {"two last", rows({{1, 0}, {0, 2}}), rows({{1, 0}, {0, 2}}), {}});
}

TEST(LastRow, Failures) {
    const std::string none = k_unwrap_none;
    for (Method method : {exact::echelon_form_last_row, exact::echelon_form_last_row_dep}) {
        EXPECT_EQ(failure_of([&] { (void)method(Matrix()); }),
                  index_message(0, 18446744073709551615ULL));
        EXPECT_EQ(failure_of([&] { (void)method(rows({{0, 0}, {2, 0}, {0, 0}})); }), none);
    }
    EXPECT_EQ(failure_of([&] { (void)exact::echelon_form_last_row(rows({{1, 1}})); }), none);
    EXPECT_EQ(failure_of([&] { (void)exact::echelon_form_last_row(rows({{0, 1}, {1, 0}})); }),
              none);
    EXPECT_EQ(failure_of([&] { (void)exact::echelon_form_last_row(rows({{1, 0}, {0, 2}})); }),
              none);
}

TEST(RankKernel, Examples) {
    struct RK {
        Matrix m;
        Index rank;
        std::vector<Row> kernel;
    };
    const std::vector<RK> cases = {
        {Matrix(), 0, {}},
        {rows({{}, {}}), 0, {}},
        {rows({{0}}), 0, {{1}}},
        {rows({{1}}), 1, {}},
        {rows({{0, 0}, {0, 0}}), 0, {{1, 0}, {0, 1}}},
        {rows({{1, 0}, {0, 1}}), 2, {}},
        {rows({{1, 1, 0}, {0, 0, 1}}), 2, {{1, 1, 0}}},
        {rows({{1, 0, 1, 1}, {0, 1, 1, 0}}), 2, {{1, 1, 1, 0}, {1, 0, 0, 1}}},
        {rows({{1, 0, 1}, {0, 1, 1}, {0, 0, 0}}), 2, {{1, 1, 1}}},
        {rows({{0, 1, 0}, {0, 0, 1}, {0, 0, 0}}), 2, {{1, 0, 0}}},
        {rows({{1, 1, 0, 1}, {0, 0, 1, 1}}), 2, {{1, 1, 0, 0}, {1, 0, 1, 1}}},
        {rows({{1, 1}, {1, 0}}), 1, {{1, 1}}},
        {rows({{1, 1}, {1, 1}, {1, 1}}), 1, {}},
        {rows({{1, 0}, {0, 1, 1}}), 2, {}},
    };
    for (const RK& c : cases) {
        EXPECT_EQ(exact::rank(c.m), c.rank) << c.m.to_string();
        EXPECT_EQ(exact::kernel(c.m), c.kernel) << c.m.to_string();
    }
    EXPECT_EQ(exact::rank(rows({{0, 1}, {0, 1}})), 1U);
    EXPECT_EQ(exact::rank(rows({{2, 1}})), 1U);
    EXPECT_EQ(exact::rank(rows({{2, 2}})), 0U);
    EXPECT_EQ(exact::rank(rows({{1, 0, 1}, {1}})), 1U);
    EXPECT_EQ(failure_of([&] { (void)exact::kernel(rows({{1, 0, 1}, {1}})); }), index_message(1, 1));
    EXPECT_EQ(failure_of([&] { (void)exact::kernel(rows({{1, 0, 1}, {1, 1}})); }),
              index_message(2, 2));
}

// On input that is not reduced the vectors depend on the order in which the
// pivots are visited: ascending columns, so v[0] is written before v[1].  On
// short rows the entries are checked from the last column down.
TEST(RankKernel, PivotOrderAndCheckOrder) {
    EXPECT_EQ(exact::kernel(rows({{1, 1, 1}, {0, 1, 1}})), (std::vector<Row>{{1, 1, 1}}));
    EXPECT_EQ(exact::kernel(rows({{1, 1, 0, 1}, {0, 1, 1, 0}})),
              (std::vector<Row>{{0, 1, 1, 0}, {1, 0, 0, 1}}));
    EXPECT_EQ(failure_of([&] { (void)exact::kernel(rows({{1, 0, 0, 0}, {0, 1}})); }),
              index_message(2, 3));
    EXPECT_EQ(failure_of([&] { (void)exact::kernel(rows({{1, 0, 0}, {0, 0}})); }),
              index_message(2, 2));
}

}  // namespace
}  // namespace quorvel
