"""The graybmp library's conversions; the graybmp package wraps them."""
from typing import Any, Optional, Tuple

# Any object with the buffer protocol: bytes, bytearray, memoryview, mmap, numpy arrays.
_Buffer = Any

__version__: str
METHODS: Tuple[str, ...]
DITHERS: Tuple[str, ...]

class Error(Exception):
    code: str

def gray(data: _Buffer, method: str = ..., compact: bool = ..., levels: Optional[int] = ...,
         depth: Optional[int] = ..., dither: Optional[str] = ...) -> bytes: ...
def gray_inplace(buffer: _Buffer, method: str = ...) -> None: ...
def convert_file(src: str, dst: str, method: str, compact: bool, in_place: bool,
                 levels: Optional[int] = ..., depth: Optional[int] = ...,
                 dither: Optional[str] = ...) -> None: ...
def header(data: _Buffer, length: int, compact: bool = ..., levels: Optional[int] = ...,
           depth: Optional[int] = ..., dither: Optional[str] = ...
           ) -> Tuple[Optional[str], int, int, int, int, Optional[str], Optional[Error]]: ...
def gray_name(input: str) -> str: ...
def to_array(data: _Buffer, method: str, levels: Optional[int], dither: Optional[str],
             indices: bool) -> Any: ...
def from_pixels(array: _Buffer, width: int, height: int, stride: int, layout: int,
                bottom_up: bool, method: str, levels: Optional[int], depth: Optional[int],
                dither: Optional[str]) -> bytes: ...
