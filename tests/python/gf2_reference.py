"""A slow, entry-by-entry model of the matrix operations, and test helpers.

The model works on lists of lists of ints and raises `Failure(message)` where
the module raises PanicException(message).  It is written step by step from
the documented behaviour, independently of the C++ code, so that random
inputs (ragged rows, entries other than 0 and 1) can be compared with the
module result for result and message for message.
"""

import random

from quorvel import Matrix


class Failure(Exception):
    """An internal failure of the model, carrying the module's message."""


NONE_MESSAGE = "called `Option::unwrap()` on a `None` value"


def index_message(length, index):
    return f"index out of bounds: the len is {length} but the index is {index}"


def check(index, length):
    if index >= length:
        raise Failure(index_message(length, index))


def ncols(rows):
    return len(rows[0]) if rows else 0


# --- row edits ---------------------------------------------------------------


def add_rows(rows, target, source):
    width = ncols(rows)
    for i in range(width):
        check(source, len(rows))
        check(i, len(rows[source]))
        check(target, len(rows))
        check(i, len(rows[target]))
        rows[target][i] ^= rows[source][i]


def swap_rows(rows, row1, row2):
    check(row1, len(rows))
    check(row2, len(rows))
    rows[row1], rows[row2] = rows[row2], rows[row1]


def is_zero_row(rows, row):
    check(row, len(rows))
    return all(entry == 0 for entry in rows[row])


def append_column(rows, v):
    for i in range(len(rows)):
        check(i, len(v))
        rows[i].append(v[i])


# --- echelon forms -------------------------------------------------------------


def echelon(receiver, full):
    """echelon_form() (full=False) or row_echelon_full_matrix() (full=True)."""
    w = [list(r) for r in receiver]
    n, m = len(w), ncols(w)
    log = []
    i = j = 0
    while j < m and i < n:
        k = i
        while k < n:
            check(j, len(w[k]))
            if (w[k][j] != 0) if full else (w[k][j] == 1):
                break
            k += 1
        if k == n:
            j += 1
            continue
        if k != i:
            swap_rows(w, i, k)
            log += [(i, k), (k, i), (i, k)]
        for r in range(n):
            if r == i:
                continue
            check(j, len(w[r]))
            if w[r][j] == 1:
                if full:
                    for x in range(m):
                        check(x, len(w[r]))
                        check(x, len(w[i]))
                        w[r][x] = (w[r][x] + w[i][x]) & 1
                else:
                    add_rows(w, r, i)
                log.append((r, i))
        i += 1
        j += 1
    return w, log


# --- last-row reduction --------------------------------------------------------


def leading(row):
    for position, entry in enumerate(row):
        if entry == 1:
            return position
    return None


def last_row(receiver, dep, d5_width_at_start=False):
    """echelon_form_last_row() (dep=False) or echelon_form_last_row_dep().

    `d5_width_at_start` reads the last column of rule D5 from the width taken
    at the start instead of the length that row 0 has when the rule applies.
    """
    n = len(receiver)
    if n == 0:
        raise Failure(index_message(0, 2**64 - 1))
    w = [list(r) for r in receiver]
    last = n - 1
    width = len(w[0])
    log = []
    cleared = False
    for _ in range(width):
        p = leading(w[last])
        if p is None:
            cleared = True
            break
        best = n - 1 if dep else n
        candidate = match = None
        for i in range(n - 1):
            q = leading(w[i])
            if q == p:
                match = i
                break
            if q is None:
                if candidate is None:
                    candidate = i
                if dep:
                    continue
                break
            if q > p and q - p < best:
                candidate, best = i, q - p
        if match is not None:
            add_rows(w, last, match)
            log.append((last, match))
        elif candidate is not None:
            swap_rows(w, last, candidate)
            log += [(candidate, last), (last, candidate), (candidate, last)]
        elif dep:
            return w, log
        else:
            raise Failure(NONE_MESSAGE)
    if not cleared:
        return w, log
    for t in range(n - 2 if dep else n - 1, 0, -1):
        u = t - 1
        if all(entry == 0 for entry in w[t]):
            continue
        pt = leading(w[t])
        if pt is None:
            raise Failure(NONE_MESSAGE)
        pu = leading(w[u])
        if pu is None or pt < pu:
            w[t], w[u] = w[u], w[t]
            log += [(t, u), (u, t), (t, u)]
        elif pt == pu:
            last_column = (width if d5_width_at_start else len(w[0])) - 1
            if not dep or pt == last_column:
                add_rows(w, t, u)
                log.append((t, u))
    return w, log


