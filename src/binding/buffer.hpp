// Rows read through the buffer protocol.
//
// Iterating a numpy array, an array.array or a memoryview item by item costs
// a Python object per entry; their buffer holds the same values as plain
// integers.  For the exact types whose iteration runs no Python code and
// yields exactly their buffer's values, a row is read straight from memory.
// Everything else, subclasses included (their __iter__ may differ from their
// buffer), is iterated as before, and so is any buffer that would not give
// exactly what iteration gives: a format other than a native integer (bool,
// float, object, or one with a byte-order prefix such as "<B", which a
// memoryview refuses to iterate), another number of dimensions, or an entry
// outside 0 to 255, whose exact error only iteration reports.
#pragma once

#include "pyref.hpp"

#include <optional>
#include <span>

#include "../matrix/matrix.hpp"

namespace quorvel::binding {

/// The integer buffer of an object, held for as long as this lives.
class IntegerBuffer {
public:
    IntegerBuffer() = default;
    IntegerBuffer(const IntegerBuffer&) = delete;
    IntegerBuffer& operator=(const IntegerBuffer&) = delete;
    ~IntegerBuffer();

    /// Takes the buffer of `object` when its exact type is memoryview,
    /// array.array or numpy.ndarray (only ndarray for `ndim` 2), and it has
    /// `ndim` dimensions and a native integer format.  (Exact bytes and
    /// bytearray are read directly by the conversions.)
    /// False, with nothing taken and no exception set, when the object is
    /// to be iterated instead.
    bool open(PyObject* object, int ndim) noexcept;

    /// Rows (1 for a one-dimensional buffer) and entries per row.
    [[nodiscard]] Index rows() const { return rows_; }
    [[nodiscard]] Index cols() const { return cols_; }

    /// Row `r` as bytes: inside the buffer when it holds bytes contiguously,
    /// otherwise converted into `scratch`.  Nothing when an entry lies
    /// outside 0 to 255.
    [[nodiscard]] std::optional<std::span<const Byte>> row(Index r, Row& scratch) const;

private:
    Py_buffer view_{};
    bool open_ = false;
    bool is_signed_ = false;
    Index rows_ = 0;
    Index cols_ = 0;
    Py_ssize_t row_stride_ = 0;
    Py_ssize_t entry_stride_ = 0;
};

}  // namespace quorvel::binding
