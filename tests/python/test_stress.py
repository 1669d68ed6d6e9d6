"""Every method, successes and failures, many times over: memory stays flat
and no argument gains references.

The normal run makes about 40,000 calls; QUORVEL_STRESS=full makes about
a million (as .ci/leaks does).  Memory is compared as a ratio of the same
process's own figures after a warm-up and at the end, never as an absolute
size."""

import gc
import os
import resource
import sys
import tracemalloc

import pytest

from quorvel import Matrix
from support import SANITIZED, heap_in_use

FULL = os.environ.get("QUORVEL_STRESS") == "full"
CALLS = 1_000_000 if FULL else 40_000


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


ROW = [1, 0, 1, 1, 0, 1]
SQUARE = [[1, 0, 1, 1, 0, 1], [0, 1, 1, 0, 1, 1], [1, 1, 0, 1, 1, 0],
          [0, 0, 1, 1, 1, 1], [1, 1, 1, 0, 0, 0], [0, 1, 0, 1, 0, 1]]
RAGGED = [[1, 0, 1], [1, 1]]
TWO = Index(2)
FAR = Index(99)


def catch(call):
    try:
        call()
    except (TypeError, OverflowError, RuntimeError):
        pass
    except BaseException as error:
        if type(error).__name__ != "PanicException":
            raise


def calls():
    """One call per method and failure mode; every one leaves `m` as it was."""
    m = Matrix(SQUARE)
    ragged = Matrix(RAGGED)
    return [
        lambda: Matrix(SQUARE),
        lambda: catch(lambda: Matrix([ROW, "01"])),
        lambda: catch(lambda: Matrix([[1, 256]])),
        lambda: m.get_sub_matrix(1, TWO),
        lambda: catch(lambda: m.get_sub_matrix(3, 1)),
        m.to_list, m.nrows, m.ncols, m.copy,
        lambda: m.get(TWO, 3),
        lambda: catch(lambda: m.get(FAR, 0)),
        lambda: catch(lambda: m.get(1)),
        lambda: catch(lambda: m.get("a", 0)),
        lambda: (m.add_rows(TWO, 0), m.add_rows(target=TWO, source=0)),
        lambda: catch(lambda: m.add_rows(0, FAR)),
        lambda: (m.swap_rows(0, TWO), m.swap_rows(TWO, 0)),
        lambda: m.is_zero_row(TWO),
        lambda: catch(m.echelon_form_last_row), m.echelon_form_last_row_dep,
        m.echelon_form, m.row_echelon_full_matrix,
        lambda: catch(ragged.echelon_form),
        lambda: catch(ragged.kernel),
        lambda: catch(Matrix([]).echelon_form_last_row),
        lambda: catch(lambda: ragged.append_row("10")),
        lambda: catch(lambda: ragged.append_column([1, Index(-1)])),
        m.rank, m.kernel,
        lambda: repr(m),
        lambda: stack_and_unstack(m),
    ]


def stack_and_unstack(m):
    """append_row and append_column, on a copy so that `m` stays as it is."""
    c = m.copy()
    c.append_row(ROW)
    c.append_column(tuple(ROW) + (1,))
    return c


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


def run(batch, rounds):
    for _ in range(rounds):
        for call in batch:
            call()


def test_memory_stays_flat_over_many_calls():
    batch = calls()
    rounds = CALLS // len(batch)
    saved = os.dup(2)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 2)  # the failure reports of a million failing calls
    try:
        run(batch, max(rounds // 10, 50))
        gc.collect()
        rss_before, malloc_before = rss(), (heap_in_use() or 0)
        run(batch, rounds)
        gc.collect()
        rss_after, malloc_after = rss(), (heap_in_use() or 0)
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(devnull)
    if not SANITIZED:
        assert rss_after / rss_before < 1.10, (rss_before, rss_after)
    if malloc_before:
        assert malloc_after / malloc_before < 1.05, (malloc_before, malloc_after)
        # Well under one byte per call stays with the C allocator.
        assert (malloc_after - malloc_before) / (rounds * len(batch)) < 1, (
            malloc_before, malloc_after)


def test_python_memory_and_references_stay_flat():
    batch = calls()
    watched = [ROW, SQUARE, RAGGED, TWO, FAR] + SQUARE
    references = [sys.getrefcount(x) for x in watched]
    saved = os.dup(2)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 2)
    tracemalloc.start()
    try:
        run(batch, 20)
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        rounds = max(CALLS // len(batch) // 20, 100)
        run(batch, rounds)
        gc.collect()
        after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
        os.dup2(saved, 2)
        os.close(saved)
        os.close(devnull)
    # Everything a call makes is gone again: well under one byte per call
    # stays (a leaked object would keep at least 16 bytes per call).
    assert (after - before) / (rounds * len(batch)) < 0.5, (before, after)
    assert [sys.getrefcount(x) for x in watched] == references


@pytest.mark.parametrize("call", range(len(calls())))
def test_each_call_leaves_the_matrix_usable(call):
    batch = calls()
    for _ in range(3):
        batch[call]()
