"""examples/dask_gray.py over a local cluster of two worker processes."""
import os
import subprocess
import sys

EXAMPLE = os.path.join(os.environ["GRAYBMP_EXAMPLES"], "dask_gray.py")


def run(*args, cwd=None):
    return subprocess.run([sys.executable, EXAMPLE, *args], capture_output=True, text=True,
                          cwd=cwd, timeout=300)


def test_five_hundred_files_in_two_folders_with_one_broken(tool, tmp_path):
    tree = tmp_path / "scans"
    for folder in ["a", "b/deep"]:
        (tree / folder).mkdir(parents=True)
    sample = tmp_path / "sample.bmp"
    subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(sample), "24", "7", "24"], check=True)
    data = sample.read_bytes()
    for k in range(500):
        folder = tree / ("a" if k % 2 == 0 else "b/deep")
        body = bytearray(data)
        body[60 + k % 400] = k % 256  # each file its own colours
        (folder / f"f{k:03d}.{'BMP' if k % 7 == 0 else 'bmp'}").write_bytes(body)
    (tree / "a" / "f100.bmp").write_bytes(data[:100])  # broken
    (tree / "a" / "notes.txt").write_text("not an image")
    out = tmp_path / "out"
    out.mkdir()
    result = run("--workers", "2", "-d", str(out), str(tree))
    assert result.returncode == 1, result.stderr
    failures = [line for line in result.stderr.splitlines() if line.startswith("dask_gray: ")]
    assert failures == [f"dask_gray: {tree / 'a' / 'f100.bmp'}: 7 rows of 24 pixels need "
                        f"{54 + 72 * 6 + 72} bytes; the file has 100"]
    assert "499 of 500 files converted, 1 failed" in result.stdout
    # every good output is the tool's, and nothing else is there
    written = sorted(str(p.relative_to(out)) for p in out.rglob("*") if p.is_file())
    wanted = sorted(str(p.relative_to(tmp_path)) for p in tree.rglob("*.[bB][mM][pP]")
                    if p.name != "f100.bmp")
    assert written == wanted
    check = tmp_path / "check"
    check.mkdir()
    for folder in ["a", "b/deep"]:
        files = sorted(str(p) for p in (tree / folder).iterdir() if p.suffix.lower() == ".bmp")
        subprocess.run([tool, "-d", str(check), *files], capture_output=True)
        for name in os.listdir(check):
            assert (out / "scans" / folder / name).read_bytes() == (check / name).read_bytes()
            os.remove(check / name)


def test_outputs_planned_twice_stop_the_run_and_usage_errors(tool, tmp_path):
    one, two = tmp_path / "one", tmp_path / "two"
    one.mkdir(), two.mkdir()
    subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(one / "x.bmp"), "5", "3"], check=True)
    (two / "x.bmp").write_bytes((one / "x.bmp").read_bytes())
    out = tmp_path / "out"
    out.mkdir()
    twice = run("-d", str(out), str(one / "x.bmp"), str(two / "x.bmp"))
    assert twice.returncode == 1 and "the output of both" in twice.stderr
    assert os.listdir(out) == []
    assert run("--scheduler", "tcp://127.0.0.1:1", "--workers", "2", "-d", str(out),
               str(one)).returncode == 2
    assert run("-m", "nonsense", "-d", str(out), str(one)).returncode == 2


def test_pictures_in_a_tree_become_the_tools_bmps(tool, tmp_path):
    tree = tmp_path / "photos"
    (tree / "sub").mkdir(parents=True)
    (tree / "a.ppm").write_bytes(b"P6\n3 2\n255\n" + bytes(range(0, 180, 10)))
    (tree / "sub" / "b.PGM").write_bytes(b"P5 4 1 15\n" + bytes([0, 5, 10, 15]))
    (tree / "sub" / "c.pam").write_bytes(b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\n"
                                         b"TUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n" + bytes([200, 100]))
    (tree / "sub" / "notes.txt").write_text("not an image")
    ours, theirs = tmp_path / "ours", tmp_path / "theirs"
    ours.mkdir(), theirs.mkdir()
    options = ["--levels", "4", "--dither", "atkinson", "--background", "#336699"]
    result = run("--workers", "1", "--pictures", "-d", str(ours), *options, str(tree))
    assert result.returncode == 0, result.stderr
    subprocess.run([tool, "-r", "--pictures", "-d", str(theirs), *options, str(tree)], check=True)
    names = sorted(str(p.relative_to(theirs)) for p in theirs.rglob("*") if p.is_file())
    assert names == ["photos/a.bmp", "photos/sub/b.bmp", "photos/sub/c.bmp"]
    assert sorted(str(p.relative_to(ours)) for p in ours.rglob("*") if p.is_file()) == names
    for name in names:
        assert (ours / name).read_bytes() == (theirs / name).read_bytes(), name
