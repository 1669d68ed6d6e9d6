"""Building a Matrix from Python values: accepted forms, refusals, hints."""

import pytest

from quorvel import Matrix
from support import Index, heap_in_use, raising

STR_REFUSED = "argument 'elements': Can't extract `str` to `Vec`"


def not_a_sequence(name):
    return f"argument 'elements': '{name}' object cannot be converted to 'Sequence'"


class Rows:
    """A sequence (it has __getitem__) read only through __len__ and __iter__;
    it records every item handed out and fails if indexed."""

    def __init__(self, items, length=None, length_error=None):
        self.items = list(items)
        self.length = len(self.items) if length is None else length
        self.length_error = length_error
        self.handed_out = 0

    def __len__(self):
        if self.length_error is not None:
            raise self.length_error
        return self.length

    def __getitem__(self, index):
        raise AssertionError("converted by indexing instead of iteration")

    def __iter__(self):
        for item in self.items:
            self.handed_out += 1
            yield item


class IteratesDifferently(list):
    """A list whose iteration disagrees with its items and its length."""

    def __iter__(self):
        return iter([[7], [8, 9]])

    def __len__(self):
        return 1


class BytesRow(bytes):
    def __iter__(self):
        return iter([4, 5, 6])


@pytest.mark.parametrize(
    "elements, rows",
    [
        ([], []),
        ([[]], [[]]),
        (((1, 0), (0, 1)), [[1, 0], [0, 1]]),
        ([(1, 0), bytes([0, 1])], [[1, 0], [0, 1]]),
        (b"", []),
        ([[1, 0, 1], [1]], [[1, 0, 1], [1]]),
        ([[255, 2]], [[255, 2]]),
        ([[Index(7)]], [[7]]),
        (IteratesDifferently([[1]]), [[7], [8, 9]]),
        ([BytesRow(b"\x01")], [[4, 5, 6]]),
        (Rows([Rows([1, 1]), (0,)]), [[1, 1], [0]]),
        ([[1]] * 3 + [bytes(300)], [[1], [1], [1], [0] * 300]),
    ],
    ids=lambda value: type(value).__name__,
)
def test_accepted_forms(elements, rows):
    m = Matrix(elements)
    assert m.to_list() == rows
    assert m.nrows() == len(rows)
    assert m.ncols() == (len(rows[0]) if rows else 0)


@pytest.mark.parametrize(
    "elements, message",
    [
        ("01", STR_REFUSED),
        (["01"], STR_REFUSED),
        ([[1], "1"], STR_REFUSED),
        (type("Text", (str,), {})("01"), STR_REFUSED),
        ([type("Text", (str,), {})("")], STR_REFUSED),
        ([1, 0], not_a_sequence("int")),
        ({}, not_a_sequence("dict")),
        (iter([[1]]), not_a_sequence("list_iterator")),
        ((row for row in [[1]]), not_a_sequence("generator")),
        (None, not_a_sequence("NoneType")),
        # Rows read from a sequence that is not a list.
        (Rows([[1], "01"]), STR_REFUSED),
        (Matrix([[1]]), not_a_sequence("Matrix")),
        ([[1.0]], "argument 'elements': 'float' object cannot be interpreted as an integer"),
        ([["1"]], "argument 'elements': 'str' object cannot be interpreted as an integer"),
        ([[b"\x01"]], "argument 'elements': 'bytes' object cannot be interpreted as an integer"),
        ([[None]], "argument 'elements': 'NoneType' object cannot be interpreted as an integer"),
    ],
)
def test_refused_values_are_type_errors_naming_elements(elements, message):
    with pytest.raises(TypeError) as caught:
        Matrix(elements)
    assert type(caught.value) is TypeError
    assert str(caught.value) == message


@pytest.mark.parametrize("entry", [256, -1, 300, Index(256), Index(-1), True + 255])
def test_entries_out_of_byte_range_overflow_without_prefix(entry):
    with pytest.raises(OverflowError) as caught:
        Matrix([[0, entry]])
    assert str(caught.value) == "out of range integral type conversion attempted"


@pytest.mark.parametrize("entry", [2**63, -(2**63) - 1, 2**100])
def test_entries_beyond_a_long_get_the_interpreters_overflow(entry):
    with pytest.raises(OverflowError) as caught:
        Matrix([[entry]])
    assert "out of range integral" not in str(caught.value)


def _qualname_raising(exc):
    class Meta(type):
        def __getattribute__(cls, name):
            if name == "__qualname__":
                raise exc
            return super().__getattribute__(name)

    return Meta("Hidden", (), {})()


@pytest.mark.parametrize("exc", [KeyboardInterrupt("stop"), SystemExit(3)])
def test_type_name_lookup_does_not_swallow_interrupts(exc):
    with pytest.raises(type(exc)) as caught:
        Matrix(_qualname_raising(exc))
    assert caught.value is exc


