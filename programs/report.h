// The header report: what graybmp found in the input's headers, one flushed line each.
#pragma once

#include <ostream>

#include "graybmp.h"

namespace graybmp {

// "Type: BMP file" (only for a "BM" signature), then the size, width, height and bit
// count as decimal numbers, as the library decodes them. Each line is flushed as it is
// written.
void printHeaderReport(const graybmp_header& header, std::ostream& out);

}  // namespace graybmp
