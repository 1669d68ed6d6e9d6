#include "errors.hpp"
#include "messages.hpp"

#include <atomic>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string_view>

namespace quorvel::binding {
namespace {

constexpr const char* k_panic_doc =
    "The exception raised when quorvel's native code fails an internal check.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so "
    "that it usually propagates all the way up and makes the interpreter exit "
    "instead of being caught by an ordinary `except Exception:`.";

// The exception type of internal failures, made by the module's import
// (make_panic_type) and kept for the life of the process.  It is not a
// module attribute: Python reaches it only through a caught instance.
// Written only while the import runs, which the import system does for one
// thread at a time, before any other thread can call into the module.
PyObject* g_panic_type = nullptr;

PyObject* panic_type() {
    if (g_panic_type == nullptr)
        g_panic_type = PyErr_NewExceptionWithDoc("vellrin_runtime.PanicException", k_panic_doc,
                                                 PyExc_BaseException, nullptr);
    return g_panic_type;
}

// Whether a failure was reported before, in any thread.
std::atomic<bool> g_reported_before{false};

// The failure report, written to the process's standard error at the moment
// the failure reaches the call boundary, before the exception is raised.
void write_report(const std::source_location& where, const std::string& message) {
    std::fprintf(stderr, "thread '<unnamed>' panicked at %s:%u:%u:\n", where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()));
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
    if (!g_reported_before.exchange(true, std::memory_order_relaxed)) {
        std::fputs("note: quorvel raises this internal failure in Python as PanicException, "
                   "which derives from BaseException\n",
                   stderr);
    }
    std::fflush(stderr);
}

// Raises PanicException(message).  Should the type or the instance not be
// made (memory ran out), the interpreter's own error stays set instead.
void raise_panic(const std::string& message) {
    PyObject* type = panic_type();
    if (type == nullptr)
        return;
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text)
        return;
    Ref instance(PyObject_CallOneArg(type, text.get()));
    if (!instance)
        return;
    PyErr_SetObject(type, instance.get());
}

}  // namespace

void make_panic_type() {
    if (panic_type() == nullptr)
        throw_pending();
}

void raise(PyObject* type, std::string_view message) {
    // Made with its length, so that a NUL from a name or a text taken from
    // Python stays in the message instead of ending it.
    const Ref text{
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()))};
    if (text)
        PyErr_SetObject(type, text.get());
    throw PythonError{};
}

FetchedError FetchedError::fetch() noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    FetchedError error;
    error.type_ = Ref(type);
    error.value_ = Ref(value);
    error.traceback_ = Ref(traceback);
    return error;
}

void FetchedError::normalize() noexcept {
    PyObject* type = type_.release();
    PyObject* value = value_.release();
    PyObject* traceback = traceback_.release();
    PyErr_NormalizeException(&type, &value, &traceback);
    type_ = Ref(type);
    value_ = Ref(value);
    traceback_ = Ref(traceback);
}

void FetchedError::restore() noexcept {
    PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}

void FetchedError::rethrow() noexcept(false) {
    restore();
    throw PythonError{};
}

void throw_pending() {
    FetchedError error = FetchedError::fetch();
    if (error.type() == nullptr)
        raise(PyExc_SystemError, message::k_no_exception);
    if (error.type() != g_panic_type)
        error.rethrow();
    // Python code raised the PanicException of an earlier failure into this
    // call: print it with its traceback, then fail with the same message.
    error.normalize();
    if (error.type() != g_panic_type)
        error.rethrow();  // making the instance failed; that failure passes on
    std::string text_of_error = message::k_unwrapped_panic;
    if (error.value() != nullptr) {
        if (Ref text{PyObject_Str(error.value())})
            text_of_error = utf8_lossy(text.get());
        else
            clear_ordinary_error();
    }
    std::fputs("quorvel: Python code called by this method raised a PanicException; "
               "the call fails with it\nPython stack trace below:\n",
               stderr);
    std::fflush(stderr);
    error.restore();
    PyErr_PrintEx(0);
    throw PanicFromPython{std::move(text_of_error)};
}

void result_failure(std::source_location where) {
    PyErr_PrintEx(0);
    throw Panic(message::k_api_call_failed, where);
}

void clear_ordinary_error() {
    if (PyErr_Occurred() == nullptr)
        return;
    if (!PyErr_ExceptionMatches(PyExc_Exception))
        throw_pending();
    PyErr_Clear();
}

std::optional<std::string> qualname(PyTypeObject* type) {
    // A metaclass can run Python code for this lookup.
    Ref name{PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__")};
    if (name && PyUnicode_Check(name.get())) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size))
            return std::string(utf8, static_cast<std::size_t>(size));
    }
    clear_ordinary_error();
    return std::nullopt;
}

std::string utf8_lossy(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size))
        return std::string(utf8, static_cast<std::size_t>(size));
    // Lone surrogates: encode them as they are, then decode the result with
    // each invalid byte replaced by U+FFFD.
    PyErr_Clear();
    Ref bytes{PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass")};
    Ref clean{bytes ? PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                           PyBytes_GET_SIZE(bytes.get()), "replace")
                    : nullptr};
    const char* utf8 = clean ? PyUnicode_AsUTF8AndSize(clean.get(), &size) : nullptr;
    if (utf8 == nullptr)
        throw_pending();
    return std::string(utf8, static_cast<std::size_t>(size));
}

std::string text_of(PyObject* object, PyObject* context) {
    if (Ref text{PyObject_Str(object)})
        return utf8_lossy(text.get());
    // Only an ordinary exception stands aside for the message; one that
    // derives only from BaseException (Ctrl-C, SystemExit) ends the call.
    if (!PyErr_ExceptionMatches(PyExc_Exception))
        throw_pending();
    PyErr_WriteUnraisable(context);
    if (std::optional<std::string> name = qualname(Py_TYPE(object)))
        return message::unprintable(*name);
    return message::k_unprintable;
}

void rethrow_argument_error(const char* name) {
    // Exactly TypeError; subclasses and every other exception pass on.
    if (PyErr_Occurred() != PyExc_TypeError)
        throw PythonError{};
    FetchedError conversion = FetchedError::fetch();
    conversion.normalize();
    // Making the instance can fail (memory ran out); the exception then
    // pending is that failure, which passes on as it is.
    if (conversion.type() != PyExc_TypeError)
        conversion.rethrow();
    PyObject* value = conversion.value();

    const std::string prefixed = message::argument_error(name, text_of(value, value));
    Ref text = checked(
        PyUnicode_FromStringAndSize(prefixed.data(), static_cast<Py_ssize_t>(prefixed.size())));
    Ref error = checked(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    if (PyObject* cause = PyException_GetCause(value))
        PyException_SetCause(error.get(), cause);  // steals the new reference
    PyErr_SetObject(PyExc_TypeError, error.get());
    throw PythonError{};
}

PyObject* translate_current_exception() noexcept {
    try {
        try {
            throw;
        } catch (const PythonError&) {
            // Already set.
        } catch (const PanicFromPython& failure) {
            raise_panic(failure.message);
        } catch (const Panic& failure) {
            write_report(failure.where(), failure.message());
            raise_panic(failure.message());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::length_error&) {
            const Panic failure(message::k_capacity_overflow);
            write_report(failure.where(), failure.message());
            raise_panic(failure.message());
        }
    } catch (...) {
        // Building the exception itself failed: memory ran out.
        PyErr_NoMemory();
    }
    return nullptr;
}

}  // namespace quorvel::binding
