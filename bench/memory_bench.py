"""Peak extra memory of the eliminations, and their time on small matrices.

Memory: each elimination runs in a fresh interpreter, which reads its peak
resident size (VmHWM, restarted just before the call) and reports how far the
call grew beyond what was resident before it.  The target is that this growth
is at most the input plus the result plus 4 MiB: whatever workspace the
elimination takes beside its result is at most its input's size and 4 MiB.
The input is what constructing the matrix added to the resident size, and
the result what the call left resident.  So that these sizes are exact, the
child's allocator serves every block from 128 KiB on with its own mapping,
which goes back to the system when freed (otherwise freed temporaries are
reused out of sight and a result can seem to cost nothing).

Time: on the small shapes, m.echelon_form() beside its floor, m.copy() plus
list(zip(t, s)) of its log, medians of many runs of each in turn.

    PYTHONPATH=build/default/python python3.10 bench/memory_bench.py [--quick]

--quick leaves out the larger square shapes.  Nothing here fails on a number.
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
from python_bench import peak, resident

SLACK = 4 * 2**20
WIDE = [(1, 2_000_000), (2, 2_000_000), (10, 1_000_000)]
SQUARE = [256, 1024, 2048]
SMALL = [(4, 8), (8, 16), (16, 32)]
METHODS = ["echelon_form", "row_echelon_full_matrix"]
TO_BITS = bytes.maketrans(b"01", b"\x00\x01")


def byte_rows(n, m, kind, seed):
    """n rows of m 0/1 entries: random, or (kind "one") a single 1 in row 0."""
    if kind == "one":
        return [b"\x01" + bytes(m - 1)] + [bytes(m) for _ in range(n - 1)]
    rng = random.Random(seed + 7919 * n + m)
    return [format(rng.getrandbits(m), f"0{m}b").encode().translate(TO_BITS) for _ in range(n)]


def child(method, n, m, kind):
    rows = byte_rows(n, m, kind, 1)
    gc.collect()
    start = resident()
    matrix = quorvel.Matrix(rows)
    entry = resident() - start
    gc.collect()
    before = resident()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # the peak restarts from the current size
    reduced, log = getattr(matrix, method)()
    grown = peak() - before
    result = resident() - before
    print(entry, result, grown, len(log), reduced.nrows())


def measure(method, n, m, kind):
    env = dict(os.environ, MALLOC_MMAP_THRESHOLD_=str(128 * 1024))
    out = subprocess.run([sys.executable, __file__, "--child", method, str(n), str(m), kind],
                         check=True, capture_output=True, text=True, env=env).stdout.split()
    entry, result, grown, pairs, _ = (int(v) for v in out)
    bound = entry + result + SLACK
    mib = lambda v: f"{v / 2**20:.1f} MiB"
    met = "met" if grown <= bound else "NOT met"
    shape = f"{n} x {m}" + (" (one 1)" if kind == "one" else "")
    print(f"| {method} | {shape} | {mib(entry)} | {mib(result)} ({pairs} pairs) | {mib(grown)} "
          f"| {mib(grown - result)} | {grown / bound:.2f} ({met}) |", flush=True)


def timed(function):
    start = time.perf_counter()
    result = function()
    elapsed = time.perf_counter() - start
    del result
    return elapsed


def small_times(n, m, repeat):
    matrix = quorvel.Matrix(byte_rows(n, m, "random", 2))
    _, log = matrix.echelon_form()
    t = [a for a, _ in log]
    s = [b for _, b in log]
    batch = 200
    method_times, floor_times = [], []
    for _ in range(repeat):
        method_times.append(timed(lambda: [matrix.echelon_form() for _ in range(batch)]) / batch)
        floor_times.append(timed(lambda: [(matrix.copy(), list(zip(t, s))) for _ in range(batch)]) / batch)
    method, floor = statistics.median(method_times), statistics.median(floor_times)
    print(f"| {n} x {m} | {method * 1e6:.2f} us | {floor * 1e6:.2f} us | {method / floor:.2f} |",
          flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="leave out the larger shapes")
    parser.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        method, n, m, kind = args.child
        child(method, int(n), int(m), kind)
        return
    if not sys.platform.startswith("linux"):
        print("memory_bench: needs /proc (Linux)")
        return

    square = SQUARE[:1] if args.quick else SQUARE
    shapes = ([(n, m, "random") for n, m in WIDE] + [(1, 1_000_000, "one")]
              + [(n, n, "random") for n in square])
    print(f"CPython {sys.version.split()[0]}; peak growth of each call against "
          f"input + result + {SLACK >> 20} MiB")
    print()
    print("| method | shape | input | result | peak growth | beside the result | of the bound |")
    print("|---|---|---|---|---|---|---|")
    for method in METHODS:
        for n, m, kind in shapes:
            measure(method, n, m, kind)
    print()
    print("| shape | m.echelon_form() | m.copy() + list(zip(t, s)) | ratio |")
    print("|---|---|---|---|")
    for n, m in SMALL:
        small_times(n, m, 5 if args.quick else 21)


if __name__ == "__main__":
    main()
