"""graybmp: the gray copy of a BMP image, changing nothing in it but its colours, and gray
BMPs of PNG, JPEG, WebP, GIF and netpbm pictures.

Every header byte is kept and the file keeps its own encoding (depth, compression, masks,
padding); only the colours change, by one of the methods in METHODS. The work is done by
the graybmp C library, with the GIL let go, on any object with the buffer protocol
(bytes, bytearray, memoryview, mmap, a contiguous numpy uint8 array) without a copy.

    >>> import graybmp
    >>> gray = graybmp.gray(open("photo.bmp", "rb").read(), method="bt709")
    >>> graybmp.convert("photo.bmp")          # writes photoNEW.bmp beside it
    'photoNEW.bmp'
"""

import inspect
import os
from typing import NamedTuple, Optional, Sequence, Tuple, Union

from . import _graybmp
from ._graybmp import DITHERS, METHODS, Error, __version__

__all__ = ["gray", "gray_inplace", "convert", "header", "to_array", "from_array", "picture_kind", "Header",
           "Error", "METHODS", "DITHERS", "__version__"]

_Path = Union[str, "os.PathLike[str]"]


class Header(NamedTuple):
    """What the header says, as the tool's report prints it, and what a conversion does.

    type is "BMP file" for a "BM" signature, "PNG file", "JPEG file", "WebP file", "GIF
    file" or "netpbm file" for a picture, else None; size, width, height and bit_count are
    the report's numbers (a picture's size is the file's length, -1 when not known, and
    its bits a pixel as its format counts them); kind is "indexed8", "palettized",
    "true-colour", "rle24", "array", "png", "jpeg", "webp", "gif" or "netpbm" (None when
    refused); refusal is the Error a conversion would raise, or None.
    """

    type: Optional[str]
    size: int
    width: int
    height: int
    bit_count: int
    kind: Optional[str]
    refusal: Optional[Error]


_Colour = Union[str, int]
_Size = Union[None, int, Tuple[Optional[int], Optional[int]]]
_Turn = Union[None, int, str]
_Range = Optional[Tuple[int, int]]


def _tone(input_range, normalize, gamma, negate, grays, threshold, linear):
    """The tone's options for the extension, or None when none is given."""
    if (input_range is None and not normalize and gamma is None and not negate and grays is None
            and threshold is None and not linear):
        return None
    thousandths = None
    if gamma is not None:
        thousandths = round(gamma * 1000)
        if abs(gamma * 1000 - thousandths) > 1e-6 or not 100 <= thousandths <= 10000:
            raise ValueError(f"gamma is 0.1 to 10 with at most three decimals, not {gamma!r}")
    return {"input_range": input_range, "normalize": normalize, "gamma": thousandths, "negate": negate,
            "grays": grays, "threshold": threshold, "linear": linear}



_FORMATS = ("bmp", "raw", "c", "xbm", "pbm", "pgm")
_EXTENSIONS = {"bmp": ".bmp", "raw": ".raw", "c": ".h", "xbm": ".xbm", "pbm": ".pbm", "pgm": ".pgm"}


def _word(value, words, what):
    """The index of `value` among `words`, or ValueError."""
    if value not in words:
        raise ValueError(f"{what} is one of {', '.join(words)}, not {value!r}")
    return words.index(value)


_FITS = ("contain", "cover", "stretch")
_FILTERS = ("lanczos3", "mitchell", "box", "nearest")


def _fit(tone, size, fit, filter, rotate, auto_orient):
    """The tone's options with the fit's, or the tone's alone when no fit is given."""
    if size is None and fit is None and filter is None and rotate is None and auto_orient:
        return tone
    if size is None and (fit is not None or filter is not None):
        raise ValueError("fit and filter need a size")
    width, height = (size, None) if isinstance(size, int) or size is None else tuple(size)
    for side in (width, height):
        if side is not None and (not isinstance(side, int) or isinstance(side, bool) or not 1 <= side <= 65535):
            raise ValueError(f"a size is (width, height), each 1 to 65535 or None, not {size!r}")
    if rotate not in (None, 0, 90, 180, 270, "auto"):
        raise ValueError(f"rotate is 0, 90, 180, 270 or 'auto', not {rotate!r}")
    given = dict(tone or {})
    given.update({"fit_width": width or 0, "fit_height": height or 0,
                  "fit": 0 if fit is None else _word(fit, _FITS, "fit"),
                  "filter": 0 if filter is None else _word(filter, _FILTERS, "filter"),
                  "rotate": -1 if rotate == "auto" else rotate or 0, "no_auto_orient": 0 if auto_orient else 1})
    return given


