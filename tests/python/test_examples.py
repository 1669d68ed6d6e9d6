"""Every program in examples/ runs to its end: each asserts its own results."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import quorvel

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
PROGRAMS = sorted(EXAMPLES.glob("*.py"))
# The shell command that runs an example, as its docstring and the guide
# write it: run from the checkout after `cmake --workflow --preset example`.
COMMAND = re.compile(r'PYTHONPATH=build/example/python "\$\(cat build/example/python3-executable\)" '
                     r"(examples/\w+\.py)")


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


@pytest.mark.parametrize("program", PROGRAMS, ids=lambda program: program.name)
def test_example_command_runs_as_written(program):
    # Each docstring names its own program; the samples of the README and the guide may name any.
    own = list(COMMAND.finditer(program.read_text(encoding="utf-8")))
    assert [m[1] for m in own] == [f"examples/{program.name}"]
    pages = [ROOT / "README.md", *(ROOT / "docs").rglob("*.md")]
    samples = [m for page in pages for m in COMMAND.finditer(page.read_text(encoding="utf-8"))]
    commands = [m[0] for m in own] + [m[0] for m in samples if m[1] == own[0][1]]
    if not (ROOT / "build/example/python3-executable").is_file():
        pytest.skip("no build/example: `cmake --workflow --preset example` has not run")
    for command in commands:
        done = subprocess.run(["sh", "-c", command], cwd=ROOT, capture_output=True, text=True,
                              timeout=300)
        assert done.returncode == 0, f"{command}\n{done.stderr}"
