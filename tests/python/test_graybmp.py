"""graybmp for Python: the tool's bytes by every way in, and Python's conventions."""
import errno
import io
import mmap
import os
import subprocess
import threading

import numpy
import pytest

import graybmp


def tool_copies(tool, paths, method, options, out):
    """The tool's gray copies of `paths` (of distinct names) in `out` with the command
    line's `options`, and its reason for each one it refused."""
    run = subprocess.run([tool, "-m", method, "-d", str(out)] + options + paths,
                         capture_output=True, text=True)
    assert run.returncode in (0, 1), run.stderr
    reasons = dict(line[len("graybmp: "):].split(": ", 1) for line in run.stderr.splitlines())
    # Another format's copy takes its extension.
    extension = {"raw": ".raw", "c": ".h", "xbm": ".xbm", "pbm": ".pbm", "pgm": ".pgm"}.get(
        options[options.index("--format") + 1] if "--format" in options else "bmp")
    name = (lambda p: os.path.splitext(os.path.basename(p))[0] + extension) if extension else os.path.basename
    copies = {p: (out / name(p)).read_bytes() for p in paths if p not in reasons}
    return copies, reasons


# The command line's options and the same as keywords.
OPTIONS = [([], {}), (["--compact"], {"compact": True}),
           (["--levels", "4", "--dither", "floyd-steinberg"], {"levels": 4, "dither": "floyd-steinberg"}),
           (["--depth", "2", "--dither", "ordered"], {"depth": 2, "dither": "ordered"}),
           (["--levels", "16", "--depth", "8", "--dither", "atkinson"],
            {"levels": 16, "depth": 8, "dither": "atkinson"}),
           (["--size", "9x7", "--fit", "cover", "--rotate", "90"], {"size": (9, 7), "fit": "cover", "rotate": 90}),
           (["--size", "x6", "--filter", "box", "--levels", "2", "--dither", "atkinson", "--no-auto-orient"],
            {"size": (None, 6), "filter": "box", "levels": 2, "dither": "atkinson", "auto_orient": False})]


@pytest.mark.parametrize("options", OPTIONS, ids=lambda o: " ".join(o[0]) or "plain")
@pytest.mark.parametrize("method", [m for m in graybmp.METHODS if "=" not in m] + ["weights=0.2,0.7,0.1"])
def test_gray_gives_the_tools_bytes_or_its_refusal(tool, fixtures, tmp_path, method, options, library_words):
    copies, reasons = tool_copies(tool, fixtures, method, options[0], tmp_path)
    assert copies, "the tool converted nothing"
    for path in fixtures:
        with open(path, "rb") as f:
            data = f.read()
        if path in copies:
            assert graybmp.gray(data, method, **options[1]) == copies[path], path
            continue
        with pytest.raises(graybmp.Error) as refused:
            graybmp.gray(data, method=method, **options[1])
        assert str(refused.value) == library_words(reasons[path]), path
        assert "--" not in str(refused.value), path
        assert refused.value.code not in ("ok", "unknown"), path


