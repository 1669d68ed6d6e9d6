"""Times quorvel's methods beside the floor that CPython gives for the same output.

Each line times one method and its floor in the same run, as the median of
several repetitions, and prints their ratio beside the target.  The floor
produces output of the same shape with CPython's own fastest tools, for
example m.copy() plus list(zip(t, s)) for an echelon form and its log.

    PYTHONPATH=build/bench/python "$(cat build/bench/python3-executable)" bench/python_bench.py [--quick]

It first times the first and the warm runs of three loops (first_run.py),
each in fresh interpreters, beside the same runs with glibc's thresholds
raised; --first-runs-only stops after them.

--quick runs the small shapes twice, to show that the script still works;
its ratios mean little.  Timings never make the script fail.
"""

import argparse
import gc
import os
import statistics
import subprocess
import sys
import time

import quorvel
from first_run import random_byte_rows

# Rows x columns of the matrices that every method is timed at.
SHAPES = [(4, 8), (8, 16), (16, 32), (64, 128), (256, 512), (1024, 1024), (2048, 2048)]


def resident():
    """Resident size of this process, in bytes."""
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def peak():
    """Peak resident size of this process since the last reset, in bytes."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmHWM")


# Whether each timing keeps the results of its calls until it ends (the
# default) or frees each one at once (--free).  Kept, the calls of a timing
# write to fresh memory, as a program that holds its results does; freed,
# each call reuses the memory of the one before, as a loop that drops them
# does, and the page faults of fresh memory leave both the method and its
# floor.
KEEP_RESULTS = True


def timed(function, number):
    """Processor time of one call of function(), averaged over `number`
    calls, the results freed outside the timing (or, with --free, at once).
    Processor time, not wall time: on a shared machine the time this process
    waits for a processor is not the call's."""
    results = [None] * number
    start = time.process_time()
    if KEEP_RESULTS:
        for k in range(number):
            results[k] = function()
    else:
        for _ in range(number):
            results[0] = function()
    elapsed = time.process_time() - start
    del results
    return elapsed / number


def median_times(method, floor, repeat):
    """Medians of method() and floor(), run in turn so that both meet the
    same state of the allocator, each timing right after a full collection
    so that both meet the same state of the collector: which of the two
    would otherwise set off the collections of the older generations, over
    every object alive, is chance.  Calls too short to time alone are
    repeated until one timing takes about 2 ms."""
    once = max(min(timed(method, 1) for _ in range(3)), min(timed(floor, 1) for _ in range(3)), 1e-7)
    number = max(1, min(20000, int(2e-3 / once)))
    method_times, floor_times = [], []
    for _ in range(repeat):
        gc.collect()
        method_times.append(timed(method, number))
        gc.collect()
        floor_times.append(timed(floor, number))
    return statistics.median(method_times), statistics.median(floor_times)


class Report:
    def __init__(self):
        self.rows = []

    def add(self, what, method, floor_name, floor, target):
        ratio = method / floor
        self.rows.append((what, method, floor_name, floor, ratio, target))
        met = "met" if ratio <= target else "NOT met"
        print(f"{what}: {method * 1e3:.4f} ms; floor {floor_name}: {floor * 1e3:.4f} ms; "
              f"ratio {ratio:.2f} (target <= {target}: {met})", flush=True)

    def table(self):
        lines = ["| what | method | floor | ratio | target |", "|---|---|---|---|---|"]
        for what, method, floor_name, floor, ratio, target in self.rows:
            met = "met" if ratio <= target else "not met"
            unit = (lambda v: f"{v / 2**20:.1f} MiB") if what.startswith(("peak", "resident")) \
                else (lambda v: f"{v * 1e3:.4f} ms")
            lines.append(f"| {what} | {unit(method)} | {floor_name}: {unit(floor)} "
                         f"| {ratio:.2f} | <= {target} ({met}) |")
        return "\n".join(lines)


def bench_elimination(report, name, matrix, method, repeat):
    """An elimination beside the floor of what it returns: a copy, and the
    log's pairs built as tuples from two lists of ints."""
    _, log = method()
    t = [a for a, _ in log]
    s = [b for _, b in log]
    del log
    timed, floor = median_times(method, lambda: (matrix.copy(), list(zip(t, s))), repeat)
    report.add(f"{name} ({len(t)} pairs)", timed, "copy() + list(zip(t, s))", floor, 1.3)


