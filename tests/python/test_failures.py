"""Internal failures, borrow conflicts and exceptions from Python code."""

import ctypes
import pathlib
import re

import sys

import pytest

import quorvel
from quorvel import Matrix
from methods import METHODS
from support import HookedRow, Index, panic_message, raising

ROOT = pathlib.Path(__file__).resolve().parents[2]
REPORT = re.compile(r"thread '<unnamed>' panicked at (src/[^:]+):(\d+):(\d+):")


def caught_panic(call):
    try:
        call()
    except Exception:
        raise
    except BaseException as error:
        return error
    raise AssertionError("no failure")


class TestPanicException:
    def test_type(self):
        error = caught_panic(lambda: Matrix([[1, 0], [0, 1]]).get(5, 0))
        panic = type(error)
        assert panic.__name__ == panic.__qualname__ == "PanicException"
        assert panic.__module__ == "vellrin_runtime"
        assert repr(panic) == "<class 'vellrin_runtime.PanicException'>"
        assert panic.__bases__ == (BaseException,)
        assert not issubclass(panic, Exception)
        assert not isinstance(error, Exception)
        assert "BaseException" in panic.__doc__ and len(panic.__doc__) > 40
        assert error.args == ("index out of bounds: the len is 2 but the index is 5",)
        assert str(error) == error.args[0]
        assert all(value is not panic for value in vars(quorvel).values())

    def test_same_type_object_for_every_failure(self):
        m = Matrix([[1]])
        errors = [
            caught_panic(lambda: m.get(1, 0)),
            caught_panic(lambda: m.get_sub_matrix(1, 0)),
            caught_panic(lambda: m.add_rows(0, 3)),
            caught_panic(lambda: Matrix([]).get(0, 0)),
        ]
        assert len({id(type(e)) for e in errors}) == 1
        assert len({id(e) for e in errors}) == 4

    def test_not_caught_by_except_exception(self):
        m = Matrix([[1]])
        with pytest.raises(BaseException) as caught:
            try:
                m.get(0, 1)
            except Exception:  # must not catch it
                pytest.fail("PanicException caught as an Exception")
        assert type(caught.value).__name__ == "PanicException"

    def test_no_attribute_before_the_first_failure(self, run_python):
        result = run_python(
            """
            import sys, quorvel
            before = dict(vars(quorvel))
            try:
                quorvel.Matrix([]).get(0, 0)
            except BaseException as e:
                panic = type(e)
            print(sorted(k for k in before if not k.startswith("__")))
            print(any(v is panic for v in vars(quorvel).values()), vars(quorvel) == before)
            print("vellrin_runtime" in sys.modules)
            """
        )
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == ["['Matrix']", "False True", "False"]


class TestObjectStaysUsable:
    FAILURES = [
        pytest.param(lambda m: m.get(9, 0), id="panic"),
        pytest.param(lambda m: m.get(0), id="binding"),
        pytest.param(lambda m: m.get("x", 0), id="conversion"),
        pytest.param(lambda m: m.get(-1, 0), id="overflow"),
        pytest.param(lambda m: m.get(raising(KeyboardInterrupt()), 0), id="interrupt"),
        pytest.param(lambda m: m.add_rows(0, 9), id="exclusive-panic"),
        pytest.param(lambda m: m.swap_rows(0, "x"), id="exclusive-conversion"),
        pytest.param(lambda m: m.append_row([1, 2, 300]), id="exclusive-overflow"),
        pytest.param(lambda m: m.append_row(raising(ValueError())), id="exclusive-non-sequence"),
        pytest.param(lambda m: m.swap_rows(0, Index(action=lambda: m.get(0, 0))), id="conflict"),
    ]

    @pytest.mark.parametrize("fail", FAILURES)
    def test_after_failure(self, fail):
        m = Matrix([[1, 0], [0, 1]])
        with pytest.raises(BaseException):
            fail(m)
        assert m.to_list() == [[1, 0], [0, 1]]
        m.swap_rows(0, 1)  # needs the borrow to be free
        assert m.to_list() == [[0, 1], [1, 0]]
        with pytest.raises(BaseException):
            fail(m)
        m.append_row([1])
        assert m.nrows() == 3

    def test_edits_before_a_failed_check_stay(self):
        m = Matrix([[0, 0], [0, 0], [0, 0]])
        assert panic_message(lambda: m.append_column([1])) == (
            "index out of bounds: the len is 1 but the index is 1"
        )
        assert m.to_list() == [[0, 0, 1], [0, 0], [0, 0]]
        m.append_column([1, 1, 1])
        assert m.to_list() == [[0, 0, 1, 1], [0, 0, 1], [0, 0, 1]]


