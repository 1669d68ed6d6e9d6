"""Times quorvel's methods beside the floor that CPython gives for the same output.

Each line times one method and its floor in the same run, as the median of
several repetitions, and prints their ratio beside the target.  The floor
produces output of the same shape with CPython's own fastest tools, for
example m.copy() plus list(zip(t, s)) for an echelon form and its log.

    PYTHONPATH=build/default/python python3.10 bench/python_bench.py [--quick]

--quick runs small sizes once or twice, to show that the script still works;
its ratios mean little.  Timings never make the script fail.
"""

import argparse
import gc
import os
import random
import statistics
import subprocess
import sys
import time

import quorvel

TO_BITS = bytes.maketrans(b"01", b"\x00\x01")


def random_byte_rows(n, m, seed):
    """n rows of m random 0/1 entries, as bytes."""
    rng = random.Random(seed)
    return [format(rng.getrandbits(m), f"0{m}b").encode().translate(TO_BITS) for _ in range(n)]


def timed(function):
    """Wall time of function(), its result freed outside the timing."""
    start = time.perf_counter()
    result = function()
    elapsed = time.perf_counter() - start
    del result
    return elapsed


def median_times(method, floor, repeat):
    """Medians of method() and floor(), run in turn so that both meet the
    same state of the allocator and the collector."""
    method_times, floor_times = [], []
    for _ in range(repeat):
        method_times.append(timed(method))
        floor_times.append(timed(floor))
    return statistics.median(method_times), statistics.median(floor_times)


class Report:
    def __init__(self):
        self.rows = []

    def add(self, what, method, floor_name, floor, target):
        ratio = method / floor
        self.rows.append((what, method, floor_name, floor, ratio, target))
        met = "met" if ratio <= target else "NOT met"
        print(f"{what}: {method * 1e3:.2f} ms; floor {floor_name}: {floor * 1e3:.2f} ms; "
              f"ratio {ratio:.2f} (target <= {target}: {met})", flush=True)

    def table(self):
        lines = ["| what | method | floor | ratio | target |", "|---|---|---|---|---|"]
        for what, method, floor_name, floor, ratio, target in self.rows:
            met = "met" if ratio <= target else "not met"
            unit = (lambda v: f"{v / 2**20:.0f} MiB") if what.startswith("peak") else (
                lambda v: f"{v * 1e3:.2f} ms")
            lines.append(f"| {what} | {unit(method)} | {floor_name}: {unit(floor)} "
                         f"| {ratio:.2f} | <= {target} ({met}) |")
        return "\n".join(lines)


def bench_echelon_form(report, n, repeat):
    m = quorvel.Matrix(random_byte_rows(n, n, 1))
    _, log = m.echelon_form()
    t = [a for a, _ in log]
    s = [b for _, b in log]
    del log
    method, floor = median_times(m.echelon_form, lambda: (m.copy(), list(zip(t, s))), repeat)
    report.add(f"m.echelon_form(), n = {n} ({len(t)} pairs)", method,
               "m.copy() + list(zip(t, s))", floor, 1.5)


def bench_construct(report, n, repeat):
    rows = [list(b) for b in random_byte_rows(n, n, 2)]
    method, floor = median_times(lambda: quorvel.Matrix(rows), lambda: [bytes(r) for r in rows],
                                 repeat)
    report.add(f"Matrix(rows) from lists of ints, n = {n}", method, "[bytes(r) for r in rows]",
               floor, 1.2)


def bench_to_list(report, n, repeat):
    byte_rows = random_byte_rows(n, n, 3)
    m = quorvel.Matrix(byte_rows)
    method, floor = median_times(m.to_list, lambda: [list(b) for b in byte_rows], repeat)
    report.add(f"m.to_list(), n = {n}", method, "[list(b) for b in byte_rows]", floor, 1.2)


def bench_last_row_dep(report, n, repeat):
    above, _ = quorvel.Matrix(random_byte_rows(n - 1, n, 4)).echelon_form()
    rows = above.to_list()
    rows.append(list(random_byte_rows(1, n, 5)[0]))
    m = quorvel.Matrix(rows)
    del rows
    method, floor = median_times(m.echelon_form_last_row_dep, m.copy, repeat)
    report.add(f"echelon_form_last_row_dep(), n = {n}", method, "m.copy()", floor, 1.5)


def bench_kernel(report, n, width, repeat):
    reduced, _ = quorvel.Matrix(random_byte_rows(n, width, 6)).echelon_form()
    size = len(reduced.kernel())
    same_size = quorvel.Matrix(random_byte_rows(size, width, 7))
    method, floor = median_times(reduced.kernel, same_size.to_list, repeat)
    report.add(f"kernel() of the echelon form of {n} x {width} ({size} vectors)", method,
               f"to_list() of {size} x {width}", floor, 2)


def memory_child(n):
    """In a fresh interpreter: peak memory of m.echelon_form() against the
    size of its input and output objects."""
    m = quorvel.Matrix(random_byte_rows(n, n, 8))
    gc.collect()
    page = os.sysconf("SC_PAGE_SIZE")

    def rss():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * page

    def peak():
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
        raise RuntimeError("no VmHWM")

    before = rss()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # the peak restarts from the current size
    result = m.echelon_form()
    grown = peak() - before

    # Sizes: a Matrix is its object plus one byte per entry and a vector per row.
    def matrix_size(x):
        return sys.getsizeof(x) + x.nrows() * (x.ncols() + 24)

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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, to check the script")
    parser.add_argument("--repeat", type=int, default=None, help="repetitions per measurement")
    parser.add_argument("--memory-child", type=int, default=None, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_child is not None:
        memory_child(args.memory_child)
        return

    scale = 8 if args.quick else 1
    repeat = args.repeat or (2 if args.quick else 7)
    print(f"CPython {sys.version.split()[0]}, medians of {repeat} runs", flush=True)
    report = Report()
    bench_echelon_form(report, 2048 // scale, repeat)
    bench_construct(report, 4096 // scale, repeat)
    bench_to_list(report, 4096 // scale, repeat)
    bench_last_row_dep(report, 2048 // scale, repeat)
    bench_kernel(report, 1024 // scale, 2048 // scale, repeat)
    if sys.platform.startswith("linux"):
        bench_memory(report, 4096 // scale)
    print()
    print(report.table())


if __name__ == "__main__":
    main()
