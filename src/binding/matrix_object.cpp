// The class `Matrix`: its methods, the call frame they run in, and its type.
//
// Every method runs the same frame: bind the arguments to the parameter
// names, borrow the receiver (shared for reading, exclusive for editing),
// convert the arguments in parameter order, run the operation, convert the
// result, release the borrow.  The borrow exists because converting an
// argument can run Python code that calls back into the same matrix.
#include "matrix_object.hpp"

#include <cstddef>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

#include "../matrix/algorithms.hpp"
#include "arguments.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "messages.hpp"

namespace quorvel::binding {
namespace {

MatrixObject* as_matrix(PyObject* object) { return reinterpret_cast<MatrixObject*>(object); }

enum class Access { shared, exclusive };

/// Borrows a receiver for one call and holds a strong reference to it.
/// Taking a borrow never waits: a conflicting one, whether taken by Python
/// code this call runs or by another thread, fails the call at once.
class Borrow {
public:
    Borrow(PyObject* self, Access access) : object_(as_matrix(self)), access_(access) {
        std::atomic<Py_ssize_t>& counter = object_->borrow;
        if (access == Access::shared) {
            Py_ssize_t seen = counter.load(std::memory_order_relaxed);
            do {
                if (seen == -1)
                    raise(PyExc_RuntimeError, message::k_mutably_borrowed);
            } while (!counter.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                                    std::memory_order_relaxed));
        } else {
            Py_ssize_t unborrowed = 0;
            if (!counter.compare_exchange_strong(unborrowed, -1, std::memory_order_acquire,
                                                 std::memory_order_relaxed))
                raise(PyExc_RuntimeError, message::k_borrowed);
        }
        Py_INCREF(self);
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    ~Borrow() {
        if (access_ == Access::shared)
            object_->borrow.fetch_sub(1, std::memory_order_release);
        else
            object_->borrow.store(0, std::memory_order_release);
        Py_DECREF(reinterpret_cast<PyObject*>(object_));
    }

