"""quorvel beside the Python libraries a user might pick instead for GF(2).

Five systems, five tasks, each (system, task, size) in a fresh interpreter:

    quorvel   this module: m.echelon_form() (its log included), then rank()
              or kernel() of the reduced copy; the streaming test by
              append_row() and echelon_form_last_row_dep()
    galois    GF(2) arrays: row_reduce(), null_space(), np.linalg.matrix_rank
    ldpc      ldpc.mod2: rank(), nullspace(), row_echelon(full=True)
    flint     python-flint's nmod_mat(..., 2): rref(), rank(), nullspace()
    numpy     a bit-packed uint64 Gauss-Jordan written below, the "do it
              yourself" baseline

Tasks, for n in --sizes: the rank of a random n x n matrix; its reduced row
echelon form; a kernel basis of a random n/2 x n matrix (n/2 vectors, so
that the check below means something; a square one has a kernel of 0 to 2
vectors); the rank of an LDPC-like n x 2n check matrix (3 ones in each
column); and streaming independence: 2000 random vectors of length 1500,
each tested against the basis of those kept so far (the size is fixed).

What is timed: the call alone, on input already in the library's own form
(a Matrix, a GF(2) array, an nmod_mat, packed words; ldpc takes the numpy
array or, for the sparse task, a scipy CSR matrix, and converts inside the
call), after one warm-up call on a small input (numba compiles galois's
kernels on first use).  Processor time (time.process_time, all threads).
The first call gives the result and the peak memory; one that took 0.5 s or
more is the time, a shorter one is followed by batches of calls (each batch
at least 2 ms, its results kept to its end) until 1 s has passed or 7
batches were timed, and their median is the time.  Peak memory: the growth
of the child's peak resident size (VmHWM, reset through
/proc/self/clear_refs) over its resident size just before the first call,
the result included.

A minute a call: the child says when its call starts, the parent reads the
child's processor time from /proc every 0.1 s and ends it once the call has
used 60 s; that call is shown as "> 60 s".  A size is not run, and shown as
"> 60 s (not run: est. ...)", when the time at the size before times
(n / n_before)^2 already exceeds the limit: no task here takes less than
quadratic time, its input alone having n^2 entries.

Checks, before any time counts: every system gives the same rank; the same
reduced echelon form (it is unique); a kernel of the same dimension, that
the matrix annihilates mod 2, whose vectors are independent, and whose
dimension plus the rank is n; and the same verdicts on the stream.  A failed
check, or a call that raised, is printed and makes the script exit with 1;
timings never do.

    PYTHONPATH=build/bench/python python bench/peers.py \\
        [--quick] [--sizes 64,256] [--json out.json] [--plot bench/peers.png] \\
        [--core-bench build/bench/bench/quorvel_core_bench]
    python bench/peers.py --report run1.json [run2.json] --plot bench/peers.png

--core-bench adds the core's elimination with its log but without the
Python tuples (core_bench.cpp's echelon_in_place/n/n) to the rank and rref
tasks.  Requirements: the `bench` dependency group of pyproject.toml.
"""

import argparse
import gc
import hashlib
import json
import math
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

SYSTEMS = ("quorvel", "galois", "ldpc", "flint", "numpy")
TASKS = ("rank", "rref", "kernel", "sparse_rank", "stream")
TITLES = {
    "rank": "rank, random n x n",
    "rref": "reduced echelon form, random n x n",
    "kernel": "kernel basis, random n/2 x n",
    "sparse_rank": "rank, LDPC-like n x 2n (column weight 3)",
    "stream": "streaming independence",
}
SIZES = (64, 256, 1024, 4096)
QUICK_SIZES = (32,)
STREAM = (2000, 1500)
QUICK_STREAM = (100, 80)
LIMIT = 60.0
SEED = 35


# ---------------------------------------------------------------- inputs

def random_bits(rows, cols, tag):
    """A random 0/1 uint8 matrix, the same for the same arguments."""
    rng = np.random.default_rng([SEED, tag, rows, cols])
    return rng.integers(0, 2, (rows, cols), dtype=np.uint8)


