"""graybmp: the gray copy of a BMP image, changing nothing in it but its colours.

Every header byte is kept and the file keeps its own encoding (depth, compression, masks,
padding); only the colours change, by one of the methods in METHODS. The work is done by
the graybmp C library, with the GIL let go, on any object with the buffer protocol
(bytes, bytearray, memoryview, mmap, a contiguous numpy uint8 array) without a copy.

    >>> import graybmp
    >>> gray = graybmp.gray(open("photo.bmp", "rb").read(), method="bt709")
    >>> graybmp.convert("photo.bmp")          # writes photoNEW.bmp beside it
    'photoNEW.bmp'
"""

import os
from typing import NamedTuple, Optional, Union

from . import _graybmp
from ._graybmp import DITHERS, METHODS, Error, __version__

__all__ = ["gray", "gray_inplace", "convert", "header", "Header", "Error", "METHODS",
           "DITHERS", "__version__"]

_Path = Union[str, "os.PathLike[str]"]


class Header(NamedTuple):
    """What the header says, as the tool's report prints it, and what a conversion does.

    type is "BMP file" for a "BM" signature, else None; size, width, height and bit_count
    are the report's numbers; kind is "indexed8", "palettized", "true-colour", "rle24" or
    "array" (None when refused); refusal is the Error a conversion would raise, or None.
    """

    type: Optional[str]
    size: int
    width: int
    height: int
    bit_count: int
    kind: Optional[str]
    refusal: Optional[Error]


def gray(data, method: str = "mean", compact: bool = False, *, levels: Optional[int] = None,
         depth: Optional[int] = None, dither: Optional[str] = None) -> bytes:
    """Return the gray copy of the BMP image in `data`.

    `data` is any object with the buffer protocol, read without a copy; bytes are always
    data, never a file's name. `method` is one of METHODS ("weights=R,G,B" with its
    weights); `compact` writes true colour as an 8-bit gray BMP. `levels` (2 to 256)
    writes an uncompressed gray BMP of that many levels instead, `depth` (1, 2, 4 or 8)
    its bits a pixel (alone: 2**depth levels), `dither` one of DITHERS below 256 levels;
    the README states them exactly. Raises Error when the image is refused (code
    "levels-kind", "translucent", ...), ValueError for an unknown method or dithering or
    options that do not go together, TypeError for a non-buffer.
    """
    return _graybmp.gray(data, method, compact, levels, depth, dither)


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
            depth: Optional[int] = None, dither: Optional[str] = None) -> str:
    """Convert the file `src` into `dst` and return the path written.

    `dst` defaults to the gray copy's name beside `src` ("photo.bmp" gives
    "photoNEW.bmp"); `in_place` replaces `src` itself (and takes no `dst`). The copy is
    written under a temporary name and renamed over `dst` only when complete, so an
    earlier output survives any failure; an output that is the input itself is Error,
    code "output-is-input". OSError (errno, filename) when a file cannot be opened, read
    or written. `levels`, `depth` and `dither` as for gray().
    """
    source = os.fspath(src)
    if in_place:
        if dst is not None:
            raise ValueError("in_place takes no dst")
        _graybmp.convert_file(source, "", method, compact, True, levels, depth, dither)
        return source
    target = _graybmp.gray_name(source) if dst is None else os.fspath(dst)
    _graybmp.convert_file(source, target, method, compact, False, levels, depth, dither)
    return target


def header(data, *, compact: bool = False, levels: Optional[int] = None,
           depth: Optional[int] = None, dither: Optional[str] = None) -> Header:
    """Return the Header of a BMP: of a buffer's bytes, or of a file by its path.

    Only an input too short for the report's fields raises (Error, code "too-short");
    a refused image has its refusal in the Header: the refusal of a conversion with
    `compact`, `levels`, `depth` and `dither` as given (as for gray()).
    """
    options = (compact, levels, depth, dither)
    if isinstance(data, (str, os.PathLike)):
        with open(os.fspath(data), "rb") as f:
            lead = f.read(152)
            length = os.fstat(f.fileno()).st_size
        return Header(*_graybmp.header(lead, length, *options))
    view = memoryview(data)
    return Header(*_graybmp.header(view, view.nbytes, *options))
