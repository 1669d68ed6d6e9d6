"""rank() and kernel() through Python, on echelon forms and on anything else."""

import random

import pytest

import model
from gf2_helpers import index_message
from support import panic_message
from quorvel import Matrix


def test_rank_counts_distinct_first_ones():
    assert Matrix([[2, 1], [3, 1], [0, 0, 0, 1]]).rank() == 2
    assert Matrix([[255, 2]]).rank() == 0
    assert Matrix([[], [1], [0, 1]]).rank() == 2
    assert type(Matrix([]).rank()) is int


@pytest.mark.parametrize(
    "rows, message",
    [
        ([[1, 0, 1], [1]], index_message(1, 1)),  # staircase walk
        ([[1, 0, 1], [1, 1]], index_message(2, 2)),  # building a vector
        ([[1, 0, 0], [0, 0]], index_message(2, 2)),  # walk, past a free column
        ([[1, 0, 0, 1], [0, 1, 1]], index_message(3, 3)),
        ([[1, 0, 0, 0], [0, 1]], index_message(2, 3)),  # k runs downwards
    ],
)
def test_kernel_failures_on_ragged_rows(rows, message):
    m = Matrix(rows)
    assert panic_message(m.kernel) == message
    assert m.to_list() == rows
    m.add_rows(0, 0)  # shared borrow released


def test_kernel_ignores_entries_past_row_0():
    assert Matrix([[1, 0], [0, 1, 1]]).kernel() == []
    assert Matrix([[1, 1], [0, 0, 1, 1]]).kernel() == [[1, 1]]


@pytest.mark.parametrize("rows", [[[0, 1, 0]], [bytes(300)], [[1, 2]]])
def test_matrices_without_rows_have_no_columns_whatever_they_came_from(rows):
    empty = Matrix(rows).get_sub_matrix(1, 1)
    for m in (empty, empty.copy(), empty.echelon_form()[0], empty.row_echelon_full_matrix()[0]):
        assert (m.ncols(), m.kernel(), m.rank(), m.to_list()) == (0, [], 0, [])


@pytest.mark.parametrize("method", ["echelon_form", "row_echelon_full_matrix"])
@pytest.mark.parametrize("edit", [("add_rows", 64, 0), ("append_row", [1] + [0] * 64 + [1] * 60)])
def test_kernel_of_an_edited_echelon_form_sees_the_edit(method, edit):
    # 65 x 125 with pivots 0 to 64: after the edit row 64 or 65 holds a 1 in
    # pivot column 0, in a word left of its pivot's, where only a test of the
    # row's whole words can see it.
    rng = random.Random(7)
    rows = [[int(c == r) for c in range(65)] + [rng.randrange(2) for _ in range(60)] for r in range(65)]
    reduced = getattr(Matrix(rows), method)()[0]
    getattr(reduced, edit[0])(*edit[1:])
    assert reduced.kernel() == model.Matrix(reduced.to_list()).kernel()
