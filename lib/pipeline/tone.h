// The tone stage: each gray through one table before the quantizer, the input range
// stretched to the full one and then negated (pipeline/levels.h has the definitions).
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

// What a source feeds: the stage, set up here, or `next` itself where the tone changes
// nothing.
RowTaker toneInto(ToneStage& stage, const Levels& levels, std::int64_t width, RowTaker next);

}  // namespace graybmp
