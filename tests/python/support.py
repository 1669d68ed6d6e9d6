"""Argument objects and helpers shared by the tests."""

import os
import sysconfig

from hypothesis import HealthCheck, settings


class Index:
    """An argument whose __index__ runs `action` (or returns `value`)."""

    def __init__(self, value=0, action=None):
        self.value = value
        self.action = action

    def __index__(self):
        if self.action is not None:
            self.action()
        return self.value


class HookedRow:
    """A row read by iteration only, whose __iter__ runs `hook` first."""

    def __init__(self, hook):
        self.hook = hook

    def __getitem__(self, index):
        raise AssertionError("indexed")

    def __iter__(self):
        self.hook()
        return iter([0, 1])


def raising(exc):
    """An argument whose __index__ raises `exc`."""

    def action():
        raise exc

    return Index(action=action)


def interpreter_message(call, *args):
    """The message of the TypeError that the interpreter's own `call(*args)`
    raises: a text CPython writes and the module passes on, which CPython
    words differently from one version to the next."""
    try:
        call(*args)
    except TypeError as error:
        return str(error)
    raise AssertionError(f"{call.__name__}{args!r} raised no TypeError")


def panic_message(call):
    """Runs `call`, which must fail with the module's PanicException, and
    returns the message it carries."""
    try:
        call()
    except Exception as error:  # an ordinary exception is a wrong result
        raise AssertionError(f"expected PanicException, got {error!r}") from error
    except BaseException as error:
        assert type(error).__name__ == "PanicException", repr(error)
        assert len(error.args) == 1
        return str(error)
    raise AssertionError("expected PanicException, the call succeeded")


def assert_outcomes(rows, names, messages):
    """Calls each method names[k] on a new Matrix(rows): it returns when
    messages[k] is None, else fails with that PanicException message.  Either
    way the receiver is left as it was, usable by an editing call."""
    from quorvel import Matrix

    for name, message in zip(names, messages):
        m = Matrix(rows)
        call = getattr(m, name)
        if message is None:
            call()
        else:
            assert panic_message(call) == message
        assert m.to_list() == rows
        m.append_row([])  # the borrow was released


def heap_in_use():
    """Bytes the C allocator has handed out (glibc's mallinfo2), or None
    where it cannot say (another libc, or a sanitizer's own allocator)."""
    import ctypes
    import sys

    if sys.platform != "linux":
        return None
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except AttributeError:
        return None

    class Info(ctypes.Structure):
        _fields_ = [
            (name, ctypes.c_size_t)
            for name in "arena ordblks smblks hblks hblkhd usmblks fsmblks "
            "uordblks fordblks keepcost".split()
        ]

    mallinfo2.restype = Info
    info = mallinfo2()
    used = info.uordblks + info.hblkhd
    return used or None


# Under AddressSanitizer (preloaded into the interpreter) freed memory waits
# in a quarantine and the address space is reserved up front: resident size
# and address-space limits say nothing about the module there.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")
# Set by .ci/arm64, which runs the suite on aarch64 under qemu-user.
EMULATED = os.environ.get("QUORVEL_UNDER_QEMU") == "1"
# A free-threaded interpreter (python3.13t), whatever PYTHON_GIL says.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))

# Hypothesis runs are deterministic (derandomized, no example database).
_PROFILES = {
    "ci": settings(max_examples=150, derandomize=True, database=None, deadline=None,
                   suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large]),
    # For runs under valgrind, which are some 50 times slower.
    "quick": settings(max_examples=15, derandomize=True, database=None, deadline=None,
                      suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large]),
    "thorough": settings(max_examples=4000, derandomize=False, database=None, deadline=None,
                         suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large]),
}
PROFILE = _PROFILES[os.environ.get("QUORVEL_HYPOTHESIS", "ci")]
