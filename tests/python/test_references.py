"""Every way out of every method releases what it took."""

import gc
import sys
import tracemalloc

import pytest

from quorvel import Matrix
from support import Index, heap_in_use

WIDTH = 64
ROWS = [[(i * 7 + j * 3) % 5 % 2 for j in range(WIDTH)] for i in range(3)]


def caught_panic(call):
    try:
        call()
    except BaseException as error:
        return error
    raise AssertionError("no failure")


class Sized:
    """A row whose length query raises a new `kind` exception."""

    def __init__(self, kind):
        self.kind = kind

    def __getitem__(self, index):
        raise AssertionError("indexed")

    def __len__(self):
        raise self.kind()

    def __iter__(self):
        return iter([1] * WIDTH)


def raising_new(kind, *args):
    """An index whose __index__ raises a new exception each time (re-raising
    one instance would grow its traceback, and hold every frame it passed)."""

    def action():
        raise kind(*args)

    return Index(action=action)


def workload():
    """Named arguments and calls on them: successes and every kind of failure."""
    earlier = caught_panic(lambda: Matrix([]).get(0, 0))
    a = {
        "rows": [list(r) for r in ROWS],
        "tuple_rows": tuple(tuple(r) for r in ROWS),
        "bytes_rows": [bytes(r) for r in ROWS],
        "bad_rows": [[1] * WIDTH, [1, 2**9]],
        "row": [1] * WIDTH,
        "short": [1],
        "bad_row": [0] * WIDTH + [300],
        "text": "101",
        "big": 2**70,
        "huge_index": 2**64 - 1,
        "negative": -1,
        "one": Index(1),
        "float": 1.5,
        "interrupting": Sized(KeyboardInterrupt),
        "hinting": Sized(ValueError),
        "earlier": earlier,
        "re_raise": raising_new(type(earlier), *earlier.args),
        "type_error": raising_new(TypeError, "from __index__"),
    }
    m = Matrix(a["rows"])
    a["m"] = m
    a["reenter"] = Index(0, action=lambda: m.get(0, 0))
    calls = [
        lambda: Matrix(a["rows"]),
        lambda: Matrix(elements=a["tuple_rows"]),
        lambda: Matrix(a["bytes_rows"]),
        lambda: Matrix(a["bad_rows"]),
        lambda: Matrix(a["text"]),
        lambda: Matrix([a["hinting"], a["interrupting"]]),
        lambda: Matrix(),
        lambda: Matrix(a["rows"], a["rows"]),
        lambda: Matrix(a["rows"], bogus=a["one"]),
        lambda: m.get(a["one"], a["one"]),
        lambda: m.get(row=a["one"], col=a["one"]),
        lambda: m.get(a["big"], 0),
        lambda: m.get(a["negative"], 0),
        lambda: m.get(0, a["float"]),
        lambda: m.get(a["huge_index"], 0),
        lambda: m.get(a["one"], row=a["one"]),
        lambda: m.get(a["type_error"], 0),
        lambda: m.get(a["re_raise"], 0),
        lambda: m.get_sub_matrix(a["one"], 3),
        lambda: m.get_sub_matrix(3, a["one"]),
        lambda: m.to_list(),
        lambda: m.nrows() + m.ncols(),
        lambda: m.copy(),
        lambda: repr(m),
        lambda: m.is_zero_row(a["one"]),
        lambda: m.echelon_form(),
        lambda: m.row_echelon_full_matrix(),
        lambda: m.echelon_form_last_row(),
        lambda: m.echelon_form_last_row_dep(),
        lambda: m.rank(),
        lambda: m.kernel(),
        lambda: m.add_rows(a["reenter"], 0),
    ]
    edits = [
        lambda c: c.add_rows(a["one"], 0),
        lambda c: c.add_rows(0, a["huge_index"]),
        lambda c: c.swap_rows(a["one"], 2),
        lambda c: c.append_row(a["row"]),
        lambda c: c.append_row(a["bad_row"]),
        lambda c: c.append_row(a["text"]),
        lambda c: c.append_row(a["interrupting"]),
        lambda c: c.append_column(a["row"]),
        lambda c: c.append_column(a["short"]),
        lambda c: c.append_column(v=a["hinting"]),
    ]
    return a, calls, edits


def run(calls, edits, rounds):
    for _ in range(rounds):
        for call in calls:
            try:
                call()
            except BaseException:  # every outcome counts, failures included
                pass
        copy = Matrix(ROWS)
        for edit in edits:
            try:
                edit(copy)
            except BaseException:
                pass


def test_reference_counts_of_arguments_do_not_change(capfd):
    a, calls, edits = workload()
    objects = list(a.values()) + [item for v in a.values() if isinstance(v, list) for item in v]
    objects += [Matrix, type(a["earlier"])]
    run(calls, edits, 3)
    gc.collect()
    before = [sys.getrefcount(o) for o in objects]
    run(calls, edits, 200)
    gc.collect()
    after = [sys.getrefcount(o) for o in objects]
    changed = [(repr(o)[:40], b, c) for o, b, c in zip(objects, before, after) if b != c]
    assert changed == []
    capfd.readouterr()


@pytest.mark.parametrize("measure", ["tracemalloc", "heap"])
def test_memory_stays_flat(measure, capfd):
    a, calls, edits = workload()
    calls_per_round = len(calls) + len(edits) + 1
    rounds = 400
    if measure == "tracemalloc":
        tracemalloc.start()

        def used():
            return tracemalloc.get_traced_memory()[0]

    else:
        if heap_in_use() is None:
            pytest.skip("the C allocator does not report its use")
        used = heap_in_use
    try:
        run(calls, edits, 20)
        gc.collect()
        before = used()
        run(calls, edits, rounds)
        gc.collect()
        grown = used() - before
    finally:
        if measure == "tracemalloc":
            tracemalloc.stop()
        capfd.readouterr()
    # Losing even the smallest block (32 bytes) on one call in ten would
    # grow memory by this much.
    one_leak_per_ten_calls = rounds * calls_per_round * 32 // 10
    assert grown < one_leak_per_ten_calls / 4, (grown, one_leak_per_ten_calls)
