"""Allocation failure: every method, with each successive allocation of the
call made to fail in turn, either alone or with every allocation after it:
the interpreter's (CPython's _testcapi.set_nomemory), or the C++ runtime's,
which the interpreter's hooks never see (failing_new.cpp, an operator new
built with the tests and preloaded).  The call ends with MemoryError or
PanicException, the process never aborts, the object stays usable and
consistent, unless the method edits in place unchanged, else unchanged or
edited whole, and repeated failures leak nothing.

Each case runs in a fresh interpreter (this file run as a script), so that
the first failures also meet the PanicException type not made yet.
"""

import json
import os
import subprocess
import sys

import pytest

from methods import BY_NAME
from support import EMULATED, FREE_THREADED, SANITIZED

ALLOCATE_NOTHING = {"add_rows", "is_zero_row", "ncols", "nrows", "rank", "swap_rows"}
CXX_ALLOCATING = {"copy", "echelon_form", "kernel", "append_column_wide", "append_column_to_bytes",
                  "append_column_of_bytes"}

# Each allocation fails with every one after it and also alone; the
# interpreter's alone only on CPython 3.10.  From 3.11 on, a call that fails with an allocation failing alone can
# end in "SystemError: error return without exception set" that is the
# interpreter's own: the method returns NULL with its exception set (the
# TypeError of m.get(1, 2, 3), say), the next allocation, of a frame object
# for the traceback, fails, and CPython drops both exceptions.  divmod(1, 2, 3)
# does the same under the same sweep.
ALONE = (False, True) if sys.version_info < (3, 11) else (False,)

PANIC_MESSAGES = ("Python API call failed", "called `Result::unwrap()` on an `Err` value: ")

# name -> (rows, call[, edits in place]).  `call` is Python source run with
# `m` bound to the matrix; each is one method call.  A case named after a
# method edits in place as that method does (methods.py); every other case
# says whether it does.
CASES = {
    "new_list": ([[1, 0]], "Matrix([[1, 0, 1], [0, 1], []])", False),
    "new_generic": ([[1, 0]], "Matrix(Hinted([Hinted([1, 0], 9), b'\\x01'], ValueError()))",
                    False),
    "new_refused": ([[1, 0]], "Matrix([[1], '01'])", False),
    "get_sub_matrix": ([[1, 0], [0, 1], [1, 1]], "m.get_sub_matrix(1, 3)"),
    "get_sub_matrix_bad": ([[1, 0], [0, 1]], "m.get_sub_matrix(2, 1)", False),
    "to_list": ([[1, 0, 1], [0, 1], [255]], "m.to_list()"),
    "nrows": ([[1, 0]] * 3, "m.nrows()"),
    "ncols": ([[1, 0]] * 3, "m.ncols()"),
    "copy": ([[1, 0], [0, 1]], "m.copy()"),
    "get": ([[1, 0], [0, 1]], "m.get(1, col=1)"),
    "get_out_of_range": ([[1, 0], [0, 1]], "m.get(5, 0)", False),
    "get_wrong_call": ([[1, 0], [0, 1]], "m.get(1, 2, 3)", False),
    "get_bad_keyword": ([[1, 0], [0, 1]], "m.get(row=1, colour=2)", False),
    "get_refused_index": ([[1, 0], [0, 1]], "m.get('a', 0)", False),
    "get_reraised_panic": ([[1, 0], [0, 1]], "m.get(ReRaise(), 0)", False),
    "get_reraised_panic_surrogate": ([[1, 0], [0, 1]], "m.get(ReRaise('\\udcff'), 0)", False),
    "add_rows": ([[1, 1, 0], [0, 1, 1]], "m.add_rows(0, 1)"),
    "add_rows_out_of_range": ([[1, 1, 0], [0, 1, 1]], "m.add_rows(0, 7)", False),
    "swap_rows": ([[1, 1, 0], [0, 1]], "m.swap_rows(0, 1)"),
    "is_zero_row": ([[0, 0], [0, 1]], "m.is_zero_row(1)"),
    "echelon_form_last_row": ([[1, 0, 0], [0, 0, 1], [1, 1, 1]], "m.echelon_form_last_row()"),
    "echelon_form_last_row_dep": ([[0, 1], [1, 0]], "m.echelon_form_last_row_dep()"),
    "echelon_form": ([[0, 1, 1], [1, 1, 0], [1, 0, 1]], "m.echelon_form()"),
    "row_echelon_full_matrix": ([[0, 1, 1], [1, 1, 0], [1, 0, 1]],
                                "m.row_echelon_full_matrix()"),
    "append_row": ([[1, 0]], "m.append_row(Hinted([1, 0, 1], 3))"),
    "append_column": ([[1, 0], [0, 1]], "m.append_column([1, 0, 1])"),
    "append_column_short": ([[1, 0], [0, 1]], "m.append_column((1,))", True),
    "append_column_wide": ([[1, 0] * 64, [0, 1] * 64], "m.append_column([1, 1])", True),
    "append_column_to_bytes": ([[1, 0], [0, 1], [1, 1]], "m.append_column([2, 0, 1])", True),
    "append_column_of_bytes": ([[1, 0], [0, 2], [1, 1]], "m.append_column([1, 0, 1])", True),
    "rank": ([[1, 0, 1], [0, 1, 1]], "m.rank()"),
    "kernel": ([[1, 0, 1, 1], [0, 1, 1, 0]], "m.kernel()"),
    "repr": ([[1, 0, 1], [0, 1]], "repr(m)", False),
}
CASES = {name: case if len(case) == 3 else (*case, BY_NAME[name].edits) for name, case in CASES.items()}


