"""The type stubs agree with the module where mypy.stubtest cannot look:
the constructor's parameters, the type of every method's result and the
examples in the docstrings."""

import ast
import doctest
import inspect
import typing
from pathlib import Path

import pytest

import quorvel
from quorvel import Matrix

from methods import BY_NAME

CHECKOUT_STUB = Path(__file__).resolve().parents[2] / "stubs" / "quorvel-stubs" / "__init__.pyi"


def stub_tree():
    # An installed module has its stubs beside it; a build tree uses the checkout's.
    installed = Path(quorvel.__file__).parent / "quorvel-stubs" / "__init__.pyi"
    path = installed if installed.is_file() else CHECKOUT_STUB
    return ast.parse(path.read_text(encoding="utf-8"))


def stub_class(tree, with_class=False):
    (cls,) = [node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "Matrix"]
    methods = {node.name: node for node in cls.body if isinstance(node, ast.FunctionDef)}
    return {"Matrix": cls, **methods} if with_class else methods


def conforms(value, expected):
    if expected is None:
        return value is None
    origin, args = typing.get_origin(expected), typing.get_args(expected)
    if origin is list:
        return type(value) is list and all(conforms(item, args[0]) for item in value)
    if origin is tuple:
        return (type(value) is tuple and len(value) == len(args)
                and all(conforms(item, arg) for item, arg in zip(value, args)))
    return type(value) is expected


def test_constructor_parameters_match():
    (cls,) = [node for node in stub_tree().body if isinstance(node, ast.ClassDef)]
    overloads = [node for node in cls.body if getattr(node, "name", "") == "__new__"]
    assert len(overloads) == 2
    for new in overloads:
        assert [arg.arg for arg in new.args.args] == ["cls", *inspect.signature(Matrix).parameters]
        # An editor shows the class docstring for Matrix(...) only while __new__ has none.
        assert ast.get_docstring(new) is None


def test_every_method_has_a_stub():
    methods = {name for name in vars(Matrix) if not name.startswith("__")}
    assert set(stub_class(stub_tree())) - {"__new__"} == methods


@pytest.mark.parametrize("name", [n for n in vars(Matrix) if not n.startswith("__")])
def test_result_has_the_stub_type(name):
    definition = stub_class(stub_tree())[name]
    expected = eval(ast.unparse(definition.returns), {"Matrix": Matrix})
    assert [arg.arg for arg in definition.args.posonlyargs] == ["self"]
    assert tuple(arg.arg for arg in definition.args.args) == BY_NAME[name].params
    # Three rows in echelon form above their sum: every method succeeds.
    m = Matrix([[1, 0, 1], [0, 1, 1], [1, 1, 0]])
    result = BY_NAME[name].call(m)
    assert conforms(result, expected), (name, result, expected)


@pytest.mark.thread_unsafe(reason="doctest patches linecache for the whole process")
@pytest.mark.parametrize("name", ["Matrix"] + [n for n in vars(Matrix) if not n.startswith("__")])
def test_docstring_examples_run(name):
    node = stub_class(stub_tree(), with_class=True)[name]
    text = ast.get_docstring(node, clean=False)
    if ">>> import numpy" in text:
        pytest.importorskip("numpy")  # Debian's numpy serves only the system python3
    test = doctest.DocTestParser().get_doctest(text, {"Matrix": Matrix}, name, "stub", node.lineno)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    assert test.examples, name
    assert runner.run(test).failed == 0
