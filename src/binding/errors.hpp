// Failures as the interpreter sees them.
//
// Inside a call, every failure is a C++ exception:
//   - `PythonError`: a Python exception is set in the interpreter;
//   - `quorvel::Panic`: an internal check failed (thrown by the core or here);
//   - `PanicFromPython`: Python code called by the module raised a
//     `PanicException` of an earlier failure, already reported;
//   - `std::bad_alloc`: memory ran out.
// `boundary()` runs the body of every entry point and turns whichever of
// these ends it into exactly one raised Python exception.
#pragma once

#include "pyref.hpp"

#include <optional>
#include <source_location>
#include <string>
#include <string_view>

#include "../matrix/failure.hpp"

namespace quorvel::binding {

/// A Python exception is set; the entry returns NULL.
struct PythonError {};

/// A `PanicException` that Python code raised into the module; it ends the
/// call as an internal failure with the same message, without a new report.
struct PanicFromPython {
    std::string message;
};

/// The pending exception, taken from the interpreter and owned until it is
/// put back or dropped.
class FetchedError {
public:
    /// Takes the pending exception (all three parts null when none is set).
    [[nodiscard]] static FetchedError fetch() noexcept;

    [[nodiscard]] PyObject* type() const noexcept { return type_.get(); }
    [[nodiscard]] PyObject* value() const noexcept { return value_.get(); }

    /// Makes the value an instance of the type.  Should that fail (memory ran
    /// out), the failure is what is held afterwards.
    void normalize() noexcept;
    /// Puts it back as the pending exception.
    void restore() noexcept;
    /// Puts it back and throws `PythonError`.
    [[noreturn]] void rethrow() noexcept(false);

private:
    Ref type_;
    Ref value_;
    Ref traceback_;
};

/// Takes the pending exception after an interpreter call reported failure and
/// throws: `PythonError` with it left set (a `SystemError` when none is set),
/// or `PanicFromPython` when it is a `PanicException` of this module, after
/// printing it with its traceback.
[[noreturn]] void throw_pending();

/// Makes the type of `PanicException`, once, while the module is imported.
void make_panic_type();

/// Sets `type(message)`, the message whole even where it holds a NUL, and
/// throws `PythonError`.
[[noreturn]] void raise(PyObject* type, std::string_view message);

/// Takes over a new reference returned by an interpreter call; a null result
/// means failure (`throw_pending()`).
inline Ref checked(PyObject* result) {
    if (result == nullptr)
        throw_pending();
    return Ref(result);
}

/// The interpreter could not make a result object: prints its error and fails
/// with "Python API call failed".
[[noreturn]] void result_failure(std::source_location where);

/// Takes over a result object (int, str, list, tuple) made for Python, or
/// fails with `result_failure()` if the interpreter could not make it.
inline Ref made(PyObject* result, std::source_location where = std::source_location::current()) {
    if (result == nullptr) [[unlikely]]
        result_failure(where);
    return Ref(result);
}

/// Drops a pending exception that derives from `Exception`, where a failed
/// lookup only changes a hint or the text of a message.  Any other exception
/// (KeyboardInterrupt, SystemExit, a re-raised PanicException) is a request
/// to stop and ends the call through `throw_pending()`.
void clear_ordinary_error();

/// The `__qualname__` of a type, if it can be read (see
/// `clear_ordinary_error()` for a lookup that raises).
[[nodiscard]] std::optional<std::string> qualname(PyTypeObject* type);

/// str(object) as UTF-8 (lone surrogates become U+FFFD).  If str() raises an
/// Exception, it goes to the unraisable hook with `context`, and the text is
/// "<unprintable {type} object>"; any other exception ends the call through
/// `throw_pending()`.
[[nodiscard]] std::string text_of(PyObject* object, PyObject* context);

/// The text of a str object as UTF-8, lone surrogates becoming U+FFFD.
[[nodiscard]] std::string utf8_lossy(PyObject* text);

/// The rule for a failed conversion of parameter `name`: an exception of
/// exactly `TypeError` becomes TypeError("argument '{name}': {message}")
/// keeping its cause; anything else passes on unchanged.  Call it with the
/// failed conversion's exception pending; it always throws.
[[noreturn]] void rethrow_argument_error(const char* name);

/// Turns the exception in flight into the raised Python exception; returns
/// NULL.  Only to be called from a catch block.
PyObject* translate_current_exception() noexcept;

/// Runs the body of an entry point: its `Ref` result becomes the returned new
/// reference; a failure becomes exactly one raised exception and NULL.
template <class Body>
PyObject* boundary(Body&& body) noexcept {
    try {
        return body().release();
    } catch (...) {
        return translate_current_exception();
    }
}

}  // namespace quorvel::binding
