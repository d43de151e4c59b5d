// What the API's files share beyond failures.
#pragma once

#include <cstddef>

#include "graybmp.h"

namespace graybmp {

// The pixels of a true-colour image in memory at 256 levels, undithered (`options` as
// graybmp_pixels makes them): each row's grays straight into `pixels`, the top row
// first, `stride` bytes apart, which take them all. The input's refusal, or
// GRAYBMP_TRANSLUCENT; GRAYBMP_BAD_ARGUMENT for any other kind or levels.
graybmp_status compactPixels(const void* input, std::size_t length, const graybmp_options* options,
                             unsigned char* pixels, std::size_t stride, graybmp_error* error);

}  // namespace graybmp
