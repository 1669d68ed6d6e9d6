"""Hostile Python objects as arguments: index methods that raise or lie,
sequences whose iteration misbehaves, rows that change while they are read,
and the many built-in sequence types.
Each call ends with the exception it should, the matrix is exactly as it
should be afterwards, and nothing crashes."""

import array
import operator
import warnings

import pytest

from quorvel import Matrix
from support import Index, interpreter_message, panic_message, raising

STR_REFUSED = "Can't extract `str` to `Vec`"


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
        m.swap_rows(0, raising(error))
    assert caught.value is error
    assert m.to_list() == [[1, 0], [0, 1]]
    assert capfd.readouterr().err == ""


def test_index_type_error_is_named_and_keeps_its_cause():
    cause = ValueError("root")

    def action():
        raise TypeError("boom") from cause

    with pytest.raises(TypeError) as caught:
        Matrix([[1]]).get(0, Index(action=action))
    assert type(caught.value) is TypeError
    assert str(caught.value) == "argument 'col': boom"
    assert caught.value.__cause__ is cause


# What CPython says of an __index__ that returns no int, as
# operator.index says it: "__index__ returned non-int (type str)" up to 3.14.
@pytest.mark.parametrize("result, kind, message", [
    *((result, TypeError, "argument 'target': " + interpreter_message(operator.index, Index(result)))
      for result in ("3", 3.0, None)),
    (2**64, OverflowError, "int too big to convert"),
    (2**200, OverflowError, "int too big to convert"),
    (-1, OverflowError, "can't convert negative int to unsigned"),
])
def test_index_results_that_are_not_indexes(result, kind, message):
    m = Matrix([[1, 1], [0, 1]])
    with pytest.raises(kind) as caught:
        m.add_rows(Index(result), 1)
    assert str(caught.value) == message
    assert m.to_list() == [[1, 1], [0, 1]]


def test_index_result_at_the_top_of_the_range_reaches_the_check():
    m = Matrix([[1], [1]])
    assert panic_message(lambda: m.is_zero_row(Index(2**64 - 1))) == (
        "index out of bounds: the len is 2 but the index is 18446744073709551615")


def test_index_returning_an_int_subclass_follows_the_warning_filter():
    m = Matrix([[0, 1]])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning):
            m.get(0, Index(True))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert m.get(0, Index(True)) == 1


def test_int_subclasses_are_read_as_ints():
    class Sneaky(int):
        def __index__(self):
            raise AssertionError("an int's own value is read, not its __index__")

    m = Matrix([[Sneaky(1), True, Sneaky(0)]])
    assert m.to_list() == [[1, 1, 0]]
    assert m.get(Sneaky(0), Sneaky(2)) == 0
    assert m.get(False, True) == 1


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3), GeneratorExit()])
def test_base_exceptions_from_message_texts_end_the_call(error):
    def text(_):
        raise error

    loud = type("Loud", (str,), {"__str__": text})("x")
    m = Matrix([[1]])
    panic = type(pytest.raises(BaseException, m.get, 1, 0).value)
    for call in (lambda: m.get(raising(TypeError(loud)), 0),
                 lambda: m.get(raising(panic(loud)), 0),
                 lambda: m.get(0, **{loud: 0}), lambda: Matrix(**{loud: 0})):
        with pytest.raises(BaseException) as caught:
            call()
        assert caught.value is error
    assert m.to_list() == [[1]]


# Iteration -------------------------------------------------------------------------


# A TypeError's message names the parameter: {} is 'v', or 'elements' for a row
# of a new matrix.
@pytest.mark.parametrize("produce, kind, message", [
    (lambda: FailingIterator([1, 0], ValueError("mid")), ValueError, "mid"),
    (lambda: FailingIterator([1], KeyboardInterrupt("mid")), KeyboardInterrupt, "mid"),
    (lambda: FailingIterator([1], TypeError("mid")), TypeError, "argument '{}': mid"),
    (lambda: FailingIterator([1, 0.5], StopIteration), TypeError,
     "argument '{}': 'float' object cannot be interpreted as an integer"),
    (lambda: FailingIterator([1, "1"], StopIteration), TypeError,
     "argument '{}': 'str' object cannot be interpreted as an integer"),
    (lambda: FailingIterator([1, 256], StopIteration), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda: FailingIterator([0, -1], StopIteration), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda: FailingIterator([2**80], StopIteration), OverflowError,
     "Python int too large to convert to C long"),
    # CPython's own words for an __iter__ that returns no iterator, as iter()
    # says them: "iter() returned non-iterator of type 'int'" up to 3.14.
    *((produce, TypeError, "argument '{}': " + interpreter_message(iter, IterSequence(produce)))
      for produce in (lambda: 5, lambda: [1, 0])),
])
def test_iteration_failures_change_nothing(produce, kind, message):
    m = Matrix([[1, 0], [0, 1]])
    for call, name in ((m.append_row, "v"), (m.append_column, "v"),
                       (lambda row: Matrix([[1], row]), "elements")):
        with pytest.raises(kind) as caught:
            call(IterSequence(produce))
        assert str(caught.value) == message.format(name)
        assert m.to_list() == [[1, 0], [0, 1]]


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
