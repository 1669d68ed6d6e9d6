"""Binding positional and keyword arguments, and the messages of wrong calls."""

import pytest

from quorvel import Matrix
from methods import METHODS, parameter_calls
from support import Index, raising

# Each function with parameters, and a call that binds them all.
FUNCTIONS = {"__new__": (("elements",), lambda *a, **k: Matrix(*a, **k))} | {
    m.name: (m.params, None) for m in METHODS if m.params}
# Values told apart by every two-parameter method but swap_rows, on ROWS.
VALUES = {"elements": [[1, 0]], "v": [1, 0, 1], "row": 1, "col": 2, "start": 1, "end": 3,
          "target": 0, "source": 2, "row1": 0, "row2": 2}
ROWS = [[0, 1, 1], [0, 0, 1], [1, 0, 0]]


def callable_for(name):
    names, call = FUNCTIONS[name]
    if call is None:
        m = Matrix([[1, 0], [0, 1]])
        call = getattr(m, name)
    return names, call


def value(param):
    return VALUES.get(param, 0)


def type_error(call, *args, **kwargs):
    with pytest.raises(TypeError) as caught:
        call(*args, **kwargs)
    assert type(caught.value) is TypeError
    return str(caught.value)


@pytest.mark.parametrize("name", FUNCTIONS)
class TestEveryFunction:
    def test_positional_and_keyword_binding_agree(self, name):
        def outcome(*args, **kwargs):
            m = Matrix(ROWS)
            try:
                result = (FUNCTIONS[name][1] or getattr(m, name))(*args, **kwargs)
            except BaseException as error:
                result = (type(error), str(error))
            return repr(result), m.to_list()

        names = FUNCTIONS[name][0]
        args = [value(p) for p in names]
        positional = outcome(*args)
        assert outcome(**{p: value(p) for p in reversed(names)}) == positional
        if len(names) == 2:
            assert outcome(args[0], **{names[1]: args[1]}) == positional
            assert (outcome(*args[::-1]) == positional) == (name == "swap_rows")

    def test_too_many_positional_values_come_first(self, name):
        names, call = callable_for(name)
        n = len(names)
        expected = f"Matrix.{name}() takes {n} positional arguments but {n + 1} were given"
        extra = [value(p) for p in names] + [0]
        assert type_error(call, *extra) == expected
        assert type_error(call, *extra, bogus=1) == expected
        assert type_error(call, *extra, **{names[0]: 1}) == expected
        more = extra + [0, 0]
        assert type_error(call, *more) == expected.replace(f"but {n + 1}", f"but {n + 3}")

    def test_unknown_keyword_comes_before_missing_values(self, name):
        names, call = callable_for(name)
        for bogus in ("foo", names[0].upper(), names[0] + "_", "self"):
            assert (
                type_error(call, **{bogus: 1})
                == f"Matrix.{name}() got an unexpected keyword argument '{bogus}'"
            )

    def test_missing_values_are_listed_in_order(self, name):
        names, call = callable_for(name)
        quoted = [f"'{p}'" for p in names]
        listed = " and ".join(quoted)
        word = "argument" if len(names) == 1 else "arguments"
        assert (
            type_error(call)
            == f"Matrix.{name}() missing {len(names)} required positional {word}: {listed}"
        )
        if len(names) == 2:
            expected = f"Matrix.{name}() missing 1 required positional argument: '{names[1]}'"
            assert type_error(call, 0) == expected
            assert type_error(call, **{names[0]: 0}) == expected
            expected = f"Matrix.{name}() missing 1 required positional argument: '{names[0]}'"
            assert type_error(call, **{names[1]: 0}) == expected

    def test_a_value_given_twice(self, name):
        names, call = callable_for(name)
        expected = f"Matrix.{name}() got multiple values for argument '{names[0]}'"
        assert type_error(call, value(names[0]), **{names[0]: value(names[0])}) == expected


