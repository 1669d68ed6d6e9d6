"""The two reduced row echelon forms through Python: result objects, the
untouched receiver, failures, borrows, and properties on random input."""

import random

import pytest

import gf2_helpers as ref
from gf2_helpers import Reenter, index_message
from support import panic_message
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
    for name, message in zip(METHODS, (echelon_form, full_matrix)):
        m = Matrix(rows)
        call = getattr(m, name)
        if message is None:
            call()
        else:
            assert panic_message(call) == message
        assert m.to_list() == rows
        m.swap_rows(0, 0)  # the shared borrow was released


def test_entries_other_than_0_and_1():
    m = Matrix([[2, 1], [1, 1]])
    assert m.echelon_form()[0].to_list() == [[3, 0], [2, 1]]
    assert m.row_echelon_full_matrix()[0].to_list() == [[2, 1], [1, 0]]
    # The low-bit addition normalises every entry it writes; XOR keeps bytes.
    wide = Matrix([[1, 255, 254], [1, 3, 4]])
    assert wide.echelon_form()[0].to_list() == [[1, 255, 254], [0, 252, 250]]
    assert wide.row_echelon_full_matrix()[0].to_list() == [[1, 255, 254], [0, 0, 0]]
    assert m.to_list() == [[2, 1], [1, 1]]


@pytest.mark.parametrize("name", METHODS)
def test_shared_borrow(name):
    m = Matrix([[0, 1], [1, 0]])
    # Inside the argument conversion of another reader it runs ...
    inner = Reenter(getattr(m, name))
    assert m.get(inner, 1) == 1
    assert inner.error is None
    assert inner.result[0].to_list() == [[1, 0], [0, 1]]
    inner = Reenter(getattr(m, name))
    assert m.is_zero_row(inner) is False
    assert inner.result[1] == [(0, 1), (1, 0), (0, 1)]
    # ... inside an editing call it is refused.
    inner = Reenter(getattr(m, name))
    m.add_rows(inner, 1)
    assert str(inner.error) == "Already mutably borrowed"
    assert inner.result is None
    assert m.to_list() == [[1, 1], [1, 0]]


@pytest.mark.parametrize("name", METHODS)
def test_properties_on_random_binary_matrices(name):
    other = METHODS[1 - METHODS.index(name)]
    for rows in ref.binary_matrices(seed=METHODS.index(name), per_shape=12):
        m = Matrix(rows)
        reduced, log = getattr(m, name)()
        out = reduced.to_list()
        assert m.to_list() == rows
        assert len(out) == len(rows)
        assert all(len(r) == len(rows[0]) for r in out)
        assert ref.is_rref(out), (rows, out)
        assert ref.gf2_rank(out) == ref.gf2_rank(rows)
        assert sum(1 for r in out if any(r)) == ref.gf2_rank(rows)
        assert all(t != s and t < len(rows) and s < len(rows) for t, s in log)
        assert ref.replay(rows, log) == out
        o_reduced, o_log = getattr(m, other)()
        assert (o_reduced.to_list(), o_log) == (out, log)


def test_agrees_with_the_model_on_ragged_and_non_binary_input():
    rng = random.Random(2024)
    for _ in range(3000):
        width = rng.randrange(0, 6)
        values = rng.choice([(0, 1), (0, 1, 2), (0, 1, 3, 255)])
        rows = [[rng.choice(values) for _ in range(width if rng.random() < 0.6 else rng.randrange(7))]
                for _ in range(rng.randrange(0, 6))]
        m = Matrix(rows)
        for name in METHODS:
            expected = ref.model_outcome(rows, name)
            assert ref.elimination_outcome(getattr(m, name)) == expected, (name, rows)
        assert m.to_list() == rows