# Every method, by the borrow it takes: shared for readers, exclusive for
# editors and for the last-row reductions, although those change nothing.
SHARED = {m.name: m.call for m in METHODS if m.borrow == "shared"} | {
    # A reader that itself runs Python code under its borrow, which reads again.
    "is_zero_row/nested": lambda m: m.is_zero_row(Index(1, action=m.to_list)),
    "repr": repr,
}
EXCLUSIVE = {m.name: m.call for m in METHODS if m.borrow == "exclusive"}
# Outer calls that run Python code (`hook`) while they hold their borrow:
# through __index__ of an index or an entry, or __iter__ of a row.
OUTER = {
    "get/__index__": ("shared", lambda m, hook: m.get(Index(1, action=hook), 0)),
    "get_sub_matrix/__index__": ("shared", lambda m, hook: m.get_sub_matrix(0, Index(1, action=hook))),
    "is_zero_row/__index__": ("shared", lambda m, hook: m.is_zero_row(Index(1, action=hook))),
    "add_rows/__index__": ("exclusive", lambda m, hook: m.add_rows(Index(1, action=hook), 0)),
    "swap_rows/__index__": ("exclusive", lambda m, hook: m.swap_rows(0, Index(1, action=hook))),
    "append_row/__index__": ("exclusive", lambda m, hook: m.append_row([1, Index(1, action=hook)])),
    "append_row/__iter__": ("exclusive", lambda m, hook: m.append_row(HookedRow(hook))),
    "append_column/__index__": ("exclusive",
                                lambda m, hook: m.append_column((Index(1, action=hook), 0))),
    "append_column/__iter__": ("exclusive", lambda m, hook: m.append_column(HookedRow(hook))),
}
ROWS = [[1, 0], [0, 1]]


def plain(value):
    """A result with each Matrix replaced by its rows, to compare by value."""
    if isinstance(value, Matrix):
        return ("Matrix", value.to_list())
    if isinstance(value, tuple):
        return tuple(plain(v) for v in value)
    return value


@pytest.mark.parametrize("outer", OUTER)
@pytest.mark.parametrize("inner", list(SHARED) + list(EXCLUSIVE))
def test_calls_back_into_the_same_matrix(outer, inner):
    access, call = OUTER[outer]
    reenter = SHARED.get(inner) or EXCLUSIVE[inner]
    if inner in EXCLUSIVE:
        expected = "Already borrowed"
    else:
        expected = None if access == "shared" else "Already mutably borrowed"

    # The callback catches what the inner call raises: the outer call goes on
    # and does exactly what it does without the callback.
    m, seen = Matrix(ROWS), []

    def catching():
        try:
            seen.append(plain(reenter(m)))
        except RuntimeError as error:
            seen.append(str(error))

    reference = Matrix(ROWS)
    assert plain(call(m, catching)) == plain(call(reference, lambda: None))
    assert m.to_list() == reference.to_list()
    if expected is None:
        # Reads nest, and give what they give outside.
        assert seen == [plain(reenter(Matrix(ROWS)))]
        return
    assert seen == [expected]

    # The callback lets the error through: the outer call ends with that very
    # exception, unprefixed, having changed nothing and released its borrow.
    m, raised = Matrix(ROWS), []

    def letting_through():
        try:
            reenter(m)
        except RuntimeError as error:
            raised.append(error)
            raise

    with pytest.raises(RuntimeError) as caught:
        call(m, letting_through)
    assert caught.value is raised[0] and caught.value.__cause__ is None
    assert str(caught.value) == expected
    assert m.to_list() == ROWS
    m.swap_rows(0, 1)


def test_constructor_borrows_nothing():
    m = Matrix([[1, 0], [0, 1]])
    # Python code run while a matrix is built may read and edit any matrix,
    # and build others.
    built = Matrix([HookedRow(lambda: m.swap_rows(0, 1)),
                    [Index(1, action=lambda: Matrix([m.to_list()[0]]).get(0, 0))]])
    assert built.to_list() == [[0, 1], [1]]
    assert m.to_list() == [[0, 1], [1, 0]]


