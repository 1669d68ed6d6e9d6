"""Dense matrices over GF(2) with reduced echelon forms and their row-operation logs.

Every index is an int (or an object with __index__) from 0 to 2**64 - 1 and
every entry one from 0 to 255.  An internal failure, such as an index out of
bounds, raises PanicException, which derives from BaseException and is not a
module attribute.
"""

from collections.abc import Sequence
from typing import SupportsIndex, TypeAlias, final

__all__ = ["Matrix"]

# A row: any sequence of entries but a str (list, tuple, range, bytes, ...).
_Row: TypeAlias = Sequence[SupportsIndex]
# A row-operation log: (target, source) means row source was added into row target.
_Log: TypeAlias = list[tuple[int, int]]

@final
class Matrix:
    """A dense matrix over GF(2), held as a list of rows of bytes.

    Rows may differ in length; ncols() is the length of row 0.  Equality and
    hashing are by identity: compare to_list() results to compare contents.
    """

    def __new__(cls, elements: Sequence[_Row]) -> Matrix: ...
    def get_sub_matrix(self, /, start: SupportsIndex, end: SupportsIndex) -> Matrix:
        """A new matrix with copies of rows start to end - 1."""
    def to_list(self, /) -> list[list[int]]:
        """The rows as new lists of ints."""
    def nrows(self, /) -> int:
        """The number of rows."""
    def ncols(self, /) -> int:
        """The length of row 0, or 0 without rows."""
    def copy(self, /) -> Matrix:
        """A deep copy."""
    def get(self, /, row: SupportsIndex, col: SupportsIndex) -> int:
        """The entry at (row, col)."""
    def add_rows(self, /, target: SupportsIndex, source: SupportsIndex) -> None:
        """Adds row source into row target (exclusive or), in place."""
    def swap_rows(self, /, row1: SupportsIndex, row2: SupportsIndex) -> None:
        """Exchanges two whole rows, in place."""
    def is_zero_row(self, /, row: SupportsIndex) -> bool:
        """Whether every entry of the row is 0."""
    def echelon_form_last_row(self, /) -> tuple[Matrix, _Log]:
        """A copy with its last row reduced against the rows above, and the log.

        With the rows above in echelon form, the copy's last row is zero when it
        depends on them; when it does not, PanicException is raised.
        """
    def echelon_form_last_row_dep(self, /) -> tuple[Matrix, _Log]:
        """A copy with its last row reduced against the rows above, and the log.

        With the rows above in echelon form, the copy's last row is zero when it
        depends on them and non-zero when it does not.
        """
    def echelon_form(self, /) -> tuple[Matrix, _Log]:
        """The reduced row echelon form of a copy, and the log that leads to it."""
    def row_echelon_full_matrix(self, /) -> tuple[Matrix, _Log]:
        """As echelon_form(), with any non-zero entry as pivot and sums taken mod 2."""
    def append_row(self, /, v: _Row) -> None:
        """Appends v as a new last row, in place."""
    def append_column(self, /, v: _Row) -> None:
        """Appends v[i] to row i for every row, in place."""
    def rank(self, /) -> int:
        """The number of distinct columns holding a row's first 1 (the rank of an echelon form)."""
    def kernel(self, /) -> list[list[int]]:
        """A basis of the null space, one vector per free column (of a reduced echelon form)."""