    [[nodiscard]] Matrix& matrix() const { return object_->elements; }

private:
    MatrixObject* object_;
    Access access_;
};

// One conversion per parameter type.
template <class T>
T from_python(PyObject* value);
template <>
Index from_python<Index>(PyObject* value) {
    return extract_index(value);
}
template <>
Row from_python<Row>(PyObject* value) {
    return extract_byte_list(value);
}
template <>
Matrix from_python<Matrix>(PyObject* value) {
    return extract_matrix(value);
}

template <class T>
T convert_argument(PyObject* value, const char* name) {
    try {
        return from_python<T>(value);
    } catch (const PythonError&) {
        rethrow_argument_error(name);
    }
}

// Converts the bound values in parameter order (a braced list evaluates
// left to right) and calls the operation with them.
template <class Receiver, class... Params, std::size_t N, std::size_t... I>
Ref call_converted(Ref (*body)(Receiver&, Params...), Matrix& matrix, const Slots<N>& slots,
                   const Signature<N>& signature, std::index_sequence<I...> /*unused*/) {
    static_assert(sizeof...(Params) == N, "one parameter name per argument");
    std::tuple<std::decay_t<Params>...> values{
        convert_argument<std::decay_t<Params>>(slots[I], signature.names[I])...};
    return std::apply([&](auto&... value) { return body(matrix, std::move(value)...); }, values);
}

template <auto Body, Access A>
PyObject* method_noargs(PyObject* self, PyObject* /*unused*/) noexcept {
    return boundary([&] {
        const Borrow borrow(self, A);
        return Body(borrow.matrix());
    });
}

template <auto Body, Access A, const auto& Sig>
PyObject* method_fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) noexcept {
    return boundary([&] {
        const auto slots = bind(Sig, args, nargs, kwnames);
        const Borrow borrow(self, A);
        return call_converted(Body, borrow.matrix(), slots, Sig,
                              std::make_index_sequence<std::tuple_size_v<decltype(slots)>>{});
    });
}

// The operations as Python sees them.
namespace op {

Ref get_sub_matrix(const Matrix& m, Index start, Index end) {
    return new_matrix_object(m.sub_matrix(start, end));
}
Ref to_list(const Matrix& m) { return rows_to_list(m); }
Ref nrows(const Matrix& m) { return py_count(m.nrows()); }
Ref ncols(const Matrix& m) { return py_count(m.ncols()); }
Ref copy(const Matrix& m) { return new_matrix_object(Matrix(m)); }
Ref get(const Matrix& m, Index row, Index col) { return py_entry(m.get(row, col)); }
Ref add_rows(Matrix& m, Index target, Index source) {
    m.add_rows(target, source);
    return py_none();
}
Ref swap_rows(Matrix& m, Index row1, Index row2) {
    m.swap_rows(row1, row2);
    return py_none();
}
Ref is_zero_row(const Matrix& m, Index row) { return py_bool(m.is_zero_row(row)); }
Ref echelon_form_last_row(const Matrix& m) {
    return elimination_result(quorvel::echelon_form_last_row(m));
}
Ref echelon_form_last_row_dep(const Matrix& m) {
    return elimination_result(quorvel::echelon_form_last_row_dep(m));
}
Ref echelon_form(const Matrix& m) { return elimination_result(quorvel::echelon_form(m)); }
Ref row_echelon_full_matrix(const Matrix& m) {
    return elimination_result(quorvel::row_echelon_full_matrix(m));
}
Ref append_row(Matrix& m, Row v) {
    m.append_row(v);
    return py_none();
}
Ref append_column(Matrix& m, Row v) {
    m.append_column(v);
    return py_none();
}
Ref rank(const Matrix& m) { return py_count(quorvel::rank(m)); }
Ref kernel(const Matrix& m) { return rows_to_list(quorvel::kernel(m)); }

}  // namespace op

constexpr Signature<1> k_new{"Matrix.__new__()", {"elements"}};
constexpr Signature<2> k_get_sub_matrix{"Matrix.get_sub_matrix()", {"start", "end"}};
constexpr Signature<2> k_get{"Matrix.get()", {"row", "col"}};
constexpr Signature<2> k_add_rows{"Matrix.add_rows()", {"target", "source"}};
constexpr Signature<2> k_swap_rows{"Matrix.swap_rows()", {"row1", "row2"}};
constexpr Signature<1> k_is_zero_row{"Matrix.is_zero_row()", {"row"}};
constexpr Signature<1> k_append_row{"Matrix.append_row()", {"v"}};
constexpr Signature<1> k_append_column{"Matrix.append_column()", {"v"}};

template <class Function>
PyCFunction as_cfunction(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int k_fastcall = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef g_methods[] = {
    {"get_sub_matrix",
     as_cfunction(method_fastcall<op::get_sub_matrix, Access::shared, k_get_sub_matrix>),
     k_fastcall, "get_sub_matrix($self, start, end)\n--\n\n"},
    {"to_list", method_noargs<op::to_list, Access::shared>, METH_NOARGS, "to_list($self)\n--\n\n"},
    {"nrows", method_noargs<op::nrows, Access::shared>, METH_NOARGS, "nrows($self)\n--\n\n"},
    {"ncols", method_noargs<op::ncols, Access::shared>, METH_NOARGS, "ncols($self)\n--\n\n"},
    {"copy", method_noargs<op::copy, Access::shared>, METH_NOARGS, "copy($self)\n--\n\n"},
    {"get", as_cfunction(method_fastcall<op::get, Access::shared, k_get>), k_fastcall,
     "get($self, row, col)\n--\n\n"},
    {"add_rows", as_cfunction(method_fastcall<op::add_rows, Access::exclusive, k_add_rows>),
     k_fastcall, "add_rows($self, target, source)\n--\n\n"},
    {"swap_rows", as_cfunction(method_fastcall<op::swap_rows, Access::exclusive, k_swap_rows>),
     k_fastcall, "swap_rows($self, row1, row2)\n--\n\n"},
    {"is_zero_row",
     as_cfunction(method_fastcall<op::is_zero_row, Access::shared, k_is_zero_row>), k_fastcall,
     "is_zero_row($self, row)\n--\n\n"},
    {"echelon_form_last_row", method_noargs<op::echelon_form_last_row, Access::exclusive>,
     METH_NOARGS, "echelon_form_last_row($self)\n--\n\n"},
    {"echelon_form_last_row_dep", method_noargs<op::echelon_form_last_row_dep, Access::exclusive>,
     METH_NOARGS, "echelon_form_last_row_dep($self)\n--\n\n"},
    {"echelon_form", method_noargs<op::echelon_form, Access::shared>, METH_NOARGS,
     "echelon_form($self)\n--\n\n"},
    {"row_echelon_full_matrix", method_noargs<op::row_echelon_full_matrix, Access::shared>,
     METH_NOARGS, "row_echelon_full_matrix($self)\n--\n\n"},
    {"append_row", as_cfunction(method_fastcall<op::append_row, Access::exclusive, k_append_row>),
     k_fastcall, "append_row($self, v)\n--\n\n"},
    {"append_column",
     as_cfunction(method_fastcall<op::append_column, Access::exclusive, k_append_column>),
     k_fastcall, "append_column($self, v)\n--\n\n"},
    {"rank", method_noargs<op::rank, Access::shared>, METH_NOARGS, "rank($self)\n--\n\n"},
    {"kernel", method_noargs<op::kernel, Access::shared>, METH_NOARGS, "kernel($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* matrix_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept {
    return boundary([&] {
        const Slots<1> slots = bind(k_new, args, kwargs);
        Matrix rows = convert_argument<Matrix>(slots[0], k_new.names[0]);
        const allocfunc alloc = subtype->tp_alloc != nullptr ? subtype->tp_alloc : PyType_GenericAlloc;
        PyObject* object = checked(alloc(subtype, 0)).release();
        init_matrix_object(object, std::move(rows));
        return Ref(object);
    });
}

PyObject* matrix_repr(PyObject* self) noexcept {
    return boundary([&] {
        const Borrow borrow(self, Access::shared);
        return py_text(borrow.matrix().to_string());
    });
}

void matrix_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    as_matrix(self)->elements.~Matrix();
    as_matrix(self)->borrow.~atomic();
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>("Matrix(elements)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(matrix_new)},
    {Py_tp_repr, reinterpret_cast<void*>(matrix_repr)},
    {Py_tp_methods, g_methods},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(matrix_dealloc)},
    {0, nullptr},
};

PyType_Spec g_spec = {"builtins.Matrix", sizeof(MatrixObject), 0, Py_TPFLAGS_DEFAULT, g_slots};

PyTypeObject* g_type = nullptr;

}  // namespace

PyTypeObject* matrix_type() {
    if (g_type == nullptr)
        g_type = reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&g_spec)).release());
    return g_type;
}

void init_matrix_object(PyObject* fresh, Matrix&& matrix) noexcept {
    MatrixObject* object = as_matrix(fresh);
    new (&object->elements) Matrix(std::move(matrix));
    new (&object->borrow) std::atomic<Py_ssize_t>(0);
}

}  // namespace quorvel::binding
