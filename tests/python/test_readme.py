"""The examples in the README and in every page of the guide (docs/) are run
as they stand."""

import doctest
import os
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").rglob("*.md"))]


def has_numpy():
    try:
        import numpy  # noqa: F401
    except ImportError:  # Debian's numpy serves only the system python3
        return False
    return True


@pytest.mark.thread_unsafe(reason="doctest patches linecache for the whole process")
@pytest.mark.parametrize("page", PAGES, ids=lambda page: str(page.relative_to(ROOT)))
def test_page_examples(page):
    text = page.read_text(encoding="utf-8")
    # The blocks of a page run in order and share their names, as in one session.
    blocks = [b.split("```", 1)[0] for b in text.split("```python\n")[1:]]
    import quorvel

    parser = doctest.DocTestParser()
    globs = {"Matrix": quorvel.Matrix}
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    for number, block in enumerate(blocks):
        if "numpy." in block and not has_numpy():
            continue
        test = parser.get_doctest(block, globs, f"{page.name} block {number}", str(page), 0)
        # A Python block is a session to run: one without examples would run nothing.
        assert test.examples, test.name
        runner.run(test, clear_globs=False)
        globs.update(test.globs)
    assert blocks or page.parent != ROOT, "the README has Python examples"
    assert runner.summarize(verbose=False).failed == 0


def test_failure_report_sample_is_what_is_printed():
    text = (ROOT / "docs" / "exceptions.md").read_text(encoding="utf-8")
    sample = text.split("naming the check that failed", 1)[1].split("```text\n", 1)[1]
    sample = sample.split("```", 1)[0]
    # The place in the sources moves with them: it is matched as a pattern.
    place = r"src/matrix/[\w/]+\.[ch]pp:\d+:\d+"
    first = place.join(map(re.escape, re.split(place, sample)))
    later = "".join(first.splitlines(keepends=True)[:2])
    import quorvel

    env = dict(os.environ, PYTHONPATH=os.path.dirname(quorvel.__file__))
    code = ("from quorvel import Matrix\nm = Matrix([[1, 0], [0, 1]])\n"
            "for _ in range(2):\n    try:\n        m.get(5, 0)\n"
            "    except BaseException:\n        pass\n")
    done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                          timeout=60)
    assert done.returncode == 0
    assert re.fullmatch(first + later, done.stderr), done.stderr
