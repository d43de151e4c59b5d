// The tone stage: each gray through one table before the quantizer: the input range
// stretched to the full one, then the picture's own range (found by a first pass), the
// gamma, the negation (pipeline/levels.h has the definitions).
#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/levels.h"
#include "pipeline/rows.h"

namespace graybmp {

struct ToneStage {
    std::uint8_t table[256];
    std::vector<std::uint8_t> row;
    RowTaker next;
};

// The gray g' of g by the levels' tone.
std::uint8_t toneOf(const Levels& levels, int g);

// 255 (g / 255)^(1 / G) to nearest, halves up, G in thousandths (decided exactly).
int gammaOf(int g, int thousandths);

// The normalized range of a picture from the histogram of its grays (before the tone),
// into levels.normalBlack and normalWhite.
void normalRange(Levels& levels, const std::uint64_t (&histogram)[256]);

// What a source feeds: the stage, set up here, or `next` itself where the tone changes
// nothing.
RowTaker toneInto(ToneStage& stage, const Levels& levels, std::int64_t width, RowTaker next);

}  // namespace graybmp
