"""Several Python threads on one shared matrix and on their own matrices,
with index methods that give the interpreter lock away in the middle of a
call, and lists that another thread changes while they are read.  Only the
borrow RuntimeErrors may appear, every result read is consistent, the
final matrix is the one the successful calls imply, and a matrix that one
thread alone used gives exactly the results and logs of a single thread.
Without the GIL (a free-threaded interpreter), the calls truly overlap."""

import random
import sys
import threading
import time

import pytest

from quorvel import Matrix

pytestmark = pytest.mark.thread_unsafe(reason="starts threads of its own and sets the switch interval")

WIDTH = 12
SOURCES = range(0, 4)
TARGETS = range(4, 8)
BORROW_ERRORS = {"Already borrowed", "Already mutably borrowed"}


class Yielding:
    """An index or entry whose __index__ lets other threads run first."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        time.sleep(0)
        return self.value


def yielding(values):
    return [Yielding(v) for v in values]


def is_reduced(rows):
    leads = [row.index(1) for row in rows if 1 in row]
    zero_rows = rows[len(leads):]
    return (leads == sorted(set(leads)) and all(not any(row) for row in zero_rows)
            and all([row[j] for row in rows].count(1) == 1 for j in leads))


def own_step(r, own):
    """One call on a matrix that only this thread uses, and what it gave."""
    target, source = r.randrange(6), r.randrange(6)
    kind = r.randrange(4)
    if kind == 0:
        own.add_rows(Yielding(target), Yielding(source))
        own.swap_rows(Yielding(source), target)
        return own.to_list()
    if kind == 1:
        result, log = own.echelon_form()
        return result.to_list(), log
    if kind == 2:
        result, log = own.row_echelon_full_matrix()
        return result.to_list(), log, own.rank(), own.kernel()
    reduced = Matrix([row for row in own.echelon_form()[0].to_list() if any(row)])
    reduced.append_row([r.randint(0, 1) for _ in range(WIDTH)])
    result, log = reduced.echelon_form_last_row_dep()
    return result.to_list(), log


class Churn(threading.Thread):
    """Changes a list of rows and a list of entries until told to stop."""

    def __init__(self, rows):
        super().__init__()
        self.known = {tuple(row) for row in rows}
        self.rows = list(rows)
        self.entries = [0] * WIDTH
        self.stop = threading.Event()

    def run(self):
        r = random.Random(5)
        while not self.stop.is_set():
            self.rows.append(list(r.choice(list(self.known))))
            if len(self.rows) > 6:
                self.rows.pop(r.randrange(len(self.rows)))
            if r.random() < 0.1:
                self.rows.clear()
            self.entries.append(r.randint(0, 1))
            if len(self.entries) > WIDTH + 2 or r.random() < 0.3:
                del self.entries[r.randrange(len(self.entries)):]
            time.sleep(0)


class Worker(threading.Thread):
    def __init__(self, seed, shared, appendable, churn, barrier):
        super().__init__()
        self.random = random.Random(seed)
        self.shared = shared
        self.appendable = appendable
        self.churn = churn
        self.barrier = barrier
        self.added = {}        # (target, source) -> successful add_rows
        self.appended = []     # rows appended successfully
        self.conflicts = 0
        self.unexpected = []
        own_rows = [[self.random.randint(0, 1) for _ in range(WIDTH)] for _ in range(6)]
        self.own = Matrix(own_rows)
        self.replay = (Matrix(own_rows), random.Random(seed))
        self.own_random = random.Random(seed)
        self.own_seen = []

    def step(self):
        r = self.random
        choice = r.randrange(8)
        m = self.shared
        if choice == 0:
            target, source = r.choice(TARGETS), r.choice(SOURCES)
            m.add_rows(Yielding(target), Yielding(source))
            self.added[target, source] = self.added.get((target, source), 0) + 1
        elif choice == 1:
            row = r.choice(self.appendable)
            m.append_row(yielding(row))
            self.appended.append(tuple(row))
        elif choice == 2:
            result, log = m.echelon_form()
            rows = result.to_list()
            assert all(len(row) == WIDTH for row in rows)
            assert is_reduced(rows)
            assert all(t != s for t, s in log)
        elif choice == 3:
            value = m.get(Yielding(r.randrange(8)), Yielding(r.randrange(WIDTH)))
            assert value in (0, 1)
        elif choice == 4:
            rows = m.to_list()
            assert all(len(row) == WIDTH for row in rows) and len(rows) >= 8
            assert not m.is_zero_row(Yielding(0)) or not any(rows[0])
        elif choice == 5:
            # Lists that the churning thread changes meanwhile: the rows read
            # are rows it held, and the entries a run of its 0s and 1s.
            assert {tuple(row) for row in Matrix(self.churn.rows).to_list()} <= self.churn.known
            single = Matrix([])
            single.append_row(self.churn.entries)
            assert set(single.to_list()[0]) <= {0, 1} and len(single.to_list()[0]) <= WIDTH + 2
        else:
            self.own_seen.append(own_step(self.own_random, self.own))

    def run(self):
        self.barrier.wait()
        for _ in range(250):
            try:
                self.step()
            except RuntimeError as error:
                if str(error) in BORROW_ERRORS:
                    self.conflicts += 1
                else:
                    self.unexpected.append(repr(error))
            except BaseException as error:  # noqa: B902 - anything else is a fault
                self.unexpected.append(repr(error))

    def check_own(self):
        """The thread's own matrix gave what one thread alone gets."""
        own, r = self.replay
        assert [own_step(r, own) for _ in self.own_seen] == self.own_seen


