// Binding of positional and keyword arguments to parameter names.
#pragma once

#include "pyref.hpp"

#include <array>
#include <cstddef>
#include <span>

namespace quorvel::binding {

/// The parameters of one function: its name as messages show it, such as
/// "Matrix.get()", and its parameter names in order.  Every parameter is
/// positional-or-keyword and required.
template <std::size_t N>
struct Signature {
    const char* function;
    std::array<const char*, N> names;
};

/// One slot per parameter, holding the borrowed value bound to it.
template <std::size_t N>
using Slots = std::array<PyObject*, N>;

/// Binds a vector call (values, number of positional values, tuple of
/// keyword names or NULL) to `names`; throws `PythonError` with the exact
/// TypeError of a wrong call.
void bind_vector(const char* function, std::span<const char* const> names,
                 std::span<PyObject*> slots, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames);

/// Binds an argument tuple and a keyword dictionary (or NULL).
void bind_tuple(const char* function, std::span<const char* const> names,
                std::span<PyObject*> slots, PyObject* args, PyObject* kwargs);

template <std::size_t N>
Slots<N> bind(const Signature<N>& signature, PyObject* const* args, Py_ssize_t nargs,
              PyObject* kwnames) {
    Slots<N> slots{};
    bind_vector(signature.function, signature.names, slots, args, nargs, kwnames);
    return slots;
}

template <std::size_t N>
Slots<N> bind(const Signature<N>& signature, PyObject* args, PyObject* kwargs) {
    Slots<N> slots{};
    bind_tuple(signature.function, signature.names, slots, args, kwargs);
    return slots;
}

}  // namespace quorvel::binding
