"""Testing a stream of vectors for linear independence, one at a time.

A basis is kept in echelon form (the first 1 of each row lies right of the
first 1 of the row above).  Each new vector is appended as the last row and
reduced against the basis with echelon_form_last_row_dep(): the vector
depends on the basis exactly when the reduced last row is zero.  When it is
not zero, the reduction has left the rows above in echelon form and given the
last row a first 1 in a column of its own, so putting that row in its place
keeps the basis in echelon form for the next vector.

The use: picking independent stabilisers, measurements or equations from a
stream without eliminating the whole set again for every newcomer.

Run with the module on the path, for example:
    PYTHONPATH=build/default/python python3 examples/independent_stream.py
"""

import random

from quorvel import Matrix

WIDTH = 16


def leading(row):
    return row.index(1)


def offer(basis, vector):
    """Reduces `vector` against `basis`; returns (independent, new basis)."""
    reduced, log = Matrix(basis + [vector]).echelon_form_last_row_dep()
    rows = reduced.to_list()
    last = rows.pop()
    # In the reduction every row operation has the last row as its target or
    # exchanges it with a row above: the rows above are still a basis of the
    # same span.
    assert all(len(basis) in pair for pair in log)
    if not any(last):
        return False, rows
    rows.append(last)
    rows.sort(key=leading)
    return True, rows


def rank_of(vectors):
    """The rank by elimination on ints, independent of the module."""
    pivots = {}
    for vector in vectors:
        word = int("".join(map(str, vector)), 2)
        while word:
            top = word.bit_length()
            if top not in pivots:
                pivots[top] = word
                break
            word ^= pivots[top]
    return len(pivots)


def main():
    rng = random.Random(7)
    basis, seen, verdicts = [], [], []
    while len(basis) < WIDTH:
        if seen and rng.random() < 0.3:
            # A sum of earlier vectors, which must come out dependent.
            picked = rng.sample(seen, rng.randint(1, min(4, len(seen))))
            vector = [sum(column) % 2 for column in zip(*picked)]
        else:
            # Sparse vectors make dependent ones likelier.
            vector = [int(rng.random() < 0.2) for _ in range(WIDTH)]
        independent, basis = offer(basis, vector)
        seen.append(vector)
        verdicts.append(independent)

        # The verdict agrees with an independent rank, and the basis stays
        # an echelon form of the span of everything seen.
        assert independent == (rank_of(seen) > rank_of(seen[:-1]))
        assert len(basis) == rank_of(seen) == rank_of(basis)
        assert rank_of(basis + seen) == len(basis)
        positions = [leading(row) for row in basis]
        assert positions == sorted(set(positions))

    dependent = verdicts.count(False)
    print(f"{len(seen)} vectors of length {WIDTH}: {WIDTH} independent, {dependent} dependent")
    reduced, _ = Matrix(basis).echelon_form()
    assert reduced.rank() == WIDTH
    print("the basis spans the whole space; its first 1s:", [leading(r) for r in basis])


if __name__ == "__main__":
    main()
