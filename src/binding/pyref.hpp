// An owned reference to a Python object.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace quorvel::binding {

/// Owns one strong reference and releases it on destruction; `release()`
/// hands it over, for example to the interpreter as a return value.
class Ref {
public:
    Ref() = default;
    /// Takes over a new reference (which may be null).
    explicit Ref(PyObject* owned) noexcept : object_(owned) {}
    /// A new strong reference to a borrowed object.
    static Ref borrowed(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(other.release()) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    [[nodiscard]] PyObject* get() const noexcept { return object_; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

private:
    PyObject* object_ = nullptr;
};

#ifdef Py_GIL_DISABLED
/// Holds the per-object lock of a free-threaded interpreter (a critical
/// section) on `object` for its lifetime, also when an exception leaves the
/// scope, which the Py_BEGIN_CRITICAL_SECTION macros cannot do.
class CriticalSection {
public:
    explicit CriticalSection(PyObject* object) noexcept { PyCriticalSection_Begin(&section_, object); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { PyCriticalSection_End(&section_); }

private:
    PyCriticalSection section_;
};
#endif

}  // namespace quorvel::binding