@pytest.mark.parametrize("levels,depth", [(2, 1), (3, 4), (16, 4), (4, 8), (255, 8)])
@pytest.mark.parametrize("dither", ["none", "ordered"])
@pytest.mark.parametrize("form", ["BMP", "PNG", "JPEG", "GIF", "WEBP", "PPM"])
def test_levels_read_back_in_pillow_as_their_grays(sample, levels, depth, dither, form):
    """Pillow decodes the input (the sample, or the sample saved by Pillow as a picture of
    another format) and the 1-, 4- and 8-bit outputs: each pixel the level nearest its mean
    gray (plus the Bayer offset, ordered), by the README's definitions."""
    from PIL import Image
    data = sample.read_bytes()
    if form != "BMP":
        with Image.open(io.BytesIO(data)) as image:
            saved = io.BytesIO()
            image.convert("RGB").save(saved, form, **({"lossless": True} if form == "WEBP" else {}))
        data = saved.getvalue()
        if graybmp.header(data).refusal is not None:
            assert graybmp.header(data).refusal.code == "picture-unsupported"
            pytest.skip(f"this build does not decode {form}")
    out = graybmp.gray(data, levels=levels, depth=depth, dither=dither)
    with Image.open(io.BytesIO(out)) as image:
        assert image.size == (37, 11) and image.mode in ("1", "P", "L")
        got = numpy.asarray(image.convert("L"), dtype=numpy.int64)
    with Image.open(io.BytesIO(data)) as image:
        rgb = numpy.asarray(image.convert("RGB"), dtype=numpy.int64)
    v = rgb.sum(axis=2) // 3
    n = levels
    if dither == "ordered":
        bayer = numpy.zeros((8, 8), dtype=numpy.int64)
        for size in (1, 2, 4):  # M2n = [[4Mn, 4Mn + 2], [4Mn + 3, 4Mn + 1]], lowest bits first
            y, x = numpy.indices((8, 8)) & size != 0
            bayer = 4 * bayer + numpy.where(y, numpy.where(x, 1, 3), numpy.where(x, 2, 0))
        assert list(bayer[0]) == [0, 32, 8, 40, 2, 34, 10, 42]
        rows, cols = numpy.indices(v.shape)
        v = v + ((2 * bayer[rows % 8, cols % 8] - 63) * 255 + 64 * (n - 1)) // (128 * (n - 1))
    k = numpy.clip((2 * v * (n - 1) + 255) // 510, 0, n - 1)
    assert (got == (510 * k + n - 1) // (2 * (n - 1))).all()


def buffers(path, data):
    """Every kind of writable buffer over the sample's bytes: the mmap over the file itself."""
    with open(path, "r+b") as f:
        view = mmap.mmap(f.fileno(), 0)
    array = numpy.frombuffer(bytearray(data), dtype=numpy.uint8)
    return [bytearray(data), memoryview(bytearray(data)), array, view]


def test_gray_and_gray_inplace_take_every_kind_of_buffer(sample):
    data = sample.read_bytes()
    expected = graybmp.gray(data, "luminance")
    assert expected != graybmp.gray(data)  # the method is used
    for buffer in buffers(sample, data):
        assert graybmp.gray(buffer, method="luminance") == expected
        graybmp.gray_inplace(buffer, "luminance")
        assert bytes(buffer) == expected, type(buffer)
    assert sample.read_bytes() == expected  # the mmap grayed the file


def test_convert_names_writes_and_refuses_as_the_tool(sample, tmp_path):
    expected = graybmp.gray(sample.read_bytes(), "red")
    assert graybmp.convert(sample, method="red") == str(tmp_path / "sNEW.bmp")
    assert (tmp_path / "sNEW.bmp").read_bytes() == expected
    (tmp_path / "..bmp").write_bytes(sample.read_bytes())
    assert graybmp.convert(str(tmp_path / "..bmp")) == str(tmp_path / ".NEW.bmp")
    target = tmp_path / "x.bmp"
    assert graybmp.convert(sample, target, method="red") == str(target)
    assert target.read_bytes() == expected
    assert graybmp.convert(sample, in_place=True, method="red") == str(sample)
    assert sample.read_bytes() == expected
    assert sorted(os.listdir(tmp_path)) == ["..bmp", ".NEW.bmp", "s.bmp", "sNEW.bmp", "x.bmp"]


def test_pictures_by_every_call_and_their_names(tmp_path):
    """A picture (a PPM, which every build decodes) through gray, to_array, convert and
    header: the bytes from_array gives for its pixels, top row first; a translucent PAM
    composited on a background by (c a + b (255 - a) + 127) div 255, refused without."""
    pixels = numpy.arange(5 * 3 * 3, dtype=numpy.uint8).reshape(3, 5, 3) * 5
    ppm = b"P6\n5 3\n255\n" + pixels.tobytes()
    assert graybmp.gray(ppm, levels=4, dither="atkinson") == graybmp.from_array(pixels, levels=4, dither="atkinson")
    assert (graybmp.to_array(ppm) == pixels.astype(numpy.int64).sum(axis=2) // 3).all()
    assert tuple(graybmp.header(ppm)) == ("netpbm file", len(ppm), 5, 3, 8 * 3, "netpbm", None)
    (tmp_path / "photo.ppm").write_bytes(ppm)
    assert graybmp.convert(tmp_path / "photo.ppm") == str(tmp_path / "photoNEW.bmp")
    assert (tmp_path / "photoNEW.bmp").read_bytes() == graybmp.gray(ppm)
    assert graybmp.header(tmp_path / "photo.ppm").type == "netpbm file"
    with pytest.raises(graybmp.Error) as refused:
        graybmp.convert(tmp_path / "photo.ppm", in_place=True)
    assert refused.value.code == "picture-unsupported"
    rgba = numpy.dstack([pixels, numpy.array([[0, 64, 128, 255, 1]] * 3, dtype=numpy.uint8)])
    pam = b"P7\nWIDTH 5\nHEIGHT 3\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" + rgba.tobytes()
    with pytest.raises(graybmp.Error) as refused:
        graybmp.gray(pam)
    assert refused.value.code == "translucent"
    for background, rgb in [("white", (255, 255, 255)), ("#336699", (0x33, 0x66, 0x99)), (0x102030, (16, 32, 48))]:
        a = rgba[:, :, 3:].astype(numpy.int64)
        on = (rgba[:, :, :3] * a + numpy.array(rgb) * (255 - a) + 127) // 255
        assert graybmp.gray(pam, background=background) == graybmp.from_array(on.astype(numpy.uint8)), background
        assert graybmp.from_array(rgba, background=background) == graybmp.from_array(on.astype(numpy.uint8))
    with pytest.raises(graybmp.Error) as refused:
        graybmp.gray(ppm, max_pixels=14)
    assert refused.value.code == "picture-too-large"
    for bad in ["grey", "#12345", "#12345g", -1, 1 << 24]:
        with pytest.raises(ValueError):
            graybmp.gray(ppm, background=bad)


def test_header_of_bytes_and_of_a_path_and_of_a_refused_file(sample, tmp_path):
    data = sample.read_bytes()
    h = graybmp.header(data)
    assert h == graybmp.header(sample) == graybmp.header(str(sample))
    assert tuple(h) == ("BMP file", len(data), 37, 11, 24, "true-colour", None)
    cut = tmp_path / "cut.bmp"
    cut.write_bytes(data[:100])
    refused = graybmp.header(cut)
    assert (refused.width, refused.kind, refused.refusal.code) == (37, None, "rows-do-not-fit")
    assert isinstance(refused.refusal, graybmp.Error)
    assert graybmp.header(b"XM" + data[2:]).type is None


def test_options_that_do_not_go_together_are_refused_alike_by_every_call(sample, tmp_path):
    """Each call refuses the same options with the library's one reason, which names no flag."""
    data = sample.read_bytes()
    array = numpy.zeros((3, 5), numpy.uint8)
    refused = [dict(levels=4, depth=1), dict(dither="ordered"), dict(levels=4, serpentine=True),
               dict(levels=4, dither="jarvis", strength=101), dict(levels=4, gamma=20),
               dict(levels=2, threshold=100, dither="floyd-steinberg"), dict(linear=True),
               dict(levels=4, input_range=(9, 9)), dict(levels=3, grays=(0, 255)), dict(levels=4, size=(0, 0))]
    calls = [lambda o: graybmp.gray(data, **o), lambda o: graybmp.header(data, **o),
             lambda o: graybmp.convert(sample, tmp_path / "o.bmp", **o), lambda o: graybmp.from_array(array, **o)]
    for options in refused:
        reasons = set()
        for call in calls:
            with pytest.raises(ValueError) as raised:
                call(options)
            reasons.add(str(raised.value))
        assert len(reasons) == 1, (options, reasons)
        assert "--" not in reasons.pop(), options
    assert sorted(os.listdir(tmp_path)) == ["s.bmp"]  # nothing written


def test_each_exception_type_and_what_it_carries(sample, tmp_path):
    data = sample.read_bytes()
    cut = bytearray(data[:-30])
    grows = subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(tmp_path / "g.bmp"), "5", "3"])
    short = bytearray((tmp_path / "g.bmp").read_bytes()[:-1])  # its copy would be longer
    missing, nowhere = tmp_path / "missing.bmp", tmp_path / "nowhere" / "x.bmp"
    cases = [  # the call, what it raises, and the code, errno and filename that must come with it
        (lambda: graybmp.gray("s.bmp"), TypeError, {}),
        (lambda: graybmp.gray(12), TypeError, {}),
        (lambda: graybmp.gray_inplace(data), TypeError, {}),
        (lambda: graybmp.gray_inplace(numpy.frombuffer(data, dtype=numpy.uint8)), TypeError, {}),
        (lambda: graybmp.gray(data, method="Mean"), ValueError, {}),
        (lambda: graybmp.gray(data, method="weights=-1,1,1"), ValueError, {}),
        (lambda: graybmp.gray(data, levels=1), ValueError, {}),
        (lambda: graybmp.gray(data, levels=4, depth=3), ValueError, {}),
        (lambda: graybmp.gray(data, levels=5, depth=2), ValueError, {}),
        (lambda: graybmp.gray(data, dither="ordered"), ValueError, {}),
        (lambda: graybmp.gray(data, levels=4, dither="blue"), ValueError, {}),
        (lambda: graybmp.gray(data, levels="4"), TypeError, {}),
        (lambda: graybmp.gray(data[:60] + b"\0" * 10, levels=4), graybmp.Error, {"code": "rows-do-not-fit"}),
        (lambda: graybmp.convert(sample, tmp_path / "y.bmp", in_place=True), ValueError, {}),
        (lambda: graybmp.header(data[:20]), graybmp.Error, {"code": "too-short"}),
        (lambda: graybmp.gray_inplace(cut), graybmp.Error, {"code": "rows-do-not-fit"}),
        (lambda: graybmp.gray_inplace(short), graybmp.Error, {"code": "length-changes"}),
        (lambda: graybmp.convert(sample, sample), graybmp.Error, {"code": "output-is-input"}),
        (lambda: graybmp.convert(missing), OSError, {"errno": errno.ENOENT, "filename": str(missing)}),
        (lambda: graybmp.convert(sample, nowhere), OSError,
         {"errno": errno.ENOENT, "filename": str(nowhere)}),
        (lambda: graybmp.convert(tmp_path), IsADirectoryError,
         {"errno": errno.EISDIR, "filename": str(tmp_path)}),
        (lambda: graybmp.convert(sample, tmp_path), IsADirectoryError,
         {"errno": errno.EISDIR, "filename": str(tmp_path)}),
    ]
    assert grows.returncode == 0
    before = (bytes(cut), bytes(short), data)
    for call, kind, carries in cases:
        with pytest.raises(kind) as raised:
            call()
        for name, value in carries.items():
            assert getattr(raised.value, name) == value, (kind, name)
    assert (bytes(cut), bytes(short), sample.read_bytes()) == before  # refused buffers as they were
    assert sorted(os.listdir(tmp_path)) == ["g.bmp", "s.bmp"]
    assert issubclass(graybmp.Error, Exception) and graybmp.Error.__module__ == "graybmp"
    assert graybmp.__version__ == "1.3.0" and "weights=R,G,B" in graybmp.METHODS
    assert graybmp.DITHERS == ("none", "floyd-steinberg", "atkinson", "ordered", "jarvis", "stucki", "burkes",
                               "sierra", "sierra2", "sierra-lite", "bayer2", "bayer4", "bayer16", "halftone", "blue-noise")


def test_the_kernels_options_as_the_tools(tool, sample, tmp_path):
    """serpentine= and strength= give the tool's --serpentine and --strength bytes; bayer8
    names ordered; the options that do not go together are ValueError."""
    data = sample.read_bytes()
    for dither, serpentine, strength in [("jarvis", True, 50), ("sierra-lite", False, 0), ("atkinson", True, 100),
                                         ("floyd-steinberg", False, 75)]:
        out = tmp_path / f"{dither}.bmp"
        args = [tool, "--levels", "3", "--dither", dither, "--strength", str(strength), str(sample), "-o", str(out)]
        subprocess.run(args + (["--serpentine"] if serpentine else []), check=True)
        assert graybmp.gray(data, levels=3, dither=dither, serpentine=serpentine, strength=strength) == \
            out.read_bytes(), dither
    assert graybmp.gray(data, levels=2, dither="bayer8") == graybmp.gray(data, levels=2, dither="ordered")
    for args, keywords in [(["--levels", "4", "--negate", "--input-range", "20,230"],
                            {"levels": 4, "negate": True, "input_range": (20, 230)}),
                           (["--levels", "3", "--grays", "30,100,220", "--dither", "burkes"],
                            {"levels": 3, "grays": [30, 100, 220], "dither": "burkes"}),
                           (["--threshold", "140"], {"threshold": 140}),
                           (["--levels", "2", "--normalize", "--gamma", "1.8", "--linear", "--dither", "blue-noise"],
                            {"levels": 2, "normalize": True, "gamma": 1.8, "linear": True, "dither": "blue-noise"}),
                           (["--levels", "4", "--gamma", "0.455", "--dither", "halftone"],
                            {"levels": 4, "gamma": 0.455, "dither": "halftone"})]:
        out = tmp_path / "tone.bmp"
        subprocess.run([tool, *args, str(sample), "-o", str(out)], check=True)
        assert graybmp.gray(data, **keywords) == out.read_bytes(), args
        assert (graybmp.to_array(data, **{k: v for k, v in keywords.items() if k not in ("levels", "dither", "grays", "linear")})
                .shape == (11, 37))
    assert graybmp.to_array(data, size=(9, 7), rotate=90).shape == (7, 9)
    assert graybmp.to_array(data, size=(5, 5), fit="cover", rotate="auto").shape == (5, 5)
    assert graybmp.to_array(data, size=20).shape == (6, 20)  # 37 x 11 by its aspect
    assert graybmp.to_array(data, rotate=270).shape == (37, 11)
    for bad in [{"fit": "cover"}, {"filter": "box"}, {"size": (0, 5)}, {"size": (70000, 5)}, {"size": 5, "fit": "fill"},
                {"size": 5, "filter": "cubic"}, {"rotate": 45}, {"rotate": "left"}]:
        with pytest.raises(ValueError):
            graybmp.to_array(data, **bad)
    for bad in [{"dither": "ordered", "serpentine": True}, {"dither": "none", "strength": 50},
                {"dither": "jarvis", "strength": 101}, {"dither": "bayer32"}, {"grays": [0, 0]},
                {"grays": [0, 300]}, {"input_range": (9, 9)}, {"threshold": 300}, {"threshold": 9, "dither": "jarvis"},
                {"gamma": 0.05}, {"gamma": 10.5}, {"gamma": 1.2345}, {"threshold": 9, "linear": True}]:
        with pytest.raises(ValueError):
            graybmp.gray(data, levels=2, **bad)


def test_the_gil_is_let_go_while_converting(tmp_path):
    images = []
    for k in range(4):  # about 12 MiB each
        subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(tmp_path / "big.bmp"), "4096",
                        str(1024 + k), "24"], check=True)
        images.append((tmp_path / "big.bmp").read_bytes())
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
    small = sample.read_bytes()
    broken = small[:100]
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


