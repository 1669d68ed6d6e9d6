"""The module against the plain-Python model, on random matrices and random
sequences of calls: results, logs, exception types and messages, and the
matrix after every call must agree.

Runs are deterministic (derandomized, no example database).  Set
QUORVEL_HYPOTHESIS=thorough for a long run with many more examples, or
QUORVEL_HYPOTHESIS=quick for a short one.
"""

import random

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

import model
from gf2_helpers import replay
from support import PROFILE
from quorvel import Matrix

U64 = 2**64

# Entries: mostly 0 and 1, sometimes values the algebra does not mean.
entries = st.one_of(st.integers(0, 1), st.integers(0, 1), st.integers(0, 1),
                    st.sampled_from([2, 3, 255]))


@st.composite
def matrices(draw, max_side=40):
    """Rectangular (0/1 only, held packed, or any entries), nearly rectangular
    (one row off) and ragged matrices, some as wide as one or two words."""
    shape = draw(st.sampled_from(["binary", "rectangular", "rectangular", "one_off", "ragged"]))
    n = draw(st.integers(0, max_side))
    if shape == "ragged":
        return [draw(st.lists(entries, max_size=max_side)) for _ in range(n)]
    m = draw(st.one_of(st.integers(0, max_side), st.sampled_from([63, 64, 65, 127, 128, 129])))
    values = st.integers(0, 1) if shape == "binary" else entries
    rows = [draw(st.lists(values, min_size=m, max_size=m)) for _ in range(n)]
    if shape == "one_off" and rows:
        k = draw(st.integers(0, n - 1))
        rows[k] = draw(st.lists(entries, max_size=max_side))
    return rows


@st.composite
def echelon_above_last(draw):
    """Rows 0 .. n-2 in reduced echelon form (0/1, rectangular), then any
    last row: the input the last-row reductions are meant for."""
    m = draw(st.integers(0, 12))
    n = draw(st.integers(1, 12))
    rows = [draw(st.lists(st.integers(0, 1), min_size=m, max_size=m)) for _ in range(n)]
    reduced, _ = model.Matrix.of(rows[:-1]).echelon_form()
    return reduced.rows + [rows[-1]]


indexes = st.one_of(st.integers(0, 3), st.integers(0, 45), st.integers(0, 45),
                    st.sampled_from([-1, U64 - 1, U64, 2**70]))
vectors = st.one_of(
    st.lists(entries, max_size=42),
    st.lists(st.integers(0, 1), min_size=63, max_size=65),
    st.lists(entries, max_size=42),
    st.lists(st.one_of(entries, st.sampled_from([256, -1, 2**70])), max_size=6),
    st.lists(entries, max_size=8).map(tuple),
    st.lists(st.integers(0, 255), max_size=8).map(bytes),
    st.sampled_from(["01", 5, None]),
)


def arguments(name):
    strategy = {"v": vectors}
    return st.tuples(*(strategy.get(p, indexes) for p in model.SIGNATURES[name]))


calls = st.sampled_from(sorted(model.SIGNATURES)).flatmap(
    lambda name: st.tuples(st.just(name), arguments(name)))


# Running a call on both sides ---------------------------------------------------


def is_panic(error):
    kind = type(error)
    return (kind.__name__ == "PanicException" and kind.__module__ == "vellrin_runtime"
            and not isinstance(error, Exception))


def plain(result):
    """A module result as plain values, checking its exact types."""
    if isinstance(result, Matrix):
        assert type(result) is Matrix
        return ("matrix", result.to_list())
    if isinstance(result, tuple):
        matrix, log = result
        assert len(result) == 2 and type(matrix) is Matrix and type(log) is list
        for pair in log:
            assert type(pair) is tuple and len(pair) == 2
            assert all(type(x) is int for x in pair)
        return ("elimination", matrix.to_list(), log)
    if isinstance(result, list):
        for row in result:
            assert type(row) is list and all(type(x) is int for x in row)
    else:
        assert result is None or type(result) in (int, bool)
    return result


def model_plain(result):
    if isinstance(result, model.Matrix):
        return ("matrix", result.to_list())
    if isinstance(result, tuple):
        return ("elimination", result[0].to_list(), result[1])
    return result


def outcome_of_module(m, name, args):
    try:
        return ("ok", plain(getattr(m, name)(*args)))
    except Exception as error:
        return ("raised", type(error), str(error))
    except BaseException as error:
        if not is_panic(error):
            raise
        assert error.args == (str(error),)
        return ("panic", str(error))


def outcome_of_model(mm, name, args):
    try:
        return ("ok", model_plain(model.call(mm, name, args)))
    except model.ModelPanic as error:
        return ("panic", error.message)
    except (TypeError, OverflowError) as error:
        return ("raised", type(error), str(error))


def build_both(rows):
    try:
        m = Matrix(rows)
    except Exception as error:
        m = ("raised", type(error), str(error))
    try:
        mm = model.Matrix(rows)
    except (TypeError, OverflowError) as error:
        mm = ("raised", type(error), str(error))
    return m, mm


def assert_same_state(m, mm):
    assert m.to_list() == mm.to_list()
    assert repr(m) == str(m) == repr(mm)
    assert (m.nrows(), m.ncols()) == (mm.nrows(), mm.ncols())