def _options(tone, format, bit_order, packing, row_align, name, full_palette, rows, index_order):
    """The tone's options and the output's for the extension, or None when none is given."""
    if (format == "bmp" and bit_order is None and packing is None and row_align is None and name is None
            and not full_palette and rows is None and index_order is None):
        return tone
    given = dict(tone or {})
    given.update({"format": _word(format, _FORMATS, "format"),
                  "bit_order": 0 if bit_order is None else 1 + _word(bit_order, ("msb", "lsb"), "bit_order"),
                  "packing": 0 if packing is None else _word(packing, ("rows", "pages", "planes"), "packing"),
                  "row_align": row_align or 0, "name": name, "full_palette": bool(full_palette),
                  "rows": 0 if rows is None else 1 + _word(rows, ("top-down", "bottom-up"), "rows"),
                  "index_order": 0 if index_order is None else
                  _word(index_order, ("black-first", "white-first"), "index_order")})
    return given


def _gray(data, method: str = "mean", compact: bool = False, *, levels: Optional[int] = None,
         depth: Optional[int] = None, dither: Optional[str] = None,
         background: Optional[_Colour] = None, max_pixels: Optional[int] = None,
         serpentine: bool = False, strength: Optional[int] = None,
         input_range: _Range = None, normalize: bool = False,
         gamma: Optional[float] = None, negate: bool = False, grays: Optional[Sequence[int]] = None,
         threshold: Optional[int] = None, linear: bool = False,
         format: str = "bmp", bit_order: Optional[str] = None,
         packing: Optional[str] = None, row_align: Optional[int] = None, name: Optional[str] = None,
         full_palette: bool = False, rows: Optional[str] = None, index_order: Optional[str] = None,
         size: _Size = None, fit: Optional[str] = None, filter: Optional[str] = None,
         rotate: _Turn = None, auto_orient: bool = True) -> bytes:
    """Return the gray copy of the BMP image in `data`, or the gray BMP of a picture.

    `data` is any object with the buffer protocol, read without a copy; bytes are always
    data, never a file's name. `method` is one of METHODS ("weights=R,G,B" with its
    weights); `compact` writes true colour as an 8-bit gray BMP. `levels` (2 to 256)
    writes an uncompressed gray BMP of that many levels instead, `depth` (1, 2, 4 or 8)
    its bits a pixel (alone: 2**depth levels), `dither` one of DITHERS below 256 levels;
    the README states them exactly. A PNG, JPEG, WebP, GIF or netpbm picture (known by its
    bytes) becomes a top-down gray BMP: 256 grays, or the levels. `background` ("white",
    "black", "#RRGGBB" or 0xRRGGBB) composites pixels that are not opaque instead of
    refusing them; `max_pixels` limits a picture's size (default 2**28); with an
    error-diffusion `dither`, `serpentine` runs every second row right to left and
    `strength` (0 to 100, default 100) diffuses that percent of each error; before the
    levels `input_range` (black, white) stretches those grays over 0 to 255 and `negate`
    turns g into 255 - g, `normalize` stretches the picture's own range first (0.5 % of the
    pixels clipped at each end) and `gamma` G (0.1 to 10, three decimals) maps g to
    255 (g / 255)^(1 / G); `grays` are the grays the panel shows for the levels, which
    quantizing aims at; `threshold` T makes two levels, white where g >= T; `linear`
    quantizes and dithers in linear light. `format` writes the levels as "bmp" (the
    default), "raw" (the packed indices, no header), "c" (a C header of them), "xbm", "pbm"
    or "pgm"; for raw and c, `bit_order` ("msb", "lsb"), `packing` ("rows", "pages",
    "planes") and `row_align` (1, 2 or 4); `name` the c or xbm array's; for bmp
    `full_palette`; for bmp, raw and c `rows` ("top-down", "bottom-up") and `index_order`
    ("black-first", "white-first"). `size` (width, height) fits the picture to that size
    (a side None, or an int for the width alone: that side, the other by the aspect) by
    `fit` ("contain", the default, padded with `background` or white; "cover", cropped;
    "stretch"), scaled in linear light by `filter` ("lanczos3", the default, "mitchell",
    "box", "nearest"); `rotate` (90, 180, 270 clockwise, or "auto") turns it, after its
    orientation tag unless `auto_orient` is False; docs/fit.md states each weight. Raises
    Error when
    the image is refused (code "levels-kind", "translucent", "picture-corrupt", ...),
    ValueError for an unknown method or dithering or options that do not go together,
    TypeError for a non-buffer.
    """
    return _graybmp.gray(data, method, compact, levels, depth, dither, background, max_pixels,
                         serpentine, strength, _options(_fit(_tone(input_range, normalize, gamma, negate, grays, threshold, linear),
                             size, fit, filter, rotate, auto_orient),
                        format, bit_order, packing, row_align, name, full_palette, rows, index_order))


