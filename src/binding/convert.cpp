#include "convert.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

#include "buffer.hpp"
#include "errors.hpp"
#include "matrix_object.hpp"
#include "messages.hpp"

namespace quorvel::binding {
namespace {

// A length hint is only a hint: never reserve more than this from one.
constexpr Py_ssize_t k_hint_cap = 4096;

Index index_of_int(PyObject* integer) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(integer);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred())
        throw_pending();
    return value;
}

[[noreturn]] void not_a_sequence(PyObject* object) {
    const std::string name = qualname(Py_TYPE(object)).value_or(message::k_type_name_unknown);
    raise(PyExc_TypeError, message::not_a_sequence(name));
}

// The length a sequence reports, as a capacity hint.  An ordinary exception
// from the length query is dropped (the hint is then 0); one that derives
// only from BaseException, such as KeyboardInterrupt, ends the conversion.
Py_ssize_t capacity_hint(PyObject* sequence) {
    const Py_ssize_t length = PySequence_Size(sequence);
    if (length >= 0)
        return std::min(length, k_hint_cap);
    clear_ordinary_error();
    return 0;
}

#ifdef Py_GIL_DISABLED
// An exact list that other threads may resize or refill meanwhile: each item
// is taken with a reference of its own, and the list ends where it ends when
// the next item is asked for, as its iterator would read it.
template <class Reserve, class Add>
void read_shared_list(PyObject* list, Reserve&& reserve, Add&& add) {
    reserve(PyList_GET_SIZE(list));
    for (Py_ssize_t i = 0;; ++i) {
        const Ref item{PyList_GetItemRef(list, i)};
        if (!item) {
            PyErr_Clear();  // the IndexError past the end
            return;
        }
        add(item.get());
    }
}
#endif

// Reads the items of a sequence (already checked to be one, and not a str)
// in iteration order: reserve(hint) first, then add(item) for each item.
// Exact lists and tuples are read in place, exactly as their iterators would
// read them: a list is re-measured before every item, and the item is held
// while its conversion may run Python code.  `IntsUnheld`: reading an exact
// int runs no Python code, so nothing can drop the item meanwhile and it
// needs no reference of its own (with the GIL: without it, another thread
// can, see read_shared_list).
template <bool IntsUnheld, class Reserve, class Add>
void read_items(PyObject* sequence, Reserve&& reserve, Add&& add) {
#ifdef Py_GIL_DISABLED
    if (PyList_CheckExact(sequence))
        return read_shared_list(sequence, reserve, add);
#endif
    if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) {
        const bool list = PyList_CheckExact(sequence);
        reserve(Py_SIZE(sequence));
        for (Py_ssize_t i = 0; i < Py_SIZE(sequence); ++i) {
            PyObject* item = list ? PyList_GET_ITEM(sequence, i) : PyTuple_GET_ITEM(sequence, i);
            if constexpr (IntsUnheld) {
                if (PyLong_CheckExact(item)) {
                    add(item);
                    continue;
                }
            }
            const Ref held = Ref::borrowed(item);
            add(held.get());
        }
        return;
    }
    reserve(capacity_hint(sequence));
    const Ref iterator = checked(PyObject_GetIter(sequence));
    while (Ref item{PyIter_Next(iterator.get())})
        add(item.get());
    if (PyErr_Occurred())
        throw_pending();
}

// The interpreter's cached int `value` (0 to 256), borrowed: the cache holds
// it for the life of the interpreter.
PyObject* small_int(long value) {
    const Ref integer = made(PyLong_FromLong(value));
    return integer.get();
}

// The entries of a sequence, read one by one into `scratch`.
std::span<const Byte> read_entries(PyObject* sequence, Row& scratch) {
    // The interpreter's one int 0 and one int 1 are what nearly every 0/1
    // entry is: they are known by address, and only other ints are read.
    PyObject* const zero = small_int(0);
    PyObject* const one = small_int(1);
    scratch.clear();
    read_items<true>(
        sequence, [&](Py_ssize_t hint) { scratch.reserve(static_cast<std::size_t>(hint)); },
        [&](PyObject* item) {
            scratch.push_back(item == zero ? Byte{0} : item == one ? Byte{1} : extract_byte(item));
        });
    return scratch;
}

// The entries of a row from any object but a str: the object's own bytes for
// bytes and bytearray (valid while no Python code runs), else the entries
// read into `scratch`, from the buffer of the types that iterate as their
// buffer, one by one from any other.
std::span<const Byte> read_row(PyObject* object, Row& scratch) {
    if (PyBytes_CheckExact(object))
        return {reinterpret_cast<const Byte*>(PyBytes_AS_STRING(object)),
                static_cast<std::size_t>(PyBytes_GET_SIZE(object))};
    if (PyByteArray_CheckExact(object)) {
#ifdef Py_GIL_DISABLED
        // Another thread may resize it meanwhile: copied under its lock.
        const CriticalSection locked(object);
        const auto* bytes = reinterpret_cast<const Byte*>(PyByteArray_AS_STRING(object));
        scratch.assign(bytes, bytes + PyByteArray_GET_SIZE(object));
        return scratch;
#else
        return {reinterpret_cast<const Byte*>(PyByteArray_AS_STRING(object)),
                static_cast<std::size_t>(PyByteArray_GET_SIZE(object))};
#endif
    }
    if (!PySequence_Check(object))
        not_a_sequence(object);
    if (IntegerBuffer buffer; buffer.open(object, 1))
        if (const auto bytes = buffer.row(0, scratch)) {
            // The buffer is given back on return: the entries go with the row.
            if (bytes->data() != scratch.data())
                scratch.assign(bytes->begin(), bytes->end());
            return scratch;
        }
    return read_entries(object, scratch);
}

