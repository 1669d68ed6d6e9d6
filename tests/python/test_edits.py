"""In-place row and column edits through Python: checks, messages, partial
edits and byte arithmetic."""

import random

import pytest

from gf2_helpers import index_message
from methods import parameter_calls
from support import panic_message
from quorvel import Matrix

BIG = 2**64 - 1


# --- add_rows -------------------------------------------------------------------


@pytest.mark.parametrize(
    "rows, target, source, message, after",
    [
        # No rows, or an empty row 0: the indexes are not even looked at.
        ([], BIG, BIG, None, []),
        ([[], [1]], 5, 7, None, [[], [1]]),
        # Row checks: source before target, before anything changes.
        ([[1], [1]], 5, 7, index_message(2, 7), [[1], [1]]),
        ([[1], [1]], 5, 1, index_message(2, 5), [[1], [1]]),
        ([[1]], BIG, 0, index_message(1, BIG), [[1]]),
        ([[1]], 0, BIG, index_message(1, BIG), [[1]]),
        # An empty source fails its entry check before the target row check.
        ([[1], []], 5, 1, index_message(0, 0), [[1], []]),
        # A short source or target fails at its length, keeping the entries
        # already added.
        ([[1, 1, 1], [1]], 0, 1, index_message(1, 1), [[0, 1, 1], [1]]),
        ([[1, 1, 1], [1, 1]], 1, 0, index_message(2, 2), [[1, 1, 1], [0, 0]]),
        ([[1, 1, 1], [], [1, 0]], 2, 0, index_message(2, 2), [[1, 1, 1], [], [0, 1]]),
        # Both short: the source's entry check comes first at that column.
        ([[1, 1, 1], [1], [1]], 1, 2, index_message(1, 1), [[1, 1, 1], [0], [1]]),
        # Longer rows: entries past row 0's length are neither read nor written.
        ([[1, 1], [1, 0, 1]], 1, 0, None, [[1, 1], [0, 1, 1]]),
        ([[1, 1], [0, 0, 1, 1]], 0, 1, None, [[1, 1], [0, 0, 1, 1]]),
        ([[1, 1, 0], [1, 1]], 0, 0, None, [[0, 0, 0], [1, 1]]),
    ],
)
def test_add_rows_checks_messages_and_partial_edits(rows, target, source, message, after):
    m = Matrix(rows)
    if message is None:
        assert m.add_rows(target, source) is None
    else:
        assert panic_message(lambda: m.add_rows(target, source)) == message
    assert m.to_list() == after
    # The borrow was released on the way out: an editing call works.
    m.append_row([])


def test_add_rows_is_bytewise_xor_of_any_values():
    rng = random.Random(7)
    for _ in range(200):
        width = rng.randrange(1, 9)
        rows = [[rng.randrange(256) for _ in range(width + rng.randrange(3))]
                for _ in range(rng.randrange(1, 5))]
        rows[0] = rows[0][:width]
        target, source = rng.randrange(len(rows)), rng.randrange(len(rows))
        expected = [list(r) for r in rows]
        expected[target][:width] = [a ^ b for a, b in zip(rows[target][:width], rows[source])]
        m = Matrix(rows)
        m.add_rows(target, source)
        assert m.to_list() == expected
    m = Matrix([[3, 255, 0], [1, 15, 128]])
    m.add_rows(0, 1)
    assert m.to_list() == [[2, 240, 128], [1, 15, 128]]


def test_add_rows_keywords_bind_by_name():
    m = Matrix([[1, 0], [1, 1]])
    m.add_rows(source=0, target=1)
    assert m.to_list() == [[1, 0], [0, 1]]


# --- swap_rows, is_zero_row ---------------------------------------------------------


def test_swap_rows_checks_row1_then_row2_and_moves_lengths():
    m = Matrix([[1, 0, 1], [1]])
    assert panic_message(lambda: m.swap_rows(3, 2)) == index_message(2, 3)
    assert panic_message(lambda: m.swap_rows(0, 2)) == index_message(2, 2)
    assert panic_message(lambda: m.swap_rows(0, BIG)) == index_message(2, BIG)
    assert m.to_list() == [[1, 0, 1], [1]]
    assert m.swap_rows(1, 1) is None
    assert m.to_list() == [[1, 0, 1], [1]]
    m.swap_rows(row2=0, row1=1)
    assert m.to_list() == [[1], [1, 0, 1]]
    assert m.ncols() == 1


