"""Turning a row-operation log into a CNOT circuit.

A wire holds one bit and a CNOT from a control wire to a target wire flips
the target when the control is 1.  Read row i of a matrix as wire i and each
column as one state of all the wires: then the log pair (target, source),
"add row source into row target", is exactly a CNOT from wire source to wire
target, and an exchange of two rows, logged as three pairs, is the SWAP made
of three CNOTs.  So the log of echelon_form() is a circuit that takes every
column of the input to the same column of the reduced form.

For an invertible n x n matrix A the reduced form is the identity, so the
log, run in order, computes x -> A^-1 x; since every CNOT is its own inverse,
the log run backwards is a circuit for the linear reversible map x -> A x.
This is how CNOT circuits for linear reversible functions (the encoders of
stabiliser codes, for instance) are synthesised.

Run it from the checkout, once `cmake --workflow --preset example` (the
README's first set-up command) has built the module, with the interpreter
that build used:
    PYTHONPATH=build/example/python "$(cat build/example/python3-executable)" examples/cnot_circuit.py
"""

import random

from quorvel import Matrix


def run(circuit, state):
    """The wires' state (bit i = wire i) after the CNOTs (control, target)."""
    for control, target in circuit:
        if state >> control & 1:
            state ^= 1 << target
    return state


def column(rows, j):
    return sum(row[j] << i for i, row in enumerate(rows))


def apply(rows, x):
    """A x over GF(2), bit i of x being entry i of the vector."""
    return sum((sum(x >> j & a for j, a in enumerate(row)) & 1) << i
               for i, row in enumerate(rows))


def random_invertible(n, rng):
    while True:
        rows = [[rng.randrange(2) for _ in range(n)] for _ in range(n)]
        if Matrix(rows).echelon_form()[0].rank() == n:
            return rows


def main():
    rng = random.Random(2024)

    # Any matrix: the log's circuit maps each input column to the output one.
    rows = [[rng.randrange(2) for _ in range(9)] for _ in range(5)]
    rows.append([x ^ y for x, y in zip(rows[0], rows[3])])
    reduced, log = Matrix(rows).echelon_form()
    circuit = [(source, target) for target, source in log]
    out = reduced.to_list()
    for j in range(len(rows[0])):
        assert run(circuit, column(rows, j)) == column(out, j)
    print(f"6 x 9 matrix of rank {reduced.rank()}: {len(circuit)} CNOTs map every input "
          "column to the reduced one")

    # An invertible matrix: the reversed log is a circuit for x -> A x.
    n = 6
    a = random_invertible(n, rng)
    reduced, log = Matrix(a).echelon_form()
    assert reduced.to_list() == [[int(i == j) for j in range(n)] for i in range(n)]
    inverse_circuit = [(source, target) for target, source in log]
    forward_circuit = inverse_circuit[::-1]
    for x in range(2 ** n):
        ax = apply(a, x)
        assert run(forward_circuit, x) == ax
        assert run(inverse_circuit, ax) == x
    print(f"invertible {n} x {n} matrix A: {len(forward_circuit)} CNOTs compute x -> A x "
          f"on all {2 ** n} inputs")
    print("circuit (control -> target):",
          " ".join(f"{c}->{t}" for c, t in forward_circuit))


if __name__ == "__main__":
    main()
