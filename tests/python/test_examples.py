"""Every program in examples/ runs to its end: each asserts its own results."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

import quorvel

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
PROGRAMS = sorted(EXAMPLES.glob("*.py"))


def test_the_examples_are_all_there():
    names = {program.name for program in PROGRAMS}
    assert {"hamming_code.py", "surface_code.py", "cnot_circuit.py",
            "independent_stream.py", "information_set.py"} <= names


@pytest.mark.parametrize("program", PROGRAMS, ids=lambda program: program.name)
def test_example_runs_clean(program):
    # The example imports the very module under test, whether that is the
    # build tree or an installed copy.
    env = dict(os.environ)
    here = os.path.dirname(quorvel.__file__)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [here, env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, "-X", "dev", "-W", "error", str(program)],
                          env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""
    assert done.stdout
