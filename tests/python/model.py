"""A slow, plain-Python model of quorvel's Matrix, for differential tests.

Rows are lists of ints.  Every operation is written out the long way, one
entry and one check at a time, in the order the checks are made, so that
the model fails at the same entry and with the same message as the module.
Internal failures raise `ModelPanic(message)`; refused arguments raise the
interpreter's own exception types with the module's messages.

The model knows only Python ints, lists and strs as arguments: hostile
objects are tested against the module directly (test_hostile.py).
"""

from methods import METHODS

U64 = 2**64
LONG_MIN, LONG_MAX = -(2**63), 2**63 - 1

UNWRAP_NONE = "called `Option::unwrap()` on a `None` value"
STR_REFUSED = "Can't extract `str` to `Vec`"


class ModelPanic(Exception):
    """An internal failure of the model: the message the module's
    PanicException carries."""

    def __init__(self, message):
        super().__init__(message)
        self.message = message


def index_failure(length, index):
    return ModelPanic(f"index out of bounds: the len is {length} but the index is {index}")


def check(index, length):
    if index >= length:
        raise index_failure(length, index)


# Conversions of arguments --------------------------------------------------


def argument_error(name, error):
    """A conversion error of parameter `name` as the caller sees it."""
    if type(error) is TypeError:
        return TypeError(f"argument '{name}': {error}")
    return error


def to_index(value):
    if type(value) is not int:
        raise TypeError(f"'{type(value).__name__}' object cannot be interpreted as an integer")
    if value < 0:
        raise OverflowError("can't convert negative int to unsigned")
    if value >= U64:
        raise OverflowError("int too big to convert")
    return value


def to_byte(value):
    if type(value) is not int:
        raise TypeError(f"'{type(value).__name__}' object cannot be interpreted as an integer")
    if not LONG_MIN <= value <= LONG_MAX:
        raise OverflowError("Python int too large to convert to C long")
    if not 0 <= value <= 255:
        raise OverflowError("out of range integral type conversion attempted")
    return value


def to_byte_list(value):
    if isinstance(value, str):
        raise TypeError(STR_REFUSED)
    if not isinstance(value, (list, tuple, bytes, bytearray, range)):
        raise TypeError(f"'{type(value).__qualname__}' object cannot be converted to 'Sequence'")
    return [to_byte(item) for item in value]


def to_rows(value):
    if isinstance(value, str):
        raise TypeError(STR_REFUSED)
    if not isinstance(value, (list, tuple, range)):
        raise TypeError(f"'{type(value).__qualname__}' object cannot be converted to 'Sequence'")
    return [to_byte_list(row) for row in value]


