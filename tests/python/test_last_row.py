"""The last-row reduction through Python: its results, its failures, and its
guarantees on matrices whose rows above the last are in echelon form."""

import random

import pytest
from hypothesis import given
from hypothesis import strategies as st

import gf2_helpers as ref
from gf2_helpers import NONE_MESSAGE, index_message
from support import PROFILE, assert_outcomes
from quorvel import Matrix

METHODS = ["echelon_form_last_row", "echelon_form_last_row_dep"]


@pytest.mark.parametrize("name", METHODS)
def test_result_objects_and_untouched_receiver(name):
    rows = [[1, 1, 0], [0, 0, 0], [0, 1, 1]]
    m = Matrix(rows)
    result = getattr(m, name)()
    assert type(result) is tuple and len(result) == 2
    reduced, log = result
    assert type(reduced) is Matrix and reduced is not m
    assert reduced.to_list() == [[1, 1, 0], [0, 1, 1], [0, 0, 0]]
    assert log == [(1, 2), (2, 1), (1, 2)]
    assert all(type(pair) is tuple and type(pair[0]) is int and type(pair[1]) is int
               for pair in log)
    assert m.to_list() == rows
    reduced.append_column([1, 1, 1])
    assert m.to_list() == rows


@pytest.mark.parametrize(
    "rows, last_row, last_row_dep",
    [
        ([], index_message(0, 2**64 - 1), index_message(0, 2**64 - 1)),
        ([[1, 1]], NONE_MESSAGE, None),
        ([[0, 1], [1, 0]], NONE_MESSAGE, None),
        ([[1, 0], [0, 2]], NONE_MESSAGE, None),
        ([[0, 0], [2, 0], [0, 0]], NONE_MESSAGE, NONE_MESSAGE),
        # A row addition meets a row shorter than row 0 in the reduction ...
        ([[1, 1, 1], [1]], index_message(1, 1), index_message(1, 1)),
        # ... in the upward pass, where only the first method adds.
        ([[0, 1, 0], [0, 1], [0, 0, 0]], index_message(2, 2), None),
    ],
)
def test_failures_and_their_messages(rows, last_row, last_row_dep):
    assert_outcomes(rows, METHODS, (last_row, last_row_dep))


def is_echelon(rows):
    """Leading 1s strictly rightwards, rows without one (all 0) last."""
    leads = [ref.leading(r) for r in rows]
    if any(lead is None and any(r) for lead, r in zip(leads, rows)):
        return False
    present = [lead for lead in leads if lead is not None]
    return leads[:len(present)] == present and present == sorted(set(present))


def echelon_above(rng, n, m):
    """n - 1 random rows in echelon form (not reduced), some zero rows at the
    bottom, and a last row that is either a sum of some of them or random."""
    top = []
    pivots = sorted(rng.sample(range(m), rng.randrange(min(n - 1, m) + 1))) if m else []
    for p in pivots[: n - 1]:
        top.append([0] * p + [1] + [rng.randrange(2) for _ in range(m - p - 1)])
    while len(top) < n - 1:
        top.append([0] * m)
    if rng.random() < 0.5:
        last = [0] * m
        for row in top:
            if rng.random() < 0.5:
                last = [a ^ b for a, b in zip(last, row)]
    else:
        last = [rng.randrange(2) for _ in range(m)]
    return top + [last]


def test_postconditions_on_random_echelon_above():
    rng = random.Random(99)
    outcomes = set()
    for _ in range(1500):
        n, m = rng.randrange(1, 9), rng.randrange(0, 9)
        rows = echelon_above(rng, n, m)
        top, last = rows[:-1], rows[-1]
        assert is_echelon(top)
        all_lead = all(any(r) for r in top)
        depends = ref.gf2_rank(top + [last]) == ref.gf2_rank(top)
        case = "zero above" if not all_lead else "dependent" if depends else "independent"
        mat = Matrix(rows)
        for name in METHODS:
            result = ref.outcome(getattr(mat, name))
            assert mat.to_list() == rows
            if case == "independent" and name == "echelon_form_last_row":
                assert result == ("fail", NONE_MESSAGE), rows
                outcomes.add((case, name))
                continue
            assert result[0] == "ok", (name, rows, result)
            reduced, log = result[1]
            out = reduced.to_list()
            assert len(out) == n and all(len(r) == m for r in out)
            assert ref.replay(rows, log) == out, (name, rows)
            assert len(log) <= 3 * m + 3 * (n - 1)
            assert all(t != s and max(t, s) < n for t, s in log)
            if case == "independent":
                assert any(out[-1]), rows
            else:
                assert not any(out[-1]) and is_echelon(out), (name, rows, out)
            outcomes.add((case, name))
    assert len(outcomes) == 6  # every case came up for both methods


@PROFILE
@given(width=st.one_of(st.integers(1, 70), st.integers(2, 600)), length=st.integers(1, 160),
       density=st.sampled_from([0.02, 0.1, 0.5]), seed=st.integers(0, 2**32))
def test_stream_kept_as_it_comes(width, length, density, seed):
    """Rows above the last whose first 1s are all in different columns, in any
    order, answer "is the last row independent of them?" exactly: the kept
    results of a stream are such rows.  Checked against elimination on ints."""
    rng = random.Random(seed)
    basis, pivots, seen = Matrix([]), {}, []
    for _ in range(length):
        if seen and rng.random() < 0.3:  # a sum of earlier vectors: dependent
            vector = [sum(column) % 2 for column in zip(*rng.sample(seen, min(3, len(seen))))]
        else:
            vector = [int(rng.random() < density) for _ in range(width)]
        seen.append(vector)
        x = ref.bits(vector)
        while x and x.bit_length() in pivots:
            x ^= pivots[x.bit_length()]
        if x:
            pivots[x.bit_length()] = x
        if basis.nrows() > 1 and rng.random() < 0.2:  # any order will do
            basis.swap_rows(rng.randrange(basis.nrows()), rng.randrange(basis.nrows()))
        last = basis.nrows()
        basis.append_row(vector)
        result = ref.outcome(basis.echelon_form_last_row)
        reduced = basis.echelon_form_last_row_dep()[0]
        assert reduced.is_zero_row(last) == (not x)
        if x:
            assert result == ("fail", NONE_MESSAGE)
        else:
            assert result[0] == "ok" and result[1][0].is_zero_row(last)
        basis = reduced if x else basis.get_sub_matrix(0, last)
    leads = [ref.leading(row) for row in basis.to_list()]
    assert None not in leads and len(set(leads)) == len(leads) == len(pivots)
