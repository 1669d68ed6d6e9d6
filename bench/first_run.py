"""One loop of quorvel calls, run three times in this interpreter, as a
user's first script would run it: prints the processor time of each run and
the minor page faults it took.

    python bench/first_run.py {stream,copy,echelon_form}

bench/python_bench.py runs it in fresh interpreters, with and without glibc's
thresholds raised.  It imports no more than a short script would, so that the
heap lies as it does in one: how much of its freed memory glibc gives back to
the system, and faults in again, depends on how the heap lies.
"""

import gc
import random
import resource
import sys
import time

import quorvel

TO_BITS = bytes.maketrans(b"01", b"\x00\x01")


def random_byte_rows(n, m, seed):
    """n rows of m random 0/1 entries, as bytes."""
    rng = random.Random(seed)
    return [format(rng.getrandbits(m), f"0{m}b").encode().translate(TO_BITS) for _ in range(n)]


def stream():
    """2000 vectors of 1500 bits, each appended and reduced, the result kept
    as the basis when the vector is independent and the vector dropped when
    it is not."""
    vectors = random_byte_rows(2000, 1500, 1)

    def loop():
        basis = quorvel.Matrix([])
        for v in vectors:
            basis.append_row(v)
            reduced, _ = basis.echelon_form_last_row_dep()
            if reduced.is_zero_row(reduced.nrows() - 1):  # dependent
                basis = basis.get_sub_matrix(0, basis.nrows() - 1)
            else:
                basis = reduced
    return loop


def copy():
    """200 copies and 200 row ranges of a 2000 x 1500 matrix."""
    matrix = quorvel.Matrix(random_byte_rows(2000, 1500, 2))

    def loop():
        for k in range(200):
            kept = matrix.copy()
            kept = matrix.get_sub_matrix(k, 2000)
        return kept
    return loop


def echelon_form():
    """50 reduced echelon forms of a 256 x 512 matrix."""
    matrix = quorvel.Matrix(random_byte_rows(256, 512, 3))

    def loop():
        for _ in range(50):
            matrix.echelon_form()
    return loop


LOOPS = {"stream": stream, "copy": copy, "echelon_form": echelon_form}


def main():
    loop = LOOPS[sys.argv[1]]()
    for _ in range(3):
        gc.collect()
        faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
        start = time.process_time()
        loop()
        elapsed = time.process_time() - start
        print(elapsed, resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults)


if __name__ == "__main__":
    main()