class TestExceptionsFromPythonCode:
    @pytest.mark.parametrize("exc", [KeyboardInterrupt("ctrl-c"), ValueError("bad"), SystemExit(1)])
    def test_pass_unchanged_and_silently(self, exc, capfd):
        m = Matrix([[1]])
        for call in (
            lambda: m.get(raising(exc), 0),
            lambda: m.add_rows(0, raising(exc)),
            lambda: Matrix([[raising(exc)]]),
            lambda: m.append_row([raising(exc)]),
        ):
            with pytest.raises(type(exc)) as caught:
                call()
            assert caught.value is exc
        assert capfd.readouterr() == ("", "")
        assert m.to_list() == [[1]]

    def test_panic_subclass_is_not_a_re_raise(self, capfd):
        panic = type(caught_panic(lambda: Matrix([]).get(0, 0)))
        capfd.readouterr()

        class Derived(panic):
            pass

        exc = Derived("mine")
        with pytest.raises(Derived) as caught:
            Matrix([[1]]).get(raising(exc), 0)
        assert caught.value is exc
        assert capfd.readouterr().err == ""

    @pytest.mark.parametrize(
        "call",
        [
            pytest.param(lambda m, raise_it: m.get(Index(action=raise_it), 0), id="__index__"),
            pytest.param(lambda m, raise_it: m.append_row(HookedRow(raise_it)), id="__iter__"),
            pytest.param(lambda m, raise_it: Matrix([[0], HookedRow(raise_it)]), id="new/__iter__"),
            pytest.param(lambda m, raise_it: Matrix([[Index(action=raise_it)]]), id="new/__index__"),
        ],
    )
    def test_re_raised_panic_becomes_a_new_one(self, call, capfd):
        m = Matrix([[1]])
        first = caught_panic(lambda: m.get(0, 4))
        capfd.readouterr()

        def raise_it():
            raise first

        second = caught_panic(lambda: call(m, raise_it))
        err = capfd.readouterr().err
        assert type(second) is type(first) and second is not first
        assert second.args == first.args == ("index out of bounds: the len is 1 but the index is 4",)
        assert "panicked at" not in err
        lines = err.splitlines()
        at = lines.index("Python stack trace below:")
        assert at >= 1 and lines[at - 1].strip()
        assert lines[at + 1] == "Traceback (most recent call last):"
        assert "raise_it" in err
        assert lines[-1] == "vellrin_runtime.PanicException: " + first.args[0]
        assert m.to_list() == [[1]]
        m.swap_rows(0, 0)

    def test_re_raised_panic_from_len_and_next(self, capfd):
        first = caught_panic(lambda: Matrix([]).get(0, 0))

        class Sized:
            def __getitem__(self, index):
                raise AssertionError("indexed")

            def __len__(self):
                raise first

            def __iter__(self):
                return iter([[1]])

        class Next:
            def __getitem__(self, index):
                raise AssertionError("indexed")

            def __iter__(self):
                return self

            def __next__(self):
                raise first

        capfd.readouterr()
        for rows in (Sized(), [Sized()], Next(), [Next()]):
            second = caught_panic(lambda: Matrix(rows))
            assert type(second) is type(first) and second.args == first.args
            assert "Python stack trace below:" in capfd.readouterr().err

    def test_re_raised_panic_without_printable_message(self, capfd):
        panic = type(caught_panic(lambda: Matrix([]).get(0, 0)))

        class Unprintable:
            def __str__(self):
                raise RuntimeError("no text")

        capfd.readouterr()
        second = caught_panic(lambda: Matrix([[1]]).get(raising(panic(Unprintable())), 0))
        assert type(second) is panic
        assert second.args == ("Unwrapped panic from Python code",)
        assert "Python stack trace below:" in capfd.readouterr().err


def test_failure_report_on_standard_error(run_python):
    result = run_python(
        """
        import sys
        from quorvel import Matrix
        m = Matrix([[1, 0], [0, 1]])
        for call in (lambda: m.get(5, 0), lambda: m.get_sub_matrix(2, 1),
                     lambda: m.add_rows(0, 7), lambda: m.get(0, 3)):
            print("<<", file=sys.stderr, flush=True)
            try:
                call()
            except BaseException as e:
                print(">>", e, file=sys.stderr, flush=True)
        """
    )
    assert result.returncode == 0, result.stderr
    blocks = [b.strip("\n").split("\n") for b in result.stderr.split("<<\n")[1:]]
    messages = [
        "index out of bounds: the len is 2 but the index is 5",
        "slice index starts at 2 but ends at 1",
        "index out of bounds: the len is 2 but the index is 7",
        "index out of bounds: the len is 2 but the index is 3",
    ]
    checks = ["row(", "panic(", "row(", "check_index("]
    assert len(blocks) == 4, result.stderr
    for number, (block, message, check) in enumerate(zip(blocks, messages, checks)):
        # The report comes before the exception reaches Python.
        assert block[-1] == ">> " + message
        report = block[:-1]
        assert len(report) == (3 if number == 0 else 2), block
        where = REPORT.fullmatch(report[0])
        assert where, report[0]
        assert report[1] == message
        source = (ROOT / where[1]).read_text().splitlines()
        line, column = int(where[2]), int(where[3])
        assert check in source[line - 1], (where[0], source[line - 1])
        assert 1 <= column <= len(source[line - 1])
    hint = blocks[0][2]
    assert hint.strip() and not REPORT.match(hint)