def test_every_method_has_a_case():
    assert set(BY_NAME) <= set(CASES)


# The operator new that fails on demand, when ctest built it.
FAILING_NEW = os.environ.get("QUORVEL_FAILING_NEW")
# Attempts in a row that end as without a failure, to end a sweep: the
# interpreter allocates on its own at times, the C++ runtime only for the call.
TAIL = {"python": 40, "cxx": 5}


def sweep(name, hook, storage):
    """Runs case `name` once per allocation that can fail, in this process."""
    import ctypes
    import gc

    import _testcapi

    # Called directly, not through a Python function whose frame could fail.
    failing_new = ctypes.CDLL(FAILING_NEW) if hook == "cxx" else None
    stop = _testcapi.remove_mem_hooks if hook == "python" else failing_new.quorvel_fail_new_off

    from quorvel import Matrix

    class Hinted:
        def __init__(self, items, length):
            self.items, self.length = items, length

        def __len__(self):
            if isinstance(self.length, BaseException):
                raise self.length
            return self.length

        def __getitem__(self, i):
            return self.items[i]

        def __iter__(self):
            return iter(self.items)

    class ReRaise:
        # A fresh instance each time: re-raising one instance would grow its
        # traceback, and with it the allocations of every attempt.
        def __init__(self, message="raised again by Python code"):
            self.message = message

        def __index__(self):
            raise type(earlier)(self.message)

    earlier = None
    if name.startswith("get_reraised_panic"):
        try:
            Matrix([]).get(0, 0)
        except BaseException as error:
            earlier = error
    # Otherwise the PanicException type is not made yet: its creation must be
    # able to fail too.

    rows, source, edits = CASES[name]
    if storage == "bytes":  # a row of 2s keeps the rows off packed storage
        rows = rows + [[2] * len(rows[0] if rows else [0])]
    code = compile(source, name, "eval")
    namespace = {"Matrix": Matrix, "Hinted": Hinted, "ReRaise": ReRaise}

    def attempt(m, start, alone):
        namespace["m"] = m
        # Only allocation `start` fails, or it and every one after it.
        if hook == "python":
            _testcapi.set_nomemory(start, start + 1 if alone else 0)
        else:
            failing_new.quorvel_fail_new(start, alone)
        try:
            result = eval(code, namespace)
        except BaseException as error:
            stop()
            return False, error
        stop()
        return True, result

    def describe(outcome):
        ok, value = outcome
        if ok:
            return ["ok", value.to_list() if isinstance(value, Matrix) else repr(value)]
        return [type(value).__name__, str(value)]

    def plain(m):
        namespace["m"] = m
        try:
            return True, eval(code, namespace)
        except BaseException as error:
            return False, error

    m = Matrix(rows)
    natural = describe(plain(m))
    edited = m.to_list()

    def reads(m):
        """What the reading methods see: the same for any matrix of the same rows."""
        return [describe(plain_call(m, name)) for name in ("ncols", "echelon_form", "kernel", "copy")]

    def plain_call(m, name):
        try:
            return True, getattr(m, name)()
        except BaseException as error:
            return False, error
    # CPython 3.10 sets up a code object's inline caches on its 1024th run,
    # and frees a buffer twice when that allocation fails.  Run the Python
    # code of the case that often first, so that no allocation of the
    # interpreter's own caches falls into a failing window.
    for _ in range(1100 if hook == "python" else 0):
        plain(Matrix(rows))
    outcomes = []
    for alone in ALONE if hook == "python" else (False, True):
        start = 0
        unfailed = 0  # consecutive attempts that ended as without a failure
        while unfailed < TAIL[hook] and start < 2000:
            m = Matrix(rows)
            outcome = describe(attempt(m, start, alone))
            state = m.to_list()
            consistent = reads(m) == reads(Matrix(state)) and repr(m) == str(state)
            # The object is usable afterwards: it can be read and edited.
            m.append_row([1])
            m.copy().swap_rows(0, m.nrows() - 1)
            unfailed = unfailed + 1 if outcome == natural else 0
            outcomes.append({"start": start, "alone": alone, "outcome": outcome, "state": state,
                             "consistent": consistent})
            start += 1

    # Leaks: repeat every failing attempt; what stays must not grow with the
    # number of repetitions.
    failing = [(entry["start"], entry["alone"]) for entry in outcomes
               if entry["outcome"] != natural]
    blocks = []
    for repetitions in (1, 1, 10):
        for start, alone in failing:
            for _ in range(repetitions):
                attempt(Matrix(rows), start, alone)
        gc.collect()
        blocks.append(sys.getallocatedblocks())
    return {"natural": natural, "outcomes": outcomes, "blocks": blocks, "edits": edits,
            "rows": rows, "edited": edited}


