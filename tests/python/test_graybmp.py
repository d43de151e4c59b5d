"""graybmp for Python: the tool's bytes by every way in, and Python's conventions."""
import errno
import mmap
import os
import subprocess
import threading

import numpy
import pytest

import graybmp


def tool_copies(tool, paths, method, compact, out):
    """The tool's gray copies of `paths` in `out`, and its reason for each one it refused."""
    args = [tool, "-m", method, "-d", str(out)] + (["--compact"] if compact else [])
    # Several files of one name (the corpus' folders): each batch holds distinct names.
    batches, seen = [[]], set()
    for p in paths:
        name = os.path.basename(p)
        if name in seen:
            batches.append([])
            seen = set()
        seen.add(name)
        batches[-1].append(p)
    copies, reasons = {}, {}
    for batch in batches:
        for f in os.listdir(out):
            os.remove(os.path.join(out, f))
        run = subprocess.run(args + batch, capture_output=True, text=True)
        assert run.returncode in (0, 1), run.stderr
        for line in run.stderr.splitlines():
            for p in batch:
                prefix = f"graybmp: {p}: "
                if line.startswith(prefix):
                    reasons[p] = line[len(prefix):]
        for p in batch:
            target = os.path.join(out, os.path.basename(p))
            if p not in reasons:
                with open(target, "rb") as f:
                    copies[p] = f.read()
    return copies, reasons


@pytest.mark.parametrize("compact", [False, True])
@pytest.mark.parametrize("method", [m for m in graybmp.METHODS if "=" not in m] + ["weights=0.2,0.7,0.1"])
def test_gray_gives_the_tools_bytes_or_its_refusal(tool, fixtures, tmp_path, method, compact):
    copies, reasons = tool_copies(tool, fixtures, method, compact, tmp_path)
    assert copies, "the tool converted nothing"
    for path in fixtures:
        with open(path, "rb") as f:
            data = f.read()
        if path in copies:
            assert graybmp.gray(data, method, compact) == copies[path], path
            continue
        with pytest.raises(graybmp.Error) as refused:
            graybmp.gray(data, method=method, compact=compact)
        assert str(refused.value) == reasons[path], path
        assert refused.value.code not in ("ok", "unknown"), path


def test_gray_reads_every_kind_of_buffer(sample):
    data = sample.read_bytes()
    expected = graybmp.gray(data)
    array = numpy.frombuffer(data, dtype=numpy.uint8)
    with open(sample, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as view:
        for buffer in [bytearray(data), memoryview(data), array, view, memoryview(data)[0:]]:
            assert graybmp.gray(buffer) == expected
    assert graybmp.gray(bytearray(data), "bt709") != expected  # the method is used


def test_gray_inplace_on_a_bytearray_a_numpy_array_and_a_writable_mmap(sample):
    data = sample.read_bytes()
    expected = graybmp.gray(data, "luminance")
    buffer = bytearray(data)
    graybmp.gray_inplace(buffer, "luminance")
    assert buffer == expected
    array = numpy.frombuffer(bytearray(data), dtype=numpy.uint8)
    graybmp.gray_inplace(array, method="luminance")
    assert array.tobytes() == expected
    with open(sample, "r+b") as f, mmap.mmap(f.fileno(), 0) as view:
        graybmp.gray_inplace(view, "luminance")
        view.flush()
    assert sample.read_bytes() == expected


def test_gray_inplace_refused_leaves_the_buffer_and_read_only_is_a_type_error(sample, tmp_path):
    data = sample.read_bytes()
    cut = bytearray(data[:-30])
    with pytest.raises(graybmp.Error) as refused:
        graybmp.gray_inplace(cut)
    assert refused.value.code == "rows-do-not-fit" and cut == data[:-30]
    grows = subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(tmp_path / "g.bmp"), "5", "3"],
                           check=True)
    assert grows.returncode == 0
    short = bytearray((tmp_path / "g.bmp").read_bytes()[:-1])  # the copy would be longer
    before = bytes(short)
    with pytest.raises(graybmp.Error) as longer:
        graybmp.gray_inplace(short)
    assert longer.value.code == "length-changes" and short == before
    for read_only in [data, memoryview(data), numpy.frombuffer(data, dtype=numpy.uint8)]:
        with pytest.raises(TypeError):
            graybmp.gray_inplace(read_only)


