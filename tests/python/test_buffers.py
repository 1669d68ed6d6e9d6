"""Arrays and buffers read through their memory behave exactly as iterating
the same values: same result, exception, message and warnings."""

import array
import ctypes
import sys
import types
import warnings

import pytest

from quorvel import Matrix

try:
    import numpy as np
except ImportError:  # Debian's numpy serves only the system python3
    np = None


class Plain:
    """The items of `items` through a sequence without a buffer."""

    def __init__(self, items, wrap=lambda item: item):
        self.items, self.wrap = items, wrap

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.wrap(self.items[i])


def unbuffered(row):
    buffered = isinstance(row, (memoryview, array.array)) or np is not None and isinstance(row, np.ndarray)
    return Plain(row) if buffered and getattr(row, "ndim", 1) else row


def outcome(make):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = make().to_list()
        except Exception as error:
            result = (type(error), str(error))
    return result, [(w.category, str(w.message)) for w in caught]


def arrays():
    a = np.random.default_rng(7).integers(0, 2, (6, 70))
    for dtype in [f"{k}{s}" for k in "iu" for s in (1, 2, 4, 8)] + ["bool", "float64", ">i4", "object"]:
        yield a.astype(dtype)
        for inner in (255, 256, -1, *WIDE, 2**63):
            if np.dtype(dtype).kind not in "iu" or np.iinfo(dtype).min <= inner <= np.iinfo(dtype).max:
                b = a.astype(dtype)
                b[2, 33] = inner
                yield b
    a = a.astype(np.uint8)
    yield from (a[:, ::3], a[::2], a.T, np.asfortranarray(a), a[:0], a[:, :0], a.reshape(3, 4, 35), a[1])
    # Big-endian entries out of range, read as native ones, would be 1.
    yield from (np.array([[0, 256]], dtype=">i2"), np.array([[2**24, 0]], dtype=">u4"))
    yield a.view(renamed(np.ndarray, "numpy.ndarray"))
    yield [a[0].view(renamed(np.ndarray, "numpy.ndarray"))]


# Entries that a read of too few bytes would see as 1.
WIDE = (257, 2**16 + 1, 1 - 2**16, 2**32 + 1, 1 - 2**32)


def wide_arrays():
    for code in "bBhHiIlLqQ":
        bits, signed = 8 * array.array(code).itemsize, code.islower()
        yield from ([array.array(code, [1, v])] for v in WIDE if -signed * 2 ** (bits - 1) <= v < 2 ** (bits - signed))


def renamed(base, name):
    """A subclass of `base` that calls itself `name` and whose items all read as 0."""
    zeros = {"__getitem__": lambda self, i: ([0] * len(self))[i], "__iter__": lambda self: iter([0] * len(self))}
    return type(name, (base,), zeros)


BUFFER_ROWS = [
    [memoryview(b"\x01\x00\x01"), memoryview(bytearray(b"\x00\x01\x01")), memoryview(b"\x01\x00\x01\x00")[::2]],
    [array.array("B", [1, 1, 0]), array.array("q", [0, 1, 0])],
    [array.array("q", [1, 300])], [array.array("b", [1, -1])], [array.array("d", [1.0])],
    *wide_arrays(),
    *([memoryview((kind * 2)(1, 0))] for kind in (ctypes.c_ubyte, ctypes.c_int, ctypes.c_int64)),  # "<B" ...
    [memoryview(b"\x01").toreadonly()], memoryview(b"\x01\x00\x00\x01").cast("B", (2, 2)),
    [renamed(array.array, "array.array")("B", [1, 1, 1])],
]
BUFFER_ROWS[-3][0].release()
NO_NUMPY = pytest.param(None, marks=pytest.mark.skip(reason="numpy is not installed for this interpreter"))


def edited(method, row):
    m = Matrix([[0]] * len(row) if method == "append_column" else [])
    getattr(m, method)(row)
    return m


@pytest.mark.parametrize("elements", BUFFER_ROWS + (list(arrays()) if np is not None else [NO_NUMPY]))
def test_same_outcome_as_iteration(elements):
    assert outcome(lambda: Matrix(elements)) == outcome(lambda: Matrix(Plain(elements, unbuffered)))
    if not isinstance(elements, memoryview):  # a 2-D memoryview does not iterate
        rows = list(elements)
        assert outcome(lambda: Matrix(rows)) == outcome(lambda: Matrix([unbuffered(r) for r in rows]))
        for method in ("append_row", "append_column") if rows else ():  # a row read as Matrix() reads it
            assert outcome(lambda: edited(method, rows[0])) == outcome(lambda: edited(method, unbuffered(rows[0])))


@pytest.mark.parametrize("module, name", [("numpy", "ndarray"), ("array", "array")])
@pytest.mark.parametrize("full_name", [False, True])
def test_types_that_modules_in_sys_modules_hand_out_are_iterated(monkeypatch, module, name, full_name):
    fake = types.ModuleType(module)
    setattr(fake, name, renamed(bytearray, f"{module}.{name}" if full_name else "Sub"))
    monkeypatch.setitem(sys.modules, module, fake)
    assert Matrix([getattr(fake, name)(b"\x01\x01")]).to_list() == [[0, 0]]
