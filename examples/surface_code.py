"""The distance-3 rotated surface code: how many logical qubits its checks
leave, a logical operator of each kind, and the code distance, all read off
kernels of its parity-check matrices.

Nine data qubits sit on a 3 x 3 grid.  Each of the four inner faces holds a
weight-4 check, X and Z alternating like a chessboard; two weight-2 X checks
close the top and bottom edges, two weight-2 Z checks the left and right
edges.  A CSS code with X checks Hx and Z checks Hz encodes
k = n - rank(Hx) - rank(Hz) logical qubits; its logical X operators are the
vectors of ker(Hz) outside the row space of Hx (and the other way round for
Z), and the smallest weight of such a vector is the code distance.

Run it from the checkout, once `cmake --workflow --preset example` (the
README's first set-up command) has built the module, with the interpreter
that build used:
    PYTHONPATH=build/example/python "$(cat build/example/python3-executable)" examples/surface_code.py
"""

from itertools import product

from quorvel import Matrix

D = 3


def qubit(r, c):
    return D * r + c


def checks():
    """The X and Z checks, each a 0/1 row over the D * D data qubits."""
    x_checks, z_checks = [], []

    def add(kind, cells):
        row = [0] * (D * D)
        for r, c in cells:
            row[qubit(r, c)] = 1
        (x_checks if kind == "X" else z_checks).append(row)

    # Face (r, c) has corners (r, c) .. (r + 1, c + 1); it is an X check when
    # r + c is even.  Faces just outside the grid become weight-2 checks on
    # the edge they touch, X on top and bottom, Z on left and right.
    for r in range(-1, D):
        for c in range(-1, D):
            kind = "X" if (r + c) % 2 == 0 else "Z"
            cells = [(r + dr, c + dc) for dr in (0, 1) for dc in (0, 1)]
            inside = [(i, j) for i, j in cells if 0 <= i < D and 0 <= j < D]
            on_row_edge = r in (-1, D - 1) and 0 <= c < D - 1
            on_col_edge = c in (-1, D - 1) and 0 <= r < D - 1
            if len(inside) == 4:
                add(kind, inside)
            elif on_row_edge and kind == "X" or on_col_edge and kind == "Z":
                add(kind, inside)
    return x_checks, z_checks


def combinations(basis, width):
    """Every sum of a subset of `basis`, the empty sum included."""
    for use in product((0, 1), repeat=len(basis)):
        word = [0] * width
        for bit, vector in zip(use, basis):
            if bit:
                word = [a ^ b for a, b in zip(word, vector)]
        yield word


def in_row_space(basis, word):
    """Whether `word` is a sum of the rows of `basis`, an echelon form
    without zero rows: reduced against them, it ends as a zero last row."""
    trial = basis.copy()
    trial.append_row(word)
    reduced, _ = trial.echelon_form_last_row_dep()
    return reduced.is_zero_row(basis.nrows())


def logical_operators(commuting_with, stabilisers):
    """The kernel of `commuting_with`, the words of its span that are not
    stabilisers (the logical operators), and their smallest weight."""
    # Both read off echelon forms: the kernel of the reduced checks, and the
    # row space of the stabilisers from the non-zero rows of theirs, which
    # are the first `rank` rows.
    reduced_checks, _ = Matrix(commuting_with).echelon_form()
    kernel = reduced_checks.kernel()
    reduced_stabilisers, _ = Matrix(stabilisers).echelon_form()
    basis = reduced_stabilisers.get_sub_matrix(0, reduced_stabilisers.rank())
    logicals = [
        word
        for word in combinations(kernel, D * D)
        if any(word) and not in_row_space(basis, word)
    ]
    return kernel, logicals, min(sum(word) for word in logicals)


def main():
    hx, hz = checks()
    n = D * D
    print(f"{len(hx)} X checks and {len(hz)} Z checks on {n} qubits")
    assert len(hx) == len(hz) == (n - 1) // 2

    # Every X check meets every Z check on an even number of qubits.
    for x in hx:
        for z in hz:
            assert sum(a & b for a, b in zip(x, z)) % 2 == 0

    rank_x = Matrix(hx).echelon_form()[0].rank()
    rank_z = Matrix(hz).echelon_form()[0].rank()
    k = n - rank_x - rank_z
    print(f"rank Hx = {rank_x}, rank Hz = {rank_z}: {k} logical qubit")
    assert (rank_x, rank_z, k) == (4, 4, 1)

    kernel_z, logical_x, distance_x = logical_operators(hz, hx)
    kernel_x, logical_z, distance_z = logical_operators(hx, hz)
    # ker(Hz) holds the row space of Hx (dimension 4) and one dimension
    # more for the one logical qubit: half of its 2^5 words are logicals.
    assert len(kernel_z) == n - rank_z and len(kernel_x) == n - rank_x
    assert len(logical_x) == len(logical_z) == 2 ** rank_x
    lightest_x = min(logical_x, key=lambda word: (sum(word), word[::-1]))
    lightest_z = min(logical_z, key=lambda word: (sum(word), word[::-1]))
    print("a lightest logical X acts on qubits", [q for q in range(n) if lightest_x[q]])
    print("a lightest logical Z acts on qubits", [q for q in range(n) if lightest_z[q]])
    # A logical X and a logical Z anticommute: they overlap on an odd count.
    assert sum(a & b for a, b in zip(lightest_x, lightest_z)) % 2 == 1
    print(f"distance {distance_x}: no logical X or Z acts on fewer qubits")
    assert distance_x == distance_z == D


if __name__ == "__main__":
    main()
