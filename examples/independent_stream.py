"""Testing a stream of vectors for linear independence, one at a time.

The basis is kept as a Matrix whose rows have their first 1s in different
columns, none of them a zero row.  Such rows, in any order, are all that
echelon_form_last_row_dep() needs: with a vector appended, the reduced last
row is zero exactly when the vector depends on them.  When it does not, the
returned matrix is again such rows, and it is kept as the next basis as it
comes; when it does, the basis stays as it was.  For a basis of r rows of
width w, each new vector costs:

1. basis.append_row(vector): O(w), the only conversion of the vector.
2. basis.echelon_form_last_row_dep(): O(r w) for the copy it works on, plus
   at most one row addition per row of the basis; is_zero_row(), O(w).
3. Dependent: get_sub_matrix(0, r) drops the vector again, an O(r w) copy.

Rebuilding the matrix from Python lists for each vector and reading it all
back, as Matrix(rows + [vector]) and to_list() do, costs O(r w) Python ints
per vector instead: many times the steps above.

The basis need not be in echelon order: its rank is its number of rows, and
rank() reads it as it is.  Only what reads the rows as a staircase needs the
order (kernel() needs the reduced form: take echelon_form() of the basis);
the end of main() puts the rows in order once, by their first 1s.

The use: picking independent stabilisers, measurements or equations from a
stream without eliminating the whole set again for every newcomer.

Run it from the checkout, once `cmake --workflow --preset example` (the
README's first set-up command) has built the module, with the interpreter
that build used:
    PYTHONPATH=build/example/python "$(cat build/example/python3-executable)" examples/independent_stream.py
"""

import random
import time

from quorvel import Matrix

WIDTH = 128


def offer(basis, vector):
    """Reduces `vector` against `basis` (rows with their first 1s in
    different columns, no zero row).  Returns (independent, new basis)."""
    last = basis.nrows()
    basis.append_row(vector)
    reduced, _ = basis.echelon_form_last_row_dep()
    if reduced.is_zero_row(last):
        return False, basis.get_sub_matrix(0, last)
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
    basis = Matrix([])
    check = Elimination()
    seen, dependent = [], 0
    start = time.perf_counter()
    while basis.nrows() < WIDTH:
        if seen and rng.random() < 0.3:
            # A sum of earlier vectors, which must come out dependent.
            picked = rng.sample(seen, rng.randint(1, min(4, len(seen))))
            vector = [sum(column) % 2 for column in zip(*picked)]
        else:
            # Sparse vectors make dependent ones likelier.
            vector = [int(rng.random() < 0.05) for _ in range(WIDTH)]
        independent, basis = offer(basis, vector)
        seen.append(vector)
        dependent += not independent
        # The verdict agrees with the independent elimination.
        assert independent == check.add(vector)
        assert basis.nrows() == len(check.pivots)
    elapsed = time.perf_counter() - start
    print(f"{len(seen)} vectors of length {WIDTH}: {WIDTH} independent, {dependent} dependent, "
          f"in {elapsed * 1e3:.1f} ms")

    # The rows' first 1s lie in different columns, though not in order; put
    # in order once, they make an echelon form that spans everything seen.
    rows = basis.to_list()
    leads = [row.index(1) for row in rows]
    assert len(set(leads)) == WIDTH and basis.rank() == WIDTH
    print("first 1s of the kept rows, as they came:", leads[:8], "...")
    ordered = Matrix(sorted(rows, key=lambda row: row.index(1)))
    assert [row.index(1) for row in ordered.to_list()] == list(range(WIDTH))
    assert ordered.echelon_form()[0].rank() == WIDTH
    print("in order of their first 1s, an echelon form of rank", ordered.rank())


if __name__ == "__main__":
    main()