def test_formats_read_back_as_their_grays(tool, sample, tmp_path):
    """Pillow reads the PBM and PGM outputs as the levels' grays, the X bitmap's as their
    negation (Pillow takes a set bit for white, X11 and the firmware's drawXBitmap for the
    foreground, black on paper), and the BMPs
    laid out for strict readers (a full palette, either row order, white first) at 1, 4
    and 8 bits as the same picture; the keywords give the tool's bytes."""
    Image = pytest.importorskip("PIL.Image")
    data = sample.read_bytes()
    for keywords in [{"format": "pbm"}, {"format": "xbm", "name": "icon"}, {"format": "pgm", "levels": 5},
                     {"format": "pgm", "levels": 3, "dither": "floyd-steinberg"}]:
        levels = keywords.get("levels", 2)
        want = graybmp.to_array(data, levels=levels, dither=keywords.get("dither"))
        got = numpy.asarray(Image.open(io.BytesIO(graybmp.gray(data, **keywords))).convert("L"))
        assert (got == (255 - want if keywords["format"] == "xbm" else want)).all(), keywords
    for depth, levels in [(1, 2), (4, 11), (8, 200)]:
        want = graybmp.to_array(data, levels=levels, dither="ordered")
        for rows in ("top-down", "bottom-up"):
            for index_order in ("black-first", "white-first"):
                out = graybmp.gray(data, levels=levels, depth=depth, dither="ordered", full_palette=True, rows=rows,
                                   index_order=index_order)
                assert int.from_bytes(out[46:50], "little") == 1 << depth  # colours used
                assert (int.from_bytes(out[22:26], "little", signed=True) > 0) == (rows == "bottom-up")
                got = numpy.asarray(Image.open(io.BytesIO(out)).convert("L"))
                assert (got == want).all(), (depth, rows, index_order)
    for args, keywords in [(["--format", "c", "--name", "panel", "--levels", "2", "--packing", "pages"],
                            {"format": "c", "name": "panel", "levels": 2, "packing": "pages"}),
                           (["--format", "raw", "--levels", "4", "--depth", "2", "--bit-order", "lsb",
                             "--row-align", "4", "--rows", "bottom-up", "--index-order", "white-first"],
                            {"format": "raw", "levels": 4, "depth": 2, "bit_order": "lsb", "row_align": 4,
                             "rows": "bottom-up", "index_order": "white-first"})]:
        out = tmp_path / "out"
        subprocess.run([tool, *args, str(sample), "-o", str(out)], check=True)
        assert graybmp.gray(data, **keywords) == out.read_bytes(), args
    named = graybmp.convert(sample, format="c")
    assert named.endswith("sNEW.h") and "static const uint8_t sNEW[]" in open(named).read()
    for bad in [{"format": "tiff"}, {"format": "pbm", "levels": 3}, {"format": "raw", "packing": "pages", "levels": 4},
                {"bit_order": "lsb", "levels": 2}, {"format": "raw", "rows": "sideways"}]:
        with pytest.raises(ValueError):
            graybmp.gray(data, **bad)