# The options the extension takes as they are given, without tone, fit or output.
_PLAIN = frozenset(("levels", "depth", "dither", "background", "max_pixels", "serpentine", "strength"))


def gray(data, method="mean", compact=False, **options):
    # The plain call, and one with the levels' options alone, straight to the extension;
    # any other option through _gray, whose signature and docstring this one shows.
    if not options:
        return _graybmp.gray(data, method, compact, None, None, None, None, None, None, None, None)
    if options.keys() <= _PLAIN:
        get = options.get
        return _graybmp.gray(data, method, compact, get("levels"), get("depth"), get("dither"), get("background"),
                             get("max_pixels"), get("serpentine"), get("strength"), None)
    return _gray(data, method, compact, **options)


def _shown_as(function, full):
    """`function` shown with the signature, name and docstring of `full`."""
    function.__signature__ = inspect.signature(full)
    function.__doc__ = full.__doc__
    full.__name__, full.__qualname__ = function.__name__, function.__qualname__
    return function


_shown_as(gray, _gray)


def gray_inplace(buffer, method: str = "mean") -> None:
    """Gray the BMP image in the writable `buffer` where it lies.

    Allowed when the gray copy is as long as the input (an uncompressed 8-bit image whose
    rows lack their padding grows: Error, code "length-changes"). Every check comes before
    the first byte changes: on Error the buffer is as it was. TypeError for a read-only
    buffer.
    """
    _graybmp.gray_inplace(buffer, method)


def convert(src: _Path, dst: Optional[_Path] = None, *, method: str = "mean",
            compact: bool = False, in_place: bool = False, levels: Optional[int] = None,
            depth: Optional[int] = None, dither: Optional[str] = None,
            background: Optional[_Colour] = None, max_pixels: Optional[int] = None,
            serpentine: bool = False, strength: Optional[int] = None, input_range: _Range = None,
            normalize: bool = False,
            gamma: Optional[float] = None, negate: bool = False, grays: Optional[Sequence[int]] = None,
            threshold: Optional[int] = None, linear: bool = False,
            format: str = "bmp", bit_order: Optional[str] = None,
            packing: Optional[str] = None, row_align: Optional[int] = None, name: Optional[str] = None,
            full_palette: bool = False, rows: Optional[str] = None, index_order: Optional[str] = None,
         size: _Size = None, fit: Optional[str] = None, filter: Optional[str] = None,
         rotate: _Turn = None, auto_orient: bool = True) -> str:
    """Convert the file `src` into `dst` and return the path written.

    `dst` defaults to the gray copy's name beside `src` ("photo.bmp" gives
    "photoNEW.bmp", and a picture's "photo.jpg" too); `in_place` replaces `src` itself
    (and takes no `dst`; a picture cannot be replaced so: Error, code
    "picture-unsupported"). The copy is
    written under a temporary name and renamed over `dst` only when complete, so an
    earlier output survives any failure; an output that is the input itself is Error,
    code "output-is-input". OSError (errno, filename) when a file cannot be opened, read
    or written. The other options as for gray().
    """
    source = os.fspath(src)
    options = (levels, depth, dither, background, max_pixels, serpentine, strength,
               _options(_fit(_tone(input_range, normalize, gamma, negate, grays, threshold, linear),
                             size, fit, filter, rotate, auto_orient),
                        format, bit_order, packing, row_align, name, full_palette, rows, index_order))
    if in_place:
        if dst is not None:
            raise ValueError("in_place takes no dst")
        _graybmp.convert_file(source, "", method, compact, True, *options)
        return source
    if dst is None:
        try:
            with open(source, "rb") as f:
                picture = picture_kind(f.read(16)) is not None
        except OSError:
            picture = False  # the conversion says why it cannot be read
        extension = _EXTENSIONS[format] if format != "bmp" else ".bmp" if picture else None
        target = _graybmp.gray_name(source, extension)
    else:
        target = os.fspath(dst)
    _graybmp.convert_file(source, target, method, compact, False, *options)
    return target


