// libFuzzer harness for the GF(2) core.
//
// The input bytes decode into a matrix of any shape (rectangular or ragged,
// entries mostly 0 and 1 but also 2, 3 and 255) and a sequence of core
// operations with indexes in and out of range.  After every operation the
// harness checks what must hold whatever the input:
//   - every failure is a Panic with a well-formed message whose numbers
//     agree with the failed check;
//   - the eliminations leave their input unchanged, and the dispatched
//     functions (quorvel::) agree with the exact ones (quorvel::exact::);
//   - on rectangular input, replaying an elimination's log with add_rows
//     gives its result (for row_echelon_full_matrix: on 0/1 entries), and no logged pair has target == source;
//   - every edit leaves a packed matrix and one held as bytes with the
//     same contents;
//   - the edits do what they promise (a second swap or addition undoes the
//     first on rectangular rows; get and sub_matrix fail exactly when out
//     of range).
// Any violation aborts, which libFuzzer reports with the input.
//
//     clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -Isrc \
//         fuzz/core_fuzz.cpp src/matrix/*.cpp -o core_fuzz
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "matrix/algorithms.hpp"

namespace {

using quorvel::Byte;
using quorvel::Elimination;
using quorvel::Index;
using quorvel::Matrix;
using quorvel::Panic;
using quorvel::Row;

[[noreturn]] void violated(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "core_fuzz: invariant violated: %s %s\n", what, detail.c_str());
    std::abort();
}

void require(bool holds, const char* what, const std::string& detail = {}) {
    if (!holds)
        violated(what, detail);
}

