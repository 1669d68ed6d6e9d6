"""Reading a Matrix: sizes, entries, lists, copies, blocks and its printable form."""

import pytest

from quorvel import Matrix
from support import Index, panic_message

U64_MAX = 2**64 - 1


def oob(length, index):
    return f"index out of bounds: the len is {length} but the index is {index}"


SHAPES = [
    [],
    [[]],
    [[], []],
    [[1, 0], [0, 1]],
    [[1, 0, 1], [1]],
    [[1], [0, 1, 1]],
    [[255, 2]],
    [[0, 7, 128, 255], [], [3]],
]


@pytest.mark.parametrize("rows", SHAPES)
def test_sizes_lists_and_printable_form(rows):
    m = Matrix(rows)
    assert m.nrows() == len(rows)
    assert m.ncols() == (len(rows[0]) if rows else 0)
    assert m.to_list() == rows
    assert repr(m) == str(m) == str(rows)


@pytest.mark.parametrize(
    "rows, row, col, expected",
    [
        ([[1, 0, 1], [1]], 1, 0, 1),
        ([[1], [0, 1, 1]], 1, 2, 1),
        ([[2]], 0, 0, 2),
        ([[0, 255]], True, False, None),
        ([[0, 255], [9]], True, False, 9),
        ([[0, 255]], Index(0), Index(1), 255),
    ],
)
def test_get_reads_the_rows_own_entries(rows, row, col, expected):
    m = Matrix(rows)
    if expected is None:
        assert panic_message(lambda: m.get(row, col)) == oob(1, 1)
    else:
        assert m.get(row, col) == expected


@pytest.mark.parametrize(
    "rows, row, col, message",
    [
        ([[1, 0, 1], [1]], 1, 1, oob(1, 1)),  # the row's own length, not ncols
        ([[1, 0], [0, 1]], 2, 0, oob(2, 2)),
        ([[1, 0], [0, 1]], 5, 0, oob(2, 5)),
        ([[1, 0], [0, 1]], 0, 2, oob(2, 2)),
        ([[1, 0], [0, 1]], 3, 9, oob(2, 3)),  # the row check comes first
        ([[1, 0]], U64_MAX, 0, oob(1, U64_MAX)),
        ([[1, 0]], 0, U64_MAX, oob(2, U64_MAX)),
        ([], 0, 0, oob(0, 0)),
        ([[]], 0, 0, oob(0, 0)),
    ],
)
def test_get_out_of_range_is_an_internal_failure(rows, row, col, message):
    m = Matrix(rows)
    assert panic_message(lambda: m.get(row, col)) == message
    assert m.to_list() == rows


@pytest.mark.parametrize(
    "row, col, error, message",
    [
        (0, 2**64, OverflowError, None),
        (-1, 0, OverflowError, None),
        (Index(-1), 0, OverflowError, None),
        (0, Index(2**64), OverflowError, None),
        (0, 1.0, TypeError, "argument 'col': 'float' object cannot be interpreted as an integer"),
        ("a", 0, TypeError, "argument 'row': 'str' object cannot be interpreted as an integer"),
        (None, 0, TypeError, "argument 'row': 'NoneType' object cannot be interpreted as an integer"),
    ],
)
def test_get_refuses_bad_indexes(row, col, error, message):
    m = Matrix([[1, 0]])
    with pytest.raises(error) as caught:
        m.get(row, col)
    assert type(caught.value) is error
    if message is None:
        assert "argument" not in str(caught.value)
    else:
        assert str(caught.value) == message


ROWS3 = [[1, 1, 0], [0], [1, 0, 1, 1]]


@pytest.mark.parametrize(
    "start, end, rows",
    [
        (1, 1, []),
        (0, 3, ROWS3),
        (3, 3, []),
        (0, 1, [[1, 1, 0]]),
        (1, 3, [[0], [1, 0, 1, 1]]),
        (Index(2), True + 2, [[1, 0, 1, 1]]),
    ],
)
def test_get_sub_matrix_copies_whole_rows(start, end, rows):
    m = Matrix(ROWS3)
    sub = m.get_sub_matrix(start, end)
    assert type(sub) is Matrix
    assert sub.to_list() == rows
    assert sub is not m


@pytest.mark.parametrize(
    "start, end, message",
    [
        (4, 4, "range end index 4 out of range for slice of length 3"),
        (1, 4, "range end index 4 out of range for slice of length 3"),
        (2, 1, "slice index starts at 2 but ends at 1"),
        (5, 4, "slice index starts at 5 but ends at 4"),  # order before length
        (U64_MAX, 0, f"slice index starts at {U64_MAX} but ends at 0"),
        (0, U64_MAX, f"range end index {U64_MAX} out of range for slice of length 3"),
    ],
)
def test_get_sub_matrix_failures(start, end, message):
    m = Matrix(ROWS3)
    assert panic_message(lambda: m.get_sub_matrix(start, end)) == message
    assert m.to_list() == ROWS3


def test_results_are_independent_of_their_source():
    a = Matrix([[1, 0], [0, 1], [1]])
    b = a.copy()
    sub = a.get_sub_matrix(0, 2)
    assert type(b) is Matrix
    assert b == b and b != a and a.copy() != a
    b.add_rows(0, 1)
    b.append_row([1, 1])
    sub.swap_rows(0, 1)
    sub.append_column([5, 6])
    assert a.to_list() == [[1, 0], [0, 1], [1]]
    a.append_column([9, 9, 9])
    assert b.to_list() == [[1, 1], [0, 1], [1], [1, 1]]
    assert sub.to_list() == [[0, 1, 5], [1, 0, 6]]


def test_to_list_builds_new_lists_every_call():
    m = Matrix([[1, 0], [1]])
    first = m.to_list()
    second = m.to_list()
    assert first == second == [[1, 0], [1]]
    assert first is not second
    assert all(x is not y for x, y in zip(first, second))
    first[0][0] = 9
    first[1].append(5)
    first.append([3])
    assert m.to_list() == [[1, 0], [1]]
    assert m.get(0, 0) == 1


def test_wide_rows_print_like_their_lists():
    rows = [list(range(256)), [0] * 1000, []]
    m = Matrix(rows)
    assert repr(m) == str(rows)
    assert m.to_list() == rows