def ldpc_like(m):
    """An m x 2m matrix with 3 ones in distinct rows of every column."""
    rng = np.random.default_rng([SEED, 3, m])
    picks = rng.integers(0, m, (2 * m, 3))
    while True:
        clash = (picks[:, 0] == picks[:, 1]) | (picks[:, 0] == picks[:, 2]) | (picks[:, 1] == picks[:, 2])
        if not clash.any():
            break
        picks[clash] = rng.integers(0, m, (int(clash.sum()), 3))
    h = np.zeros((m, 2 * m), dtype=np.uint8)
    h[picks.ravel(), np.repeat(np.arange(2 * m), 3)] = 1
    return h


def task_input(task, size):
    """The input of a task: an array; for "stream", size is (count, width)."""
    if task == "stream":
        return random_bits(size[0], size[1], 4)
    if task == "kernel":
        return random_bits(max(size // 2, 1), size, 2)
    if task == "sparse_rank":
        return ldpc_like(size)
    return random_bits(size, size, 1)


# ------------------------------------------------ numpy, do it yourself

def pack(a):
    """0/1 uint8 rows as uint64 words, column j in bit j % 64 of word j // 64."""
    padded = np.zeros((a.shape[0], -(-a.shape[1] // 64) * 64), dtype=np.uint8)
    padded[:, :a.shape[1]] = a
    return np.packbits(padded, axis=1, bitorder="little").view("<u8")


def unpack(words, ncols):
    return np.unpackbits(words.view(np.uint8), axis=1, bitorder="little")[:, :ncols]


def gauss_jordan(words, ncols):
    """Reduced row echelon form of packed rows: (new words, pivot columns)."""
    a, pivots = words.copy(), []
    for c in range(ncols):
        r = len(pivots)
        col = (a[:, c // 64] >> np.uint64(c % 64)) & np.uint64(1)
        hits = np.flatnonzero(col[r:])
        if hits.size == 0:
            continue
        p = r + hits[0]
        a[[r, p]], col[[r, p]] = a[[p, r]], col[[p, r]]
        col[r] = 0
        a[col.astype(bool)] ^= a[r]
        pivots.append(c)
        if len(pivots) == len(a):
            break
    return a, pivots


def kernel_of_rref(words, pivots, ncols):
    """The null-space basis of a reduced echelon form, one row per free column."""
    free = np.setdiff1d(np.arange(ncols), pivots)
    basis = np.zeros((free.size, ncols), dtype=np.uint8)
    basis[np.arange(free.size), free] = 1
    basis[:, pivots] = unpack(words[:len(pivots)], ncols)[:, free].T
    return basis


class PackedBasis:
    """Kept vectors as packed rows in reduced echelon form, for the stream."""

    def __init__(self, capacity, nwords):
        self.rows = np.zeros((capacity, nwords), dtype=np.uint64)
        self.word, self.bit = [], []

    def offer(self, v):
        r = len(self.word)
        coefficients = (v[self.word] >> np.array(self.bit, dtype=np.uint64)) & np.uint64(1)
        if coefficients.any():
            v = v ^ np.bitwise_xor.reduce(self.rows[:r][coefficients.astype(bool)], axis=0)
        nonzero = np.flatnonzero(v)
        if nonzero.size == 0:
            return False
        word = int(nonzero[0])
        bit = (int(v[word]) & -int(v[word])).bit_length() - 1
        above = (self.rows[:r, word] >> np.uint64(bit)) & np.uint64(1)
        self.rows[:r][above.astype(bool)] ^= v
        self.rows[r] = v
        self.word.append(word)
        self.bit.append(bit)
        return True


# ------------------------------------------------------------- systems

class Quorvel:
    """Every elimination is echelon_form(), which returns its log."""

    def __init__(self):
        from quorvel import Matrix
        self.matrix = Matrix

    def prepare(self, task, a):
        return [bytes(row) for row in a] if task == "stream" else self.matrix(a)

    def rank(self, m):
        return m.echelon_form()[0].rank()

    sparse_rank = rank

    def rref(self, m):
        return m.echelon_form()

    def kernel(self, m):
        return m.echelon_form()[0].kernel()

    def stream(self, vectors):
        basis, verdicts = self.matrix([]), []
        for v in vectors:
            last = basis.nrows()
            basis.append_row(v)
            reduced, _ = basis.echelon_form_last_row_dep()
            independent = not reduced.is_zero_row(last)
            basis = reduced if independent else reduced.get_sub_matrix(0, last)
            verdicts.append(independent)
        return verdicts

    def plain(self, task, out):
        if task == "rref":
            return np.array(out[0].to_list(), dtype=np.uint8)
        if task == "kernel":
            return np.array(out, dtype=np.uint8)
        return out


class Galois:
    def __init__(self):
        import galois
        self.field = galois.GF(2)

    def prepare(self, task, a):
        return self.field(a)

    def rank(self, a):
        return int(np.linalg.matrix_rank(a))

    sparse_rank = rank

    def rref(self, a):
        return a.row_reduce()

    def kernel(self, a):
        return a.null_space()

    def stream(self, vectors):
        """The kept vectors in reduced echelon form; one vector-matrix
        product reduces a new vector, one addition per row clears its pivot."""
        width = vectors.shape[1]
        basis, pivots, verdicts = self.field.Zeros((width, width)), [], []
        for v in vectors:
            r = len(pivots)
            if r:
                v = v + v[pivots] @ basis[:r]
            nonzero = np.flatnonzero(v)
            verdicts.append(nonzero.size > 0)
            if nonzero.size:
                basis[np.flatnonzero(basis[:r, nonzero[0]])] += v
                basis[r] = v
                pivots.append(int(nonzero[0]))
        return verdicts

    def plain(self, task, out):
        return out if task in ("rank", "sparse_rank", "stream") else out.view(np.ndarray).astype(np.uint8)


class Ldpc:
    def __init__(self):
        import ldpc.mod2
        self.mod2 = ldpc.mod2

    def prepare(self, task, a):
        if task == "sparse_rank":
            import scipy.sparse
            return scipy.sparse.csr_matrix(a)
        return a

    def rank(self, a):
        return self.mod2.rank(a)

    sparse_rank = rank

    def rref(self, a):
        return self.mod2.row_echelon(a, full=True)[0]

    def kernel(self, a):
        return self.mod2.nullspace(a)

    def stream(self, vectors):
        """ldpc.mod2 offers no incremental test: the rank of the kept
        vectors with the new one appended, against their number."""
        width = vectors.shape[1]
        kept, verdicts = np.zeros((width + 1, width), dtype=np.uint8), []
        for v in vectors:
            r = sum(verdicts)
            kept[r] = v
            verdicts.append(self.mod2.rank(kept[:r + 1]) > r)
        return verdicts

    def plain(self, task, out):
        if task == "kernel":
            return out.toarray().astype(np.uint8)
        return np.asarray(out, dtype=np.uint8) if task == "rref" else out


class Flint:
    def __init__(self):
        import flint
        self.flint = flint

    def prepare(self, task, a):
        if task == "stream":
            return [self.flint.nmod_mat(1, a.shape[1], row.tolist(), 2) for row in a]
        return self.flint.nmod_mat(a.shape[0], a.shape[1], a.ravel().tolist(), 2)

    def rank(self, m):
        return m.rank()

    sparse_rank = rank

    def rref(self, m):
        return m.rref()

    def kernel(self, m):
        return m.nullspace()

    def stream(self, vectors):
        """nmod_mat has no row append: each kept vector is a 1 x w nmod_mat,
        and a new one is reduced by them in the order they were kept."""
        rows, pivots, verdicts = [], [], []
        zero = self.flint.nmod_mat(1, vectors[0].ncols(), 2)
        for v in vectors:
            for row, p in zip(rows, pivots):
                if int(v[0, p]):
                    v = v + row
            verdicts.append(v != zero)
            if verdicts[-1]:
                rows.append(v)
                pivots.append([int(x) for x in v.entries()].index(1))
        return verdicts

    def plain(self, task, out):
        if task == "rref":
            m = out[0]
            return np.array([int(x) for x in m.entries()], dtype=np.uint8).reshape(m.nrows(), m.ncols())
        if task == "kernel":
            x, nullity = out
            whole = np.array([int(e) for e in x.entries()], dtype=np.uint8).reshape(x.nrows(), x.ncols())
            return np.ascontiguousarray(whole[:, :nullity].T)
        return out


class Numpy:
    def prepare(self, task, a):
        return (pack(a), a.shape[1])

    def rank(self, packed):
        return len(gauss_jordan(*packed)[1])

    sparse_rank = rank

    def rref(self, packed):
        return (*gauss_jordan(*packed), packed[1])

    def kernel(self, packed):
        return kernel_of_rref(*gauss_jordan(*packed), packed[1])

    def stream(self, packed):
        words, _ = packed
        basis = PackedBasis(words.shape[1] * 64, words.shape[1])
        return [basis.offer(v) for v in words]

    def plain(self, task, out):
        return unpack(out[0], out[2]) if task == "rref" else out


def make_system(name):
    return {"quorvel": Quorvel, "galois": Galois, "ldpc": Ldpc, "flint": Flint, "numpy": Numpy}[name]()


# ------------------------------------------------------------ the child

def status(field):
    """A field of /proc/self/status, in bytes."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field} in /proc/self/status")


def used_cpu():
    """Processor time of this process so far, every thread, as the parent
    reads it from /proc/<pid>/stat."""
    used = resource.getrusage(resource.RUSAGE_SELF)
    return used.ru_utime + used.ru_stime


def batch(call, number):
    """Processor time of one call, averaged over `number` calls whose
    results are kept until the timing ends and freed outside it."""
    results = [None] * number
    start = time.process_time()
    for k in range(number):
        results[k] = call()
    elapsed = time.process_time() - start
    del results
    return elapsed / number


def timed_calls(call):
    """(result, processor times, wall time, peak growth) of call().  The first
    call gives the result and the peak memory; one under 0.5 s is followed by
    batches of calls (each batch at least 2 ms) until 1 s has passed or 7
    batches were timed, and those batches give the times."""
    gc.collect()
    base = status("VmRSS")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    print(f"started {used_cpu()}", flush=True)
    start, wall = time.process_time(), time.perf_counter()
    first = call()
    cpu, wall = time.process_time() - start, time.perf_counter() - wall
    peak = status("VmHWM") - base
    if cpu >= 0.5:
        return first, [cpu], wall, peak
    number = 1 if cpu >= 2e-3 else math.ceil(2e-3 / max(cpu, 1e-6))
    times = []
    while len(times) < 7 and sum(times) * number < 1.0:
        times.append(batch(call, number))
    return first, times, wall, peak


def warm_up(system, task):
    small = (8, 16) if task == "stream" else 16
    getattr(system, task)(system.prepare(task, task_input(task, small)))


def child(name, task, size):
    system = make_system(name)
    warm_up(system, task)
    a = task_input(task, size)
    prepared = system.prepare(task, a)
    out, times, wall, peak = timed_calls(lambda: getattr(system, task)(prepared))
    record = {"cpu": statistics.median(times), "calls": len(times), "wall": wall, "peak": peak}
    record.update(check_values(task, a, system.plain(task, out)))
    print(json.dumps(record), flush=True)


# ------------------------------------------------------------ checks

def digest(array):
    return hashlib.sha256(np.packbits(np.ascontiguousarray(array, dtype=np.uint8)).tobytes()).hexdigest()[:16]


def check_values(task, a, result):
    """What the parent compares across systems, and what each kernel must be."""
    if task in ("rank", "sparse_rank"):
        return {"rank": int(result)}
    if task == "rref":
        return {"rref": digest(result) + f"/{result.shape}"}
    if task == "stream":
        return {"kept": int(sum(result)), "verdicts": digest(np.array(result, dtype=np.uint8))}
    k = result.reshape(-1, a.shape[1])
    product = (a.astype(np.float32) @ k.T.astype(np.float32)) % 2
    independent = len(gauss_jordan(pack(k), a.shape[1])[1]) == len(k) if len(k) else True
    return {"kernel_dim": len(k), "annihilates": bool((product == 0).all()), "independent": independent}


def agree(task, size, records):
    """Problems with the results of one task at one size, as text."""
    done = {name: r for name, r in records.items() if "cpu" in r}
    problems = [f"{task} n={size}: {name} failed: {r['error']}" for name, r in records.items() if "error" in r]
    for key in ("rank", "rref", "kernel_dim", "kept", "verdicts"):
        values = {r[key] for r in done.values() if key in r}
        if len(values) > 1:
            problems.append(f"{task} n={size}: {key} differs: " + ", ".join(f"{n}={r[key]}" for n, r in done.items()))
    if task == "kernel" and done:
        a = task_input(task, size)
        nullity = a.shape[1] - len(gauss_jordan(pack(a), a.shape[1])[1])
        for name, r in done.items():
            if not (r["annihilates"] and r["independent"] and r["kernel_dim"] == nullity):
                problems.append(f"kernel n={size}: {name} gives {r}, the nullity is {nullity}")
    return problems


# ------------------------------------------------------------ the parent

def run_child(name, task, size, limit):
    """The child's record, or why there is none.  The child says when its
    call starts; from then on it may use `limit` seconds of processor time,
    read from /proc every 0.1 s, before it is ended."""
    label = size_label(task, size)
    command = [sys.executable, os.path.abspath(__file__), "--child", name, task, label]
    with tempfile.TemporaryFile("w+") as err, \
            subprocess.Popen(command, stdout=subprocess.PIPE, stderr=err, text=True) as child:
        line = child.stdout.readline()
        over = line.startswith("started") and watch(child, float(line.split()[1]), limit)
        out = child.communicate()[0]
        err.seek(0)
        err = err.read()
    if over:
        return {"over": f"> {limit:.0f} s"}
    if child.returncode != 0 or not out.strip():
        lines = err.strip().splitlines() or [f"exit status {child.returncode}"]
        return {"error": lines[-1]}
    return json.loads(out.strip().splitlines()[-1])


def watch(child, start, limit):
    """Waits for the child; True when it was ended for going over the limit."""
    ticks = os.sysconf("SC_CLK_TCK")
    while child.poll() is None:
        try:
            with open(f"/proc/{child.pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except FileNotFoundError:
            break
        if (int(fields[11]) + int(fields[12])) / ticks - start > limit:
            child.kill()
            child.wait()
            return True
        time.sleep(0.1)
    return False


def excused(previous, size, limit):
    """The record of a size not worth running, or None."""
    if previous is None:
        return None
    before, record = previous
    if "over" in record or "skipped" in record:
        return {"over": f"> {limit:.0f} s", "skipped": f"n = {before} did not finish"}
    if "cpu" in record:
        estimate = record["cpu"] * (size / before) ** 2
        if estimate > limit:
            return {"over": f"> {limit:.0f} s", "skipped": f"est. {estimate:.0f} s from n = {before}"}
    return None


def size_label(task, size):
    return f"{size[0]}x{size[1]}" if task == "stream" else str(size)


def run_all(systems, tasks, sizes, stream, limit):
    results = {"load_start": os.getloadavg(), "sizes": list(sizes), "stream": list(stream),
               "limit": limit, "versions": versions(), "runs": {}}
    for task in tasks:
        runs = results["runs"].setdefault(task, {})
        for name in systems:
            previous = None
            for size in [stream] if task == "stream" else sizes:
                record = excused(previous, size, limit) or run_child(name, task, size, limit)
                runs.setdefault(size_label(task, size), {})[name] = record
                print(f"{task:12} {name:8} {size_label(task, size):>10}: {short(record)}", file=sys.stderr)
                previous = (size, record)
    results["load_end"] = os.getloadavg()
    return results


def versions():
    from importlib import metadata
    found = {"python": sys.version.split()[0]}
    for package in ("numpy", "galois", "numba", "ldpc", "scipy", "python-flint", "matplotlib"):
        try:
            found[package] = metadata.version(package)
        except metadata.PackageNotFoundError:
            found[package] = None
    return found


def short(record):
    if "cpu" in record:
        return f"{seconds(record['cpu'])}, {memory(record['peak'])}"
    return record.get("over", "") + (f" ({record['skipped']})" if "skipped" in record else "") + record.get("error", "")


def memory(size):
    return f"{size / 2**20:.1f} MiB" if size >= 2**20 else f"{size // 1024} KiB"


def seconds(t):
    return f"{t * 1e3:.3g} ms" if t < 1 else f"{t:.3g} s"


def core_times(path, sizes):
    """core_bench's echelon_in_place/n/n: the median processor time of three
    repetitions of the elimination with its log, without the Python tuples."""
    pattern = "^echelon_in_place/(" + "|".join(f"{n}/{n}" for n in sizes) + ")$"
    done = subprocess.run([path, f"--benchmark_filter={pattern}", "--benchmark_format=json",
                           "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
                          capture_output=True, text=True)
    if not done.stdout.strip():  # no size of these is registered there
        return {}
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return {b["run_name"].split("/")[1]: b["cpu_time"] * scale[b["time_unit"]]
            for b in json.loads(done.stdout)["benchmarks"] if b.get("aggregate_name") == "median"}


def all_problems(results):
    problems = []
    for task, by_size in results["runs"].items():
        for label, records in by_size.items():
            size = tuple(map(int, label.split("x"))) if task == "stream" else int(label)
            problems += agree(task, size, records)
    return problems


# ------------------------------------------------------- table and plot

def cell(record, base, again=None):
    """One system at one size: time, ratio to quorvel (of each run), memory.
    quorvel's own cell gives its time in the second run instead of a ratio."""
    if "cpu" not in record:
        text = record.get("over") or "not run: " + record.get("error", "?")
        return text + (f" (not run: {record['skipped']})" if "skipped" in record else "")
    if record is base:
        notes = [f"run 2: {seconds(again[0]['cpu'])}"] if again and "cpu" in again[0] else []
    else:
        notes = [f"{record['cpu'] / base['cpu']:.3g}×"] if base.get("cpu") else []
        if again is not None and "cpu" in again[0] and again[1].get("cpu"):
            notes.append(f"{again[0]['cpu'] / again[1]['cpu']:.3g}×")
    note = f" ({'; '.join(notes)})" if notes else ""
    return f"{seconds(record['cpu'])}{note}, {memory(record['peak'])}"


def table(results, task, second=None):
    """A markdown table of one task: a row per size, a column per system."""
    by_size = results["runs"][task]
    systems = list(next(iter(by_size.values())))
    core = results.get("core") if task in ("rank", "rref") else None
    head = ["n"] + [f"{name} †" if name == "quorvel" else name for name in systems]
    head += ["quorvel core ‡"] if core else []
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for label, records in by_size.items():
        base = records.get("quorvel", {})
        row = [label]
        for name in systems:
            again = None
            if second is not None:
                other = second["runs"][task][label]
                again = (other[name], other.get("quorvel", {}))
            text = cell(records[name], base, again)
            row.append(text + (" †" if name == "quorvel" and "cpu" in records[name] else ""))
        if core:
            row.append(seconds(core[label]) + " ‡" if label in core else "not in core_bench")
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines)


def report(results, second=None):
    text = [f"load average (1, 5, 15 min) at the start {fmt_load(results['load_start'])}, "
            f"at the end {fmt_load(results['load_end'])}; versions: "
            + ", ".join(f"{k} {v}" for k, v in results["versions"].items())]
    for task in results["runs"]:
        text += ["", f"**{TITLES[task]}**", "", table(results, task, second)]
    return "\n".join(text)


def fmt_load(load):
    return ", ".join(f"{x:.2f}" for x in load)


COLOURS = {"quorvel": "C3", "galois": "C0", "ldpc": "C2", "flint": "C1", "numpy": "C7"}


def plot_task(ax, results, task):
    limit = results["limit"]
    for name, colour in COLOURS.items():
        points = [(int(label), records[name]) for label, records in results["runs"][task].items() if name in records]
        done = [(n, r["cpu"]) for n, r in points if "cpu" in r]
        over = [n for n, r in points if "over" in r]
        label = "quorvel (with its log)" if name == "quorvel" else name
        if done:
            ax.plot(*zip(*done), "o-", color=colour, label=label, markersize=4)
        if over:
            ax.plot(over, [limit] * len(over), "^", color=colour, markersize=7, fillstyle="none")
    core = results.get("core")
    if core and task in ("rank", "rref"):
        ax.plot([int(n) for n in core], list(core.values()), "s--", color="C3", alpha=0.5,
                markersize=3, label="quorvel core (C++, log, no tuples)")
    ax.axhline(limit, color="k", linewidth=0.6, linestyle=":", label=f"{limit:.0f} s, the limit a call")
    ax.set(xscale="log", yscale="log", title=TITLES[task], xlabel="n", ylabel="processor time, s")
    ax.set_xticks(results["sizes"], [str(n) for n in results["sizes"]])
    ax.minorticks_off()


def plot_stream(ax, results):
    records = next(iter(results["runs"]["stream"].values()))
    names = [n for n in COLOURS if n in records]
    values = [records[n].get("cpu", results["limit"]) for n in names]
    bars = ax.barh(names, values, color=[COLOURS[n] for n in names], log=True)
    for bar, name in zip(bars, names):
        if "cpu" not in records[name]:
            bar.set_hatch("//")
            bar.set_alpha(0.4)
            ax.text(bar.get_width(), bar.get_y() + bar.get_height() / 2, " > limit", va="center", fontsize=8)
    count, width = results["stream"]
    ax.set(title=f"{TITLES['stream']}: {count} x {width}", xlabel="processor time, s")
    ax.invert_yaxis()


def plot(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(2, 3, figsize=(12, 7.2))
    for ax, task in zip(axes.flat, ("rank", "rref", "kernel", "sparse_rank")):
        if task in results["runs"]:
            plot_task(ax, results, task)
    if "stream" in results["runs"]:
        plot_stream(axes.flat[4], results)
    handles, labels = axes.flat[0].get_legend_handles_labels()
    axes.flat[5].axis("off")
    axes.flat[5].legend(handles, labels, loc="center", title="open triangles: > the limit a call")
    fig.suptitle("Processor time of one call (log-log); quorvel's includes its row-operation log", fontsize=11)
    fig.tight_layout()
    fig.savefig(path, dpi=72)


# --------------------------------------------------------------- main

def arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, a smoke run of seconds")
    parser.add_argument("--sizes", help="comma-separated n, e.g. 64,256")
    parser.add_argument("--systems", default=",".join(SYSTEMS))
    parser.add_argument("--tasks", default=",".join(TASKS))
    parser.add_argument("--limit", type=float, default=LIMIT, help="seconds of processor time a call")
    parser.add_argument("--json", help="write the results here")
    parser.add_argument("--plot", help="write the plot here (PNG)")
    parser.add_argument("--core-bench", help="path of quorvel_core_bench, for the core's elimination")
    parser.add_argument("--report", nargs="+", help="tables (and --plot) from one or two saved runs")
    parser.add_argument("--child", nargs=3, metavar=("SYSTEM", "TASK", "SIZE"), help=argparse.SUPPRESS)
    return parser.parse_args()


def main():
    args = arguments()
    if args.child:
        name, task, label = args.child
        size = tuple(map(int, label.split("x"))) if task == "stream" else int(label)
        return child(name, task, size)
    if args.report:
        runs = [json.load(open(path)) for path in args.report]
        results = runs[0]
        print(report(results, runs[1] if len(runs) > 1 else None))
    else:
        sizes = [int(n) for n in args.sizes.split(",")] if args.sizes else QUICK_SIZES if args.quick else SIZES
        stream = QUICK_STREAM if args.quick else STREAM
        results = run_all(args.systems.split(","), args.tasks.split(","), sizes, stream, args.limit)
        if args.core_bench:
            results["core"] = core_times(args.core_bench, sizes)
        if args.json:
            with open(args.json, "w") as f:
                json.dump(results, f, indent=1)
        print(report(results))
    if args.plot:
        plot(results, args.plot)
    problems = all_problems(results)
    print("\n".join(["", "checks: every system agrees"] if not problems else ["", "CHECKS FAILED:"] + problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
