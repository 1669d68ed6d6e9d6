"""Helpers of the algebra tests: running the module and the model side by
side, random 0/1 inputs, and GF(2) facts computed independently of both.
"""

import random

import model
from quorvel import Matrix

NONE_MESSAGE = "called `Option::unwrap()` on a `None` value"


def index_message(length, index):
    return f"index out of bounds: the len is {length} but the index is {index}"


def leading(row):
    """The position of the first entry equal to 1, or None."""
    for position, entry in enumerate(row):
        if entry == 1:
            return position
    return None


# --- running the module and the model side by side ------------------------------


def outcome(call):
    """("ok", value) or ("fail", message) for a call of the module or the model."""
    try:
        return ("ok", call())
    except model.ModelPanic as failure:
        return ("fail", str(failure))
    except BaseException as error:  # PanicException derives from BaseException
        if type(error).__name__ != "PanicException":
            raise
        return ("fail", str(error))


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


def model_outcome(rows, name):
    """outcome() of the model's method `name` on a copy of `rows`, an
    elimination's matrix given as a list."""

    def run():
        result = getattr(model.Matrix.of([list(r) for r in rows]), name)()
        if isinstance(result, tuple):
            matrix, log = result
            return (matrix.to_list(), log)
        return result

    return outcome(run)


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