@pytest.mark.parametrize(
    "rows, row, expected",
    [
        ([[]], 0, True),
        ([[0, 0, 0]], 0, True),
        ([[0, 2]], 0, False),
        ([[0, 128]], 0, False),
        ([[0], [0, 0, 1]], 1, False),  # read past ncols
        ([[1], [0, 0, 0]], 1, True),
    ],
)
def test_is_zero_row_scans_the_whole_row(rows, row, expected):
    m = Matrix(rows)
    assert m.is_zero_row(row) is expected
    assert m.to_list() == rows


def test_is_zero_row_checks_the_row_index():
    m = Matrix([[0], [0]])
    assert panic_message(lambda: m.is_zero_row(2)) == index_message(2, 2)
    assert panic_message(lambda: Matrix([]).is_zero_row(0)) == index_message(0, 0)
    assert panic_message(lambda: m.is_zero_row(BIG)) == index_message(2, BIG)


# --- append_row, append_column --------------------------------------------------------


def test_append_row_takes_any_length_as_converted():
    m = Matrix([[1, 0]])
    assert m.append_row([1, 0, 1, 1]) is None
    m.append_row(b"\x02\xff")
    m.append_row(range(0))
    assert m.to_list() == [[1, 0], [1, 0, 1, 1], [2, 255], []]
    empty = Matrix([])
    empty.append_row([])
    assert (empty.nrows(), empty.ncols(), empty.to_list()) == (1, 0, [[]])


@pytest.mark.parametrize(
    "rows, v, message, after",
    [
        ([[1], [0]], [1, 0], None, [[1, 1], [0, 0]]),
        ([[1], [0]], [1, 0, 1], None, [[1, 1], [0, 0]]),
        ([[1, 1], [0]], (7, 255), None, [[1, 1, 7], [0, 255]]),
        ([[0], [0], [0]], [1], index_message(1, 1), [[0, 1], [0], [0]]),
        ([[0], [0], [0]], [1, 1], index_message(2, 2), [[0, 1], [0, 1], [0]]),
        ([[0]], [], index_message(0, 0), [[0]]),
        ([], [1, 1], None, []),
        ([], [], None, []),
    ],
)
def test_append_column_grows_each_row_and_keeps_partial_edits(rows, v, message, after):
    m = Matrix(rows)
    if message is None:
        assert m.append_column(v) is None
    else:
        assert panic_message(lambda: m.append_column(v)) == message
    assert m.to_list() == after


@pytest.mark.parametrize("rows", [32, 70])
def test_append_column_of_one_entry_other_than_0_and_1_anywhere(rows):
    for at in range(rows):
        m = Matrix([[0]] * rows)
        v = [1] * rows
        v[at] = 2
        m.append_column(v)
        assert m.to_list() == [[0, x] for x in v]


@pytest.mark.parametrize("method", ["append_row", "append_column"])
def test_refused_v_leaves_matrix_unchanged(method):
    def stream():
        yield 1
        raise ValueError("stream broke")

    for rows in ([], [[1], [0]]):
        m = Matrix(rows)
        edit = getattr(m, method)
        with pytest.raises(TypeError, match=r"^argument 'v': Can't extract `str` to `Vec`$"):
            edit("10")
        with pytest.raises(TypeError, match=r"^argument 'v': 'int' object cannot be converted to 'Sequence'$"):
            edit(5)
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            edit([1, 256])
        with pytest.raises(TypeError, match=r"^argument 'v': "):
            edit([1, 1.0])

        class Broken:
            def __len__(self):
                return 2

            def __getitem__(self, k):
                return 1

            def __iter__(self):
                return stream()

        with pytest.raises(ValueError, match="^stream broke$"):
            edit(Broken())
        assert m.to_list() == rows


@pytest.mark.parametrize("call, name", parameter_calls(indexes_only=True))
def test_index_refusals_name_the_parameter(call, name):
    m = Matrix([[1, 0], [0, 1]])
    with pytest.raises(TypeError, match=rf"^argument '{name}': "):
        call(m, 1.0)
    with pytest.raises(OverflowError) as caught:
        call(m, -1)
    assert "argument" not in str(caught.value)
    with pytest.raises(OverflowError):
        call(m, 2**64)
    assert m.to_list() == [[1, 0], [0, 1]]
