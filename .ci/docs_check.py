"""The guide's checks, for .ci/docs.

    docs_check.py examples DIR   writes each page's Python examples into DIR as
                                 one module per page, for the type checkers
    docs_check.py browse SITE    opens every page of the built site in headless
                                 Chromium: each renders, no internal link or
                                 asset is missing, and the API reference lists
                                 every public method of the stubs' Matrix
"""

import ast
import concurrent.futures
import doctest
import html.parser
import pathlib
import subprocess
import sys
import urllib.parse

ROOT = pathlib.Path(__file__).resolve().parents[1]
STUBS = ROOT / "stubs" / "quorvel-stubs" / "__init__.pyi"


def write_examples(out):
    """The examples of the README and of every guide page, each page's blocks
    in order as one module, with their expected output as comments."""
    out.mkdir(parents=True, exist_ok=True)
    for page in [ROOT / "README.md", *sorted((ROOT / "docs").rglob("*.md"))]:
        blocks = [b.split("```", 1)[0] for b in page.read_text(encoding="utf-8").split("```python\n")[1:]]
        if blocks:
            name = str(page.relative_to(ROOT).with_suffix(".py")).replace("/", "_").replace("-", "_")
            script = "".join(doctest.script_from_examples(block) + "\n" for block in blocks)
            (out / name).write_text("from quorvel import Matrix\n\n" + script, encoding="utf-8")


class Page(html.parser.HTMLParser):
    """What a check needs of a page: the ids it defines, the links and assets
    it names, and whether its main text has a heading."""

    def __init__(self, text):
        super().__init__()
        self.ids, self.refs, self.headings = set(), [], 0
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        ref = attrs.get("href") if tag in ("a", "link") else attrs.get("src")
        if ref:
            self.refs.append(ref)
        self.headings += tag == "h1"


def rendered(path):
    """The page's document after Chromium has loaded it and run its scripts."""
    done = subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                           "--dump-dom", path.as_uri()],
                          capture_output=True, text=True, timeout=120, check=True)
    return Page(done.stdout)


def browse(site):
    """The problems found in the built site, one line each."""
    files = sorted(site.rglob("*.html"))
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        pages = dict(zip(files, pool.map(rendered, files)))
    problems = [f"{path}: no heading rendered" for path, page in pages.items()
                if page.headings == 0 and path.name != "404.html"]
    for path, page in pages.items():
        for ref in page.refs:
            link = urllib.parse.urlsplit(ref)
            if link.scheme or link.netloc:
                continue  # outside the site
            # 404.html names the rest from the site's root, where a server puts it.
            base = site if link.path.startswith("/") else path.parent
            target = (base / urllib.parse.unquote(link.path).lstrip("/")).resolve() if link.path else path
            if not target.is_file():
                problems.append(f"{path}: {ref}: no such file")
            elif link.fragment and target.suffix == ".html":
                ids = (pages.get(target) or Page(target.read_text(encoding="utf-8"))).ids
                if link.fragment not in ids:
                    problems.append(f"{path}: {ref}: no such anchor")
    api = pages[site / "api.html"].ids
    tree = ast.parse(STUBS.read_text(encoding="utf-8"))
    (matrix,) = [node for node in tree.body if isinstance(node, ast.ClassDef)]
    methods = {node.name for node in matrix.body
               if isinstance(node, ast.FunctionDef) and not node.name.startswith("_")}
    assert len(methods) == 17, methods
    problems += [f"api.html: no entry for Matrix.{name}" for name in sorted(methods)
                 if f"quorvel.Matrix.{name}" not in api]
    print(f"docs: {len(pages)} pages rendered, {sum(len(p.refs) for p in pages.values())} links "
          f"and assets followed, {len(methods)} methods in the API reference")
    return problems


def main():
    command, where = sys.argv[1], pathlib.Path(sys.argv[2])
    if command == "examples":
        write_examples(where)
        return 0
    problems = browse(where.resolve())
    print("\n".join(problems), file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
