"""Hostile Python objects as arguments: index methods that raise, lie or call
back into the matrix, sequences whose length or iteration misbehave, rows
that change while they are read, and the many built-in sequence types.
Each call ends with the exception it should, the matrix is exactly as it
should be afterwards, and nothing crashes."""

import array
import operator
import warnings

import pytest

from quorvel import Matrix

STR_REFUSED = "Can't extract `str` to `Vec`"


def panic_of(call):
    with pytest.raises(BaseException) as caught:
        call()
    assert type(caught.value).__name__ == "PanicException"
    return str(caught.value)


class Index:
    """An index whose __index__ runs `action` and returns its result."""

    def __init__(self, action):
        self.action = action

    def __index__(self):
        return self.action()


def raising(error):
    def action():
        raise error
    return action


class HintedSequence:
    """A sequence with a given __len__ (a value, or an exception to raise)
    that iterates over `items`."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        return iter(self.items)


class FailingIterator:
    """Yields `items`, then raises `error`."""

    def __init__(self, items, error):
        self.items, self.error = list(items), error

    def __iter__(self):
        return self

    def __next__(self):
        if self.items:
            return self.items.pop(0)
        raise self.error


class IterSequence:
    """A sequence whose __iter__ returns `produce()`."""

    def __init__(self, produce):
        self.produce = produce

    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise AssertionError("rows are read by iteration, never by position")

    def __iter__(self):
        return self.produce()


# Index methods -----------------------------------------------------------------


@pytest.mark.parametrize("error", [ValueError("no"), KeyboardInterrupt(), ZeroDivisionError(),
                                   type("TypeErrorKind", (TypeError,), {})("sub")])
def test_index_errors_pass_unchanged(error, capfd):
    m = Matrix([[1, 0], [0, 1]])
    with pytest.raises(BaseException) as caught:
        m.swap_rows(0, Index(raising(error)))
    assert caught.value is error
    assert m.to_list() == [[1, 0], [0, 1]]
    assert capfd.readouterr().err == ""


def test_index_type_error_is_named_and_keeps_its_cause():
    cause = ValueError("root")

    def action():
        raise TypeError("boom") from cause

    with pytest.raises(TypeError) as caught:
        Matrix([[1]]).get(0, Index(action))
    assert type(caught.value) is TypeError
    assert str(caught.value) == "argument 'col': boom"
    assert caught.value.__cause__ is cause


@pytest.mark.parametrize("result, kind, message", [
    ("3", TypeError, "argument 'target': __index__ returned non-int (type str)"),
    (3.0, TypeError, "argument 'target': __index__ returned non-int (type float)"),
    (None, TypeError, "argument 'target': __index__ returned non-int (type NoneType)"),
    (2**64, OverflowError, "int too big to convert"),
    (2**200, OverflowError, "int too big to convert"),
    (-1, OverflowError, "can't convert negative int to unsigned"),
])
def test_index_results_that_are_not_indexes(result, kind, message):
    m = Matrix([[1, 1], [0, 1]])
    with pytest.raises(kind) as caught:
        m.add_rows(Index(lambda: result), 1)
    assert str(caught.value) == message
    assert m.to_list() == [[1, 1], [0, 1]]


def test_index_result_at_the_top_of_the_range_reaches_the_check():
    m = Matrix([[1], [1]])
    assert panic_of(lambda: m.is_zero_row(Index(lambda: 2**64 - 1))) == (
        "index out of bounds: the len is 2 but the index is 18446744073709551615")


def test_index_returning_an_int_subclass_follows_the_warning_filter():
    m = Matrix([[0, 1]])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning):
            m.get(0, Index(lambda: True))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert m.get(0, Index(lambda: True)) == 1


def test_int_subclasses_are_read_as_ints():
    class Sneaky(int):
        def __index__(self):
            raise AssertionError("an int's own value is read, not its __index__")

    m = Matrix([[Sneaky(1), True, Sneaky(0)]])
    assert m.to_list() == [[1, 1, 0]]
    assert m.get(Sneaky(0), Sneaky(2)) == 0
    assert m.get(False, True) == 1


# Calls back into the same matrix ---------------------------------------------------

READING = {
    "get": lambda m: m.get(0, 0),
    "to_list": lambda m: m.to_list(),
    "echelon_form": lambda m: m.echelon_form(),
    "repr": repr,
}
EDITING = {
    "swap_rows": lambda m: m.swap_rows(0, 1),
    "append_row": lambda m: m.append_row([1, 1]),
    "last_row": lambda m: m.echelon_form_last_row_dep(),
}
# Methods with index parameters: name, access, a call with one index slot.
INDEX_CALLS = [
    ("get", "shared", lambda m, i: m.get(i, 1)),
    ("get_sub_matrix", "shared", lambda m, i: m.get_sub_matrix(0, i)),
    ("is_zero_row", "shared", lambda m, i: m.is_zero_row(i)),
    ("add_rows", "exclusive", lambda m, i: m.add_rows(i, 0)),
    ("swap_rows", "exclusive", lambda m, i: m.swap_rows(0, i)),
    ("append_row", "exclusive", lambda m, i: m.append_row([1, i])),
    ("append_column", "exclusive", lambda m, i: m.append_column((i, 0))),
]


def expected_inner(outer_access, inner_kind):
    if inner_kind == "reading":
        return None if outer_access == "shared" else "Already mutably borrowed"
    return "Already borrowed"


@pytest.mark.parametrize("outer, access, invoke", INDEX_CALLS, ids=[c[0] for c in INDEX_CALLS])
@pytest.mark.parametrize("inner_kind, inner_name", [("reading", n) for n in READING]
                         + [("editing", n) for n in EDITING])
def test_callbacks_into_the_same_matrix(outer, access, invoke, inner_kind, inner_name):
    inner = (READING if inner_kind == "reading" else EDITING)[inner_name]
    rows = [[1, 0], [0, 1]]
    m = Matrix(rows)
    seen = []

    def action():
        try:
            inner(m)
            seen.append(None)
        except RuntimeError as error:
            seen.append(str(error))
        return 1

    invoke(m, Index(action))
    assert seen == [expected_inner(access, inner_kind)]

    # The outer call went on with index 1 and did exactly its own edit.
    reference = Matrix(rows)
    invoke(reference, 1)
    assert m.to_list() == reference.to_list()

    # If the callback lets the borrow error through, the call ends with it,
    # unprefixed, and the matrix is unchanged and free again.
    if expected_inner(access, inner_kind) is not None:
        before = m.to_list()
        with pytest.raises(RuntimeError) as caught:
            invoke(m, Index(lambda: inner(m)))
        assert str(caught.value) == expected_inner(access, inner_kind)
        assert m.to_list() == before
        m.swap_rows(0, 1)


def test_constructor_entries_may_use_any_matrix():
    other = Matrix([[1, 0], [0, 1]])

    def action():
        other.swap_rows(0, 1)
        return Matrix([[1]]).get(0, 0)

    m = Matrix([[Index(action), 0], (0, Index(action))])
    assert m.to_list() == [[1, 0], [0, 1]]
    assert other.to_list() == [[1, 0], [0, 1]]


# Lengths --------------------------------------------------------------------------


@pytest.mark.parametrize("length", [0, 1, 1000, 2**31, 2**62, 2**63, 2**100, -1,
                                    ValueError("len"), TypeError("len"), MemoryError()])
def test_length_is_only_a_hint(length):
    assert Matrix([HintedSequence([1, 0, 1], length)]).to_list() == [[1, 0, 1]]
    assert Matrix(HintedSequence([[1], [0, 1]], length)).to_list() == [[1], [0, 1]]
    m = Matrix([])
    m.append_row(HintedSequence([1, 1], length))
    assert m.to_list() == [[1, 1]]


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3), GeneratorExit()])
def test_base_exceptions_from_lengths_and_message_texts_end_the_call(error):
    loud = type("Loud", (str,), {"__str__": lambda self: raising(error)()})("x")
    m = Matrix([[1]])
    panic = type(pytest.raises(BaseException, m.get, 1, 0).value)
    for call in (lambda: Matrix([HintedSequence([1], error)]),
                 lambda: Matrix(HintedSequence([[1]], error)),
                 lambda: m.append_row(HintedSequence([1], error)),
                 lambda: m.append_column(HintedSequence([1], error)),
                 lambda: m.get(Index(raising(TypeError(loud))), 0),
                 lambda: m.get(Index(raising(panic(loud))), 0),
                 lambda: m.get(0, **{loud: 0}), lambda: Matrix(**{loud: 0})):
        with pytest.raises(BaseException) as caught:
            call()
        assert caught.value is error
    assert m.to_list() == [[1]]


# Iteration -------------------------------------------------------------------------


@pytest.mark.parametrize("produce, kind, message", [
    (lambda: FailingIterator([1, 0], ValueError("mid")), ValueError, "mid"),
    (lambda: FailingIterator([1], KeyboardInterrupt("mid")), KeyboardInterrupt, "mid"),
    (lambda: FailingIterator([1], TypeError("mid")), TypeError, "argument 'v': mid"),
    (lambda: FailingIterator([1, 0.5], StopIteration), TypeError,
     "argument 'v': 'float' object cannot be interpreted as an integer"),
    (lambda: FailingIterator([1, "1"], StopIteration), TypeError,
     "argument 'v': 'str' object cannot be interpreted as an integer"),
    (lambda: FailingIterator([1, 256], StopIteration), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda: FailingIterator([2**80], StopIteration), OverflowError,
     "Python int too large to convert to C long"),
    (lambda: 5, TypeError, "argument 'v': iter() returned non-iterator of type 'int'"),
    (lambda: [1, 0], TypeError, "argument 'v': iter() returned non-iterator of type 'list'"),
])
def test_iteration_failures_change_nothing(produce, kind, message):
    m = Matrix([[1, 0], [0, 1]])
    for call in (m.append_row, m.append_column):
        with pytest.raises(kind) as caught:
            call(IterSequence(produce))
        assert str(caught.value) == message
        assert m.to_list() == [[1, 0], [0, 1]]


def test_iteration_failures_inside_rows_name_elements():
    with pytest.raises(ValueError, match="^mid$"):
        Matrix([[1], IterSequence(lambda: FailingIterator([1], ValueError("mid")))])
    with pytest.raises(TypeError) as caught:
        Matrix(IterSequence(lambda: FailingIterator([[1], "01"], StopIteration)))
    assert str(caught.value) == "argument 'elements': " + STR_REFUSED
    with pytest.raises(TypeError) as caught:
        Matrix([[1], IterSequence(lambda: iter([None]))])
    assert str(caught.value) == ("argument 'elements': "
                                 "'NoneType' object cannot be interpreted as an integer")


def test_sequence_without_iter_is_read_through_getitem():
    class ByPosition:
        def __getitem__(self, i):
            if i >= 3:
                raise IndexError
            return i % 2

    assert Matrix([ByPosition()]).to_list() == [[0, 1, 0]]


def test_refused_objects_are_named_by_qualname():
    class Meta(type):
        def __getattribute__(cls, name):
            if name == "__qualname__":
                raise RuntimeError("no name")
            return super().__getattribute__(name)

    class Nameless(metaclass=Meta):
        pass

    class Outer:
        class Inner:
            pass

    cases = [({1: 2}, "dict"), ({1}, "set"), (iter([1]), "list_iterator"),
             ((x for x in [1]), "generator"), (3, "int"), (None, "NoneType"),
             (Outer.Inner(), "test_refused_objects_are_named_by_qualname.<locals>.Outer.Inner"),
             (Nameless(), "<failed to extract type name>"),
             (type("Evil", (), {"__qualname__": "Ev\x00il"})(), "Ev\x00il")]
    m = Matrix([[1]])
    for value, name in cases:
        message = f"'{name}' object cannot be converted to 'Sequence'"
        with pytest.raises(TypeError) as caught:
            m.append_row(value)
        assert str(caught.value) == f"argument 'v': {message}"
        with pytest.raises(TypeError) as caught:
            Matrix([value])
        assert str(caught.value) == f"argument 'elements': {message}"
    assert m.to_list() == [[1]]


# Rows that change while they are read -----------------------------------------------


class Mutator:
    """An entry whose __index__ edits the list that holds it, then returns 1."""

    def __init__(self, edit):
        self.edit = edit
        self.target = None

    def __index__(self):
        if self.target is not None:
            self.edit(self.target)
            self.target = None
        return 1


EDITS = {
    "append": lambda row: row.append(0),
    "extend": lambda row: row.extend([1, 0, 1]),
    "clear": lambda row: row.clear(),
    "pop_self": lambda row: row.pop(1),
    "replace_next": lambda row: row.__setitem__(slice(2, None), [Mutator(lambda r: r.clear())]),
    "insert_front": lambda row: row.insert(0, 1),
}


def hostile_row(edit):
    first = Mutator(edit)
    row = [0, first, 1, 0]
    first.target = row
    return row


def read_by_list_iterator(rows):
    return [[operator.index(item) for item in row] for row in rows]


@pytest.mark.parametrize("name", EDITS)
def test_list_rows_edited_while_read_read_like_the_list_iterator(name):
    # The first Mutator edits its own list once; a Mutator placed by an edit
    # holds no list and only answers 1.
    expected = read_by_list_iterator([hostile_row(EDITS[name])])
    assert Matrix([hostile_row(EDITS[name])]).to_list() == expected
    m = Matrix([[0]])
    m.append_row(hostile_row(EDITS[name]))
    assert m.to_list() == [[0]] + expected


def test_outer_list_edited_while_a_row_is_read():
    def hostile_outer():
        outer = [[1]]
        trigger = Mutator(lambda _: outer.clear())
        trigger.target = outer
        outer += [[trigger, 0], [1, 1]]
        return outer

    expected = read_by_list_iterator(hostile_outer())
    assert expected == [[1], [1, 0]]
    outer = hostile_outer()
    assert Matrix(outer).to_list() == expected
    assert outer == []


def test_entry_dropping_the_last_reference_to_itself():
    class Vanishing:
        def __index__(self):
            row.clear()  # drops the list's reference to this very object
            return 1

    row = [Vanishing(), 1]
    assert Matrix([row]).to_list() == [[1]]


# Built-in sequence types and their subclasses --------------------------------------------


class ListSub(list):
    pass


class ReversedList(list):
    def __iter__(self):
        return reversed(list(super().__iter__()))


class TupleSub(tuple):
    pass


class ReversedTuple(tuple):
    def __iter__(self):
        return iter(tuple(reversed(tuple(super().__iter__()))))


class StrSub(str):
    pass


class BytesSub(bytes):
    pass


class ByteArraySub(bytearray):
    def __iter__(self):
        return iter([0] * len(self))


@pytest.mark.parametrize("value, row", [
    (memoryview(b"\x01\x00\x01"), [1, 0, 1]),
    (memoryview(bytearray(b"\x00\x02"))[::-1], [2, 0]),
    (array.array("B", [1, 0, 255]), [1, 0, 255]),
    (array.array("i", [1, 0]), [1, 0]),
    (array.array("q", []), []),
    (range(3), [0, 1, 2]),
    (range(1, 6, 2), [1, 3, 5]),
    (bytearray(b"\x01\x01"), [1, 1]),
    (b"\x00\x01", [0, 1]),
    (BytesSub(b"\x03"), [3]),
    (ByteArraySub(b"\x01\x01"), [0, 0]),
    (ListSub([1, 0]), [1, 0]),
    (ReversedList([1, 0, 0]), [0, 0, 1]),
    (TupleSub((0, 1)), [0, 1]),
    (ReversedTuple((1, 0)), [0, 1]),
    ((True, False), [1, 0]),
])
def test_sequence_types_as_rows(value, row):
    assert Matrix([value]).to_list() == [row]
    m = Matrix([])
    m.append_row(value)
    assert m.to_list() == [row]
    m = Matrix([[0] for _ in row])
    m.append_column(value)
    assert m.to_list() == [[0, x] for x in row]


def test_sequence_types_as_the_outer_sequence():
    assert Matrix(ReversedList([[1], [0, 1]])).to_list() == [[0, 1], [1]]
    assert Matrix(TupleSub(([1], b"\x01"))).to_list() == [[1], [1]]
    assert Matrix(range(0)).to_list() == []
    assert Matrix([range(2), memoryview(b"\x01")]).to_list() == [[0, 1], [1]]


@pytest.mark.parametrize("value, kind, message", [
    (StrSub("01"), TypeError, "argument 'v': " + STR_REFUSED),
    ("", TypeError, "argument 'v': " + STR_REFUSED),
    (array.array("i", [1, 300]), OverflowError, "out of range integral type conversion attempted"),
    (array.array("i", [-1]), OverflowError, "out of range integral type conversion attempted"),
    (array.array("d", [1.0]), TypeError,
     "argument 'v': 'float' object cannot be interpreted as an integer"),
    (memoryview(bytes(4)).cast("B", [2, 2]), NotImplementedError,
     "multi-dimensional sub-views are not implemented"),
])
def test_refused_sequence_types(value, kind, message):
    m = Matrix([[1]])
    with pytest.raises(kind) as caught:
        m.append_row(value)
    assert str(caught.value) == message
    assert m.to_list() == [[1]]
    with pytest.raises(kind):
        Matrix([[1], value])
    with pytest.raises(TypeError):
        Matrix(StrSub("1"))