def bench_echelon_form(report, n, m, repeat):
    matrix = quorvel.Matrix(random_byte_rows(n, m, 1))
    bench_elimination(report, f"echelon_form(), {n} x {m}", matrix, matrix.echelon_form, repeat)


def bench_construct(report, n, m, repeat):
    rows = [list(b) for b in random_byte_rows(n, m, 2)]
    method, floor = median_times(lambda: quorvel.Matrix(rows), lambda: [bytes(r) for r in rows],
                                 repeat)
    report.add(f"Matrix(rows) from lists of ints, {n} x {m}", method, "[bytes(r) for r in rows]",
               floor, 1.2)


def bench_to_list(report, n, m, repeat):
    byte_rows = random_byte_rows(n, m, 3)
    matrix = quorvel.Matrix(byte_rows)
    method, floor = median_times(matrix.to_list, lambda: [list(b) for b in byte_rows], repeat)
    report.add(f"to_list(), {n} x {m}", method, "[list(b) for b in byte_rows]", floor, 1.2)


def bench_last_row_dep(report, n, m, repeat):
    above, _ = quorvel.Matrix(random_byte_rows(n - 1, m, 4)).echelon_form()
    rows = above.to_list()
    rows.append(list(random_byte_rows(1, m, 5)[0]))
    matrix = quorvel.Matrix(rows)
    del rows
    # On these inputs the log's tuples cost more than the copy.
    bench_elimination(report, f"echelon_form_last_row_dep(), {n} x {m}", matrix,
                      matrix.echelon_form_last_row_dep, repeat)


def bench_kernel(report, n, m, repeat):
    reduced, _ = quorvel.Matrix(random_byte_rows(n, m, 6)).echelon_form()
    output = quorvel.Matrix(reduced.kernel())
    method, floor = median_times(reduced.kernel, lambda: (reduced.copy(), output.to_list()),
                                 repeat)
    report.add(f"kernel() of the echelon form of {n} x {m} ({output.nrows()} vectors)", method,
               "copy() + to_list() of its output", floor, 1.5)


