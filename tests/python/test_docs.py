"""ci/check-docs catches the documents drifting from the program: run on a copy of the tree
with one line of a document taken out, it fails and names what went missing."""
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def drop_line(text, pattern):
    """The text without the one line that matches `pattern`."""
    lines = text.splitlines(keepends=True)
    hits = [i for i, line in enumerate(lines) if re.search(pattern, line)]
    assert len(hits) == 1, (pattern, hits)
    del lines[hits[0]]
    return "".join(lines)


def docs_tree(tmp_path):
    """What check-docs reads, copied where it can be changed."""
    for part in ["ci/check-docs", "README.md", "docs", "web/app.js", "LICENSE"]:
        source, target = ROOT / part, tmp_path / part
        target.parent.mkdir(parents=True, exist_ok=True)
        (shutil.copytree if source.is_dir() else shutil.copy)(source, target)
    return tmp_path


def check_docs(tree, tool):
    return subprocess.run(["/usr/bin/python3", str(tree / "ci/check-docs"), tool],
                          capture_output=True, text=True)


def test_the_tree_as_it_is_passes(tool, tmp_path):
    run = check_docs(docs_tree(tmp_path), tool)
    assert run.returncode == 0, run.stderr


# The file, the line taken out of it, and the problem check-docs must name.
DRIFTS = [
    ("docs/methods.md", r"^\| `rms` \| .*root mean square", "method rms of --help is not in the table of methods of docs/methods.md"),
    ("docs/methods.md", r"^\| `lightness` \| .*HSL", "method lightness of --help is not in the table of methods of docs/methods.md"),
    ("docs/command-line.md", r"^\| `--report` \|", "--report of --help is not in the options table of docs/command-line.md"),
    ("docs/graybmp.1", r"^\.B \\-\\-report$", "--report of --help is not in the manual page"),
]


@pytest.mark.parametrize("path, pattern, problem", DRIFTS)
def test_a_line_missing_from_a_document_fails_with_its_name(tool, tmp_path, path, pattern, problem):
    tree = docs_tree(tmp_path)
    document = tree / path
    document.write_text(drop_line(document.read_text(), pattern))
    run = check_docs(tree, tool)
    assert run.returncode == 1
    assert f"check-docs: {problem}" in run.stderr.splitlines(), run.stderr