class TestOrderOfChecks:
    def test_keywords_are_checked_in_the_order_given(self):
        m = Matrix([[1]])
        assert type_error(m.get, 0, foo=1, row=2) == (
            "Matrix.get() got an unexpected keyword argument 'foo'"
        )
        assert type_error(m.get, 0, row=2, foo=1) == (
            "Matrix.get() got multiple values for argument 'row'"
        )
        assert type_error(Matrix, [[1]], foo=1, elements=2) == (
            "Matrix.__new__() got an unexpected keyword argument 'foo'"
        )
        assert type_error(Matrix, [[1]], elements=2, foo=1) == (
            "Matrix.__new__() got multiple values for argument 'elements'"
        )

    def test_keywords_bind_by_name(self):
        m = Matrix([[1, 0], [0, 0]])
        assert m.get(col=0, row=0) == 1
        assert m.get(col=1, row=0) == 0
        assert m.get(0, col=0) == 1
        assert Matrix(elements=[[1, 0]]).to_list() == [[1, 0]]
        assert m.get_sub_matrix(end=2, start=1).to_list() == [[0, 0]]
        m.add_rows(source=0, target=1)
        m.swap_rows(row2=1, row1=0)
        assert m.to_list() == [[1, 0], [1, 0]]
        assert m.is_zero_row(row=1) is False

    def test_binding_converts_nothing(self):
        m = Matrix([[1]])
        touched = Index(action=lambda: pytest.fail("converted during a wrong call"))
        for call in (
            lambda: m.get(touched, touched, touched),
            lambda: m.get(touched, foo=touched),
            lambda: m.get(touched, row=touched),
            lambda: m.get(touched),
            lambda: m.append_row(touched, v=touched),
        ):
            with pytest.raises(TypeError):
                call()

    def test_no_arguments_methods_reject_arguments(self):
        m = Matrix([[1]])
        for name in ("nrows", "to_list", "copy", "echelon_form", "rank", "kernel"):
            with pytest.raises(TypeError):
                getattr(m, name)(1)
            with pytest.raises(TypeError):
                getattr(m, name)(x=1)
        assert m.nrows() == 1


SURROGATE = "r\udc80w"


class UnprintableName(str):
    def __str__(self):
        raise ValueError("cannot print")


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


def lossy(text):
    return text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


class TestKeywordNames:
    def test_lone_surrogate_is_unknown_and_shown_replaced(self):
        m = Matrix([[1]])
        shown = lossy(SURROGATE)
        assert "\ufffd" in shown and "\udc80" not in shown
        assert type_error(m.get, **{SURROGATE: 1}) == (
            f"Matrix.get() got an unexpected keyword argument '{shown}'"
        )
        assert type_error(Matrix, **{SURROGATE: 1}) == (
            f"Matrix.__new__() got an unexpected keyword argument '{shown}'"
        )

    def test_non_ascii_names_compare_exactly(self):
        m = Matrix([[1]])
        for name in ("rów", "ｒｏｗ", "row\u200b", "c\x00ol"):
            assert type_error(m.get, 0, **{name: 0}) == (
                f"Matrix.get() got an unexpected keyword argument '{name}'"
            )

    def test_str_subclass_names_bind_by_value_and_print_through_str(self):
        class Name(str):
            def __str__(self):
                return "shown:" + str.__str__(self)

        m = Matrix([[1, 0]])
        assert m.get(**{Name("row"): 0, Name("col"): 1}) == 0
        assert Matrix(**{Name("elements"): [[1]]}).to_list() == [[1]]
        assert type_error(m.get, **{Name("zz"): 0}) == (
            "Matrix.get() got an unexpected keyword argument 'shown:zz'"
        )

    def test_unprintable_name_goes_through_the_unraisable_hook(self, monkeypatch):
        seen = []
        monkeypatch.setattr("sys.unraisablehook", seen.append)
        name = UnprintableName("zz")
        for call in (Matrix([[1]]).get, Matrix):
            seen.clear()
            message = type_error(call, **{name: 0})
            assert message.endswith("got an unexpected keyword argument '<unprintable UnprintableName object>'")
            assert len(seen) == 1
            assert type(seen[0].exc_value) is ValueError
            assert seen[0].object is name


