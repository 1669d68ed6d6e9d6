"""rank() and kernel() through Python, on echelon forms and on anything else."""

import random

import pytest

import gf2_helpers as ref
from gf2_helpers import Reenter, index_message
from support import panic_message
from quorvel import Matrix


def dot(a, b):
    return sum(x & y for x, y in zip(a, b)) & 1


def test_kernel_of_the_echelon_form_spans_the_null_space():
    for rows in ref.binary_matrices(seed=5, per_shape=15):
        m = Matrix(rows)
        reduced, _ = m.echelon_form()
        true_rank = ref.gf2_rank(rows)
        assert reduced.rank() == true_rank
        basis = reduced.kernel()
        width = len(rows[0]) if rows else 0
        assert len(basis) == width - true_rank
        assert all(type(v) is list and len(v) == width for v in basis)
        assert ref.gf2_rank(basis) == len(basis)  # independent
        for v in basis:
            assert all(dot(row, v) == 0 for row in rows), (rows, v)
        # One vector per free column, in ascending order: vector i holds 1 in
        # the i-th free column and 0 in every other free column.
        out = reduced.to_list()
        pivots = {ref.leading(r) for r in out} - {None}
        free = [j for j in range(width) if j not in pivots]
        assert [[v[f] for f in free] for v in basis] == [
            [int(i == k) for k in range(len(free))] for i in range(len(free))]
        assert reduced.to_list() == out


def test_rank_counts_distinct_first_ones():
    assert Matrix([[1, 1], [1, 0]]).rank() == 1
    assert Matrix([[0, 1], [0, 1]]).rank() == 1
    assert Matrix([[2, 1], [3, 1], [0, 0, 0, 1]]).rank() == 2
    assert Matrix([[255, 2]]).rank() == 0
    assert Matrix([[], [1], [0, 1]]).rank() == 2
    assert type(Matrix([]).rank()) is int


def test_rank_never_fails():
    rng = random.Random(11)
    for _ in range(2000):
        rows = [bytes(rng.choice((0, 1, 1, 2, 255)) for _ in range(rng.randrange(8)))
                for _ in range(rng.randrange(8))]
        m = Matrix(rows)
        assert ref.model_outcome(rows, "rank") == ("ok", m.rank())
        assert m.to_list() == [list(r) for r in rows]


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


def test_kernel_visits_pivots_in_ascending_column_order():
    # Not reduced: the vector depends on the visiting order.  Ascending
    # order writes v[0] first, from v = [0, 0, 1]; the other order would
    # give [0, 1, 1].
    assert Matrix([[1, 1, 1], [0, 1, 1]]).kernel() == [[1, 1, 1]]
    # Any input, reduced or not, ragged or not: the same result or failure
    # as the model, which visits the pivot map in ascending column order.
    rng = random.Random(17)
    for _ in range(3000):
        width = rng.randrange(0, 7)
        values = rng.choice([(0, 1), (0, 1), (0, 1, 3, 255)])
        rows = [[rng.choice(values) for _ in range(width if rng.random() < 0.7 else rng.randrange(8))]
                for _ in range(rng.randrange(0, 7))]
        m = Matrix(rows)
        assert ref.outcome(m.kernel) == ref.model_outcome(rows, "kernel"), rows
        assert m.to_list() == rows


def test_shared_borrow():
    m = Matrix([[1, 0, 1], [0, 1, 1]])
    for method, expected in ((m.rank, 2), (m.kernel, [[1, 1, 1]])):
        inner = Reenter(method)
        assert m.get(inner, 0) == 1
        assert inner.error is None and inner.result == expected
        inner = Reenter(method)
        m.swap_rows(inner, 0)
        assert str(inner.error) == "Already mutably borrowed"