def run_case(name, hook, storage):
    env = dict(os.environ, **({"LD_PRELOAD": FAILING_NEW} if hook == "cxx" else {}))
    process = subprocess.run([sys.executable, "-X", "dev", "-W", "error", __file__, name, hook, storage],
                             capture_output=True, text=True, env=env, timeout=300)
    assert process.returncode == 0, (process.returncode, process.stderr[-3000:])
    assert "uncaught panic" not in process.stderr
    return json.loads(process.stdout)


# On CPython 3.13 the sweep of a re-raised PanicException does not finish in
# its time limit: with allocations failing, printing the exception's
# traceback falls back to writing "lost sys.stderr" object dumps, attempt
# after attempt.  The same sweep runs on 3.10 to 3.12.
REPRINTS_SLOWLY = pytest.mark.skipif(sys.version_info >= (3, 13),
                                     reason="CPython 3.13 prints tracebacks too slowly here")


NO_FAILING_NEW = pytest.mark.skipif(FAILING_NEW is None or SANITIZED,
                                    reason="no operator new of the tests' own comes first")


# The free-threaded CPython 3.13 crashes in its own PyList_New when the
# allocation of the items fails: it frees the list with its item pointer
# never set (Objects/listobject.c).  Only failures of the module's own
# allocations (the "cxx" hook) can be swept there.
LIST_FAILURE_CRASHES = pytest.mark.skipif(
    FREE_THREADED and sys.version_info < (3, 14),
    reason="free-threaded CPython 3.13's PyList_New crashes when its items cannot be allocated")


@pytest.mark.parametrize("hook, storage", [pytest.param("python", "as given", marks=LIST_FAILURE_CRASHES),
                                           pytest.param("cxx", "as given", marks=NO_FAILING_NEW),
                                           pytest.param("cxx", "bytes", marks=NO_FAILING_NEW)])
@pytest.mark.parametrize("name", [
    pytest.param(name, marks=REPRINTS_SLOWLY) if name.startswith("get_reraised_panic") else name
    for name in sorted(CASES)])