class TestLengthHint:
    """The length only sizes the first reservation; iteration decides."""

    @pytest.mark.parametrize(
        "length, error",
        [
            (0, None),
            (1, None),
            (100, None),
            (2**31, None),
            (2**62, None),
            (2**63, None),  # __len__ result does not fit: OverflowError, cleared
            (2**100, None),
            (-1, None),  # ValueError from the interpreter, cleared
            (0, ValueError("no length")),
            (0, RuntimeError("no length")),
            (0, TypeError("no length")),
            (0, MemoryError()),
        ],
    )
    def test_hint_changes_nothing(self, length, error):
        outer = Rows([Rows([1, 0, 1], length, error), [1]], length, error)
        assert Matrix(outer).to_list() == [[1, 0, 1], [1]]
        m = Matrix([[0], [1]])
        m.append_row(Rows([1, 1], length, error))
        m.append_column(Rows([1, 0, 1], length, error))
        assert m.to_list() == [[0, 1], [1, 0], [1, 1, 1]]

    @pytest.mark.parametrize("exc", [KeyboardInterrupt("ctrl-c"), SystemExit(2), GeneratorExit()])
    @pytest.mark.parametrize("call", [
        pytest.param(lambda m, rows: Matrix(rows), id="outer"),
        pytest.param(lambda m, rows: Matrix([rows]), id="row"),
        pytest.param(lambda m, rows: m.append_row(rows), id="append_row"),
        pytest.param(lambda m, rows: m.append_column(rows), id="append_column"),
    ])
    def test_interrupt_from_len_reaches_the_caller(self, exc, call):
        m = Matrix([[1, 0]])
        with pytest.raises(type(exc)) as caught:
            call(m, Rows([1], length_error=exc))
        assert caught.value is exc
        assert caught.value.__context__ is None
        assert m.to_list() == [[1, 0]]

    def test_huge_hint_is_not_reserved(self):
        before = heap_in_use()
        if before is None:
            pytest.skip("the C allocator does not report its use")
        # Reserving what these claim would keep about 1 GB per matrix.
        kept = [Matrix(Rows([Rows([1], 10**9)], 10**8)) for _ in range(4)]
        grown = heap_in_use() - before
        assert [m.to_list() for m in kept] == [[[1]]] * 4
        assert grown < 8 * 2**20


class TestIteration:
    def test_first_failure_ends_the_conversion(self):
        rows = Rows([[1], [2**9], [Index(action=lambda: pytest.fail("converted"))]])
        with pytest.raises(OverflowError):
            Matrix(rows)
        assert rows.handed_out == 2

    @pytest.mark.parametrize(
        "row, error",
        [
            ([300, "x"], OverflowError),
            (["x", 300], TypeError),
            ([raising(ValueError("first")), raising(KeyError("second"))], ValueError),
        ],
    )
    def test_first_failing_entry_decides(self, row, error):
        with pytest.raises(error) as caught:
            Matrix([row])
        assert type(caught.value) is error

    def test_exceptions_from_iteration_pass_unchanged(self):
        class Broken:
            def __init__(self, exc, after):
                self.exc, self.after = exc, after

            def __getitem__(self, index):
                raise AssertionError("indexed")

            def __iter__(self):
                if self.after is None:
                    raise self.exc
                yield from self.after
                raise self.exc

        for exc in (ValueError("iter"), KeyboardInterrupt("iter")):
            for after in (None, [[1], [0]]):
                with pytest.raises(type(exc)) as caught:
                    Matrix(Broken(exc, after))
                assert caught.value is exc
                with pytest.raises(type(exc)) as caught:
                    Matrix([Broken(exc, None if after is None else [1, 0])])
                assert caught.value is exc

    def test_sequence_without_iter_is_read_through_its_iterator(self):
        class Indexed:
            def __getitem__(self, index):
                if index == 3:
                    raise IndexError
                return index % 2

        assert Matrix([Indexed()]).to_list() == [[0, 1, 0]]

    def test_lists_changing_while_read_are_read_as_their_iterators_would(self):
        outer = []
        outer.extend([[Index(1, action=outer.clear), 0], [1, 1]])
        assert Matrix(outer).to_list() == [[1, 0]]

        grows = [[0]]
        grows[0][0] = Index(0, action=lambda: grows.append([1]) if len(grows) < 3 else None)
        assert Matrix(grows).to_list() == [[0], [1]]

        # The row being read is dropped from the outer list: it must stay alive.
        holder = [[Index(1, action=lambda: holder.__setitem__(0, None)), 1, 0, 1] * 50]
        assert Matrix(holder).to_list() == [[1, 1, 0, 1] * 50]

def test_str_and_sequence_checks_come_before_any_python_code():
    class NoSequence:
        def __len__(self):
            raise KeyboardInterrupt

        def __iter__(self):
            raise KeyboardInterrupt

    class Text(str):
        def __len__(self):
            raise KeyboardInterrupt

        def __iter__(self):
            raise KeyboardInterrupt

    with pytest.raises(TypeError) as caught:
        Matrix([NoSequence()])
    assert str(caught.value) == not_a_sequence(NoSequence.__qualname__)
    for elements in (Text("1"), [Text("1")]):
        with pytest.raises(TypeError) as caught:
            Matrix(elements)
        assert str(caught.value) == STR_REFUSED
