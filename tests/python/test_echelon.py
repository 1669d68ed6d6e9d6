"""The two reduced row echelon forms through Python: result objects, the
untouched receiver and failures."""

import pytest

from gf2_helpers import index_message
from support import assert_outcomes
from quorvel import Matrix

METHODS = ["echelon_form", "row_echelon_full_matrix"]


@pytest.mark.parametrize("name", METHODS)
def test_result_is_a_new_matrix_and_a_list_of_int_pairs(name):
    m = Matrix([[0, 1, 1], [1, 1, 0], [1, 0, 1]])
    result = getattr(m, name)()
    assert type(result) is tuple and len(result) == 2
    reduced, log = result
    assert type(reduced) is Matrix and reduced is not m
    assert reduced.to_list() == [[1, 0, 1], [0, 1, 1], [0, 0, 0]]
    assert type(log) is list
    assert log == [(0, 1), (1, 0), (0, 1), (2, 0), (0, 1), (2, 1)]
    assert all(type(pair) is tuple and len(pair) == 2 for pair in log)
    assert all(type(x) is int for pair in log for x in pair)
    # Receiver and result own separate rows.
    assert m.to_list() == [[0, 1, 1], [1, 1, 0], [1, 0, 1]]
    reduced.add_rows(2, 0)
    assert m.to_list() == [[0, 1, 1], [1, 1, 0], [1, 0, 1]]
    again, _ = getattr(m, name)()
    assert again is not reduced
    assert again.to_list() == [[1, 0, 1], [0, 1, 1], [0, 0, 0]]


@pytest.mark.parametrize("name", METHODS)
def test_log_names_rows_on_both_sides_of_the_kept_ints(name):
    # Ints for row indexes up to 2**15 are made once and kept; larger ones
    # are made for each result.
    for n in (2**15 - 1, 2**15 + 2):
        rows = [[0]] * n
        rows[-1] = [1]
        reduced, log = getattr(Matrix(rows), name)()
        assert log == [(0, n - 1), (n - 1, 0), (0, n - 1)]
        assert reduced.to_list()[:2] == [[1], [0]]
    assert getattr(Matrix(rows), name)()[1] == log


@pytest.mark.parametrize("name", METHODS)
def test_empty_log_is_an_empty_list(name):
    for rows in ([], [[], []], [[1, 0], [0, 1]], [[0, 0]]):
        reduced, log = getattr(Matrix(rows), name)()
        assert log == [] and type(log) is list
        assert reduced.to_list() == rows


@pytest.mark.parametrize(
    "rows, echelon_form, full_matrix",
    [
        # Read and addition checks that fail, with their numbers.
        ([[1, 0, 1], [1, 1]], index_message(2, 2), index_message(2, 2)),
        ([[0, 1], [1]], index_message(1, 1), index_message(1, 1)),
        ([[0, 1], [1, 1, 1], [1, 0, 1]], index_message(2, 2), None),
        # The pivot search reads a short row in column 0.
        ([[0, 1], [], [1, 1]], index_message(0, 0), index_message(0, 0)),
        # Clearing reads a short row below the pivot.
        ([[1, 1], [0], [1]], index_message(1, 1), index_message(1, 1)),
        # echelon_form adds over row 0's current length (3, failing on the
        # short pivot row); row_echelon_full_matrix over the receiver's 2
        # columns, and then fails reading the short last row.
        ([[0, 1], [1, 1, 0], [0]], index_message(2, 2), index_message(1, 1)),
    ],
)
def test_ragged_failures_leave_the_receiver_unchanged(rows, echelon_form, full_matrix):
    assert_outcomes(rows, METHODS, (echelon_form, full_matrix))


def test_entries_other_than_0_and_1():
    # The low-bit addition normalises every entry it writes; XOR keeps bytes.
    wide = Matrix([[1, 255, 254], [1, 3, 4]])
    assert wide.echelon_form()[0].to_list() == [[1, 255, 254], [0, 252, 250]]
    assert wide.row_echelon_full_matrix()[0].to_list() == [[1, 255, 254], [0, 0, 0]]
    assert wide.to_list() == [[1, 255, 254], [1, 3, 4]]