def picture_kind(data) -> Optional[str]:
    """Return the picture format of a file's first bytes (a buffer's, 12 are enough):
    "png", "jpeg", "webp", "gif" or "netpbm", or None for anything else (a BMP among it).
    """
    return _graybmp.picture_kind(data)


def header(data, *, compact: bool = False, levels: Optional[int] = None,
           depth: Optional[int] = None, dither: Optional[str] = None,
           background: Optional[_Colour] = None, max_pixels: Optional[int] = None,
           serpentine: bool = False, strength: Optional[int] = None, input_range: _Range = None,
           normalize: bool = False,
           gamma: Optional[float] = None, negate: bool = False, grays: Optional[Sequence[int]] = None,
           threshold: Optional[int] = None, linear: bool = False,
           format: str = "bmp", bit_order: Optional[str] = None,
           packing: Optional[str] = None, row_align: Optional[int] = None, name: Optional[str] = None,
           full_palette: bool = False, rows: Optional[str] = None, index_order: Optional[str] = None,
         size: _Size = None, fit: Optional[str] = None, filter: Optional[str] = None,
         rotate: _Turn = None, auto_orient: bool = True) -> Header:
    """Return the Header of a BMP or a picture: of a buffer's bytes, or of a file by its path.

    Only an input too short for the report's fields raises (Error, code "too-short");
    a refused image has its refusal in the Header: the refusal of a conversion with the
    options as given (as for gray()). A picture's size may lie further in than the first
    152 bytes (a JPEG's behind its Exif and profile): a file's are read as far as needed.
    """
    options = (compact, levels, depth, dither, background, max_pixels, serpentine, strength,
               _options(_fit(_tone(input_range, normalize, gamma, negate, grays, threshold, linear),
                             size, fit, filter, rotate, auto_orient),
                        format, bit_order, packing, row_align, name, full_palette, rows, index_order))
    if isinstance(data, (str, os.PathLike)):
        with open(os.fspath(data), "rb") as f:
            length = os.fstat(f.fileno()).st_size
            lead = f.read(152)
            while True:
                try:
                    return Header(*_graybmp.header(lead, length, *options))
                except Error as e:
                    more = f.read(max(len(lead), 65536))
                    if e.code != "too-short" or not more:
                        raise
                    lead += more
    view = memoryview(data)
    return Header(*_graybmp.header(view, view.nbytes, *options))


_numpy_module = None


def _numpy():
    """numpy, imported at the first call that needs it (then kept: a call costs a lookup)."""
    global _numpy_module
    if _numpy_module is None:
        try:
            import numpy
        except ImportError as missing:
            raise ImportError("graybmp.to_array and graybmp.from_array need numpy "
                              "(Debian: python3-numpy)") from missing
        _numpy_module = numpy
    return _numpy_module


def _to_array(data_or_path, method: str = "mean", levels: Optional[int] = None,
             dither: Optional[str] = None, *, indices: bool = False,
             background: Optional[_Colour] = None, max_pixels: Optional[int] = None,
             serpentine: bool = False, strength: Optional[int] = None, input_range: _Range = None,
             normalize: bool = False,
             gamma: Optional[float] = None, negate: bool = False, grays: Optional[Sequence[int]] = None, threshold: Optional[int] = None, linear: bool = False,
             size: _Size = None, fit: Optional[str] = None, filter: Optional[str] = None,
             rotate: _Turn = None, auto_orient: bool = True):
    """Return the gray pixels of a BMP or a picture (a buffer's bytes, or a file by its path) as a numpy
    array of shape (height, width), dtype uint8, C-contiguous, the top row first.

    Each pixel is its gray by `method`; with `levels` (and `dither`) the gray of its level,
    or with `indices` the level's index: the pixels of the gray BMP gray(...,
    levels=levels, depth=8, dither=dither) writes. Written straight into the array's
    memory with the GIL let go. Raises Error for a refused image (as with levels), and
    ImportError without numpy.
    """
    if _numpy_module is None:
        _numpy()
    if isinstance(data_or_path, (str, os.PathLike)):
        with open(os.fspath(data_or_path), "rb") as f:
            data_or_path = f.read()
    return _graybmp.to_array(data_or_path, method, levels, dither, indices, background, max_pixels,
                             serpentine, strength, _fit(_tone(input_range, normalize, gamma, negate, grays, threshold, linear),
                                                       size, fit, filter, rotate, auto_orient))