std::span<const Byte> read_row_item(PyObject* object, Row& scratch) {
    if (PyUnicode_Check(object))
        raise(PyExc_TypeError, message::k_str_refused);
    return read_row(object, scratch);
}

// The interpreter's cached ints 0 .. count-1 (count <= 256), each held once
// for one result.
class SmallInts {
public:
    explicit SmallInts(unsigned count) {
        // Only the first `count` slots are filled and released: a packed
        // result needs two, and a small one should not pay for 256.
        for (; held_.count < count; ++held_.count)
            held_.ints[held_.count] = made(PyLong_FromLong(static_cast<long>(held_.count))).release();
    }
    /// A new reference to the int `value`.
    PyObject* operator()(Byte value) const {
        PyObject* integer = held_.ints[value];
        Py_INCREF(integer);
        return integer;
    }

private:
    // The references made so far, released together.  A member of its own,
    // so that those made before a failure in the constructor are released
    // too, and so that the slots never filled are never touched.
    struct Held {
        Held() = default;
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        ~Held() {
            for (unsigned v = 0; v < count; ++v)
                Py_DECREF(ints[v]);
        }
        unsigned count = 0;
        std::array<PyObject*, 256> ints;
    };
    Held held_;
};

// Row i of `rows` as a new list of ints; a packed row is unpacked into
// `scratch` first.
Ref row_to_list(const Matrix& rows, Index i, const SmallInts& ints, Row& scratch) {
    const Index len = rows.row_length(i);
    const Byte* entries = nullptr;
    if (rows.is_packed()) {
        scratch.resize(len);
        packed::unpack_row(rows.packed_rows().row(i), len, scratch.data());
        entries = scratch.data();
    } else {
        entries = rows.row_unchecked(i).data();
    }
    Ref inner = made(PyList_New(static_cast<Py_ssize_t>(len)));
    PyObject** items = reinterpret_cast<PyListObject*>(inner.get())->ob_item;
    for (Index j = 0; j < len; ++j)
        items[j] = ints(entries[j]);
    return inner;
}

// A list the collector cannot see until it is full.  Filling a result makes
// new objects, and any of them can start a collection whose callbacks (or a
// memory profiler walking gc.get_objects()) would read the empty slots.
Ref untracked_list(std::size_t size) {
    Ref list = made(PyList_New(static_cast<Py_ssize_t>(size)));
    PyObject_GC_UnTrack(list.get());
    return list;
}

/// Hands a list made by untracked_list(), now full, to the collector.
Ref tracked(Ref list) {
    PyObject_GC_Track(list.get());
    return list;
}

}  // namespace

Index extract_index(PyObject* object) {
    if (PyLong_Check(object))
        return index_of_int(object);
    const Ref integer = checked(PyNumber_Index(object));
    return index_of_int(integer.get());
}

Byte extract_byte(PyObject* object) {
    const long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred())
        throw_pending();
    if (value < 0 || value > 255)
        raise(PyExc_OverflowError, message::k_byte_out_of_range);
    return static_cast<Byte>(value);
}

Row extract_byte_list(PyObject* object) {
    Row scratch;
    const std::span<const Byte> row = read_row_item(object, scratch);
    if (row.data() == scratch.data())
        return scratch;
    return Row(row.begin(), row.end());
}

Matrix extract_matrix(PyObject* object) {
    if (PyUnicode_Check(object))
        raise(PyExc_TypeError, message::k_str_refused);
    if (!PySequence_Check(object))
        not_a_sequence(object);
    // One scratch row serves every row that is not bytes or bytearray.
    Row scratch;
    // A two-dimensional array, row by row as its iteration would give them;
    // a row with an entry out of range is iterated, to fail exactly.
    if (IntegerBuffer buffer; buffer.open(object, 2)) {
        MatrixBuilder builder(buffer.rows());
        for (Index r = 0; r < buffer.rows(); ++r) {
            if (const auto bytes = buffer.row(r, scratch)) {
                builder.append(*bytes);
            } else {
                const Ref item = checked(PySequence_GetItem(object, static_cast<Py_ssize_t>(r)));
                builder.append(read_entries(item.get(), scratch));
            }
        }
        return std::move(builder).finish();
    }
    std::optional<MatrixBuilder> builder;
    read_items<false>(
        object, [&](Py_ssize_t hint) { builder.emplace(static_cast<Index>(hint)); },
        [&](PyObject* item) { builder->append(read_row_item(item, scratch)); });
    return std::move(*builder).finish();
}

