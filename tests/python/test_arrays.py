"""graybmp.to_array and graybmp.from_array: the pixels of the tool's levels output, and the
tool's output for a V4 BMP of the same pixels, built here."""
import os
import struct
import subprocess

import numpy
import pytest

import graybmp


def pixels_of(bmp):
    """The grays of an uncompressed 8-bit BMP with a palette, the top row first."""
    offset, = struct.unpack_from("<I", bmp, 10)
    width, height = struct.unpack_from("<ii", bmp, 18)
    palette = numpy.frombuffer(bmp, numpy.uint8, 4 * 256, 54).reshape(256, 4)[:, 0] \
        if offset >= 54 + 1024 else None
    count = (offset - 54) // 4
    levels = numpy.frombuffer(bmp, numpy.uint8, 4 * count, 54).reshape(count, 4)[:, 0] \
        if palette is None else palette
    stride = (width + 3) // 4 * 4
    rows = numpy.frombuffer(bmp, numpy.uint8, stride * abs(height), offset).reshape(abs(height), stride)
    rows = rows[:, :width]
    return levels[rows[::-1] if height > 0 else rows]


@pytest.mark.parametrize("method", [m for m in graybmp.METHODS if "=" not in m] + ["weights=0.2,0.7,0.1"])
def test_to_array_gives_the_pixels_of_the_tools_levels(tool, fixtures, tmp_path, method):
    for levels, dither in [(None, None), (4, "floyd-steinberg")]:
        options = ["--levels", str(levels or 256), "--depth", "8"] + (["--dither", dither] if dither else [])
        run = subprocess.run([tool, "-m", method, "-d", str(tmp_path)] + options + fixtures,
                             capture_output=True, text=True)
        refused = {line.split(": ")[1] for line in run.stderr.splitlines()}
        converted = 0
        for path in fixtures:
            data = open(path, "rb").read()
            if path in refused:
                with pytest.raises(graybmp.Error):
                    graybmp.to_array(data, method, levels, dither)
                continue
            want = pixels_of((tmp_path / path.rsplit("/", 1)[1]).read_bytes())
            got = graybmp.to_array(path, method, levels, dither)
            assert got.dtype == numpy.uint8 and got.flags.c_contiguous, path
            assert numpy.array_equal(got, want), (path, levels)
            converted += 1
        assert converted > 100


def test_to_array_of_a_large_image_and_of_its_file(tool, tmp_path):
    """An image whose levels take more than a MiB goes through the stream's way."""
    big = tmp_path / "big.bmp"
    subprocess.run([os.environ["GRAYBMP_SAMPLE"], str(big), "1500", "-800", "24"], check=True)
    subprocess.run([tool, "--levels", "16", "--depth", "8", "--dither", "ordered", str(big), "-o",
                    str(tmp_path / "out.bmp")], check=True)
    want = pixels_of((tmp_path / "out.bmp").read_bytes())
    got = graybmp.to_array(big, levels=16, dither="ordered")
    assert got.shape == (800, 1500) and numpy.array_equal(got, want)
    indices = graybmp.to_array(big.read_bytes(), levels=16, dither="ordered", indices=True)
    assert numpy.array_equal(indices * 17, want)


def v4_bmp(rgba, bottom_up):
    """A 32-bit BI_BITFIELDS BMP with a 108-byte V4 header of RGBA pixels, top row first."""
    height, width = rgba.shape[:2]
    bgra = rgba[:, :, [2, 1, 0, 3]]
    rows = bgra[::-1] if bottom_up else bgra
    header = struct.pack("<2sIHHI", b"BM", 122 + 4 * width * height, 0, 0, 122)
    info = struct.pack("<IiiHHIIiiII4I", 108, width, height if bottom_up else -height, 1, 32, 3,
                       4 * width * height, 0, 0, 0, 0, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
    info += b"\0" * (108 - len(info))
    return header + info + numpy.ascontiguousarray(rows).tobytes()


@pytest.mark.parametrize("layout", ["gray", "rgb", "bgr", "rgba", "bgra", "sliced rgb", "columns",
                                    "reversed rows", "reversed columns", "one reversed row",
                                    "reversed gray"])
@pytest.mark.parametrize("options", [{}, {"levels": 2, "dither": "atkinson"},
                                     {"levels": 4, "depth": 2, "dither": "ordered", "bottom_up": True}])
def test_from_array_gives_the_tools_bytes_for_the_same_pixels(tool, tmp_path, layout, options):
    generator = numpy.random.default_rng(7)
    rgb = generator.integers(0, 256, (13, 11, 3), dtype=numpy.uint8)
    opaque = numpy.full((13, 11, 1), 255, numpy.uint8)
    channels = "bgr" if layout.startswith("bgr") else "rgb"
    array = {"gray": rgb[:, :, 0], "rgb": rgb, "bgr": rgb[:, :, ::-1].copy(),
             "rgba": numpy.concatenate([rgb, opaque], axis=2),
             "bgra": numpy.concatenate([rgb[:, :, ::-1], opaque], axis=2),
             "sliced rgb": numpy.repeat(rgb, 2, axis=0)[::2],       # rows two apart
             "columns": numpy.repeat(rgb, 2, axis=1)[:, ::2],  # pixels two apart
             "reversed rows": rgb[::-1], "reversed columns": rgb[:, ::-1],
             # C-contiguous to numpy, with a negative row stride
             "one reversed row": rgb[::-1][:1], "reversed gray": rgb[::-1, ::-1, 1]}[layout]
    pixels = numpy.stack([array] * 3, axis=2) if array.ndim == 2 else array
    opaque = numpy.full(pixels.shape[:2] + (1,), 255, numpy.uint8)
    rgba = numpy.concatenate([pixels[:, :, [2, 1, 0] if channels == "bgr" else [0, 1, 2]], opaque], axis=2)
    (tmp_path / "v4.bmp").write_bytes(v4_bmp(rgba, options.get("bottom_up", False)))
    args = ["--levels", str(options.get("levels", 256))]
    args += ["--depth", str(options["depth"])] if "depth" in options else []
    args += ["--dither", options["dither"]] if "dither" in options else []
    subprocess.run([tool, "-m", "bt709", *args, str(tmp_path / "v4.bmp"), "-o", str(tmp_path / "out.bmp")],
                   check=True)
    got = graybmp.from_array(array, "bt709", channels=channels, **options)
    assert got == (tmp_path / "out.bmp").read_bytes()


def test_array_errors():
    rgb = numpy.zeros((4, 5, 3), numpy.uint8)
    translucent = numpy.full((4, 5, 4), 255, numpy.uint8)
    translucent[3, 4, 3] = 254
    cases = [
        (lambda: graybmp.from_array(rgb.astype(numpy.uint16)), TypeError),
        (lambda: graybmp.from_array(numpy.zeros((4,), numpy.uint8)), ValueError),
        (lambda: graybmp.from_array(numpy.zeros((4, 5, 2), numpy.uint8)), ValueError),
        (lambda: graybmp.from_array(numpy.zeros((0, 5, 3), numpy.uint8)), ValueError),
        (lambda: graybmp.from_array(rgb, channels="rbg"), ValueError),
        (lambda: graybmp.from_array(rgb, levels=300), ValueError),
        (lambda: graybmp.to_array(b"BM" + b"\0" * 10), graybmp.Error),
    ]
    for call, kind in cases:
        with pytest.raises(kind):
            call()
    for call in (lambda: graybmp.from_array(translucent), lambda: graybmp.to_array(v4_bmp(translucent, True))):
        with pytest.raises(graybmp.Error) as refused:
            call()
        assert refused.value.code == "translucent"
