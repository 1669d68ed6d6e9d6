"""Checked by mypy --strict against the installed stubs (.ci/wheel); not run.

Each wrong call carries an ignore for exactly the error it must cause:
--strict warns about an ignore that nothing needs, so a stub that accepted
the wrong call would fail the check.
"""

import array
from typing import assert_type

import numpy

from quorvel import Matrix

m = Matrix([[1, 0, 1], (0, 1, 1), b"\x01\x01\x00", bytearray(3), range(2)])
assert_type(m.nrows(), int)
assert_type(m.ncols(), int)
assert_type(m.get(0, True), int)
assert_type(m.to_list(), list[list[int]])
assert_type(m.copy(), Matrix)
assert_type(m.get_sub_matrix(start=0, end=2), Matrix)
assert_type(m.add_rows(target=0, source=1), None)
assert_type(m.swap_rows(row1=0, row2=1), None)
assert_type(m.is_zero_row(row=0), bool)
assert_type(m.append_row(v=[0, 1]), None)
assert_type(m.append_column([1, 0, 1, 0, 1]), None)
assert_type(m.echelon_form(), tuple[Matrix, list[tuple[int, int]]])
assert_type(m.row_echelon_full_matrix(), tuple[Matrix, list[tuple[int, int]]])
assert_type(m.echelon_form_last_row(), tuple[Matrix, list[tuple[int, int]]])
assert_type(m.echelon_form_last_row_dep(), tuple[Matrix, list[tuple[int, int]]])
assert_type(m.rank(), int)
assert_type(m.kernel(), list[list[int]])

# Arrays, whole or as rows, which the module reads from memory or iterates.
a = numpy.zeros((2, 3), numpy.uint8)
row = numpy.ones(3, numpy.uint8)
assert_type(Matrix(a), Matrix)
assert_type(Matrix(numpy.zeros((2, 3), bool).view(numpy.uint8)), Matrix)
assert_type(Matrix([row, array.array("B", [1, 0]), memoryview(b"\x01"), [numpy.uint8(1)]]), Matrix)
assert_type(Matrix(list(a)), Matrix)
m.append_row(row)
m.append_column(array.array("B", [1, 0, 1, 0, 1, 1]))

Matrix("01")  # type: ignore[arg-type]
Matrix(["01"])  # type: ignore[list-item]
Matrix({0: [1]})  # type: ignore[call-overload]
Matrix([[0.5]])  # type: ignore[list-item]
Matrix(numpy.eye(2))  # type: ignore[arg-type]
Matrix([numpy.ones(2)])  # type: ignore[list-item]
m.append_row(numpy.ones(2))  # type: ignore[arg-type]
m.get(0, 1.0)  # type: ignore[arg-type]
m.get(0)  # type: ignore[call-arg]
m.append_row("01")  # type: ignore[arg-type]
m.nrows(1)  # type: ignore[call-arg]
m.get(self=m, row=0, col=0)  # type: ignore[call-arg]


class Sub(Matrix):  # type: ignore[misc]
    pass
