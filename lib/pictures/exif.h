// The one Exif field graybmp reads: the orientation (tag 0x0112 of the first IFD), from
// the TIFF structure a JPEG's APP1 segment, a PNG's eXIf chunk or a WebP's EXIF chunk
// holds ("Exif\0\0" before it or not). Every offset is checked against the block's end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace graybmp {

// The orientation, 1 to 8; 1 where the block holds none, or one out of range, or is
// not a TIFF structure at all.
int exifOrientation(const std::uint8_t* data, std::size_t size);

}  // namespace graybmp
