"""Dense matrices over GF(2) with reduced echelon forms and their row-operation logs.

Every index is an int (or an object with `__index__`) from 0 to 2**64 - 1 and
every entry one from 0 to 255.  An internal failure, such as an index out of
bounds, raises `PanicException`, which derives from `BaseException` and is not
a module attribute.
"""

from collections.abc import Sequence
from typing import Any, SupportsIndex, final, overload

import numpy
from numpy.typing import NDArray

__all__ = ["Matrix"]

@final
class Matrix:
    """A dense matrix over GF(2), held as a list of rows of bytes.

    `Matrix(elements)` holds the rows of `elements`: a sequence of rows, each
    a sequence of ints 0..255 (or objects with `__index__`), such as lists,
    tuples, `range`, `bytes`, `bytearray`, `array.array`, `memoryview` or numpy
    arrays; or one 2-D numpy array of integers, read straight from its memory.
    Rows may differ in length, and nothing checks them; `ncols()` is the
    length of row 0.  Equality and hashing are by identity: compare `to_list()`
    results to compare contents.  Every index is an int from 0 up (a negative
    one raises `OverflowError`); an internal failure, such as an index out of
    bounds, raises `PanicException`, which derives from `BaseException`, so
    `except Exception` does not catch it.

    Traps, one line each:

    - `rank()` and `kernel()` read an echelon form: call them on `echelon_form()[0]`.
    - Entries are kept as given, not reduced mod 2: pass `Matrix(a % 2)`, not `Matrix(a)`.
    - A float array, or a `str` as a row, raises `TypeError`; type checkers flag both.
      They cannot tell a 1-D integer array from a 2-D one: `Matrix(a)` needs rows.
    - A numpy bool array is read entry by entry, each entry warning
      (`DeprecationWarning`): pass `b.view(numpy.uint8)`.
    - The last-row reductions need rows above the last whose first 1s lie in
      different columns, none of them a zero row.

    Raises `TypeError` ("argument 'elements': ...") for a `str` or a
    non-sequence as `elements` or as a row, or an entry that is not an
    integer, and `OverflowError` for an entry outside 0..255.

    Examples
    --------
    >>> import numpy
    >>> h = numpy.array([[1, 1, 0], [0, 1, 1]], dtype=numpy.uint8)
    >>> reduced, log = Matrix(h).echelon_form()
    >>> reduced, log
    ([[1, 0, 1], [0, 1, 1]], [(0, 1)])
    >>> reduced.rank(), reduced.kernel()
    (2, [[1, 1, 1]])
    >>> import array
    >>> Matrix([[1, 0, 1], (0, 1), bytes([1, 1]), array.array("B", [1]), range(2)])
    [[1, 0, 1], [0, 1], [1, 1], [1], [0, 1]]
    >>> Matrix([[1, 2]]).get(0, 1)          # kept, not reduced mod 2
    2
    >>> flags = numpy.array([[True, False], [True, True]])    # bool: pass its bytes
    >>> Matrix(flags.view(numpy.uint8))
    [[1, 0], [1, 1]]
    >>> Matrix(["01"])
    Traceback (most recent call last):
      ...
    TypeError: argument 'elements': Can't extract `str` to `Vec`
    >>> Matrix(numpy.eye(2))
    Traceback (most recent call last):
      ...
    TypeError: argument 'elements': 'numpy.float64' object cannot be interpreted as an integer
    >>> Matrix([[256]])
    Traceback (most recent call last):
      ...
    OverflowError: out of range integral type conversion attempted
    """

    # The constructor is documented in the class docstring, which editors
    # show for a call of Matrix(...) only while __new__ has none.
    @overload
    def __new__(cls, elements: NDArray[numpy.integer[Any] | numpy.bool_]) -> Matrix: ...
    @overload
    def __new__(
        cls, elements: Sequence[Sequence[SupportsIndex] | NDArray[numpy.integer[Any] | numpy.bool_]]
    ) -> Matrix: ...
    def get_sub_matrix(self, /, start: SupportsIndex, end: SupportsIndex) -> Matrix:
        """A new matrix with copies of rows `start` to `end - 1`, each row whole.

        Returns a matrix without rows when `start == end`; the receiver is
        unchanged.  Raises `PanicException` when `end < start` ("slice index
        starts at ...") or `end > nrows()` ("range end index ... out of
        range ..."), and `OverflowError` for a negative index.

        Examples
        --------
        >>> m = Matrix([[1, 0], [0, 1], [1, 1]])
        >>> m.get_sub_matrix(1, 3), m.get_sub_matrix(1, 1)
        ([[0, 1], [1, 1]], [])
        >>> m.get_sub_matrix(1, 4)
        Traceback (most recent call last):
          ...
        vellrin_runtime.PanicException: range end index 4 out of range for slice of length 3
        """
    def to_list(self, /) -> list[list[int]]:
        """The rows as new lists of ints, one list per row.

        Returns new lists on every call: changing them leaves the matrix
        unchanged.  Raises nothing of its own.

        Examples
        --------
        >>> Matrix([[1, 0, 1], [1]]).to_list()
        [[1, 0, 1], [1]]
        """
    def nrows(self, /) -> int:
        """The number of rows.

        Examples
        --------
        >>> Matrix([[1, 0, 1], [1]]).nrows(), Matrix([]).nrows()
        (2, 0)
        """
    def ncols(self, /) -> int:
        """The length of row 0, or 0 without rows; other rows may be longer or shorter.

        Examples
        --------
        >>> Matrix([[1, 0, 1], [1]]).ncols(), Matrix([]).ncols()
        (3, 0)
        """
    def copy(self, /) -> Matrix:
        """A new matrix with a deep copy of the rows; editing one leaves the other.

        Examples
        --------
        >>> a = Matrix([[1, 1]])
        >>> b = a.copy()
        >>> b.add_rows(0, 0)
        >>> a, b, a == b
        ([[1, 1]], [[0, 0]], False)
        """
    def get(self, /, row: SupportsIndex, col: SupportsIndex) -> int:
        """The entry at (`row`, `col`), an int 0..255.

        Raises `PanicException` when `row >= nrows()` or `col` is at least the
        length of that row, and `OverflowError` for a negative index, which
        does not count from the end: name the last row as `nrows() - 1`.

        Examples
        --------
        >>> m = Matrix([[1, 0], [0, 1]])
        >>> m.get(1, 1), m.get(m.nrows() - 1, 0)
        (1, 0)
        >>> m.get(5, 0)
        Traceback (most recent call last):
          ...
        vellrin_runtime.PanicException: index out of bounds: the len is 2 but the index is 5
        >>> m.get(-1, 0)
        Traceback (most recent call last):
          ...
        OverflowError: can't convert negative int to unsigned
        """
    def add_rows(self, /, target: SupportsIndex, source: SupportsIndex) -> None:
        """Adds row `source` into row `target` (exclusive or), in place.

        Over the first `ncols()` entries; `target == source` clears them.  In
        a circuit on the rows it is a CNOT with control `source` and target
        `target`.  Returns None.  Raises `PanicException` for a row index of
        `nrows()` or more, or when either row is shorter than row 0, after
        the entries before the missing one have changed; with row 0 empty
        nothing is checked or changed.

        Examples
        --------
        >>> m = Matrix([[1, 0, 1], [1, 1, 0]])
        >>> m.add_rows(1, 0)
        >>> m
        [[1, 0, 1], [0, 1, 1]]
        """
    def swap_rows(self, /, row1: SupportsIndex, row2: SupportsIndex) -> None:
        """Exchanges two whole rows, with their lengths, in place.

        Returns None.  Raises `PanicException` when either index is `nrows()`
        or more.

        Examples
        --------
        >>> m = Matrix([[1, 1], [0]])
        >>> m.swap_rows(0, 1)
        >>> m, m.ncols()
        ([[0], [1, 1]], 1)
        """
    def is_zero_row(self, /, row: SupportsIndex) -> bool:
        """Whether every entry of the row, over its own length, is 0.

        An empty row is a zero row; any non-zero byte counts, not only 1.
        Raises `PanicException` when `row >= nrows()`.

        Examples
        --------
        >>> m = Matrix([[0, 0], [0, 2], []])
        >>> m.is_zero_row(0), m.is_zero_row(1), m.is_zero_row(2)
        (True, False, True)
        """
    def echelon_form_last_row(self, /) -> tuple[Matrix, list[tuple[int, int]]]:
        """A copy with its last row reduced against the rows above, and the log.

        Returns (copy, log) as `echelon_form()` does; the receiver is
        unchanged.  It needs rows above the last whose first 1s lie in
        different columns, in any order, none of them a zero row (0/1 rows of
        one length): then a last row that depends on them ends as zero, and
        an independent one raises `PanicException` ("called
        `Option::unwrap()` on a `None` value");
        `echelon_form_last_row_dep()` returns it instead.  A zero row above
        lets an independent last row end as zero.  Raises `PanicException`
        for a matrix without rows, too.

        The log has at most 3 `ncols()` + 3 (`nrows()` - 1) pairs, each
        held as a 2-tuple in a list: 64 bytes a pair.

        Examples
        --------
        >>> Matrix([[1, 0, 0], [0, 1, 0], [1, 1, 0]]).echelon_form_last_row()
        ([[1, 0, 0], [0, 1, 0], [0, 0, 0]], [(2, 0), (2, 1)])
        >>> Matrix([[1, 0], [0, 1]]).echelon_form_last_row()
        Traceback (most recent call last):
          ...
        vellrin_runtime.PanicException: called `Option::unwrap()` on a `None` value
        """
    def echelon_form_last_row_dep(self, /) -> tuple[Matrix, list[tuple[int, int]]]:
        """A copy with its last row reduced against the rows above, and the log.

        As `echelon_form_last_row()`, with the same need: rows above the last
        whose first 1s lie in different columns, in any order, none of them a
        zero row.  Then the copy's last row is zero exactly when it depends
        on them.  An independent row is not always moved into place, so the
        copy need not be in echelon form, but its rows' first 1s all lie in
        different columns: keep it as the rows above the next vector, which
        tests a stream of vectors for independence.  Raises `PanicException`
        for a matrix without rows.

        The log has at most 3 `ncols()` + 3 (`nrows()` - 1) pairs, each
        held as a 2-tuple in a list: 64 bytes a pair.

        Examples
        --------
        >>> basis = Matrix([[1, 0, 0], [0, 1, 0]])
        >>> basis.append_row([1, 1, 0])
        >>> basis.echelon_form_last_row_dep()
        ([[1, 0, 0], [0, 1, 0], [0, 0, 0]], [(2, 0), (2, 1)])
        >>> Matrix([[0, 1], [1, 0]]).echelon_form_last_row_dep()     # independent
        ([[0, 1], [1, 0]], [])
        >>> Matrix([[0, 0], [1, 0]]).echelon_form_last_row_dep()     # a zero row above: wrong
        ([[1, 0], [0, 0]], [(0, 1), (1, 0), (0, 1)])
        """
    def echelon_form(self, /) -> tuple[Matrix, list[tuple[int, int]]]:
        """The reduced row echelon form of a copy, and the log that leads to it.

        Returns (reduced, log): a new matrix and the row additions
        (target, source), row `source` added into row `target`, that turn the
        receiver into it; an exchange of rows a and b is the three pairs
        (a, b), (b, a), (a, b).  Replaying the log with `add_rows` on a copy
        gives `reduced`.  Only entries equal to 1 are pivots.  The receiver
        is unchanged.  Raises `PanicException` only for rows of unequal
        lengths.

        As CNOTs (control source, target target) on wires that hold a column,
        the log run in order maps each column of the receiver to that of
        `reduced`: for an invertible A it maps A to I, so it computes A^-1 x,
        and the log reversed computes A x.

        The log of a random n x n matrix has about n**2 / 2 pairs, each held
        as a 2-tuple in a list: 64 bytes a pair (row indexes from 32768 on
        add 32 bytes for each one named), 32 MB at n = 1000 and 512 MB at
        n = 4000, on top of the copy.  When only `reduced` is wanted, as for
        a rank, drop the log at once: `m.echelon_form()[0]`.

        Examples
        --------
        >>> a = Matrix([[0, 1], [1, 1]])
        >>> reduced, log = a.echelon_form()
        >>> reduced, log
        ([[1, 0], [0, 1]], [(0, 1), (1, 0), (0, 1), (0, 1)])
        >>> def run(circuit, wires):
        ...     for target, source in circuit:
        ...         wires[target] ^= wires[source]
        ...     return wires
        >>> run(log, [0, 1]), run(log[::-1], [1, 0])    # A^-1 (0, 1) and A (1, 0)
        ([1, 0], [0, 1])
        """
    def row_echelon_full_matrix(self, /) -> tuple[Matrix, list[tuple[int, int]]]:
        """As `echelon_form()`, with any non-zero entry as pivot and sums taken mod 2.

        Returns (reduced, log); on rows of equal lengths holding only 0 and 1
        it gives what `echelon_form()` gives, with a log of the same size
        (about n**2 / 2 pairs of 64 bytes for a random n x n matrix).  Raises
        `PanicException` only for rows of unequal lengths.

        Examples
        --------
        >>> Matrix([[0, 1, 1], [1, 1, 0], [1, 0, 1]]).row_echelon_full_matrix()
        ([[1, 0, 1], [0, 1, 1], [0, 0, 0]], [(0, 1), (1, 0), (0, 1), (2, 0), (0, 1), (2, 1)])
        >>> Matrix([[2, 1], [1, 1]]).row_echelon_full_matrix()[0]    # 2 taken as a pivot
        [[2, 1], [1, 0]]
        """
    def append_row(self, /, v: Sequence[SupportsIndex] | NDArray[numpy.integer[Any] | numpy.bool_]) -> None:
        """Appends `v` as a new last row, in place, whatever its length.

        `v` is converted as a row of the constructor (not a `str`).  Returns
        None.  Raises `TypeError` ("argument 'v': ...") or `OverflowError`,
        as the constructor does, with the matrix unchanged.

        Examples
        --------
        >>> m = Matrix([[1, 0]])
        >>> m.append_row(bytes([0, 1]))
        >>> m
        [[1, 0], [0, 1]]
        """
    def append_column(self, /, v: Sequence[SupportsIndex] | NDArray[numpy.integer[Any] | numpy.bool_]) -> None:
        """Appends `v[i]` to row i for every row, in place; entries past the last row are unused.

        `v` is converted whole first, as a row of the constructor.  Returns
        None.  Raises `TypeError` or `OverflowError` before any row changes,
        and `PanicException` when `v` is shorter than `nrows()`, after the
        rows it reached have grown.

        Examples
        --------
        >>> m = Matrix([[1, 0], [0, 1]])
        >>> m.append_column([1, 1, 0])
        >>> m
        [[1, 0, 1], [0, 1, 1]]
        """
    def rank(self, /) -> int:
        """The number of distinct columns holding a row's first 1.

        That is the rank of an echelon form, or of rows whose first 1s lie
        in different columns, only: call it on `echelon_form()[0]`.  Raises
        nothing of its own.

        Examples
        --------
        >>> m = Matrix([[1, 0, 0], [1, 1, 0], [1, 0, 0]])
        >>> m.rank(), m.echelon_form()[0].rank()     # the first is wrong
        (1, 2)
        """
    def kernel(self, /) -> list[list[int]]:
        """A basis of the null space, one vector per free column, in column order.

        Correct for a reduced echelon form only: call it on
        `echelon_form()[0]`.  Vector i is 1 at the i-th free column and 0 at
        the other free ones; in each pivot column it holds the entry of that
        pivot's row at the free column.  Raises `PanicException` only for
        rows of unequal lengths.

        Examples
        --------
        >>> h = Matrix([[1, 1, 0], [0, 1, 1]])
        >>> h.echelon_form()[0].kernel(), h.kernel()    # the second is wrong
        ([[1, 1, 1]], [[0, 1, 1]])
        """
