// The core's eliminations beside M4RI's on the same random matrices.
//
//   quorvel_core_bench --benchmark_filter=4096
//
// Each quorvel benchmark times what the binding calls (quorvel::echelon_form
// and so on) on byte rows: packing, elimination with its full row-operation
// log, and unpacking of the result.  Each M4RI benchmark times a copy of the
// packed matrix followed by M4RI's own function; M4RI keeps no log.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "matrix/algorithms.hpp"
#include "matrix/packed_algorithms.hpp"
#include "matrix/packed_algorithms.hpp"

#ifdef QUORVEL_HAVE_M4RI
extern "C" {
#include <m4ri/m4ri.h>
}
#endif

namespace {

using quorvel::Byte;
using quorvel::Matrix;
using quorvel::Row;

// Random dense n x m matrix, the same for the same arguments.
Matrix random_matrix(std::size_t n, std::size_t m, std::uint64_t seed = 1) {
    std::mt19937_64 random(seed + 1000003 * n + m);
    std::vector<Row> rows(n, Row(m));
    for (Row& row : rows)
        for (std::size_t j = 0; j < m; j += 64) {
            std::uint64_t bits = random();
            for (std::size_t k = j; k < std::min(m, j + 64); ++k, bits >>= 1)
                row[k] = static_cast<Byte>(bits & 1U);
        }
    return Matrix(std::move(rows));
}

// The reduced echelon form of a random n x m matrix.
Matrix random_echelon(std::size_t n, std::size_t m) {
    return quorvel::echelon_form(random_matrix(n, m)).matrix;
}

void echelon_form(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Matrix input = random_matrix(n, n);
    std::size_t pairs = 0;
    for (auto _ : state) {
        quorvel::Elimination e = quorvel::echelon_form(input);
        pairs = e.log.size();
        benchmark::DoNotOptimize(e);
    }
    state.counters["log_pairs"] = static_cast<double>(pairs);
}

// The elimination alone: a copy of the packed rows reduced in place, with
// its complete log; no packing or unpacking.
void echelon_in_place(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto m = static_cast<std::size_t>(state.range(1));
    const quorvel::packed::PackedRows input = *quorvel::packed::PackedRows::pack(random_matrix(n, m));
    std::size_t pairs = 0;
    for (auto _ : state) {
        quorvel::packed::PackedRows w = input;
        quorvel::RowLog log = quorvel::packed::echelon_form_in_place(w);
        pairs = log.size();
        benchmark::DoNotOptimize(w);
        benchmark::DoNotOptimize(log);
    }
    state.counters["log_pairs"] = static_cast<double>(pairs);
}

// The floor of echelon_in_place: the copy of its input.
void packed_copy(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto m = static_cast<std::size_t>(state.range(1));
    const quorvel::packed::PackedRows input = *quorvel::packed::PackedRows::pack(random_matrix(n, m));
    for (auto _ : state) {
        quorvel::packed::PackedRows w = input;
        benchmark::DoNotOptimize(w);
    }
}

void rank(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Matrix input = random_echelon(n, n);
    for (auto _ : state)
        benchmark::DoNotOptimize(quorvel::rank(input));
}

void kernel(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto m = static_cast<std::size_t>(state.range(1));
    const Matrix input = random_echelon(n, m);
    for (auto _ : state)
        benchmark::DoNotOptimize(quorvel::kernel(input));
}

void last_row_dep(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<Row> rows = random_echelon(n - 1, n).to_byte_rows();
    rows.resize(n - 1);
    rows.push_back(random_matrix(1, n, 7).to_byte_rows()[0]);
    const Matrix input(std::move(rows));
    for (auto _ : state)
        benchmark::DoNotOptimize(quorvel::echelon_form_last_row_dep(input));
}

void copy(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Matrix input = random_matrix(n, n);
    for (auto _ : state) {
        Matrix c = input;
        benchmark::DoNotOptimize(c);
    }
}

// The independence test on packed rows: a copy of the packed matrix (the
// working copy), and with the third argument 1 also the reduction of its last
// row, random, against n-1 rows in reduced echelon form.  The ratio of the
// two is what the reduction adds to the copy that it needs anyway.
void packed_last_row_dep(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto m = static_cast<std::size_t>(state.range(1));
    std::vector<Row> rows = random_echelon(n - 1, m).to_byte_rows();
    rows.push_back(random_matrix(1, m, 7).to_byte_rows()[0]);
    const quorvel::packed::PackedRows input = Matrix(std::move(rows)).packed_rows();
    std::size_t pairs = 0;
    for (auto _ : state) {
        if (state.range(2) == 1) {
            pairs = quorvel::packed::echelon_form_last_row_dep(input).log.size();
        } else {
            quorvel::packed::PackedRows w = input;
            benchmark::DoNotOptimize(w.row(0));
        }
    }
    state.counters["log_pairs"] = static_cast<double>(pairs);
}

#ifdef QUORVEL_HAVE_M4RI
mzd_t* to_m4ri(const Matrix& m) {
    mzd_t* a = mzd_init(static_cast<rci_t>(m.nrows()), static_cast<rci_t>(m.ncols()));
    for (std::size_t i = 0; i < m.nrows(); ++i)
        for (std::size_t j = 0; j < m.ncols(); ++j)
            mzd_write_bit(a, static_cast<rci_t>(i), static_cast<rci_t>(j), m.get(i, j));
    return a;
}

void m4ri_echelonize(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    mzd_t* input = to_m4ri(random_matrix(n, n));
    for (auto _ : state) {
        mzd_t* a = mzd_copy(nullptr, input);
        benchmark::DoNotOptimize(mzd_echelonize_m4ri(a, 1, 0));
        mzd_free(a);
    }
    mzd_free(input);
}

void m4ri_rank(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    mzd_t* input = to_m4ri(random_echelon(n, n));
    for (auto _ : state) {
        mzd_t* a = mzd_copy(nullptr, input);
        benchmark::DoNotOptimize(mzd_echelonize_m4ri(a, 0, 0));
        mzd_free(a);
    }
    mzd_free(input);
}

void m4ri_kernel(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto m = static_cast<std::size_t>(state.range(1));
    mzd_t* input = to_m4ri(random_echelon(n, m));
    for (auto _ : state) {
        mzd_t* a = mzd_copy(nullptr, input);
        mzd_t* k = mzd_kernel_left_pluq(a, 0);
        benchmark::DoNotOptimize(k);
        if (k != nullptr)
            mzd_free(k);
        mzd_free(a);
    }
    mzd_free(input);
}
#endif

void square_sizes(benchmark::internal::Benchmark* b) {
    for (const std::int64_t n : {256, 1024, 2048, 4096})
        b->Arg(n);
    b->Unit(benchmark::kMillisecond);
}

void echelon_sizes(benchmark::internal::Benchmark* b) {
    for (const std::int64_t n : {256, 1024, 2048, 4096, 8192})
        b->Arg(n);
    b->Unit(benchmark::kMillisecond);
}

// Square (64 for bench/peers.py's smallest size), wide (a few rows of
// millions of columns) and small shapes.
void elimination_shapes(benchmark::internal::Benchmark* b) {
    for (const std::int64_t n : {64, 256, 1024, 2048, 4096, 8192})
        b->Args({n, n});
    b->Args({1, 2000000})->Args({2, 2000000})->Args({10, 1000000});
    b->Args({4, 8})->Args({8, 16})->Args({16, 32});
    b->Unit(benchmark::kMicrosecond);
}

void kernel_sizes(benchmark::internal::Benchmark* b) {
    for (const std::int64_t n : {256, 1024, 4096})
        b->Args({n, n});
    b->Args({1024, 2048});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(echelon_form)->Apply(echelon_sizes);
BENCHMARK(echelon_in_place)->Apply(elimination_shapes);
BENCHMARK(packed_copy)->Apply(elimination_shapes);
BENCHMARK(rank)->Apply(square_sizes);
BENCHMARK(kernel)->Apply(kernel_sizes);
BENCHMARK(last_row_dep)->Apply(square_sizes);
BENCHMARK(copy)->Apply(square_sizes);
BENCHMARK(packed_last_row_dep)->Apply([](benchmark::internal::Benchmark* b) {
    for (const std::int64_t n : {4, 8, 16, 64, 256, 1024, 2048})
        for (const std::int64_t reduce : {0, 1})
            b->Args({n, n < 1024 ? 2 * n : n, reduce});
});
#ifdef QUORVEL_HAVE_M4RI
BENCHMARK(m4ri_echelonize)->Apply(echelon_sizes);
BENCHMARK(m4ri_rank)->Apply(square_sizes);
BENCHMARK(m4ri_kernel)->Apply(kernel_sizes);
#endif

BENCHMARK_MAIN();
