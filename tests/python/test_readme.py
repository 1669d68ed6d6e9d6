"""The examples in the README are run as they stand."""

import doctest
import pathlib

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def has_numpy():
    try:
        import numpy  # noqa: F401
    except ImportError:  # Debian's numpy serves only the system python3
        return False
    return True


def test_readme_examples():
    text = README.read_text(encoding="utf-8")
    # The blocks run in order and share their names, as in one session.
    blocks = [b.split("```", 1)[0] for b in text.split("```python\n")[1:]]
    assert blocks, "the README has Python examples"
    import quorvel

    parser = doctest.DocTestParser()
    globs = {"Matrix": quorvel.Matrix}
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    for number, block in enumerate(blocks):
        if "import numpy" in block and not has_numpy():
            continue
        test = parser.get_doctest(block, globs, f"README block {number}", str(README), 0)
        runner.run(test, clear_globs=False)
        globs.update(test.globs)
    result = runner.summarize(verbose=False)
    assert result.attempted > 10
    assert result.failed == 0
