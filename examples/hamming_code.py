"""The [7,4] Hamming code: its codewords from the kernel of its parity-check
matrix, and a syndrome decoder that corrects any single bit error.

Run with the module on the path, for example:
    cmake --workflow --preset example
"""

from itertools import product

from quorvel import Matrix

# Column c of the parity-check matrix is the binary form of c + 1, so the
# syndrome of a single error names its position.
H = [[((c + 1) >> bit) & 1 for c in range(7)] for bit in range(3)]


def codewords(parity_check):
    reduced, log = Matrix(parity_check).echelon_form()
    basis = reduced.kernel()
    words = set()
    for coefficients in product((0, 1), repeat=len(basis)):
        word = [0] * len(parity_check[0])
        for use, vector in zip(coefficients, basis):
            if use:
                word = [a ^ b for a, b in zip(word, vector)]
        words.add(tuple(word))
    return reduced, log, basis, words


def syndrome(word):
    return [sum(h * w for h, w in zip(row, word)) % 2 for row in H]


def main():
    reduced, log, basis, words = codewords(H)
    print("parity-check matrix H:", Matrix(H))
    print("reduced echelon form: ", reduced)
    print("row operations:       ", log)
    print("rank:", reduced.rank(), " kernel dimension:", len(basis))
    assert reduced.rank() == 3 and len(basis) == 4 and len(words) == 16
    assert all(syndrome(w) == [0, 0, 0] for w in words)

    # Every single-bit error of every codeword is corrected by its syndrome.
    corrected = 0
    for word in sorted(words):
        for position in range(7):
            received = list(word)
            received[position] ^= 1
            s = syndrome(received)
            flipped = sum(bit << k for k, bit in enumerate(s)) - 1
            received[flipped] ^= 1
            assert tuple(received) == word
            corrected += 1
    print(f"{len(words)} codewords; all {corrected} single-bit errors corrected")


if __name__ == "__main__":
    main()
