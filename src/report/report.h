// The header report: what graybmp found in the input's headers, one flushed line each.
#pragma once

#include <ostream>

#include "bitmap/bitmap.h"

namespace graybmp {

// "Type: BMP file" (only for a "BM" signature), then the size, width, height and bit
// count as decimal numbers, signed as the info header's fields are (an OS/2 1.x header's
// unsigned 16-bit width, height and bit count as they are). Each line is flushed as it
// is written.
void printHeaderReport(const BitmapHeaders& headers, std::ostream& out);

}  // namespace graybmp