def test_shared_and_own_matrices_under_thread_switches():
    # Whether the threads meet inside a call depends on the scheduler: on a
    # loaded or emulated machine a round can pass without a conflict, so the
    # rounds go on, each checked in full, until one has had some.
    rng = random.Random(7)
    assert any(run_round(rng, number) > 0 for number in range(8))


def run_round(rng, number):
    initial = [[rng.randint(0, 1) for _ in range(WIDTH)] for _ in range(8)]
    initial[0][0] = 1
    appendable = [[rng.randint(0, 1) for _ in range(WIDTH)] for _ in range(5)]
    shared = Matrix(initial)

    churn = Churn(appendable)
    barrier = threading.Barrier(6)
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        workers = [Worker(6 * number + seed, shared, appendable, churn, barrier) for seed in range(6)]
        churn.start()
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
    finally:
        churn.stop.set()
        churn.join()
        sys.setswitchinterval(interval)

    assert [w.unexpected for w in workers] == [[]] * len(workers)
    # The threads got work done.
    assert sum(len(w.appended) + sum(w.added.values()) for w in workers) > 0

    # Sources are never edited; each target holds its start plus each source
    # as often as additions of it succeeded, modulo 2.
    expected = [list(row) for row in initial]
    for worker in workers:
        for (target, source), count in worker.added.items():
            if count % 2:
                expected[target] = [a ^ b for a, b in zip(expected[target], initial[source])]
    final = shared.to_list()
    assert final[:8] == expected
    appended = sorted(row for w in workers for row in w.appended)
    assert sorted(tuple(row) for row in final[8:]) == appended

    for worker in workers:
        worker.check_own()
    return sum(w.conflicts for w in workers)


def test_exclusive_call_blocks_every_other_thread_until_it_returns():
    m = Matrix([[1, 0], [0, 1]])
    seen = []
    release = threading.Event()

    class Holding:
        def __index__(self):
            started.set()
            release.wait(5)
            return 1

    def other():
        started.wait(5)
        for call in (lambda: m.get(0, 0), lambda: m.swap_rows(0, 1), m.echelon_form,
                     lambda: m.append_row([1])):
            try:
                call()
                seen.append("ok")
            except RuntimeError as error:
                seen.append(str(error))
        release.set()

    started = threading.Event()
    thread = threading.Thread(target=other)
    thread.start()
    m.swap_rows(0, Holding())
    thread.join()
    assert seen == ["Already mutably borrowed", "Already borrowed", "Already mutably borrowed",
                    "Already borrowed"]
    assert m.to_list() == [[0, 1], [1, 0]]
