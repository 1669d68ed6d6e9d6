"""Testing a stream of vectors for linear independence, one at a time.

The basis is kept as a Matrix in echelon form with no zero rows (the first 1
of each row lies right of the first 1 of the row above), beside a Python list
of those leading columns.  For a basis of r rows of width w, each new vector
costs:

1. basis.append_row(vector): O(w), the only conversion of the vector.
2. basis.echelon_form_last_row_dep(): O(r w) for the copy it works on, plus
   at most one row addition per row of the basis.  The vector depends on the
   basis exactly when the returned last row is zero: is_zero_row(), O(w).
3. Dependent: get_sub_matrix(0, r) drops the zero last row, an O(r w) copy.
   Independent: the reduction leaves the rows above the last row in echelon
   form and gives the last row a first 1 in a column of its own, but it does
   not always move that row into place.  The log writes each exchange as the
   three pairs (a, b), (b, a), (a, b); replaying them on the list of leading
   columns (r Python ints) tells which row sits where, one row is read back,
   O(w), for the new vector's leading column, and swap_rows(), O(w) each
   (an exchange of the two rows' words, about one row addition), moves the
   last row up to where its first 1 belongs.

Rebuilding the matrix from Python lists for each vector and reading it all
back, as Matrix(rows + [vector]) and to_list() do, costs O(r w) Python ints
per vector instead: many times the steps above.

The use: picking independent stabilisers, measurements or equations from a
stream without eliminating the whole set again for every newcomer.

Run it from the checkout, once `cmake --workflow --preset example` (the
README's first set-up command) has built the module, with the interpreter
that build used:
    PYTHONPATH=build/example/python "$(cat build/example/python3-executable)" examples/independent_stream.py
"""

import bisect
import random
import time

from quorvel import Matrix

WIDTH = 128


def exchanges(log):
    """The row exchanges (a, b) of a log, in order: every run of three
    pairs (a, b), (b, a), (a, b), which together exchange rows a and b."""
    i = 0
    while i < len(log):
        a, b = log[i]
        if log[i + 1:i + 3] == [(b, a), (a, b)]:
            yield a, b
            i += 3
        else:
            i += 1


def first_one(matrix, row):
    """The column of the first 1 of one row, reading only that row."""
    return matrix.get_sub_matrix(row, row + 1).to_list()[0].index(1)


def offer(basis, leads, vector):
    """Reduces `vector` against `basis` (echelon form, no zero rows, first 1s
    in the columns `leads`).  Returns (independent, new basis); `leads` is
    updated to the new basis."""
    last = len(leads)
    basis.append_row(vector)
    reduced, log = basis.echelon_form_last_row_dep()
    if reduced.is_zero_row(last):
        return False, reduced.get_sub_matrix(0, last)

    # Where every row went: the vector, whose first 1 is not known yet, is
    # the None; the exchanges are the only operations that move rows.
    at = leads + [None]
    for a, b in exchanges(log):
        at[a], at[b] = at[b], at[a]
    vector_row = at.index(None)
    at[vector_row] = first_one(reduced, vector_row)

    # Rows 0 .. last - 1 are in echelon form; the last row belongs after
    # the rows whose first 1 lies left of its own.
    lead = at.pop()
    place = bisect.bisect(at, lead)
    for row in range(place, last):
        reduced.swap_rows(row, last)
    at.insert(place, lead)
    leads[:] = at
    return True, reduced


class Elimination:
    """Independence by elimination on Python ints, apart from the module."""

    def __init__(self):
        self.pivots = {}

    def add(self, vector):
        word = int("".join(map(str, vector)), 2)
        while word:
            top = word.bit_length()
            if top not in self.pivots:
                self.pivots[top] = word
                return True
            word ^= self.pivots[top]
        return False


def main():
    rng = random.Random(7)
    basis, leads = Matrix([]), []
    check = Elimination()
    seen, dependent = [], 0
    start = time.perf_counter()
    while len(leads) < WIDTH:
        if seen and rng.random() < 0.3:
            # A sum of earlier vectors, which must come out dependent.
            picked = rng.sample(seen, rng.randint(1, min(4, len(seen))))
            vector = [sum(column) % 2 for column in zip(*picked)]
        else:
            # Sparse vectors make dependent ones likelier.
            vector = [int(rng.random() < 0.05) for _ in range(WIDTH)]
        independent, basis = offer(basis, leads, vector)
        seen.append(vector)
        dependent += not independent
        # The verdict agrees with the independent elimination.
        assert independent == check.add(vector)
        assert basis.nrows() == len(leads) == len(check.pivots)
    elapsed = time.perf_counter() - start
    print(f"{len(seen)} vectors of length {WIDTH}: {WIDTH} independent, {dependent} dependent, "
          f"in {elapsed * 1e3:.1f} ms")

    # The basis is in echelon form, its first 1s are the ones recorded, and
    # it spans everything seen.
    rows = basis.to_list()
    assert [row.index(1) for row in rows] == leads == sorted(set(leads))
    assert basis.echelon_form()[0].rank() == WIDTH
    print("the basis spans the whole space, in echelon form; its first 1s:", leads[:8], "...")


if __name__ == "__main__":
    main()
