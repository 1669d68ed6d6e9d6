#include "arguments.hpp"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "errors.hpp"
#include "messages.hpp"

namespace quorvel::binding {
namespace {

[[noreturn]] void wrong_call(const std::string& message) { raise(PyExc_TypeError, message); }

// One binding, in the order of its checks: positional values, keywords one
// at a time, then missing parameters.
class Binder {
public:
    Binder(const char* function, std::span<const char* const> names, std::span<PyObject*> slots)
        : function_(function), names_(names), slots_(slots) {}

    void positional(PyObject* const* values, Py_ssize_t count) {
        const auto given = static_cast<std::size_t>(count);
        for (std::size_t i = 0; i < given && i < slots_.size(); ++i)
            slots_[i] = values[i];
        if (given > names_.size())
            wrong_call(message::too_many_positional(function_, names_.size(), given));
    }

    void keyword(PyObject* name, PyObject* value) {
        const std::size_t i = find(name);
        if (i == names_.size())
            wrong_call(message::unexpected_keyword(function_, text_of(name, name)));
        if (slots_[i] != nullptr)
            wrong_call(message::multiple_values(function_, names_[i]));
        slots_[i] = value;
    }

    void finish() const {
        std::vector<std::string_view> missing;
        for (std::size_t i = 0; i < slots_.size(); ++i)
            if (slots_[i] == nullptr)
                missing.emplace_back(names_[i]);
        if (!missing.empty())
            wrong_call(message::missing_positional(function_, missing));
    }

private:
    // The parameter a keyword names, or names_.size().  A name that is not a
    // str, or cannot be read as UTF-8, names none.
    [[nodiscard]] std::size_t find(PyObject* name) const {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
        if (utf8 == nullptr) {
            PyErr_Clear();
            return names_.size();
        }
        const std::string_view wanted(utf8, static_cast<std::size_t>(size));
        for (std::size_t i = 0; i < names_.size(); ++i)
            if (wanted == names_[i])
                return i;
        return names_.size();
    }

    const char* function_;
    std::span<const char* const> names_;
    std::span<PyObject*> slots_;
};

}  // namespace

void bind_vector(const char* function, std::span<const char* const> names,
                 std::span<PyObject*> slots, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames) {
    Binder binder(function, names, slots);
    binder.positional(args, nargs);
    if (kwnames != nullptr) {
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < count; ++k)
            binder.keyword(PyTuple_GET_ITEM(kwnames, k), args[nargs + k]);
    }
    binder.finish();
}

void bind_tuple(const char* function, std::span<const char* const> names,
                std::span<PyObject*> slots, PyObject* args, PyObject* kwargs) {
    Binder binder(function, names, slots);
    binder.positional(&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args));
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value))
            binder.keyword(name, value);
    }
    binder.finish();
}

}  // namespace quorvel::binding
