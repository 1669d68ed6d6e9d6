"""Matrix(a) for a numpy array, and for the list of its rows, beside the
floor of reading the same bytes out of the array row by row.

Runs where numpy imports (Debian's python3-numpy serves the system python3):
    PYTHONPATH=build/sys/python python3 bench/buffer_bench.py [--quick]
"""

import statistics
import sys
import time

import numpy as np

from quorvel import Matrix


def median_time(call, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    quick = "--quick" in sys.argv
    sizes = [256] if quick else [256, 1024, 2048]
    repeat = 5 if quick else 21
    print(f"{'n':>5} {'floor ms':>9} {'Matrix(a)':>10} {'Matrix(list(a))':>16}")
    for n in sizes:
        a = np.random.default_rng(n).integers(0, 2, (n, n)).astype(np.uint8)
        floor = median_time(lambda: [r.tobytes() for r in a], repeat)
        whole = median_time(lambda: Matrix(a), repeat)
        listed = median_time(lambda: Matrix(list(a)), repeat)
        print(f"{n:>5} {1e3 * floor:>9.3f} {whole / floor:>9.2f}x {listed / floor:>15.2f}x")


if __name__ == "__main__":
    main()