def test_re_raise_writes_no_second_report(run_python):
    result = run_python(
        """
        import sys
        from quorvel import Matrix
        class Index:
            def __index__(self):
                raise first
        m = Matrix([[1]])
        try:
            m.get(0, 1)
        except BaseException as e:
            first = e
        print("<<", file=sys.stderr, flush=True)
        try:
            m.get(Index(), 0)
        except BaseException as e:
            print(type(e) is type(first), e is not first, e.args == first.args)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["True", "True", "True"]
    before, after = result.stderr.split("<<\n")
    assert before.count("panicked at") == 1
    assert "panicked at" not in after
    assert "Python stack trace below:" in after
    assert after.rstrip().endswith(
        "vellrin_runtime.PanicException: index out of bounds: the len is 1 but the index is 1"
    )


def _without_error_iterator():
    """A sequence type whose iterator slot returns NULL without setting an
    exception, as a faulty extension type might."""
    pointer = ctypes.sizeof(ctypes.c_void_p)

    class Faulty:
        def __getitem__(self, index):
            return 0

        def __len__(self):
            return 1

    def slot(number, kind=ctypes.c_void_p):
        return kind.from_address(id(Faulty) + number * pointer)

    # Check the PyTypeObject layout (CPython 3.10, 64-bit) before writing.
    if (
        pointer != 8
        or slot(4, ctypes.c_ssize_t).value != Faulty.__basicsize__
        or slot(21, ctypes.c_ulong).value != Faulty.__flags__
        or slot(26, ctypes.c_ssize_t).value != Faulty.__weakrefoffset__
    ):
        pytest.skip("unexpected type object layout")
    # PyErr_Occurred() takes no argument and returns NULL when no error is set.
    slot(27).value = ctypes.cast(ctypes.pythonapi.PyErr_Occurred, ctypes.c_void_p).value
    return Faulty


@pytest.mark.parametrize(
    "call",
    [lambda f: Matrix(f()), lambda f: Matrix([f()]), lambda f: Matrix([[1]]).append_row(f())],
)
def test_failure_without_exception_is_a_system_error(call):
    faulty = _without_error_iterator()
    with pytest.raises(SystemError) as caught:
        call(faulty)
    assert str(caught.value) == "attempted to fetch exception but none was set"


def test_sub_interpreter_import_fails(run_python):
    pytest.importorskip("_testcapi")
    probe = (
        "import sys\n"
        "try:\n"
        "    import quorvel\n"
        "except ImportError as e:\n"
        "    sys.stdout.write('ImportError ' + ('interpreter' in str(e)).__str__() + '\\n')\n"
        "else:\n"
        "    sys.stdout.write('imported\\n')\n"
        "sys.stdout.flush()\n"
    )
    result = run_python(
        f"""
        import _testcapi, sys
        import quorvel
        m = quorvel.Matrix([[1]])
        print(_testcapi.run_in_subinterp({probe!r}), flush=True)
        del sys.modules["quorvel"]
        import quorvel as again
        print(again.Matrix is type(m), m.to_list(), flush=True)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["ImportError True", "0", "True [[1]]"]

    # The first interpreter to run the module's initialisation owns it.  Up
    # to 3.12 that is the importing sub-interpreter; from 3.13 on, CPython
    # runs a single-phase module's initialisation in the main interpreter
    # first, so the main interpreter owns it and the sub-interpreter is
    # refused.
    result = run_python(
        f"""
        import _testcapi
        print(_testcapi.run_in_subinterp({probe!r}), flush=True)
        try:
            import quorvel
        except ImportError:
            print("main refused")
        """
    )
    assert result.returncode == 0, result.stderr
    if sys.version_info >= (3, 13):
        assert result.stdout.splitlines() == ["ImportError True", "0"]
    else:
        assert result.stdout.splitlines() == ["imported", "0", "main refused"]

    # An isolated sub-interpreter refuses the module, and so owns nothing.
    if sys.version_info >= (3, 12):
        result = run_python(
            f"""
            import {"_xxsubinterpreters" if sys.version_info < (3, 13) else "_interpreters"} as interpreters
            isolated = interpreters.create()
            interpreters.run_string(isolated, {probe!r})
            interpreters.destroy(isolated)
            import quorvel
            print(quorvel.Matrix([[1]]).to_list())
            """
        )
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == ["ImportError True", "[[1]]"]
