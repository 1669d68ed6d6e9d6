"""The methods of Matrix, once, for every test that goes through all of them."""

from typing import NamedTuple


class Method(NamedTuple):
    name: str
    params: tuple
    # Arguments for every parameter, in range on any matrix of at least two
    # rows and two columns.
    sample: tuple
    # The borrow the call takes of its receiver: "shared" or "exclusive".
    borrow: str
    # Whether the call edits its receiver in place.
    edits: bool

    def call(self, m):
        """The sample call on `m`."""
        return getattr(m, self.name)(*self.sample)

    def call_with(self, m, position, value):
        """The sample call on `m` with `value` for parameter `position`
        (as the one entry of the row, for `v`)."""
        args = list(self.sample)
        args[position] = [value] if self.params[position] == "v" else value
        return getattr(m, self.name)(*args)


# In the order of the class's method table.
METHODS = (
    Method("get_sub_matrix", ("start", "end"), (0, 1), "shared", False),
    Method("to_list", (), (), "shared", False),
    Method("nrows", (), (), "shared", False),
    Method("ncols", (), (), "shared", False),
    Method("copy", (), (), "shared", False),
    Method("get", ("row", "col"), (0, 1), "shared", False),
    Method("add_rows", ("target", "source"), (0, 1), "exclusive", True),
    Method("swap_rows", ("row1", "row2"), (0, 1), "exclusive", True),
    Method("is_zero_row", ("row",), (0,), "shared", False),
    # The last-row reductions leave the receiver unchanged, yet borrow it
    # exclusively.
    Method("echelon_form_last_row", (), (), "exclusive", False),
    Method("echelon_form_last_row_dep", (), (), "exclusive", False),
    Method("echelon_form", (), (), "shared", False),
    Method("row_echelon_full_matrix", (), (), "shared", False),
    Method("append_row", ("v",), ([1, 1],), "exclusive", True),
    Method("append_column", ("v",), ([1, 1, 0],), "exclusive", True),
    Method("rank", (), (), "shared", False),
    Method("kernel", (), (), "shared", False),
)

BY_NAME = {method.name: method for method in METHODS}


def parameter_calls(indexes_only=False):
    """A pytest parameter (call(m, x), name) per parameter of every method,
    `call` passing x for that parameter; with `indexes_only`, only the
    parameters that take an index."""
    import pytest

    return [
        pytest.param(lambda m, x, method=method, k=k: method.call_with(m, k, x), name,
                     id=f"{method.name}-{name}")
        for method in METHODS
        for k, name in enumerate(method.params)
        if not (indexes_only and name == "v")
    ]