def to_array(data_or_path, method="mean", levels=None, dither=None, **options):
    # As gray: the plain call of a buffer straight to the extension.
    if options or _numpy_module is None or isinstance(data_or_path, (str, os.PathLike)):
        return _to_array(data_or_path, method, levels, dither, **options)
    return _graybmp.to_array(data_or_path, method, levels, dither, False, None, None, None, None, None)


_shown_as(to_array, _to_array)


_LAYOUTS = {("gray", 1): 0, ("rgb", 3): 1, ("bgr", 3): 2, ("rgb", 4): 3, ("bgr", 4): 4}


def from_array(array, method: str = "mean", levels: Optional[int] = None,
               depth: Optional[int] = None, dither: Optional[str] = None, *,
               channels: str = "rgb", bottom_up: bool = False,
               background: Optional[_Colour] = None, serpentine: bool = False,
               strength: Optional[int] = None, input_range: _Range = None, normalize: bool = False,
               gamma: Optional[float] = None, negate: bool = False,
               grays: Optional[Sequence[int]] = None, threshold: Optional[int] = None, linear: bool = False,
               format: str = "bmp", bit_order: Optional[str] = None,
               packing: Optional[str] = None, row_align: Optional[int] = None, name: Optional[str] = None,
               full_palette: bool = False, rows: Optional[str] = None, index_order: Optional[str] = None,
         size: _Size = None, fit: Optional[str] = None, filter: Optional[str] = None,
         rotate: _Turn = None, auto_orient: bool = True) -> bytes:
    """Return a gray BMP of the pixels of a numpy array, as bytes.

    `array` has shape (h, w) (gray) or (h, w, 3 or 4), dtype uint8, any strides, the top
    row first; `channels` is "rgb" (RGB or RGBA) or "bgr" (BGR or BGRA, OpenCV's order).
    The output is the tool's with `levels` (256 when not given), `depth` and `dither` for
    a 32-bit V4 BMP of the same pixels, top-down, or bottom-up with `bottom_up` (then the
    rows, and the dithering, run from the bottom). TypeError for a dtype other than
    uint8; ValueError for another shape, a channel count other than 3 or 4, no pixels or
    unknown channels; Error (code "translucent") for a pixel whose alpha is below 255,
    unless `background` is given to composite it on (as for gray()).
    """
    numpy = _numpy()
    a = numpy.asarray(array)
    if a.dtype != numpy.uint8:
        raise TypeError(f"from_array takes uint8 pixels, not {a.dtype}")
    if a.ndim not in (2, 3) or (a.ndim == 3 and a.shape[2] not in (3, 4)):
        raise ValueError(f"from_array takes an array of shape (h, w) or (h, w, 3 or 4), not {a.shape}")
    if a.size == 0:
        raise ValueError(f"from_array takes at least one pixel, not an array of shape {a.shape}")
    if channels not in ("rgb", "bgr"):
        raise ValueError(f"channels is 'rgb' or 'bgr', not {channels!r}")
    count = 1 if a.ndim == 2 else a.shape[2]
    # Each row's pixels one after another, rows any positive distance apart; any other
    # strides (a reversed or broadcast view, even one numpy calls C-contiguous) are copied
    # into rows of their own, in the order asked.
    if a.strides[0] <= 0 or a.strides[1] != count or (a.ndim == 3 and a.strides[2] != 1):
        a = a.copy(order="C")
    layout = _LAYOUTS[("gray" if count == 1 else channels, count)]
    return _graybmp.from_pixels(a, a.shape[1], a.shape[0], a.strides[0], layout, bottom_up,
                                method, levels, depth, dither, background, serpentine, strength,
                                _options(_fit(_tone(input_range, normalize, gamma, negate, grays, threshold, linear),
                             size, fit, filter, rotate, auto_orient),
                        format, bit_order, packing, row_align, name, full_palette, rows, index_order))
