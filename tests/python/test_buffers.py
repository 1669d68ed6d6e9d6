"""Arrays and buffers read through the buffer protocol give exactly what
iterating the same values gives: result, exception, message and warnings."""

import array
import warnings

import pytest

from quorvel import Matrix

try:
    import numpy as np
except ImportError:  # numpy is optional (Debian's serves only the system python3)
    np = None

needs_numpy = pytest.mark.skipif(np is None, reason="numpy is not installed")


class Plain:
    """The items of `items` through a sequence that has no buffer, so that
    the module iterates it; `wrap` turns each item into what it hands out."""

    def __init__(self, items, wrap=lambda item: item):
        self.items = items
        self.wrap = wrap

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.wrap(self.items[i])


def unbuffered(row):
    """A row the module would read as a buffer, as a plain sequence."""
    buffered = isinstance(row, (memoryview, array.array))
    buffered |= np is not None and isinstance(row, np.ndarray) and row.ndim > 0
    return Plain(row) if buffered else row


def outcome(make):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = ("ok", make().to_list())
        except Exception as error:
            result = (type(error), str(error))
    return result, [(w.category, str(w.message)) for w in caught]


def assert_same_as_iteration(elements, by_rows=True):
    """Matrix(elements), and Matrix(list(elements)) unless `by_rows` is
    false, behave exactly as their unbuffered twins."""
    assert outcome(lambda: Matrix(elements)) == outcome(lambda: Matrix(Plain(elements, unbuffered)))
    if by_rows:
        rows = list(elements)
        assert outcome(lambda: Matrix(rows)) == outcome(lambda: Matrix([unbuffered(r) for r in rows]))


INTEGER_DTYPES = [f"{kind}{size}" for kind in "iu" for size in (1, 2, 4, 8)]


@needs_numpy
@pytest.mark.parametrize("dtype", INTEGER_DTYPES + ["bool", "float64", ">i4", "object"])
@pytest.mark.parametrize("inner", [None, 255, 256, -1, 2**63])
def test_arrays_of_every_dtype(dtype, inner):
    a = np.random.default_rng(7).integers(0, 2, (5, 70)).astype(dtype)
    if inner is not None:
        if a.dtype.kind in "iu" and not np.iinfo(a.dtype).min <= inner <= np.iinfo(a.dtype).max:
            pytest.skip(f"{dtype} cannot hold {inner}")
        a[2, 33] = inner
        if a[2, 33] != inner:
            pytest.skip(f"{dtype} does not hold {inner} exactly")
    assert_same_as_iteration(a)


@needs_numpy
@pytest.mark.parametrize(
    "layout",
    [
        lambda a: a[:, ::3],
        lambda a: a[::2],
        lambda a: a.T,
        np and np.asfortranarray,
        lambda a: a[:0],
        lambda a: a[:, :0],
        lambda a: a.reshape(3, 4, 35),
        lambda a: a[1],
    ],
)
def test_array_layouts(layout):
    a = np.random.default_rng(3).integers(0, 2, (6, 70)).astype(np.uint8)
    a[4, 9] = 3
    assert_same_as_iteration(layout(a))


def test_memoryviews_and_array_module_rows():
    rows = [
        memoryview(b"\x01\x00\x01"),
        memoryview(bytearray(b"\x00\x01\x01")),
        memoryview(b"\x01\x00\x01\x00\x01\x01")[::2],
        array.array("B", [1, 1, 0]),
        array.array("q", [0, 1, 0]),
    ]
    assert_same_as_iteration(rows)
    for bad in (array.array("q", [1, 300, 0]), array.array("b", [1, -1]), array.array("d", [1.0])):
        assert_same_as_iteration([bad])
    released = memoryview(b"\x01")
    released.release()
    assert_same_as_iteration([released])
    assert_same_as_iteration(memoryview(b"\x01\x00\x00\x01").cast("B", (2, 2)), by_rows=False)
