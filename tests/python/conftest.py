"""What the Python tests share: the tool, the inputs the tests' maker writes, the sample."""
import os
import subprocess

import pytest


@pytest.fixture(scope="session")
def tool():
    return os.environ["GRAYBMP_BINARY"]


@pytest.fixture(scope="session")
def fixtures(tmp_path_factory):
    """Every input of the tests' maker and a few samples: a list of paths."""
    folder = tmp_path_factory.mktemp("fixtures")
    subprocess.run([os.environ["GRAYBMP_FIXTURES"], str(folder)], check=True,
                   stdout=subprocess.DEVNULL)
    for width, height, bits in [(37, 11, 24), (16, 9, 8), (5, 3, 8)]:
        subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(folder / f"sample-{width}x{height}x{bits}.bmp"),
                        str(width), str(height), str(bits)], check=True)
    corpus = os.environ.get("GRAYBMP_CORPUS", "")
    paths = sorted(str(p) for p in folder.iterdir())
    if os.path.isdir(corpus):
        for root, _, names in os.walk(corpus):
            paths += sorted(os.path.join(root, n) for n in names if n.endswith(".bmp"))
    return paths


@pytest.fixture
def sample(tmp_path):
    """A 24-bit sample of 37 x 11 in its own folder."""
    path = tmp_path / "s.bmp"
    subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(path), "37", "11", "24"], check=True)
    return path