// Reads the input front to back; past its end every byte reads as 0.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    [[nodiscard]] bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    Byte entry() {
        const std::uint8_t b = byte();
        if ((b & 0xF0) == 0xF0) {
            constexpr Byte odd[] = {2, 3, 255};
            return odd[b % 3];
        }
        return static_cast<Byte>(b & 1);
    }
    // Mostly small indexes around the matrix's size, sometimes the extremes.
    Index index(Index around) {
        const std::uint8_t b = byte();
        if (b == 0xFF)
            return UINT64_MAX;
        if (b == 0xFE)
            return UINT64_MAX - 1;
        return b % (around + 3);
    }
    Row row(std::size_t length) {
        Row out(length);
        for (Byte& v : out)
            v = entry();
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

constexpr std::size_t k_max_rows = 40;
constexpr std::size_t k_max_width = 130;  // crosses the 64- and 128-bit word edges

bool rectangular(const Matrix& m) {
    for (const Row& r : m.to_byte_rows())
        if (r.size() != m.ncols())
            return false;
    return true;
}

bool binary(const Matrix& m) {
    for (const Row& r : m.to_byte_rows())
        for (Byte v : r)
            if (v > 1)
                return false;
    return true;
}

// A decimal number as a message writes it: digits, no leading zero.
std::optional<std::uint64_t> number(std::string_view& text) {
    std::size_t n = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9')
        ++n;
    if (n == 0 || n > 20 || (n > 1 && text[0] == '0'))
        return std::nullopt;
    const std::string digits(text.substr(0, n));
    text.remove_prefix(n);
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
    if (errno != 0)
        return std::nullopt;
    return value;
}

bool consume(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix)
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

// Two numbers between fixed texts: "{a}{middle}{b}" after `lead`.
std::optional<std::pair<std::uint64_t, std::uint64_t>> two_numbers(std::string_view text,
                                                                   std::string_view lead,
                                                                   std::string_view middle) {
    if (!consume(text, lead))
        return std::nullopt;
    const auto a = number(text);
    if (!a || !consume(text, middle))
        return std::nullopt;
    const auto b = number(text);
    if (!b || !text.empty())
        return std::nullopt;
    return std::pair{*a, *b};
}

// A Panic message is one of the core's messages, and its numbers describe a
// check that indeed fails.
void check_panic(const Panic& failure) {
    const std::string& message = failure.message();
    if (message == quorvel::k_unwrap_none)
        return;
    if (const auto p = two_numbers(message, "index out of bounds: the len is ", " but the index is ")) {
        require(p->second >= p->first, "index failure for an index in range", message);
        return;
    }
    if (const auto p = two_numbers(message, "slice index starts at ", " but ends at ")) {
        require(p->first > p->second, "order failure for an ordered range", message);
        return;
    }
    if (const auto p = two_numbers(message, "range end index ", " out of range for slice of length ")) {
        require(p->first > p->second, "length failure for a range in bounds", message);
        return;
    }
    violated("malformed failure message", message);
}

// The outcome of an operation: its result, or the message it failed with.
template <class T>
struct Outcome {
    std::optional<T> value;
    std::string failure;
};

template <class T, class F>
Outcome<T> run(F&& f) {
    try {
        return {f(), {}};
    } catch (const Panic& failure) {
        check_panic(failure);
        return {std::nullopt, failure.message()};
    }
}

template <class T>
bool same(const T& a, const T& b) {
    return a == b;
}
bool same(const Elimination& a, const Elimination& b) {
    return a.matrix == b.matrix && a.log.pairs() == b.log.pairs();
}

template <class T>
void require_same(const Outcome<T>& a, const Outcome<T>& b, const char* what) {
    require(a.failure == b.failure, what, a.failure + " / " + b.failure);
    require(a.value.has_value() == b.value.has_value(), what);
    if (a.value)
        require(same(*a.value, *b.value), what);
}

// `xor_additions`: the elimination adds rows with add_rows, so its log
// replays on any rectangular input; row_echelon_full_matrix adds the low bit
// of the sum instead, which agrees with add_rows on 0/1 entries only.
void check_elimination(const Matrix& m, const Outcome<Elimination>& outcome, bool xor_additions) {
    if (!outcome.value)
        return;
    const Elimination& e = *outcome.value;
    require(e.matrix.nrows() == m.nrows(), "elimination changed the row count");
    const std::vector<quorvel::RowOp> pairs = e.log.pairs();
    require(pairs.size() == e.log.size(), "the log's size differs from its pairs");
    for (const quorvel::RowOp& op : pairs)
        require(op.target != op.source && op.target < m.nrows() && op.source < m.nrows(),
                "logged pair out of range or with target == source");
    if (!rectangular(m) || (!xor_additions && !binary(m)))
        return;
    Matrix replayed = m;
    for (const quorvel::RowOp& op : pairs)
        replayed.add_rows(op.target, op.source);
    require(replayed == e.matrix, "replayed log differs from the result");
}

// Reduced row echelon form of a rectangular 0/1 matrix.
void check_reduced(const Matrix& r) {
    std::size_t pivots = 0;
    Index previous = 0;
    bool zero_seen = false;
    const std::vector<Row> rows = r.to_byte_rows();
    for (Index i = 0; i < r.nrows(); ++i) {
        const Row& row = rows[i];
        Index lead = 0;
        while (lead < row.size() && row[lead] == 0)
            ++lead;
        if (lead == row.size()) {
            zero_seen = true;
            continue;
        }
        require(!zero_seen && row[lead] == 1 && (pivots == 0 || lead > previous),
                "echelon form out of order");
        for (Index k = 0; k < r.nrows(); ++k)
            require(k == i || rows[k][lead] == 0, "pivot column not cleared");
        previous = lead;
        ++pivots;
    }
    require(quorvel::rank(r) == pivots, "rank of a reduced form is not its pivot count");
    const std::vector<Row> basis = quorvel::kernel(r).to_byte_rows();
    require(basis.size() + pivots == r.ncols(), "kernel size is not ncols - rank");
    for (const Row& v : basis)
        for (const Row& row : rows) {
            Byte dot = 0;
            for (std::size_t x = 0; x < row.size(); ++x)
                dot ^= static_cast<Byte>(row[x] & v[x]);
            require(dot == 0, "kernel vector not in the null space");
        }
}

void eliminations(const Matrix& m) {
    const Matrix before = m;
    const auto ef = run<Elimination>([&] { return quorvel::echelon_form(m); });
    require_same(ef, run<Elimination>([&] { return quorvel::exact::echelon_form(m); }),
                 "echelon_form: dispatch differs from exact");
    check_elimination(m, ef, true);
    const auto full = run<Elimination>([&] { return quorvel::row_echelon_full_matrix(m); });
    require_same(full,
                 run<Elimination>([&] { return quorvel::exact::row_echelon_full_matrix(m); }),
                 "row_echelon_full_matrix: dispatch differs from exact");
    check_elimination(m, full, false);
    const auto last = run<Elimination>([&] { return quorvel::echelon_form_last_row(m); });
    require_same(last, run<Elimination>([&] { return quorvel::exact::echelon_form_last_row(m); }),
                 "echelon_form_last_row: dispatch differs from exact");
    check_elimination(m, last, true);
    const auto dep = run<Elimination>([&] { return quorvel::echelon_form_last_row_dep(m); });
    require_same(dep,
                 run<Elimination>([&] { return quorvel::exact::echelon_form_last_row_dep(m); }),
                 "echelon_form_last_row_dep: dispatch differs from exact");
    check_elimination(m, dep, true);
    require_same(run<Index>([&] { return quorvel::rank(m); }),
                 run<Index>([&] { return quorvel::exact::rank(m); }),
                 "rank: dispatch differs from exact");
    require_same(run<Matrix>([&] { return quorvel::kernel(m); }),
                 run<Matrix>([&] { return Matrix(quorvel::exact::kernel(m)); }),
                 "kernel: dispatch differs from exact");
    require(m == before, "an elimination changed its input");

    if (rectangular(m) && binary(m)) {
        require(ef.value && full.value, "elimination failed on a rectangular 0/1 matrix");
        require(same(*ef.value, *full.value), "the two echelon forms differ on 0/1 input");
        check_reduced(ef.value->matrix);
    }
}

void operate(Matrix& m, Input& in) {
    const Index n = m.nrows();
    switch (in.byte() % 10) {
    case 0: {
        const Index row = in.index(n), col = in.index(m.ncols());
        const auto got = run<Byte>([&] { return m.get(row, col); });
        require(got.value.has_value() == (row < n && col < m.row_length(row)),
                "get fails exactly out of range");
        break;
    }
    case 1: {
        const Index start = in.index(n), end = in.index(n);
        const auto sub = run<Matrix>([&] { return m.sub_matrix(start, end); });
        require(sub.value.has_value() == (start <= end && end <= n),
                "sub_matrix fails exactly out of range");
        if (sub.value) {
            const std::vector<Row> rows = m.to_byte_rows();
            const std::vector<Row> sub_rows = sub.value->to_byte_rows();
            for (Index i = start; i < end; ++i)
                require(sub_rows[i - start] == rows[i], "sub_matrix row differs");
        }
        break;
    }
    case 2: {
        const Index target = in.index(n), source = in.index(n);
        const Matrix before = m;
        const auto done = run<bool>([&] { m.add_rows(target, source); return true; });
        if (done.value && rectangular(m) && target != source) {
            m.add_rows(target, source);
            require(m == before, "adding a row twice is not the identity");
        }
        if (!done.value && (target >= n || source >= n))
            require(m == before, "add_rows with a row out of range changed the matrix");
        break;
    }
    case 3: {
        const Index a = in.index(n), b = in.index(n);
        const Matrix before = m;
        const auto done = run<bool>([&] { m.swap_rows(a, b); return true; });
        require(done.value.has_value() == (a < n && b < n), "swap_rows fails exactly out of range");
        if (done.value) {
            m.swap_rows(a, b);
            require(m == before, "swapping twice is not the identity");
        } else {
            require(m == before, "a failed swap changed the matrix");
        }
        break;
    }
    case 4: {
        const Index row = in.index(n);
        const auto zero = run<bool>([&] { return m.is_zero_row(row); });
        require(zero.value.has_value() == (row < n), "is_zero_row fails exactly out of range");
        break;
    }
    case 5:
        if (n < k_max_rows)
            m.append_row(in.row(in.byte() % k_max_width));
        break;
    case 6: {
        const Row v = in.row(in.byte() % (n + 3));
        const Matrix before = m;
        const auto done = run<bool>([&] { m.append_column(v); return true; });
        require(done.value.has_value() == (v.size() >= n), "append_column fails exactly when short");
        const std::vector<Row> rows = m.to_byte_rows();
        for (Index i = 0; i < n; ++i) {
            const Row& now = rows[i];
            const bool grown = i < v.size();
            require(now.size() == before.row_length(i) + (grown ? 1 : 0) &&
                        (!grown || now.back() == v[i]),
                    "append_column grew the wrong rows");
        }
        break;
    }
    case 7:
        (void)m.to_string();
        break;
    default:
        eliminations(m);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t shape = in.byte();
    const std::size_t n = in.byte() % (k_max_rows + 1);
    const std::size_t width = in.byte() % (k_max_width + 1);
    std::vector<Row> rows;
    for (std::size_t i = 0; i < n; ++i) {
        // Shape 0: rectangular; 1: one row of its own length; 2, 3: ragged.
        const bool own = (shape % 4 == 1 && i == n / 2) || shape % 4 >= 2;
        rows.push_back(in.row(own ? in.byte() % (k_max_width + 1) : width));
    }
    // The same rows twice: packed when they allow it, and held as bytes.
    // Every edit runs on both from the same input bytes and must leave the
    // two with the same contents, whichever representation each has by then.
    Matrix twin = Matrix::from_byte_rows(rows);
    Matrix m(std::move(rows));
    eliminations(m);
    for (int ops = 0; !in.empty() && ops < 64; ++ops) {
        Input same_input = in;
        operate(m, in);
        operate(twin, same_input);
        require(m == twin && m.to_string() == twin.to_string(),
                "packed and byte storage differ after an edit");
    }
    return 0;
}