def test_convert_names_writes_and_refuses_as_the_tool(sample, tmp_path):
    expected = graybmp.gray(sample.read_bytes(), "red")
    written = graybmp.convert(sample, method="red")
    assert written == str(tmp_path / "sNEW.bmp")
    assert (tmp_path / "sNEW.bmp").read_bytes() == expected
    dotted = tmp_path / "..bmp"
    dotted.write_bytes(sample.read_bytes())
    assert graybmp.convert(str(dotted)) == str(tmp_path / ".NEW.bmp")
    target = tmp_path / "sub" / "x.bmp"
    target.parent.mkdir()
    assert graybmp.convert(sample, target, method="red") == str(target)
    assert target.read_bytes() == expected
    with pytest.raises(graybmp.Error) as itself:
        graybmp.convert(sample, sample)
    assert itself.value.code == "output-is-input"
    assert graybmp.convert(sample, in_place=True, method="red") == str(sample)
    assert sample.read_bytes() == expected
    with pytest.raises(ValueError):
        graybmp.convert(sample, target, in_place=True)
    with pytest.raises(OSError) as missing:
        graybmp.convert(tmp_path / "missing.bmp")
    assert missing.value.errno == errno.ENOENT
    assert missing.value.filename == str(tmp_path / "missing.bmp")
    with pytest.raises(OSError) as unwritable:
        graybmp.convert(sample, tmp_path / "nowhere" / "x.bmp")
    assert unwritable.value.errno == errno.ENOENT
    assert unwritable.value.filename == str(tmp_path / "nowhere" / "x.bmp")
    assert sorted(os.listdir(tmp_path)) == ["..bmp", ".NEW.bmp", "s.bmp", "sNEW.bmp", "sub"]


def test_header_of_bytes_and_of_a_path_and_of_a_refused_file(sample, tmp_path):
    data = sample.read_bytes()
    h = graybmp.header(data)
    assert h == graybmp.header(sample) == graybmp.header(str(sample))
    assert (h.type, h.size, h.width, h.height, h.bit_count, h.kind, h.refusal) == (
        "BMP file", len(data), 37, 11, 24, "true-colour", None)
    cut = tmp_path / "cut.bmp"
    cut.write_bytes(data[:100])
    refused = graybmp.header(cut)
    assert refused.width == 37 and refused.kind is None
    assert isinstance(refused.refusal, graybmp.Error)
    assert refused.refusal.code == "rows-do-not-fit"
    assert graybmp.header(b"XM" + data[2:]).type is None
    with pytest.raises(graybmp.Error) as short:
        graybmp.header(data[:20])
    assert short.value.code == "too-short"


def test_each_exception_type(sample):
    data = sample.read_bytes()
    with pytest.raises(TypeError):
        graybmp.gray("s.bmp")
    with pytest.raises(TypeError):
        graybmp.gray(12)
    with pytest.raises(ValueError, match="unknown gray method 'Mean'"):
        graybmp.gray(data, method="Mean")
    with pytest.raises(ValueError, match="has a sign"):
        graybmp.gray(data, method="weights=-1,1,1")
    assert issubclass(graybmp.Error, Exception) and graybmp.Error.__module__ == "graybmp"
    assert graybmp.__version__ == "1.2.0" and "weights=R,G,B" in graybmp.METHODS


def big_image(width, height):
    """A 24-bit image of changing colours, made with numpy."""
    stride = (width * 3 + 3) // 4 * 4
    header = bytearray(54)
    header[0:2] = b"BM"
    for at, value in [(2, 54 + stride * height), (10, 54), (14, 40), (18, width), (22, height)]:
        header[at:at + 4] = value.to_bytes(4, "little")
    header[26], header[28] = 1, 24
    pixels = (numpy.arange(stride * height, dtype=numpy.uint32) * 2654435761 >> 13).astype(numpy.uint8)
    return bytes(header) + pixels.tobytes()


def test_the_gil_is_let_go_while_converting():
    images = [big_image(4096, 1024 + k) for k in range(4)]  # about 12 MiB each
    results = [None] * 4

    def work(k):
        results[k] = graybmp.gray(images[k], "luminance")

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    ticks = 0
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        ticks += 1  # a pure-Python counter, which runs only while the GIL is free
    for t in threads:
        t.join()
    assert results == [graybmp.gray(image, "luminance") for image in images]
    assert ticks > 1000


def resident_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def test_many_conversions_and_refusals_keep_memory_flat(sample):
    data = sample.read_bytes()
    small = data[:54] + data[54:]
    broken = data[:100]
    for _ in range(2000):  # warm up the allocator
        graybmp.gray(small)
    before = resident_kib()
    for _ in range(100000):
        graybmp.gray(small)
    for _ in range(10000):
        try:
            graybmp.gray(broken)
        except graybmp.Error:
            pass
    assert resident_kib() - before < 2048
