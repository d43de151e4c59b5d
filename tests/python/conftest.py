"""What the Python tests share: the tool, the inputs the tests' maker writes, the sample."""
import os
import shutil
import subprocess

import pytest


@pytest.fixture(scope="session")
def tool():
    return os.environ["GRAYBMP_BINARY"]


@pytest.fixture(scope="session")
def fixtures(tmp_path_factory):
    """The fuzzer's seeds (every kind of the tests' maker and the samples), a few refused
    ones made of them, and the corpus when it is there: a list of paths."""
    folder = tmp_path_factory.mktemp("fixtures")
    subprocess.run([os.environ["GRAYBMP_FIXTURES"], str(folder)], check=True)
    seed = (folder / "seed0.bmp").read_bytes()
    for name, data in [("cut", seed[:60]), ("short", seed[:20]), ("signature", b"XM" + seed[2:])]:
        (folder / f"refused-{name}.bmp").write_bytes(data)
    for width, height, bits in [(37, 11, 24), (16, 9, 8), (5, 3, 8)]:
        subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(folder / f"sample-{width}x{height}x{bits}.bmp"),
                        str(width), str(height), str(bits)], check=True)
    corpus = os.environ.get("GRAYBMP_CORPUS", "")
    if os.path.isdir(corpus):  # under names of their own: the corpus' folders share some
        for root, _, names in os.walk(corpus):
            for n in names:
                if n.endswith(".bmp"):
                    shutil.copy(os.path.join(root, n), folder / f"corpus-{os.path.basename(root)}-{n}")
    return sorted(str(p) for p in folder.iterdir())


@pytest.fixture
def sample(tmp_path):
    """A 24-bit sample of 37 x 11 in its own folder."""
    path = tmp_path / "s.bmp"
    subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(path), "37", "11", "24"], check=True)
    return path


# Where the tool names its options, the library speaks of what they ask for.
TOOL_WORDS = [("--levels takes ", "the levels take "), ("--levels would drop", "the levels would drop"),
              ("--compact writes ", "the compact form takes "), ("--compact would drop", "the compact form would drop"),
              ("no --background to composite", "no background to composite")]


@pytest.fixture(scope="session")
def library_words():
    """A tool's reason as the library gives it."""
    def words(reason):
        for tool_words, library in TOOL_WORDS:
            reason = reason.replace(tool_words, library)
        return reason
    return words