def test_every_allocation_failure_ends_in_an_exception(name, hook, storage):
    report = run_case(name, hook, storage)
    final = report["natural"]
    outcomes = report["outcomes"]
    assert all(entry["consistent"] for entry in outcomes)
    for alone in ALONE if hook == "python" else (False, True):
        assert all(entry["outcome"] == final
                   for entry in [e for e in outcomes if e["alone"] == alone][-TAIL[hook]:])
    failures = [entry for entry in outcomes if entry["outcome"] != final]
    # The sweep made some allocation of the call fail, unless the call
    # allocates nothing the hooks see (its results are cached ints or None).
    # From 3.11 on the interpreter itself may allocate on a call's way in, so
    # only the first half of that holds there.
    if hook == "cxx":
        assert failures or name not in CXX_ALLOCATING
    elif name not in ALLOCATE_NOTHING:
        assert failures
    elif sys.version_info < (3, 11):
        assert not failures, failures
    for entry in failures:
        kind, message = entry["outcome"]
        if kind == "PanicException":
            assert message.startswith(PANIC_MESSAGES) or [kind, message] == final, entry
        elif kind == "TypeError" and entry["alone"]:
            # CPython raises a TypeError without its message when the message
            # alone cannot be made: the refused call keeps its exception, and
            # a converted argument's keeps its prefix.
            assert final[0] == kind and message in ("", final[1][:final[1].find(": ") + 2]), entry
        else:
            assert kind == "MemoryError", entry
        # Unchanged, or edited whole (an internal failure keeps what it wrote).
        assert entry["state"] in ([report["rows"]] + [report["edited"]] * report["edits"]), entry
    # Ten more rounds of the failing attempts leave (next to) nothing behind.
    _, once, ten_times = report["blocks"]
    assert ten_times - once < max(10, len(failures)), report["blocks"]



LIMITED_MEMORY = r"""
import resource, sys
from quorvel import Matrix

width, first = int(sys.argv[1]), int(sys.argv[2])
height = 96
m = Matrix([bytes([first]) * width] + [bytes(width)] * (height - 1))
with open("/proc/self/statm") as statm:
    size = int(statm.read().split()[0]) * resource.getpagesize()
# Room for the interpreter to go on, not for another copy of the matrix.
resource.setrlimit(resource.RLIMIT_AS, (size + (32 << 20), resource.RLIM_INFINITY))
outcomes = []
calls = [m.copy, m.echelon_form, m.row_echelon_full_matrix, m.echelon_form_last_row,
         lambda: m.get_sub_matrix(0, height), m.to_list, m.kernel]
if first == 1:
    # Moving the packed rows to bytes needs 768 MiB: the matrix stays as it is.
    calls.append(lambda: m.append_column([2] * height))
for call in calls:
    try:
        call()
        outcomes.append("ok")
    except MemoryError:
        outcomes.append("MemoryError")
    except BaseException as error:
        outcomes.append(type(error).__name__ + ": " + str(error))
resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
assert m.nrows() == height and m.ncols() == width and m.get(0, width - 1) == first
m.swap_rows(0, 1)
print(" | ".join(outcomes))
"""


@pytest.mark.skipif(SANITIZED,
                    reason="the address sanitizer reserves more address space than any limit")
@LIST_FAILURE_CRASHES
@pytest.mark.skipif(EMULATED, reason="under qemu-user the limit applies to the emulator, "
                    "whose reserved guest address space exceeds it, so the child is killed")
# Packed 0/1 rows of 2^23 entries, and rows held as bytes (an entry 2) of 2^20.
@pytest.mark.parametrize("width, first", [(1 << 23, 1), (1 << 20, 2)])
def test_rows_that_cannot_be_allocated_end_the_call_with_memory_error(width, first):
    process = subprocess.run([sys.executable, "-X", "dev", "-c", LIMITED_MEMORY, str(width), str(first)],
                             capture_output=True, text=True, timeout=300)
    assert process.returncode == 0, process.stderr[-3000:]
    outcomes = process.stdout.strip().split(" | ")
    # Each copy of the rows needs 96 MiB: none fits, none ends the process.
    for outcome in outcomes:
        assert outcome in ("MemoryError", "PanicException: Python API call failed"), outcomes
    assert outcomes[:5] == ["MemoryError"] * 5


if __name__ == "__main__":
    print(json.dumps(sweep(*sys.argv[1:])))
