"""Helpers of the algebra tests: the outcome of a call, and GF(2) facts
computed independently of the module.
"""

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


def outcome(call):
    """("ok", value) or ("fail", message) for a call of the module."""
    try:
        return ("ok", call())
    except BaseException as error:  # PanicException derives from BaseException
        if type(error).__name__ != "PanicException":
            raise
        return ("fail", str(error))


# --- GF(2) helpers -----------------------------------------------------------------


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


def replay(rows, log):
    """The module's add_rows applied to a copy of `rows` for each log pair."""
    copy = Matrix(rows)
    for target, source in log:
        copy.add_rows(target, source)
    return copy.to_list()