# --- rank and kernel -------------------------------------------------------------


def rank(rows):
    return len({leading(r) for r in rows} - {None})


def kernel(rows):
    n, m = len(rows), ncols(rows)
    pivots = {}
    free = []
    r = 0
    for j in range(m):
        if r < n:
            check(j, len(rows[r]))
            if rows[r][j] == 1:
                pivots[j] = r
                r += 1
                continue
        free.append(j)
    basis = []
    for f in free:
        v = [0] * m
        v[f] = 1
        for p, q in pivots.items():
            a = 0
            for k in range(m - 1, -1, -1):
                if k == p:
                    continue
                check(k, len(rows[q]))
                a ^= (rows[q][k] * v[k]) & 0xFF
            v[p] = a
        basis.append(v)
    return basis


# --- running the module and the model side by side ------------------------------


def outcome(call):
    """("ok", value) or ("fail", message) for a call of the module or the model."""
    try:
        return ("ok", call())
    except Failure as failure:
        return ("fail", str(failure))
    except BaseException as error:  # PanicException derives from BaseException
        if type(error).__name__ != "PanicException":
            raise
        return ("fail", str(error))


def panic_message(call):
    """The message of the PanicException that `call` raises."""
    result = outcome(call)
    assert result[0] == "fail", f"expected an internal failure, got {result[1]!r}"
    return result[1]


class Reenter:
    """An index whose __index__ first calls `inner` (a method of a matrix
    under test) and records what it returned or raised.  With `propagate` the
    inner exception leaves __index__; otherwise __index__ returns `value`."""

    def __init__(self, inner, value=0, propagate=False):
        self.inner, self.value, self.propagate = inner, value, propagate
        self.result = self.error = None
        self.calls = 0

    def __index__(self):
        self.calls += 1
        try:
            self.result = self.inner()
        except RuntimeError as error:
            self.error = error
            if self.propagate:
                raise
        return self.value


def elimination_outcome(call):
    """outcome() of a module elimination, with the matrix as a list."""
    result = outcome(call)
    if result[0] == "ok":
        matrix, log = result[1]
        return ("ok", (matrix.to_list(), log))
    return result


# --- random inputs and GF(2) helpers ---------------------------------------------


SHAPES = [(0, 0), (0, 3), (1, 0), (3, 0), (1, 1), (1, 7), (7, 1), (2, 2), (3, 3),
          (2, 9), (9, 2), (5, 5), (4, 12), (12, 4), (8, 8), (16, 10), (10, 16),
          (40, 33)]


def random_binary(rng, n, m):
    """A random n x m 0/1 matrix; some have repeated or summed rows, so that
    rank-deficient inputs come up often."""
    density = rng.choice([0.1, 0.3, 0.5, 0.8])
    rows = [[int(rng.random() < density) for _ in range(m)] for _ in range(n)]
    if n >= 2 and rng.random() < 0.5:
        a, b, c = (rng.randrange(n) for _ in range(3))
        rows[c] = [x ^ y for x, y in zip(rows[a], rows[b])]
    return rows


def binary_matrices(seed, per_shape):
    rng = random.Random(seed)
    for n, m in SHAPES:
        for _ in range(per_shape):
            yield random_binary(rng, n, m)


def bits(row):
    """A 0/1 row as a Python int, entry j being bit j."""
    return sum(1 << j for j, entry in enumerate(row) if entry)


def gf2_rank(rows):
    """The GF(2) rank by elimination on ints, independent of the module."""
    basis = {}  # highest bit -> vector with that highest bit
    for row in rows:
        x = bits(row)
        while x:
            top = x.bit_length() - 1
            if top not in basis:
                basis[top] = x
                break
            x ^= basis[top]
    return len(basis)


def is_rref(rows):
    """Reduced row echelon form: leading 1s strictly rightwards, zero rows
    last, every pivot column 1 in its row and 0 elsewhere."""
    previous = -1
    seen_zero = False
    for i, row in enumerate(rows):
        lead = leading(row)
        if lead is None:
            if any(row):
                return False
            seen_zero = True
            continue
        if seen_zero or lead <= previous:
            return False
        if any(rows[k][lead] != (k == i) for k in range(len(rows))):
            return False
        previous = lead
    return True


def replay(rows, log):
    """The module's add_rows applied to a copy of `rows` for each log pair."""
    copy = Matrix(rows)
    for target, source in log:
        copy.add_rows(target, source)
    return copy.to_list()
