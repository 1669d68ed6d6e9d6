"""Shared helpers for the module's tests."""

import os
import subprocess
import sys
import textwrap

import pytest


@pytest.fixture
def run_python():
    """Runs a script in a fresh interpreter with this process's environment
    (so the same module and, under the sanitizers, the same preloads)."""

    def run(code):
        return subprocess.run(
            [sys.executable, "-c", textwrap.dedent(code)],
            capture_output=True,
            text=True,
            env=dict(os.environ),
            timeout=120,
            check=False,
        )

    return run
