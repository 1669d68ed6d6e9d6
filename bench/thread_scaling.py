"""Times independent matrices worked on by two threads beside one thread.

For each method, two threads each call it on a matrix of their own, the
same number of times, started together by a barrier; that wall time is
divided by the wall time of one thread making all the calls of both, on
both matrices.  2 cores and no contention give 0.5; the goal is at most
0.65.  With the GIL on, the ratio is about 1 or more.

    PYTHON_GIL=0 PYTHONPATH=build/ft/python python3.13t bench/thread_scaling.py [--quick]

Each ratio is the best of several repetitions of both timings.  --quick
makes the calls few, to show that the script still works; its ratios mean
little.  Timings never make the script fail.
"""

import argparse
import functools
import random
import sys
import threading
import time

import quorvel

GOAL = 0.65


def square(n, seed):
    rng = random.Random(seed)
    return quorvel.Matrix([[rng.getrandbits(1) for _ in range(n)] for _ in range(n)])


def stream_rows(n, seed):
    """The rows of a streaming reduction: one appended, then reduced, each."""
    rng = random.Random(seed)
    return [[rng.getrandbits(1) for _ in range(n)] for _ in range(n)]


def stream(rows):
    """The guide's test of a stream for independence, kept as it comes."""
    basis = quorvel.Matrix([])
    for row in rows:
        basis.append_row(row)
        reduced, _ = basis.echelon_form_last_row_dep()
        last = reduced.nrows() - 1
        basis = reduced if not reduced.is_zero_row(last) else basis.get_sub_matrix(0, last)


# name -> the work of one thread from a seed: a callable without arguments,
# and each thread's own (a bound method of its own matrix, say), so that the
# threads share no Python object that quorvel itself does not share.
METHODS = {
    "echelon_form()": lambda seed: square(384, seed).echelon_form,
    "copy()": lambda seed: square(384, seed).copy,
    "to_list()": lambda seed: square(384, seed).to_list,
    "rank()": lambda seed: square(384, seed).rank,
    "Matrix(rows)": lambda seed: functools.partial(quorvel.Matrix, square(384, seed).to_list()),
    "a stream of 96 rows tested": lambda seed: functools.partial(stream, stream_rows(96, seed)),
}


def run_calls(call, calls):
    for _ in range(calls):
        call()


def two_threads(works, calls):
    barrier = threading.Barrier(len(works) + 1)

    def worker(call):
        barrier.wait()
        run_calls(call, calls)

    threads = [threading.Thread(target=worker, args=(w,)) for w in works]
    for t in threads:
        t.start()
    barrier.wait()
    start = time.perf_counter()
    for t in threads:
        t.join()
    return time.perf_counter() - start


def one_thread(works, calls):
    start = time.perf_counter()
    for call in works:
        run_calls(call, calls)
    return time.perf_counter() - start


def calls_for(call, seconds):
    """How many calls take about `seconds` in one thread."""
    start = time.perf_counter()
    calls = 0
    while time.perf_counter() - start < seconds / 10:
        call()
        calls += 1
    return max(1, calls * 10)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="few calls, to show the script runs")
    args = parser.parse_args()
    seconds, repeats = (0.02, 1) if args.quick else (0.5, 5)
    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    print(f"{sys.version.split()[0]}{' free-threaded' if not gil else ''}, GIL {'on' if gil else 'off'}")
    print(f"{'method':40} {'2 threads / 1 thread':>22}   goal <= {GOAL}")
    for name, make in METHODS.items():
        works = [make(1), make(2)]
        calls = calls_for(works[0], seconds)
        ratios = []
        for _ in range(repeats):
            together = two_threads(works, calls)
            alone = one_thread(works, calls)
            ratios.append(together / alone)
        best = min(ratios)
        print(f"{name:40} {best:22.2f}   {'met' if best <= GOAL else 'NOT met'}")


if __name__ == "__main__":
    main()
