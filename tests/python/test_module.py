"""The module and class as the interpreter sees them."""

import inspect
import os
import subprocess
import sys

import pytest

import quorvel
from quorvel import Matrix

import methods
from support import FREE_THREADED

METHODS = [(m.name, "(" + ", ".join(m.params) + ")") for m in methods.METHODS]


def test_namespace_is_exactly_matrix_and_all():
    public = {k for k in vars(quorvel) if not k.startswith("__")}
    assert public == {"Matrix"}
    assert quorvel.__all__ == ["Matrix"]
    assert quorvel.Matrix is Matrix


@pytest.mark.thread_unsafe(reason="takes the module out of sys.modules for a moment")
def test_reimport_gives_same_module_and_class():
    module = sys.modules.pop("quorvel")
    try:
        import quorvel as again

        assert again is module
        assert again.Matrix is Matrix
    finally:
        sys.modules["quorvel"] = module


@pytest.mark.skipif(not FREE_THREADED, reason="only a free-threaded interpreter can run without the GIL")
def test_import_leaves_the_gil_off():
    # Without PYTHON_GIL, which would force the GIL off whatever the module says.
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    code = "import sys, quorvel; print(sys._is_gil_enabled())"
    result = subprocess.run([sys.executable, "-W", "error", "-c", code], env=env,
                            capture_output=True, text=True, check=False)
    assert (result.returncode, result.stdout, result.stderr) == (0, "False\n", "")


def test_class_identity_and_signature():
    assert Matrix.__module__ == "builtins"
    assert Matrix.__name__ == Matrix.__qualname__ == "Matrix"
    assert Matrix.__text_signature__ == "(elements)"
    assert Matrix.__doc__ == ""
    assert str(inspect.signature(Matrix)) == "(elements)"
    with pytest.raises(TypeError):

        class Sub(Matrix):  # noqa: F841 - the class statement itself must fail
            pass


@pytest.mark.parametrize("name, params", METHODS)
def test_method_docstrings_are_text_signatures(name, params):
    method = getattr(Matrix, name)
    inner = params[1:-1]
    signature = f"{name}($self{', ' + inner if inner else ''})"
    assert method.__doc__ is None
    assert method.__text_signature__ == signature[len(name):]
    # "$self" makes the receiver positional-only.
    shown = str(inspect.signature(method))
    assert shown == ("(self, /" + (", " + inner if inner else "") + ")")


def test_methods_are_registered_in_table_order():
    names = [n for n in vars(Matrix) if not n.startswith("__")]
    assert names == [name for name, _ in METHODS]


def test_no_protocols_of_its_own():
    m = Matrix([[1]])
    assert m == m and m.copy() != m
    with pytest.raises(TypeError):
        len(m)
    with pytest.raises(TypeError):
        m[0]
    with pytest.raises(TypeError):
        iter(m)
    assert not hasattr(m, "__dict__")
    with pytest.raises(TypeError):
        m.nrows(1)
