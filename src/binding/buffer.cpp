#include "buffer.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quorvel::binding {
namespace {

// Whether `type` is the one that C code made under the full name `name`
// ("array.array"): a static type, or a heap type made from a spec, whose
// full name carries its module while its __name__ does not.  A class
// statement or type() makes a heap type whose full name is its __name__,
// whatever that is set to; and whatever module sys.modules holds under a
// name may hand out any type.  So neither the module a type is found in nor
// its name alone tells the real type, and numpy is not a dependency to
// import and ask.
bool is_c_type(PyTypeObject* type, const char* name) {
    if (std::strcmp(type->tp_name, name) != 0)
        return false;
    if ((type->tp_flags & Py_TPFLAGS_HEAPTYPE) == 0)
        return true;
    const auto* heap = reinterpret_cast<PyHeapTypeObject*>(type);
    return PyUnicode_CompareWithASCIIString(heap->ht_name, type->tp_name) != 0;
}

// Exact types only: a subclass may iterate otherwise than its buffer reads,
// whatever it calls itself.
bool iterates_as_its_buffer(PyObject* object, int ndim) {
    PyTypeObject* type = Py_TYPE(object);
    if (type->tp_as_buffer == nullptr || type->tp_as_buffer->bf_getbuffer == nullptr)
        return false;  // lists and tuples, mostly
    // A memoryview of two dimensions does not iterate at all.
    if (ndim == 1 && (type == &PyMemoryView_Type || is_c_type(type, "array.array")))
        return true;
    return is_c_type(type, "numpy.ndarray");
}

// A native integer format ("B", "@q", ...), with its signedness.  These are
// the integer formats that a memoryview iterates: one character, after at
// most an "@".  Any other prefix, even one that names the native byte order
// ("<B" of every ctypes array, "=i"), makes iteration raise
// NotImplementedError, so such a buffer is iterated to raise it.  numpy and
// array.array give native arrays formats without a prefix.  "?" is left
// out: numpy warns when its bools are read as integers.
std::optional<bool> integer_signedness(const char* format) {
    if (format == nullptr)
        return false;  // plain bytes
    if (*format == '@')
        ++format;
    if (format[0] == '\0' || format[1] != '\0' || std::strchr("bBhHiIlLqQnN", format[0]) == nullptr)
        return std::nullopt;
    return format[0] >= 'a';  // lower case is signed
}

// Copies `count` entries of type T, `stride` bytes apart, into bytes; false
// when one lies outside 0 to 255.
template <class T>
bool convert(const char* in, Py_ssize_t stride, Index count, Byte* out) {
    // A negative value becomes a large one, failing the same test.
    using Wide = std::conditional_t<std::is_signed_v<T>, std::int64_t, std::uint64_t>;
    std::uint64_t seen = 0;
    for (Index c = 0; c < count; ++c, in += stride) {
        T value;
        std::memcpy(&value, in, sizeof value);
        seen |= static_cast<std::uint64_t>(static_cast<Wide>(value));
        out[c] = static_cast<Byte>(value);
    }
    return seen <= 255;
}

}  // namespace

IntegerBuffer::~IntegerBuffer() {
    if (open_)
        PyBuffer_Release(&view_);
}

bool IntegerBuffer::open(PyObject* object, int ndim) noexcept {
    if (!iterates_as_its_buffer(object, ndim))
        return false;
    if (PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO) != 0) {
        // A released memoryview, say: iteration reports it.
        PyErr_Clear();
        return false;
    }
    open_ = true;
    const std::optional<bool> is_signed = integer_signedness(view_.format);
    const Py_ssize_t size = view_.itemsize;
    if (view_.ndim != ndim || !is_signed || (size != 1 && size != 2 && size != 4 && size != 8))
        return false;
    is_signed_ = *is_signed;
    rows_ = ndim == 2 ? static_cast<Index>(view_.shape[0]) : 1;
    cols_ = static_cast<Index>(view_.shape[ndim - 1]);
    row_stride_ = ndim == 2 ? view_.strides[0] : 0;
    entry_stride_ = view_.strides[ndim - 1];
    return true;
}

std::optional<std::span<const Byte>> IntegerBuffer::row(Index r, Row& scratch) const {
    const char* in = static_cast<const char*>(view_.buf) + static_cast<Py_ssize_t>(r) * row_stride_;
    if (view_.itemsize == 1 && entry_stride_ == 1 && !is_signed_)
        return std::span(reinterpret_cast<const Byte*>(in), cols_);
    scratch.resize(cols_);
    Byte* out = scratch.data();
    const Py_ssize_t s = entry_stride_;
    bool in_range = false;
    switch (view_.itemsize) {
    case 1:
        in_range = is_signed_ ? convert<std::int8_t>(in, s, cols_, out) : convert<std::uint8_t>(in, s, cols_, out);
        break;
    case 2:
        in_range = is_signed_ ? convert<std::int16_t>(in, s, cols_, out) : convert<std::uint16_t>(in, s, cols_, out);
        break;
    case 4:
        in_range = is_signed_ ? convert<std::int32_t>(in, s, cols_, out) : convert<std::uint32_t>(in, s, cols_, out);
        break;
    default:
        in_range = is_signed_ ? convert<std::int64_t>(in, s, cols_, out) : convert<std::uint64_t>(in, s, cols_, out);
        break;
    }
    if (!in_range)
        return std::nullopt;
    return std::span<const Byte>(scratch.data(), cols_);
}

}  // namespace quorvel::binding