Ref py_count(Index value) { return made(PyLong_FromUnsignedLongLong(value)); }
Ref py_entry(Byte value) { return made(PyLong_FromLong(value)); }
Ref py_bool(bool value) { return Ref::borrowed(value ? Py_True : Py_False); }
Ref py_none() { return Ref::borrowed(Py_None); }

Ref py_text(const std::string& text) {
    return made(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref rows_to_list(const Matrix& rows) {
    const SmallInts ints(rows.is_packed() ? 2 : 256);
    const Index n = rows.nrows();
    Ref outer = untracked_list(n);
    Row scratch;
    for (Index i = 0; i < n; ++i) {
        // Filling a row makes no new object (the ints are cached), so no
        // collection can run while it is half-full.
        Ref inner = row_to_list(rows, i, ints, scratch);
        PyList_SET_ITEM(outer.get(), static_cast<Py_ssize_t>(i), inner.release());
    }
    return tracked(std::move(outer));
}

Ref new_matrix_object(Matrix&& matrix) {
    PyTypeObject* type = matrix_type();
    PyObject* object = type->tp_alloc(type, 0);
    if (object == nullptr) {
        const FetchedError error = FetchedError::fetch();
        std::string description = error.type() != nullptr
                                      ? reinterpret_cast<PyTypeObject*>(error.type())->tp_name
                                      : message::k_no_exception_set;
        if (error.value() != nullptr) {
            if (const Ref text{PyObject_Str(error.value())}) {
                Py_ssize_t size = 0;
                const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
                if (utf8 != nullptr && size > 0) {
                    description += ": ";
                    description.append(utf8, static_cast<std::size_t>(size));
                }
            }
            PyErr_Clear();
        }
        panic(message::allocation_failed(description));
    }
    init_matrix_object(object, std::move(matrix));
    return Ref(object);
}

namespace {

#ifdef Py_GIL_DISABLED
// Without the GIL, ints that every thread's logs shared would have their
// reference counts written by all threads at once, which made two threads
// slower than one.  The interpreter's own small ints (0 to 256) are
// immortal, and their counts are never written; every other index is made
// for the result that needs it, by the thread that makes it.
constexpr Index k_kept_indexes = 257;

inline PyObject* kept_index(Index value) {
    return made(PyLong_FromLong(static_cast<long>(value))).release();
}
#else
// The ints for the row indexes of logs, below k_kept_indexes, each made the
// first time a log names it and then kept, as the interpreter keeps its own
// small ints.  A streaming reduction's log names a few hundred rows in a few
// hundred pairs, and making and freeing an int for each of those rows in
// every call cost about as much as the tuples of the pairs.  At most
// k_kept_indexes ints stay alive (1.3 MiB), only as many as the largest
// matrix asked for.  The module belongs to one interpreter, whose lock
// guards the table; nothing frees the ints, which live as long as the
// interpreter's own.
constexpr Index k_kept_indexes = Index{1} << 15;
std::array<PyObject*, k_kept_indexes> g_kept_indexes{};

// The int `value`, below k_kept_indexes, made and kept on first use.
[[gnu::noinline]] PyObject* keep_index(Index value) {
    return g_kept_indexes[value] = made(PyLong_FromUnsignedLongLong(value)).release();
}

// A new reference to the int `value`, below k_kept_indexes.
inline PyObject* kept_index(Index value) {
    PyObject* kept = g_kept_indexes[value];
    if (kept == nullptr) [[unlikely]]
        kept = keep_index(value);
    Py_INCREF(kept);
    return kept;
}
#endif

}  // namespace

Ref elimination_result(Elimination&& result) {
    const Index nrows = result.matrix.nrows();
    Ref matrix = new_matrix_object(std::move(result.matrix));

    // Indexes from k_kept_indexes on: one int for each, made when first
    // needed in this result.
    std::vector<Ref> indexes(nrows > k_kept_indexes ? nrows - k_kept_indexes : 0);
    const auto index = [&](Index value) {
        if (value < k_kept_indexes)
            return kept_index(value);
        Ref& slot = indexes[value - k_kept_indexes];
        if (!slot)
            slot = made(PyLong_FromUnsignedLongLong(value));
        Py_INCREF(slot.get());
        return slot.get();
    };
    const RowLog& log = result.log;
    Ref pairs = untracked_list(log.size());
    Py_ssize_t k = 0;
    log.for_each([&](Index target, Index source) {
        // A tuple of ints can never be part of a reference cycle; untracked,
        // the millions of pairs of a large log cost the collector nothing.
        Ref pair = made(PyTuple_New(2));
        PyObject_GC_UnTrack(pair.get());
        PyTuple_SET_ITEM(pair.get(), 0, index(target));
        PyTuple_SET_ITEM(pair.get(), 1, index(source));
        PyList_SET_ITEM(pairs.get(), k++, pair.release());
    });

    Ref tuple = made(PyTuple_New(2));
    PyTuple_SET_ITEM(tuple.get(), 0, matrix.release());
    PyTuple_SET_ITEM(tuple.get(), 1, tracked(std::move(pairs)).release());
    return tuple;
}

}  // namespace quorvel::binding