def run_sequence(rows, sequence):
    m, mm = build_both(rows)
    assert type(m) is type(mm) is tuple or (isinstance(m, Matrix) and isinstance(mm, model.Matrix))
    if isinstance(m, tuple):
        assert m == mm
        return
    assert_same_state(m, mm)
    for name, args in sequence:
        before = m.to_list()
        got = outcome_of_module(m, name, args)
        want = outcome_of_model(mm, name, args)
        assert got == want, (name, args, before)
        assert_same_state(m, mm)


# The differential tests -----------------------------------------------------------


@PROFILE
@given(matrices(), st.lists(calls, max_size=12))
@example([[1, 0, 1], [1, 1]], [("echelon_form", ()), ("row_echelon_full_matrix", ())])
@example([[1, 1, 1], [1]], [("add_rows", (0, 1)), ("append_column", ([1],))])
@example([], [("echelon_form_last_row", ()), ("kernel", ()), ("add_rows", (5, 7))])
@example([[0, 2], [1, 0], [0, 0]], [("echelon_form_last_row", ()),
                                    ("echelon_form_last_row_dep", ())])
def test_random_calls_agree_with_model(rows, sequence):
    run_sequence(rows, sequence)


@PROFILE
@given(echelon_above_last(), st.lists(calls, max_size=3))
def test_last_row_reductions_agree_with_model(rows, sequence):
    run_sequence(rows, [("echelon_form_last_row", ()), ("echelon_form_last_row_dep", ())]
                 + sequence)


raw_elements = st.one_of(
    st.lists(st.lists(st.one_of(entries, st.sampled_from([256, -1])), max_size=4), max_size=4),
    st.lists(st.one_of(st.lists(entries, max_size=3), st.just("01"), st.just(7)), max_size=4),
    st.sampled_from(["01", 3, None]),
)


@PROFILE
@given(raw_elements)
def test_construction_agrees_with_model(elements):
    m, mm = build_both(elements)
    if isinstance(m, tuple) or isinstance(mm, tuple):
        assert m == mm
    else:
        assert_same_state(m, mm)


ELIMINATIONS_AND_READS = ["echelon_form", "row_echelon_full_matrix", "echelon_form_last_row",
                          "echelon_form_last_row_dep", "rank", "kernel"]


@pytest.mark.parametrize("name", ELIMINATIONS_AND_READS)
def test_small_matrices_agree_with_model(name):
    """Thousands of small matrices, mostly near-rectangular and often with
    entries other than 0 and 1: the corners of every rule come up."""
    rng = random.Random(name)
    for _ in range(3000):
        width = rng.randrange(0, 7)
        values = rng.choice([(0, 1), (0, 1), (0, 1, 2), (0, 1, 3, 255)])
        rows = [[rng.choice(values) for _ in range(width if rng.random() < 0.6 else rng.randrange(8))]
                for _ in range(rng.randrange(0, 7))]
        m = Matrix(rows)
        assert outcome_of_module(m, name, ()) == outcome_of_model(model.Matrix(rows), name, ()), rows
        assert m.to_list() == rows


# Properties that hold whatever the model says --------------------------------------


@st.composite
def binary_rectangles(draw):
    n, m = draw(st.integers(0, 40)), draw(st.integers(0, 40))
    rows = [draw(st.lists(st.integers(0, 1), min_size=m, max_size=m)) for _ in range(n)]
    # Rows that are sums of others make rank-deficient inputs common.
    for _ in range(draw(st.integers(0, 3)) if n >= 2 else 0):
        a, b, c = (draw(st.integers(0, n - 1)) for _ in range(3))
        rows[c] = [x ^ y for x, y in zip(rows[a], rows[b])]
    return rows


# Rank 90: the packed kernel reads the pivots 64 at a time.
_rng = random.Random(90)


@PROFILE
@given(binary_rectangles())
@example([[int(c == r) if c < 90 else _rng.randrange(2) for c in range(150)] for r in range(90)][::-1])
def test_eliminations_replay_and_reduce(rows):
    m = Matrix(rows)
    methods = [m.echelon_form, m.row_echelon_full_matrix]
    if rows:
        methods.append(m.echelon_form_last_row_dep)
    for method in methods:
        result, log = method()
        assert replay(rows, log) == result.to_list()
        assert all(t != s for t, s in log)
    assert m.to_list() == rows

    # On 0/1 rectangles the two eliminations give the same form and log.
    reduced, log = m.echelon_form()
    full, full_log = m.row_echelon_full_matrix()
    assert (full.to_list(), full_log) == (reduced.to_list(), log)
    form = reduced.to_list()
    width = m.ncols()
    leads = [row.index(1) for row in form if 1 in row]
    assert leads == sorted(set(leads))
    assert form[len(leads):] == [[0] * width for _ in form[len(leads):]]
    for t, j in enumerate(leads):
        assert [row[j] for row in form] == [int(r == t) for r in range(len(form))]

    # The kernel of the reduced form: independent null vectors, m - rank of them.
    basis = reduced.kernel()
    assert reduced.rank() == len(leads)
    assert len(basis) == width - len(leads)
    for v in basis:
        assert all(sum(a * b for a, b in zip(row, v)) % 2 == 0 for row in rows)
    free = [j for j in range(width) if j not in leads]
    assert [[v[j] for j in free] for v in basis] == [[int(a == b) for b in free] for a in free]