class Matrix:
    """The model of one Matrix object: its rows and nothing else."""

    def __init__(self, elements):
        try:
            self.rows = to_rows(elements)
        except (TypeError, OverflowError) as error:
            raise argument_error("elements", error) from None

    @classmethod
    def of(cls, rows):
        made = cls([])
        made.rows = rows
        return made

    def clone(self):
        return Matrix.of([list(row) for row in self.rows])

    # Reading -----------------------------------------------------------------

    def nrows(self):
        return len(self.rows)

    def ncols(self):
        return len(self.rows[0]) if self.rows else 0

    def row(self, i):
        check(i, len(self.rows))
        return self.rows[i]

    def get(self, row, col):
        r = self.row(row)
        check(col, len(r))
        return r[col]

    def get_sub_matrix(self, start, end):
        if end < start:
            raise ModelPanic(f"slice index starts at {start} but ends at {end}")
        if end > len(self.rows):
            raise ModelPanic(f"range end index {end} out of range for slice of length {len(self.rows)}")
        return Matrix.of([list(row) for row in self.rows[start:end]])

    def to_list(self):
        return [list(row) for row in self.rows]

    def copy(self):
        return self.clone()

    def __repr__(self):
        return "[" + ", ".join("[" + ", ".join(str(v) for v in row) + "]" for row in self.rows) + "]"

    # Edits ---------------------------------------------------------------------

    def add_rows(self, target, source):
        if not self.rows or not self.rows[0]:
            return None
        for i in range(len(self.rows[0])):
            check(source, len(self.rows))
            check(i, len(self.rows[source]))
            check(target, len(self.rows))
            check(i, len(self.rows[target]))
            self.rows[target][i] ^= self.rows[source][i]
        return None

    def swap_rows(self, row1, row2):
        check(row1, len(self.rows))
        check(row2, len(self.rows))
        self.rows[row1], self.rows[row2] = self.rows[row2], self.rows[row1]
        return None

    def is_zero_row(self, row):
        for value in self.row(row):
            if value != 0:
                return False
        return True

    def append_row(self, v):
        self.rows.append(list(v))
        return None

    def append_column(self, v):
        for i in range(len(self.rows)):
            check(i, len(v))
            self.rows[i].append(v[i])
        return None

    # Echelon forms -----------------------------------------------------------

    def _eliminate(self, full):
        w = self.clone()
        rows = w.rows
        n, m = len(rows), w.ncols()
        log = []
        i = j = 0
        while j < m and i < n:
            k = None
            for candidate in range(i, n):
                check(j, len(rows[candidate]))
                value = rows[candidate][j]
                if (value != 0) if full else (value == 1):
                    k = candidate
                    break
            if k is None:
                j += 1
                continue
            if k != i:
                w.swap_rows(i, k)
                log += [(i, k), (k, i), (i, k)]
            for r in range(n):
                if r == i:
                    continue
                check(j, len(rows[r]))
                if rows[r][j] != 1:
                    continue
                if full:
                    for x in range(m):
                        check(x, len(rows[r]))
                        check(x, len(rows[i]))
                        rows[r][x] = (rows[r][x] + rows[i][x]) % 256 % 2
                else:
                    w.add_rows(r, i)
                log.append((r, i))
            i += 1
            j += 1
        return w, log

    def echelon_form(self):
        return self._eliminate(full=False)

    def row_echelon_full_matrix(self):
        return self._eliminate(full=True)

    # Last-row reduction ----------------------------------------------------------

    @staticmethod
    def _leading(row):
        for position, value in enumerate(row):
            if value == 1:
                return position
        return None

    def _reduce_last_row(self, dep):
        """Both last-row reductions, step by step as their rules read; `dep`
        picks the variant of rules (D1) to (D5)."""
        n = len(self.rows)
        if n == 0:
            raise index_failure(0, U64 - 1)  # the last-row index n - 1, wrapped
        work, log = self.clone(), []
        last, w = n - 1, len(self.rows[0])

        def lead(row):
            return next((j for j, x in enumerate(row) if x == 1), None)

        # Reduction: at most w iterations; only one that begins with a last
        # row without a 1 leads on to the upward pass.
        for _ in range(w):
            p = lead(work.rows[last])
            if p is None:
                break
            best = n - 1 if dep else n  # (D1)
            match = candidate = None
            for i in range(last):
                q = lead(work.rows[i])
                if q == p:
                    match = i
                    break
                if q is None:  # (D2)
                    candidate = i if candidate is None else candidate
                    if dep:
                        continue
                    break
                if q > p and q - p < best:
                    candidate, best = i, q - p
            if match is not None:
                work.add_rows(last, match)
                log.append((last, match))
            elif candidate is not None:
                work.swap_rows(last, candidate)
                log += [(candidate, last), (last, candidate), (candidate, last)]
            elif dep:
                return work, log  # (D3): nothing would change again
            else:
                raise ModelPanic(UNWRAP_NONE)
        else:
            return work, log

        # Upward pass over neighbouring rows, once, from the bottom up.
        for t in range(n - 2 if dep else n - 1, 0, -1):  # (D4)
            u = t - 1
            if all(x == 0 for x in work.rows[t]):
                continue
            pt, pu = lead(work.rows[t]), lead(work.rows[u])
            if pt is None:
                raise ModelPanic(UNWRAP_NONE)
            if pu is None or pt < pu:
                work.rows[t], work.rows[u] = work.rows[u], work.rows[t]
                log += [(t, u), (u, t), (t, u)]
            elif pt == pu and (not dep or pt == len(work.rows[0]) - 1):  # (D5)
                work.add_rows(t, u)
                log.append((t, u))
        return work, log

    def echelon_form_last_row(self):
        return self._reduce_last_row(dep=False)

    def echelon_form_last_row_dep(self):
        return self._reduce_last_row(dep=True)

    # Rank and kernel ---------------------------------------------------------------

    def rank(self):
        columns = set()
        for row in self.rows:
            position = self._leading(row)
            if position is not None:
                columns.add(position)
        return len(columns)

    def kernel(self):
        rows = self.rows
        n, m = len(rows), self.ncols()
        pivots = {}  # column -> row, visited in insertion (ascending column) order
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


# Calls as the module takes them ------------------------------------------------

# name -> parameter names
SIGNATURES = {method.name: method.params for method in METHODS}


def call(model, name, args):
    """Calls method `name` of `model` as the module would: arguments are
    converted in parameter order and the first failure ends the call."""
    converted = []
    for parameter, value in zip(SIGNATURES[name], args):
        convert = to_byte_list if parameter == "v" else to_index
        try:
            converted.append(convert(value))
        except (TypeError, OverflowError) as error:
            raise argument_error(parameter, error) from None
    return getattr(model, name)(*converted)