def bench_copy(report, n, repeat):
    matrix = quorvel.Matrix(random_byte_rows(n, n, 9))
    buf = bytes(n * n // 8)
    method, floor = median_times(matrix.copy, lambda: bytearray(buf), repeat)
    report.add(f"copy(), {n} x {n}", method, f"bytearray(buf) of {n * n // 8} bytes", floor, 2)


def resident_child(n):
    """In a fresh interpreter: the resident memory that holding an n x n 0/1
    Matrix adds."""
    rows = random_byte_rows(n, n, 10)
    gc.collect()
    before = resident()
    matrix = quorvel.Matrix(rows)
    after = resident()
    assert matrix.nrows() == n
    print(after - before)


def bench_resident(report, n):
    out = subprocess.run([sys.executable, __file__, "--resident-child", str(n)], check=True,
                         capture_output=True, text=True).stdout.split()
    held = int(out[0])
    bits = n * n // 8
    ratio = held / bits
    print(f"resident memory of a held {n} x {n} 0/1 Matrix: {held / 2**20:.2f} MiB, "
          f"n^2/8 = {bits / 2**20:.2f} MiB; ratio {ratio:.2f} "
          f"(target <= 1.1: {'met' if ratio <= 1.1 else 'NOT met'})", flush=True)
    report.rows.append((f"resident memory of a held {n} x {n} 0/1 Matrix", held, "n²/8 bytes",
                        bits, ratio, 1.1))


def memory_child(n):
    """In a fresh interpreter: peak memory of m.echelon_form() against the
    size of its input and output objects."""
    m = quorvel.Matrix(random_byte_rows(n, n, 8))
    gc.collect()
    before = resident()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # the peak restarts from the current size
    result = m.echelon_form()
    grown = peak() - before

    # Sizes: a 0/1 Matrix is its object plus one bit per entry, rows padded
    # to whole 64-bit words.
    def matrix_size(x):
        return sys.getsizeof(x) + x.nrows() * ((x.ncols() + 63) // 64) * 8

    reduced, log = result
    ints = {id(v): v for pair in log for v in pair}
    output = (matrix_size(reduced) + sys.getsizeof(log) + sum(sys.getsizeof(p) for p in log)
              + sum(sys.getsizeof(v) for v in ints.values()))
    entry = matrix_size(m)
    print(f"{entry} {output} {grown} {len(log)}")


def bench_memory(report, n):
    out = subprocess.run([sys.executable, __file__, "--memory-child", str(n)], check=True,
                         capture_output=True, text=True).stdout.split()
    entry, output, grown, pairs = (int(v) for v in out)
    ratio = (entry + grown) / (entry + output)
    print(f"peak memory of m.echelon_form(), n = {n}: input {entry / 2**20:.1f} MiB, output "
          f"{output / 2**20:.1f} MiB ({pairs} pairs), growth during the call {grown / 2**20:.1f} MiB; "
          f"ratio {ratio:.2f} (target <= 1.2: {'met' if ratio <= 1.2 else 'NOT met'})", flush=True)
    report.rows.append((f"peak memory of m.echelon_form(), n = {n}", entry + grown,
                        "input + output objects", entry + output, ratio, 1.2))


# First runs, each in a fresh interpreter that runs first_run.py as a
# script, beside the same runs with glibc's thresholds raised, under which it
# keeps freed memory instead of giving it back to the system at once.  Loops
# that make and drop results of a few hundred KiB meet that give-back on
# every call unless the module keeps such blocks for the next one.
RAISED_THRESHOLDS = {"MALLOC_MMAP_THRESHOLD_": str(32 * 2**20), "MALLOC_TRIM_THRESHOLD_": str(64 * 2**20)}
FIRST_RUNS = {
    "stream": "stream of 2000 vectors of 1500 bits",
    "copy": "200 x (copy(), get_sub_matrix()) of 2000 x 1500",
    "echelon_form": "50 x echelon_form() of 256 x 512",
}


def first_run_times(name, raised):
    """In a fresh process: the first run of loop `name` and the mean of its
    two warm runs."""
    env = dict(os.environ, **RAISED_THRESHOLDS) if raised else {
        k: v for k, v in os.environ.items() if k not in RAISED_THRESHOLDS}
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "first_run.py")
    out = subprocess.run([sys.executable, script, name], check=True, capture_output=True, text=True,
                         env=env).stdout.split()
    times = [float(v) for v in out[::2]]
    return times[0], (times[1] + times[2]) / 2


def bench_first_runs(report, processes):
    """Medians over fresh processes, those with the thresholds raised and
    those without run in turn, so that both meet the same load."""
    for name, label in FIRST_RUNS.items():
        runs = {False: [], True: []}
        for _ in range(processes):
            for raised in (False, True):
                runs[raised].append(first_run_times(name, raised))
        (first, warm), (raised_first, raised_warm) = (
            [statistics.median(t[k] for t in runs[raised]) for k in (0, 1)] for raised in (False, True))
        report.add(f"first run: {label}", first, "raised thresholds", raised_first, 1.2)
        report.add(f"warm runs: {label}", warm, "raised thresholds", raised_warm, 1.2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, to check the script")
    parser.add_argument("--repeat", type=int, default=None, help="repetitions per measurement")
    parser.add_argument("--free", action="store_true",
                        help="free each result at once instead of at the end of its timing")
    parser.add_argument("--memory-child", type=int, default=None, help=argparse.SUPPRESS)
    parser.add_argument("--resident-child", type=int, default=None, help=argparse.SUPPRESS)
    parser.add_argument("--first-runs-only", action="store_true",
                        help="only the first runs in fresh processes")
    args = parser.parse_args()
    if args.memory_child is not None:
        memory_child(args.memory_child)
        return
    if args.resident_child is not None:
        resident_child(args.resident_child)
        return

    global KEEP_RESULTS
    KEEP_RESULTS = not args.free
    shapes = SHAPES[:4] if args.quick else SHAPES
    repeat = args.repeat or (2 if args.quick else 7)
    kept = "kept to the end of each timing" if KEEP_RESULTS else "freed at once"
    print(f"CPython {sys.version.split()[0]}, medians of {repeat} runs, results {kept}", flush=True)
    report = Report()
    if sys.platform.startswith("linux"):
        bench_first_runs(report, 1 if args.quick else 5)
    if args.first_runs_only:
        print()
        print(report.table())
        return
    for bench in (bench_echelon_form, bench_kernel, bench_to_list, bench_construct,
                  bench_last_row_dep):
        for n, m in shapes:
            bench(report, n, m, repeat)
    big = 512 if args.quick else 4096
    bench_copy(report, big, repeat)
    if sys.platform.startswith("linux"):
        bench_resident(report, big)
        bench_memory(report, big)
    print()
    print(report.table())


if __name__ == "__main__":
    main()
