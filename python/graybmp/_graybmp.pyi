"""The graybmp library's conversions; the graybmp package wraps them."""
from typing import Any, Dict, Optional, Tuple, Union

# Any object with the buffer protocol: bytes, bytearray, memoryview, mmap, numpy arrays.
_Buffer = Any
# A background: "white", "black", "#RRGGBB" or 0xRRGGBB.
_Colour = Union[str, int]
# The tone: {"input_range": (black, white), "normalize": bool, "gamma": thousandths, "negate": bool,
#            "grays": [...], "threshold": T, "linear": bool}.
_Tone = Optional[Dict[str, Any]]

__version__: str
METHODS: Tuple[str, ...]
DITHERS: Tuple[str, ...]

class Error(Exception):
    code: str

def gray(data: _Buffer, method: str = ..., compact: bool = ..., levels: Optional[int] = ...,
         depth: Optional[int] = ..., dither: Optional[str] = ..., background: Optional[_Colour] = ...,
         max_pixels: Optional[int] = ..., serpentine: Optional[bool] = ..., strength: Optional[int] = ...,
         tone: _Tone = ...) -> bytes: ...
def gray_inplace(buffer: _Buffer, method: str = ...) -> None: ...
def convert_file(src: str, dst: str, method: str, compact: bool, in_place: bool,
                 levels: Optional[int] = ..., depth: Optional[int] = ...,
                 dither: Optional[str] = ..., background: Optional[_Colour] = ...,
                 max_pixels: Optional[int] = ..., serpentine: Optional[bool] = ...,
                 strength: Optional[int] = ..., tone: _Tone = ...) -> None: ...
def header(data: _Buffer, length: int, compact: bool = ..., levels: Optional[int] = ...,
           depth: Optional[int] = ..., dither: Optional[str] = ..., background: Optional[_Colour] = ...,
           max_pixels: Optional[int] = ..., serpentine: Optional[bool] = ..., strength: Optional[int] = ...,
           tone: _Tone = ...) -> Tuple[Optional[str], int, int, int, int, Optional[str], Optional[Error]]: ...
def gray_name(input: str, extension: Optional[str] = ...) -> str: ...
def picture_kind(data: _Buffer) -> Optional[str]: ...
def to_array(data: _Buffer, method: str, levels: Optional[int], dither: Optional[str],
             indices: bool, background: Optional[_Colour] = ..., max_pixels: Optional[int] = ...,
             serpentine: Optional[bool] = ..., strength: Optional[int] = ..., tone: _Tone = ...) -> Any: ...
def from_pixels(array: _Buffer, width: int, height: int, stride: int, layout: int,
                bottom_up: bool, method: str, levels: Optional[int], depth: Optional[int],
                dither: Optional[str], background: Optional[_Colour] = ..., serpentine: Optional[bool] = ...,
                strength: Optional[int] = ..., tone: _Tone = ...) -> bytes: ...
