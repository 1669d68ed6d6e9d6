"""The examples in the README are run as they stand."""

import doctest
import pathlib

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


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
        test = parser.get_doctest(block, globs, f"README block {number}", str(README), 0)
        runner.run(test, clear_globs=False)
        globs.update(test.globs)
    result = runner.summarize(verbose=False)
    assert result.attempted > 10
    assert result.failed == 0