class TestArgumentErrorRule:
    @pytest.mark.parametrize(
        "call, name", parameter_calls() + [(lambda m, x: Matrix([[x]]), "elements")])
    def test_exact_type_error_is_rewrapped_keeping_its_cause(self, call, name):
        prefix = f"argument '{name}': "
        m = Matrix([[1]])
        root = ValueError("root")
        original = TypeError("bad value")
        original.__cause__ = root
        with pytest.raises(TypeError) as caught:
            call(m, raising(original))
        error = caught.value
        assert type(error) is TypeError and error is not original
        assert str(error) == prefix + "bad value"
        assert error.args == (prefix + "bad value",)
        assert error.__cause__ is root
        assert error.__context__ is not original

        plain = TypeError("plain")
        with pytest.raises(TypeError) as caught:
            call(m, raising(plain))
        assert str(caught.value) == prefix + "plain"
        assert caught.value.__cause__ is None
        assert caught.value.__context__ is None
        assert m.to_list() == [[1]]

        class Subclass(TypeError):
            pass

        for passed in (Subclass("sub"), OverflowError("over"), ValueError("val"), LookupError()):
            with pytest.raises(type(passed)) as caught:
                call(m, raising(passed))
            assert caught.value is passed
            assert str(caught.value) == str(passed)

    def test_message_is_str_of_the_exception(self):
        m = Matrix([[1]])
        with pytest.raises(TypeError) as caught:
            m.get(raising(TypeError("a", 2)), 0)
        assert str(caught.value) == "argument 'row': ('a', 2)"
        with pytest.raises(TypeError) as caught:
            m.get(raising(TypeError()), 0)
        assert str(caught.value) == "argument 'row': "
        with pytest.raises(TypeError) as caught:
            m.get(raising(TypeError(SURROGATE)), 0)
        assert str(caught.value) == "argument 'row': " + lossy(SURROGATE)

    def test_unprintable_exception_goes_through_the_unraisable_hook(self, monkeypatch):
        seen = []
        monkeypatch.setattr("sys.unraisablehook", seen.append)
        original = TypeError(Unprintable())
        with pytest.raises(TypeError) as caught:
            Matrix([[1]]).get(raising(original), 0)
        assert str(caught.value) == "argument 'row': <unprintable TypeError object>"
        assert len(seen) == 1
        assert type(seen[0].exc_value) is RuntimeError
        assert seen[0].object is original

    def test_later_arguments_are_not_converted(self):
        m = Matrix([[1]])
        later = Index(action=lambda: pytest.fail("converted after a failure"))
        with pytest.raises(TypeError) as caught:
            m.get("x", later)
        assert str(caught.value).startswith("argument 'row': ")
        with pytest.raises(OverflowError):
            m.add_rows(-1, later)
        with pytest.raises(TypeError):
            m.swap_rows("x", later)


def test_wrong_call_on_a_borrowed_object_is_the_binding_error():
    m = Matrix([[1, 0], [0, 1]])
    seen = []

    def reenter():
        for call in (
            lambda: m.get(0, 0, 0),
            lambda: m.get(foo=1),
            lambda: m.append_row(),
            lambda: m.swap_rows(0, row1=1),
        ):
            try:
                call()
            except TypeError as error:
                seen.append(str(error))

    m.add_rows(Index(0, action=reenter), 1)  # exclusive borrow held meanwhile
    m.get(Index(0, action=reenter), 0)  # shared borrow held meanwhile
    assert seen == [
        "Matrix.get() takes 2 positional arguments but 3 were given",
        "Matrix.get() got an unexpected keyword argument 'foo'",
        "Matrix.append_row() missing 1 required positional argument: 'v'",
        "Matrix.swap_rows() got multiple values for argument 'row1'",
    ] * 2
    assert m.to_list() == [[1, 1], [0, 1]]
