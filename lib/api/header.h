// The header report's fields of a lead, for the header call and the header hook.
#pragma once

#include <cstddef>
#include <cstdint>

#include "conversion/context.h"
#include "graybmp.h"

namespace graybmp {

// The report's fields from the first `leadSize` bytes (at least the header block); a
// bitmap array is described by its first bitmap.
void fillHeader(const std::uint8_t* lead, std::size_t leadSize, graybmp_header& header);

// The report's fields of a picture of another format that pictureChecked opened (or
// tried to: what its header showed), an input `fileSize` long (-1: not known).
void pictureHeader(const Conversion& c, std::int64_t fileSize, graybmp_header& header);

}  // namespace graybmp
